// kestrelon-cli's network options as a process against a loopback site: the same book whatever
// the parallelism, the limits the site sees, retries, a stop during a retry's wait or a trickling
// page, resuming from the cache, chapters answered without text, and where the cookie goes.

#include "demo/demosite.h"
#include "net/retrypolicy.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <csignal>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
    QByteArray book;       // the one file on the shelf, if any
    qint64 stoppedMs = -1; // from the interrupt to the program's end
};

// The demo site's rules; the second host also builds its contents page with the hidden browser
// and asks for three requests at once.
const QString kRules =
    u"tagTitle=<h1>(.*?)</h1>\r\ntagCharset=\r\ntagSort=\r\ntagUrl=\r\n"
    u"tagAuthor=<p class=\"author\">作者：(.*?)</p>\r\ntagVolume=<h2 class=\"volume\">(.*?)</h2>"
    u"\r\ntagChapter=<li><a href=\"(.*?)\">(.*?)</a></li>\r\ntagText=<div id=\"content\">(.*?)"
    u"</div>\r\ntagDel=<p class=\"ad\">.*?</p>\r\ntagNext=<div class=\"next\"><a href=\"(.*?)\">"
    u"\r\n"_s;

} // namespace

class TestNetwork : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_book = demo::generateDemoBook({.chapters = 12, .volumes = 3, .paragraphs = 4});
        m_demo = std::make_unique<demo::DemoSite>(m_book);
        m_demo->addRoutes(m_site.server());
        serveBook(u"paced"_s, 16, {.delayMs = 150}, 0);
        // The script's own text must not read as a chapter link.
        m_site.serve(u"/scripted/"_s,
                     {.body = "<h1>Scripted</h1><ul><script>for (var i = 1; i <= 4; ++i) "
                              "document.write('<' + 'li><a href=\"/paced/' + i + '.html\">' + "
                              "'Chapter ' + i + '</a></li>');</script></ul>"});
        serveBook(u"retry-a"_s, 2, {.failFirst = 2});
        serveBook(u"retry-b"_s, 2, {.failFirst = 2});
        serveBook(u"retry-c"_s, 2, {.failFirst = 1, .failStatus = 429, .retryAfter = "1"});
        serveBook(u"hold"_s, 2, {.failFirst = 1000, .retryAfter = "30"}, 1);
        serveBook(u"resume-a"_s, 8, {.failFirst = 1, .failStatus = 404}, 5);
        serveBook(u"resume-b"_s, 8, {.failFirst = 1, .failStatus = 404}, 5);
        // Chapter 2 is answered once with the site's own page in place of the chapter, with a
        // status that claims success: what a bot check or "too many requests" looks like.
        const support::Page busy{.failFirst = 1, .failStatus = 200};
        serveBook(u"bare-a"_s, 3, {.failFirst = 1000, .failStatus = 200});
        serveBook(u"bare-b"_s, 3, busy);
        serveBook(u"bare-c"_s, 3, {.failFirst = 1000, .failStatus = 200});
        serveBook(u"bare-d"_s, 3, busy);
        // Chapters 1 and 2 answered once without text, and chapter 3 failing outright once.
        for (const QString &folder : {u"bare-e"_s, u"bare-f"_s}) {
            serveBook(folder + u"/a"_s, 2, busy, 0);
            m_site.serve(u"/%1/3.html"_s.arg(folder),
                         {.body = support::gbk(u"<div id=\"content\">第3章的正文。</div>"_s),
                          .failFirst = 1,
                          .failStatus = 404});
            m_site.serve(
                u"/%1/"_s.arg(folder),
                {.body = support::gbk(u"<h1>%1</h1><li><a href=\"a/1.html\">第1章</a></li>"
                                      u"<li><a href=\"a/2.html\">第2章</a></li>"
                                      u"<li><a href=\"3.html\">第3章</a></li>"_s.arg(folder))});
        }
        m_site.server().Get("/trickle/1.html",
                            [](const httplib::Request &, httplib::Response &res) {
                                // A byte every tenth of a second: slow, but never slow enough for
                                // the speed floor.
                                res.set_chunked_content_provider(
                                    "text/html", [](size_t offset, httplib::DataSink &sink) {
                                        if (offset >= 100000) {
                                            sink.done();
                                            return true;
                                        }
                                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                        return sink.write(offset == 0 ? "<" : "p", 1);
                                    });
                            });
        m_site.serve(u"/trickle/"_s, {.body = "<h1>Trickle</h1><li><a href=\"1.html\">1</a></li>"});
        // The one chapter goes on at another host, localhost.
        m_site.serve(u"/cookie/"_s, {.body = "<h1>Cookie</h1><li><a href=\"1.html\">1</a></li>",
                                     .setCookie = "sid=secret; Path=/"});
        for (int page = 1; page <= 3; ++page) {
            m_site.server().Get(
                u"/cookie/%1.html"_s.arg(page).toStdString(),
                [this, page](const httplib::Request &, httplib::Response &res) {
                    const QString host = page == 1 ? u"localhost"_s : u"localhost."_s;
                    QString body = u"<div id=\"content\">第%1章的正文。</div>"_s.arg(page);
                    if (page < 3)
                        body += u"<div class=\"next\"><a href=\"%1\">"_s.arg(
                            m_site.url(u"/cookie/%1.html"_s.arg(page + 1), u"localhost"_s));
                    res.set_content(support::gbk(body).toStdString(), "text/html");
                });
        }
        QVERIFY(m_site.start());
        m_settings = m_dir.filePath(u"Kestrelon.ini"_s);
        QVERIFY(support::writeBytes(
            m_settings,
            support::gbk(u"[127.0.0.1:%1]\r\n%2tagHtml=\r\n[localhost:%1]\r\n%2tagHtml=1\r\n"
                         u"parallel=3\r\n"_s.arg(m_site.port())
                             .arg(kRules))));
    }

    void sameBookWhateverTheParallelism_data() {
        QTest::addColumn<QStringList>("arguments");
        const QString demo = m_site.url(QString::fromLatin1(demo::kDemoBookFolder));
        const auto chapter = [&](int c) { return demo + u"%1.html"_s.arg(c); };
        // The demo book has volumes, follow-on pages, a separate text document and
        // advertisements.
        QTest::newRow("demo book") << QStringList{demo};
        QTest::newRow("range") << QStringList{u"--from"_s, chapter(3), u"--to"_s, chapter(9), demo};
        QTest::newRow("browser text")
            << QStringList{u"--browser-text"_s, u"--to"_s, chapter(6), demo};
        QTest::newRow("small chapters") << QStringList{u"--small-chapters"_s, demo};
        QTest::newRow("contents built by the browser (tagHtml)")
            << QStringList{m_site.url(u"/scripted/"_s, u"localhost"_s)};
    }

    void sameBookWhateverTheParallelism() {
        QFETCH(QStringList, arguments);
        const Run one = run(QStringList{u"--parallel"_s, u"1"_s} + arguments);
        const Run five = run(QStringList{u"--parallel"_s, u"5"_s} + arguments);
        QVERIFY(one.exitCode == 0 && five.exitCode == 0);
        QVERIFY(one.book.size() > 100);
        QCOMPARE(five.book, one.book);
    }

    void requestsAsTheSiteSeesThem_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("most");  // requests at once
        QTest::addColumn<int>("gapMs"); // least time between two starts
        QTest::newRow("--parallel 4")
            << QString() << QStringList{u"--parallel"_s, u"4"_s} << 4 << 0;
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
        const Run result =
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

    void retries_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("waitMs"); // at least, between the failure and the retry
        QTest::newRow("failing twice, two retries: the book")
            << u"retry-a"_s << QStringList{u"--retries"_s, u"2"_s} << 0 << 1000;
        QTest::newRow("failing twice, one retry: a failure")
            << u"retry-b"_s << QStringList{u"--retries"_s, u"1"_s} << 1 << 1000;
        QTest::newRow("429 with Retry-After: 1, with five at once")
            << u"retry-c"_s << QStringList{u"--retries"_s, u"1"_s, u"--parallel"_s, u"5"_s} << 0
            << 1000;
    }

    void retries() {
        QFETCH(QString, folder);
        QFETCH(QStringList, options);
        const qsizetype before = m_site.clientRequests().size();
        const Run result = run(options + QStringList{m_site.url(u"/%1/"_s.arg(folder))});
        QTEST(result.exitCode, "exitCode");
        QCOMPARE(result.book.isEmpty(), result.exitCode != 0);
        const QString failing = u"/%1/2.html"_s.arg(folder);
        QVERIFY2(result.err.contains(u"重试（第 1 次）：%1"_s.arg(m_site.url(failing))),
                 qPrintable(result.err));
        QList<qint64> asked;
        for (const support::SeenRequest &request : m_site.clientRequests(before)) {
            if (request.path == failing)
                asked.append(request.atMs);
        }
        QVERIFY(asked.size() >= 2);
        QFETCH(int, waitMs);
        QVERIFY(asked.at(1) - asked.at(0) >= waitMs - 50);
    }

    void retryWaits_data() {
        QTest::addColumn<int>("attempt");
        QTest::addColumn<QByteArray>("retryAfter"); // the site's header, if any
        QTest::addColumn<qint64>("least");
        QTest::addColumn<qint64>("most");
        QTest::newRow("third") << 3 << QByteArray() << 4000LL << 5000LL;
        QTest::newRow("capped") << 9 << QByteArray() << 30000LL << 30000LL;
        QTest::newRow("seconds past the cap") << 1 << QByteArray("3600") << 30000LL << 30000LL;
        QTest::newRow("HTTP date")
            << 1 << QByteArray("Sun, 06 Nov 1994 08:49:47 GMT") << 10000LL << 10000LL;
        QTest::newRow("unreadable: the backoff") << 2 << QByteArray("soon") << 2000LL << 2500LL;
        QTest::newRow("now: the first backoff") << 3 << QByteArray("0") << 1000LL << 1000LL;
        QTest::newRow("a date gone by: the first backoff")
            << 1 << QByteArray("Sun, 06 Nov 1994 08:00:00 GMT") << 1000LL << 1000LL;
    }

    void retryWaits() {
        QFETCH(int, attempt);
        QFETCH(QByteArray, retryAfter);
        QFETCH(qint64, least);
        QFETCH(qint64, most);
        HttpResult result;
        if (!retryAfter.isEmpty())
            result.head.headers.append({"Retry-After", retryAfter});
        const QDateTime now(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
        for (const double jitter : {0.0, 1.0}) {
            const qint64 wait = retryPolicy::waitBeforeRetry(attempt, result, jitter, now);
            QVERIFY2(wait >= least && wait <= most, qPrintable(QString::number(wait)));
        }
    }

    void stopDuringARetrysWait() {
        // The site asks to come back in thirty seconds; Ctrl-C does not wait for them.
        const Run result =
            run({u"--retries"_s, u"3"_s, m_site.url(u"/hold/"_s)}, u"/hold/1.html"_s, 500);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.stoppedMs >= 0 && result.stoppedMs < 3000,
                 qPrintable(QString::number(result.stoppedMs)));
        QVERIFY(result.err.contains(u"重试"_s));
        QVERIFY(result.book.isEmpty());
    }

    void stopDuringATricklingPage() {
        const Run result = run({m_site.url(u"/trickle/"_s)}, u"/trickle/1.html"_s, 1000);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.stoppedMs >= 0 && result.stoppedMs < 5000,
                 qPrintable(QString::number(result.stoppedMs)));
        QVERIFY(result.book.isEmpty());
    }

    void chaptersWithoutText_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("asked"); // how often chapter 2 was asked for
        const QStringList one{u"--retries"_s, u"1"_s};
        QTest::newRow("never any text: the book without it, named")
            << u"bare-a"_s << QStringList() << 4 << 1;
        QTest::newRow("text the second time, one retry") << u"bare-b"_s << one << 0 << 2;
        QTest::newRow("never any text, two retries with three at once")
            << u"bare-c"_s << QStringList{u"--retries"_s, u"2"_s, u"--parallel"_s, u"3"_s} << 4
            << 3;
        QTest::newRow("text the second time, one retry, three at once")
            << u"bare-d"_s << QStringList{u"--retries"_s, u"1"_s, u"--parallel"_s, u"3"_s} << 0
            << 2;
    }

    void chaptersWithoutText() {
        QFETCH(QString, folder);
        QFETCH(QStringList, options);
        const qsizetype before = m_site.clientRequests().size();
        const Run result = run(options + QStringList{m_site.url(u"/%1/"_s.arg(folder))});
        QTEST(result.exitCode, "exitCode");
        const QString chapter = m_site.url(u"/%1/2.html"_s.arg(folder));
        QTEST(int(m_site.clientPaths(before).count(u"/%1/2.html"_s.arg(folder))), "asked");
        // Written either way, with or without the chapter, and the result line stays the same.
        QVERIFY(result.out.startsWith(u"取书进度：下载成功！\n"_s));
        QVERIFY(result.book.contains(support::gbk(u"第3章的正文"_s)));
        const bool missing = result.exitCode == 4;
        QCOMPARE(result.book.contains(support::gbk(u"第2章的正文"_s)), !missing);
        QCOMPARE(result.out.contains(u"没有正文的章节：第2章 %1\n"_s.arg(chapter)), missing);
        QCOMPARE(result.out.count(u"没有正文的章节"_s), missing ? 1 : 0);
    }

    void pageWithoutTextIsNotKept_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("one at a time") << u"bare-e"_s << QStringList{u"--resume"_s};
        QTest::newRow("three at once")
            << u"bare-f"_s << QStringList{u"--resume"_s, u"--parallel"_s, u"3"_s};
    }

    void pageWithoutTextIsNotKept() {
        // The first run fails at chapter 3, after two chapters without text: the rerun takes
        // nothing of them from the cache and has every chapter.
        QFETCH(QString, folder);
        QFETCH(QStringList, options);
        const QString contents = m_site.url(u"/%1/"_s.arg(folder));
        QCOMPARE(run(options + QStringList{contents}).exitCode, 1);
        const Run second = run(options + QStringList{contents});
        QCOMPARE(second.exitCode, 0);
        for (int c = 1; c <= 3; ++c)
            QVERIFY(second.book.contains(support::gbk(u"第%1章的正文"_s.arg(c))));
    }

    void cookieOnlyForTheSite_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("one at a time") << QStringList();
        QTest::newRow("three at once") << QStringList{u"--parallel"_s, u"3"_s};
    }

    void cookieOnlyForTheSite() {
        // The chapter's follow-on pages live on another host.
        QFETCH(QStringList, options);
        const qsizetype before = m_site.clientRequests().size();
        const Run result = run(options + QStringList{m_site.url(u"/cookie/"_s)});
        QVERIFY2(result.exitCode == 0, qPrintable(result.out + result.err));
        QVERIFY(result.book.contains(support::gbk(u"第3章的正文"_s)));
        int seen = 0;
        for (const support::SeenRequest &request : m_site.clientRequests(before)) {
            if (request.path == u"/cookie/2.html"_s || request.path == u"/cookie/3.html"_s) {
                ++seen;
                QVERIFY2(!request.hasCookie, qPrintable(request.cookie));
            } else if (request.path == u"/cookie/1.html"_s) {
                ++seen;
                QVERIFY(request.cookie.contains(u"sid=secret"_s));
            }
        }
        QCOMPARE(seen, 3);
    }

    void resumeFetchesOnlyWhatIsMissing_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("options");
        // Chapter 5 fails the first time it is asked for: the first run ends there.
        QTest::newRow("one at a time") << u"resume-a"_s << QStringList{u"--resume"_s};
        QTest::newRow("five at once")
            << u"resume-b"_s << QStringList{u"--resume"_s, u"--parallel"_s, u"5"_s};
    }

    void resumeFetchesOnlyWhatIsMissing() {
        QFETCH(QString, folder);
        QFETCH(QStringList, options);
        const QString contents = m_site.url(u"/%1/"_s.arg(folder));
        QCOMPARE(run(options + QStringList{contents}).exitCode, 1);
        const qsizetype before = m_site.clientRequests().size();
        const Run resumed = run(options + QStringList{contents});
        QCOMPARE(resumed.exitCode, 0);
        const QStringList asked = m_site.clientPaths(before);
        QVERIFY(asked.contains(u"/%1/5.html"_s.arg(folder)));
        for (int c = 1; c < 5; ++c)
            QVERIFY(!asked.contains(u"/%1/%2.html"_s.arg(folder).arg(c)));
        QCOMPARE(resumed.book, run({contents}).book);
        // The book is written: its cache is gone.
        QVERIFY(QDir(m_cache.filePath(u"kestrelon"_s))
                    .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                    .isEmpty());
    }

