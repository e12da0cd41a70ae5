// kestrelon-cli as a process: exit codes, messages, files, Ctrl-C and bad usage, against a
// loopback copy of the demo site.

#include "demo/demosite.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void outcomes_data();
    void outcomes();
    void existingBook_data();
    void existingBook();
    void interruptStopsTheJob();
    void badUsage_data();
    void badUsage();
    void helpDocumentsTheOptions();

private:
    // Runs the program; with interruptAt, sends it SIGINT once the site has been asked for that
    // path.
    Run run(const QStringList &arguments, const QString &interruptAt = QString());
    QString contents() const { return m_site.url(QString::fromLatin1(kDemoBookFolder)); }

    support::LoopbackSite m_site;
    DemoBook m_book;
    std::unique_ptr<DemoSite> m_demo;
    QTemporaryDir m_dir;
    QString m_settings;
    QString m_shelf;
};

void TestCli::initTestCase() {
    DemoBookOptions options;
    options.chapters = 6;
    options.volumes = 2;
    options.paragraphs = 4;
    m_book = generateDemoBook(options);
    m_demo = std::make_unique<DemoSite>(m_book);
    m_demo->addRoutes(m_site.server());
    // A slow book for Ctrl-C: every chapter takes half a second.
    QString list = u"<h1>慢书</h1>"_s;
    for (int c = 1; c <= 5; ++c) {
        list += u"<li><a href=\"%1.html\">第%1章</a></li>"_s.arg(c);
        m_site.serve(u"/slow/%1.html"_s.arg(c),
                     {.body = support::gbk(u"<div id=\"content\">很慢的一章正文。</div>"_s),
                      .delayMs = 500});
    }
    m_site.serve(u"/slow/"_s, {.body = support::gbk(list)});
    QVERIFY(m_site.start());

    m_settings = m_dir.filePath(u"Kestrelon.ini"_s);
    QVERIFY(
        support::writeBytes(m_settings, demoSiteSettings(u"127.0.0.1:%1"_s.arg(m_site.port()))));
    m_shelf = m_dir.filePath(u"shelf"_s);
    QVERIFY(QDir().mkdir(m_shelf));
}

Run TestCli::run(const QStringList &arguments, const QString &interruptAt) {
    QProcess process;
    process.setProgram(QStringLiteral(KESTRELON_CLI));
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted())
        return {};
    if (!interruptAt.isEmpty()) {
        for (int waited = 0; !m_site.clientPaths().contains(interruptAt); waited += 20) {
            if (waited > 20000 || process.state() == QProcess::NotRunning)
                return {};
            QTest::qWait(20);
        }
        ::kill(pid_t(process.processId()), SIGINT);
    }
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

void TestCli::outcomes_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("book"); // empty: no book is written

    const QByteArray gbkBook = support::gbk(demoBookText(m_book));
    QTest::newRow("book written") << contents() << u"gbk"_s << 0 << u"取书进度：下载成功！"_s
                                  << gbkBook;
    QTest::newRow("book written in utf-8")
        << contents() << u"utf-8"_s << 0 << u"取书进度：下载成功！"_s
        << QByteArray("\xEF\xBB\xBF") + demoBookText(m_book).toUtf8();
    QTest::newRow("site without rules") << m_site.url(u"/book/1/"_s, u"localhost"_s) << u"gbk"_s
                                        << 3 << u"取书进度：例外站点！"_s << QByteArray();
    QTest::newRow("contents page missing")
        << m_site.url(u"/book/2/"_s) << u"gbk"_s << 1 << u"取书进度：下载失败！"_s << QByteArray();
}

