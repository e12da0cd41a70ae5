#pragma once
// Resolves a link found on a page against the address of the page it belongs to.

#include <QString>

#include <optional>

namespace norModule {

// link resolved against base by the standard rules for relative references, unsafe characters
// percent-encoded. "" for an empty base; base unchanged when the two cannot be combined.
QString combineUrl(const QString &base, const QString &link);

// The same, for a caller that only wants a result of at most maxLength characters: nullopt when
// the combined address is certainly longer, found without building it (resolving a chapter's whole
// text as an address is costly).
std::optional<QString> combineUrlWithin(const QString &base, const QString &link,
                                        qsizetype maxLength);

} // namespace norModule
