#include "pipeline/booksearch.h"

#include "browser/hiddenbrowser.h"
#include "net/parallelclient.h"

#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

struct BookSearch::Site {
    enum class State { Waiting, Busy, Done };
    search::SearchSite rules;
    search::SearchRequest request;
    QString host; // of the search page, port included: one request at a time goes there
    State state = State::Waiting;
    int requestId = -1;              // in the client, while the request runs
    QPointer<HiddenBrowser> browser; // the cookie step's, while it runs
    SitePage page;
    QList<SearchResult> results;
    std::optional<QString> failure;
};

// One search: its sites and the client that fetches their pages.
struct BookSearch::Run {
    QString title;
    std::vector<Site> sites;
    ParallelClient client;
    bool done = false;
};

BookSearch::BookSearch(QObject *parent, std::chrono::milliseconds siteLimit)
    : QObject(parent)
    , m_siteLimit(siteLimit) {}

BookSearch::~BookSearch() = default;

bool BookSearch::running() const {
    return m_run && !m_run->done;
}

void BookSearch::cancel() {
    ++m_generation;
    if (m_run) {
        for (Site &site : m_run->sites)
            dropBrowser(site);
    }
    m_run.reset();
}

void BookSearch::dropBrowser(Site &site) {
    if (site.browser)
        site.browser->deleteLater();
    site.browser = nullptr;
}

QList<BookSearch::SitePage> BookSearch::pages() const {
    QList<SitePage> pages;
    if (m_run) {
        for (const Site &site : m_run->sites)
            pages.append(site.page);
    }
    return pages;
}

void BookSearch::start(const QString &title, const QStringList &sections) {
    cancel();
    m_run = std::make_unique<Run>();
    m_run->title = title;
    QList<search::SearchSite> sites;
    if (sections.isEmpty()) {
        sites = search::searchableSites();
    } else {
        for (const QString &section : sections) {
            if (auto site = search::loadSite(section))
                sites.append(*site);
        }
    }
    for (const search::SearchSite &rules : std::as_const(sites)) {
        Site site;
        site.rules = rules;
        site.request = search::searchRequest(rules, title);
        const QUrl address(site.request.url);
        site.host = u"%1:%2"_s.arg(address.host()).arg(address.port());
        site.page.section = rules.section;
        site.page.address = site.request.url;
        site.page.form = site.request.form;
        // A title the site cannot take is not searched for: the site would answer for another.
        if (site.request.unencodable > 0)
            fail(site, u"书名有 %1 个字符无法用 %2 表示"_s.arg(site.request.unencodable)
                           .arg(rules.charset));
        m_run->sites.push_back(std::move(site));
    }
    m_run->client.onEnded = [this](int request, HttpResult result) {
        ended(request, std::move(result));
    };
    // Nothing happens before start() has returned: finished never comes from within it.
    QTimer::singleShot(0, this, [this, generation = m_generation] {
        if (generation == m_generation)
            pump();
    });
}

void BookSearch::pump() {
    if (!m_run)
        return;
    auto &sites = m_run->sites;
    // Each turn starts one site; there are finitely many, and each starts once.
    while (true) {
        const auto busy = std::count_if(sites.cbegin(), sites.cend(), [](const Site &site) {
            return site.state == Site::State::Busy;
        });
        const auto next = std::find_if(sites.begin(), sites.end(), [&sites](const Site &site) {
            return site.state == Site::State::Waiting &&
                   std::none_of(sites.cbegin(), sites.cend(), [&site](const Site &other) {
                       return other.state == Site::State::Busy && other.host == site.host;
                   });
        });
        if (busy >= kMaxSites || next == sites.end())
            break;
        const qsizetype index = next - sites.begin();
        next->state = Site::State::Busy;
        // The cookie step, as a job's: a hidden browser opens the search page and the cookie it
        // earns goes with the request. Each site has a browser of its own, so that the steps
        // run side by side; the step has a quarter of the site's bound, which runs from here.
        next->browser = new HiddenBrowser(this, HiddenBrowser::Layout::Skipped, m_siteLimit / 4);
        next->browser->collectCookie(QUrl(next->request.url), [this, generation = m_generation,
                                                               index](const QString &cookie) {
            if (generation == m_generation && m_run)
                sendRequest(index, cookie);
        });
        QTimer::singleShot(m_siteLimit, this,
                           [this, generation = m_generation, index] { expire(generation, index); });
    }
    finishIfDone();
}

