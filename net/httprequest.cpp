#include "net/httprequest.h"

#include "net/addressguard.h"

using namespace Qt::StringLiterals;

namespace {

// Failures that say nothing about the page itself and may pass: the site refused or did not
// take the connection, dropped it before or during the body, or went quiet for too long.
bool transientCode(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT: // the connect limit and the no-data limit alike
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return true;
    default:
        return false;
    }
}

// How much sooner than the whole-request limit a timeout may come and still be that limit's:
// libcurl's clock and the request's own start a moment apart.
constexpr qint64 kClockLeewayMs = 100;

// A busy or ailing site answers these; the same request may succeed later.
bool transientStatus(long status) {
    return status == 429 || (status >= 500 && status <= 599);
}

} // namespace

HttpRequest::HttpRequest(CURL *handle, const QString &url, const QString &cookie,
                         const TransferLimits &limits, HttpEvents *events, const QString &origin,
                         const std::optional<QByteArray> &form, const QByteArrayList &headers)
    : m_handle(handle)
    , m_events(events)
    , m_limits(limits) {
    m_clock.start();
    m_guard.publicOnly = !addressGuard::privateAllowedFor(origin);
    curl_easy_reset(handle);
    if (!cookie.isEmpty())
        m_headers =
            curl_slist_append(nullptr, QByteArray("cookie: " + cookie.toUtf8()).constData());
    webTransfer::prepare(handle, url.toUtf8(), limits, &m_guard);
    static constexpr QByteArrayView acceptEncoding = "accept-encoding:";
    for (const QByteArray &header : headers) {
        // curl sends the encodings asked for and decodes the body they come in.
        if (header.first(std::min(header.size(), acceptEncoding.size())).toLower() ==
            acceptEncoding)
            curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING,
                             header.mid(acceptEncoding.size()).trimmed().constData());
        else
            m_headers = curl_slist_append(m_headers, header.constData());
    }
    if (form) {
        // curl copies the body and sends it as a form; a redirect after it is followed with a GET,
        // as browsers do.
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(form->size()));
        curl_easy_setopt(handle, CURLOPT_COPYPOSTFIELDS, form->constData());
    } else {
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &HttpRequest::onHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &HttpRequest::onData);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &HttpRequest::onProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

HttpRequest::~HttpRequest() {
    // The handle outlives this object: it must not keep pointers to what is about to go.
    curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_RESOLVER_START_FUNCTION, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_RESOLVER_START_DATA, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_OPENSOCKETFUNCTION, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_OPENSOCKETDATA, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_PREREQFUNCTION, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_PREREQDATA, nullptr);
    curl_easy_setopt(m_handle, CURLOPT_NOPROGRESS, 1L);
    curl_slist_free_all(m_headers);
}

void HttpRequest::start() {
    if (m_started)
        return;
    m_started = true;
    curl_easy_getinfo(m_handle, CURLINFO_RESPONSE_CODE, &m_head.status);
    if (m_events)
        m_events->responseStarted(m_head);
}

size_t HttpRequest::onHeader(char *data, size_t size, size_t count, void *request) {
    auto *r = static_cast<HttpRequest *>(request);
    const size_t length = size * count;
    const QByteArrayView line = QByteArrayView(data, qsizetype(length)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new response begins (after a redirect or an interim answer): its headers count.
        r->m_head.headers.clear();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        r->m_head.headers.append({line.first(colon).trimmed().toByteArray(),
                                  line.sliced(colon + 1).trimmed().toByteArray()});
    }
    return length;
}

// Curl calls this at least once a second while a request runs, waiting or receiving.
int HttpRequest::onProgress(void *request, curl_off_t, curl_off_t received, curl_off_t,
                            curl_off_t) {
    return static_cast<HttpRequest *>(request)->keepWaiting(qint64(received)) ? 0 : 1;
}

bool HttpRequest::keepWaiting(qint64 received) {
    // A site that sends a byte now and then never trips the no-data limit; the average speed
    // over each stretch of slowSeconds must reach the least one.
    if (!m_window.isValid()) {
        m_window.start();
    } else if (m_window.elapsed() >= m_limits.slowSeconds * 1000) {
        if (received - m_windowStart < m_limits.minBytesPerSecond * m_limits.slowSeconds) {
            m_tooSlow = true;
            return false;
        }
        m_window.start();
        m_windowStart = received;
    }
    if (!m_events || m_events->keepWaiting())
        return true;
    m_abandoned = true;
    return false;
}

size_t HttpRequest::onData(char *data, size_t size, size_t count, void *request) {
    auto *r = static_cast<HttpRequest *>(request);
    const size_t length = size * count;
    // Curl hands over only the body of the response it stays with, so its first piece marks the
    // start of that response.
    r->start();
    if (r->m_body.size() + qsizetype(length) > HttpClient::kMaxBody) {
        r->m_tooLarge = true;
        return 0;
    }
    r->m_body.append(data, qsizetype(length));
    if (r->m_events)
        r->m_events->dataArrived(QByteArrayView(data, qsizetype(length)));
    return length;
}

HttpResult HttpRequest::finish(CURLcode code) {
    HttpResult result;
    if (m_abandoned) {
        result.abandoned = true;
        result.error = u"用户中断"_s;
        return result;
    }
    if (code != CURLE_OK) {
        // A refused address stays refused however often it is asked for.
        if (!m_guard.refused.isEmpty()) {
            result.error = addressGuard::refusalMessage(m_guard.refused);
            return result;
        }
        // The whole-request limit ends a request that was making progress all along: a page
        // that takes this long will take it again. The connect and no-data limits give the same
        // code, but sooner.
        if (code == CURLE_OPERATION_TIMEDOUT &&
            m_clock.elapsed() >= m_limits.totalSeconds * 1000 - kClockLeewayMs) {
            result.error = u"网页在 %1 秒内没有传完"_s.arg(m_limits.totalSeconds);
            return result;
        }
        result.transient = transientCode(code) && !m_tooLarge && !m_tooSlow;
        result.error = m_tooLarge ? u"网页过大"_s
                       : m_tooSlow
                           ? u"传输过慢：%1 秒内平均每秒不到 %2 字节"_s.arg(m_limits.slowSeconds)
                                 .arg(m_limits.minBytesPerSecond)
                       : m_errorText[0] ? QString::fromUtf8(m_errorText)
                                        : QString::fromUtf8(curl_easy_strerror(code));
        return result;
    }
    // A response without a body has not started yet.
    start();
    char *effective = nullptr;
    if (curl_easy_getinfo(m_handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        result.url = QString::fromUtf8(effective);
    result.ok = true;
    result.status = m_head.status;
    result.transient = transientStatus(m_head.status);
    result.head = std::move(m_head);
    result.body = std::move(m_body);
    return result;
}
