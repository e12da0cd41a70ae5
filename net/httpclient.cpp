#include "net/httpclient.h"

#include <QElapsedTimer>

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
    bool abandoned = false;
    bool tooSlow = false;
    TransferLimits limits;
    QElapsedTimer window;   // the stretch the average speed is measured over
    qint64 windowStart = 0; // bytes received when it began
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

namespace {

// Curl calls this at least once a second while a request runs, waiting or receiving.
int onProgress(void *transfer, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    return HttpClient::keepWaiting(transfer, qint64(received)) ? 0 : 1;
}

} // namespace

bool HttpClient::keepWaiting(void *transfer, qint64 received) {
    auto *t = static_cast<Transfer *>(transfer);
    // A site that sends a byte now and then never trips the no-data limit; the average speed
    // over each stretch of slowSeconds must reach the least one.
    if (!t->window.isValid()) {
        t->window.start();
    } else if (t->window.elapsed() >= t->limits.slowSeconds * 1000) {
        if (received - t->windowStart < t->limits.minBytesPerSecond * t->limits.slowSeconds) {
            t->tooSlow = true;
            return false;
        }
        t->window.start();
        t->windowStart = received;
    }
    if (!t->events || t->events->keepWaiting())
        return true;
    t->abandoned = true;
    return false;
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
    transfer.limits = m_limits;
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
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = curl_easy_perform(h);
    // The handle outlives this call: it must not keep pointers to what is about to go.
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    curl_slist_free_all(headers);
    if (transfer.abandoned) {
        result.abandoned = true;
        result.error = u"用户中断"_s;
        return result;
    }
    if (code != CURLE_OK) {
        result.error = transfer.tooLarge ? u"网页过大"_s
                       : transfer.tooSlow
                           ? u"传输过慢：%1 秒内平均每秒不到 %2 字节"_s.arg(m_limits.slowSeconds)
                                 .arg(m_limits.minBytesPerSecond)
                       : errorText[0] ? QString::fromUtf8(errorText)
                                      : QString::fromUtf8(curl_easy_strerror(code));
        return result;
    }
    // A response without a body has not started yet.
    transfer.start();
    result.ok = true;
    result.status = transfer.head.status;
    result.body = std::move(transfer.body);
    return result;
}
