#pragma once
// The download job's controller and the owner of everything a job uses: the job record, the HTTP
// request object, the two hidden browsers, the script engine, and the steps. A front end keeps
// one for its whole life and reaches it through its JobView.

#include "analysis/scriptengine.h"
#include "net/httpclient.h"
#include "pipeline/chapterloop.h"
#include "pipeline/downloadjob.h"
#include "pipeline/hiddenbrowser.h"
#include "pipeline/pagefetch.h"

#include <QObject>
#include <QTimer>

class JobView;

class Pipeline : public QObject {
    Q_OBJECT
public:
    enum class Outcome { NoRules, Success, Failure, Stopped };

    explicit Pipeline(JobView &view, QObject *parent = nullptr, TransferLimits limits = {});

    // The download button: loads the site's rules and runs the whole job for the view's
    // contents-page address, returning when it has ended. A site without rules starts no job.
    Outcome download();

    // The job's state as the last job left it.
    const DownloadJob &job() const { return m_job; }

    // The result message that stands for endState; "" for any other value.
    static QString resultMessage(int endState);

private:
    void setIdle(bool idle);

    JobView &m_view;
    DownloadJob m_job;
    HttpClient m_http;
    HiddenBrowser m_browser;  // loads contents pages for their cookies
    HiddenBrowser m_renderer; // builds scripted pages and renders chapter text
    ScriptEngine m_scripts;
    PageFetcher m_fetcher;
    ChapterLoop m_steps;
    // Puts the status line back to its resting text two seconds after a job has ended.
    QTimer m_readyTimer;
};
