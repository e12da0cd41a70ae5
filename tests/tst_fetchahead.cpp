// Fetching ahead on the thread's event loop, driven directly against a loopback site: requests
// that end while nobody waits for them, a stop that gives up what is in flight, a site in trouble
// given room as a whole, and the waits before a retry.

#include "net/parallelclient.h"
#include "net/retrypolicy.h"
#include "pipeline/fetchscheduler.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"

#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

class TestFetchAhead : public QObject {
    Q_OBJECT

private slots:
    // Each test has a fresh site, whose requests are its own: a site of chapters where /ok/
    // answers at once (70 of them), /slow/ after a while, /busy/ with one 503 first and /down/
    // with nothing but 500 (5 each).
    void init() {
        m_site = std::make_unique<support::LoopbackSite>();
        for (int c = 1; c <= 70; ++c) {
            const QByteArray body = "chapter " + QByteArray::number(c);
            m_site->serve(u"/ok/%1.html"_s.arg(c), {.body = body});
            if (c > 5)
                continue;
            m_site->serve(u"/slow/%1.html"_s.arg(c), {.body = body, .delayMs = 400});
            m_site->serve(u"/busy/%1.html"_s.arg(c), {.body = body, .failFirst = 1});
            m_site->serve(u"/down/%1.html"_s.arg(c),
                          {.body = body, .failFirst = 1000, .failStatus = 500});
        }
        QVERIFY(m_site->start());
    }

    // Requests end through the thread's events (the scheduler's tests below rely on it), and
    // abandoned ones are never heard of.
    void abandonedRequestsAreNeverHeardOf() {
        ParallelClient client;
        QList<int> ended; // -1 for a request that did not get its page whole
        client.onEnded = [&ended](int request, const HttpResult &result) {
            ended.append(result.ok && result.status == 200 ? request : -1);
        };
        for (int c = 1; c <= 3; ++c)
            client.start(m_site->url(u"/slow/%1.html"_s.arg(c)), {});
        QTRY_COMPARE(m_site->requestCount(), 3); // on their way
        client.abandonAll();
        QCOMPARE(client.inFlight(), 0);
        // Started later than the ones given up: had those gone on, they would end first.
        const QList<int> expected{client.start(m_site->url(u"/slow/4.html"_s), {}),
                                  client.start(m_site->url(u"/slow/5.html"_s), {})};
        QTRY_COMPARE(ended.size(), expected.size());
        std::sort(ended.begin(), ended.end());
        QCOMPARE(ended, expected);
        QCOMPARE(client.inFlight(), 0);
    }

    // The job works on its chapters, letting events run now and then: the pages ahead come
    // meanwhile, up to 64 chapters ahead of the job's. A stop gives up what is in flight, and
    // nothing starts after it.
    void fetchesWhileTheJobWorks_data() {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<bool>("stop");
        QTest::newRow("three at a time") << 3 << false;
        QTest::newRow("a stop with four in flight") << 4 << true;
    }

    void fetchesWhileTheJobWorks() {
        QFETCH(int, parallel);
        QFETCH(bool, stop);
        support::RecordingView view;
        QStringList urls;
        const int chapters = stop ? 5 : 70;
        for (int c = 1; c <= chapters; ++c)
            urls.append(m_site->url(u"/%1/%2.html"_s.arg(stop ? u"slow"_s : u"ok"_s).arg(c)));
        FetchScheduler scheduler(view, {.parallel = parallel}, m_site->url(u"/"_s), {});
        int arrivals = 0;
        scheduler.onArrival = [&arrivals](int, int, ScheduledPage &) { ++arrivals; };
        scheduler.planChapters(urls, 0, chapters - 1);
        if (stop) {
            view.onEvents = [&view] { view.stop = true; };
            QVERIFY(!scheduler.take(urls.at(0)));
            QCOMPARE(scheduler.inFlight(), 0);
            // Whatever asks for it.
            scheduler.retryLater(urls.at(1), 1, u"again"_s);
            scheduler.planChapters(urls, 1, 4);
            QCOMPARE(scheduler.inFlight(), 0);
            QVERIFY(m_site->clientRequests().size() <= parallel);
            return;
        }
        scheduler.beginChapter(0);
        QVERIFY(scheduler.take(urls.at(0)));
        QTRY_COMPARE(arrivals, 64);
        QTest::qWait(100);
        QCOMPARE(arrivals, 64);
        int events = 0;
        view.onEvents = [&events] { ++events; };
        for (int c = 1; c < 5; ++c) {
            scheduler.beginChapter(c);
            const auto page = scheduler.take(urls.at(c));
            QVERIFY(page);
            QCOMPARE(page->result.body, "chapter " + QByteArray::number(c + 1));
        }
        QCOMPARE(events, 0); // each was there: take() never waited
        // Each chapter taken let the plan go one further.
        QTRY_COMPARE(m_site->clientRequests().size(), 69);
    }

