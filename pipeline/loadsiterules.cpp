#include "pipeline/loadsiterules.h"

#include "pattern/pattern.h"
#include "pipeline/downloadjob.h"
#include "pipeline/jobview.h"
#include "pipeline/pluginhost.h"
#include "settings/inimodule.h"
#include "settings/profiletext.h"
#include "settings/sitekeys.h"

#include <QFile>

#include <optional>

using namespace Qt::StringLiterals;
using siteKeys::Key;

namespace pipeline {

namespace {

// Whether the settings file holds a section named section (letter case aside); nullopt when the
// file is there but cannot be read.
std::optional<bool> hasSection(const QString &section) {
    QFile file(iniModule::settingsFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? std::nullopt : std::optional(false);
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    // Removing it from a copy of the text tells whether it is there.
    return iniModule::ProfileText(content).removeSection(section);
}

} // namespace

QStringList splitAlternatives(const QString &value) {
    if (value.isEmpty())
        return {};
    return value.split(u"||"_s);
}

bool loadSiteRules(DownloadJob &job, JobView &view, PluginUse use) {
    // The host ends where the path, the query or the fragment begins, or with the address: a
    // site's front page may be given without the "/" after its host.
    job.host = norModule::regMatch(job.inputs.contentsUrl, u"//(.*?)([/?#]|$)"_s);
    const QString &host = job.host;
    // A section the user wrote is only looked at until it has a title rule: a half-written one
    // (its tagTitle empty or misspelt) stays exactly as it is, rules and all. Only for a host
    // without a section does the read write its default, into a section that is then removed.
    const auto readable = hasSection(host);
    if (!readable) {
        // Every site would look like one without rules, and the user would look for a mistake
        // in a section that is there.
        view.setStatus(u"取书进度：设置文件无法读取：%1"_s.arg(iniModule::settingsFilePath()));
        return false;
    }
    const bool ownSection = *readable;
    const QString title = ownSection ? iniModule::peekSetting(host, siteKeys::name(Key::TagTitle))
                                     : siteKeys::read(host, Key::TagTitle);
    if (title.isEmpty()) {
        view.setStatus(u"取书进度：例外站点！"_s);
        if (!ownSection)
            iniModule::deleteSettingSection(host);
        return false;
    }

    job.plugin.reset();
    job.rules = SiteRules();
    job.book = BookContents();
    job.bookText.clear();

    const QStringList charsets = splitAlternatives(siteKeys::read(host, Key::TagCharset));
    for (int kind = 0; kind < 3; ++kind)
        job.rules.tagCharset[kind] = charsets.value(kind);

    const QString plugin = siteKeys::read(host, Key::Plugins);
    if (!plugin.isEmpty()) {
        // A plug-in analyses this site's pages; none of the rule keys below is read for it. When
        // it cannot be loaded the job runs without rules and fails at its first page.
        if (use == PluginUse::Start) {
            const PluginStart arguments{iniModule::settingsFilePath(), host,
                                        job.inputs.firstChapterUrl, job.inputs.lastChapterUrl};
            job.plugin = loadPlugin(plugin, arguments, view);
        }
        return true;
    }

    iniModule::deleteSettingKey(host, siteKeys::name(Key::Plugins));
    SiteRules &rules = job.rules;
    rules.tagSort = siteKeys::read(host, Key::TagSort);
    rules.tagUrl = siteKeys::read(host, Key::TagUrl);
    rules.tagHtml = siteKeys::read(host, Key::TagHtml);
    rules.tagTitle = splitAlternatives(siteKeys::read(host, Key::TagTitle));
    rules.tagAuthor = splitAlternatives(siteKeys::read(host, Key::TagAuthor));
    rules.tagVolume = splitAlternatives(siteKeys::read(host, Key::TagVolume));
    rules.tagChapter = splitAlternatives(siteKeys::read(host, Key::TagChapter));
    rules.tagText = splitAlternatives(siteKeys::read(host, Key::TagText));
    rules.tagDel = splitAlternatives(siteKeys::read(host, Key::TagDel));
    rules.tagNext = splitAlternatives(siteKeys::read(host, Key::TagNext));
    return true;
}

} // namespace pipeline
