#include "pipeline/fetchscheduler.h"

#include "net/retrypolicy.h"
#include "pipeline/jobview.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// The longest take() waits for its page before the stop request is looked at and the view's
// events run again.
constexpr int kEventsEveryMs = 50;
// How often the speed of the transfers is shown.
constexpr qint64 kSpeedEveryMs = 500;
// The most the pages fetched ahead may hold, as they came and as text, while they wait for
// their turn: a small compressed page can inflate a thousandfold.
constexpr qint64 kMaxHeldBytes = qint64(64) << 20;

qint64 bytesOf(const ScheduledPage &page) {
    return page.result.body.size() + (page.text ? page.text->size() * qint64(sizeof(QChar)) : 0);
}

QString hostOf(const QString &url) {
    return QUrl(url).host().toLower();
}

} // namespace

FetchScheduler::FetchScheduler(JobView &view, const FetchPolicy &policy, const QString &bookUrl,
                               const TransferLimits &limits)
    : m_view(view)
    , m_policy(policy)
    , m_client(limits) {
    // Pages of a public site may not lead the job's requests to this machine or its network.
    m_client.setOrigin(bookUrl);
    m_client.onEnded = [this](int request, HttpResult result) {
        ended(request, std::move(result));
    };
    if (policy.resume)
        m_cache.emplace(bookUrl);
    m_dueTimer.setSingleShot(true);
    QObject::connect(&m_dueTimer, &QTimer::timeout, &m_dueTimer, [this] { pump(); });
    m_clock.start();
}

FetchScheduler::Entry &FetchScheduler::entryFor(const QString &url) {
    auto found = m_entries.find(url);
    if (found == m_entries.end())
        found = m_entries.insert(url, Entry{.host = hostOf(url)});
    return *found;
}

void FetchScheduler::planChapters(const QStringList &urls, int first, int last) {
    m_plan = urls;
    m_planNext = std::max(first, 0);
    m_planAt = m_planNext;
    m_planLast = std::min(last, int(urls.size()) - 1);
    // The first chapters are on their way while the job still works on the contents page.
    pump();
    m_client.kick();
}

void FetchScheduler::want(const QString &url, int chapter, int page) {
    // Started by the pump that follows the arrival announcing it: starting it here could take
    // page after page from the cache, each arrival wanting the next, ever deeper.
    if (!m_entries.contains(url))
        m_entries.insert(url, Entry{.chapter = chapter, .page = page, .host = hostOf(url)});
}

void FetchScheduler::beginChapter(int chapter) {
    // The job asks for this chapter itself; the plan goes on after it.
    m_planNext = std::max(m_planNext, chapter + 1);
    m_planAt = chapter;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (!it->demanded && it->chapter >= 0 && it->chapter < chapter) {
            // A request still in flight for it runs out unheeded.
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        if (!m_entries.contains(it.value()))
            it = m_requests.erase(it);
        else
            ++it;
    }
}

std::optional<ScheduledPage> FetchScheduler::take(const QString &url,
                                                  const std::function<void()> &meanwhile) {
    // The steps let no events run while they work on a page: the transfers that have ended
    // since are collected and their successors sent before a page at hand is handed over, or
    // the requests in flight would dwindle while the job works through pages fetched ahead.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_client.kick();
    // A new demand: what the failure of an earlier one held back may start again.
    m_demandFailed = false;
    entryFor(url).demanded = true;
    bool started = false;
    for (;;) {
        if (m_view.stopRequested()) {
            abandonAll();
            return std::nullopt;
        }
        // Looked up afresh each time: a page's arrival may add entries and move the others.
        const auto found = m_entries.find(url);
        if (found == m_entries.end()) {
            entryFor(url).demanded = true;
            continue;
        }
        if (found->state == State::Arrived) {
            ScheduledPage page = std::move(found->fetched);
            m_entries.erase(found);
            // The job has moved on, and the plan with it; what starts now goes out at once.
            pump();
            m_client.kick();
            if (!started && meanwhile)
                meanwhile();
            showProgress();
            return page;
        }
        pump();
        if (!std::exchange(started, true)) {
            // What was just started goes out before the steps turn to their own work.
            m_client.kick();
            if (meanwhile)
                meanwhile();
            continue;
        }
        if (!arrivedAlready(url))
            waitForEvents();
        m_view.processEvents();
        showProgress();
    }
}

bool FetchScheduler::arrivedAlready(const QString &url) const {
    const auto found = m_entries.constFind(url);
    return found != m_entries.cend() && found->state == State::Arrived;
}

void FetchScheduler::waitForEvents() {
    // The requests run on the thread's events; the stop request is looked at again after a
    // short while, as the front end's events (a click on "stop") run here too.
    QEventLoop loop;
    QEventLoop *outer = std::exchange(m_waiting, &loop);
    QTimer::singleShot(kEventsEveryMs, &loop, &QEventLoop::quit);
    loop.exec();
    m_waiting = outer;
}

