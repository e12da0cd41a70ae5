#include "net/requestprofile.h"

#include "net/addressguard.h"

#include <QHostAddress>
#include <QMutex>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>

using namespace Qt::StringLiterals;

namespace requestProfile {

namespace {

QMutex g_mutex;
Proxy g_proxy;
QByteArray g_userAgent;

QString firstSet(const QStringList &names, QString *from) {
    for (const QString &name : names) {
        const QString value = qEnvironmentVariable(name.toLatin1().constData()).trimmed();
        if (!value.isEmpty()) {
            *from = name;
            return value;
        }
    }
    return {};
}

// A proxy address as curl takes it: a URL of a proxy scheme, or host:port meaning http. "" stays
// "" (no proxy); nullopt when it cannot be one.
std::optional<QString> normalised(const QString &address) {
    if (address.isEmpty())
        return QString();
    const QString full = address.contains(u"://"_s) ? address : u"http://"_s + address;
    const QUrl url(full, QUrl::StrictMode);
    static const QStringList schemes{u"http"_s,    u"https"_s,  u"socks4"_s,
                                     u"socks4a"_s, u"socks5"_s, u"socks5h"_s};
    if (!url.isValid() || url.host().isEmpty() || !schemes.contains(url.scheme().toLower()) ||
        (!url.path().isEmpty() && url.path() != u"/"_s) || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    return url.toString(QUrl::RemovePath);
}

// The proxy's address as the browser engine takes it: scheme, host and port, no credentials.
QString serverAddress(const QString &proxy) {
    QUrl url(proxy);
    url.setUserInfo(QString());
    return url.toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

// A no_proxy entry split into its host (a name, an address or a network) and whether its port,
// if any, is a port; the leading "." or "*." is taken off.
struct NoProxyEntry {
    QString host;
    bool portValid = true;
};

NoProxyEntry splitEntry(QString entry) {
    if (entry.startsWith(u"*."_s))
        entry = entry.mid(2);
    else if (entry.startsWith(u'.'))
        entry = entry.mid(1);
    QString port;
    NoProxyEntry split;
    if (entry.startsWith(u'[')) {
        const qsizetype close = entry.indexOf(u']');
        if (close < 0)
            return {QString(), false};
        split.host = entry.mid(1, close - 1);
        const QString after = entry.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':'))
                return {QString(), false};
            port = after.mid(1);
        }
    } else if (entry.count(u':') == 1) {
        split.host = entry.section(u':', 0, 0);
        port = entry.section(u':', 1);
    } else {
        split.host = entry; // a name, an IPv4 address, or an IPv6 address without a port
    }
    if (!port.isNull()) {
        bool number = false;
        const int value = port.toInt(&number);
        split.portValid =
            number && port.size() <= 5 && value > 0 && value <= 65535 && !port.startsWith(u'+');
    }
    return split;
}

} // namespace

QString maskedProxy(const QString &address) {
    const qsizetype schemeEnd = address.indexOf(u"://"_s);
    const qsizetype start = schemeEnd < 0 ? 0 : schemeEnd + 3;
    // The last "@" ends the credentials: a password may hold any character, "/" and "@" too.
    const qsizetype at = address.lastIndexOf(u'@');
    if (at <= start)
        return address;
    const qsizetype colon = address.indexOf(u':', start);
    if (colon < 0 || colon > at)
        return address; // a user name alone
    return address.left(colon + 1) + u"****"_s + address.mid(at);
}

bool noProxyEntryValid(const QString &entry) {
    if (entry == u"*"_s)
        return true;
    const NoProxyEntry split = splitEntry(entry);
    if (split.host.isEmpty() || !split.portValid)
        return false;
    if (split.host.contains(u'/')) {
        const auto [network, bits] = QHostAddress::parseSubnet(split.host);
        return !network.isNull() && bits >= 0;
    }
    if (!QHostAddress(split.host).isNull())
        return true;
    static const QRegularExpression name(
        uR"(^[A-Za-z0-9_]([A-Za-z0-9_-]*[A-Za-z0-9_])?(\.[A-Za-z0-9_]([A-Za-z0-9_-]*[A-Za-z0-9_])?)*\.?$)"_s);
    return name.match(split.host).hasMatch();
}

namespace {

// Whether the no_proxy entry names host (normalised).
bool entryNames(const QString &entry, const QString &host) {
    if (entry == u"*"_s)
        return true;
    const QString name = splitEntry(entry).host;
    if (name.contains(u'/')) {
        const auto network = QHostAddress::parseSubnet(name);
        const QHostAddress address(host);
        return !address.isNull() && address.isInSubnet(network);
    }
    const QString wanted = addressGuard::normalisedHost(name);
    return !wanted.isEmpty() && (host == wanted || host.endsWith(u'.' + wanted));
}

// The valid entries of a no_proxy list, trimmed.
QStringList noProxyEntries(const QString &noProxy) {
    QStringList entries;
    for (const QString &part : noProxy.split(u',', Qt::SkipEmptyParts)) {
        const QString entry = part.trimmed();
        if (noProxyEntryValid(entry))
            entries << entry;
    }
    return entries;
}

} // namespace

