#pragma once
// Fetching the job's pages: every page of a job goes through handleWeb, which collects the
// site's cookie on the job's first request, reports the response's progress and speed, inflates
// and decodes the body, lets the hidden browser build a scripted contents page, and hands the
// page to the job's step for its kind.

#include "net/httpclient.h"

#include <QElapsedTimer>
#include <QString>

#include <optional>

struct DownloadJob;
class HiddenBrowser;
class JobView;

// The steps a fetched page is handed to: the contents page, and a chapter's pages. A job chooses
// its steps when it starts: the chapter loop for a rule site, the plug-in's steps for a plug-in
// site.
class PageSteps {
public:
    virtual ~PageSteps() = default;
    virtual void contentsStep() = 0;
    virtual void chapterStep(const QString &page) = 0;
};

class PageFetcher : private HttpEvents {
public:
    PageFetcher(DownloadJob &job, JobView &view, HttpClient &http, HiddenBrowser &browser,
                HiddenBrowser &renderer);

    void setSteps(PageSteps *steps) { m_steps = steps; }

    // Fetches url as the job's next page (of the job's current pageKind) and hands it on. A step
    // that asks for the next page from within itself has it fetched once it has returned, so
    // there is one request at a time and no nesting; the outermost call returns when the job has
    // ended. A failed request sets endState to failure and ends the job.
    void handleWeb(const QString &url);

    // The cookie the site's contents page sets when a browser opens it ("" when none).
    QString fetchCookie(const QString &url);

private:
    void fetchPage(const QString &url);
    void responseStarted(const ResponseHead &head) override;
    void dataArrived(QByteArrayView piece) override;
    bool keepWaiting() override;
    void responseFinished(QByteArray body);

    DownloadJob &m_job;
    JobView &m_view;
    HttpClient &m_http;
    HiddenBrowser &m_browser;
    HiddenBrowser &m_renderer;
    PageSteps *m_steps = nullptr;
    bool m_running = false;
    bool m_responseStarted = false;
    QElapsedTimer m_responseClock; // since the current response began
    std::optional<QString> m_queued;
};
