#include "pipeline/pipeline.h"

#include "pipeline/fetchpolicy.h"
#include "pipeline/jobview.h"
#include "pipeline/loadsiterules.h"

#include <QCoreApplication>
#include <QThread>

using namespace Qt::StringLiterals;

Pipeline::Pipeline(JobView &view, QObject *parent, TransferLimits limits)
    : QObject(parent)
    , m_view(view)
    , m_parts(m_job, view, this, limits) {
    m_readyTimer.setSingleShot(true);
    m_readyTimer.setInterval(2000);
    connect(&m_readyTimer, &QTimer::timeout, this,
            [this] { m_view.setStatus(u"取书进度：准备就绪！"_s); });
}

QString Pipeline::resultMessage(EndState endState) {
    switch (endState) {
    case EndState::Success:
        return u"取书进度：下载成功！"_s;
    case EndState::Failure:
        return u"取书进度：下载失败！"_s;
    case EndState::Stopped:
        return u"取书进度：用户中断！"_s;
    }
    return {};
}

std::optional<EndState> Pipeline::download(ChapterStore &store) {
    if (m_running)
        return std::nullopt;
    m_parts.chapterLoop.setStore(&store);
    const auto ended = download();
    m_parts.chapterLoop.setStore(nullptr);
    return ended;
}

std::optional<EndState> Pipeline::download() {
    // The browsers, the timer and the view's events all live on the application's thread.
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    if (m_running)
        return std::nullopt;
    m_job.inputs = m_view.jobInputs();
    if (!pipeline::loadSiteRules(m_job, m_view))
        return std::nullopt;
    m_running = true;
    m_parts.fetcher.setSteps(&m_parts.stepsFor(m_job));
    m_parts.fetcher.setPolicy(pipeline::fetchPolicy(m_job.inputs, m_job.host));
    setIdle(false);
    m_job.report = JobReport();
    m_job.report.encoding = m_job.inputs.encoding;
    m_parts.fetcher.handleWeb(m_job.inputs.contentsUrl, PageKind::Contents);
    setIdle(true);
    m_running = false;
    return m_job.endState;
}

void Pipeline::setIdle(bool idle) {
    if (idle) {
        m_view.setStatus(resultMessage(m_job.endState));
        if (m_job.endState == EndState::Success && !m_job.report.isEmpty())
            m_view.showReport(m_job.report);
        // One plug-in object serves one job, whatever its outcome.
        m_job.plugin.reset();
        m_readyTimer.start();
    } else {
        m_readyTimer.stop();
    }
    m_view.showRunning(!idle);
}
