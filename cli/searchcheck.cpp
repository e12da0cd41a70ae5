#include "cli/searchcheck.h"

#include "cli/ruleprobe.h"
#include "cli/searchcommand.h"
#include "net/httpclient.h"
#include "pattern/compiledrule.h"
#include "pipeline/fetchpolicy.h"
#include "pipeline/loadsiterules.h"
#include "pipeline/searchrules.h"
#include "settings/inimodule.h"
#include "settings/sitekeys.h"

using namespace Qt::StringLiterals;
using siteKeys::Key;

namespace rulecheck {

namespace {

// Matches and results shown in the report.
constexpr qsizetype kShown = 10;

const QString kTagSearch = siteKeys::name(Key::TagSearch);

// Fetches the first result as a job's first request would go (the search page as its origin)
// and tells whether the site's tagTitle matches it.
QJsonObject firstResult(const search::SearchSite &site, const BookSearch::SitePage &page,
                        const QString &url, QJsonArray &problems) {
    HttpClient http;
    http.setOrigin(page.finalUrl);
    const bool withCookie = pipeline::cookieGoesTo(page.finalUrl, url);
    const HttpResult result = http.get(url, withCookie ? page.cookie : QString(), nullptr);
    const QString contentsCharset =
        pipeline::splitAlternatives(
            iniModule::peekSetting(site.section, siteKeys::name(Key::TagCharset)))
            .value(0);
    const auto text = result.ok ? search::pageText(result, contentsCharset) : std::nullopt;
    const QString title = text ? norModule::regMatch(*text, site.tagTitle) : QString();
    if (title.isEmpty())
        addProblem(
            problems, kTagSearch, u"search-result"_s,
            u"the first result's address %1 does not lead to a page the site's tagTitle "
            u"matches (%2)"_s.arg(url, result.ok ? u"HTTP %1"_s.arg(result.status) : result.error));
    return {{u"url"_s, url}, {u"status"_s, qint64(result.status)}, {u"title"_s, title}};
}

} // namespace

QJsonObject checkSearch(const QString &host, const QString &title, QJsonArray &problems) {
    QJsonObject report{{u"title"_s, title}};
    const auto site = search::loadSite(host);
    if (!site) {
        addProblem(problems, kTagSearch, u"search-rules"_s,
                   u"the section [%1] has no searchUrl or no tagSearch: the site cannot be "
                   u"searched"_s.arg(host));
        return report;
    }
    if (!site->searchUrl.contains(u"{key}"_s, Qt::CaseInsensitive) &&
        !site->searchPost.contains(u"{key}"_s, Qt::CaseInsensitive))
        addProblem(problems, siteKeys::name(Key::SearchUrl), u"search-key"_s,
                   u"neither searchUrl nor searchPost holds {key}: the title is never sent"_s);
    for (const QString &alternative : site->tagSearch) {
        const norModule::CompiledRule compiled(alternative);
        if (compiled.isValid() && compiled.captureCount() < 1)
            addProblem(problems, kTagSearch, u"search-group"_s,
                       u"%1 has no group 1 for the contents address"_s.arg(alternative));
    }

    const searchcommand::Found found = searchcommand::searchNow(title, {host});
    const BookSearch::SitePage page = found.pages.value(0);
    report[u"address"_s] = page.address;
    report[u"form"_s] = page.form ? QJsonValue(QString::fromUtf8(*page.form)) : QJsonValue();
    report[u"charset"_s] = site->charset;
    report[u"status"_s] = qint64(page.status);
    report[u"finalUrl"_s] = page.finalUrl;
    report[u"cookieLength"_s] = page.cookie.size();
    // A tagSearch the engine cannot run fails the site only once its page has been read: the
    // probe below says why.
    if (!page.error.isEmpty() && page.text.isEmpty()) {
        addProblem(problems, QString(), u"fetch"_s, u"%1：%2"_s.arg(page.address, page.error));
        return report;
    }
    RuleProbe probe(kTagSearch, site->tagSearch, Takes::FirstMatch, 0, problems);
    const RuleProbe::Run run = probe.run(page.text, page.finalUrl);
    report[u"rule"_s] = probe.report();
    QJsonArray matches;
    for (const norModule::RuleMatch &match : run.matches.mid(0, kShown)) {
        QJsonArray groups;
        for (const QString &group : match.subMatches)
            groups.append(excerpt(group));
        matches.append(QJsonObject{{u"groups"_s, groups}});
    }
    report[u"matches"_s] = matches;
    report[u"matchCount"_s] = run.matches.size();
    QJsonArray results;
    for (const SearchResult &result : found.results.mid(0, kShown))
        results.append(QJsonObject{{u"contentsUrl"_s, result.contentsUrl},
                                   {u"title"_s, result.title},
                                   {u"author"_s, result.author}});
    report[u"results"_s] = results;
    if (found.results.isEmpty()) {
        addProblem(problems, kTagSearch, u"search-none"_s,
                   u"the search page %1 gave no result"_s.arg(page.finalUrl));
        return report;
    }
    report[u"firstResult"_s] =
        firstResult(*site, page, found.results.first().contentsUrl, problems);
    return report;
}

} // namespace rulecheck
