// Fetching a job's pages through the real client, browser and script engine against a loopback
// site: cookies, an error page, character sets per page kind, progress and speed, contents pages
// that their site builds with scripts, and what a page from a public site cannot make the program
// reach. (tst_cli's demo site serves every page gzip-compressed.)
//
// The "public" site is 127.0.0.1, counted as public through treatAsPublicForTesting; the private
// services listen on 127.0.0.2, and as root on a name that /etc/hosts points there.

#include "browser/hiddenbrowser.h"
#include "browser/requestguard.h"
#include "browser/webengine.h"
#include "net/requestprofile.h"
#include "net/urlreachable.h"
#include "pipeline/downloadjob.h"
#include "pipeline/pagefetch.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"
#include "text/charset.h"

#include <QHostInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineProfile>

#include <httplib.h>

#include <unistd.h>

#include <mutex>

using namespace Qt::StringLiterals;

namespace {

// One job's worth of pipeline around a page fetcher, with steps that record each page and ask
// for the next ones listed.
struct Fixture : PageSteps {
    DownloadJob job;
    support::RecordingView view;
    HttpClient http{TransferLimits{5, 2}};
    HiddenBrowser browser{nullptr, HiddenBrowser::Layout::Skipped}; // as the pipeline has it
    HiddenBrowser renderer;
    PageFetcher fetcher{job, view, http, browser, renderer};
    QStringList pages;
    QList<std::pair<PageKind, QString>> nextPages; // page kind and address

    Fixture() {
        fetcher.setSteps(this);
        requestProfile::setUserAgent(browser.userAgent().toUtf8()); // as a job's requests have it
    }

    void run(const QString &contentsUrl) {
        job.inputs.contentsUrl = contentsUrl;
        fetcher.handleWeb(contentsUrl, PageKind::Contents);
    }

    void contentsStep(const FetchedPage &page) override { chapterStep(page); }
    void chapterStep(const FetchedPage &page) override {
        pages.append(page.text);
        if (nextPages.isEmpty())
            return;
        const auto [kind, url] = nextPages.takeFirst();
        fetcher.handleWeb(url, kind);
    }
};

constexpr char kHostsName[] = "kestrelon-guard.test";

// While it lives, 127.0.0.1 counts as a public address (unless it is made for a private site).
struct PublicLoopback {
    explicit PublicLoopback(bool on = true) {
        RequestGuard::treatAsPublicForTesting(on ? u"127.0.0.1"_s : QString());
    }
    ~PublicLoopback() { RequestGuard::treatAsPublicForTesting(QString()); }
};

} // namespace

