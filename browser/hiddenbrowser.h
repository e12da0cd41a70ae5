#pragma once
// A web page without a view, as the job uses it: load an address as a browser would and read
// its cookie, build a page from HTML with its scripts run, and render an HTML fragment as text.
// Every wait is bounded; a page that does not finish in time is stopped and taken as it stands.

#include "browser/requestguard.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QUrl>
#include <QWebEngineCertificateError>

#include <chrono>
#include <functional>
#include <optional>

class QWebEnginePage;
class QWebEngineProfile;

class HiddenBrowser : public QObject {
    Q_OBJECT
public:
    // Whether the pages are laid out. A browser that only collects cookies need not: its pages
    // still load and run their scripts, but are never laid out, which on a contents page of
    // thousands of chapter names saves most of the load's time.
    enum class Layout { Normal, Skipped };

    explicit HiddenBrowser(QObject *parent = nullptr, Layout layout = Layout::Normal,
                           std::chrono::milliseconds loadLimit = std::chrono::seconds(30));
    ~HiddenBrowser() override;

    // Loads url and waits, letting events run, until the top-level load has completed or the
    // limit has passed (the load is then stopped). False when the load failed or was stopped.
    // The page's scripts run; its requests may not reach this machine or a private network
    // unless url is there too.
    bool load(const QUrl &url);

    // The document's cookie string; nullopt when the page does not answer.
    std::optional<QString> documentCookie();

    // load() and documentCookie() without waiting, so that several browsers can collect their
    // pages' cookies side by side: done gets the cookie ("" when the page gave none or did not
    // answer within the limit) once, from the event loop. For a browser that serves this one
    // load and is then deleted; deleted earlier, it never calls done.
    void collectCookie(const QUrl &url, std::function<void(const QString &cookie)> done);

    // Writes html into an empty document, as a page script would with document.write, waits
    // until it has been built, and returns the document's HTML; nullopt on failure. The page's
    // scripts may not reach this machine or a private network unless origin, the address the
    // page came from, is there too.
    std::optional<QString> buildPage(const QString &html, const QUrl &origin);

    // The text the browser shows for an HTML fragment placed in an empty document's body. The
    // fragment fetches nothing and runs no script of its own while it is converted.
    std::optional<QString> renderedText(const QString &html);

    // The User-Agent the browser sends. Known without starting the engine, unless the engine's
    // flags name one of their own.
    QString userAgent();

    // Runs script in the page and returns its value as text; nullopt when it fails or does not
    // answer within the limit (the page is then replaced, ending whatever it was running). It
    // runs apart from the page's own scripts, and also while those are switched off.
    std::optional<QString> evaluate(const QString &script);

    // Whether a certificate the engine doubts is taken: only when its one doubt is the authority
    // (CertificateAuthorityInvalid) and chain verifies for host against the bundle of
    // SSL_CERT_FILE or CURL_CA_BUNDLE. Never when the TLS backend cannot verify certificates.
    static bool overridesCertificateError(QWebEngineCertificateError::Type type,
                                          const QList<QSslCertificate> &chain, const QString &host);

private:
    // A new page for the current task's permissions, after the old one has been retired.
    void createPage();
    // Ends the current page: its guard blocks everything first, so that nothing the page sends
    // while it stops and goes escapes, and the guard goes with the page.
    void retirePage();
    bool navigate(const QUrl &url);
    bool loadBlank();
    // Page scripts and requests as the task at hand allows them. A task that may reach more
    // than the one before gets a new page.
    void allow(bool pageScripts, RequestGuard::Policy requests, const QUrl &origin = QUrl());
    // Lets the finish of a load that was stopped arrive before another load starts, so that it
    // cannot be taken for the new load's.
    void settleStoppedLoad();
    // The profile, made when first needed: making it starts the engine, which a job whose pages
    // need no browser never pays for.
    QWebEngineProfile *profile();

    QWebEngineProfile *m_profile = nullptr; // off the record: nothing is kept on disk
    QWebEnginePage *m_page = nullptr;       // made by the first task that needs one
    RequestGuard *m_guard = nullptr;        // the page's, a child of it
    RequestGuard *m_profileGuard = nullptr; // by the requests' initiators, a child of the profile
    bool m_pageScripts = true;
    RequestGuard::Policy m_policy = RequestGuard::Policy::BlockAll;
    QUrl m_origin;
    bool m_stoppedLoadPending = false;
    Layout m_layout;
    std::chrono::milliseconds m_loadLimit;
};
