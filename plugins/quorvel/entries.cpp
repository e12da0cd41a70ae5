// The four entries every plug-in library exports (plugins/README.md). On this platform nothing
// needs recording to register a library: the host finds it by its file name in plug_ins and asks
// it for objects by class name.

#include "plugins/quorvel/maketxt.h"

#include <QByteArray>

#include <memory>

extern "C" {

Q_DECL_EXPORT int DllRegisterServer() {
    return 0;
}

Q_DECL_EXPORT int DllUnregisterServer() {
    return 0;
}

// A new object of the class named className, owned by the caller; nullptr for a class this
// library does not serve. Class names are matched without regard to letter case.
Q_DECL_EXPORT QObject *DllGetClassObject(const char *className) {
    if (qstricmp(className, "Quorvel.makeTxt") != 0)
        return nullptr;
    return std::make_unique<quorvel::makeTxt>().release();
}

// 0 when no object of the library is alive, so the library may be unloaded; 1 otherwise.
Q_DECL_EXPORT int DllCanUnloadNow() {
    return quorvel::makeTxt::liveObjects() == 0 ? 0 : 1;
}

} // extern "C"
