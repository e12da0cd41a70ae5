#pragma once
// Start-up settings the hidden browsers need, made before the application object exists.

#include <QByteArrayList>
#include <QString>

namespace browser {

// Runs as root (the browser's sandbox is switched off only then), without the browser's own
// background traffic, and through the proxy of requestProfile (set it first). The display
// platform and the logging rules are the front end's choice.
void prepareWebEngine();

// The User-Agent the engine's pages send, built as the engine builds it, so that a job can
// present itself as the browser without starting the engine; "" when the engine's flags name
// one of their own.
QString engineUserAgent();

// The headers besides the User-Agent that the engine sends when a page is loaded in it, as
// "Name: value" lines: a request that stands in for such a load asks as the load would.
QByteArrayList navigationHeaders();

} // namespace browser
