#pragma once
// One left-to-right pass that replaces every non-overlapping occurrence of a literal text, in
// time linear in the text (QString::replace moves the tail once per batch of hits, which grows
// quadratically on long texts with many hits).

#include <QString>

namespace norModule {

// c with the letters A to Z made small; every other character as it is.
inline char16_t asciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
}

// Returns how many occurrences were replaced.
qsizetype replaceAll(QString &text, QStringView from, QStringView to,
                     Qt::CaseSensitivity cs = Qt::CaseSensitive);

} // namespace norModule
