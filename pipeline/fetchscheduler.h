#pragma once
// Decides when each page of a job is requested once its FetchPolicy is active: the page the job
// waits for first, then the pages it will want next in the order it will want them (a chapter's
// follow-on pages before later chapters), at most N requests in flight, the starts of two
// requests to one host spaced, failures that may pass tried again after a backoff, and pages an
// earlier run kept taken from the cache. What waits for its turn is bounded in bytes, not pages. A
// site that answers 429 or 5xx is given room as a whole until the page is tried again. It runs on
// the job's thread's event loop: requests start and end whenever the job lets events run, not only
// while it waits for a page.

#include "net/parallelclient.h"
#include "net/responsecache.h"
#include "pipeline/fetchpolicy.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

class JobView;
class QEventLoop;

// A page as the scheduler hands it over.
struct ScheduledPage {
    HttpResult result;
    // The page's text as the steps see it, when it was decoded on arrival ahead of its turn, and
    // the character set it was decoded in.
    std::optional<QString> text;
    QString charset;
    bool fromCache = false; // taken from what an earlier run kept
};

class FetchScheduler {
public:
    FetchScheduler(JobView &view, const FetchPolicy &policy, const QString &bookUrl,
                   const TransferLimits &limits);

    // Sent from now on with every request to the host of contentsUrl and the hosts below it.
    void setCookie(const QString &cookie, const QString &contentsUrl) {
        m_cookie = cookie;
        m_cookieUrl = contentsUrl;
    }

    // The first pages of the chapters from first to last of urls, which the job will want in
    // this order: they are fetched ahead while there is room.
    void planChapters(const QStringList &urls, int first, int last);

    // A further page the job is expected to want: page (from 1) of chapter. An address already
    // known stays as it is.
    void want(const QString &url, int chapter, int page);

    // The job moves on to chapter: what was fetched for earlier chapters and not used goes.
    void beginChapter(int chapter);

    // Fetches url ahead of everything else, or takes it when it has arrived, and waits for it
    // while the view's events run; meanwhile runs once the requests have been started. nullopt
    // when the user stopped the job: every request in flight is then given up. A page that has
    // failed for good is handed over at once, and nothing more is started until the next take.
    std::optional<ScheduledPage> take(const QString &url,
                                      const std::function<void()> &meanwhile = {});

    // Called when a page fetched ahead has arrived whole; may fill in its text and call want().
    std::function<void(int chapter, int page, ScheduledPage &)> onArrival;

    // The job could not use the page at url it took: it is fetched anew once the backoff of
    // retry number attempt has passed, and the retry is shown with reason.
    void retryLater(const QString &url, int attempt, const QString &reason);

    // The page at url is fetched from the site, never taken from what an earlier run kept: the
    // contents page, which says what the book is now. Holds for the next take of url.
    void fetchFresh(const QString &url) { entryFor(url).fresh = true; }

    // Whether pages are kept for a rerun, and keeping one the job has taken and used.
    bool keepsPages() const { return m_cache && m_storing; }
    void keep(const QString &url, const HttpResult &result);

    // Whether bytes more can be held for pages waiting for their turn, within the bound on what
    // is fetched ahead.
    bool roomAhead(qsizetype bytes) const;

    // A request made around the scheduler (the hidden browser's) starts now: the pause counts
    // from it.
    void noteStart(const QString &url);

    // The job has ended: requests in flight are given up, and after a success the book's cache
    // goes.
    void endJob(bool succeeded);

    // The requests on their way now.
    int inFlight() const { return m_client.inFlight(); }

private:
    enum class State { Waiting, Running, Arrived };
    struct Entry {
        int chapter = -1; // -1: only the job itself asked for it
        int page = 0;
        QString host;
        State state = State::Waiting;
        bool demanded = false; // the job waits for it
        bool probing = false;  // it waits to retry after its site said it was in trouble
        bool fresh = false;    // never taken from the cache
        int retries = 0;
        qint64 notBefore = 0; // on m_clock, while a retry waits
        ScheduledPage fetched = {};
    };

    Entry &entryFor(const QString &url);
    void pump();
    void armDueTimer(qint64 now);
    // Runs the thread's events until the demanded page has arrived, or for a short while.
    void waitForEvents();
    bool arrivedAlready(const QString &url) const;
    std::optional<QString> nextToStart(qint64 now);
    bool start(const QString &url, qint64 now);
    void ended(int request, HttpResult result);
    void settle(int request, HttpResult result);
    void arrived(const QString &url, HttpResult result, bool fromCache);
    void abandonAll();
    void noteRetry(const QString &url, int attempt, const QString &why, qint64 waitMs);
    // The bytes of the pages fetched ahead that have arrived and wait for their turn.
    qint64 heldBytes() const;
    void showProgress();

    JobView &m_view;
    FetchPolicy m_policy;
    ParallelClient m_client;
    std::optional<ResponseCache> m_cache;
    bool m_storing = true; // false once a cache entry could not be written
    QString m_cookie;
    QString m_cookieUrl; // the contents page whose host the cookie belongs to
    QElapsedTimer m_clock;
    QHash<QString, Entry> m_entries;
    QHash<int, QString> m_requests;     // the address each request in flight fetches
    QHash<QString, qint64> m_lastStart; // per host, on m_clock
    QHash<QString, qint64> m_heldUntil; // per host in trouble: the retry nothing goes before
    qint64 m_pauseUntil = -1;           // the next start the pause allows, when it held one back
    QTimer m_dueTimer;                  // the next retry, pause or hold that runs out
    QEventLoop *m_waiting = nullptr;    // while take() waits
    bool m_demandFailed = false;        // the page the job waits for failed for good
    bool m_ended = false;
    QStringList m_plan;
    int m_planNext = 0;
    int m_planAt = 0; // the chapter the job is at
    int m_planLast = -1;
    int m_retries = 0;
    // The transfer speed: bytes arrived, and when it was last shown.
    qint64 m_received = 0;
    qint64 m_receivedShown = 0;
    qint64 m_speedShownAt = 0;
    std::pair<int, int> m_transfersShown{-1, -1};
};
