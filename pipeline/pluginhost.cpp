#include "pipeline/pluginhost.h"

#include "pipeline/jobview.h"
#include "settings/inimodule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <algorithm>
#include <chrono>
#include <future>
#include <system_error>
#include <thread>

#ifdef Q_OS_UNIX
#include <dlfcn.h>
#endif

using namespace Qt::StringLiterals;

namespace pipeline {

namespace {

// The entries of a plug-in library, as plugins/README.md states them.
using RegisterEntry = int (*)();
using ClassFactory = QObject *(*)(const char *className);

constexpr std::chrono::milliseconds kRegisterWait{2000};

// Keeps the library at path mapped until the process ends, whatever unloads it later (Qt unloads
// the libraries nobody holds when the application ends): a thread given up on may still be
// running its code.
void pinLibrary(const QString &path) {
#ifdef Q_OS_UNIX
    // The handle is never closed on purpose; RTLD_NODELETE makes every later dlclose harmless.
    dlopen(QFile::encodeName(path).constData(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
#else
    Q_UNUSED(path); // the library is not unloaded here; only Qt's clean-up at exit would
#endif
}

// Runs entry on a thread of its own; true when it returned within kRegisterWait. A thread that
// is still running then is left to finish on its own.
bool runWithin(RegisterEntry entry) {
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread worker;
    try {
        worker = std::thread([entry, finished = std::move(finished)]() mutable {
            entry();
            finished.set_value();
        });
    } catch (const std::system_error &) {
        return false; // no thread could be started
    }
    if (done.wait_for(kRegisterWait) == std::future_status::ready) {
        worker.join();
        return true;
    }
    worker.detach();
    return false;
}

// The canonical path of the program's plug_ins folder; "" when there is none.
QString pluginFolder() {
    return QFileInfo(iniModule::programFolder() + u"plug_ins"_s).canonicalFilePath();
}

// The canonical path of the file at path when that file lies in the plug_ins folder itself, links
// resolved; "" otherwise. Loading a library runs its code, so nothing else is ever loaded.
QString libraryInPluginFolder(const QString &path) {
    const QFileInfo file(QFileInfo(path).canonicalFilePath());
    const QString folder = pluginFolder();
    if (folder.isEmpty() || !file.isFile() || file.absolutePath() != folder)
        return {};
    return file.absoluteFilePath();
}

} // namespace

bool isPluginName(const QString &name) {
    return !name.isEmpty() && std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_' || c == u'-';
    });
}

QString pluginLibraryPath(const QString &name) {
#ifdef Q_OS_WIN
    const QString suffix = u".dll"_s;
#else
    const QString suffix = u".so"_s;
#endif
    return iniModule::programFolder() + u"plug_ins"_s + QDir::separator() + name + suffix;
}

bool registerLibrary(const QString &path) {
    const QString file = libraryInPluginFolder(path);
    if (file.isEmpty())
        return false;
    QLibrary library(file);
    if (!library.load())
        return false;
    const auto entry = reinterpret_cast<RegisterEntry>(library.resolve("DllRegisterServer"));
    if (!entry) {
        library.unload();
        return false;
    }
    if (!runWithin(entry)) {
        // Unloading code that a thread still runs would crash the program: the library stays.
        pinLibrary(file);
        return false;
    }
    library.unload();
    return true;
}

std::unique_ptr<QObject> loadPlugin(const QString &name, const PluginStart &start, JobView &view) {
    if (!isPluginName(name)) {
        view.noteFailure(u"插件名无效，只能由字母、数字、“_”和“-”组成：%1"_s.arg(name));
        return nullptr;
    }
    const QString path = pluginLibraryPath(name);
    const QString file = libraryInPluginFolder(path);
    if (QFileInfo::exists(path) && file.isEmpty()) {
        view.noteFailure(u"插件库不在插件目录 %1 中：%2"_s.arg(pluginFolder(), path));
        return nullptr;
    }
    if (!registerLibrary(path)) {
        view.noteFailure(u"插件库无法注册：%1"_s.arg(path));
        return nullptr;
    }
    // The library that made an object stays loaded for the rest of the process, as a component
    // server does: the object's code and the types it made known to Qt live in it.
    QLibrary library(file);
    library.setLoadHints(QLibrary::PreventUnloadHint);
    const auto factory = library.load()
                             ? reinterpret_cast<ClassFactory>(library.resolve("DllGetClassObject"))
                             : nullptr;
    const QString className = name + u".makeTxt"_s;
    std::unique_ptr<QObject> plugin(factory ? factory(className.toUtf8().constData()) : nullptr);
    if (!plugin) {
        view.noteFailure(u"无法创建插件对象：%1"_s.arg(className));
        return nullptr;
    }
    if (!QMetaObject::invokeMethod(plugin.get(), "Initialize", Qt::DirectConnection,
                                   Q_ARG(QString, start.settingsPath), Q_ARG(QString, start.host),
                                   Q_ARG(QString, start.first), Q_ARG(QString, start.last))) {
        view.noteFailure(u"插件对象无法初始化：%1"_s.arg(className));
        return nullptr;
    }
    return plugin;
}

} // namespace pipeline
