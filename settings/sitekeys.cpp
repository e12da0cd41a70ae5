#include "settings/sitekeys.h"

#include "settings/inimodule.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

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
    QFile file(iniModule::settingsFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Header lines are ASCII brackets around a name; the file is GBK, which GB18030 reads alike.
    QStringDecoder decoder("GB18030");
    const QString text = decoder.decode(file.readAll());
    static const QRegularExpression header(u"^[ \\t]*\\[(.*)\\]"_s,
                                           QRegularExpression::MultilineOption);
    QStringList sections;
    for (const QRegularExpressionMatch &match : header.globalMatch(text)) {
        const QString section = match.captured(1).trimmed();
        if (!sections.contains(section, Qt::CaseInsensitive) &&
            !iniModule::peekSetting(section, name(key)).isEmpty())
            sections.append(section);
    }
    return sections;
}

} // namespace siteKeys
