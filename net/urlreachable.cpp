#include "net/urlreachable.h"

#include "net/addressguard.h"

#include <curl/curl.h>

#include <memory>

namespace norModule {

namespace {

// What the header callback learns about the response in hand.
struct HeaderState {
    CURL *handle = nullptr;
    bool hasLocation = false;
    bool arrived = false;
};

size_t onHeader(char *data, size_t size, size_t count, void *user) {
    auto *state = static_cast<HeaderState *>(user);
    const size_t length = size * count;
    const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
    if (line.startsWith("HTTP/")) {
        state->hasLocation = false;
    } else if (line.toLower().startsWith("location:")) {
        state->hasLocation = true;
    } else if (line.isEmpty()) {
        long code = 0;
        curl_easy_getinfo(state->handle, CURLINFO_RESPONSE_CODE, &code);
        const bool interim = code >= 100 && code < 200;
        const bool redirect = code >= 300 && code < 400 && state->hasLocation;
        if (!interim && !redirect) {
            // The response has begun; its body is not needed, so the transfer ends here.
            state->arrived = true;
            return 0;
        }
    }
    return length;
}

size_t discardBody(char *, size_t size, size_t count, void *) {
    return size * count;
}

} // namespace

bool urlReachable(const QString &candidate, const QString &origin, const TransferLimits &limits) {
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(webTransfer::newHandle(),
                                                                     &curl_easy_cleanup);
    if (!handle)
        return false;
    CURL *h = handle.get();
    HeaderState state;
    state.handle = h;
    // The candidate comes from a chapter's text: it may reach private addresses only when the
    // job's own pages come from there.
    ConnectGuard guard;
    guard.publicOnly = !addressGuard::privateAllowedFor(origin);
    webTransfer::prepare(h, candidate.toUtf8(), limits, &guard);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Kestrelon");
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &discardBody);
    const CURLcode rc = curl_easy_perform(h);
    return state.arrived || rc == CURLE_OK;
}

} // namespace norModule
