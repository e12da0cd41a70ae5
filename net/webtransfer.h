#pragma once
// What every web request of the program shares, whichever libcurl handle makes it: the time
// limits, and the options that keep a request to web addresses and bounded in time.

#include <QString>

typedef void CURL;

// Limits of one request: seconds to connect, seconds without receiving anything, and the least
// average speed (bytes a second, measured over slowSeconds) of a response that trickles.
struct TransferLimits {
    long connectSeconds = 60;
    long idleSeconds = 30;
    long minBytesPerSecond = 100;
    long slowSeconds = 60;
};

namespace webTransfer {

// A new easy handle (libcurl initialised once per process); null when none can be made.
CURL *newHandle();

// Sets the address and the shared options on handle: http and https only (text taken from a
// page must never open local files or other services), redirects followed (at most 10), the
// limits of limits. Certificates are verified (against SSL_CERT_FILE or CURL_CA_BUNDLE when set),
// and the User-Agent and the proxy are requestProfile's.
void prepare(CURL *handle, const QByteArray &url, const TransferLimits &limits);

} // namespace webTransfer