std::optional<Proxy> resolveProxy(const QString &commandLine, QString *error) {
    struct Source {
        QString value;
        QString from;
    };
    Source http, https, all;
    QString noProxyFrom;
    Proxy result;
    if (!commandLine.isEmpty()) {
        http = https = {commandLine, u"--proxy"_s};
    } else {
        http.value = firstSet({u"http_proxy"_s}, &http.from);
        https.value = firstSet({u"https_proxy"_s, u"HTTPS_PROXY"_s}, &https.from);
        all.value = firstSet({u"all_proxy"_s, u"ALL_PROXY"_s}, &all.from);
        if (http.value.isEmpty())
            http = all;
        if (https.value.isEmpty())
            https = all;
    }
    result.noProxy = firstSet({u"no_proxy"_s, u"NO_PROXY"_s}, &noProxyFrom);
    for (auto [source, target] : {std::pair{&http, &result.http}, {&https, &result.https}}) {
        const auto address = normalised(source->value);
        if (!address) {
            if (error)
                *error = u"invalid proxy address '%1' (from %2)"_s.arg(maskedProxy(source->value),
                                                                       source->from);
            return std::nullopt;
        }
        *target = *address;
    }
    // The entries reach the browser engine's command line: one that is not a host could add a
    // switch of its own ("x --remote-debugging-port=9222").
    for (const QString &part : result.noProxy.split(u',', Qt::SkipEmptyParts)) {
        if (!noProxyEntryValid(part.trimmed())) {
            if (error)
                *error = u"invalid no_proxy entry '%1' (from %2): not a host name, an address or "
                         u"a network"_s.arg(part.trimmed(), noProxyFrom);
            return std::nullopt;
        }
    }
    return result;
}

void setProxy(const Proxy &proxy) {
    const QMutexLocker lock(&g_mutex);
    g_proxy = proxy;
}

Proxy proxy() {
    const QMutexLocker lock(&g_mutex);
    return g_proxy;
}

QString proxyFor(const QByteArray &url) {
    const QMutexLocker lock(&g_mutex);
    return url.startsWith("https:") ? g_proxy.https : g_proxy.http;
}

bool direct(const QUrl &url) {
    const Proxy current = proxy();
    const QString scheme = url.scheme().toLower();
    const bool secure = scheme == u"https"_s || scheme == u"wss"_s;
    if ((secure ? current.https : current.http).isEmpty())
        return true;
    const QString host = addressGuard::normalisedHost(url.host());
    const QStringList entries = noProxyEntries(current.noProxy);
    return std::any_of(entries.cbegin(), entries.cend(),
                       [&host](const QString &entry) { return entryNames(entry, host); });
}

std::optional<Credentials> proxyCredentials(const QString &proxyHost) {
    const Proxy current = proxy();
    const QString wanted = addressGuard::normalisedHost(proxyHost);
    for (const QString &address : {current.http, current.https}) {
        const QUrl url(address);
        if (!address.isEmpty() && !url.userName().isEmpty() &&
            addressGuard::normalisedHost(url.host()) == wanted)
            return Credentials{url.userName(QUrl::FullyDecoded), url.password(QUrl::FullyDecoded)};
    }
    return std::nullopt;
}

QByteArray browserProxyFlags(const Proxy &proxy) {
    if ((proxy.http.isEmpty() && proxy.https.isEmpty()) || proxy.noProxy.trimmed() == u"*"_s)
        return "--no-proxy-server";
    QStringList servers;
    if (!proxy.http.isEmpty())
        servers << u"http="_s + serverAddress(proxy.http);
    if (!proxy.https.isEmpty())
        servers << u"https="_s + serverAddress(proxy.https);
    // curl sends loopback addresses through the proxy too unless no_proxy names them.
    const QStringList bypass = QStringList{u"<-loopback>"_s} + noProxyEntries(proxy.noProxy);
    return "--proxy-server=" + servers.join(u';').toUtf8() +
           " --proxy-bypass-list=" + bypass.join(u';').toUtf8();
}

void setUserAgent(const QByteArray &userAgent) {
    const QMutexLocker lock(&g_mutex);
    g_userAgent = userAgent;
}

QByteArray userAgent() {
    const QMutexLocker lock(&g_mutex);
    return g_userAgent;
}

QString caBundle() {
    for (const char *name : {"SSL_CERT_FILE", "CURL_CA_BUNDLE"}) {
        const QString path = qEnvironmentVariable(name);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

} // namespace requestProfile
