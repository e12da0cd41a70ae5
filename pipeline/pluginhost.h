#pragma once
// The program's side of a site plug-in's library (plug_ins/<name>.so beside the program): its
// registration entry run on a thread of its own, and the plug-in object created by class name and
// initialised for one job. plugins/README.md is the contract a library is written to.

#include <QObject>
#include <QString>

#include <memory>

class JobView;

namespace pipeline {

// What Initialize hands to a new plug-in object: the settings file, the site's host name and the
// texts of the first-chapter and last-chapter boxes.
struct PluginStart {
    QString settingsPath;
    QString host;
    QString first;
    QString last;
};

// Whether name may name a plug-in: letters, digits, "_" and "-" only, so that it can reach no
// other folder.
bool isPluginName(const QString &name);

// The library of the plug-in named name: the program's folder, "plug_ins", name and the
// platform's library suffix.
QString pluginLibraryPath(const QString &name);

// Loads the library at path and runs its "DllRegisterServer" on a thread of its own, waiting for
// it at most 2000 ms. True when the entry ran and returned in time (what it returned is not
// looked at); the library is then released again. False for a missing file, a file that is not
// in the program's plug_ins folder once links are resolved (it is not loaded), a library that
// does not load or has no such entry, or an entry still running after 2000 ms: that library
// stays loaded for the rest of the process, since its code is still running.
bool registerLibrary(const QString &path);

// Registers the library of the plug-in named name, creates its "<name>.makeTxt" object and calls
// its Initialize. nullptr when any of that fails, and at once for a name that is no plug-in name
// or a library that is not in the plug_ins folder; the reason goes to the view.
std::unique_ptr<QObject> loadPlugin(const QString &name, const PluginStart &start, JobView &view);

} // namespace pipeline
