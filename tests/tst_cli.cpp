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
    void initTestCase() {
        // Six chapters hold every kind the demo site has: follow-on pages, a separate text document
        // and an advertisement.
        m_book = demo::generateDemoBook({.chapters = 6, .volumes = 2, .paragraphs = 4});
        m_demo = std::make_unique<demo::DemoSite>(m_book);
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
        QVERIFY(support::writeBytes(m_settings,
                                    demo::demoSiteSettings(u"127.0.0.1:%1"_s.arg(m_site.port()))));
    }

    void outcomes_data() {
        // Every run finds an old book file of the demo book's name on the shelf.
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("book"); // the file's bytes after the run

        const QString written = u"取书进度：下载成功！\n"_s;
        QTest::newRow("--overwrite, in utf-8")
            << contents() << QStringList{u"--overwrite"_s, u"--encoding"_s, u"utf-8"_s} << 0
            << written << QByteArray("\xEF\xBB\xBF") + demo::demoBookText(m_book).toUtf8();
        QTest::newRow("no terminal to ask on: kept")
            << contents() << QStringList() << 0 << written << QByteArray("old");
        QTest::newRow("site without rules")
            << u"http://nowhere.invalid/book/1/"_s << QStringList{u"--overwrite"_s} << 3
            << u"取书进度：例外站点！\n"_s << QByteArray("old");
        QTest::newRow("contents page missing")
            << m_site.url(u"/book/2/"_s) << QStringList{u"--overwrite"_s} << 1
            << u"取书进度：下载失败！\n"_s << QByteArray("old");
    }

    void outcomes() {
        QFETCH(QString, address);
        QFETCH(QStringList, options);
        QTemporaryDir shelf;
        const QString file = m_book.title + u".txt"_s;
        QVERIFY(support::writeBytes(QDir(shelf.path()).filePath(file), "old"));
        const Run result = run(
            options + QStringList{u"--settings"_s, m_settings, u"--out"_s, shelf.path(), address});
        QTEST(result.exitCode, "exitCode");
        QTEST(result.out, "message");
        QCOMPARE(QDir(shelf.path()).entryList(QDir::Files), QStringList{file});
        QTEST(support::readBytes(QDir(shelf.path()).filePath(file)), "book");
    }

    void interruptStopsTheJob() {
        QTemporaryDir shelf;
        QVERIFY(support::writeBytes(
            m_settings + u".slow"_s,
            support::gbk(u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\n"
                         u"tagChapter=<li><a href=\"(.*?)\">(.*?)</a></li>\r\n"
                         u"tagText=<div id=\"content\">(.*?)</div>\r\n"_s.arg(m_site.port()))));
        // Ctrl-C while the first chapter is on its way: nothing follows it and no book is written.
        const Run result = run({u"--settings"_s, m_settings + u".slow"_s, u"--out"_s, shelf.path(),
                                m_site.url(u"/slow/"_s)},
                               u"/slow/1.html"_s);
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.out, u"取书进度：用户中断！\n"_s);
        QVERIFY(QDir(shelf.path()).isEmpty());
        QVERIFY(!m_site.clientPaths().contains(u"/slow/2.html"_s));
    }

    void badUsage_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no address") << QStringList();
        QTest::newRow("unknown encoding")
            << QStringList{u"--encoding"_s, u"latin1"_s, u"http://a/"_s};
        QTest::newRow("keep and overwrite")
            << QStringList{u"--keep"_s, u"--overwrite"_s, u"http://a/"_s};
    }

    void badUsage() {
        QFETCH(QStringList, arguments);
        const Run result = run(arguments);
        QCOMPARE(result.exitCode, 64);
        QVERIFY(result.out.isEmpty());
        QVERIFY(result.err.startsWith(u"kestrelon-cli: "_s));
    }

private:
    // Runs the program; with interruptAt, sends it SIGINT once the site has been asked for that
    // path.
    Run run(const QStringList &arguments, const QString &interruptAt = QString());
    QString contents() const { return m_site.url(QString::fromLatin1(demo::kDemoBookFolder)); }

    support::LoopbackSite m_site;
    demo::DemoBook m_book;
    std::unique_ptr<demo::DemoSite> m_demo;
    QTemporaryDir m_dir;
    QString m_settings;
};

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

QTEST_GUILESS_MAIN(TestCli)
#include "tests/tst_cli.moc"
