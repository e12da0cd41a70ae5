#include "tests/support/loopbackproxy.h"

#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace support {

namespace {

bool sendAll(int socket, const QByteArray &bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(socket, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// The request's head, up to its blank line; "" when the client goes away first.
QByteArray readHead(int socket) {
    QByteArray head;
    char buffer[4096];
    while (!head.contains("\r\n\r\n") && head.size() < (1 << 20)) {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        head.append(buffer, n);
    }
    return head;
}

int connectTo(const QUrl &url) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(url.port(80)));
    if (::inet_pton(AF_INET, url.host().toLatin1().constData(), &address.sin_addr) != 1 ||
        ::connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

} // namespace

LoopbackProxy::LoopbackProxy(const QByteArray &credentials)
    : m_authorization(credentials.isEmpty() ? QByteArray() : "Basic " + credentials.toBase64()) {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(m_listener, 16) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { serve(); });
}

LoopbackProxy::~LoopbackProxy() {
    m_stopping = true;
    if (m_acceptor.joinable())
        m_acceptor.join();
    ::close(m_listener);
    const std::lock_guard lock(m_mutex);
    for (std::thread &worker : m_workers)
        worker.join();
}

QString LoopbackProxy::address() const {
    return m_port > 0 ? u"127.0.0.1:%1"_s.arg(m_port) : QString();
}

void LoopbackProxy::serve() {
    while (!m_stopping) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client < 0)
            continue;
        const std::lock_guard lock(m_mutex);
        m_workers.emplace_back([this, client] { handle(client); });
    }
}

void LoopbackProxy::handle(int client) {
    timeval limit{10, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const QByteArray head = readHead(client);
    const qsizetype lineEnd = head.indexOf("\r\n");
    const QList<QByteArray> requestLine = head.left(lineEnd).split(' ');
    const QUrl target(QString::fromLatin1(requestLine.value(1)));
    // The site gets an origin-form request without what was meant for the proxy, one that closes
    // its connection after the answer, which then goes back to the client as it comes.
    QByteArray forwarded = requestLine.value(0) + ' ' +
                           target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) + ' ' +
                           requestLine.value(2) + "\r\n";
    bool authorized = m_authorization.isEmpty();
    for (const QByteArray &line : head.mid(lineEnd + 2).split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const QByteArray name = trimmed.left(trimmed.indexOf(':')).toLower();
        if (name == "proxy-authorization")
            authorized = trimmed.mid(name.size() + 1).trimmed() == m_authorization;
        else if (!trimmed.isEmpty() && name != "connection" && name != "proxy-connection")
            forwarded += trimmed + "\r\n";
    }
    forwarded += "Connection: close\r\n\r\n";
    const int site = authorized && requestLine.size() == 3 ? connectTo(target) : -1;
    if (site < 0) {
        sendAll(client, authorized ? "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n"
                                   : "HTTP/1.1 407 Proxy Authentication Required\r\n"
                                     "Proxy-Authenticate: Basic realm=\"test\"\r\n"
                                     "Content-Length: 0\r\nConnection: close\r\n\r\n");
        ::close(client);
        return;
    }
    ++m_carried;
    if (sendAll(site, forwarded)) {
        char buffer[16384];
        ssize_t n;
        while ((n = ::recv(site, buffer, sizeof buffer, 0)) > 0 &&
               sendAll(client, QByteArray(buffer, n))) {
        }
    }
    ::close(site);
    ::close(client);
}

} // namespace support
