#pragma once
// Start-up settings the hidden browsers need, made before the application object exists.

namespace browser {

// Runs as root (the browser's sandbox is switched off only then), without the browser's own
// background traffic, and through the proxy of requestProfile (set it first). The display
// platform and the logging rules are the front end's choice.
void prepareWebEngine();

} // namespace browser
