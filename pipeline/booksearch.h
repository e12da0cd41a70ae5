#pragma once
// Finding a book by its title on every site whose section has search rules. The search runs on
// the event loop of the thread that starts it, so a window stays responsive while it runs; its
// requests are a job's (identity, proxy, cookie step, address guard).

#include "pipeline/searchrules.h"

#include <QObject>

#include <chrono>
#include <memory>

class BookSearch : public QObject {
    Q_OBJECT
public:
    // The longest one site may take, its cookie step and its answer together. The cookie step
    // has a quarter of it (the hidden browser's load limit).
    static constexpr std::chrono::milliseconds kSiteLimit{20000};
    // Requests in flight at once; one host never has more than one.
    static constexpr int kMaxSites = 8;

    explicit BookSearch(QObject *parent = nullptr,
                        std::chrono::milliseconds siteLimit = kSiteLimit);
    ~BookSearch() override;

    // Starts searching for title on every site with searchUrl and tagSearch (or on the sections
    // named, as the rule checker does) and returns at once; finished follows, also when there is
    // no site to search. A search still running is given up first. A BookSearch that may be
    // running is deleted with deleteLater, as it may be answering a signal of its own.
    void start(const QString &title, const QStringList &sections = {});
    // Gives the running search up; its finished never comes.
    void cancel();
    bool running() const;

    // What one site's search request brought back, for the rule checker.
    struct SitePage {
        QString section;
        QString address;                // as requested, the title encoded
        std::optional<QByteArray> form; // a POST's body
        QString cookie;                 // sent with the request
        long status = 0;
        QString finalUrl; // after redirects
        QString text;     // decoded, as tagSearch runs on it
        QString error;    // why the site failed; "" when it did not
    };
    // Every site's, in the settings file's order, once finished has come.
    QList<SitePage> pages() const;

signals:
    // The results ranked (search::rankedResults) and the sites that failed, in the settings
    // file's order.
    void finished(const QList<SearchResult> &results, const QList<SearchFailure> &failures);

private:
    struct Run;
    struct Site;
    // Starts the cookie steps of the sites that may start now.
    void pump();
    // The site's request, once its cookie step has given cookie.
    void sendRequest(qsizetype index, const QString &cookie);
    void dropBrowser(Site &site);
    void ended(int request, HttpResult result);
    void expire(int generation, qsizetype site);
    void fail(Site &site, const QString &reason);
    void finishIfDone();

    std::unique_ptr<Run> m_run;
    std::chrono::milliseconds m_siteLimit;
    int m_generation = 0;
};
