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
};

struct SeenRequest {
    QString path;
    QString userAgent;
    bool hasCookie = false;
    QString cookie;
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
    // The requests made by the program itself, not by its hidden browser (which sends a user
    // agent), from the from-th on.
    QList<SeenRequest> clientRequests(qsizetype from = 0) const;
    QStringList clientPaths(qsizetype from = 0) const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<int> m_requests{0};
    mutable std::mutex m_seenMutex;
    QList<SeenRequest> m_seen;
    int m_port = -1;
};

} // namespace support
