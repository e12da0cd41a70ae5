#include "net/httpclient.h"

#include "net/httprequest.h"

#include <curl/curl.h>

using namespace Qt::StringLiterals;

std::optional<QByteArray> ResponseHead::header(QByteArrayView name) const {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

HttpClient::HttpClient(TransferLimits limits)
    : m_limits(limits) {
    m_handle = webTransfer::newHandle();
    if (m_handle)
        m_multi = curl_multi_init();
}

HttpClient::~HttpClient() {
    if (m_request)
        curl_multi_remove_handle(m_multi, m_handle);
    m_request.reset();
    if (m_handle)
        curl_easy_cleanup(m_handle);
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

HttpResult HttpClient::get(const QString &url, const QString &cookie, HttpEvents *events,
                           const QByteArrayList &headers) {
    start(url, cookie, events, headers);
    return finish();
}

void HttpClient::start(const QString &url, const QString &cookie, HttpEvents *events,
                       const QByteArrayList &headers) {
    if (!m_multi || m_request)
        return;
    m_request = std::make_unique<HttpRequest>(m_handle, url, cookie, m_limits, events, m_origin,
                                              std::nullopt, headers);
    if (curl_multi_add_handle(m_multi, m_handle) != CURLM_OK) {
        m_request.reset();
        return;
    }
    // Connects, or on a kept connection sends the request at once.
    int running = 0;
    curl_multi_perform(m_multi, &running);
}

HttpResult HttpClient::finish() {
    if (!m_request) {
        HttpResult result;
        result.error = u"无法创建网络连接"_s;
        return result;
    }
    // The loop of curl_easy_perform: the sockets are waited for at most a second at a time, and
    // every turn lets the request's progress callback run.
    CURLcode code = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            code = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (running == 0) {
            int queued = 0;
            const CURLMsg *message = curl_multi_info_read(m_multi, &queued);
            code =
                message && message->msg == CURLMSG_DONE ? message->data.result : CURLE_RECV_ERROR;
            break;
        }
        curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
    }
    curl_multi_remove_handle(m_multi, m_handle);
    HttpResult result = m_request->finish(code);
    m_request.reset();
    return result;
}
