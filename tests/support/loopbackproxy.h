#pragma once
// A forward HTTP proxy on 127.0.0.1 for tests, in its own threads: it passes each request on to
// its site (one request a connection) and counts the requests it carried. It can demand
// credentials, as a company's proxy does.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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
    void serve();
    void handle(int client);

    int m_listener = -1;
    int m_port = 0;
    QByteArray m_authorization; // the header value a request must carry; "" for none
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_workers;
    std::atomic<int> m_carried{0};
};

} // namespace support