void TestCli::outcomes() {
    QFETCH(QString, address);
    QFETCH(QString, encoding);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QByteArray, book);
    QTemporaryDir shelf;
    const Run result = run({u"--settings"_s, m_settings, u"--out"_s, shelf.path(), u"--encoding"_s,
                            encoding, address});
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, message + u'\n');
    const QStringList files = QDir(shelf.path()).entryList(QDir::Files);
    if (book.isEmpty()) {
        QVERIFY(files.isEmpty());
        return;
    }
    QCOMPARE(files, QStringList{m_book.title + u".txt"_s});
    QCOMPARE(support::readBytes(QDir(shelf.path()).filePath(files.first())), book);
}

void TestCli::existingBook_data() {
    QTest::addColumn<QString>("answer"); // the option given, "" for none
    QTest::addColumn<bool>("replaced");
    QTest::newRow("--overwrite") << u"--overwrite"_s << true;
    QTest::newRow("--keep") << u"--keep"_s << false;
    QTest::newRow("no terminal to ask on: kept") << QString() << false;
}

void TestCli::existingBook() {
    QFETCH(QString, answer);
    QFETCH(bool, replaced);
    QTemporaryDir shelf;
    const QString path = QDir(shelf.path()).filePath(m_book.title + u".txt"_s);
    QVERIFY(support::writeBytes(path, "old"));
    QStringList arguments{u"--settings"_s, m_settings, u"--out"_s, shelf.path(), contents()};
    if (!answer.isEmpty())
        arguments.prepend(answer);
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, u"取书进度：下载成功！\n"_s);
    QCOMPARE(support::readBytes(path) != "old", replaced);
}

void TestCli::interruptStopsTheJob() {
    QTemporaryDir shelf;
    QVERIFY(support::writeBytes(
        m_settings + u".slow"_s,
        support::gbk(u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\n"
                     u"tagChapter=<li><a href=\"(.*?)\">(.*?)</a></li>\r\n"
                     u"tagText=<div id=\"content\">(.*?)</div>\r\n"_s.arg(m_site.port()))));
    // Ctrl-C while the first chapter is on its way: it is finished, and nothing follows it.
    const Run result = run({u"--settings"_s, m_settings + u".slow"_s, u"--out"_s, shelf.path(),
                            m_site.url(u"/slow/"_s)},
                           u"/slow/1.html"_s);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, u"取书进度：用户中断！\n"_s);
    QVERIFY(QDir(shelf.path()).isEmpty());
    QVERIFY(!m_site.clientPaths().contains(u"/slow/2.html"_s));
}

void TestCli::badUsage_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no address") << QStringList();
    QTest::newRow("two addresses") << QStringList{u"http://a/"_s, u"http://b/"_s};
    QTest::newRow("unknown option") << QStringList{u"--bogus"_s, u"http://a/"_s};
    QTest::newRow("unknown encoding") << QStringList{u"--encoding"_s, u"latin1"_s, u"http://a/"_s};
    QTest::newRow("missing folder")
        << QStringList{u"--out"_s, u"/no/such/folder"_s, u"http://a/"_s};
    QTest::newRow("missing settings file")
        << QStringList{u"--settings"_s, u"/no/such/Kestrelon.ini"_s, u"http://a/"_s};
    QTest::newRow("keep and overwrite")
        << QStringList{u"--keep"_s, u"--overwrite"_s, u"http://a/"_s};
}

void TestCli::badUsage() {
    QFETCH(QStringList, arguments);
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 64);
    QVERIFY(result.out.isEmpty());
    QVERIFY(result.err.startsWith(u"kestrelon-cli: "_s));
}

void TestCli::helpDocumentsTheOptions() {
    const Run result = run({u"--help"_s});
    QCOMPARE(result.exitCode, 0);
    for (const QString &option :
         {u"--from"_s, u"--to"_s, u"--encoding"_s, u"--delete-title"_s, u"--small-chapters"_s,
          u"--browser-text"_s, u"--out"_s, u"--settings"_s, u"--overwrite"_s, u"--keep"_s,
          u"Exit status"_s, u"Ctrl-C"_s})
        QVERIFY2(result.out.contains(option), qPrintable(option));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
