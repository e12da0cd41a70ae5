#pragma once
// A web site on 127.0.0.1 for tests: cpp-httplib on an ephemeral port, in its own thread. Add the
// routes through server(), then start().

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

namespace support {

class LoopbackSite {
public:
    LoopbackSite();
    ~LoopbackSite();
    LoopbackSite(const LoopbackSite &) = delete;
    LoopbackSite &operator=(const LoopbackSite &) = delete;

    httplib::Server &server();
    // Binds to a free port and serves until destroyed; false when no port could be bound.
    bool start();
    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by path.
    QString url(const QString &path) const;
    // Requests that reached the site, counted before any route runs.
    int requestCount() const { return m_requests.load(); }

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<int> m_requests{0};
    int m_port = -1;
};

} // namespace support
