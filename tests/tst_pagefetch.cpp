// Fetching a job's pages through the real client, browser and script engine against a loopback
// site: cookies, character sets per page kind, progress and speed, and contents pages that their
// site builds with scripts. (tst_cli's demo site serves every page gzip-compressed.)

#include "pipeline/downloadjob.h"
#include "pipeline/hiddenbrowser.h"
#include "pipeline/pagefetch.h"
#include "pipeline/requestguard.h"
#include "pipeline/webengine.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"
#include "text/charset.h"

#include <QTest>

#include <httplib.h>

#include <mutex>

using namespace Qt::StringLiterals;

namespace {

// The job's steps for these tests: they record each page and ask for the next ones listed.
class RecordingSteps : public PageSteps {
public:
    RecordingSteps(PageFetcher &fetcher, DownloadJob &job)
        : m_fetcher(fetcher)
        , m_job(job) {}

    QStringList pages;
    QList<std::pair<PageKind, QString>> nextPages; // page kind and address

    void contentsStep() override { record(m_job.pageText); }
    void chapterStep(const QString &page) override { record(page); }

private:
    void record(const QString &text) {
        pages.append(text);
        if (nextPages.isEmpty())
            return;
        const auto [kind, url] = nextPages.takeFirst();
        m_job.pageKind = kind;
        m_fetcher.handleWeb(url);
    }

    PageFetcher &m_fetcher;
    DownloadJob &m_job;
};

// One job's worth of pipeline around a page fetcher.
struct Fixture {
    DownloadJob job;
    support::RecordingView view;
    HttpClient http{TransferLimits{5, 2}};
    HiddenBrowser browser{nullptr, HiddenBrowser::Layout::Skipped}; // as the pipeline has it
    HiddenBrowser renderer;
    PageFetcher fetcher{job, view, http, browser, renderer};
    RecordingSteps steps{fetcher, job};

    Fixture() { fetcher.setSteps(&steps); }

    void run(const QString &contentsUrl) {
        job.inputs.contentsUrl = contentsUrl;
        job.pageKind = PageKind::Contents;
        fetcher.handleWeb(contentsUrl);
    }
};

} // namespace

class TestPageFetch : public QObject {
    Q_OBJECT

public:
    static void initMain() { pipeline::prepareWebEngine(); }

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

