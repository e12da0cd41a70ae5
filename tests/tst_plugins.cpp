// Plug-in jobs through the real pipeline against a loopback site: the Quorvel library, Tally (a
// plug-in written from plugins/README.md alone) and libraries that fail on the way to an object.
// They lie in the plug_ins folder beside this program (tests/plugins/CMakeLists.txt).

#include "browser/webengine.h"
#include "pipeline/pipeline.h"
#include "pipeline/pluginhost.h"
#include "settings/inimodule.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

using namespace Qt::StringLiterals;

namespace {

const QString I = u"\u3000\u3000"_s; // the indent
const QString N = u"\r\n"_s;

// A page of a test thread, whose author is 甲 unless named, with its posts and its link to the
// next page.
QString threadPage(const QString &posts, const QString &next, const QString &author = u"甲"_s) {
    QString page = u"<html><body>\r\n<h1>论坛之书</h1><i>楼主：%1</i>\r\n"_s.arg(author) + posts;
    if (!next.isEmpty())
        page += u"<a class=\"n\" href=\"%1\">下一页</a>\r\n"_s.arg(next);
    return page + u"</body></html>"_s;
}

QString post(const QString &author, const QString &text) {
    return u"<div class=\"p\"><b>%1</b><div class=\"t\">%2</div></div>\r\n"_s.arg(author, text);
}

} // namespace

class TestPlugins : public QObject {
    Q_OBJECT

public:
    static void initMain() { browser::prepareWebEngine(); }

private slots:
    void initTestCase() {
        const auto serve = [this](const QString &path, const QString &html) {
            m_site.serve(path, {.body = support::gbk(html)});
        };
        // The second page lies in a folder of its own and names the third relative to the contents
        // page, where alone it is found; the third links back to the first, whose posts must not
        // come twice (and /long/index.html, a thread of one page, links to itself).
        // A CR LF inside 甲's first block becomes one line break.
        serve(u"/forum/index.html"_s,
              threadPage(post(u"甲"_s, u"甲一行。\r\n甲二行。"_s) + post(u"乙"_s, u"乙说好。"_s),
                         u"sub/2.html"_s));
        serve(u"/forum/sub/2.html"_s,
              threadPage(post(u"甲"_s, u"短。"_s) + post(u"甲"_s, u"甲第三行，稍长一些。"_s) +
                             post(u"乙"_s, u"乙：同意楼上。"_s),
                         u"3.html"_s));
        serve(u"/forum/3.html"_s, threadPage(post(u"甲"_s, u"甲的最后一行。"_s), u"index.html"_s));
        serve(u"/long/index.html"_s,
              threadPage(post(u"甲"_s, QString(511, u'短')) + post(u"甲"_s, QString(512, u'中')) +
                             post(u"甲"_s, QString(513, u'长')),
                         u"index.html"_s));
        // Authors whose names mean something in a rule.
        serve(u"/names/index.html"_s, threadPage(post(u"丙(丁|戊"_s, u"丙丁戊的长帖子。"_s) +
                                                     post(u"戊"_s, u"戊的长帖子。"_s),
                                                 QString(), u"丙(丁|戊"_s));
        serve(u"/tally/index.html"_s, u"<b>A</b><a id=\"next\" href=\"p2.html\">"_s);
        serve(u"/tally/p2.html"_s, u"<b>B</b><a id=\"next\" href=\"p3.html\">"_s);
        serve(u"/tally/p3.html"_s, u"<b>C</b>"_s);
        serve(u"/tally/single.html"_s, u"<b>S</b>"_s);
        QVERIFY(m_site.start());
        iniModule::setSettingsFileOverride(m_settingsDir.filePath(u"Kestrelon.ini"_s));
        const QString outside = m_outside.filePath(u"Outside.so"_s);
        const QString linked = pipeline::pluginLibraryPath(u"Linked"_s);
        QVERIFY(QFile::copy(pipeline::pluginLibraryPath(u"Tally"_s), outside));
        QFile::remove(linked);
        QVERIFY(QFile::link(outside, linked));
        m_pipeline = std::make_unique<Pipeline>(m_view);
    }

    void init() {
        m_shelf = std::make_unique<QTemporaryDir>();
        // The pipeline keeps its reference to m_view; only its contents change between tests.
        m_view = support::RecordingView();
        m_view.inputs.bookshelfFolder = m_shelf->path() + u'/';
        m_seenBefore = m_site.clientRequests().size();
    }

