#pragma once
// Several GET requests at once on one libcurl multi handle, which shares its connections among
// them. Nothing runs behind the caller's back: the caller's thread drives every request through
// perform(), between its own work.

#include "net/httpclient.h"

#include <QList>
#include <QString>

#include <memory>
#include <unordered_map>
#include <utility>

class HttpRequest;
typedef void CURLM;

class ParallelClient {
public:
    explicit ParallelClient(TransferLimits limits = {});
    ~ParallelClient();
    ParallelClient(const ParallelClient &) = delete;
    ParallelClient &operator=(const ParallelClient &) = delete;

    // Starts a GET as HttpClient::get makes it and returns the number that names it in
    // perform()'s answer; -1 when no request could be made (no handle).
    int start(const QString &url, const QString &cookie);

    // Waits at most waitMs for a request to make progress, lets every request progress, and
    // returns the requests that have ended since the last call, with their results.
    QList<std::pair<int, HttpResult>> perform(int waitMs);

    // Gives up every request in flight.
    void abandonAll();

    int inFlight() const { return int(m_running.size()); }

    // The page the requests started from now on are made for, as HttpClient::setOrigin.
    void setOrigin(const QString &pageUrl) { m_origin = pageUrl; }

private:
    void collect(QList<std::pair<int, HttpResult>> &ended);

    struct Running {
        int id = 0;
        std::unique_ptr<HttpRequest> request;
    };

    CURLM *m_multi = nullptr;
    TransferLimits m_limits;
    QString m_origin;
    QList<CURL *> m_idle; // easy handles kept for their settings' sake between requests
    std::unordered_map<CURL *, Running> m_running;
    int m_nextId = 0;
};