class TestPageFetch : public QObject {
    Q_OBJECT

public:
    static void initMain() { browser::prepareWebEngine(); }

private slots:
    void initTestCase() {
        m_site.serve(u"/cookie/index.html"_s,
                     {.body = "<html><head><script>document.cookie = 'js=1';</script></head>"
                              "<body>contents</body></html>",
                      .setCookie = "sid=abc; Path=/"});
        m_site.serve(u"/cookie/1.html"_s, {.body = "<p>one</p>", .requiredCookie = "sid=abc"});
        m_site.serve(u"/cookie/2.html"_s, {.body = "<p>two</p>", .requiredCookie = "js=1"});
        m_site.serve(u"/plain/index.html"_s, {.body = "<p>no cookie here</p>"});

        m_site.serve(u"/charset/index.html"_s, {.body = support::gbk(u"<p>书的目录页</p>"_s)});
        m_site.serve(u"/charset/1.html"_s, {.body = support::encoded(u"<p>第一章</p>"_s, "Big5")});
        m_site.serve(u"/charset/text1.txt"_s, {.body = u"正文一"_s.toUtf8()});
        m_site.serve(u"/charset/text2.txt"_s, {.body = support::gbk(u"正文二"_s)});

        m_site.serve(u"/chunked/index.html"_s, {.body = QByteArray(30000, 'a'), .chunked = true});

        m_site.serve(u"/js/list.js"_s, {.body = "function bookTitle() { return 'Built'; }",
                                        .contentType = "application/javascript"});
        // The icon of a page counts as a beacon: nobody sees it, so nothing should ask for it.
        m_site.server().Get(R"(/beacon/.*|/favicon\.ico)",
                            [this](const httplib::Request &req, httplib::Response &) {
                                const std::lock_guard lock(m_beaconMutex);
                                m_beacons.append(QString::fromStdString(req.path));
                            });
        // The page a guard row loads, and a script that leads to the private service.
        m_site.server().Get("/guard/page",
                            [this](const httplib::Request &, httplib::Response &res) {
                                const std::lock_guard lock(m_beaconMutex);
                                res.set_content(m_guardPage.toStdString(), "text/html");
                            });
        m_site.server().Get("/js/away.js",
                            [this](const httplib::Request &, httplib::Response &res) {
                                res.set_redirect(privateUrl(u"/secret.js"_s).toStdString());
                            });
        m_site.server().Get("/plaincookie/page", [this](const httplib::Request &req,
                                                        httplib::Response &res) {
            const std::lock_guard lock(m_beaconMutex);
            QStringList asked;
            for (const auto &[name, value] : req.headers) {
                if (name.starts_with("Sec-") || name.starts_with("Accept") ||
                    name.starts_with("Upgrade") || name == "User-Agent")
                    asked.append(QString::fromStdString(name + ": " + value));
            }
            m_plainAsked.append(asked.join(u'\n'));
            for (const QByteArray &line : m_plainPage.first) {
                const qsizetype colon = line.indexOf(':');
                res.set_header(line.first(colon).toStdString(), line.mid(colon + 2).toStdString());
            }
            res.set_content(m_plainPage.second.toStdString(), "text/html");
        });
        QVERIFY(m_site.start());

        // The private service: everything it is asked for is a beacon.
        m_private.set_pre_routing_handler(
            [this](const httplib::Request &req, httplib::Response &res) {
                const std::lock_guard lock(m_beaconMutex);
                m_beacons.append(u"private:"_s + QString::fromStdString(req.path));
                res.set_content("private", "text/plain");
                return httplib::Server::HandlerResponse::Handled;
            });
        m_privatePort = m_private.bind_to_any_port("127.0.0.2");
        QVERIFY(m_privatePort > 0);
        m_privateThread = std::thread([this] { m_private.listen_after_bind(); });

        // As root, a name that resolves to the private service.
        if (::geteuid() == 0) {
            const QByteArray hosts = support::readBytes(u"/etc/hosts"_s);
            m_hostsLine = "127.0.0.2 " + QByteArray(kHostsName) + '\n';
            if (!hosts.contains(m_hostsLine) &&
                !support::writeBytes(u"/etc/hosts"_s,
                                     hosts + (hosts.endsWith('\n') ? "" : "\n") + m_hostsLine))
                m_hostsLine.clear();
            else // the rows that use the name would pass without it
                QCOMPARE(QHostInfo::fromName(QString::fromLatin1(kHostsName)).addresses().value(0),
                         QHostAddress(u"127.0.0.2"_s));
        }
    }

    void cleanupTestCase() {
        m_private.stop();
        if (m_privateThread.joinable())
            m_privateThread.join();
        if (!m_hostsLine.isEmpty()) {
            // Only this line goes: others may have changed the file meanwhile.
            QByteArray hosts = support::readBytes(u"/etc/hosts"_s);
            hosts.replace(m_hostsLine, QByteArray());
            support::writeBytes(u"/etc/hosts"_s, hosts);
        }
    }

    void cookieTravelsWithEveryRequestOfAJob() {
        Fixture fixture;
        fixture.nextPages = {{PageKind::Chapter, m_site.url(u"/cookie/1.html"_s)},
                             {PageKind::Chapter, m_site.url(u"/cookie/2.html"_s)}};
        const qsizetype before = m_site.clientRequests().size();
        fixture.run(m_site.url(u"/cookie/index.html"_s));
        QCOMPARE(fixture.job.endState, EndState::Success);
        // One cookie from the response's header, one set by the page's script.
        const QString cookie = fixture.job.savedCookie;
        QVERIFY2(cookie == u"sid=abc; js=1"_s || cookie == u"js=1; sid=abc"_s, qPrintable(cookie));
        QCOMPARE(fixture.pages.mid(1), (QStringList{u"<p>one</p>"_s, u"<p>two</p>"_s}));
        for (const support::SeenRequest &request : m_site.clientRequests(before))
            QCOMPARE(request.cookie, cookie);

        // The next job's contents page sets no cookie (another host, so the browser has none for
        // it): no cookie header at all, though the job before had one.
        fixture.run(m_site.url(u"/plain/index.html"_s, u"localhost"_s));
        QCOMPARE(fixture.pages.size(), 4);
        QCOMPARE(fixture.job.savedCookie, QString());
        QVERIFY(!m_site.clientRequests().last().hasCookie);

        // Without the cookie it wants, the site answers 403 with a page of its own: a page that
        // comes with an error status fails the job and never reaches its steps.
        fixture.run(m_site.url(u"/cookie/2.html"_s, u"localhost"_s));
        QCOMPARE(fixture.job.endState, EndState::Failure);
        QCOMPARE(fixture.pages.size(), 4);
    }

