#include "pipeline/hiddenbrowser.h"

#include "net/requestprofile.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

using namespace Qt::StringLiterals;

namespace {

// text as a JavaScript string literal.
QString scriptString(const QString &text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    // "[...]" without its brackets.
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// Whether chain verifies for host against the certificate authorities of SSL_CERT_FILE or
// CURL_CA_BUNDLE; false when neither is set.
bool trustedByBundle(const QList<QSslCertificate> &chain, const QString &host) {
    const QString bundle = requestProfile::caBundle();
    if (bundle.isEmpty() || chain.isEmpty())
        return false;
    static const bool loaded = [&bundle] {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(QSslCertificate::fromPath(bundle));
        QSslConfiguration::setDefaultConfiguration(configuration);
        return true;
    }();
    Q_UNUSED(loaded);
    return QSslCertificate::verify(chain, host).isEmpty();
}

} // namespace

QString HiddenBrowser::userAgent() const {
    return m_profile->httpUserAgent();
}

HiddenBrowser::HiddenBrowser(QObject *parent, Layout layout, std::chrono::milliseconds loadLimit)
    : QObject(parent)
    , m_profile(new QWebEngineProfile(this)) // off the record: nothing is kept on disk
    , m_guard(new RequestGuard(this))
    , m_layout(layout)
    , m_loadLimit(loadLimit) {
    createPage();
}

HiddenBrowser::~HiddenBrowser() {
    // A page must go before its profile.
    delete m_page;
}

void HiddenBrowser::createPage() {
    delete m_page;
    m_page = new QWebEnginePage(m_profile, this);
    m_page->setUrlRequestInterceptor(m_guard);
    // The engine checks certificates against the system's store; a certificate it doubts is
    // taken only when the bundle named by the environment vouches for it, as for the program's
    // own requests.
    connect(m_page, &QWebEnginePage::certificateError, this, [](QWebEngineCertificateError error) {
        if (trustedByBundle(error.certificateChain(), error.url().host()))
            error.acceptCertificate();
        else
            error.rejectCertificate();
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
    return load(QUrl(u"about:blank"_s));
}

std::optional<QString> HiddenBrowser::evaluate(const QString &script) {
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
