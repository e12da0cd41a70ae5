#pragma once
// The help page's list of supported sites, regenerated from the settings file at every start.

#include <QString>
#include <QStringList>

namespace siteList {

// The generated block for these sites (host and display name in settings-file order): the start
// marker, a table of three links a row, the end marker, with no line breaks.
QString siteListBlock(const QList<std::pair<QString, QString>> &sites);

// The sites of settingsText: every section whose header line is followed, as the very next line,
// by "tagName=" and its display name, each line ended by CR LF.
QList<std::pair<QString, QString>> listedSites(const QString &settingsText);

// Rewrites the block between the markers of the help page at helpPath (GBK) with the sites of the
// settings file at settingsPath (GBK). The page is left alone when no site is listed, and when
// either file cannot be read; false only when the page could not be written back.
bool buildSiteList(const QString &settingsPath, const QString &helpPath);

} // namespace siteList
