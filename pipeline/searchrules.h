#pragma once
// A site's search rules and the work on them that needs no network: reading them from the site's
// section (never writing), the request a title makes, the results a search page holds, and the
// order the results of all sites are shown in.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct HttpResult;

// One result: a book's contents page as a site's search found it.
struct SearchResult {
    QString contentsUrl;
    QString title;
    QString author;   // "" when the rule has no third group
    QString siteName; // the section's tagName, or its host when it has none
    QString siteHost; // the section's name
};

// A site whose search could not be read, and why.
struct SearchFailure {
    QString siteName;
    QString siteHost;
    QString reason;
};

namespace search {

// The search keys of one section, with the rules that read a contents page it leads to.
struct SearchSite {
    QString section;
    QString name;
    QString searchUrl;
    QString searchPost; // "" for a GET
    // searchCharset, else tagCharset's first part: the title is encoded in it (in UTF-8 when it is
    // "") and the page decoded with it (its set detected when it is "")
    QString charset;
    QStringList tagSearch;
    QStringList tagTitle;
    QStringList tagAuthor;
};

// The request a search makes.
struct SearchRequest {
    QString url;
    std::optional<QByteArray> form; // a POST's body
    // Characters of the title the site's character set lacks; they would go as "?", so that the
    // site would be asked for another title.
    qsizetype unencodable = 0;
};

// The section's search rules as they stand; nullopt when it lacks searchUrl or tagSearch.
std::optional<SearchSite> loadSite(const QString &section);
// Every section with searchUrl and tagSearch, in the settings file's order.
QList<SearchSite> searchableSites();

// title in the named character set (UTF-8 for "" or an unknown name), every byte but letters,
// digits and "-._~" percent-encoded.
QByteArray encodedKey(const QString &title, const QString &charset);
SearchRequest searchRequest(const SearchSite &site, const QString &title);

// A response body as the search rules read it: inflated, decoded in the site's character set
// (detected when it is "" or not a known one), without line ends; nullopt when it cannot be
// inflated.
std::optional<QString> pageText(const HttpResult &result, const QString &charset);

// The results on a search page at pageUrl (the address it came from, after redirects). A page
// that redirected is taken as the single result when tagSearch finds nothing and tagTitle
// matches it: the site sent the reader straight to the book. Addresses that are not web pages
// are left out, and so are addresses of this machine or a private network on a page that is
// not itself from one. nullopt, with the alternative in *failedRule, when an alternative tried is
// invalid or the engine gave up on it: as with every rule, no later alternative is tried.
std::optional<QList<SearchResult>> pageResults(const SearchSite &site, const QString &pageUrl,
                                               const QString &text, bool redirected,
                                               QString *failedRule = nullptr);

// results in the order they are shown: the exact title first, then titles that start with the
// query, then those that contain it, then the rest, each rank in the order given; of results with
// the same contents address only the first in that order stays.
QList<SearchResult> rankedResults(const QList<SearchResult> &results, const QString &query);

} // namespace search
