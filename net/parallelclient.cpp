#include "net/parallelclient.h"

#include "net/httprequest.h"

#include <QSocketNotifier>

#include <curl/curl.h>

#include <algorithm>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

// Curl tells the client which sockets to watch and when to come back; the client answers from
// the event loop, never from within these callbacks, as curl requires.
struct CurlCallbacks {
    static int onSocket(CURL *, curl_socket_t socket, int what, void *client, void *) {
        static_cast<ParallelClient *>(client)->watch(qintptr(socket), what);
        return 0;
    }

    static int onTimer(CURLM *, long timeoutMs, void *client) {
        QTimer &timer = static_cast<ParallelClient *>(client)->m_timer;
        if (timeoutMs < 0)
            timer.stop();
        else
            timer.start(int(std::min<long>(timeoutMs, std::numeric_limits<int>::max())));
        return 0;
    }
};

ParallelClient::ParallelClient(TransferLimits limits)
    : m_limits(limits) {
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer,
                     [this] { act(qintptr(CURL_SOCKET_TIMEOUT), 0); });
    // The handle's library is initialised with the first easy handle.
    if (CURL *first = webTransfer::newHandle()) {
        m_idle.append(first);
        m_multi = curl_multi_init();
    }
    if (m_multi) {
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlCallbacks::onSocket);
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlCallbacks::onTimer);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    }
}

ParallelClient::~ParallelClient() {
    abandonAll();
    for (CURL *handle : std::as_const(m_idle))
        curl_easy_cleanup(handle);
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

int ParallelClient::start(const QString &url, const QString &cookie,
                          const std::optional<QByteArray> &form) {
    if (!m_multi)
        return -1;
    CURL *handle = m_idle.isEmpty() ? webTransfer::newHandle() : m_idle.takeLast();
    if (!handle)
        return -1;
    Running running{m_nextId++, std::make_unique<HttpRequest>(handle, url, cookie, m_limits,
                                                              nullptr, m_origin, form)};
    if (curl_multi_add_handle(m_multi, handle) != CURLM_OK) {
        running.request.reset();
        m_idle.append(handle);
        return -1;
    }
    const int id = running.id;
    m_running.emplace(handle, std::move(running));
    m_started = true;
    return id;
}

void ParallelClient::kick() {
    if (m_multi && std::exchange(m_started, false))
        act(qintptr(CURL_SOCKET_TIMEOUT), 0);
}

void ParallelClient::watch(qintptr socket, int what) {
    const auto found = m_sockets.find(socket);
    if (what == CURL_POLL_REMOVE) {
        if (found == m_sockets.end())
            return;
        for (auto *notifier : {&found->second.read, &found->second.write}) {
            if (*notifier) {
                (*notifier)->setEnabled(false);
                m_retired.push_back(std::move(*notifier));
            }
        }
        m_sockets.erase(found);
        return;
    }
    Watch &watch = found != m_sockets.end() ? found->second : m_sockets[socket];
    const auto follow = [this, socket](std::unique_ptr<QSocketNotifier> &notifier,
                                       QSocketNotifier::Type type, int events, bool wanted) {
        if (!notifier && wanted) {
            notifier = std::make_unique<QSocketNotifier>(socket, type);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                             [this, socket, events] { act(socket, events); });
        }
        if (notifier)
            notifier->setEnabled(wanted);
    };
    follow(watch.read, QSocketNotifier::Read, CURL_CSELECT_IN, what & CURL_POLL_IN);
    follow(watch.write, QSocketNotifier::Write, CURL_CSELECT_OUT, what & CURL_POLL_OUT);
}

void ParallelClient::act(qintptr socket, int events) {
    // A notifier retired by an earlier call is disabled, so it is not the one being handled now;
    // a nested call may come from the very notifier just retired.
    if (m_depth == 0)
        m_retired.clear();
    ++m_depth;
    int active = 0;
    curl_multi_socket_action(m_multi, curl_socket_t(socket), events, &active);
    collect();
    // Requests that the handlers of ended ones started go out now, not at the event loop's next
    // turn, which may come only once the thread has finished a page.
    while (std::exchange(m_started, false)) {
        curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &active);
        collect();
    }
    --m_depth;
}

void ParallelClient::collect() {
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *handle = message->easy_handle;
        const CURLcode code = message->data.result;
        const auto found = m_running.find(handle);
        if (found == m_running.end())
            continue;
        curl_multi_remove_handle(m_multi, handle);
        const int id = found->second.id;
        HttpResult result = found->second.request->finish(code);
        m_running.erase(found);
        m_idle.append(handle);
        // The handler may start requests and give them all up: every message still queued is
        // looked up afresh.
        if (onEnded)
            onEnded(id, std::move(result));
    }
}

void ParallelClient::abandonAll() {
    // Taken out first: removing a handle calls back into watch().
    auto running = std::exchange(m_running, {});
    for (auto &[handle, request] : running)
        drop(handle, request);
}

void ParallelClient::abandon(int request) {
    const auto found =
        std::find_if(m_running.begin(), m_running.end(),
                     [request](const auto &entry) { return entry.second.id == request; });
    if (found == m_running.end())
        return;
    // Taken out first, as in abandonAll.
    CURL *handle = found->first;
    Running running = std::move(found->second);
    m_running.erase(found);
    drop(handle, running);
}

void ParallelClient::drop(CURL *handle, Running &running) {
    curl_multi_remove_handle(m_multi, handle);
    running.request.reset();
    // A handle torn out of a transfer may hold a half-used connection: it goes.
    curl_easy_cleanup(handle);
}