    // A contents page whose answer tells all it does is not loaded in the browser: a request that
    // asks as the browser's load would stands in for it, and the cookie is the one a browser
    // reads. A page that may do more is loaded in the browser.
    void cookieOfAPlainPageIsTheBrowsers_data() {
        QTest::addColumn<QByteArrayList>("head");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("plain");
        const QByteArray list =
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
            "charset=gbk\"><title>x</title></head><body><ul><li><a "
            "href=\"1.html\">1</a></li></ul></body></html>";
        const QByteArray setter = "document.cookie = 'js=1'";
        QTest::newRow("a cookie")
            << QByteArrayList{"Set-Cookie: sid=1; Path=/; SameSite=Lax; Max-Age=600"} << list
            << true;
        QTest::newRow("none a script sees")
            << QByteArrayList{"Set-Cookie: a=1; HttpOnly", "Set-Cookie: b=2; Path=/elsewhere"}
            << list << true;
        QTest::newRow("one for the page's folder")
            << QByteArrayList{"Set-Cookie: c=3", "Set-Cookie: d=4; Path=/plaincookie/x"} << list
            << true;
        QTest::newRow("two a script sees")
            << QByteArrayList{"Set-Cookie: a=1", "Set-Cookie: b=2"} << list << false;
        QTest::newRow("an expiry")
            << QByteArrayList{"Set-Cookie: e=5; Expires=Wed, 01 Jan 2031 00:00:00 GMT"} << list
            << false;
        QTest::newRow("a refresh")
            << QByteArrayList{"Refresh: 0; url=/plain/index.html"} << list << false;
        QTest::newRow("a script") << QByteArrayList() << "<p>x</p><script>" + setter + "</script>"
                                  << false;
        QTest::newRow("a handler right after a quoted value")
            << QByteArrayList() << "<body class=\"a\"onload=\"" + setter + "\">x</body>" << false;
    }

    void cookieOfAPlainPageIsTheBrowsers() {
        QFETCH(QByteArrayList, head);
        QFETCH(QByteArray, body);
        QFETCH(bool, plain);
        {
            const std::lock_guard lock(m_beaconMutex);
            m_plainPage = {head, body};
            m_plainAsked.clear();
        }
        const QString url = m_site.url(u"/plaincookie/page"_s);
        Fixture fixture;
        fixture.run(url);
        QCOMPARE(fixture.job.endState, EndState::Success);
        HiddenBrowser browser;
        QVERIFY(browser.load(QUrl(url)));
        QCOMPARE(fixture.job.savedCookie, browser.documentCookie().value_or(u"?"_s));
        // The stand-in, the browser's load when the page is not plain, the job's request for the
        // page, and the load just made, which asks as the stand-in did.
        const std::lock_guard lock(m_beaconMutex);
        QCOMPARE(m_plainAsked.size(), plain ? 3 : 4);
        QCOMPARE(m_plainAsked.first(), m_plainAsked.last());
        QCOMPARE(browser::engineUserAgent(), QWebEngineProfile().httpUserAgent());
    }

    void charsetDetectedOncePerPageKind() {
        Fixture fixture;
        fixture.job.rules.tagCharset = {QString(), u"big5"_s, QString()};
        fixture.nextPages = {{PageKind::Chapter, m_site.url(u"/charset/1.html"_s)},
                             {PageKind::ChapterText, m_site.url(u"/charset/text1.txt"_s)},
                             {PageKind::ChapterText, m_site.url(u"/charset/text2.txt"_s)}};
        fixture.run(m_site.url(u"/charset/index.html"_s));
        // The second separate text is read with the set the first one was detected in.
        QCOMPARE(fixture.pages,
                 (QStringList{u"<p>书的目录页</p>"_s, u"<p>第一章</p>"_s, u"正文一"_s,
                              charset::decodeBytes(support::gbk(u"正文二"_s), u"utf-8"_s)}));
        QCOMPARE(fixture.job.rules.tagCharset,
                 (std::array<QString, 3>{u"gbk"_s, u"big5"_s, u"utf-8"_s}));
    }

