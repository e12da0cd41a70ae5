#include "net/retrypolicy.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace retryPolicy {

qint64 backoffMs(int attempt, double jitter) {
    // Past the sixth retry the doubling has long reached the cap; the shift stays small.
    const qint64 base = std::min(kMaxWaitMs, kFirstWaitMs << std::clamp(attempt - 1, 0, 6));
    return std::min(kMaxWaitMs, base + qint64(double(base) * std::clamp(jitter, 0.0, 1.0) / 4));
}

std::optional<qint64> retryAfterMs(const QByteArray &value, const QDateTime &now) {
    bool ok = false;
    const qint64 seconds = value.trimmed().toLongLong(&ok);
    if (ok)
        return seconds < 0 ? std::nullopt
                           : std::optional(std::min(seconds, kMaxWaitMs / 1000) * 1000);
    // An HTTP date ends in "GMT", which Qt's reading of RFC 2822 dates does not take.
    QString date = QString::fromLatin1(value.trimmed());
    if (date.endsWith(u" GMT"_s))
        date = date.chopped(3) + u"+0000"_s;
    const QDateTime when = QDateTime::fromString(date, Qt::RFC2822Date);
    if (!when.isValid())
        return std::nullopt;
    return std::max<qint64>(0, now.msecsTo(when));
}

bool siteInTrouble(const HttpResult &result) {
    return result.ok && (result.status == 429 || (result.status >= 500 && result.status <= 599));
}

qint64 waitBeforeRetry(int attempt, const HttpResult &result, double jitter, const QDateTime &now) {
    if (const auto header = result.head.header("Retry-After")) {
        // "Come back now" (0, or a date gone by) from a site that just failed would be a retry
        // at once, again and again: the first backoff is the least.
        if (const auto wait = retryAfterMs(*header, now))
            return std::clamp(*wait, kFirstWaitMs, kMaxWaitMs);
    }
    return backoffMs(attempt, jitter);
}

} // namespace retryPolicy
