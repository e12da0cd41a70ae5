#pragma once
// How every request of the program presents itself and travels, defined once for the process:
// the browser's own User-Agent, one proxy (from --proxy or the environment) and the certificate
// authorities to trust. libcurl and the browser engine both follow it.

#include <QByteArray>
#include <QString>

#include <optional>

namespace requestProfile {

// The proxy of each scheme ("" for none) and the hosts that bypass it, comma-separated as in
// no_proxy ("*" for all).
struct Proxy {
    QString http;
    QString https;
    QString noProxy;
};

// The proxy from commandLine (--proxy, for every scheme) when it is not empty, else from the
// environment as curl reads it (http_proxy; https_proxy or HTTPS_PROXY; all_proxy or ALL_PROXY;
// no_proxy or NO_PROXY). nullopt, with the reason in *error, when an address is not one a proxy
// can have.
std::optional<Proxy> resolveProxy(const QString &commandLine, QString *error);

// The proxy every request uses from now on; none until it is set.
void setProxy(const Proxy &proxy);
Proxy proxy();
// The proxy for url's scheme ("" for none).
QString proxyFor(const QByteArray &url);

// The browser engine's switches for the same proxy: the proxy server and its bypass list, or no
// proxy at all. The engine would otherwise bypass loopback addresses on its own, and pick a
// proxy of the desktop's where none is set.
QByteArray browserProxyFlags(const Proxy &proxy);

// The User-Agent every request sends: the hidden browser's own, set at start-up.
void setUserAgent(const QByteArray &userAgent);
QByteArray userAgent();

// A bundle of certificate authorities to trust instead of the system's, from SSL_CERT_FILE or
// CURL_CA_BUNDLE; "" for the system's store.
QString caBundle();

} // namespace requestProfile
