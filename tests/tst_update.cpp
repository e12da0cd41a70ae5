// kestrelon-cli --update against a loopback copy of the demo site whose serial grows: only the
// chapters the library lacks and the last one it holds are fetched, and the book is byte for byte
// the book a full download with the same options writes.

#include "demo/demosite.h"
#include "tests/support/clirun.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestUpdate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Forty short chapters with every kind of page the demo site has: follow-on pages,
        // separate text documents, advertisements.
        m_book = demo::generateDemoBook({.chapters = 40, .volumes = 3, .paragraphs = 3});
        m_demo = std::make_unique<demo::DemoSite>(m_book);
        m_demo->addRoutes(m_site.server());
        QVERIFY(m_site.start());
    }

    void update_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("before");         // chapters published for the first update
        QTest::addColumn<QList<int>>("fetched"); // chapters the second update asks the site for

        QList<int> grown;
        for (int c = 29; c < 40; ++c)
            grown.append(c);
        QTest::newRow("grows from 30 to 40") << QStringList() << 30 << grown;
        const QList<int> last{39};
        QTest::newRow("no new chapters, utf-8")
            << QStringList{u"--encoding"_s, u"utf-8"_s} << 40 << last;
        QTest::newRow("no new chapters, delete-title")
            << QStringList{u"--delete-title"_s} << 40 << last;
        QTest::newRow("no new chapters, small-chapters")
            << QStringList{u"--small-chapters"_s} << 40 << last;
        QTest::newRow("no new chapters, browser-text")
            << QStringList{u"--browser-text"_s} << 40 << last;
        QTest::newRow("no new chapters, epub")
            << QStringList{u"--format"_s, u"epub"_s} << 40 << last;
    }

    void update() {
        QFETCH(QStringList, options);
        QFETCH(int, before);
        QFETCH(QList<int>, fetched);
        QTemporaryDir dir;
        const QString settings = writeSettings(dir);
        const QString shelf = dir.filePath(u"shelf"_s);
        QVERIFY(QDir().mkpath(shelf));

        m_demo->publish(before);
        const auto first = support::runCli({u"--settings"_s, settings, u"--update"_s, contents()},
                                           {.shelf = shelf});
        QCOMPARE(first.exitCode, 0);
        QVERIFY(QFile::exists(dir.filePath(u"Kestrelon.sqlite"_s)));

        m_demo->publish(40);
        const qsizetype from = m_site.clientRequests().size();
        const auto updated = support::runCli(
            options + QStringList{u"--settings"_s, settings, u"--update"_s, contents()},
            {.shelf = shelf});
        QCOMPARE(updated.exitCode, 0);
        QVERIFY2(updated.out.contains(u"从网站取得 %1 章，从书库取得 %2 章"_s.arg(fetched.size())
                                          .arg(40 - fetched.size())),
                 qPrintable(updated.out));
        QStringList expected{QString::fromLatin1(demo::kDemoBookFolder)};
        for (int c : std::as_const(fetched))
            expected += pathsOf(c);
        QStringList asked = m_site.clientPaths(from);
        asked.sort();
        expected.sort();
        QCOMPARE(asked, expected);

        // A full download of the site as it stands, with the same options; the update replaced
        // its own last build without asking.
        QTemporaryDir fullDir;
        const QString fullSettings = writeSettings(fullDir);
        const auto full =
            support::runCli(options + QStringList{u"--settings"_s, fullSettings, contents()});
        QCOMPARE(full.exitCode, 0);
        QVERIFY(!full.book().isEmpty());
        QVERIFY(!QFile::exists(fullDir.filePath(u"Kestrelon.sqlite"_s)));
        const QString name = full.shelf.firstKey();
        QCOMPARE(withoutZipTimes(updated.shelf.value(name)), withoutZipTimes(full.book()));
    }

private:
    // An EPUB's entries carry the time they were written; two builds differ only there.
    static QByteArray withoutZipTimes(QByteArray book) {
        if (!book.startsWith("PK"))
            return book;
        for (const auto &[signature, at] :
             {std::pair{QByteArray("PK\x03\x04"), 10}, std::pair{QByteArray("PK\x01\x02"), 12}}) {
            for (qsizetype i = book.indexOf(signature); i >= 0 && i + at + 4 <= book.size();
                 i = book.indexOf(signature, i + 4))
                book.replace(i + at, 4, QByteArray(4, '\0'));
        }
        return book;
    }

    QString contents() const { return m_site.url(QString::fromLatin1(demo::kDemoBookFolder)); }

    QString writeSettings(const QTemporaryDir &dir) const {
        const QString path = dir.filePath(u"Kestrelon.ini"_s);
        if (!support::writeBytes(path,
                                 demo::demoSiteSettings(u"127.0.0.1:%1"_s.arg(m_site.port()))))
            return {};
        return path;
    }

    // Every page the site serves for chapter c.
    QStringList pathsOf(int c) const {
        const QString folder = QString::fromLatin1(demo::kDemoBookFolder);
        QStringList paths;
        for (int p = 0; p < m_book.chapters.at(c).pages.size(); ++p)
            paths.append(folder + demo::demoChapterPageName(c, p));
        if (m_book.chapters.at(c).separateText)
            paths.append(folder + demo::demoChapterTextName(c));
        return paths;
    }

    support::LoopbackSite m_site;
    demo::DemoBook m_book;
    std::unique_ptr<demo::DemoSite> m_demo;
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tests/tst_update.moc"
