#pragma once
// Small-chapter recognition: are two chapter names parts of one chapter?

#include <QString>

namespace norModule {

// True when name and previous, spaces removed, differ only within a stretch of at most two
// characters (or one is the beginning of the other). Letter case is ignored.
bool nearlySame(const QString &name, const QString &previous);

} // namespace norModule
