#include "window/sitelist.h"

#include "pattern/pattern.h"
#include "settings/sitekeys.h"
#include "text/charset.h"
#include "window/htmlescape.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace siteList {

namespace {

const QString kStartMarker = u"<!-- 站点列表开始 -->"_s;
const QString kEndMarker = u"<!-- 站点列表结束 -->"_s;

QString siteLink(const QString &host, const QString &name) {
    // The settings file is anybody's text, pasted from anywhere: a host or a display name must
    // never become markup in a page that runs with scripts and reads local files.
    QString link = u"<a onmouseup='document.body.focus()' href='http://网址'>名称</a>"_s;
    // The host goes in first, so a display name that itself holds "网址" stays as it is.
    link.replace(u"网址"_s, htmlText::escaped(host));
    link.replace(u"名称"_s, htmlText::escaped(name));
    return link;
}

} // namespace

QString siteListBlock(const QList<std::pair<QString, QString>> &sites) {
    QString cells;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        const QString link = siteLink(sites.at(i).first, sites.at(i).second);
        switch (i % 3) {
        case 0:
            cells += u"<tr><td align='left'>"_s + link + u"</td>"_s;
            break;
        case 1:
            cells += u"<td align='center'>"_s + link + u"</td>"_s;
            break;
        default:
            cells += u"<td align='right'>"_s + link + u"</td></tr>"_s;
            break;
        }
    }
    for (qsizetype i = sites.size(); i % 3 != 0; ++i)
        cells += u"<td></td>"_s;
    return kStartMarker + u"<table width='100%'>"_s + cells + u"</table>"_s + kEndMarker;
}

QList<std::pair<QString, QString>> listedSites(const QString &settingsText) {
    QList<std::pair<QString, QString>> sites;
    const auto matches = norModule::allMatches(
        settingsText,
        u"\\[(.*?)\\]\\r\\n%1=(.*?)\\r\\n"_s.arg(siteKeys::name(siteKeys::Key::TagName)));
    if (!matches)
        return sites;
    for (const norModule::RuleMatch &match : *matches)
        sites.append({match.subMatch(0), match.subMatch(1)});
    return sites;
}

bool buildSiteList(const QString &settingsPath, const QString &helpPath) {
    const auto settings = charset::readTextFile(u"gbk"_s, settingsPath);
    if (!settings)
        return true;
    const auto sites = listedSites(*settings);
    if (sites.isEmpty())
        return true;
    // A missing page is not created: the window then shows a blank help area.
    if (!QFileInfo(helpPath).isFile())
        return true;
    const auto page = charset::readTextFile(u"gbk"_s, helpPath);
    if (!page)
        return true;
    // The replacement follows JavaScript's "$" rules; a "$" in a host or a display name is text.
    QString block = siteListBlock(sites);
    block.replace(u"$"_s, u"$$"_s);
    const QString updated =
        norModule::regReplace(*page, kStartMarker + u".*?"_s + kEndMarker, block);
    return charset::writeTextFile(updated, u"gbk"_s, helpPath);
}

} // namespace siteList