void BookSearch::sendRequest(qsizetype index, const QString &cookie) {
    Site &site = m_run->sites[size_t(index)];
    dropBrowser(site);
    if (site.state != Site::State::Busy)
        return;
    site.page.cookie = cookie;
    // The search page is the requests' origin: when it is public, no connection may reach
    // this machine or a private network, redirects included.
    m_run->client.setOrigin(site.request.url);
    site.requestId = m_run->client.start(site.request.url, site.page.cookie, site.request.form);
    if (site.requestId < 0) {
        fail(site, u"无法创建网络连接"_s);
        pump();
        return;
    }
    m_run->client.kick();
}

void BookSearch::ended(int request, HttpResult result) {
    auto &sites = m_run->sites;
    const auto found = std::find_if(sites.begin(), sites.end(), [request](const Site &site) {
        return site.state == Site::State::Busy && site.requestId == request;
    });
    if (found == sites.end())
        return;
    Site &site = *found;
    site.page.status = result.status;
    site.page.finalUrl = result.url.isEmpty() ? site.request.url : result.url;
    if (!result.ok) {
        fail(site, result.error);
    } else if (result.status >= 400) {
        fail(site, u"HTTP %1"_s.arg(result.status));
    } else if (const auto text = search::pageText(result, site.rules.charset)) {
        site.page.text = *text;
        const bool redirected = QUrl(site.page.finalUrl) != QUrl(site.request.url);
        QString failedRule;
        if (auto results = search::pageResults(site.rules, site.page.finalUrl, *text, redirected,
                                               &failedRule)) {
            site.results = std::move(*results);
            site.state = Site::State::Done;
        } else {
            fail(site, u"规则 tagSearch 无效或在搜索页上超出匹配上限：%1"_s.arg(failedRule));
        }
    } else {
        fail(site, u"网页的 gzip 数据无法解压"_s);
    }
    // The next sites start from the event loop, not from within the client's callback.
    QTimer::singleShot(0, this, [this, generation = m_generation] {
        if (generation == m_generation)
            pump();
    });
}

void BookSearch::expire(int generation, qsizetype index) {
    if (generation != m_generation || !m_run)
        return;
    Site &site = m_run->sites[size_t(index)];
    if (site.state != Site::State::Busy)
        return;
    dropBrowser(site);
    if (site.requestId >= 0)
        m_run->client.abandon(site.requestId);
    const double seconds = double(m_siteLimit.count()) / 1000;
    fail(site, u"%1 秒内没有回答"_s.arg(seconds));
    // A site of the same host may start now.
    pump();
}

void BookSearch::fail(Site &site, const QString &reason) {
    site.state = Site::State::Done;
    site.failure = reason;
    site.page.error = reason;
}

void BookSearch::finishIfDone() {
    if (!m_run || m_run->done)
        return;
    const auto &sites = m_run->sites;
    if (!std::all_of(sites.cbegin(), sites.cend(),
                     [](const Site &site) { return site.state == Site::State::Done; }))
        return;
    m_run->done = true;
    QList<SearchResult> results;
    QList<SearchFailure> failures;
    for (const Site &site : sites) {
        results += site.results;
        if (site.failure)
            failures.append({site.rules.name, site.rules.section, *site.failure});
    }
    emit finished(search::rankedResults(results, m_run->title), failures);
}
