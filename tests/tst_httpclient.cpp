// The HTTP client against a loopback site (headers, events, failures, limits) and the gzip
// inflation of response bodies.

#include "demo/demosite.h"
#include "net/httpclient.h"
#include "net/zipmodule.h"
#include "tests/support/loopbacksite.h"

#include <QTest>

#include <httplib.h>

using namespace Qt::StringLiterals;

namespace {

// Records the events of one request.
class EventLog : public HttpEvents {
public:
    int started = 0;
    ResponseHead head;
    qsizetype received = 0;
    int pieces = 0;

    void responseStarted(const ResponseHead &h) override {
        ++started;
        head = h;
    }
    void dataArrived(QByteArrayView piece) override {
        received += piece.size();
        ++pieces;
    }
};

QByteArray sampleBody(qsizetype size) {
    QByteArray body;
    for (int i = 0; body.size() < size; ++i)
        body += "<p>line " + QByteArray::number(i) + "</p>\r\n";
    body.truncate(size);
    return body;
}

} // namespace

class TestHttpClient : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void fetchesWithEvents_data();
    void fetchesWithEvents();
    void failuresEndTheRequest_data();
    void failuresEndTheRequest();
    void cookieHeaderOnlyWhenGiven();
    void bodyPastTheLimitFails();
    void gunzipBodyInflates_data();
    void gunzipBodyInflates();

private:
    support::LoopbackSite m_site;
    int m_closedPort = 0;
};

void TestHttpClient::initTestCase() {
    const QByteArray body = sampleBody(50000);
    m_site.serve(u"/plain"_s, {.body = body});
    m_site.serve(u"/gzip"_s, {.body = body, .gzip = true, .contentEncoding = "GZIP"});
    m_site.serve(u"/chunked"_s, {.body = body, .chunked = true});
    m_site.serve(u"/empty"_s, {.body = QByteArray()});
    m_site.serve(u"/cut"_s, {.body = body, .cutAfter = 20000});
    m_site.serve(u"/slow"_s, {.body = body, .delayMs = 2500});
    m_site.serve(u"/missing-cookie"_s, {.body = "ok", .requiredCookie = "id=7"});
    m_site.server().Get("/moved", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("/plain");
    });
    m_site.server().Get("/huge", [](const httplib::Request &, httplib::Response &res) {
        const size_t total = size_t(HttpClient::kMaxBody) + 4096;
        res.set_content_provider(total, "text/plain",
                                 [](size_t offset, size_t length, httplib::DataSink &sink) {
                                     static const std::string block(1 << 16, 'x');
                                     sink.write(block.data(), std::min(length, block.size()));
                                     return offset < size_t(HttpClient::kMaxBody) + 4096;
                                 });
    });
    QVERIFY(m_site.start());
    support::LoopbackSite closed;
    QVERIFY(closed.start());
    m_closedPort = closed.port();
}

void TestHttpClient::fetchesWithEvents_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QByteArray>("length"); // "" when the header is absent
    QTest::addColumn<qsizetype>("bodySize");

    const QByteArray full = QByteArray::number(50000);
    QTest::newRow("plain") << u"/plain"_s << QByteArray() << full << qsizetype(50000);
    QTest::newRow("gzip in capitals, body kept compressed")
        << u"/gzip"_s << QByteArray("GZIP")
        << QByteArray::number(gzipCompressed(sampleBody(50000)).size())
        << gzipCompressed(sampleBody(50000)).size();
    QTest::newRow("chunked: no length")
        << u"/chunked"_s << QByteArray() << QByteArray() << qsizetype(50000);
    QTest::newRow("redirect followed") << u"/moved"_s << QByteArray() << full << qsizetype(50000);
    QTest::newRow("no body") << u"/empty"_s << QByteArray() << QByteArray("0") << qsizetype(0);
}

