#pragma once
// One key of the settings file as the program uses it: its name, the value a missing one stands
// for, and whether reading it adds it to the file with that value.

#include <QString>

namespace iniModule {

struct Key {
    QString name;
    QString defaultValue;
    // True: a read writes a missing or empty value back with the default (readSetting).
    // False: the value is read as the file has it and the file never grows (peekSetting).
    bool writtenBack = true;
};

// The value of key in section, read the way the key is read.
QString readKey(const QString &section, const Key &key);

} // namespace iniModule
