// The net layer against a loopback site: the HTTP client's failures and limits, the probe of a
// chapter text that may be an address, the gzip inflation of bodies, and the response cache's
// entries on disk. (The client's events drive the page progress checked in tst_pagefetch.)

#include "demo/demosite.h"
#include "net/httpclient.h"
#include "net/responsecache.h"
#include "net/urlreachable.h"
#include "net/zipmodule.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestHttpClient : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const QByteArray body = QByteArray("<p>a line of a chapter</p>\r\n").repeated(2000);
        m_site.serve(u"/plain"_s, {.body = body});
        // Past the no-data limits below, which libcurl may take a second longer to see.
        m_site.serve(u"/slow"_s, {.body = body, .delayMs = 4500});
        // 5 bytes a second, for hours; 200 bytes a second, for five seconds.
        m_site.serve(u"/crawl"_s, {.body = QByteArray(100000, 'x'), .trickleMs = 200});
        m_site.serve(u"/steady"_s, {.body = QByteArray(1000, 'x'), .trickleMs = 5});
        m_site.serve(u"/missing-cookie"_s, {.body = "ok", .requiredCookie = "id=7"});
        // Headers at once, then a body that comes only long past the idle limit.
        m_site.serve(u"/stalled-body"_s, {.body = "x", .trickleMs = 2500});
        for (const auto &[from, to] : {std::pair{"/moved", "/plain"}, {"/loop", "/loop"}}) {
            m_site.server().Get(from, [to](const httplib::Request &, httplib::Response &res) {
                res.set_redirect(to);
            });
        }
        // A body just past the limit, sent at full speed.
        m_site.server().Get("/huge", [](const httplib::Request &, httplib::Response &res) {
            const size_t total = size_t(HttpClient::kMaxBody) + 4096;
            res.set_content_provider(
                total, "text/plain",
                [total](size_t offset, size_t length, httplib::DataSink &sink) {
                    static const std::string block(1 << 16, 'x');
                    sink.write(block.data(), std::min(length, block.size()));
                    return offset < total;
                });
        });
        QVERIFY(m_site.start());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cacheHome.path()));
        support::LoopbackSite closed;
        QVERIFY(closed.start());
        m_closedPort = closed.port();
    }

    // A failure ends the request with a message and no body; only one that may pass is worth a
    // retry. The client's floor is 100 bytes a second over four seconds.
    void limitsAndFailures_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<long>("totalSeconds");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("transient");
        QTest::addColumn<QString>("error"); // what the message says, where it is not libcurl's
        QTest::newRow("nothing listens")
            << u"http://127.0.0.1:%1/"_s.arg(m_closedPort) << 30L << false << true << QString();
        QTest::newRow("no data within the idle limit")
            << m_site.url(u"/slow"_s) << 30L << false << true << QString();
        QTest::newRow("body past the limit")
            << m_site.url(u"/huge"_s) << 30L << false << false << u"网页过大"_s;
        QTest::newRow("under the floor: never silent, given up")
            << m_site.url(u"/crawl"_s) << 30L << false << false << u"传输过慢"_s;
        QTest::newRow("over the floor: the whole page")
            << m_site.url(u"/steady"_s) << 30L << true << false << QString();
        QTest::newRow("over the floor, past the whole-request limit")
            << m_site.url(u"/steady"_s) << 2L << false << false << u"网页在 2 秒内没有传完"_s;
    }

    void limitsAndFailures() {
        QFETCH(QString, url);
        QFETCH(long, totalSeconds);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        // libcurl measures the speed behind the no-data limit once a second, on the clock's
        // seconds: a limit of one second can end a steady trickle, and one of two may be seen a
        // second late, so the floor's window is longer still.
        HttpClient client(TransferLimits{5, 2, 100, 4, totalSeconds});
        QElapsedTimer took;
        took.start();
        const HttpResult result = client.get(url, QString(), nullptr);
        QCOMPARE(result.ok, ok);
        QTEST(result.transient, "transient");
        QCOMPARE(result.error.isEmpty(), ok);
        QVERIFY2(result.error.contains(error), qPrintable(result.error));
        QCOMPARE(result.body.size(), ok ? 1000 : 0);
        // Only a hang: the client's own default would wait a minute.
        QVERIFY2(took.elapsed() < 15000, qPrintable(QString::number(took.elapsed())));
    }

    void urlReachable_data() {
        QTest::addColumn<QString>("candidate");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<int>("requests"); // that reach the site

        QTest::newRow("redirect followed") << m_site.url(u"/moved"_s) << true << 2;
        QTest::newRow("error status still answers")
            << m_site.url(u"/missing-cookie"_s) << true << 1;
        QTest::newRow("endless redirects") << m_site.url(u"/loop"_s) << false << 11;
        QTest::newRow("body never arrives: not waited for")
            << m_site.url(u"/stalled-body"_s) << true << 1;
        QTest::newRow("no answer within the idle limit") << m_site.url(u"/slow"_s) << false << 1;
        QTest::newRow("not a web address") << u"file:///etc/passwd"_s << false << 0;
    }

    void urlReachable() {
        QFETCH(QString, candidate);
        const int before = m_site.requestCount();
        QTEST(norModule::urlReachable(candidate, m_site.url(u"/plain"_s), TransferLimits{5, 1}),
              "reachable");
        QTEST(m_site.requestCount() - before, "requests");
    }

    void gunzipBodyInflates_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("expected"); // empty: the body does not inflate

        const QByteArray text = QByteArray("<p>a line of a chapter</p>\r\n").repeated(12000);
        const QByteArray packed = demo::gzipCompressed(text);
        QTest::newRow("two members") << packed + demo::gzipCompressed("tail") << text + "tail";
        // One member, far larger than its compressed size, then padding.
        QTest::newRow("padding after the member") << packed + QByteArray(16, '\0') << text;
        QTest::newRow("cut short") << packed.left(packed.size() / 2) << QByteArray();
        QTest::newRow("not gzip at all") << QByteArray("<html>plain</html>") << QByteArray();
        QByteArray corrupt = packed;
        corrupt[20] = char(corrupt[20] ^ 0x55);
        corrupt[21] = char(corrupt[21] ^ 0x55);
        QTest::newRow("corrupt data") << corrupt << QByteArray();
        // 300 MiB of zeros packs into a few hundred KiB: it must fail, not exhaust memory.
        QTest::newRow("inflates past the limit")
            << demo::gzipCompressed(QByteArray(qsizetype(1) << 20, '\0')).repeated(300)
            << QByteArray();
    }

    void gunzipBodyInflates() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, expected);
        QByteArray data = body;
        QCOMPARE(zipModule::gunzipBody(data), !expected.isEmpty());
        QCOMPARE(data, expected.isEmpty() ? body : expected);
    }

    void cacheEntries_data() {
        QTest::addColumn<QString>("setup"); // what happens around storing the entry
        QTest::addColumn<bool>("readBack");
        QTest::newRow("good entry") << "" << true;
        QTest::newRow("a byte of the body flipped") << "flip" << false;
        // Cut within its first line, as the entries of small pages are.
        QTest::newRow("cut short") << "cut" << false;
        QTest::newRow("folders left open by an older version are closed") << "open folders" << true;
    }

    void cacheEntries() {
        QFETCH(QString, setup);
        QFETCH(bool, readBack);
        const QString url = u"http://books.test/book/1.html"_s;
        ResponseCache cache(u"http://books.test/book/"_s);
        // The pages may be private: only the user may read them.
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                            QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        if (setup == u"open folders"_s) {
            QVERIFY(QDir().mkpath(cache.folder()));
            const auto open = others | QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
            QVERIFY(QFile::setPermissions(ResponseCache::rootFolder(), open) &&
                    QFile::setPermissions(cache.folder(), open));
        }
        HttpResult page;
        page.head.headers.append({QByteArray("Content-Encoding"), QByteArray("gzip")});
        page.body = demo::gzipCompressed(QByteArray("<p>a line of a chapter</p>").repeated(100));
        QVERIFY(cache.store(url, page));
        const QStringList entries = QDir(cache.folder()).entryList(QDir::Files);
        QCOMPARE(entries.size(), 1);
        const QString entry = QDir(cache.folder()).filePath(entries.first());
        for (const QString &path : {ResponseCache::rootFolder(), cache.folder(), entry})
            QVERIFY2(!(QFile::permissions(path) & others), qPrintable(path));

        QByteArray bytes = support::readBytes(entry);
        if (setup == u"flip"_s)
            bytes[bytes.size() - 5] = char(bytes.at(bytes.size() - 5) ^ 0x20);
        if (setup == u"cut"_s)
            bytes.truncate(bytes.size() / 2);
        QVERIFY(support::writeBytes(entry, bytes));
        const auto loaded = cache.load(url);
        QCOMPARE(loaded.has_value(), readBack);
        // A damaged entry is dropped, so that the page is fetched and kept anew.
        QCOMPARE(QFile::exists(entry), readBack);
        if (readBack) {
            QCOMPARE(loaded->body, page.body);
            QCOMPARE(loaded->head.header("Content-Encoding"), std::optional<QByteArray>("gzip"));
        }
        QVERIFY(cache.remove());
    }

    void staleCaches_data() {
        QTest::addColumn<QString>("name"); // of the folder in the cache's own folder
        QTest::addColumn<int>("ageDays");
        QTest::addColumn<bool>("link"); // a link to such a folder elsewhere
        QTest::addColumn<bool>("kept");

        const QString book = QString(64, u'a');
        QTest::newRow("a book untouched for 31 days") << book << 31 << false << false;
        QTest::newRow("a book touched 29 days ago") << book << 29 << false << true;
        QTest::newRow("a folder the cache did not make") << u"notes"_s << 31 << false << true;
        QTest::newRow("a link to an old book's folder") << book << 31 << true << true;
    }

    void staleCaches() {
        QFETCH(QString, name);
        QFETCH(int, ageDays);
        QFETCH(bool, link);
        QTemporaryDir elsewhere;
        const QString root = ResponseCache::rootFolder();
        QVERIFY(QDir().mkpath(root));
        const QString path = QDir(root).filePath(name);
        const QString folder = link ? elsewhere.filePath(name) : path;
        QVERIFY(QDir().mkpath(folder));
        const QString entry = QDir(folder).filePath(u"entry"_s);
        QVERIFY(support::writeBytes(entry, "kept"));
        if (link)
            QVERIFY(QFile::link(folder, path));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const timespec then{now.addDays(-ageDays).toSecsSinceEpoch(), 0};
        const timespec times[2] = {then, then};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), times, 0) == 0);

        ResponseCache::removeStale(now);
        QTEST(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), "kept");
        if (link)
            QVERIFY(QFile::exists(entry));
        QFile::remove(path);
        QDir(path).removeRecursively();
    }

private:
    support::LoopbackSite m_site;
    QTemporaryDir m_cacheHome; // XDG_CACHE_HOME
    int m_closedPort = 0;
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tests/tst_httpclient.moc"