void TestHttpClient::fetchesWithEvents() {
    QFETCH(QString, path);
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, length);
    QFETCH(qsizetype, bodySize);

    HttpClient client;
    EventLog log;
    const HttpResult result = client.get(m_site.url(path), QString(), &log);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.body.size(), bodySize);
    QCOMPARE(log.started, 1);
    QCOMPARE(log.head.status, 200L);
    QCOMPARE(log.head.header("content-encoding").value_or(QByteArray()), encoding);
    QCOMPARE(log.head.header("Content-Length").value_or(QByteArray()), length);
    QCOMPARE(log.received, bodySize);
}

void TestHttpClient::failuresEndTheRequest_data() {
    QTest::addColumn<QString>("url");
    QTest::newRow("connection cut mid-body") << m_site.url(u"/cut"_s);
    QTest::newRow("nothing listens") << u"http://127.0.0.1:%1/"_s.arg(m_closedPort);
    QTest::newRow("no data within the idle limit") << m_site.url(u"/slow"_s);
    QTest::newRow("not a web address") << u"file:///etc/hostname"_s;
    QTest::newRow("malformed") << u"http://[broken"_s;
}

void TestHttpClient::failuresEndTheRequest() {
    QFETCH(QString, url);
    HttpClient client(TransferLimits{5, 1});
    EventLog log;
    const HttpResult result = client.get(url, QString(), &log);
    QVERIFY(!result.ok);
    QVERIFY(!result.error.isEmpty());
    QVERIFY(result.body.isEmpty());
}

void TestHttpClient::cookieHeaderOnlyWhenGiven() {
    HttpClient client;
    const int before = int(m_site.seen().size());
    QCOMPARE(client.get(m_site.url(u"/missing-cookie"_s), u"id=7; x=1"_s, nullptr).body,
             QByteArray("ok"));
    QCOMPARE(client.get(m_site.url(u"/missing-cookie"_s), QString(), nullptr).body,
             QByteArray("no cookie, no book"));
    const QList<support::SeenRequest> seen = m_site.seen().mid(before);
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.at(0).cookie, u"id=7; x=1"_s);
    QVERIFY(!seen.at(1).hasCookie);
}

void TestHttpClient::bodyPastTheLimitFails() {
    HttpClient client;
    const HttpResult result = client.get(m_site.url(u"/huge"_s), QString(), nullptr);
    QVERIFY(!result.ok);
    QVERIFY(result.body.isEmpty());
}

void TestHttpClient::gunzipBodyInflates_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray text = sampleBody(300000);
    const QByteArray packed = gzipCompressed(text);
    QTest::newRow("one member, far larger than its header claims") << packed << true << text;
    QTest::newRow("two members") << packed + gzipCompressed("tail") << true << text + "tail";
    QTest::newRow("padding after the member") << packed + QByteArray(16, '\0') << true << text;
    QTest::newRow("cut short") << packed.left(packed.size() / 2) << false << QByteArray();
    QTest::newRow("not gzip at all") << QByteArray("<html>plain</html>") << false << QByteArray();
    QByteArray corrupt = packed;
    corrupt[20] = char(corrupt[20] ^ 0x55);
    corrupt[21] = char(corrupt[21] ^ 0x55);
    QTest::newRow("corrupt data") << corrupt << false << QByteArray();
    QTest::newRow("empty") << QByteArray() << false << QByteArray();
    // 300 MiB of zeros packs into a few hundred KiB: it must fail, not exhaust memory.
    QByteArray bomb;
    {
        const QByteArray zeros(qsizetype(1) << 20, '\0');
        for (int i = 0; i < 300; ++i)
            bomb += gzipCompressed(zeros);
    }
    QTest::newRow("inflates past the limit") << bomb << false << QByteArray();
}

void TestHttpClient::gunzipBodyInflates() {
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QByteArray, expected);
    QByteArray data = body;
    QCOMPARE(zipModule::gunzipBody(data), ok);
    QCOMPARE(data, ok ? expected : body);
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
