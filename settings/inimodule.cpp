#include "settings/inimodule.h"

#include "settings/profiletext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

using namespace Qt::StringLiterals;

namespace iniModule {

namespace {

// Process-wide: set during start-up, before any setting is read.
QString &baseNameStore() {
    static QString name;
    return name;
}

QString &overrideStore() {
    static QString path;
    return path;
}

// The file's bytes; nullopt when it does not exist or cannot be read.
std::optional<QByteArray> loadFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// Replaces the file only when every byte reached the disk: unbuffered, so a full disk shows in
// the write itself rather than in a flush whose error the commit would not see.
bool saveFile(const QString &path, const QByteArray &content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(content) != content.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool breaksLine(const QString &text) {
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

bool writeSettingIn(const QString &path, const QString &section, const QString &key,
                    const QString &value) {
    if (section.isEmpty() || key.isEmpty() || breaksLine(section) || breaksLine(key) ||
        breaksLine(value) || section.contains(u']') || key.contains(u'=') || key.startsWith(u'['))
        return false;
    const auto content = loadFile(path);
    // A file that exists but cannot be read must not be replaced by one holding this key alone.
    if (!content && QFileInfo::exists(path))
        return false;
    ProfileText profile(content.value_or(QByteArray()));
    profile.setValue(section, key, value);
    return saveFile(path, profile.content());
}

} // namespace

QString settingsBaseName() {
    if (baseNameStore().isEmpty())
        return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return baseNameStore();
}

void setSettingsBaseName(const QString &baseName) {
    baseNameStore() = baseName;
}

void setSettingsFileOverride(const QString &path) {
    overrideStore() = path;
}

QString withTrailingSeparator(const QString &folder) {
    if (folder.endsWith(u'/') || folder.endsWith(QDir::separator()))
        return folder;
    return folder + QDir::separator();
}

QString programFolder() {
    return withTrailingSeparator(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
}

QString settingsFilePathIn(const QString &folder, const QString &baseName) {
    return withTrailingSeparator(folder) + baseName + u".ini"_s;
}

QString settingsFilePath() {
    if (!overrideStore().isEmpty())
        return overrideStore();
    return settingsFilePathIn(programFolder(), settingsBaseName());
}

QString readSetting(const QString &section, const QString &key, const QString &defaultValue) {
    return readSettingIn(settingsFilePath(), section, key, defaultValue);
}

QString readSettingIn(const QString &path, const QString &section, const QString &key,
                      const QString &defaultValue) {
    if (const auto content = loadFile(path)) {
        const auto value = ProfileText(*content).value(section, key);
        if (value && !value->isEmpty())
            return *value;
    }
    return writeSettingIn(path, section, key, defaultValue) ? defaultValue : QString();
}

bool writeSetting(const QString &section, const QString &key, const QString &value) {
    return writeSettingIn(settingsFilePath(), section, key, value);
}

void deleteSettingKey(const QString &section, const QString &key) {
    const QString path = settingsFilePath();
    const auto content = loadFile(path);
    if (!content)
        return;
    ProfileText profile(*content);
    if (profile.removeKey(section, key))
        saveFile(path, profile.content());
}

void deleteSettingSection(const QString &section) {
    const QString path = settingsFilePath();
    const auto content = loadFile(path);
    if (!content)
        return;
    ProfileText profile(*content);
    if (profile.removeSection(section))
        saveFile(path, profile.content());
}

} // namespace iniModule