    void progressAndSpeed() {
        Fixture fixture;
        fixture.run(m_site.url(u"/chunked/index.html"_s));
        // Drawn against the assumed length (100 KB) while it arrives, then full once it has.
        const QList<double> &bar = fixture.view.pageBar;
        QVERIFY(bar.size() >= 3);
        QCOMPARE(bar.first(), 0.0);
        QCOMPARE(bar.at(bar.size() - 2), 30000 / 102400.0);
        QCOMPARE(bar.last(), 1.0);
        // The status line's words for a speed: KB a second, two decimals at most (a half going to
        // the even neighbour), in the shortest form.
        QCOMPARE(pipeline::speedStatus(1536), u"传输速度：1.5 KB/秒"_s);
        QCOMPARE(pipeline::speedStatus(1000), u"传输速度：0.98 KB/秒"_s); // 0.9765625
        QCOMPARE(pipeline::speedStatus(128), u"传输速度：0.12 KB/秒"_s);  // 0.125
    }

    // A public site's contents page gets only its own host's scripts inlined, to run as the page
    // is built, and never from a private address; another host's script stays a reference. (What
    // was refused, the browser then refuses to fetch as well.)
    void scriptsInlinedFromTheOwnHostOnly_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("inlined");
        QTest::newRow("the own host's script") << u"/js/list.js"_s << true;
        QTest::newRow("the own host's script redirected to a private address")
            << u"/js/away.js"_s << false;
        QTest::newRow("another host's script whose address holds the site's label")
            << u"PRIVATE/0/list.js"_s << false;
    }

    void scriptsInlinedFromTheOwnHostOnly() {
        QFETCH(QString, source);
        QFETCH(bool, inlined);
        source.replace(u"PRIVATE"_s, privateUrl(QString()));
        const PublicLoopback publicSite;
        // The tag's type keeps the browser that loads the page for its cookie from fetching the
        // script: the row is about what the program copies into the page.
        const QString tag = u"<script type=\"text/x-inlined\" src=\"%1\"></script>"_s.arg(source);
        serveGuardPage(u"<html><head>"_s + tag +
                       u"</head><body><script>document.write(typeof bookTitle == 'function' ? "
                       u"'<h1>' + bookTitle() + '</h1>' : 'none');</script></body></html>"_s);
        // The one page a job with a contents page built by the browser hands to its steps.
        Fixture fixture;
        fixture.job.rules.tagHtml = u"1"_s;
        fixture.job.host = u"127.0.0.1:%1"_s.arg(m_site.port());
        fixture.run(m_site.url(u"/guard/page"_s));
        QCOMPARE(fixture.pages.size(), 1);
        const QString &page = fixture.pages.first();
        QVERIFY2(page.contains(u"<h1>Built</h1>"_s) == inlined, qPrintable(page));
        QCOMPARE(page.contains(tag), !inlined);
        const std::lock_guard lock(m_beaconMutex);
        QVERIFY2(m_beacons.isEmpty(), qPrintable(m_beacons.join(u' ')));
    }

    // Every connection of a public site's job goes to a public address, whatever the address
    // says and wherever a redirect leads; a job from this machine reaches what it likes. A
    // refusal is not worth a retry. (The whole-request limit is tst_httpclient's; the public site
    // itself is reached by the own-host row of the inlining table.)
    void requestsOfAJob_data() {
        QTest::addColumn<QString>("origin"); // the contents page, "" for none
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("error"); // "" for success
        const QString publicSite = m_site.url(u"/plain/index.html"_s);
        const QString refused = u"拒绝访问本机或内网地址：%1"_s;
        QTest::newRow("a redirect to a private address")
            << publicSite << m_site.url(u"/js/away.js"_s) << refused.arg(u"127.0.0.2"_s);
        QTest::newRow("localhost with a trailing dot")
            << publicSite << m_site.url(u"/plain/index.html"_s, u"localhost."_s)
            << refused.arg(u"localhost"_s);
        QTest::newRow("a name that resolves to a private address")
            << publicSite << privateUrl(u"/x"_s, QString::fromLatin1(kHostsName))
            << refused.arg(u"127.0.0.2"_s);
        QTest::newRow("a job from this machine")
            << m_site.url(u"/"_s, u"localhost"_s) << privateUrl(u"/x"_s) << QString();
        QTest::newRow("no job") << QString() << privateUrl(u"/x"_s) << QString();
    }

    void requestsOfAJob() {
        QFETCH(QString, origin);
        QFETCH(QString, url);
        QFETCH(QString, error);
        if (url.contains(QString::fromLatin1(kHostsName)) && m_hostsLine.isEmpty())
            QSKIP("needs root to add a name to /etc/hosts");
        const PublicLoopback publicSite;
        serveGuardPage(QString());
        HttpClient http{TransferLimits{5, 5}};
        http.setOrigin(origin);
        const HttpResult result = http.get(url, QString(), nullptr);
        QCOMPARE(result.error, error);
        QCOMPARE(result.ok, error.isEmpty());
        QVERIFY(!result.transient);
        if (result.ok)
            return;
        // Refused before a single byte went to the private service.
        const std::lock_guard lock(m_beaconMutex);
        QCOMPARE(m_beacons, QStringList());
        // The probe for a chapter's further pages is held to the same rule.
        QVERIFY(!norModule::urlReachable(url, origin));
    }

    // What a hidden browser may fetch: nothing while it converts chapter HTML (no script of the
    // fragment runs either); from a page of a public site, whether it loads the page for its
    // cookie or builds it, nothing on this machine or private, not even as the page is left for
    // one that may reach more; from a page of this machine, what it likes. (SITE stands for the
    // site's port, PRIVATE for the private service's.) Loading and building a page share one
    // guard and policy: a row for an address is enough for either.
    void hiddenBrowserFetchesOnlyWhatItMay_data() {
        QTest::addColumn<QString>("task");        // convert, build, load, or load and move on
        QTest::addColumn<bool>("publicSite");     // 127.0.0.1 counts as public
        QTest::addColumn<QString>("html");        // the page or the chapter's HTML
        QTest::addColumn<QStringList>("beacons"); // the requests that reach a site
        const QString image = u"<img src=\"http://localhost:SITE/beacon/image\">"_s;
        const QString fetch = u"<script>fetch('http://localhost.:SITE/beacon/fetch');</script>"_s;
        QTest::newRow("chapter conversion")
            << u"convert"_s << false
            << u"<p>正文</p>"_s + image +
                   u"<img src=\"x\" onerror=\"new Image().src = 'http://127.0.0.1:SITE/beacon/script'\">"_s
            << QStringList();
        QTest::newRow("built page from this machine")
            << u"build"_s << false << image << QStringList{u"/beacon/image"_s};
        QTest::newRow("built page: image on localhost, fetch to localhost.")
            << u"build"_s << true << image + fetch << QStringList();
        QTest::newRow("cookie load: WebSocket to a name under localhost.")
            << u"load"_s << true
            << u"<script>new WebSocket('ws://foo.localhost.:SITE/beacon/ws');</script>"_s
            << QStringList();
        QTest::newRow("cookie load: iframe redirected to a private address")
            << u"load"_s << true << u"<iframe src=\"/js/away.js\"></iframe>"_s << QStringList();
        QTest::newRow("cookie load: image from a name that resolves to a private address")
            << u"load"_s << true
            << u"<img src=\"http://%1:PRIVATE/beacon/hosts\">"_s.arg(QLatin1String(kHostsName))
            << QStringList();
        QTest::newRow("a beacon as the page is left for one from this machine")
            << u"move on"_s << true
            << u"<script>addEventListener('pagehide', function () {"
               u"  navigator.sendBeacon('http://127.0.0.2:PRIVATE/beacon/pagehide'); });</script>"_s
            << QStringList();
    }

    void hiddenBrowserFetchesOnlyWhatItMay() {
        QFETCH(QString, task);
        QFETCH(bool, publicSite);
        QFETCH(QString, html);
        if (html.contains(QLatin1String(kHostsName)) && m_hostsLine.isEmpty())
            QSKIP("needs root to add a name to /etc/hosts");
        html.replace(u"SITE"_s, QString::number(m_site.port()));
        html.replace(u"PRIVATE"_s, QString::number(m_privatePort));
        const PublicLoopback publicLoopback(publicSite);
        serveGuardPage(html);
        HiddenBrowser browser;
        if (task == u"convert"_s) {
            QCOMPARE(browser.renderedText(html), u"正文"_s);
        } else if (task == u"build"_s) {
            QVERIFY(browser.buildPage(html, QUrl(m_site.url(u"/"_s))));
        } else {
            QVERIFY(browser.load(QUrl(m_site.url(u"/guard/page"_s))));
            if (task == u"move on"_s)
                QVERIFY(browser.load(QUrl(m_site.url(u"/plain/index.html"_s, u"localhost"_s))));
        }
        QTest::qWait(500); // a request would have been sent by now
        const std::lock_guard lock(m_beaconMutex);
        QTEST(m_beacons, "beacons");
    }

    // The bundle of SSL_CERT_FILE vouches for a certificate's authority, and for nothing else
    // the engine may doubt.
    void certificateOverriddenForItsAuthorityOnly_data() {
        QTest::addColumn<QWebEngineCertificateError::Type>("type");
        QTest::addColumn<QString>("certificate"); // made below
        QTest::addColumn<bool>("overridden");
        QTest::newRow("an authority the bundle holds")
            << QWebEngineCertificateError::CertificateAuthorityInvalid << u"bundle-site"_s << true;
        QTest::newRow("signed by itself, not in the bundle")
            << QWebEngineCertificateError::CertificateAuthorityInvalid << u"other-site"_s << false;
        QTest::newRow("a weak signature, the authority in the bundle")
            << QWebEngineCertificateError::CertificateWeakSignatureAlgorithm << u"bundle-site"_s
            << false;
    }

    void certificateOverriddenForItsAuthorityOnly() {
        QFETCH(QWebEngineCertificateError::Type, type);
        QFETCH(QString, certificate);
        // An authority, a certificate it signs and one signed by itself (NAME.pem, its key in
        // NAME.key), made once: the bundle is read once per process.
        const auto file = [this](const QString &name) { return m_keys.filePath(name); };
        const auto make = [this](const QString &name, const QStringList &arguments) {
            return support::makeCertificate(m_keys.path(), name, arguments);
        };
        const QStringList site{u"-subj"_s, u"/CN=127.0.0.1"_s, u"-addext"_s,
                               u"subjectAltName=IP:127.0.0.1"_s};
        if (!QFile::exists(file(u"other-site.pem"_s))) {
            QVERIFY(make(u"bundle"_s, {u"-subj"_s, u"/CN=bundle"_s}));
            QVERIFY(make(u"bundle-site"_s, site + QStringList{u"-CA"_s, file(u"bundle.pem"_s),
                                                              u"-CAkey"_s, file(u"bundle.key"_s)}));
            QVERIFY(make(u"other-site"_s, site));
        }
        qputenv("SSL_CERT_FILE", QFile::encodeName(file(u"bundle.pem"_s)));
        const bool result = HiddenBrowser::overridesCertificateError(
            type, QSslCertificate::fromPath(file(certificate + u".pem"_s)), u"127.0.0.1"_s);
        qunsetenv("SSL_CERT_FILE");
        QTEST(result, "overridden");
    }

private:
    // The page /guard/page serves from now on, and no beacon seen yet.
    void serveGuardPage(const QString &html) {
        const std::lock_guard lock(m_beaconMutex);
        m_beacons.clear();
        m_guardPage = html.toUtf8();
    }

    QString privateUrl(const QString &path, const QString &host = u"127.0.0.2"_s) const {
        return u"http://%1:%2%3"_s.arg(host).arg(m_privatePort).arg(path);
    }

    support::LoopbackSite m_site;
    httplib::Server m_private;
    int m_privatePort = -1;
    std::thread m_privateThread;
    QByteArray m_hostsLine; // the line this test added to /etc/hosts
    std::mutex m_beaconMutex;
    QStringList m_beacons;
    QByteArray m_guardPage;
    std::pair<QByteArrayList, QByteArray>
        m_plainPage;          // the head lines and body of /plaincookie/page
    QStringList m_plainAsked; // what each request for it asked with
    QTemporaryDir m_keys;     // the certificate authorities and a site's certificate
};

QTEST_MAIN(TestPageFetch)
#include "tests/tst_pagefetch.moc"
