#include "browser/hiddenbrowser.h"

#include "browser/webengine.h"
#include "net/requestprofile.h"

#include <QAuthenticator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// text as a JavaScript string literal.
QString scriptString(const QString &text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    // "[...]" without its brackets.
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// A page whose navigations, a frame's and their redirects included, pass the page's guard
// before the engine follows them. (The engine shows the guard a redirected request only once it
// has followed the redirect.)
class GuardedPage : public QWebEnginePage {
public:
    GuardedPage(QWebEngineProfile *profile, QObject *parent)
        : QWebEnginePage(profile, parent) {}

    RequestGuard *guard = nullptr;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override {
        return guard && guard->allows(url);
    }
};

// Whether chain verifies for host against the certificate authorities of SSL_CERT_FILE or
// CURL_CA_BUNDLE; false when neither is set, when the bundle holds no certificate, and when no
// TLS backend can verify: verify() then finds no error, which must not read as trusted.
bool trustedByBundle(const QList<QSslCertificate> &chain, const QString &host) {
    const QString bundle = requestProfile::caBundle();
    if (bundle.isEmpty() || chain.isEmpty() || QSslSocket::activeBackend().isEmpty() ||
        !QSslSocket::isFeatureSupported(QSsl::SupportedFeature::CertificateVerification))
        return false;
    static const qsizetype authorities = [&bundle] {
        const QList<QSslCertificate> certificates = QSslCertificate::fromPath(bundle);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(certificates);
        QSslConfiguration::setDefaultConfiguration(configuration);
        return certificates.size();
    }();
    return authorities > 0 && QSslCertificate::verify(chain, host).isEmpty();
}

} // namespace

QString HiddenBrowser::userAgent() {
    const QString known = browser::engineUserAgent();
    return known.isEmpty() ? profile()->httpUserAgent() : known;
}

bool HiddenBrowser::overridesCertificateError(QWebEngineCertificateError::Type type,
                                              const QList<QSslCertificate> &chain,
                                              const QString &host) {
    // The bundle answers for who issued the certificate and nothing else: a revoked, expired,
    // weakly signed or otherwise doubtful certificate stays refused.
    return type == QWebEngineCertificateError::CertificateAuthorityInvalid &&
           trustedByBundle(chain, host);
}

HiddenBrowser::HiddenBrowser(QObject *parent, Layout layout, std::chrono::milliseconds loadLimit)
    : QObject(parent)
    , m_layout(layout)
    , m_loadLimit(loadLimit) {
    // The page is made for the first task, with its permissions: a page made now would only be
    // replaced then, which costs a job's first load a good part of its time.
}

QWebEngineProfile *HiddenBrowser::profile() {
    if (m_profile)
        return m_profile;
    m_profile = new QWebEngineProfile(this);
    m_profileGuard = new RequestGuard(m_profile);
    // A page that has gone may still have requests under way or on their way (keep-alive ones
    // from its unload handlers); no page guard answers for them, the profile's does.
    m_profileGuard->setPolicy(RequestGuard::Policy::PublicInitiators);
    m_profile->setUrlRequestInterceptor(m_profileGuard);
    // Nobody sees the page's icon; asking the site for it would only be one more request.
    m_profile->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    // The job's requests went out as the browser before it started; it must go on saying the
    // same.
    const QString known = browser::engineUserAgent();
    if (!known.isEmpty() && m_profile->httpUserAgent() != known)
        m_profile->setHttpUserAgent(known);
    return m_profile;
}

HiddenBrowser::~HiddenBrowser() {
    // A page must go before its profile.
    retirePage();
}

void HiddenBrowser::retirePage() {
    if (!m_page)
        return;
    m_guard->setPolicy(RequestGuard::Policy::BlockAll);
    m_page->triggerAction(QWebEnginePage::Stop);
    // The guard is the page's child: it lives until the page is gone, so the engine never asks
    // a guard that no longer exists.
    delete m_page;
    m_page = nullptr;
    m_guard = nullptr;
}

void HiddenBrowser::createPage() {
    retirePage();
    auto *page = new GuardedPage(profile(), this);
    m_page = page;
    m_profileGuard->forgetLookups();
    m_guard = new RequestGuard(m_page);
    page->guard = m_guard;
    m_guard->setPolicy(m_policy, m_origin);
    m_page->setUrlRequestInterceptor(m_guard);
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, m_pageScripts);
    // The engine checks certificates against the system's store; a certificate it doubts is
    // taken only when the bundle named by the environment vouches for it, as for the program's
    // own requests.
    connect(m_page, &QWebEnginePage::certificateError, this, [](QWebEngineCertificateError error) {
        if (overridesCertificateError(error.type(), error.certificateChain(), error.url().host()))
            error.acceptCertificate();
        else
            error.rejectCertificate();
    });
    // The proxy's credentials come from its address, as libcurl takes them. The engine keeps
    // credentials that worked; asked again for the same page, they did not, and asking on would
    // loop.
    connect(m_page, &QWebEnginePage::proxyAuthenticationRequired, m_page,
            [answered = false](const QUrl &, QAuthenticator *authenticator,
                               const QString &proxyHost) mutable {
                const auto credentials = requestProfile::proxyCredentials(proxyHost);
                if (!credentials || answered) {
                    *authenticator = QAuthenticator(); // gives the request up
                    return;
                }
                answered = true;
                authenticator->setUser(credentials->user);
                authenticator->setPassword(credentials->password);
            });
    m_stoppedLoadPending = false;
    if (m_layout == Layout::Skipped) {
        // Hides the document's root as soon as it exists, from a world of its own that the
        // page's scripts cannot see.
        QWebEngineScript hide;
        hide.setInjectionPoint(QWebEngineScript::DocumentCreation);
        hide.setWorldId(QWebEngineScript::ApplicationWorld);
        hide.setSourceCode(u"new MutationObserver(function (changes, observer) {"
                           u"  if (document.documentElement) {"
                           u"    document.documentElement.style.setProperty('display', 'none',"
                           u"                                              'important');"
                           u"    observer.disconnect();"
                           u"  }"
                           u"}).observe(document, {childList: true});"_s);
        m_page->scripts().insert(hide);
    }
}

