#pragma once
// The chapter step's reading of a short text capture as the address of the chapter's text.

#include <QString>

#include <optional>

namespace pipeline {

// The longest address tried for chapterUrl, in narrow (GBK) bytes: 20 more than chapterUrl.
qsizetype candidateLimit(const QString &chapterUrl);

// capture resolved against chapterUrl, when it is short enough to be the address of the chapter's
// text: at most candidateLimit in GBK bytes. nullopt for a longer one, found without resolving a
// whole chapter's text, and for an empty capture, which names no page but the chapter's own.
std::optional<QString> textAddress(const QString &chapterUrl, const QString &capture);

} // namespace pipeline
