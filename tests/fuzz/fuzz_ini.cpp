// The INI reader and writer: whatever a file holds, an edit written and read back is stable, and
// reads back as written.
#include "settings/profiletext.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    iniModule::ProfileText first(fuzz::bytes(data, size));
    const QString section = QStringLiteral("站点");
    const QString key = QStringLiteral("tagTitle");
    first.setValue(section, key, QStringLiteral("<h1>(.*?)</h1>"));
    const QByteArray written = first.content();
    iniModule::ProfileText second(written);
    if (second.value(section, key) != QStringLiteral("<h1>(.*?)</h1>"))
        __builtin_trap();
    if (second.content() != written)
        __builtin_trap();
    return 0;
}
