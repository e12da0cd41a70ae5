#include "tests/support/loopbacksite.h"

#include "demo/demosite.h"

#include <httplib.h>

#include <chrono>

using namespace Qt::StringLiterals;

namespace support {

LoopbackSite::LoopbackSite()
    : m_server(std::make_unique<httplib::Server>()) {
    m_server->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &) {
        ++m_requests;
        SeenRequest seen;
        seen.path = QString::fromStdString(req.path);
        seen.userAgent = QString::fromStdString(req.get_header_value("User-Agent"));
        seen.hasCookie = req.has_header("Cookie");
        seen.cookie = QString::fromStdString(req.get_header_value("Cookie"));
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
    m_server->Get(path.toStdString(), [page](const httplib::Request &req, httplib::Response &res) {
        if (page.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(page.delayMs));
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
        QByteArray encoding = page.contentEncoding;
        if (encoding.isEmpty() && page.gzip)
            encoding = "gzip";
        if (!encoding.isEmpty())
            res.set_header("Content-Encoding", encoding.toStdString());
        const std::string type = page.contentType.toStdString();
        if (page.chunked) {
            res.set_chunked_content_provider(type, [body](size_t offset, httplib::DataSink &sink) {
                if (offset < size_t(body.size())) {
                    const size_t piece = std::min<size_t>(4096, size_t(body.size()) - offset);
                    sink.write(body.constData() + offset, piece);
                } else {
                    sink.done();
                }
                return true;
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
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
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
        if (request.userAgent.isEmpty())
            ours.append(request);
    }
    return ours.mid(from);
}

QStringList LoopbackSite::clientPaths(qsizetype from) const {
    QStringList paths;
    for (const SeenRequest &request : clientRequests(from))
        paths.append(request.path);
    return paths;
}

} // namespace support
