#pragma once
// The settings file beside the program: where it lives and the five operations through which
// every part of the program reads and changes it, one value at a time, with nothing cached.

#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace iniModule {

// The base name of the settings file, set once at start-up to the executable's base name.
// Until it is set, the running executable's base name is used.
QString settingsBaseName();
void setSettingsBaseName(const QString &baseName);

// A settings file chosen by the user (the terminal front end's --settings) replaces the one
// beside the program for the whole process; empty restores the default.
void setSettingsFileOverride(const QString &path);

// For a process that must leave the settings file as it found it (the rule checker): reads give
// the default for a missing value without writing it back, and writes and deletions change
// nothing (writeSetting returns false).
void setSettingsReadOnly(bool readOnly);

// folder with the platform's separator at its end (a root folder already has one).
QString withTrailingSeparator(const QString &folder);

// The program's own folder, ending with the platform's separator.
QString programFolder();

// folder + settingsBaseName + ".ini", with exactly one separator between them.
QString settingsFilePathIn(const QString &folder, const QString &baseName);
// Whether the program may write in its own folder (the portable layout, as the build folder has
// it); an installed program's folder is read-only.
bool programFolderWritable();

// A per-user folder of the program under location (the XDG config or data folder), ending with
// the platform's separator.
QString userFolder(QStandardPaths::StandardLocation location);

// The settings file in use: the override; else the file beside the program while the program may
// write it there; else the user's own, $XDG_CONFIG_HOME/kestrelon/<base name>.ini.
QString settingsFilePath();

// At start-up: a user's own settings file that does not exist yet is made from the one shipped
// beside the program.
void prepareSettingsFile();

// The value of key in section. A missing or empty value is replaced in the file by defaultValue,
// which is then the result; if that write fails the result is "".
QString readSetting(const QString &section, const QString &key, const QString &defaultValue);
// The same read on the settings file at path: a plug-in reads the file its host hands it.
QString readSettingIn(const QString &path, const QString &section, const QString &key,
                      const QString &defaultValue);

// The value of key in section as the file has it, "" when missing; nothing is written back.
// For optional keys that a settings file should not grow.
QString peekSetting(const QString &section, const QString &key);
// The sections in which key has a value, in the file's order; nothing is written.
QStringList sectionsWithKey(const QString &key);

// Sets the value, creating file, section and key as needed. The file is rewritten through a
// temporary file, so a failed write leaves it as it was. False when the write failed or the
// names or the value would break the file's line structure (line breaks, "=" in a key, "]" in
// a section name).
bool writeSetting(const QString &section, const QString &key, const QString &value);

// Remove a key's line, or a section with all its lines; nothing happens when it is missing.
void deleteSettingKey(const QString &section, const QString &key);
void deleteSettingSection(const QString &section);

} // namespace iniModule
