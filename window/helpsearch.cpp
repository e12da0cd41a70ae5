#include "window/helpsearch.h"

#include "pipeline/booksearch.h"
#include "window/searchpage.h"
#include "window/searchscheme.h"

#include <QBuffer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

HelpSearch::HelpSearch(QWebEngineView *view, QObject *parent)
    : QObject(parent)
    , m_view(view) {
    // Off the record and the help browser's alone: the hidden browsers load sites' pages in
    // profiles of their own, which know nothing of the scheme.
    auto *profile = new QWebEngineProfile(this);
    auto *handler = new SearchSchemeHandler(profile);
    profile->installUrlSchemeHandler(searchScheme::kScheme, handler);
    m_view->setPage(new QWebEnginePage(profile, m_view));
    connect(handler, &SearchSchemeHandler::searchRequested, this, &HelpSearch::search);
    connect(handler, &SearchSchemeHandler::picked, this, [this](const QString &contentsUrl) {
        if (m_downloading)
            return;
        emit picked(contentsUrl);
        // The chosen request is given up by now; the help page follows it.
        QMetaObject::invokeMethod(
            this, [this] { showHelp(m_helpPage); }, Qt::QueuedConnection);
    });
}

HelpSearch::~HelpSearch() {
    if (m_search)
        m_search->cancel();
}

void HelpSearch::showHelp(const QUrl &helpPage) {
    m_helpPage = helpPage;
    m_view->load(helpPage);
}

bool HelpSearch::searching() const {
    return m_search && m_search->running();
}

void HelpSearch::search(const QString &title, QWebEngineUrlRequestJob *job) {
    if (m_downloading) {
        answer(job, searchPage::messagePage(u"正在下载，下载结束后才能搜索。"_s, m_helpPage));
        return;
    }
    if (title.isEmpty()) {
        answer(job, searchPage::messagePage(u"请输入书名。"_s, m_helpPage));
        return;
    }
    if (!m_search) {
        m_search.reset(new BookSearch);
        connect(m_search.get(), &BookSearch::finished, this,
                [this](const QList<SearchResult> &results, const QList<SearchFailure> &failures) {
                    emit statusChanged(u"取书进度：搜索结束！"_s);
                    if (m_waiting)
                        answer(m_waiting, searchPage::resultsPage(m_waitingTitle, results, failures,
                                                                  m_helpPage));
                    m_waiting = nullptr;
                });
    }
    // A new search replaces one still running. The engine drops the old request when the new
    // one leaves its page; should it still hold it, it is given up here.
    if (m_waiting)
        m_waiting->fail(QWebEngineUrlRequestJob::RequestAborted);
    m_waiting = job;
    m_waitingTitle = title;
    // A reader who leaves the page before the results come no longer wants them.
    // (By the time the request's destroyed comes, the pointer to it reads null.)
    connect(job, &QObject::destroyed, m_search.get(), [this] {
        if (m_waiting || !m_search->running())
            return;
        m_search->cancel();
        emit statusChanged(u"取书进度：准备就绪！"_s);
    });
    emit statusChanged(u"取书进度：正在搜索……"_s);
    m_search->start(title);
}

void HelpSearch::answer(QWebEngineUrlRequestJob *job, const QString &page) {
    auto *body = new QBuffer(job);
    body->setData(page.toUtf8());
    job->reply("text/html", body);
}
