#pragma once
// Resolves a link found on a page against the address of the page it belongs to.

#include <QString>

namespace norModule {

// link resolved against base by the standard rules for relative references, unsafe characters
// percent-encoded. "" for an empty base; base unchanged when the two cannot be combined.
QString combineUrl(const QString &base, const QString &link);

} // namespace norModule
