#include "settings/sitekeys.h"

#include "settings/inimodule.h"

using namespace Qt::StringLiterals;

namespace siteKeys {

const std::array<iniModule::Key, kCount> &entries() {
    // Every rule key defaults to "": an empty rule matches nothing and an empty switch is off.
    static const std::array<iniModule::Key, kCount> all{{
        {u"tagName"_s, QString(), false},
        {u"tagTitle"_s, QString(), true},
        {u"tagCharset"_s, QString(), true},
        {u"plugins"_s, QString(), true},
        {u"tagSort"_s, QString(), true},
        {u"tagUrl"_s, QString(), true},
        {u"tagHtml"_s, QString(), true},
        {u"tagAuthor"_s, QString(), true},
        {u"tagVolume"_s, QString(), true},
        {u"tagChapter"_s, QString(), true},
        {u"tagText"_s, QString(), true},
        {u"tagDel"_s, QString(), true},
        {u"tagNext"_s, QString(), true},
        // Optional: a section that does not want them should not grow them.
        {u"parallel"_s, QString(), false},
        {u"retries"_s, QString(), false},
        {u"delay"_s, QString(), false},
        {u"resume"_s, QString(), false},
        {u"searchUrl"_s, QString(), false},
        {u"searchPost"_s, QString(), false},
        {u"searchCharset"_s, QString(), false},
        {u"tagSearch"_s, QString(), false},
    }};
    return all;
}

const iniModule::Key &entry(Key key) {
    return entries()[std::size_t(key)];
}

QString name(Key key) {
    return entry(key).name;
}

QString read(const QString &host, Key key) {
    return iniModule::readKey(host, entry(key));
}

QStringList sectionsWith(Key key) {
    return iniModule::sectionsWithKey(name(key));
}

} // namespace siteKeys
