#include "net/parallelclient.h"

#include "net/httprequest.h"

#include <curl/curl.h>

using namespace Qt::StringLiterals;

ParallelClient::ParallelClient(TransferLimits limits)
    : m_limits(limits) {
    // The handle's library is initialised with the first easy handle.
    if (CURL *first = webTransfer::newHandle()) {
        m_idle.append(first);
        m_multi = curl_multi_init();
    }
}

ParallelClient::~ParallelClient() {
    abandonAll();
    for (CURL *handle : std::as_const(m_idle))
        curl_easy_cleanup(handle);
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

int ParallelClient::start(const QString &url, const QString &cookie) {
    if (!m_multi)
        return -1;
    CURL *handle = m_idle.isEmpty() ? webTransfer::newHandle() : m_idle.takeLast();
    if (!handle)
        return -1;
    Running running{m_nextId++, std::make_unique<HttpRequest>(handle, url, cookie, m_limits,
                                                              nullptr, m_origin)};
    if (curl_multi_add_handle(m_multi, handle) != CURLM_OK) {
        running.request.reset();
        m_idle.append(handle);
        return -1;
    }
    const int id = running.id;
    m_running.emplace(handle, std::move(running));
    return id;
}

QList<std::pair<int, HttpResult>> ParallelClient::perform(int waitMs) {
    QList<std::pair<int, HttpResult>> ended;
    if (!m_multi)
        return ended;
    int active = 0;
    curl_multi_perform(m_multi, &active);
    collect(ended);
    if (ended.isEmpty() && waitMs > 0) {
        // Waits for the sockets, or the whole time when no request runs (a retry's wait).
        curl_multi_poll(m_multi, nullptr, 0, waitMs, nullptr);
        curl_multi_perform(m_multi, &active);
        collect(ended);
    }
    return ended;
}

void ParallelClient::collect(QList<std::pair<int, HttpResult>> &ended) {
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *handle = message->easy_handle;
        const CURLcode code = message->data.result;
        curl_multi_remove_handle(m_multi, handle);
        const auto found = m_running.find(handle);
        if (found != m_running.end()) {
            ended.append({found->second.id, found->second.request->finish(code)});
            m_running.erase(found);
        }
        m_idle.append(handle);
    }
}

void ParallelClient::abandonAll() {
    for (auto &[handle, running] : m_running) {
        curl_multi_remove_handle(m_multi, handle);
        running.request.reset();
        // A handle torn out of a transfer may hold a half-used connection: it goes.
        curl_easy_cleanup(handle);
    }
    m_running.clear();
}
