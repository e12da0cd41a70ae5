#pragma once
// Opens a document or an address with the desktop's default handler.

#include <QString>

namespace norModule {

// target is a file path or an address; the outcome is not reported.
void shellOpen(const QString &target);

} // namespace norModule
