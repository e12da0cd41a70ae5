#include "net/webtransfer.h"

#include "net/requestprofile.h"

#include <QFile>

#include <curl/curl.h>

#include <mutex>

namespace webTransfer {

CURL *newHandle() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return curl_easy_init();
}

void prepare(CURL *handle, const QByteArray &url, const TransferLimits &limits) {
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.idleSeconds);

    // The browser's identity, the one proxy and the trusted authorities of requestProfile.
    // (libcurl copies these strings.) An empty proxy means none, whatever the environment says:
    // the environment was read once, into requestProfile.
    const QByteArray agent = requestProfile::userAgent();
    if (!agent.isEmpty())
        curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(handle, CURLOPT_PROXY, requestProfile::proxyFor(url).toUtf8().constData());
    const QByteArray noProxy = requestProfile::proxy().noProxy.toUtf8();
    curl_easy_setopt(handle, CURLOPT_NOPROXY, noProxy.isEmpty() ? nullptr : noProxy.constData());
    const QByteArray authorities = QFile::encodeName(requestProfile::caBundle());
    if (!authorities.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, authorities.constData());
}

} // namespace webTransfer
