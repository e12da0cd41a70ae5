// The helpers that leave the process: urlReachable against a loopback site, and shellOpen
// through the desktop's handlers.

#include "net/urlreachable.h"
#include "tests/support/loopbacksite.h"
#include "window/shellopen.h"

#include <QDesktopServices>
#include <QTest>
#include <QUrl>

#include <httplib.h>

#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;
using namespace norModule;

// Receives what the desktop would have opened.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class TestUrlReachable : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void answersWhetherAPageResponds_data();
    void answersWhetherAPageResponds();
    void lengthLimitSendsNothing_data();
    void lengthLimitSendsNothing();
    void silentServerFailsAfterTheIdleLimit();
    void shellOpenHandsTargetsToTheDesktop();

private:
    support::LoopbackSite m_site;
    int m_closedPort = 0;
};

void TestUrlReachable::initTestCase() {
    httplib::Server &server = m_site.server();
    server.Get("/page", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("<html>chapter</html>", "text/html");
    });
    server.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    server.Get("/moved",
               [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/page"); });
    server.Get("/loop",
               [](const httplib::Request &, httplib::Response &res) { res.set_redirect("/loop"); });
    // Headers at once, then a body that never comes: the probe must not wait for it.
    server.Get("/stalled-body", [](const httplib::Request &, httplib::Response &res) {
        res.set_content_provider(1000, "text/plain", [](size_t, size_t, httplib::DataSink &sink) {
            for (int i = 0; i < 500 && sink.is_writable(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return false;
        });
    });
    server.Get("/silent", [](const httplib::Request &, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        res.set_content("late", "text/plain");
    });
    QVERIFY(m_site.start());

    support::LoopbackSite closed;
    QVERIFY(closed.start());
    m_closedPort = closed.port();
}

void TestUrlReachable::answersWhetherAPageResponds_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("reachable");
    QTest::newRow("page") << u"/page"_s << true;
    QTest::newRow("error status still answers") << u"/missing"_s << true;
    QTest::newRow("redirect followed") << u"/moved"_s << true;
    QTest::newRow("endless redirects") << u"/loop"_s << false;
    QTest::newRow("body never arrives") << u"/stalled-body"_s << true;
}

void TestUrlReachable::answersWhetherAPageResponds() {
    QFETCH(QString, path);
    QFETCH(bool, reachable);
    const QString candidate = m_site.url(path);
    QCOMPARE(urlReachable(candidate, candidate), reachable);
}

void TestUrlReachable::lengthLimitSendsNothing_data() {
    QTest::addColumn<QString>("candidate");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("requests");

    const QString page = m_site.url(u"/page"_s);
    QTest::newRow("21 longer is never tried")
        << page + u"?"_s + QString(20, u'x') << page << false << 0;
    QTest::newRow("20 longer is tried") << page + u"?"_s + QString(19, u'x') << page << true << 1;
    QTest::newRow("chinese counts two bytes a character")
        << page + u"?"_s + QString(10, u'章') << page << false << 0;
    QTest::newRow("not a web address") << u"file:///etc/passwd"_s << page << false << 0;
    QTest::newRow("nothing listens")
        << u"http://127.0.0.1:%1/page"_s.arg(m_closedPort) << page << false << 0;
}

void TestUrlReachable::lengthLimitSendsNothing() {
    QFETCH(QString, candidate);
    QFETCH(QString, reference);
    QFETCH(bool, reachable);
    QFETCH(int, requests);
    const int before = m_site.requestCount();
    QCOMPARE(urlReachable(candidate, reference), reachable);
    QCOMPARE(m_site.requestCount() - before, requests);
}

void TestUrlReachable::silentServerFailsAfterTheIdleLimit() {
    const QString candidate = m_site.url(u"/silent"_s);
    QVERIFY(!urlReachable(candidate, candidate, TransferLimits{5, 1}));
}

void TestUrlReachable::shellOpenHandsTargetsToTheDesktop() {
    OpenedUrls opened;
    QDesktopServices::setUrlHandler(u"kestrelon-test"_s, &opened, "open");
    QDesktopServices::setUrlHandler(u"file"_s, &opened, "open");
    shellOpen(u"kestrelon-test://settings/Kestrelon.ini"_s);
    shellOpen(u"/tmp/书架/book.txt"_s);
    QDesktopServices::unsetUrlHandler(u"kestrelon-test"_s);
    QDesktopServices::unsetUrlHandler(u"file"_s);
    QCOMPARE(opened.urls, (QList<QUrl>{QUrl(u"kestrelon-test://settings/Kestrelon.ini"_s),
                                       QUrl::fromLocalFile(u"/tmp/书架/book.txt"_s)}));
}

QTEST_MAIN(TestUrlReachable)
#include "tst_urlreachable.moc"
