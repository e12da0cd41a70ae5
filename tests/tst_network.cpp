// kestrelon-cli's network options as a process against a loopback site: the same book whatever
// the parallelism, the limits the site sees, retries, chapters answered without text, a stop
// during a retry's wait, resuming from the cache, and where the cookie goes.

#include "demo/demosite.h"
#include "tests/support/clirun.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

using namespace Qt::StringLiterals;

class TestNetwork : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_demo.addRoutes(m_site.server());
        serveBook(u"paced"_s, 16, [](int) { return support::Page{.delayMs = 150}; });
        // The script's own text must not read as a chapter link.
        m_site.serve(u"/scripted/"_s,
                     {.body = "<h1>Scripted</h1><ul><script>for (var i = 1; i <= 4; ++i) "
                              "document.write('<' + 'li><a href=\"/paced/' + i + '.html\">' + "
                              "'Chapter ' + i + '</a></li>');</script></ul>"});
        serveBook(u"retry-a"_s, 3, at(2, {.failFirst = 2}));
        serveBook(u"retry-b"_s, 3, at(2, {.failFirst = 1, .failStatus = 429, .retryAfter = "1"}));
        serveBook(u"hold"_s, 2, at(1, {.failFirst = 1000, .retryAfter = "30"}));
        serveBook(u"resume"_s, 8, at(5, {.failFirst = 1, .failStatus = 404}));
        // Chapter 2 is answered with the site's own page in place of the chapter, with a status
        // that claims success: what a bot check or "too many requests" looks like.
        const support::Page busy{.failFirst = 1, .failStatus = 200};
        // For every row that asks for it.
        serveBook(u"bare"_s, 3, at(2, {.failFirst = 1000, .failStatus = 200}));
        serveBook(u"busy"_s, 3, at(2, busy));
        // Chapters 1 and 2 answered once without text, and chapter 3 failing outright once.
        serveBook(u"busy-then-404"_s, 3, [busy](int c) {
            return c < 3 ? busy : support::Page{.failFirst = 1, .failStatus = 404};
        });
        // The one chapter goes on at another host, localhost.
        m_site.serve(u"/cookie/"_s, {.body = support::contentsPage(u"Cookie"_s, 1),
                                     .setCookie = "sid=secret; Path=/"});
        for (int page = 1; page <= 3; ++page) {
            // The port is known only once the site runs.
            m_site.server().Get(u"/cookie/%1.html"_s.arg(page).toStdString(),
                                [this, page](const httplib::Request &, httplib::Response &res) {
                                    const QString next = m_site.url(
                                        u"/cookie/%1.html"_s.arg(page + 1), u"localhost"_s);
                                    const QByteArray body = support::chapterPage(
                                        u"第%1章的正文。"_s.arg(page), page < 3 ? next : QString());
                                    res.set_content(body.toStdString(), "text/html");
                                });
        }
        QVERIFY(m_site.start());
        m_settings = m_dir.filePath(u"Kestrelon.ini"_s);
        // The second host also builds its contents page with the hidden browser and asks for
        // three requests at once.
        QVERIFY(support::writeBytes(m_settings,
                                    support::bookRules(u"127.0.0.1:%1"_s.arg(m_site.port())) +
                                        support::bookRules(u"localhost:%1"_s.arg(m_site.port()),
                                                           u"tagHtml=1\r\nparallel=3\r\n"_s)));
    }

    void sameBookWhateverTheParallelism_data() {
        QTest::addColumn<QStringList>("arguments");
        const QString demo = m_site.url(QString::fromLatin1(demo::kDemoBookFolder));
        const auto chapter = [&](int c) { return demo + u"%1.html"_s.arg(c); };
        // The demo book has volumes, follow-on pages, a separate text document and
        // advertisements: chapters 3 to 9 have all but an advertisement, which chapter 2 has. The
        // tagHtml row's job runs to the last chapter its contents page lists. (--small-chapters
        // changes only the names the contents page gives, not what is fetched.)
        QTest::newRow("range") << QStringList{u"--from"_s, chapter(3), u"--to"_s, chapter(9), demo};
        QTest::newRow("browser text")
            << QStringList{u"--browser-text"_s, u"--to"_s, chapter(6), demo};
        QTest::newRow("contents built by the browser (tagHtml)")
            << QStringList{m_site.url(u"/scripted/"_s, u"localhost"_s)};
    }

    void sameBookWhateverTheParallelism() {
        QFETCH(QStringList, arguments);
        const support::CliRun one = run(QStringList{u"--parallel"_s, u"1"_s} + arguments);
        const support::CliRun five = run(QStringList{u"--parallel"_s, u"5"_s} + arguments);
        QVERIFY(one.exitCode == 0 && five.exitCode == 0);
        QVERIFY(one.book().size() > 100);
        QCOMPARE(five.book(), one.book());
    }

    void requestsAsTheSiteSeesThem_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("most");  // requests at once
        QTest::addColumn<int>("gapMs"); // least time between two starts
        QTest::newRow("the site's key") << u"localhost"_s << QStringList() << 3 << 0;
        QTest::newRow("--parallel 2 over the site's key")
            << u"localhost"_s << QStringList{u"--parallel"_s, u"2"_s} << 2 << 0;
        QTest::newRow("--delay 300 at three at once")
            << QString() << QStringList{u"--parallel"_s, u"3"_s, u"--delay"_s, u"300"_s} << 3
            << 300;
    }

    void requestsAsTheSiteSeesThem() {
        QFETCH(QString, host);
        QFETCH(QStringList, options);
        QFETCH(int, gapMs);
        const QByteArray settings = support::readBytes(m_settings);
        m_site.resetConcurrency();
        const qsizetype before = m_site.clientRequests().size();
        const QString to = m_site.url(u"/paced/%1.html"_s.arg(gapMs ? 5 : 16), host);
        const support::CliRun result =
            run(options + QStringList{u"--to"_s, to, m_site.url(u"/paced/"_s, host)});
        QCOMPARE(result.exitCode, 0);
        QFETCH(int, most);
        QVERIFY2(m_site.maxConcurrent() <= most,
                 qPrintable(QString::number(m_site.maxConcurrent())));
        if (gapMs == 0)
            QVERIFY(m_site.maxConcurrent() > 1);
        const QList<support::SeenRequest> seen = m_site.clientRequests(before);
        for (qsizetype i = 1; i < seen.size(); ++i)
            QVERIFY2(seen.at(i).atMs - seen.at(i - 1).atMs >= gapMs - 20,
                     qPrintable(seen.at(i).path));
        // The site's keys are read, never written back.
        QCOMPARE(support::readBytes(m_settings), settings);
    }

    // Chapter 2 fails or comes without text at first: each retry is announced and made after its
    // wait, and the book is written with or without the chapter. The cookie the contents page
    // sets goes back to its own host only: every chapter page's request is checked.
    void retriesChaptersWithoutTextAndTheCookie_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("asked"); // how often chapter 2 was asked for
        const QStringList one{u"--retries"_s, u"1"_s};
        const QStringList two{u"--retries"_s, u"2"_s};
        QTest::newRow("failing twice, two retries: the book") << u"retry-a"_s << two << 0 << 3;
        QTest::newRow("429 with Retry-After: 1, with five at once")
            << u"retry-b"_s << one + QStringList{u"--parallel"_s, u"5"_s} << 0 << 2;
        QTest::newRow("text the second time, one retry") << u"busy"_s << one << 0 << 2;
        // (A job that may not retry asks for it once: the resume row with chapters without text
        // relies on that, and tst_window names such a chapter of a job that fetches one at a time.)
        QTest::newRow("never any text, two retries with three at once")
            << u"bare"_s << two + QStringList{u"--parallel"_s, u"3"_s} << 4 << 3;
        // The cookie book's one chapter goes on at another host, localhost: its 2.html and 3.html
        // are the chapter's second and third pages.
        QTest::newRow("the cookie, one at a time") << u"cookie"_s << QStringList() << 0 << 1;
        QTest::newRow("the cookie, three at once")
            << u"cookie"_s << QStringList{u"--parallel"_s, u"3"_s} << 0 << 1;
    }

    void retriesChaptersWithoutTextAndTheCookie() {
        QFETCH(QString, folder);
        QFETCH(QStringList, options);
        QFETCH(int, asked);
        const qsizetype before = m_site.clientRequests().size();
        const support::CliRun result =
            run(options + QStringList{m_site.url(u"/%1/"_s.arg(folder))});
        QTEST(result.exitCode, "exitCode");
        const QString chapter = m_site.url(u"/%1/2.html"_s.arg(folder));
        QList<qint64> times; // when chapter 2 was asked for
        QStringList pages;   // every chapter page asked for
        for (const support::SeenRequest &request : m_site.clientRequests(before)) {
            if (request.path == u"/%1/2.html"_s.arg(folder))
                times.append(request.atMs);
            if (!request.path.endsWith(u".html"_s))
                continue;
            pages.append(request.path);
            // The cookie goes with the chapter page at 127.0.0.1 only.
            QCOMPARE(request.hasCookie ? request.cookie : u"none"_s,
                     request.path == u"/cookie/1.html"_s ? u"sid=secret"_s : u"none"_s);
        }
        QCOMPARE(times.size(), asked);
        QCOMPARE(pages.removeDuplicates(), asked - 1); // no other page is asked for twice
        if (asked > 1) {
            QVERIFY2(result.err.contains(u"重试（第 1 次）：%1"_s.arg(chapter)),
                     qPrintable(result.err));
            QVERIFY(times.at(1) - times.at(0) >= 950);
        }
        // Written either way, with or without the chapter, and the result line stays the same.
        QVERIFY(result.book().contains(support::gbk(u"第3章的正文"_s)));
        const bool missing = result.exitCode == 4;
        QCOMPARE(result.book().contains(support::gbk(u"第2章的正文"_s)), !missing);
        QCOMPARE(result.out,
                 u"取书进度：下载成功！\n"_s +
                     (missing ? u"没有正文的章节：第2章 %1\n"_s.arg(chapter) : QString()));
    }

    // The site asks to come back in thirty seconds; Ctrl-C does not wait for them. (A stop during
    // a trickling page is tested through the window in tst_window.)
    void stopDuringARetrysWaitIsPrompt() {
        const support::CliRun result =
            run({u"--retries"_s, u"3"_s, m_site.url(u"/hold/"_s)},
                {.interruptWhen = m_site.asked(u"/hold/1.html"_s), .interruptAfterMs = 500});
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.stoppedMs >= 0 && result.stoppedMs < 3000,
                 qPrintable(QString::number(result.stoppedMs)));
        QVERIFY(result.shelf.isEmpty());
    }

    void resumeFetchesOnlyWhatIsMissing_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("parallel");
        // The chapters the rerun asks for again; it takes the others from the cache.
        QTest::addColumn<QList<int>>("refetched");
        // Chapter 5 fails the first time it is asked for: the first run ends there.
        QTest::newRow("a failed chapter, one at a time") << u"resume"_s << 1 << QList{5, 6, 7, 8};
        // Chapters 1 and 2 came without text before chapter 3 failed: nothing of them was kept.
        QTest::newRow("chapters without text, three at once")
            << u"busy-then-404"_s << 3 << QList{1, 2, 3};
    }

    void resumeFetchesOnlyWhatIsMissing() {
        QFETCH(QString, folder);
        QFETCH(int, parallel);
        const QStringList options{u"--resume"_s, u"--parallel"_s, QString::number(parallel)};
        const QString contents = m_site.url(u"/%1/"_s.arg(folder));
        QCOMPARE(run(options + QStringList{contents}).exitCode, 1);
        const qsizetype before = m_site.clientRequests().size();
        const support::CliRun resumed = run(options + QStringList{contents});
        QCOMPARE(resumed.exitCode, 0);
        const QStringList asked = m_site.clientPaths(before);
        QVERIFY(asked.contains(u"/%1/"_s.arg(folder))); // what the book is now, not then
        QList<int> chapters; // in order of number (no book here has more than 8)
        for (int c = 1; c <= 8; ++c) {
            if (asked.contains(u"/%1/%2.html"_s.arg(folder).arg(c)))
                chapters.append(c);
        }
        QTEST(chapters, "refetched");
        QCOMPARE(resumed.book(), run({contents}).book());
        // The book is written: its cache is gone.
        QVERIFY(QDir(m_cache.filePath(u"kestrelon"_s))
                    .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                    .isEmpty());
    }

private:
    // How chapter `chapter` of a book is served; the others as plain pages.
    static std::function<support::Page(int)> at(int chapter, const support::Page &page) {
        return [chapter, page](int c) { return c == chapter ? page : support::Page{}; };
    }
    void serveBook(const QString &folder, int chapters,
                   const std::function<support::Page(int)> &page = {}) {
        support::serveBook(m_site, folder, folder, support::chapterTexts(chapters), page);
    }
    // The program on the test's settings, with the test's cache, into a fresh shelf.
    support::CliRun run(const QStringList &arguments, support::CliOptions options = {}) {
        options.cache = m_cache.path();
        return support::runCli(
            QStringList{u"--settings"_s, m_settings, u"--overwrite"_s} + arguments, options);
    }

    support::LoopbackSite m_site;
    demo::DemoBook m_book = demo::generateDemoBook({.chapters = 12, .volumes = 3, .paragraphs = 4});
    demo::DemoSite m_demo{m_book};
    QTemporaryDir m_dir;
    QTemporaryDir m_cache;
    QString m_settings;
};

QTEST_GUILESS_MAIN(TestNetwork)
#include "tests/tst_network.moc"
