#pragma once
// The download job's controller and the owner of everything a job uses: the job record and the
// parts JobParts builds for it. A front end keeps one for its whole life and reaches it through
// its JobView.

#include "pipeline/downloadjob.h"
#include "pipeline/jobfactory.h"

#include <QObject>
#include <QTimer>

#include <optional>

class ChapterStore;
class JobView;

class Pipeline : public QObject {
    Q_OBJECT
public:
    explicit Pipeline(JobView &view, QObject *parent = nullptr, TransferLimits limits = {});

    // The download button: takes the view's inputs, loads the site's rules and runs the whole
    // job, returning how it ended once it has. nullopt when no job started: the site has no rules,
    // or a job is already running (a second download button press from within the first).
    // Runs on the thread of the application object only.
    std::optional<EndState> download();
    // The same with a store the chapter loop takes held chapters from and keeps fetched ones in
    // (an update); a plug-in site's job does not use it.
    std::optional<EndState> download(ChapterStore &store);

    bool running() const { return m_running; }

    // The job's state as the last job left it.
    const DownloadJob &job() const { return m_job; }

    // The result message that stands for endState.
    static QString resultMessage(EndState endState);

private:
    void setIdle(bool idle);

    JobView &m_view;
    DownloadJob m_job;
    JobParts m_parts;
    bool m_running = false;
    // Puts the status line back to its resting text two seconds after a job has ended.
    QTimer m_readyTimer;
};