    void siteInTrouble_data() {
        QTest::addColumn<QString>("chapters"); // paths without ".html", between spaces
        QTest::addColumn<int>("parallel");
        QTest::addColumn<QString>("requested"); // in order with one request at a time, else sorted
        QTest::addColumn<int>("lastStatus");
        QTest::newRow("a 503 holds its host back until the retry")
            << u"/busy/1 /ok/2 /ok/3"_s << 1 << u"/busy/1 /busy/1 /ok/2 /ok/3"_s << 200;
        QTest::newRow("another host goes on") << u"/busy/1 localhost/ok/2 localhost/ok/3"_s << 1
                                              << u"/busy/1 /ok/2 /ok/3 /busy/1"_s << 200;
        // Nor is /down/4 started.
        QTest::newRow("pages ahead are not tried again once the page waited for failed")
            << u"/down/1 /down/2 /down/3 /down/4"_s << 3 << u"/down/1 /down/1 /down/2 /down/3"_s
            << 500;
    }

    void siteInTrouble() {
        QFETCH(QString, chapters);
        QFETCH(int, parallel);
        support::RecordingView view;
        // "localhost/ok/2" is /ok/2.html of the same site under another host name.
        QStringList urls;
        for (const QString &page : chapters.split(u' ')) {
            const qsizetype slash = page.indexOf(u'/');
            urls.append(m_site->url(page.sliced(slash) + u".html"_s,
                                    slash > 0 ? page.first(slash) : QString()));
        }
        FetchScheduler scheduler(view, {.parallel = parallel, .retries = 1}, m_site->url(u"/"_s),
                                 {});
        scheduler.planChapters(urls, 0, int(urls.size()) - 1);
        int status = 0;
        for (int c = 0; c < urls.size() && status != 500; ++c) {
            scheduler.beginChapter(c);
            const auto page = scheduler.take(urls.at(c));
            QVERIFY(page);
            status = page->result.status;
        }
        QTEST(status, "lastStatus");
        QCOMPARE(scheduler.inFlight(), 0);
        QStringList paths;
        for (const QString &path : m_site->clientPaths())
            paths.append(path.chopped(5)); // ".html"
        // Started together, they reach the site in any order.
        if (parallel > 1)
            std::sort(paths.begin(), paths.end());
        QTEST(paths.join(u' '), "requested");
    }

    void retries_data() {
        QTest::addColumn<int>("status"); // 0: the connection dropped
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<int>("attempt");
        QTest::addColumn<bool>("trouble"); // the whole site is given room
        QTest::addColumn<qint64>("least");
        QTest::addColumn<qint64>("most");
        const QByteArray none;
        QTest::newRow("503, third retry") << 503 << none << 3 << true << 4000LL << 5000LL;
        QTest::newRow("429, capped") << 429 << none << 9 << true << 30000LL << 30000LL;
        QTest::newRow("seconds past the cap")
            << 503 << QByteArray("3600") << 1 << true << 30000LL << 30000LL;
        QTest::newRow("HTTP date") << 503 << QByteArray("Sun, 06 Nov 1994 08:49:47 GMT") << 1
                                   << true << 10000LL << 10000LL;
        QTest::newRow("unreadable: the backoff")
            << 500 << QByteArray("soon") << 2 << true << 2000LL << 2500LL;
        QTest::newRow("now: the first backoff")
            << 503 << QByteArray("0") << 3 << true << 1000LL << 1000LL;
        QTest::newRow("404: not the site's trouble")
            << 404 << none << 1 << false << 1000LL << 1250LL;
        QTest::newRow("a dropped connection: one page's trouble")
            << 0 << none << 2 << false << 2000LL << 2500LL;
    }

    void retries() {
        QFETCH(int, status);
        QFETCH(QByteArray, retryAfter);
        QFETCH(int, attempt);
        QFETCH(qint64, least);
        QFETCH(qint64, most);
        HttpResult result;
        result.ok = status > 0;
        result.status = status;
        if (!retryAfter.isEmpty())
            result.head.headers.append({"Retry-After", retryAfter});
        QTEST(retryPolicy::siteInTrouble(result), "trouble");
        const QDateTime now(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
        for (const double jitter : {0.0, 1.0}) {
            const qint64 wait = retryPolicy::waitBeforeRetry(attempt, result, jitter, now);
            QVERIFY2(wait >= least && wait <= most, qPrintable(QString::number(wait)));
        }
    }

private:
    std::unique_ptr<support::LoopbackSite> m_site;
};

QTEST_GUILESS_MAIN(TestFetchAhead)
#include "tests/tst_fetchahead.moc"
