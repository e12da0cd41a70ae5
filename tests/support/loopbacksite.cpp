#include "loopbacksite.h"

#include <httplib.h>

#include <chrono>

using namespace Qt::StringLiterals;

namespace support {

LoopbackSite::LoopbackSite()
    : m_server(std::make_unique<httplib::Server>()) {
    m_server->set_pre_routing_handler([this](const httplib::Request &, httplib::Response &) {
        ++m_requests;
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

LoopbackSite::~LoopbackSite() {
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

httplib::Server &LoopbackSite::server() {
    return *m_server;
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

QString LoopbackSite::url(const QString &path) const {
    return u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path);
}

} // namespace support