private:
    // A book of chapters at /folder/: chapter specialChapter (from 1; 0: every chapter) is
    // served as special says.
    void serveBook(const QString &folder, int chapters, support::Page special = {},
                   int specialChapter = 2);
    // Runs the program on the test's settings into a fresh shelf; with interruptAt, sends it
    // SIGINT afterMs after the site has been asked for that path.
    Run run(const QStringList &arguments, const QString &interruptAt = QString(), int afterMs = 0);

    support::LoopbackSite m_site;
    demo::DemoBook m_book;
    std::unique_ptr<demo::DemoSite> m_demo;
    QTemporaryDir m_dir;
    QTemporaryDir m_cache;
    QString m_settings;
};

void TestNetwork::serveBook(const QString &folder, int chapters, support::Page special,
                            int specialChapter) {
    QString list = u"<h1>%1</h1>"_s.arg(folder);
    for (int c = 1; c <= chapters; ++c) {
        list += u"<li><a href=\"%1.html\">第%1章</a></li>"_s.arg(c);
        support::Page page = specialChapter == 0 || c == specialChapter ? special : support::Page{};
        page.body = support::gbk(u"<div id=\"content\">第%1章的正文。</div>"_s.arg(c));
        m_site.serve(u"/%1/%2.html"_s.arg(folder).arg(c), page);
    }
    m_site.serve(u"/%1/"_s.arg(folder), {.body = support::gbk(list)});
}

