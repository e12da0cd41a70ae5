#pragma once
// kestrelon-cli --search: the pipeline's BookSearch run to its end on a local event loop, its
// results printed as a numbered table (or as JSON), and the address --pick chooses from them.

#include "pipeline/booksearch.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace searchcommand {

struct Found {
    QList<SearchResult> results;
    QList<SearchFailure> failures;
    QList<BookSearch::SitePage> pages;
};

// Searches for title on every searchable site (or on the sections named) and waits for the
// answer, letting events run. The bound of each site is BookSearch's, or the milliseconds in
// KESTRELON_SEARCH_LIMIT_MS when that is set (tests use a short one). Needs the application
// object, as the cookie step's hidden browser does.
Found searchNow(const QString &title, const QStringList &sections = {});

enum class Status {
    Found,     // at least one result
    NoResults, // the sites answered, without a result
    Failed,    // every site failed, or there was none to search
};

// --search: the results as a table with the failed sites below it, or as JSON. pick, when not
// 0, is --pick's number: its result's contents address goes into *picked, or the status says
// why there is none.
Status printSearch(const QString &title, bool json, int pick, QString *picked);

} // namespace searchcommand
