#include "net/httpclient.h"

#include <curl/curl.h>

using namespace Qt::StringLiterals;

std::optional<QByteArray> ResponseHead::header(QByteArrayView name) const {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

// The state of one request, reached from curl's callbacks.
struct HttpClient::Transfer {
    HttpEvents *events = nullptr;
    CURL *handle = nullptr;
    ResponseHead head;
    bool started = false;
    bool tooLarge = false;
    QByteArray body;

    void start() {
        if (started)
            return;
        started = true;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &head.status);
        if (events)
            events->responseStarted(head);
    }
};

size_t HttpClient::onHeader(char *data, size_t size, size_t count, void *transfer) {
    auto *t = static_cast<Transfer *>(transfer);
    const size_t length = size * count;
    const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new response begins (after a redirect or an interim answer): its headers count.
        t->head.headers.clear();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        t->head.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return length;
}

size_t HttpClient::onData(char *data, size_t size, size_t count, void *transfer) {
    auto *t = static_cast<Transfer *>(transfer);
    const size_t length = size * count;
    // Curl hands over only the body of the response it stays with, so its first piece marks the
    // start of that response.
    t->start();
    if (t->body.size() + qsizetype(length) > kMaxBody) {
        t->tooLarge = true;
        return 0;
    }
    t->body.append(data, qsizetype(length));
    if (t->events)
        t->events->dataArrived(QByteArrayView(data, qsizetype(length)));
    return length;
}

HttpClient::HttpClient(TransferLimits limits)
    : m_limits(limits) {
    m_handle = webTransfer::newHandle();
}

HttpClient::~HttpClient() {
    if (m_handle)
        curl_easy_cleanup(m_handle);
}

HttpResult HttpClient::get(const QString &url, const QString &cookie, HttpEvents *events) {
    HttpResult result;
    CURL *h = m_handle;
    if (!h) {
        result.error = u"无法创建网络连接"_s;
        return result;
    }
    curl_easy_reset(h);

    Transfer transfer;
    transfer.events = events;
    transfer.handle = h;
    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray address = url.toUtf8();
    curl_slist *headers = nullptr;
    if (!cookie.isEmpty())
        headers = curl_slist_append(headers, QByteArray("cookie: " + cookie.toUtf8()).constData());

    webTransfer::prepare(h, address, m_limits);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &HttpClient::onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HttpClient::onData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);

    const CURLcode code = curl_easy_perform(h);
    curl_slist_free_all(headers);
    if (code != CURLE_OK) {
        result.error = transfer.tooLarge ? u"网页过大"_s
                       : errorText[0]    ? QString::fromUtf8(errorText)
                                         : QString::fromUtf8(curl_easy_strerror(code));
        return result;
    }
    // A response without a body has not started yet.
    transfer.start();
    result.ok = true;
    result.body = std::move(transfer.body);
    return result;
}
