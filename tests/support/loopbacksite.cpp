#include "tests/support/loopbacksite.h"

#include "demo/demosite.h"

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

// Counts a request while a route answers it, and keeps the most answered at once.
class Answering {
public:
    Answering(std::atomic<int> &active, std::atomic<int> &most)
        : m_active(active) {
        const int now = ++active;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
    }
    ~Answering() { --m_active; }
    Answering(const Answering &) = delete;
    Answering &operator=(const Answering &) = delete;

private:
    std::atomic<int> &m_active;
};

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
        const Answering answering(m_active, m_maxActive);
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

} // namespace support
