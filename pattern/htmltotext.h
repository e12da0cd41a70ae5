#pragma once
// Turns an HTML fragment (a chapter's text block, a title, a name, a link) into plain text: a
// fixed sequence of literal and pattern replacements, not a parser.

#include <QString>

namespace norModule {

// Rewrites text in place: tabs become spaces, the bare paragraph and line-break tags become CR,
// every other tag goes, and the handful of entities found in book pages are decoded. The
// line-break tags and the entities are found with literalCase (the plug-in library matches them
// exactly); the tag pattern always ignores case.
void htmlToText(QString &text, Qt::CaseSensitivity literalCase = Qt::CaseInsensitive);

} // namespace norModule