        m_site.serve(u"/scripted/index.html"_s,
                     {.body = "<html><head><script src=\"/js/list.js\"></script>"
                              "<script src=\"http://cdn.invalid/lib.js\"></script></head><body>"
                              "<script>document.write('<h1>' + bookTitle() + '</h1>');</script>"
                              "<ul><script>writeChapters();</script></ul></body></html>"});
        m_site.serve(u"/js/list.js"_s,
                     {.body = "function bookTitle() { return 'Built'; }\nfunction writeChapters() {"
                              " document.write('<li><a href=\"1.html\">Chapter 1</a></li>'); }\n",
                      .contentType = "application/javascript"});
        m_site.server().Get(R"(/beacon/.*)",
                            [this](const httplib::Request &req, httplib::Response &) {
                                const std::lock_guard lock(m_beaconMutex);
                                m_beacons.append(QString::fromStdString(req.path));
                            });
        QVERIFY(m_site.start());
    }

    void cookieTravelsWithEveryRequestOfAJob() {
        Fixture fixture;
        fixture.steps.nextPages = {{PageKind::Chapter, m_site.url(u"/cookie/1.html"_s)},
                                   {PageKind::Chapter, m_site.url(u"/cookie/2.html"_s)}};
        const qsizetype before = m_site.clientRequests().size();
        fixture.run(m_site.url(u"/cookie/index.html"_s));
        QCOMPARE(fixture.job.endState, EndState::Success);
        // One cookie from the response's header, one set by the page's script.
        const QString cookie = fixture.job.savedCookie;
        QVERIFY2(cookie == u"sid=abc; js=1"_s || cookie == u"js=1; sid=abc"_s, qPrintable(cookie));
        QCOMPARE(fixture.steps.pages.mid(1), (QStringList{u"<p>one</p>"_s, u"<p>two</p>"_s}));
        for (const support::SeenRequest &request : m_site.clientRequests(before))
            QCOMPARE(request.cookie, cookie);

        // The next job's contents page sets no cookie (another host, so the browser has none for
        // it): no cookie header at all, though the job before had one.
        fixture.run(m_site.url(u"/plain/index.html"_s, u"localhost"_s));
        QCOMPARE(fixture.steps.pages.size(), 4);
        QCOMPARE(fixture.job.savedCookie, QString());
        QVERIFY(!m_site.clientRequests().last().hasCookie);
    }

    void charsetDetectedOncePerPageKind() {
        Fixture fixture;
        fixture.job.rules.tagCharset = {QString(), u"big5"_s, QString()};
        fixture.steps.nextPages = {{PageKind::Chapter, m_site.url(u"/charset/1.html"_s)},
                                   {PageKind::ChapterText, m_site.url(u"/charset/text1.txt"_s)},
                                   {PageKind::ChapterText, m_site.url(u"/charset/text2.txt"_s)}};
        fixture.run(m_site.url(u"/charset/index.html"_s));
        // The second separate text is read with the set the first one was detected in.
        QCOMPARE(fixture.steps.pages,
                 (QStringList{u"<p>书的目录页</p>"_s, u"<p>第一章</p>"_s, u"正文一"_s,
                              charset::decodeBytes(support::gbk(u"正文二"_s), u"utf-8"_s)}));
        QCOMPARE(fixture.job.rules.tagCharset,
                 (std::array<QString, 3>{u"gbk"_s, u"big5"_s, u"utf-8"_s}));
    }

    void progressAndSpeed() {
        Fixture fixture;
        fixture.run(m_site.url(u"/chunked/index.html"_s));
        QCOMPARE(fixture.job.expectedLength, 102400);
        // Drawn against the assumed length while it arrives, then full once it has.
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
        QCOMPARE(pipeline::speedStatus(384), u"传输速度：0.38 KB/秒"_s);  // 0.375
    }

    void scriptedContentsPageIsBuilt() {
        Fixture fixture;
        fixture.job.rules.tagHtml = u"1"_s;
        fixture.job.host = u"127.0.0.1:%1"_s.arg(m_site.port());
        fixture.run(m_site.url(u"/scripted/index.html"_s));
        QCOMPARE(fixture.steps.pages.size(), 1);
        const QString page = fixture.steps.pages.first();
        QVERIFY2(page.contains(u"<h1>Built</h1>"_s), qPrintable(page));
        QVERIFY(page.contains(u"<li><a href=\"1.html\">Chapter 1</a></li></ul>"_s));
        // The site's own script was copied into the page; the other site's stays a reference.
        QVERIFY(!page.contains(u"src=\"/js/list.js\""_s));
        QVERIFY(page.contains(u"<script src=\"http://cdn.invalid/lib.js\"></script>"_s));
    }

    // What a hidden browser may fetch: nothing while it converts chapter HTML (no script of the
    // fragment runs either), and nothing on this machine while it builds a page from a public
    // site, unless the page itself comes from here.
    void hiddenBrowserFetchesOnlyWhatItMay_data() {
        QTest::addColumn<bool>("conversion");     // renderedText, else buildPage
        QTest::addColumn<QString>("publicHost");  // treated as public for the row
        QTest::addColumn<QStringList>("beacons"); // the requests that reach the site
        QTest::newRow("chapter conversion") << true << QString() << QStringList();
        QTest::newRow("public page reaching this machine")
            << false << u"127.0.0.1"_s << QStringList();
        QTest::newRow("page from this machine")
            << false << QString() << QStringList{u"/beacon/image"_s};
    }

    void hiddenBrowserFetchesOnlyWhatItMay() {
        QFETCH(bool, conversion);
        QFETCH(QString, publicHost);
        RequestGuard::treatAsPublicForTesting(publicHost);
        m_beacons.clear();
        const QString image =
            u"<img src=\"%1\">"_s.arg(m_site.url(u"/beacon/image"_s, u"localhost"_s));
        const QString script = u"<img src=\"x\" onerror=\"new Image().src = '%1'\">"_s.arg(
            m_site.url(u"/beacon/script"_s));
        HiddenBrowser browser;
        if (conversion) {
            QCOMPARE(browser.renderedText(u"<p>正文</p>"_s + image + script), u"正文"_s);
        } else {
            QVERIFY(browser.buildPage(u"<p>页</p>"_s + image, QUrl(m_site.url(u"/"_s))));
        }
        QTest::qWait(300); // a request would have been sent by now
        RequestGuard::treatAsPublicForTesting(QString());
        const std::lock_guard lock(m_beaconMutex);
        QFETCH(QStringList, beacons);
        QCOMPARE(m_beacons, beacons);
    }

private:
    support::LoopbackSite m_site;
    std::mutex m_beaconMutex;
    QStringList m_beacons;
};

QTEST_MAIN(TestPageFetch)
#include "tests/tst_pagefetch.moc"
