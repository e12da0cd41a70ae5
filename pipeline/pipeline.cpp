#include "pipeline/pipeline.h"

#include "pipeline/jobview.h"
#include "pipeline/loadsiterules.h"

using namespace Qt::StringLiterals;

Pipeline::Pipeline(JobView &view, QObject *parent, TransferLimits limits)
    : QObject(parent)
    , m_view(view)
    , m_http(limits)
    , m_browser(this, HiddenBrowser::Layout::Skipped)
    , m_renderer(this)
    , m_fetcher(m_job, view, m_http, m_browser, m_renderer)
    , m_steps(m_job, view, m_fetcher, m_scripts, m_renderer) {
    m_fetcher.setSteps(&m_steps);
    m_readyTimer.setSingleShot(true);
    m_readyTimer.setInterval(2000);
    connect(&m_readyTimer, &QTimer::timeout, this,
            [this] { m_view.setStatus(u"取书进度：准备就绪！"_s); });
}

QString Pipeline::resultMessage(int endState) {
    switch (endState) {
    case EndState::Success:
        return u"取书进度：下载成功！"_s;
    case EndState::Failure:
        return u"取书进度：下载失败！"_s;
    case EndState::Stopped:
        return u"取书进度：用户中断！"_s;
    default:
        return {};
    }
}

Pipeline::Outcome Pipeline::download() {
    if (loadSiteRules(m_job, m_view))
        return Outcome::NoRules;
    setIdle(false);
    m_job.endState = EndState::Success;
    m_job.continuation = false;
    m_job.pageKind = PageKind::Contents;
    m_fetcher.handleWeb(m_view.contentsUrl());
    setIdle(true);
    switch (m_job.endState) {
    case EndState::Success:
        return Outcome::Success;
    case EndState::Stopped:
        return Outcome::Stopped;
    default:
        return Outcome::Failure;
    }
}

void Pipeline::setIdle(bool idle) {
    if (idle) {
        const QString message = resultMessage(m_job.endState);
        if (!message.isEmpty())
            m_view.setStatus(message);
        m_readyTimer.start();
    } else {
        m_readyTimer.stop();
    }
    m_view.showRunning(!idle);
}
