#pragma once
// Fetching the job's pages: every page of a job goes through handleWeb, which collects the
// site's cookie on the job's first request, reports the response's progress and speed, inflates
// and decodes the body, lets the hidden browser build a scripted contents page, and hands the
// page to the job's step for its kind. A job whose FetchPolicy is active has its requests made
// by a FetchScheduler, which fetches the pages the steps will want ahead of their turn.

#include "net/httpclient.h"
#include "pipeline/downloadjob.h"
#include "pipeline/fetchpolicy.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class FetchScheduler;
struct ScheduledPage;

class HiddenBrowser;
class JobView;

namespace book {
struct BookOutline;
}

// The page in hand: what it was asked for as, and what came back.
struct FetchedPage {
    QString url;
    PageKind kind = PageKind::Contents;
    QString text;              // decoded, and tidied as the steps read pages
    bool gzip = false;         // the body came gzipped
    qint32 expectedLength = 0; // from "Content-Length", else 102400
    qint32 receivedLength = 0; // of the body so far
};

// The steps a fetched page is handed to: the contents page, and a chapter's pages. A job chooses
// its steps when it starts: the chapter loop for a rule site, the plug-in's steps for a plug-in
// site, the rule check's steps for a check.
class PageSteps {
public:
    virtual ~PageSteps() = default;
    virtual void contentsStep(const FetchedPage &page) = 0;
    virtual void chapterStep(const FetchedPage &page) = 0;
    // Work a step left for the time the next request waits for its answer; it must not depend
    // on that answer, and must not fail.
    virtual void whileWaiting() {}
    // The follow-on page that pageText, a page of the chapter at index chapter, leads to, as the
    // chapter step would find it; nullopt when none. Used only to fetch pages ahead.
    virtual std::optional<QString> followOnOf(int chapter, const QString &pageText) {
        Q_UNUSED(chapter);
        Q_UNUSED(pageText);
        return std::nullopt;
    }
};

class PageFetcher : private HttpEvents {
public:
    PageFetcher(DownloadJob &job, JobView &view, HttpClient &http, HiddenBrowser &browser,
                HiddenBrowser &renderer);
    ~PageFetcher() override;

    void setSteps(PageSteps *steps) { m_steps = steps; }

    // How the next job's requests are made; a policy that is not active keeps one plain request
    // at a time. Holds for the job that handleWeb starts next.
    void setPolicy(const FetchPolicy &policy) { m_policy = policy; }

    // The first pages of the wanted chapters, from first to last of urls, in the order the
    // steps will ask for them; and the chapter the steps begin now. With an active policy they
    // are fetched ahead; otherwise nothing happens.
    void planChapters(const QStringList &urls, int first, int last);
    void beginChapter(int chapter);

    // Fetches url as the job's next page, of kind, and hands it on. A step that asks for the next
    // page from within itself has it fetched once it has returned, so there is one request at a
    // time and no nesting; the outermost call starts the job as a success and returns when the
    // job has ended. A failed request fails the job.
    void handleWeb(const QString &url, PageKind kind);

    // The only ways a job ends otherwise than in success: failed, for a reason the user is shown
    // at once, or stopped by the user.
    void fail(const QString &reason);
    void stop() { m_job.endState = EndState::Stopped; }

    // Writes the job's book (pipeline::writeBook); a failed write fails the job with the
    // writer's reason. A book of text only (a plug-in's) has an outline without pages.
    void writeBook(const QString &text, const book::BookOutline &outline);
    void writeBook(const QString &text, const QString &title);

    // The page last handed to the steps, or on its way.
    const FetchedPage &page() const { return m_page; }

    // The cookie the site's contents page sets when a browser opens it ("" when none). A plain
    // page's is read from the site's answer to a request of the program's own: the browser is
    // started only for a page that may do more than its answer says.
    QString fetchCookie(const QString &url);

    // Called by a step that cannot use the page in hand (its rules found nothing in it): the
    // page is not kept in the response cache, and while the job's retries allow it is asked for
    // again after a backoff, the reason shown as a retry. True then, and the step returns at
    // once; false when the step must do without the page.
    bool rejectPage(const QString &reason);

private:
    // A page's text decoded ahead of its turn, and the character set used.
    struct EarlyText {
        QString text;
        QString charset;
    };

    void fetchPage(const QString &url, PageKind kind);
    // fetchCookie's answer for a plain page; nullopt when the page is not plain or its request
    // failed.
    std::optional<QString> plainPageCookie(const QString &url);
    // false after setting the job's failure when result is not the page asked for.
    bool accepted(const QString &url, const HttpResult &result);
    void fetchScheduled(const QString &url);
    // Lets the steps work while a request waits for its answer.
    void whileWaiting();
    void pageArrived(int chapter, int page, ScheduledPage &fetched);
    void responseStarted(const ResponseHead &head) override;
    void dataArrived(QByteArrayView piece) override;
    bool keepWaiting() override;
    void responseFinished(QByteArray body, std::optional<EarlyText> early = std::nullopt);

    DownloadJob &m_job;
    JobView &m_view;
    HttpClient &m_http;
    HiddenBrowser &m_browser;
    HiddenBrowser &m_renderer;
    PageSteps *m_steps = nullptr;
    bool m_running = false;
    QElapsedTimer m_responseClock; // since the current response began
    std::optional<std::pair<QString, PageKind>> m_queued;
    FetchedPage m_page;
    bool m_pageRejected = false;    // its step could not use it
    QHash<QString, int> m_rejected; // how often each page was asked for again in this job
    FetchPolicy m_policy;
    std::unique_ptr<FetchScheduler> m_scheduler; // while a job with an active policy runs
};
