#include "net/requestprofile.h"

#include <QMutex>
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
        (!url.path().isEmpty() && url.path() != u"/"_s))
        return std::nullopt;
    return url.toString(QUrl::RemovePath);
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
                *error = u"invalid proxy address '%1' (from %2)"_s.arg(source->value, source->from);
            return std::nullopt;
        }
        *target = *address;
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

QByteArray browserProxyFlags(const Proxy &proxy) {
    if ((proxy.http.isEmpty() && proxy.https.isEmpty()) || proxy.noProxy == u"*"_s)
        return "--no-proxy-server";
    QStringList servers;
    if (!proxy.http.isEmpty())
        servers << u"http="_s + proxy.http;
    if (!proxy.https.isEmpty())
        servers << u"https="_s + proxy.https;
    // curl sends loopback addresses through the proxy too unless no_proxy names them.
    QStringList bypass{u"<-loopback>"_s};
    for (const QString &host : proxy.noProxy.split(u',', Qt::SkipEmptyParts))
        bypass << host.trimmed();
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
