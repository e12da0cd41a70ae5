// Plug-in libraries that fail on the way to an object: without a registration entry
// (FAULTY_NO_ENTRY), with one that does not return for a minute (FAULTY_SLOW_ENTRY), or with no
// object to give (neither).

#include <QObject>

#include <chrono>
#include <thread>

extern "C" {

#if defined(FAULTY_SLOW_ENTRY)
Q_DECL_EXPORT int DllRegisterServer() {
    std::this_thread::sleep_for(std::chrono::minutes(1));
    return 0;
}
#elif !defined(FAULTY_NO_ENTRY)
Q_DECL_EXPORT int DllRegisterServer() {
    return 0;
}
#endif

Q_DECL_EXPORT QObject *DllGetClassObject(const char *) {
    return nullptr;
}

} // extern "C"