void HiddenBrowser::allow(bool pageScripts, RequestGuard::Policy requests, const QUrl &origin) {
    const bool wider = !m_page || RequestGuard::reach(requests, origin) > m_guard->reach();
    m_pageScripts = pageScripts;
    m_policy = requests;
    m_origin = origin;
    // A page keeps sending for a while what its scripts asked for (a beacon as it is left, a
    // timer's request): the old page's requests must not be judged by the new task's wider
    // permissions, so it goes.
    if (wider) {
        createPage();
        return;
    }
    m_guard->setPolicy(requests, origin);
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, pageScripts);
}

void HiddenBrowser::settleStoppedLoad() {
    if (!m_stoppedLoadPending)
        return;
    QEventLoop loop;
    const auto connection = connect(m_page, &QWebEnginePage::loadFinished, &loop, [&] {
        m_stoppedLoadPending = false;
        loop.quit();
    });
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(connection);
    // A page that never reports the end of its stopped load is replaced.
    if (m_stoppedLoadPending)
        createPage();
}

bool HiddenBrowser::load(const QUrl &url) {
    allow(true, RequestGuard::Policy::PublicOnly, url);
    return navigate(url);
}

bool HiddenBrowser::navigate(const QUrl &url) {
    settleStoppedLoad();
    QEventLoop loop;
    bool finished = false;
    bool ok = false;
    const auto connection =
        connect(m_page, &QWebEnginePage::loadFinished, &loop, [&](bool success) {
            finished = true;
            ok = success;
            loop.quit();
        });
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    m_page->load(url);
    limit.start(m_loadLimit);
    loop.exec();
    disconnect(connection);
    if (!finished) {
        m_page->triggerAction(QWebEnginePage::Stop);
        m_stoppedLoadPending = true;
    }
    return finished && ok;
}

bool HiddenBrowser::loadBlank() {
    return navigate(QUrl(u"about:blank"_s));
}

std::optional<QString> HiddenBrowser::evaluate(const QString &script) {
    if (!m_page)
        return std::nullopt; // nothing loaded, nothing to ask
    QEventLoop loop;
    std::optional<QString> result;
    bool answered = false;
    // The callback may come after a timeout; it must then not touch this frame's variables.
    auto alive = std::make_shared<bool>(true);
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                          [&, alive](const QVariant &value) {
                              if (!*alive)
                                  return;
                              answered = true;
                              if (value.isValid())
                                  result = value.toString();
                              loop.quit();
                          });
    QTimer::singleShot(m_loadLimit, &loop, &QEventLoop::quit);
    if (!answered)
        loop.exec();
    *alive = false;
    if (!answered)
        createPage();
    return result;
}

std::optional<QString> HiddenBrowser::documentCookie() {
    return evaluate(u"document.cookie"_s);
}

void HiddenBrowser::collectCookie(const QUrl &url,
                                  std::function<void(const QString &cookie)> done) {
    allow(true, RequestGuard::Policy::PublicOnly, url);
    // The timer and the connection belong to the page: when the browser goes, so do they, and
    // the script's answer, which may still come, finds done already taken.
    auto pending = std::make_shared<std::function<void(const QString &)>>(std::move(done));
    auto *limit = new QTimer(m_page);
    limit->setSingleShot(true);
    connect(m_page, &QObject::destroyed, limit, [pending] { *pending = nullptr; });
    const auto answer = [pending](const QString &cookie) {
        if (auto call = std::exchange(*pending, nullptr))
            call(cookie);
    };
    connect(limit, &QTimer::timeout, m_page, [this, answer] {
        m_page->triggerAction(QWebEnginePage::Stop);
        answer(QString());
    });
    // As load() then documentCookie(): the cookie is read however the load ended.
    connect(m_page, &QWebEnginePage::loadFinished, limit, [this, answer] {
        m_page->runJavaScript(u"document.cookie"_s, QWebEngineScript::ApplicationWorld,
                              [answer](const QVariant &value) { answer(value.toString()); });
    });
    m_page->load(url);
    limit->start(m_loadLimit);
}

std::optional<QString> HiddenBrowser::buildPage(const QString &html, const QUrl &origin) {
    allow(true, RequestGuard::Policy::PublicOnly, origin);
    if (!loadBlank())
        return std::nullopt;
    const auto written = evaluate(u"document.open(); document.write(%1); document.close(); "
                                  u"document.readyState"_s.arg(scriptString(html)));
    if (!written)
        return std::nullopt;
    // Scripts the page loads itself may still be arriving; wait until the document is complete.
    QString state = *written;
    QElapsedTimer waited;
    waited.start();
    while (state != u"complete"_s && waited.elapsed() < m_loadLimit.count()) {
        QEventLoop pause;
        QTimer::singleShot(20, &pause, &QEventLoop::quit);
        pause.exec();
        state = evaluate(u"document.readyState"_s).value_or(QString());
    }
    return evaluate(u"document.documentElement.outerHTML"_s);
}

std::optional<QString> HiddenBrowser::renderedText(const QString &html) {
    allow(false, RequestGuard::Policy::BlockAll);
    if (!loadBlank())
        return std::nullopt;
    return evaluate(
        u"document.body.innerHTML = %1; document.body.innerText"_s.arg(scriptString(html)));
}