    void quorvelThread_data() {
        QTest::addColumn<QString>("thread");
        QTest::addColumn<QString>("authorFilter");
        QTest::addColumn<QString>("minimumLength");
        QTest::addColumn<QString>("headAuthor");
        QTest::addColumn<QString>("body");

        const QString first = I + u"甲一行。"_s + N + I + u"甲二行。"_s;
        const QString third = I + u"甲第三行，稍长一些。"_s;
        const QString last = I + u"甲的最后一行。"_s;
        const QString forum = u"/forum/index.html"_s;
        QTest::newRow("* keeps everyone's, the head shows the thread's author")
            << forum << u"*"_s << u"5"_s << u"甲"_s
            << first + third + N + I + u"乙：同意楼上。"_s + last;
        QTest::newRow("a named author")
            << forum << u"乙"_s << u"3"_s << u"乙"_s << I + u"乙说好。"_s + I + u"乙：同意楼上。"_s;
        QTest::newRow("0 keeps every block, <BR> becoming a line break")
            << forum << QString() << u"0"_s << u"甲"_s
            << first + I + N + u"短。"_s + N + I + N + u"甲第三行，稍长一些。"_s + last;
        for (const QString &none : {u"nan"_s, QString()}) // no number: 512, so 513 characters kept
            QTest::newRow(qPrintable(u"\"%1\" means 512"_s.arg(none)))
                << u"/long/index.html"_s << QString() << none << u"甲"_s << I + QString(513, u'长');
        // A name read from the page is matched as it is written (were it not, its parenthesis would
        // make the rule invalid and its bar let 戊's post in); one typed in is a pattern.
        QTest::newRow("the author's name holds a parenthesis and a bar")
            << u"/names/index.html"_s << QString() << u"5"_s << u"丙(丁|戊"_s
            << I + u"丙丁戊的长帖子。"_s;
        QTest::newRow("a typed name is a pattern")
            << u"/names/index.html"_s << u"丙\\(丁\\|戊"_s << u"5"_s << u"丙\\(丁\\|戊"_s
            << I + u"丙丁戊的长帖子。"_s;
    }

    void quorvelThread() {
        QFETCH(QString, thread);
        QFETCH(QString, authorFilter);
        QFETCH(QString, minimumLength);
        QFETCH(QString, headAuthor);
        QFETCH(QString, body);
        QVERIFY(writeSection(
            u"Quorvel"_s,
            u"tagAuthor=<i>楼主：(.*?)</i>\r\ntagText=<b>替换</b><div "
            u"class=\"t\">(.*?)</div>\r\ntagNext=<a class=\"n\" href=\"(.*?)\">\r\n"_s));
        m_view.inputs.firstChapterUrl = authorFilter;
        m_view.inputs.lastChapterUrl = minimumLength;
        QCOMPARE(run(thread), EndState::Success);
        const QString book = I + u"论坛之书"_s + N + I + u"作者："_s + headAuthor + N + N + body;
        QCOMPARE(support::readBytes(m_shelf->filePath(u"论坛之书.txt"_s)), support::gbk(book));
    }

    void hostDrivesAThirdPartyPlugin_data() {
        QTest::addColumn<QString>("contents");
        QTest::addColumn<int>("stopAtPage"); // 0: no stop; else the job ends stopped
        QTest::addColumn<int>("pages");
        QTest::addColumn<QString>("pageTexts");
        QTest::addColumn<QString>("title"); // Tally's title: the first range box
        QTest::addColumn<QString>("file");  // "" when no book is written

        QTest::newRow("kind 0, then 1, relative links resolved against the contents page")
            << u"/tally/index.html"_s << 0 << 3 << u"0:A 1:B 1:C "_s << u"计数"_s << u"计数.txt"_s;
        // Given up on its way or seen once the page is handled: the job ends stopped either way.
        QTest::newRow("a stop during page 2")
            << u"/tally/index.html"_s << 2 << 2 << QString() << u"计数"_s << QString();
        QTest::newRow("\"\" on the first page ends the job at once; an empty title")
            << u"/tally/single.html"_s << 0 << 1 << u"0:S "_s << QString() << u"书名未知.txt"_s;
    }

