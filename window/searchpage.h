#pragma once
// The pages the help browser shows for a search: its results, or why it did not run. Every text
// from a site is escaped, and the pages hold no script.

#include "pipeline/searchrules.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace searchPage {

// The results for title, each a link to its kestrelon: pick address, and the sites that failed;
// helpPage is where the page's way back leads.
QString resultsPage(const QString &title, const QList<SearchResult> &results,
                    const QList<SearchFailure> &failures, const QUrl &helpPage);

// A page that only says message, with the way back.
QString messagePage(const QString &message, const QUrl &helpPage);

} // namespace searchPage