void FetchScheduler::noteStart(const QString &url) {
    m_lastStart.insert(hostOf(url), m_clock.elapsed());
}

void FetchScheduler::endJob(bool succeeded) {
    m_ended = true;
    abandonAll();
    // The book has been written: nothing of it needs fetching again.
    if (succeeded && m_cache)
        m_cache->remove();
}

void FetchScheduler::retryLater(const QString &url, int attempt, const QString &reason) {
    const qint64 wait =
        retryPolicy::backoffMs(attempt, QRandomGenerator::global()->generateDouble());
    Entry &entry = entryFor(url);
    entry.state = State::Waiting;
    entry.notBefore = m_clock.elapsed() + wait;
    ++m_retries;
    noteRetry(url, attempt, reason, wait);
    armDueTimer(m_clock.elapsed());
}

void FetchScheduler::keep(const QString &url, const HttpResult &result) {
    // A cache that cannot be written is given up for the rest of the job; the book does not
    // depend on it.
    if (m_cache && m_storing)
        m_storing = m_cache->store(url, result);
}

qint64 FetchScheduler::heldBytes() const {
    qint64 held = 0;
    for (const Entry &entry : m_entries) {
        if (!entry.demanded && entry.state == State::Arrived)
            held += bytesOf(entry.fetched);
    }
    return held;
}

bool FetchScheduler::roomAhead(qsizetype bytes) const {
    return heldBytes() + bytes <= kMaxHeldBytes;
}

void FetchScheduler::noteRetry(const QString &url, int attempt, const QString &why, qint64 waitMs) {
    m_view.noteRetry(url, attempt,
                     u"%1，%2 秒后再试"_s.arg(why).arg(double(waitMs) / 1000, 0, 'f', 1));
}

void FetchScheduler::abandonAll() {
    m_client.abandonAll();
    m_requests.clear();
    m_entries.clear();
    m_dueTimer.stop();
}

void FetchScheduler::pump() {
    // After a stop nothing is left running and nothing starts, whether the job waits for a
    // page or its steps are at work.
    if (m_view.stopRequested()) {
        abandonAll();
        return;
    }
    // The job ends once it has the page it waited for and that page failed: pages ahead of it,
    // and their retries, are of no use.
    if (m_ended || m_demandFailed)
        return;
    m_pauseUntil = -1;
    const qint64 now = m_clock.elapsed();
    while (m_client.inFlight() < m_policy.parallel) {
        const auto url = nextToStart(now);
        if (!url || !start(*url, now))
            break;
    }
    armDueTimer(now);
}

void FetchScheduler::armDueTimer(qint64 now) {
    qint64 next = -1;
    const auto consider = [&next, now](qint64 at) {
        if (at > now && (next < 0 || at < next))
            next = at;
    };
    consider(m_pauseUntil);
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.state == State::Waiting)
            consider(entry.notBefore);
    }
    for (const qint64 until : std::as_const(m_heldUntil))
        consider(until);
    if (next < 0)
        m_dueTimer.stop();
    else
        m_dueTimer.start(int(std::min<qint64>(next - now, std::numeric_limits<int>::max())));
}

std::optional<QString> FetchScheduler::nextToStart(qint64 now) {
    // A host in trouble has a page waiting to retry after it answered 429 or 5xx: nothing goes
    // to it before that retry is due, and then one request at a time until its pages that
    // failed have come. Other hosts go on.
    QHash<QString, int> troubled; // such a host, and its requests in flight
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.probing)
            troubled.insert(entry.host, 0);
    }
    if (!troubled.isEmpty()) {
        for (const Entry &entry : std::as_const(m_entries)) {
            if (entry.state == State::Running && troubled.contains(entry.host))
                ++troubled[entry.host];
        }
    }
    const auto open = [&](const QString &host) {
        const auto found = troubled.constFind(host);
        return found == troubled.cend() || (*found == 0 && m_heldUntil.value(host) <= now);
    };
    const auto due = [now, &open](const Entry &entry) {
        return entry.state == State::Waiting && entry.notBefore <= now && open(entry.host);
    };
    qint64 held = 0; // bytes of the pages fetched ahead that wait for their turn
    const QString *best = nullptr;
    const Entry *bestEntry = nullptr;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        const Entry &entry = it.value();
        if (entry.demanded) {
            if (due(entry))
                return it.key();
            continue;
        }
        if (entry.state == State::Arrived)
            held += bytesOf(entry.fetched);
        else if (due(entry) && (!bestEntry || std::pair(entry.chapter, entry.page) <
                                                  std::pair(bestEntry->chapter, bestEntry->page))) {
            best = &it.key();
            bestEntry = &entry;
        }
    }
    // Pages fetched ahead wait for their turn in memory, within a bound in bytes.
    if (held >= kMaxHeldBytes)
        return std::nullopt;
    if (best)
        return *best;
    // The plan runs ahead of the chapter the job is at far enough to keep every request busy
    // while the steps work, and no further: on a site that answers at once it would otherwise
    // fill the bound in bytes with thousands of pages, and every look at them would cost in
    // proportion.
    const int ahead = std::max(64, 8 * m_policy.parallel);
    for (; m_planNext <= m_planLast && m_planNext <= m_planAt + ahead; ++m_planNext) {
        const QString &url = m_plan.at(m_planNext);
        if (m_entries.contains(url))
            continue;
        const QString host = hostOf(url);
        // The plan goes on in its order once its host may take requests again.
        if (!troubled.isEmpty() && !open(host))
            return std::nullopt;
        m_entries.insert(url, Entry{.chapter = m_planNext, .page = 0, .host = host});
        ++m_planNext;
        return url;
    }
    return std::nullopt;
}

