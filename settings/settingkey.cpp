#include "settings/settingkey.h"

#include "settings/inimodule.h"

namespace iniModule {

QString readKey(const QString &section, const Key &key) {
    if (key.writtenBack)
        return readSetting(section, key.name, key.defaultValue);
    const QString value = peekSetting(section, key.name);
    return value.isEmpty() ? key.defaultValue : value;
}

} // namespace iniModule
