#include "pipeline/textaddress.h"

#include "pattern/combineurl.h"
#include "text/charset.h"

namespace pipeline {

qsizetype candidateLimit(const QString &chapterUrl) {
    return charset::narrowLength(chapterUrl) + 20;
}

std::optional<QString> textAddress(const QString &chapterUrl, const QString &capture) {
    if (capture.isEmpty())
        return std::nullopt;
    const qsizetype limit = candidateLimit(chapterUrl);
    auto candidate = norModule::combineUrlWithin(chapterUrl, capture, limit);
    if (!candidate || charset::narrowLength(*candidate) > limit)
        return std::nullopt;
    return candidate;
}

} // namespace pipeline
