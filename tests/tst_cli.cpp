// kestrelon-cli as a process: exit codes, messages, files and bad usage, against a loopback copy
// of the demo site (Ctrl-C is tested in tst_network).

#include "demo/demosite.h"
#include "tests/support/clirun.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_demo.addRoutes(m_site.server());
        QVERIFY(m_site.start());
        m_settings = m_dir.filePath(u"Kestrelon.ini"_s);
        QVERIFY(support::writeBytes(m_settings,
                                    demo::demoSiteSettings(u"127.0.0.1:%1"_s.arg(m_site.port()))));
    }

    void outcomes_data() {
        // Every run finds an old book file of the demo book's name on the shelf.
        QTest::addColumn<QStringList>("arguments"); // besides --settings
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("book"); // the file's bytes after the run

        const QString written = u"取书进度：下载成功！\n"_s;
        QTest::newRow("--overwrite, in utf-8")
            << QStringList{u"--overwrite"_s, u"--encoding"_s, u"utf-8"_s, contents()} << 0
            << written << QByteArray("\xEF\xBB\xBF") + demo::demoBookText(m_book).toUtf8();
        QTest::newRow("no terminal to ask on: kept")
            << QStringList{contents()} << 0 << written << QByteArray("old");
        QTest::newRow("site without rules")
            << QStringList{u"--overwrite"_s, u"http://nowhere.invalid/book/1/"_s} << 3
            << u"取书进度：例外站点！\n"_s << QByteArray("old");
        QTest::newRow("contents page missing")
            << QStringList{u"--overwrite"_s, m_site.url(u"/book/2/"_s)} << 1
            << u"取书进度：下载失败！\n"_s << QByteArray("old");
        // Bad usage: nothing on standard output, the reason on standard error.
        QTest::newRow("no address") << QStringList() << 64 << QString() << QByteArray("old");
        QTest::newRow("unknown encoding") << QStringList{u"--encoding"_s, u"latin1"_s, contents()}
                                          << 64 << QString() << QByteArray("old");
        QTest::newRow("keep and overwrite")
            << QStringList{u"--keep"_s, u"--overwrite"_s, contents()} << 64 << QString()
            << QByteArray("old");
    }

    void outcomes() {
        QFETCH(QStringList, arguments);
        QTemporaryDir shelf;
        const QString file = m_book.title + u".txt"_s;
        QVERIFY(support::writeBytes(shelf.filePath(file), "old"));
        const support::CliRun result = support::runCli(
            QStringList{u"--settings"_s, m_settings} + arguments, {.shelf = shelf.path()});
        QTEST(result.exitCode, "exitCode");
        QTEST(result.out, "message");
        QCOMPARE(result.shelf.keys(), QStringList{file});
        QTEST(result.shelf.value(file), "book");
        if (result.exitCode == 64)
            QVERIFY(result.err.startsWith(u"kestrelon-cli: "_s));
    }

private:
    QString contents() const { return m_site.url(QString::fromLatin1(demo::kDemoBookFolder)); }

    support::LoopbackSite m_site;
    // Six chapters hold every kind the demo site has: follow-on pages, a separate text
    // document and an advertisement.
    demo::DemoBook m_book = demo::generateDemoBook({.chapters = 6, .volumes = 2, .paragraphs = 4});
    demo::DemoSite m_demo{m_book};
    QTemporaryDir m_dir;
    QString m_settings;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tests/tst_cli.moc"
