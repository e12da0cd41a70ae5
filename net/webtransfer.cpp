#include "net/webtransfer.h"

#include "net/addressguard.h"
#include "net/requestprofile.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QMutex>
#include <QUrl>

#include <curl/curl.h>

#include <mutex>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace webTransfer {

namespace {

// The addresses the proxy's host stands for, looked up once per process: its name is the
// user's choice and does not change while the program runs.
QList<QHostAddress> proxyAddresses(const QString &host) {
    static QMutex mutex;
    static QHash<QString, QList<QHostAddress>> known;
    const QMutexLocker lock(&mutex);
    const auto found = known.constFind(host);
    if (found != known.cend())
        return *found;
    QList<QHostAddress> addresses;
    if (const QHostAddress literal(host); !literal.isNull())
        addresses.append(literal);
    else
        addresses = QHostInfo::fromName(host).addresses();
    known.insert(host, addresses);
    return addresses;
}

// Whether address and port are the proxy's: its connection goes where the user sent it, and the
// proxy decides where the request goes from there.
bool isProxy(const ConnectGuard &guard, const QHostAddress &address, int port) {
    if (guard.proxy.isEmpty())
        return false;
    const QUrl proxy(guard.proxy);
    // curl's own default when the proxy's address names no port.
    const int proxyPort = proxy.port(proxy.scheme() == QLatin1String("https") ? 443 : 1080);
    if (port != proxyPort)
        return false;
    const QList<QHostAddress> addresses = proxyAddresses(proxy.host());
    return std::any_of(addresses.cbegin(), addresses.cend(), [&](const QHostAddress &known) {
        return known.isEqual(address, QHostAddress::TolerantConversion);
    });
}

int portOf(const sockaddr *address) {
    switch (address->sa_family) {
    case AF_INET:
        return ntohs(reinterpret_cast<const sockaddr_in *>(address)->sin_port);
    case AF_INET6:
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(address)->sin6_port);
    default:
        return 0;
    }
}

// Before each connection: a private address is refused before a single packet goes to it.
curl_socket_t openSocket(void *user, curlsocktype purpose, curl_sockaddr *target) {
    auto *guard = static_cast<ConnectGuard *>(user);
    if (guard->publicOnly && purpose == CURLSOCKTYPE_IPCXN) {
        const QHostAddress address(&target->addr);
        if (!isProxy(*guard, address, portOf(&target->addr)) &&
            addressGuard::isPrivateAddress(&target->addr)) {
            guard->refused = address.toString();
            return CURL_SOCKET_BAD;
        }
    }
    int type = target->socktype;
#ifdef SOCK_CLOEXEC
    type |= SOCK_CLOEXEC;
#endif
    return ::socket(target->family, type, target->protocol);
}

// Whether the address the handle is about to request (after any redirect) names a private host
// by itself; it is then refused. This holds through the proxy too, where it is all there is to
// judge.
bool refusedByName(ConnectGuard *guard) {
    char *url = nullptr;
    curl_easy_getinfo(guard->handle, CURLINFO_EFFECTIVE_URL, &url);
    const QString host = QUrl(QString::fromUtf8(url)).host();
    if (!addressGuard::isPrivateHost(host))
        return false;
    guard->refused = addressGuard::normalisedHost(host);
    return true;
}

// Before a name is looked up: a private name is refused before the resolver is asked.
int beforeResolve(void *, void *, void *user) {
    auto *guard = static_cast<ConnectGuard *>(user);
    return guard->publicOnly && refusedByName(guard) ? 1 : 0;
}

// Before a request is sent on a connection, new or reused (a looked-up name may have been
// cached): the request's host must not be private by its name, and the connection must not go
// to a private address unless it goes to the proxy.
int beforeRequest(void *user, char *primaryIp, char *, int primaryPort, int) {
    auto *guard = static_cast<ConnectGuard *>(user);
    if (!guard->publicOnly)
        return CURL_PREREQFUNC_OK;
    if (refusedByName(guard))
        return CURL_PREREQFUNC_ABORT;
    const QString connected = QString::fromLatin1(primaryIp);
    if (!isProxy(*guard, QHostAddress(connected), primaryPort) &&
        addressGuard::isPrivateHost(connected)) {
        guard->refused = connected;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

} // namespace

CURL *newHandle() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return curl_easy_init();
}

void prepare(CURL *handle, const QByteArray &url, const TransferLimits &limits,
             ConnectGuard *guard) {
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.idleSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, limits.totalSeconds);

    // The browser's identity, the one proxy and the trusted authorities of requestProfile.
    // (libcurl copies these strings.) An empty proxy means none, whatever the environment says:
    // the environment was read once, into requestProfile.
    const QByteArray agent = requestProfile::userAgent();
    if (!agent.isEmpty())
        curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.constData());
    const QString proxy = requestProfile::proxyFor(url);
    curl_easy_setopt(handle, CURLOPT_PROXY, proxy.toUtf8().constData());
    const QByteArray noProxy = requestProfile::proxy().noProxy.toUtf8();
    curl_easy_setopt(handle, CURLOPT_NOPROXY, noProxy.isEmpty() ? nullptr : noProxy.constData());
    const QByteArray authorities = QFile::encodeName(requestProfile::caBundle());
    if (!authorities.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, authorities.constData());

    if (guard) {
        guard->handle = handle;
        guard->proxy = proxy;
        guard->refused.clear();
        curl_easy_setopt(handle, CURLOPT_RESOLVER_START_FUNCTION, &beforeResolve);
        curl_easy_setopt(handle, CURLOPT_RESOLVER_START_DATA, guard);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &openSocket);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, guard);
        curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, &beforeRequest);
        curl_easy_setopt(handle, CURLOPT_PREREQDATA, guard);
    }
}

} // namespace webTransfer
