#pragma once
// What every web request of the program shares, whichever libcurl handle makes it: the time
// limits, and the options that keep a request to web addresses, bounded in time and, for a page
// from a public site, away from this machine and private networks.

#include <QString>

typedef void CURL;

// Limits of one request: seconds to connect, seconds without receiving anything, the least
// average speed (bytes a second, measured over slowSeconds) of a response that trickles, and the
// longest a whole request may take, however steadily its page arrives.
struct TransferLimits {
    long connectSeconds = 60;
    long idleSeconds = 30;
    long minBytesPerSecond = 100;
    long slowSeconds = 60;
    long totalSeconds = 300;
};

// Where the connections of one request may go. With publicOnly, libcurl's callbacks check every
// connection as it is made (the address it is about to connect to, and the one it holds before
// a request is sent on it, redirects and reused connections included) and refuse a private
// address; the proxy's own address is allowed, and a request that travels through the proxy is
// judged by its host name alone. It must outlive the transfer.
struct ConnectGuard {
    bool publicOnly = false;
    QString refused; // the address a connection was refused to; "" while none was

    // Set by webTransfer::prepare.
    CURL *handle = nullptr;
    QString proxy; // the proxy the handle uses, "" for none
};

namespace webTransfer {

// A new easy handle (libcurl initialised once per process); null when none can be made.
CURL *newHandle();

// Sets the address and the shared options on handle: http and https only (text taken from a
// page must never open local files or other services), redirects followed (at most 10), the
// limits of limits. Certificates are verified (against SSL_CERT_FILE or CURL_CA_BUNDLE when set),
// and the User-Agent and the proxy are requestProfile's. guard, when not null, checks each
// connection of the request.
void prepare(CURL *handle, const QByteArray &url, const TransferLimits &limits,
             ConnectGuard *guard = nullptr);

} // namespace webTransfer
