// Fetching a job's pages through the real client, browser and script engine against a loopback
// site: cookies, character sets per page kind, gzip, progress, failures, and contents pages that
// their site builds with scripts.

#include "pipeline/downloadjob.h"
#include "pipeline/hiddenbrowser.h"
#include "pipeline/pagefetch.h"
#include "pipeline/renderpage.h"
#include "pipeline/webengine.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"
#include "text/charset.h"

#include <QRegularExpression>
#include <QTest>

#include <httplib.h>

using namespace Qt::StringLiterals;

namespace {

// The job's steps for these tests: they record each page and ask for the next ones listed.
class RecordingSteps : public PageSteps {
public:
    RecordingSteps(PageFetcher &fetcher, DownloadJob &job)
        : m_fetcher(fetcher)
        , m_job(job) {}

    struct Seen {
        int kind;
        QString text;
    };
    QList<Seen> pages;
    QList<std::pair<int, QString>> nextPages; // page kind and address

    void contentsStep() override { record(m_job.pageText); }
    void chapterStep(const QString &page) override { record(page); }

private:
    void record(const QString &text) {
        pages.append({m_job.pageKind, text});
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
        view.contents = contentsUrl;
        job.pageKind = PageKind::Contents;
        fetcher.handleWeb(contentsUrl);
    }
};

} // namespace

class TestPageFetch : public QObject {
    Q_OBJECT

public:
    static void initMain() { prepareWebEngine(); }

private slots:
    void initTestCase();
    void cookieTravelsWithEveryRequestOfAJob();
    void charsetDetectedOncePerPageKind();
    void bodyIsInflatedCleanedAndSqueezed();
    void progressWithoutContentLength();
    void failedRequestsEndTheJob_data();
    void failedRequestsEndTheJob();
    void scriptedContentsPageIsBuilt();
    void siteLabelOfAHost_data();
    void siteLabelOfAHost();

private:
    support::LoopbackSite m_site;
    int m_closedPort = 0;
};

void TestPageFetch::initTestCase() {
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

    m_site.serve(u"/gzip/index.html"_s,
                 {.body = support::gbk(u"<td>目录</td>  \r\n  <td >页\0</td >"_s),
                  .gzip = true,
                  .contentEncoding = "GZIP"});
    m_site.serve(u"/chunked/index.html"_s, {.body = QByteArray(30000, 'a'), .chunked = true});
    m_site.serve(u"/broken/index.html"_s,
                 {.body = "<html>plain text, said to be gzip</html>", .contentEncoding = "gzip"});
    m_site.serve(u"/cut/index.html"_s, {.body = QByteArray(60000, 'a'), .cutAfter = 1000});

    m_site.serve(u"/scripted/index.html"_s,
                 {.body = "<html><head><script src=\"/js/list.js\"></script>"
                          "<script src=\"http://cdn.invalid/lib.js\"></script></head><body>"
                          "<script>document.write('<h1>' + bookTitle() + '</h1>');</script>"
                          "<ul><script>writeChapters();</script></ul></body></html>"});
    m_site.serve(u"/js/list.js"_s,
                 {.body = "function bookTitle() { return 'Built'; }\n"
                          "function writeChapters() {\n"
                          "  for (var i = 1; i <= 2; ++i)\n"
                          "    document.write('<li><a href=\"' + i + '.html\">Chapter ' + i + "
                          "'</a></li>');\n}\n",
                  .contentType = "application/javascript"});
    QVERIFY(m_site.start());
    support::LoopbackSite closed;
    QVERIFY(closed.start());
    m_closedPort = closed.port();
}

void TestPageFetch::cookieTravelsWithEveryRequestOfAJob() {
    Fixture fixture;
    fixture.steps.nextPages = {{PageKind::Chapter, m_site.url(u"/cookie/1.html"_s)},
                               {PageKind::Chapter, m_site.url(u"/cookie/2.html"_s)}};
    const qsizetype before = m_site.clientRequests().size();
    fixture.run(m_site.url(u"/cookie/index.html"_s));
    QCOMPARE(fixture.job.endState, EndState::Success);
    // One cookie from the response's header, one set by the page's script.
    const QString cookie = fixture.job.savedCookie;
    QVERIFY2(cookie == u"sid=abc; js=1"_s || cookie == u"js=1; sid=abc"_s, qPrintable(cookie));
    QCOMPARE(fixture.steps.pages.size(), 3);
    QCOMPARE(fixture.steps.pages.at(1).text, u"<p>one</p>"_s);
    QCOMPARE(fixture.steps.pages.at(2).text, u"<p>two</p>"_s);
    const QList<support::SeenRequest> requests = m_site.clientRequests(before);
    QCOMPARE(requests.size(), 3);
    for (const support::SeenRequest &request : requests)
        QCOMPARE(request.cookie, cookie);

    // The next job's contents page sets no cookie (another host, so the browser has none for
    // it): no cookie header at all, though the job before had one.
    fixture.steps.pages.clear();
    fixture.run(m_site.url(u"/plain/index.html"_s, u"localhost"_s));
    QCOMPARE(fixture.steps.pages.size(), 1);
    QCOMPARE(fixture.job.savedCookie, QString());
    QVERIFY(!m_site.clientRequests().last().hasCookie);
}

