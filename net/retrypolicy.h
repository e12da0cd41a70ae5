#pragma once
// How long to wait before a failed request is made again: 1 s, 2 s, 4 s … doubling with every
// retry, a little more at random so that clients turned away together do not all come back at
// once, and never more than 30 s. A site that says when to come back (Retry-After) is believed,
// up to the same cap, but never sooner than the first backoff.

#include "net/httpclient.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace retryPolicy {

inline constexpr qint64 kFirstWaitMs = 1000;
inline constexpr qint64 kMaxWaitMs = 30000;

// The wait before retry number attempt (from 1); jitter, from 0 to 1, adds up to a quarter.
qint64 backoffMs(int attempt, double jitter);

// A Retry-After value (seconds, or an HTTP date after now) in milliseconds; nullopt when it
// reads as neither.
std::optional<qint64> retryAfterMs(const QByteArray &value, const QDateTime &now);

// Whether result is the site saying it is overloaded or ailing (429, 5xx): the whole site is
// given room until the request is tried again, not just the one page.
bool siteInTrouble(const HttpResult &result);

// The wait before retry number attempt of the request that ended with result at now.
qint64 waitBeforeRetry(int attempt, const HttpResult &result, double jitter,
                       const QDateTime &now = QDateTime::currentDateTimeUtc());

} // namespace retryPolicy
