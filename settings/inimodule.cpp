#include "settings/inimodule.h"

#include "settings/profiletext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

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

bool &readOnlyStore() {
    static bool readOnly = false;
    return readOnly;
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
    if (readOnlyStore())
        return false;
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
    // A read of an empty key writes its default back; when that changes no byte, the file is
    // left alone rather than replaced (and synced) once per key at every job's start.
    const QByteArray changed = profile.content();
    if (content && changed == *content)
        return true;
    return saveFile(path, changed);
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

void setSettingsReadOnly(bool readOnly) {
    readOnlyStore() = readOnly;
}

QString withTrailingSeparator(const QString &folder) {
    if (folder.endsWith(u'/') || folder.endsWith(QDir::separator()))
        return folder;
    return folder + QDir::separator();
}

QString programFolder() {
    // Before the application object exists (a terminal program answering --help), the running
    // executable tells where it lies.
    const QString folder = QCoreApplication::instance()
                               ? QCoreApplication::applicationDirPath()
                               : QFileInfo(u"/proc/self/exe"_s).canonicalPath();
    return withTrailingSeparator(QDir::toNativeSeparators(folder));
}

QString settingsFilePathIn(const QString &folder, const QString &baseName) {
    return withTrailingSeparator(folder) + baseName + u".ini"_s;
}

bool programFolderWritable() {
    return QFileInfo(programFolder()).isWritable();
}

QString userFolder(QStandardPaths::StandardLocation location) {
    return withTrailingSeparator(QStandardPaths::writableLocation(location) + u"/kestrelon"_s);
}

namespace {

// The settings file beside the program serves while the program may write it: in the portable
// layout (the build folder, an unpacked copy). An installed program's folder is read-only, and
// the file there is only the template of each user's own.
bool besideProgramInUse(const QString &beside) {
    const QFileInfo file(beside);
    return programFolderWritable() || (file.isFile() && file.isWritable());
}

} // namespace

QString settingsFilePath() {
    if (!overrideStore().isEmpty())
        return overrideStore();
    const QString beside = settingsFilePathIn(programFolder(), settingsBaseName());
    if (besideProgramInUse(beside))
        return beside;
    return settingsFilePathIn(userFolder(QStandardPaths::GenericConfigLocation),
                              settingsBaseName());
}

void prepareSettingsFile() {
    const QString path = settingsFilePath();
    const QString beside = settingsFilePathIn(programFolder(), settingsBaseName());
    if (readOnlyStore() || path == beside || QFileInfo::exists(path) || !QFileInfo(beside).isFile())
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const auto shipped = loadFile(beside);
    // Without a copy the first read creates the file with the defaults, as for a new user of
    // the portable layout.
    if (shipped)
        saveFile(path, *shipped);
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
    if (readOnlyStore())
        return defaultValue;
    return writeSettingIn(path, section, key, defaultValue) ? defaultValue : QString();
}

QString peekSetting(const QString &section, const QString &key) {
    const auto content = loadFile(settingsFilePath());
    return content ? ProfileText(*content).value(section, key).value_or(QString()) : QString();
}

QStringList sectionsWithKey(const QString &key) {
    const auto content = loadFile(settingsFilePath());
    if (!content)
        return {};
    const ProfileText profile(*content);
    QStringList sections = profile.sections();
    sections.removeIf([&](const QString &section) {
        return profile.value(section, key).value_or(QString()).isEmpty();
    });
    return sections;
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
