#include "browser/webengine.h"

#include "net/requestprofile.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QCoreApplication>
#include <QtGlobal>

#include <unistd.h>

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

} // namespace browser
