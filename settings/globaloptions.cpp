#include "settings/globaloptions.h"

#include "settings/inimodule.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace globalOptions {

QString section() {
    return u"全局设置"_s;
}

QStringList bookEncodings() {
    return {u"gbk"_s, u"utf-8"_s, u"unicode"_s, u"big5"_s};
}

const std::array<iniModule::Key, kCount> &entries() {
    static const std::array<iniModule::Key, kCount> all{{
        {u"书架路径"_s, QString()},
        {u"编码模式"_s, bookEncodings().first()},
        {u"标题删除"_s, u"0"_s},
        {u"章节识别"_s, u"0"_s},
        {u"格式转换"_s, u"0"_s},
        {u"目录页面"_s, QString()},
        {u"起始页面"_s, QString()},
        {u"结束页面"_s, QString()},
    }};
    return all;
}

const iniModule::Key &entry(Key key) {
    return entries()[std::size_t(key)];
}

QString name(Key key) {
    return entry(key).name;
}

QString read(Key key) {
    return iniModule::readKey(section(), entry(key));
}

bool write(Key key, const QString &value) {
    return iniModule::writeSetting(section(), name(key), value);
}

QString startupBookshelfFolder() {
    const QString stored = read(Key::Bookshelf);
    // A stored path that is now a file is as unusable as a missing one.
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return iniModule::withTrailingSeparator(stored);
    if (iniModule::programFolderWritable())
        return iniModule::programFolder();
    // An installed program's folder is read-only: a book fetched for it could not be written,
    // and the job would fail only after fetching every chapter. The user's documents take it.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = QFileInfo(documents).isDir() ? documents : QDir::homePath();
    return iniModule::withTrailingSeparator(QDir::toNativeSeparators(folder));
}

} // namespace globalOptions
