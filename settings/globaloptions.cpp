#include "settings/globaloptions.h"

#include "settings/inimodule.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace globalOptions {

QString section() {
    return u"全局设置"_s;
}

QString bookshelfKey() {
    return u"书架路径"_s;
}

QString encodingKey() {
    return u"编码模式"_s;
}

QString deleteTitleKey() {
    return u"标题删除"_s;
}

QString smallChapterKey() {
    return u"章节识别"_s;
}

QString browserTextKey() {
    return u"格式转换"_s;
}

QString contentsPageKey() {
    return u"目录页面"_s;
}

QString rangeStartKey() {
    return u"起始页面"_s;
}

QString rangeEndKey() {
    return u"结束页面"_s;
}

const std::array<Option, 8> &options() {
    static const std::array<Option, 8> all{{
        {bookshelfKey(), QString()},
        {encodingKey(), u"gbk"_s},
        {deleteTitleKey(), u"0"_s},
        {smallChapterKey(), u"0"_s},
        {browserTextKey(), u"0"_s},
        {contentsPageKey(), QString()},
        {rangeStartKey(), QString()},
        {rangeEndKey(), QString()},
    }};
    return all;
}

QString startupBookshelfFolder() {
    const QString stored = iniModule::readSetting(section(), bookshelfKey(), QString());
    // A stored path that is now a file is as unusable as a missing one.
    if (stored.isEmpty() || !QFileInfo(stored).isDir())
        return iniModule::programFolder();
    return iniModule::withTrailingSeparator(stored);
}

} // namespace globalOptions
