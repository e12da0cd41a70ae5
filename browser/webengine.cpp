#include "browser/webengine.h"

#include "net/requestprofile.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QCoreApplication>
#include <QtGlobal>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>

#include <sys/utsname.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace browser {

namespace {

// flags with feature added to its --enable-features list, or with such a list of its own: the
// engine reads one list, the last.
QByteArray withFeature(const QByteArray &flags, const QByteArray &feature) {
    static const QByteArray prefix = "--enable-features=";
    QByteArrayList parts = flags.split(' ');
    for (qsizetype i = parts.size() - 1; i >= 0; --i) {
        if (parts[i].startsWith(prefix)) {
            parts[i] += ',' + feature;
            return parts.join(' ');
        }
    }
    return flags + ' ' + prefix + feature;
}

} // namespace

void prepareWebEngine() {
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Chromium reaches out to its own services unless told not to; the pages are all it needs.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags += " --disable-background-networking --disable-component-update --disable-sync"
             " --no-first-run --disable-gpu --log-level=3 ";
    // The engine starts a second zygote for helper processes that run outside the sandbox; it
    // starts such helpers directly when asked not to, and a job's start-up does not wait for it.
    flags += " --no-unsandboxed-zygote ";
    // The proxy the front end settled on, so pages travel the route the program's requests do.
    // (Only entries that are host names, addresses or networks reach the switches.)
    flags += requestProfile::browserProxyFlags(requestProfile::proxy());
    // The engine's own refusal of a page's requests from a public http address to a private
    // one. It judges the address it connects to, redirects included, which the request guard
    // cannot; it leaves out frames and pages written into a blank document, which the guard
    // covers.
    flags = withFeature(flags.trimmed(), "BlockInsecurePrivateNetworkRequests");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

QString engineUserAgent() {
    if (qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("--user-agent"))
        return {};
    struct utsname system {};
    if (::uname(&system) != 0)
        return {};
    QString machine = QString::fromLocal8Bit(system.machine);
    // A 32-bit engine on a 64-bit kernel names both.
    if (sizeof(void *) == 4 && machine == u"x86_64"_s)
        machine = u"i686 (x86_64)"_s;
    return u"Mozilla/5.0 (X11; %1 %2) AppleWebKit/537.36 (KHTML, like Gecko) QtWebEngine/%3 "
           u"Chrome/%4 Safari/537.36"_s.arg(QString::fromLocal8Bit(system.sysname), machine,
                                            QLatin1String(qWebEngineVersion()),
                                            QLatin1String(qWebEngineChromiumVersion()));
}

QByteArrayList navigationHeaders() {
    return {"Upgrade-Insecure-Requests: 1",
            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,"
            "image/apng,*/*;q=0.8,application/signed-exchange;v=b3;q=0.9",
            "Sec-Fetch-Site: none",
            "Sec-Fetch-Mode: navigate",
            "Sec-Fetch-User: ?1",
            "Sec-Fetch-Dest: document",
            "Accept-Encoding: gzip, deflate, br"};
}

} // namespace browser