    void hostDrivesAThirdPartyPlugin() {
        QFETCH(QString, contents);
        QFETCH(int, stopAtPage);
        QFETCH(int, pages);
        QFETCH(QString, pageTexts);
        QFETCH(QString, title);
        QFETCH(QString, file);
        QVERIFY(writeSection(u"Tally"_s));
        m_view.inputs.firstChapterUrl = title;
        m_view.inputs.lastChapterUrl = u"L"_s;
        // Once the page's response has begun.
        m_view.onEvents = [this, stopAtPage] {
            if (stopAtPage > 0 && m_view.pageBar.count(0.0) >= stopAtPage)
                m_view.stop = true;
        };
        QCOMPARE(run(contents), stopAtPage > 0 ? EndState::Stopped : EndState::Success);
        QCOMPARE(m_site.clientPaths(m_seenBefore).size(), pages);
        QVERIFY(!m_pipeline->job().plugin);
        QCOMPARE(QDir(m_shelf->path()).entryList(QDir::Files | QDir::Hidden),
                 file.isEmpty() ? QStringList() : QStringList(file));
        if (file.isEmpty())
            return;
        QCOMPARE(support::readBytes(m_shelf->filePath(file)),
                 support::gbk(u"L|127.0.0.1:%1|"_s.arg(m_site.port()) + pageTexts));
    }

    void unusablePluginFailsTheJob_data() {
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no such file") << u"Missing"_s << u"插件库无法注册"_s;
        QTest::newRow("no registration entry") << u"NoEntry"_s << u"插件库无法注册"_s;
        QTest::newRow("a registration entry that does not return")
            << u"SlowEntry"_s << u"插件库无法注册"_s;
        QTest::newRow("no object to give") << u"NoObject"_s << u"无法创建插件对象"_s;
        // Both reach a working library outside plug_ins, which must not even be loaded.
        QTest::newRow("a name that climbs out of plug_ins")
            << QDir(pluginFolder()).relativeFilePath(m_outside.filePath(u"Outside"_s))
            << u"插件名无效"_s;
        QTest::newRow("a link in plug_ins to a library outside")
            << u"Linked"_s << u"插件库不在插件目录"_s;
    }

    void unusablePluginFailsTheJob() {
        QFETCH(QString, plugin);
        QFETCH(QString, reason);
        QVERIFY(writeSection(plugin));
        // Without its plug-in the job has no rules and fails at its first page. A registration that
        // never returns (its entry sleeps for a minute) is given up long before; this program then
        // ends with that thread asleep in a library that must still be there.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(run(u"/tally/index.html"_s), EndState::Failure);
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(m_site.clientPaths(m_seenBefore), QStringList(u"/tally/index.html"_s));
        QVERIFY2(m_view.failures.join(u'\n').contains(reason),
                 qPrintable(m_view.failures.join(u'\n')));
        QVERIFY(!dlopen(QFile::encodeName(m_outside.filePath(u"Outside.so"_s)).constData(),
                        RTLD_LAZY | RTLD_NOLOAD));
    }

    void cleanupTestCase() { QFile::remove(pipeline::pluginLibraryPath(u"Linked"_s)); }

private:
    bool writeSection(const QString &plugin, const QString &rules = QString()) {
        const QString section = u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\nplugins=%2\r\n%3"_s;
        return support::writeBytes(m_settingsDir.filePath(u"Kestrelon.ini"_s),
                                   support::gbk(section.arg(m_site.port()).arg(plugin, rules)));
    }
    std::optional<EndState> run(const QString &path) {
        m_view.inputs.contentsUrl = m_site.url(path);
        return m_pipeline->download();
    }
    static QString pluginFolder() { return QFileInfo(pipeline::pluginLibraryPath(u"x"_s)).path(); }

    support::LoopbackSite m_site;
    QTemporaryDir m_settingsDir;
    QTemporaryDir m_outside; // a copy of Tally, and plug_ins/Linked.so links to it
    std::unique_ptr<QTemporaryDir> m_shelf;
    support::RecordingView m_view;
    std::unique_ptr<Pipeline> m_pipeline;
    qsizetype m_seenBefore = 0;
};

QTEST_MAIN(TestPlugins)
#include "tests/tst_plugins.moc"
