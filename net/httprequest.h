#pragma once
// One GET (or form POST) request on a libcurl easy handle, whichever client runs it: sets the
// handle up, collects the response's head and body through curl's callbacks within the transfer
// limits, and turns curl's answer into an HttpResult. The single-request client and the parallel
// one share it.

#include "net/httpclient.h"

#include <QByteArrayList>
#include <QElapsedTimer>

#include <optional>

#include <curl/curl.h>

class HttpRequest {
public:
    // Resets handle and prepares it for a GET of url, sending only a "cookie" header (when cookie
    // is not empty). events may be null. origin is the page the request is made for: unless it
    // may reach private addresses (addressGuard::privateAllowedFor), every connection of the
    // request must go to a public one. A form body makes the request a POST of
    // application/x-www-form-urlencoded. headers ("Name: value" lines) go with the request too;
    // with an "Accept-Encoding" among them, the body comes decoded from those encodings.
    // The handle must not run another request while this object lives.
    HttpRequest(CURL *handle, const QString &url, const QString &cookie,
                const TransferLimits &limits, HttpEvents *events, const QString &origin,
                const std::optional<QByteArray> &form = std::nullopt,
                const QByteArrayList &headers = {});
    // Leaves the handle holding no pointer into this object.
    ~HttpRequest();
    HttpRequest(const HttpRequest &) = delete;
    HttpRequest &operator=(const HttpRequest &) = delete;

    // The result of the request once curl has ended it with code.
    HttpResult finish(CURLcode code);

    // Bytes of the body received so far.
    qsizetype received() const { return m_body.size(); }

private:
    static size_t onHeader(char *data, size_t size, size_t count, void *request);
    static size_t onData(char *data, size_t size, size_t count, void *request);
    static int onProgress(void *request, curl_off_t, curl_off_t received, curl_off_t, curl_off_t);
    bool keepWaiting(qint64 received);
    void start();

    CURL *m_handle;
    HttpEvents *m_events;
    TransferLimits m_limits;
    ConnectGuard m_guard;
    QElapsedTimer m_clock; // since the request was made, for telling its time limits apart
    curl_slist *m_headers = nullptr;
    char m_errorText[CURL_ERROR_SIZE] = {};
    ResponseHead m_head;
    bool m_started = false;
    bool m_tooLarge = false;
    bool m_abandoned = false;
    bool m_tooSlow = false;
    QElapsedTimer m_window;   // the stretch the average speed is measured over
    qint64 m_windowStart = 0; // bytes received when it began
    QByteArray m_body;
};
