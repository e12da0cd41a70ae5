#include "tests/support/loopbacksite.h"

#include "demo/demosite.h"
#include "tests/support/testfiles.h"

#include <QScopeGuard>
#include <QStringDecoder>

#include <httplib.h>

#include <sys/socket.h>

#include <chrono>

using namespace Qt::StringLiterals;

namespace support {

namespace {

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

LoopbackSite::LoopbackSite()
    : m_server(std::make_unique<httplib::Server>()) {
    m_server->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &) {
        ++m_requests;
        SeenRequest seen;
        seen.path = QString::fromStdString(req.path);
        seen.userAgent = QString::fromStdString(req.get_header_value("User-Agent"));
        // The program's requests carry the browser's User-Agent too, but only the browser says
        // what it fetches for.
        seen.fromBrowser = req.has_header("Sec-Fetch-Mode");
        seen.hasCookie = req.has_header("Cookie");
        seen.cookie = QString::fromStdString(req.get_header_value("Cookie"));
        seen.atMs = steadyMs();
        std::lock_guard lock(m_seenMutex);
        m_seen.append(seen);
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

LoopbackSite::~LoopbackSite() {
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackSite::serve(const QString &path, const Page &page) {
    auto served = std::make_shared<std::atomic<int>>(0);
    m_server->Get(path.toStdString(), [this, page, served](const httplib::Request &req,
                                                           httplib::Response &res) {
        // Counts the request while it is answered, and keeps the most answered at once.
        const int now = ++m_active;
        int most = m_maxActive.load();
        while (now > most && !m_maxActive.compare_exchange_weak(most, now)) {
        }
        const auto answered = qScopeGuard([this] { --m_active; });
        if (page.beforeAnswer)
            page.beforeAnswer();
        if (page.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(page.delayMs));
        if (++*served <= page.failFirst) {
            res.status = page.failStatus;
            if (!page.retryAfter.isEmpty())
                res.set_header("Retry-After", page.retryAfter.toStdString());
            res.set_content("try again later", "text/plain");
            return;
        }
        if (!page.requiredCookie.isEmpty() &&
            req.get_header_value("Cookie").find(page.requiredCookie.toStdString()) ==
                std::string::npos) {
            res.status = 403;
            res.set_content("no cookie, no book", "text/plain");
            return;
        }
        if (!page.setCookie.isEmpty())
            res.set_header("Set-Cookie", page.setCookie.toStdString());
        const QByteArray body = page.gzip ? demo::gzipCompressed(page.body) : page.body;
        if (page.gzip)
            res.set_header("Content-Encoding", "gzip");
        const std::string type = page.contentType.toStdString();
        if (page.trickleMs > 0 || page.chunked) {
            // A trickle comes a byte at a time, a pause before each.
            const int pause = page.trickleMs;
            res.set_chunked_content_provider(
                type, [body, pause](size_t offset, httplib::DataSink &sink) {
                    if (offset >= size_t(body.size())) {
                        sink.done();
                        return true;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
                    const size_t piece = pause > 0 ? 1 : 4096;
                    return sink.write(body.constData() + offset,
                                      std::min(piece, size_t(body.size()) - offset));
                });
        } else if (page.cutAfter >= 0) {
            const qsizetype cut = page.cutAfter;
            res.set_content_provider(size_t(body.size()), type,
                                     [body, cut](size_t offset, size_t, httplib::DataSink &sink) {
                                         if (offset >= size_t(cut))
                                             return false; // closes the connection mid-body
                                         sink.write(body.constData() + offset,
                                                    size_t(cut) - offset);
                                         return true;
                                     });
        } else {
            res.set_content(body.toStdString(), type);
        }
    });
}

bool LoopbackSite::start() {
    // The library listens with a backlog of five: a sixth connection opened at the same moment
    // would be dropped, and tried again by the client only a second later.
    int listening = -1;
    m_server->set_socket_options([&listening](socket_t socket) {
        httplib::default_socket_options(socket);
        listening = socket;
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0 || ::listen(listening, SOMAXCONN) != 0)
        return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // The socket already listens; wait until the accept loop runs so that stop() can end it.
    for (int i = 0; i < 500 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return m_server->is_running();
}

QString LoopbackSite::url(const QString &path, const QString &host) const {
    return u"http://%1:%2%3"_s.arg(host.isEmpty() ? u"127.0.0.1"_s : host).arg(m_port).arg(path);
}

QList<SeenRequest> LoopbackSite::clientRequests(qsizetype from) const {
    QList<SeenRequest> ours;
    std::lock_guard lock(m_seenMutex);
    for (const SeenRequest &request : std::as_const(m_seen)) {
        if (!request.fromBrowser)
            ours.append(request);
    }
    return ours.mid(from);
}

QList<SeenRequest> LoopbackSite::allRequests() const {
    std::lock_guard lock(m_seenMutex);
    return m_seen;
}

QStringList LoopbackSite::clientPaths(qsizetype from) const {
    QStringList paths;
    for (const SeenRequest &request : clientRequests(from))
        paths.append(request.path);
    return paths;
}

QByteArray contentsPage(const QString &title, int chapters, const QString &head) {
    QString page = u"<html><head>%1</head><body><h1>%2</h1>"_s.arg(head, title);
    for (int c = 1; c <= chapters; ++c)
        page += u"<li><a href=\"%1.html\">第%1章</a></li>"_s.arg(c);
    return gbk(page + u"</body></html>"_s);
}

QByteArray chapterPage(const QString &text, const QString &next) {
    QString page = u"<div id=\"content\">%1</div>"_s.arg(text);
    if (!next.isEmpty())
        page += u"<div class=\"next\"><a href=\"%1\">下一页</a></div>"_s.arg(next);
    return gbk(page);
}

QStringList chapterTexts(int chapters) {
    QStringList texts;
    for (int c = 1; c <= chapters; ++c)
        texts.append(u"第%1章的正文。"_s.arg(c));
    return texts;
}

void serveBook(LoopbackSite &site, const QString &folder, const QString &title,
               const QStringList &texts, const std::function<Page(int)> &page, Page contents) {
    contents.body = contentsPage(title, int(texts.size()));
    site.serve(u"/%1/"_s.arg(folder), contents);
    for (int c = 1; c <= texts.size(); ++c) {
        Page served = page ? page(c) : Page{};
        if (served.body.isEmpty())
            served.body = chapterPage(texts.at(c - 1));
        site.serve(u"/%1/%2.html"_s.arg(folder).arg(c), served);
    }
}

QByteArray bookRules(const QString &host, const QString &extra) {
    // The template's first section is the book site's; the demo forum's follows a blank line.
    const QString settings = QStringDecoder("GB18030").decode(demo::demoSiteSettings(host));
    QStringList lines = settings.left(settings.indexOf(u"\r\n\r\n"_s)).split(u"\r\n"_s);
    for (const QString &line : extra.split(u"\r\n"_s, Qt::SkipEmptyParts)) {
        const QString key = line.section(u'=', 0, 0) + u'=';
        lines.removeIf([&key](const QString &old) { return old.startsWith(key); });
        lines.append(line);
    }
    return gbk(lines.join(u"\r\n"_s) + u"\r\n"_s);
}

} // namespace support
