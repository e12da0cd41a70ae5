#pragma once
// A forward HTTP proxy on 127.0.0.1 for tests, in its own thread: it passes each request on to
// its site and counts the requests it carried. It can demand credentials, as a company's proxy
// does.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

namespace support {

class LoopbackProxy {
public:
    // credentials, "user:password" when not empty, must come with every request (Basic
    // Proxy-Authorization); a request without them is answered 407 and not carried.
    explicit LoopbackProxy(const QByteArray &credentials = {});
    ~LoopbackProxy();
    LoopbackProxy(const LoopbackProxy &) = delete;
    LoopbackProxy &operator=(const LoopbackProxy &) = delete;

    // "127.0.0.1:<port>"; empty when no port could be bound.
    QString address() const;
    int carried() const { return m_carried.load(); }

private:
    std::unique_ptr<httplib::Server> m_server;
    int m_port = -1;
    std::thread m_serving;
    std::atomic<int> m_carried{0};
};

} // namespace support
