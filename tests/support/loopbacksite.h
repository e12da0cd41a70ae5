#pragma once
// A web site on 127.0.0.1 for tests: cpp-httplib on an ephemeral port, in its own thread. Pages
// are added with serve() (or raw routes through server()) before start(); the site records the
// path and cookie header of every request it receives.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
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
    bool gzip = false;              // compress the body, saying so in Content-Encoding
    bool chunked = false;           // no Content-Length: the body comes in chunks
    qsizetype cutAfter = -1;        // announce the whole length, close after this many bytes
    QByteArray setCookie = {};      // a Set-Cookie header
    QByteArray requiredCookie = {}; // answer 403 unless the request's cookie header contains it
    int delayMs = 0;                // wait this long before answering
    int failFirst = 0;              // the first this many requests are answered with failStatus
    int failStatus = 503;
    QByteArray retryAfter = {};              // a Retry-After header on those answers
    int trickleMs = 0;                       // send the body a byte at a time, this long apart
    std::function<void()> beforeAnswer = {}; // runs first, on the site's thread
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
    // Whether the program has asked for path yet, to be polled.
    std::function<bool()> asked(const QString &path) const {
        return [this, path] { return clientPaths().contains(path); };
    }

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

// The one shape of a test book, read by the demo site's rules (bookRules): a contents page titled
// title with the links 第1章 … 第n章 to 1.html … n.html (head: more markup for its <head>), and
// chapter pages with their text and, when next is given, the link to the chapter's next page. GBK.
QByteArray contentsPage(const QString &title, int chapters, const QString &head = {});
QByteArray chapterPage(const QString &text, const QString &next = {});
// "第1章的正文。" … "第n章的正文。"
QStringList chapterTexts(int chapters);
// Serves a book at /folder/: its contents page (served as contents says), and chapter c at c.html
// with texts[c - 1], served as page(c) says (a page without a body gets the chapter page).
void serveBook(LoopbackSite &site, const QString &folder, const QString &title,
               const QStringList &texts, const std::function<Page(int)> &page = {},
               Page contents = {});

// The demo site's own rules as the section of host, GBK with CR LF line ends; each line of extra
// ("key=value\r\n") replaces the key of that name or is added.
QByteArray bookRules(const QString &host, const QString &extra = {});

} // namespace support
