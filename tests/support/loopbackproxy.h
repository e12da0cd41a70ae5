#pragma once
// A forward HTTP proxy on 127.0.0.1 for tests, in its own threads: it passes each request on to
// its site (one request a connection) and records the address of every request it carried. It
// can demand credentials, as a company's proxy does.

#include <QByteArray>
#include <QStringList>

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

    // "http://127.0.0.1:<port>"; empty when no port could be bound.
    QString url() const;
    // The absolute addresses of the requests it carried, in order.
    QStringList carried() const;
    // How many requests were answered 407.
    int challenged() const { return m_challenged.load(); }

private:
    void serve();
    void handle(int client);

    int m_listener = -1;
    int m_port = 0;
    QByteArray m_authorization; // the header value a request must carry; "" for none
    std::atomic<int> m_challenged{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_workers;
    mutable std::mutex m_carriedMutex;
    QStringList m_carried;
};

} // namespace support
