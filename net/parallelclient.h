#pragma once
// Several GET (or form POST) requests at once on one libcurl multi handle, which shares its
// connections among them. The requests run on the event loop of the thread that made the client:
// their sockets are watched by socket notifiers and curl's timeouts by a timer, so they start,
// progress and end whenever that thread lets its events run, whatever else it is doing.

#include "net/httpclient.h"

#include <QList>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class HttpRequest;
class QSocketNotifier;
typedef void CURLM;

class ParallelClient {
public:
    explicit ParallelClient(TransferLimits limits = {});
    ~ParallelClient();
    ParallelClient(const ParallelClient &) = delete;
    ParallelClient &operator=(const ParallelClient &) = delete;

    // Called from the event loop with each request as it ends, with its number and result; never
    // from within start() or abandonAll(). It may start and abandon requests.
    std::function<void(int request, HttpResult result)> onEnded;

    // Starts a GET as HttpClient::get makes it and returns the number that names it in onEnded;
    // -1 when no request could be made (no handle). It goes out once events run, or at kick().
    // With a form body it is a POST of application/x-www-form-urlencoded instead.
    int start(const QString &url, const QString &cookie,
              const std::optional<QByteArray> &form = std::nullopt);

    // Sends the requests started since curl last ran, without waiting for events, before the
    // caller turns to other work.
    void kick();

    // Gives up every request in flight; none of them is heard of again.
    void abandonAll();
    // Gives up the one request of that number, if it is still in flight.
    void abandon(int request);

    int inFlight() const { return int(m_running.size()); }

    // The page the requests started from now on are made for, as HttpClient::setOrigin.
    void setOrigin(const QString &pageUrl) { m_origin = pageUrl; }

private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };
    struct Running {
        int id = 0;
        std::unique_ptr<HttpRequest> request;
    };

    friend struct CurlCallbacks; // curl's socket and timer callbacks, which need its types
    void watch(qintptr socket, int what);
    void act(qintptr socket, int events);
    void collect();
    void drop(CURL *handle, Running &running);

    CURLM *m_multi = nullptr;
    TransferLimits m_limits;
    QString m_origin;
    QList<CURL *> m_idle; // easy handles kept for their settings' sake between requests
    std::unordered_map<CURL *, Running> m_running;
    std::unordered_map<qintptr, Watch> m_sockets;
    // Notifiers of sockets curl has let go; one may be the notifier whose signal is being
    // handled, so they are deleted only at the next safe point.
    std::vector<std::unique_ptr<QSocketNotifier>> m_retired;
    QTimer m_timer; // curl's next timeout
    int m_nextId = 0;
    int m_depth = 0;        // act() calls under way
    bool m_started = false; // a request was started that curl has not yet been told of
};
