#include "pipeline/webengine.h"

#include "net/requestprofile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QtGlobal>

#include <unistd.h>

namespace pipeline {

void prepareWebEngine() {
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Chromium reaches out to its own services unless told not to; the pages are all it needs.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags += " --disable-background-networking --disable-component-update --disable-sync"
             " --no-first-run --disable-gpu --log-level=3 ";
    // The proxy the front end settled on, so pages travel the route the program's requests do.
    flags += requestProfile::browserProxyFlags(requestProfile::proxy());
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace pipeline
