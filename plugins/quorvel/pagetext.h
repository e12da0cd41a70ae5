#pragma once
// What Quorvel does to a page's text: collect the blocks a site rule finds, and turn HTML into
// text the plug-in's way, whose literal replacements respect letter case.

#include <QString>
#include <QStringList>

namespace quorvel {

// The wanted blocks of one rule: the first alternative with a match decides. With all false, the
// first value of its first match, converted to text. With all true, every match's value that has
// more than minimumLength characters, each after a CR LF ("<BR>" after it too when minimumLength
// is 0); a single match is kept, without the CR LF, only if it is long enough. "" when nothing
// matches and on any failure (an invalid alternative, one without a value placeholder). Lets the
// host's pending events run before each alternative and after each block.
QString collectMatches(const QString &text, const QStringList &patterns, bool all,
                       qint32 minimumLength);

// The program's HTML-to-text conversion with two differences: the line-end marks U+000E and
// U+000F become CRs first, and the tags and entities replaced literally are matched exactly, so
// "<BR>" is only removed as a tag and "&AMP;" stays.
void pluginHtmlToText(QString &text);

// The typesetting's cleanText, converting HTML with pluginHtmlToText.
QString pluginCleanText(const QString &text, bool html);

} // namespace quorvel
