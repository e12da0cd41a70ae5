#pragma once
// Answers whether an address found in a chapter's text is worth requesting as a further page.

#include "net/webtransfer.h"

#include <QString>

namespace norModule {

// The longest candidate tried for reference, in narrow (GBK) bytes: 20 more than reference.
qsizetype candidateLimit(const QString &reference);

// False at once, without any traffic, when candidate is more than 20 bytes longer (in the
// system's narrow code page, GBK) than reference. Otherwise a real GET that stops as soon as the
// response headers have arrived: true when a response came, whatever its status. origin is the
// page the job answers for (its contents page), as HttpClient::setOrigin; when it is empty,
// reference stands in for it. A connection refused for its address is no response.
bool urlReachable(const QString &candidate, const QString &reference,
                  const TransferLimits &limits = {}, const QString &origin = QString());

} // namespace norModule