Run TestNetwork::run(const QStringList &arguments, const QString &interruptAt, int afterMs) {
    QTemporaryDir shelf;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_CACHE_HOME"_s, m_cache.path());
    process.setProcessEnvironment(environment);
    // The build puts the programs in app/ beside tests/.
    process.setProgram(QCoreApplication::applicationDirPath() + u"/../app/kestrelon-cli"_s);
    process.setArguments(
        QStringList{u"--settings"_s, m_settings, u"--out"_s, shelf.path(), u"--overwrite"_s} +
        arguments);
    process.start();
    if (!process.waitForStarted())
        return {};
    QElapsedTimer stopped;
    if (!interruptAt.isEmpty()) {
        for (int waited = 0; !m_site.clientPaths().contains(interruptAt); waited += 20) {
            if (waited > 20000 || process.state() == QProcess::NotRunning)
                return {};
            QTest::qWait(20);
        }
        QTest::qWait(afterMs);
        ::kill(pid_t(process.processId()), SIGINT);
        stopped.start();
    }
    process.waitForFinished(60000);
    const QStringList files = QDir(shelf.path()).entryList(QDir::Files);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()),
            files.size() == 1 ? support::readBytes(QDir(shelf.path()).filePath(files.first()))
                              : QByteArray(),
            stopped.isValid() ? stopped.elapsed() : -1};
}

QTEST_GUILESS_MAIN(TestNetwork)
#include "tests/tst_network.moc"