void TestPageFetch::charsetDetectedOncePerPageKind() {
    Fixture fixture;
    fixture.job.rules.tagCharset = {QString(), u"big5"_s, QString()};
    fixture.steps.nextPages = {{PageKind::Chapter, m_site.url(u"/charset/1.html"_s)},
                               {PageKind::ChapterText, m_site.url(u"/charset/text1.txt"_s)},
                               {PageKind::ChapterText, m_site.url(u"/charset/text2.txt"_s)}};
    fixture.run(m_site.url(u"/charset/index.html"_s));
    QCOMPARE(fixture.steps.pages.size(), 4);
    QCOMPARE(fixture.steps.pages.at(0).text, u"<p>书的目录页</p>"_s);
    QCOMPARE(fixture.steps.pages.at(1).text, u"<p>第一章</p>"_s);
    QCOMPARE(fixture.steps.pages.at(2).text, u"正文一"_s);
    // The second separate text is read with the set the first one was detected in.
    QCOMPARE(fixture.steps.pages.at(3).text,
             charset::decodeBytes(support::gbk(u"正文二"_s), u"utf-8"_s));
    QCOMPARE(fixture.job.rules.tagCharset,
             (std::array<QString, 3>{u"gbk"_s, u"big5"_s, u"utf-8"_s}));
}

void TestPageFetch::bodyIsInflatedCleanedAndSqueezed() {
    Fixture fixture;
    fixture.job.rules.tagCharset[PageKind::Contents] = u"gbk"_s;
    fixture.run(m_site.url(u"/gzip/index.html"_s));
    QCOMPARE(fixture.job.endState, EndState::Success);
    QVERIFY(fixture.job.gzipBody);
    QCOMPARE(fixture.steps.pages.size(), 1);
    QCOMPARE(fixture.steps.pages.first().text, u"<td>目录</td><td>页</td>"_s);
}

void TestPageFetch::progressWithoutContentLength() {
    Fixture fixture;
    fixture.run(m_site.url(u"/chunked/index.html"_s));
    QCOMPARE(fixture.job.expectedLength, 102400);
    const QList<double> &bar = fixture.view.pageBar;
    QVERIFY(bar.size() >= 3);
    QCOMPARE(bar.first(), 0.0);
    QCOMPARE(bar.at(bar.size() - 2), 30000 * 1440.0 / 102400);
    QCOMPARE(bar.last(), 1440.0);
    const QRegularExpression speed(u"^传输速度：\\d+(\\.\\d{1,2})? KB/秒$"_s);
    for (const QString &status : fixture.view.statuses)
        QVERIFY2(speed.match(status).hasMatch(), qPrintable(status));
}

void TestPageFetch::failedRequestsEndTheJob_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("clientRequests");
    QTest::newRow("connection cut mid-body") << m_site.url(u"/cut/index.html"_s) << 1;
    QTest::newRow("body that does not inflate") << m_site.url(u"/broken/index.html"_s) << 1;
    QTest::newRow("unreachable host") << u"http://127.0.0.1:%1/index.html"_s.arg(m_closedPort) << 0;
    QTest::newRow("not an address") << u"books/index.html"_s << 0;
}

void TestPageFetch::failedRequestsEndTheJob() {
    QFETCH(QString, url);
    QFETCH(int, clientRequests);
    Fixture fixture;
    fixture.steps.nextPages = {{PageKind::Chapter, m_site.url(u"/plain/index.html"_s)}};
    const qsizetype before = m_site.clientRequests().size();
    fixture.run(url);
    QCOMPARE(fixture.job.endState, EndState::Failure);
    QVERIFY(fixture.steps.pages.isEmpty());
    QCOMPARE(m_site.clientRequests().size() - before, clientRequests);
}

void TestPageFetch::scriptedContentsPageIsBuilt() {
    Fixture fixture;
    fixture.job.rules.tagHtml = u"1"_s;
    fixture.job.host = u"127.0.0.1:%1"_s.arg(m_site.port());
    fixture.run(m_site.url(u"/scripted/index.html"_s));
    QCOMPARE(fixture.steps.pages.size(), 1);
    const QString page = fixture.steps.pages.first().text;
    QVERIFY2(page.contains(u"<h1>Built</h1>"_s), qPrintable(page));
    QVERIFY(page.contains(u"<li><a href=\"1.html\">Chapter 1</a></li>"
                          u"<li><a href=\"2.html\">Chapter 2</a></li>"_s));
    // The site's own script was copied into the page; the other site's stays a reference.
    QVERIFY(!page.contains(u"src=\"/js/list.js\""_s));
    QVERIFY(page.contains(u"<script src=\"http://cdn.invalid/lib.js\"></script>"_s));
}

void TestPageFetch::siteLabelOfAHost_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("label"); // "<none>" when the host has no dot
    QTest::newRow("three parts") << u"www.book.com"_s << u"book"_s;
    QTest::newRow("two parts") << u"abc.com"_s << u"abc"_s;
    QTest::newRow("address with port") << u"127.0.0.1:8080"_s << u"0"_s;
    QTest::newRow("no dot") << u"localhost"_s << u"<none>"_s;
}

void TestPageFetch::siteLabelOfAHost() {
    QFETCH(QString, host);
    QFETCH(QString, label);
    QCOMPARE(siteLabel(host).value_or(u"<none>"_s), label);
}

QTEST_MAIN(TestPageFetch)
#include "tst_pagefetch.moc"
