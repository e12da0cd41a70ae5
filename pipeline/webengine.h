#pragma once
// Start-up settings the hidden browsers need, made before the application object exists.

// Runs without a display (the offscreen platform when none is set), as root (the browser's
// sandbox is switched off only then), quietly, and without the browser's own background traffic.
void prepareWebEngine();
