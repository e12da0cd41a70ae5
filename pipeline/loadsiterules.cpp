#include "pipeline/loadsiterules.h"

#include "pattern/pattern.h"
#include "pipeline/downloadjob.h"
#include "pipeline/jobview.h"
#include "pipeline/pluginhost.h"
#include "settings/inimodule.h"

using namespace Qt::StringLiterals;
using iniModule::readSetting;

namespace pipeline {

QStringList splitAlternatives(const QString &value) {
    if (value.isEmpty())
        return {};
    return value.split(u"||"_s);
}

bool loadSiteRules(DownloadJob &job, JobView &view) {
    job.host = norModule::regMatch(job.inputs.contentsUrl, u"//(.*?)/"_s);
    const QString &host = job.host;
    if (readSetting(host, u"tagTitle"_s, QString()).isEmpty()) {
        view.setStatus(u"取书进度：例外站点！"_s);
        // Removes the section the read has just created, or one that lacks a title rule.
        iniModule::deleteSettingSection(host);
        return true;
    }

    job.plugin.reset();
    job.rules = SiteRules();
    job.book = BookContents();
    job.bookText.clear();

    const QStringList charsets = splitAlternatives(readSetting(host, u"tagCharset"_s, QString()));
    for (int kind = 0; kind < 3; ++kind)
        job.rules.tagCharset[kind] = charsets.value(kind);

    const QString plugin = readSetting(host, u"plugins"_s, QString());
    if (!plugin.isEmpty()) {
        // A plug-in analyses this site's pages; none of the rule keys below is read for it. When
        // it cannot be loaded the job runs without rules and fails at its first page.
        const PluginStart start{iniModule::settingsFilePath(), host, job.inputs.firstChapterUrl,
                                job.inputs.lastChapterUrl};
        job.plugin = loadPlugin(plugin, start, view);
        return false;
    }

    iniModule::deleteSettingKey(host, u"plugins"_s);
    SiteRules &rules = job.rules;
    rules.tagSort = readSetting(host, u"tagSort"_s, QString());
    rules.tagUrl = readSetting(host, u"tagUrl"_s, QString());
    rules.tagHtml = readSetting(host, u"tagHtml"_s, QString());
    rules.tagTitle = splitAlternatives(readSetting(host, u"tagTitle"_s, QString()));
    rules.tagAuthor = splitAlternatives(readSetting(host, u"tagAuthor"_s, QString()));
    rules.tagVolume = splitAlternatives(readSetting(host, u"tagVolume"_s, QString()));
    rules.tagChapter = splitAlternatives(readSetting(host, u"tagChapter"_s, QString()));
    rules.tagText = splitAlternatives(readSetting(host, u"tagText"_s, QString()));
    rules.tagDel = splitAlternatives(readSetting(host, u"tagDel"_s, QString()));
    rules.tagNext = splitAlternatives(readSetting(host, u"tagNext"_s, QString()));
    return false;
}

} // namespace pipeline
