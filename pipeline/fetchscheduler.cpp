#include "pipeline/fetchscheduler.h"

#include "net/retrypolicy.h"
#include "pipeline/jobview.h"

#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// The longest the scheduler waits on the network before the view's events (a stop among them)
// run again.
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
    if (policy.resume)
        m_cache.emplace(bookUrl);
    m_clock.start();
}

void FetchScheduler::planChapters(const QStringList &urls, int first, int last) {
    m_plan = urls;
    m_planNext = std::max(first, 0);
    m_planLast = std::min(last, int(urls.size()) - 1);
}

void FetchScheduler::want(const QString &url, int chapter, int page) {
    if (!m_entries.contains(url))
        m_entries.insert(url, Entry{.chapter = chapter, .page = page});
}

void FetchScheduler::beginChapter(int chapter) {
    // The job asks for this chapter itself; the plan goes on after it.
    m_planNext = std::max(m_planNext, chapter + 1);
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
    m_entries[url].demanded = true;
    bool started = false;
    for (;;) {
        if (m_view.stopRequested()) {
            abandonAll();
            return std::nullopt;
        }
        // Looked up afresh each time: a page's arrival may add entries and move the others.
        const auto found = m_entries.find(url);
        if (found == m_entries.end()) {
            m_entries[url].demanded = true;
            continue;
        }
        if (found->state == State::Arrived) {
            ScheduledPage page = std::move(found->fetched);
            m_entries.erase(found);
            if (!started && meanwhile)
                meanwhile();
            showProgress();
            return page;
        }
        pump();
        if (!std::exchange(started, true) && meanwhile)
            meanwhile();
        auto ended = m_client.perform(waitMs(m_clock.elapsed()));
        for (auto &[request, result] : ended)
            this->ended(request, std::move(result));
        m_view.processEvents();
        showProgress();
    }
}

void FetchScheduler::noteStart(const QString &url) {
    m_lastStart.insert(hostOf(url), m_clock.elapsed());
}

void FetchScheduler::endJob(bool succeeded) {
    abandonAll();
    // The book has been written: nothing of it needs fetching again.
    if (succeeded && m_cache)
        m_cache->remove();
}

void FetchScheduler::retryLater(const QString &url, int attempt, const QString &reason) {
    const qint64 wait =
        retryPolicy::backoffMs(attempt, QRandomGenerator::global()->generateDouble());
    Entry &entry = m_entries[url];
    entry.state = State::Waiting;
    entry.notBefore = m_clock.elapsed() + wait;
    ++m_retries;
    noteRetry(url, attempt, reason, wait);
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
}

void FetchScheduler::pump() {
    // After a stop no request starts.
    if (m_view.stopRequested())
        return;
    m_pauseUntil = -1;
    const qint64 now = m_clock.elapsed();
    while (m_client.inFlight() < m_policy.parallel) {
        const auto url = nextToStart(now);
        if (!url || !start(*url, now))
            return;
    }
}

std::optional<QString> FetchScheduler::nextToStart(qint64 now) {
    const auto due = [now](const Entry &entry) {
        return entry.state == State::Waiting && entry.notBefore <= now;
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
    for (; m_planNext <= m_planLast; ++m_planNext) {
        const QString &url = m_plan.at(m_planNext);
        if (!m_entries.contains(url)) {
            m_entries.insert(url, Entry{.chapter = m_planNext, .page = 0});
            ++m_planNext;
            return url;
        }
    }
    return std::nullopt;
}

bool FetchScheduler::start(const QString &url, qint64 now) {
    if (m_cache) {
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
    Entry &entry = m_entries[url];
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
        noteRetry(url, entry.retries, result.ok ? u"HTTP %1"_s.arg(result.status) : result.error,
                  wait);
        return;
    }
    // Handed over as it is when its turn comes: the job fails there.
    entry.state = State::Arrived;
    entry.fetched.result = std::move(result);
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
    found->fetched = std::move(page);
}

int FetchScheduler::waitMs(qint64 now) const {
    qint64 wait = kEventsEveryMs;
    if (m_pauseUntil >= 0)
        wait = std::min(wait, m_pauseUntil - now);
    for (const Entry &entry : m_entries) {
        if (entry.state == State::Waiting && entry.notBefore > now)
            wait = std::min(wait, entry.notBefore - now);
    }
    // A retry or a start that the pause held back, once due, is started on the next turn.
    return int(std::clamp<qint64>(wait, 0, kEventsEveryMs));
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