bool FetchScheduler::start(const QString &url, qint64 now) {
    if (m_cache && !entryFor(url).fresh) {
        if (auto kept = m_cache->load(url)) {
            arrived(url, std::move(*kept), true);
            return true;
        }
    }
    const QString host = hostOf(url);
    if (m_policy.delayMs > 0) {
        const auto last = m_lastStart.constFind(host);
        if (last != m_lastStart.cend() && now < *last + m_policy.delayMs) {
            m_pauseUntil = *last + m_policy.delayMs;
            return false;
        }
    }
    m_lastStart.insert(host, now);
    const bool withCookie = pipeline::cookieGoesTo(m_cookieUrl, url);
    const int request = m_client.start(url, withCookie ? m_cookie : QString());
    Entry &entry = entryFor(url);
    if (request < 0) {
        entry.state = State::Arrived;
        entry.fetched.result.error = u"无法创建网络连接"_s;
        return true;
    }
    entry.state = State::Running;
    m_requests.insert(request, url);
    return true;
}

void FetchScheduler::ended(int request, HttpResult result) {
    settle(request, std::move(result));
    // Room has freed up, and the hold on a host may have gone.
    pump();
}

void FetchScheduler::settle(int request, HttpResult result) {
    const QString url = m_requests.take(request);
    const auto found = m_entries.find(url);
    if (url.isEmpty() || found == m_entries.end())
        return; // dropped while it ran
    m_received += result.body.size();
    if (result.ok && result.status < 400) {
        arrived(url, std::move(result), false);
        return;
    }
    Entry &entry = found.value();
    if (result.transient && entry.retries < m_policy.retries) {
        ++entry.retries;
        ++m_retries;
        const qint64 wait = retryPolicy::waitBeforeRetry(
            entry.retries, result, QRandomGenerator::global()->generateDouble());
        entry.state = State::Waiting;
        entry.notBefore = m_clock.elapsed() + wait;
        if (retryPolicy::siteInTrouble(result)) {
            entry.probing = true;
            qint64 &until = m_heldUntil[entry.host];
            until = std::max(until, entry.notBefore);
        }
        noteRetry(url, entry.retries, result.ok ? u"HTTP %1"_s.arg(result.status) : result.error,
                  wait);
        return;
    }
    // Handed over as it is when its turn comes: the job fails there.
    entry.state = State::Arrived;
    entry.probing = false;
    entry.fetched.result = std::move(result);
    if (entry.demanded) {
        m_demandFailed = true;
        if (m_waiting)
            m_waiting->quit();
    }
}

void FetchScheduler::arrived(const QString &url, HttpResult result, bool fromCache) {
    auto found = m_entries.find(url);
    ScheduledPage page;
    page.result = std::move(result);
    page.fromCache = fromCache;
    if (!found->demanded && found->chapter >= 0 && onArrival) {
        const int chapter = found->chapter;
        const int number = found->page;
        onArrival(chapter, number, page);
        found = m_entries.find(url); // the hook may have added entries
    }
    found->state = State::Arrived;
    found->probing = false;
    found->fetched = std::move(page);
    if (found->demanded && m_waiting)
        m_waiting->quit();
}

void FetchScheduler::showProgress() {
    const std::pair transfers{m_client.inFlight(), m_retries};
    if (transfers != m_transfersShown) {
        m_transfersShown = transfers;
        m_view.showTransfers(transfers.first, transfers.second);
    }
    const qint64 now = m_clock.elapsed();
    if (now - m_speedShownAt >= kSpeedEveryMs) {
        m_view.showSpeed(double(m_received - m_receivedShown) * 1000 /
                         double(now - m_speedShownAt));
        m_receivedShown = m_received;
        m_speedShownAt = now;
    }
}
