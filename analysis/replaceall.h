#pragma once
// One left-to-right pass that replaces every non-overlapping occurrence of a literal text, in
// time linear in the text (QString::replace moves the tail once per batch of hits, which grows
// quadratically on long texts with many hits).

#include <QString>

namespace norModule {

// Returns how many occurrences were replaced.
qsizetype replaceAll(QString &text, QStringView from, QStringView to,
                     Qt::CaseSensitivity cs = Qt::CaseSensitive);

} // namespace norModule
