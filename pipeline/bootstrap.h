#pragma once
// The start-up both front ends share, made before their application object exists: which
// settings file the process uses, and the one proxy its requests and its browsers travel through.

#include <QString>

namespace pipeline {

// What a front end's command line chose; the defaults are the window's.
struct BootstrapOptions {
    QString settingsFile;          // replaces the file beside the program (--settings); "" for none
    QString proxy;                 // for every scheme (--proxy); "" takes it from the environment
    bool settingsReadOnly = false; // the rule checker leaves the settings file as it found it
};

struct BootstrapResult {
    bool ok = false;
    QString error; // when not ok: why the proxy cannot be used, fit to show the user
};

// Step one alone, for a front end that only tells which settings file is in use (--help): the
// base name "Kestrelon" for both front ends, so they share one file, and the choices above.
void chooseSettingsFile(const QString &settingsFile = QString(), bool readOnly = false);

// In this order, each step needing the one before:
//   1. the settings file is chosen (nothing is read or written yet);
//   2. the proxy is resolved from options.proxy or the environment; a bad one ends the start-up
//      here, with nothing else changed, and the front end reports result.error its own way;
//   3. the request profile takes that proxy, for every request libcurl makes;
//   4. the web engine is prepared with the same proxy among its switches, which it reads only
//      once, when the application object is made: so this runs before that.
// Making the user's copy of the settings file (iniModule::prepareSettingsFile) and the display
// platform stay with the front end, once its application object exists.
BootstrapResult bootstrap(const BootstrapOptions &options = {});

} // namespace pipeline
