#include "tests/support/loopbackproxy.h"

#include <QSet>
#include <QUrl>

#include <httplib.h>

using namespace Qt::StringLiterals;

namespace support {

LoopbackProxy::LoopbackProxy(const QByteArray &credentials)
    : m_server(std::make_unique<httplib::Server>()) {
    const std::string authorization =
        credentials.isEmpty() ? std::string() : "Basic " + credentials.toBase64().toStdString();
    // A request in absolute form goes to its site in origin form; the answer comes back as the
    // site gave it.
    m_server->Get(".*", [this, authorization](const httplib::Request &request,
                                              httplib::Response &response) {
        if (!authorization.empty() &&
            request.get_header_value("Proxy-Authorization") != authorization) {
            response.status = 407;
            response.set_header("Proxy-Authenticate", "Basic realm=\"test\"");
            return;
        }
        const QUrl target(QString::fromStdString(request.target));
        httplib::Client site(target.host().toStdString(), target.port(80));
        httplib::Headers headers;
        // What was meant for the proxy stays here, and so do the connection's addresses, which
        // httplib files among the headers.
        static const QSet<QByteArray> dropped = {"connection",  "host",       "remote_addr",
                                                 "remote_port", "local_addr", "local_port"};
        for (const auto &[name, value] : request.headers) {
            const QByteArray key = QByteArray::fromStdString(name).toLower();
            if (!key.startsWith("proxy-") && !dropped.contains(key))
                headers.emplace(name, value);
        }
        site.set_decompress(false);
        ++m_carried;
        const auto answer = site.Get(
            target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString(), headers);
        if (!answer) {
            response.status = 502;
            return;
        }
        response.status = answer->status;
        static const QSet<QByteArray> framing = {"content-length", "transfer-encoding",
                                                 "connection"};
        for (const auto &[name, value] : answer->headers) {
            if (!framing.contains(QByteArray::fromStdString(name).toLower()))
                response.set_header(name, value);
        }
        response.body = answer->body;
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return;
    m_serving = std::thread([this] { m_server->listen_after_bind(); });
    // stop() ends only a server that already runs: one stopped sooner would listen on forever.
    for (int i = 0; i < 500 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

LoopbackProxy::~LoopbackProxy() {
    m_server->stop();
    if (m_serving.joinable())
        m_serving.join();
}

QString LoopbackProxy::address() const {
    return m_port > 0 ? u"127.0.0.1:%1"_s.arg(m_port) : QString();
}

} // namespace support
