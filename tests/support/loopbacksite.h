#pragma once
// A web site on 127.0.0.1 for tests: cpp-httplib on an ephemeral port, in its own thread. Pages
// are added with serve() (or raw routes through server()) before start(); the site records the
// path and cookie header of every request it receives.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace httplib {
class Server;
}

namespace support {

// How one page is served.
struct Page {
    QByteArray body = {};
    QByteArray contentType = "text/html";
    bool gzip = false;               // compress the body
    QByteArray contentEncoding = {}; // the header's text; "gzip" when gzip is set and this is empty
    bool chunked = false;            // no Content-Length: the body comes in chunks
    qsizetype cutAfter = -1;         // announce the whole length, close after this many bytes
    QByteArray setCookie = {};       // a Set-Cookie header
    QByteArray requiredCookie = {};  // answer 403 unless the request's cookie header contains it
    int delayMs = 0;                 // wait this long before answering
    int failFirst = 0;               // the first this many requests are answered with failStatus
    int failStatus = 503;
    QByteArray retryAfter = {}; // a Retry-After header on those answers
};

struct SeenRequest {
    QString path;
    QString userAgent;
    bool fromBrowser = false; // made by the hidden browser, not by the program's own client
    bool hasCookie = false;
    QString cookie;
    qint64 atMs = 0; // when it arrived, on the site's own steady clock
};

class LoopbackSite {
public:
    LoopbackSite();
    ~LoopbackSite();
    LoopbackSite(const LoopbackSite &) = delete;
    LoopbackSite &operator=(const LoopbackSite &) = delete;

    httplib::Server &server() { return *m_server; }
    void serve(const QString &path, const Page &page);

    // Binds to a free port and serves until destroyed; false when no port could be bound.
    bool start();
    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by path; host replaces 127.0.0.1 when given.
    QString url(const QString &path, const QString &host = QString()) const;

    // Requests that reached the site, counted before any route runs.
    int requestCount() const { return m_requests.load(); }
    // The requests made by the program itself, not by its hidden browser, from the from-th on.
    QList<SeenRequest> clientRequests(qsizetype from = 0) const;
    // Every request, the browser's included.
    QList<SeenRequest> allRequests() const;
    QStringList clientPaths(qsizetype from = 0) const;

    // The most requests that pages added with serve() answered at the same time since the last
    // reset.
    int maxConcurrent() const { return m_maxActive.load(); }
    void resetConcurrency() { m_maxActive = 0; }

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<int> m_requests{0};
    std::atomic<int> m_active{0};
    std::atomic<int> m_maxActive{0};
    mutable std::mutex m_seenMutex;
    QList<SeenRequest> m_seen;
    int m_port = -1;
};

} // namespace support
