#pragma once
// Answers whether an address found in a chapter's text is worth requesting as a further page.

#include "net/webtransfer.h"

#include <QString>

namespace norModule {

// A real GET of candidate that stops as soon as the response headers have arrived: true when a
// response came, whatever its status. origin is the page the job answers for (its contents page),
// as HttpClient::setOrigin. A connection refused for its address is no response.
bool urlReachable(const QString &candidate, const QString &origin,
                  const TransferLimits &limits = {});

} // namespace norModule
