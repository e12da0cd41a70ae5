#pragma once
// The job's HTTP request object: one libcurl handle that lives as long as its owner and reuses
// its connections. A request is synchronous; its events (response started, data arrived) reach
// the caller while it runs, on the caller's thread. (ParallelClient runs several at once.)

#include "net/webtransfer.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

class HttpRequest;
typedef void CURLM;

// The status line's code and the header lines of the response whose body follows (the last one
// after redirects).
struct ResponseHead {
    long status = 0;
    QList<std::pair<QByteArray, QByteArray>> headers;

    // The first header of that name, letter case ignored; nullopt when the response lacks it.
    std::optional<QByteArray> header(QByteArrayView name) const;
};

class HttpEvents {
public:
    virtual ~HttpEvents() = default;
    virtual void responseStarted(const ResponseHead &head) = 0;
    virtual void dataArrived(QByteArrayView piece) = 0;
    // Called now and then while the request runs, also while it waits for a name, a connection
    // or the first byte; false gives the request up.
    virtual bool keepWaiting() { return true; }
};

struct HttpResult {
    bool ok = false;
    bool abandoned = false; // the caller's keepWaiting gave the request up
    // A failure that may pass when the request is made again: a refused or timed-out
    // connection, one cut before or during the body, the no-data limit, HTTP 429 and 5xx.
    bool transient = false;
    long status = 0;   // the final response's status code
    QString error;     // why the request failed, for the user
    ResponseHead head; // of the final response
    QByteArray body;
    QString url; // the address the final response came from, after redirects
};

class HttpClient {
public:
    // A body larger than this fails the request instead of exhausting memory.
    static constexpr qsizetype kMaxBody = qsizetype(256) << 20;

    explicit HttpClient(TransferLimits limits = {});
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // GET url, sending a "cookie" header (when cookie is not empty) and headers (as HttpRequest
    // takes them; a job's own requests send none). Redirects are followed
    // (at most 10), certificates verified, the proxy taken from the environment. events may be
    // null. The result holds the whole body, or ok false with the reason.
    HttpResult get(const QString &url, const QString &cookie, HttpEvents *events,
                   const QByteArrayList &headers = {});

    // get in two halves, so that the caller can work while the site answers: start sends the
    // request and returns, finish waits for the answer (the events arrive then) and gives the
    // result. Every start is followed by its finish before the next.
    void start(const QString &url, const QString &cookie, HttpEvents *events,
               const QByteArrayList &headers = {});
    HttpResult finish();

    const TransferLimits &limits() const { return m_limits; }

    // The page the requests from now on are made for, as a job's contents-page address. When its
    // host is public, every connection of every request must go to a public address: text from
    // a public site cannot make the program reach this machine or a private network. Empty (the
    // default) allows every address.
    void setOrigin(const QString &pageUrl) { m_origin = pageUrl; }
    const QString &origin() const { return m_origin; }

private:
    CURL *m_handle = nullptr;
    CURLM *m_multi = nullptr; // drives the one handle, as curl_easy_perform would
    std::unique_ptr<HttpRequest> m_request;
    TransferLimits m_limits;
    QString m_origin;
};
