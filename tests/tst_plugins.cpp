// Plug-in jobs through the real pipeline against a loopback site: the Quorvel library, Tally (a
// plug-in written from plugins/README.md alone) and libraries that fail on the way to an object.
// They lie in the plug_ins folder beside this program (tests/plugins/CMakeLists.txt).

#include "pipeline/pipeline.h"
#include "pipeline/pluginhost.h"
#include "pipeline/webengine.h"
#include "settings/inimodule.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString I = u"\u3000\u3000"_s; // the indent
const QString N = u"\r\n"_s;

// A page of the test thread, whose author is 甲, with its posts and its link to the next page.
QString threadPage(const QString &posts, const QString &next) {
    QString page = u"<html><body>\r\n<h1>论坛之书</h1><i>楼主：甲</i>\r\n"_s + posts;
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
    static void initMain() { pipeline::prepareWebEngine(); }

private slots:
    void initTestCase();
    void init();
    void quorvelThread_data();
    void quorvelThread();
    void hostDrivesAThirdPartyPlugin_data();
    void hostDrivesAThirdPartyPlugin();
    void slowRegistrationIsGivenUpInTime();
    void unusablePluginFailsTheJob_data();
    void unusablePluginFailsTheJob();

private:
    bool writeSection(const QString &plugin, const QString &rules = QString());
    std::optional<EndState> run(const QString &path);
    QStringList shelf() const { return QDir(m_shelf->path()).entryList(QDir::Files); }

    support::LoopbackSite m_site;
    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_shelf;
    support::RecordingView m_view;
    std::unique_ptr<Pipeline> m_pipeline;
    qsizetype m_seenBefore = 0;
};

void TestPlugins::initTestCase() {
    const auto serve = [this](const QString &path, const QString &html) {
        m_site.serve(path, {.body = support::gbk(html)});
    };
    // The second page lies in a folder of its own and names the third relative to the contents
    // page, where alone it is found. A CR LF inside 甲's first block becomes one line break.
    serve(u"/forum/index.html"_s,
          threadPage(post(u"甲"_s, u"甲一行。\r\n甲二行。"_s) + post(u"乙"_s, u"乙说好。"_s),
                     u"sub/2.html"_s));
    serve(u"/forum/sub/2.html"_s,
          threadPage(post(u"甲"_s, u"短。"_s) + post(u"甲"_s, u"甲第三行，稍长一些。"_s) +
                         post(u"乙"_s, u"乙：同意楼上。"_s),
                     u"3.html"_s));
    serve(u"/forum/3.html"_s, threadPage(post(u"甲"_s, u"甲的最后一行。"_s), QString()));
    serve(u"/tally/index.html"_s, u"<b>A</b><a id=\"next\" href=\"p2.html\">"_s);
    serve(u"/tally/p2.html"_s, u"<b>B</b><a id=\"next\" href=\"p3.html\">"_s);
    serve(u"/tally/p3.html"_s, u"<b>C</b>"_s);
    serve(u"/tally/single.html"_s, u"<b>S</b>"_s);
    QVERIFY(m_site.start());
    iniModule::setSettingsFileOverride(m_settingsDir.filePath(u"Kestrelon.ini"_s));
    m_pipeline = std::make_unique<Pipeline>(m_view);
}

void TestPlugins::init() {
    m_shelf = std::make_unique<QTemporaryDir>();
    m_view.inputs = JobInputs();
    m_view.inputs.bookshelfFolder = m_shelf->path() + u'/';
    m_view.onEvents = nullptr;
    m_view.statuses.clear();
    m_view.pageBar.clear();
    m_seenBefore = m_site.clientRequests().size();
}

bool TestPlugins::writeSection(const QString &plugin, const QString &rules) {
    const QString section =
        u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\nplugins=%2\r\n"_s.arg(m_site.port())
            .arg(plugin) +
        rules;
    return support::writeBytes(m_settingsDir.filePath(u"Kestrelon.ini"_s), support::gbk(section));
}

std::optional<EndState> TestPlugins::run(const QString &path) {
    m_view.inputs.contentsUrl = m_site.url(path);
    return m_pipeline->download();
}

void TestPlugins::quorvelThread_data() {
    QTest::addColumn<QString>("authorFilter");
    QTest::addColumn<QString>("minimumLength");
    QTest::addColumn<QString>("headAuthor");
    QTest::addColumn<QString>("body");

    const QString first = I + u"甲一行。"_s + N + I + u"甲二行。"_s;
    const QString third = I + u"甲第三行，稍长一些。"_s;
    const QString last = I + u"甲的最后一行。"_s;
    QTest::newRow("the thread author's blocks") << ""
                                                << "5"
                                                << "甲" << first + third + last;
    QTest::newRow("* keeps everyone's, the head shows the thread's author")
        << "*"
        << "5"
        << "甲" << first + third + N + I + u"乙：同意楼上。"_s + last;
    QTest::newRow("a named author") << "乙"
                                    << "3"
                                    << "乙" << I + u"乙说好。"_s + I + u"乙：同意楼上。"_s;
    QTest::newRow("0 keeps every block, <BR> becoming a line break")
        << ""
        << "0"
        << "甲" << first + I + N + u"短。"_s + N + I + N + u"甲第三行，稍长一些。"_s + last;
    QTest::newRow("more than 9 characters") << ""
                                            << "9"
                                            << "甲" << first + third;
    QTest::newRow("exactly 10 characters is not more than 10") << ""
                                                               << "10"
                                                               << "甲"
                                                               << "";
    QTest::newRow("empty means 512") << ""
                                     << ""
                                     << "甲"
                                     << "";
    QTest::newRow("not a number means 512") << ""
                                            << "many"
                                            << "甲"
                                            << "";
}

void TestPlugins::quorvelThread() {
    QFETCH(QString, authorFilter);
    QFETCH(QString, minimumLength);
    QFETCH(QString, headAuthor);
    QFETCH(QString, body);
    QVERIFY(writeSection(
        u"Quorvel"_s, u"tagAuthor=<i>楼主：(.*?)</i>\r\ntagText=<b>替换</b><div "
                      u"class=\"t\">(.*?)</div>\r\ntagNext=<a class=\"n\" href=\"(.*?)\">\r\n"_s));
    m_view.inputs.firstChapterUrl = authorFilter;
    m_view.inputs.lastChapterUrl = minimumLength;
    QCOMPARE(run(u"/forum/index.html"_s), EndState::Success);
    QCOMPARE(m_site.clientPaths(m_seenBefore),
             QStringList({u"/forum/index.html"_s, u"/forum/sub/2.html"_s, u"/forum/3.html"_s}));
    const QString book = I + u"论坛之书"_s + N + I + u"作者："_s + headAuthor + N + N + body;
    QCOMPARE(support::readBytes(m_shelf->filePath(u"论坛之书.txt"_s)), support::gbk(book));
}

void TestPlugins::hostDrivesAThirdPartyPlugin_data() {
    QTest::addColumn<QString>("contents");
    QTest::addColumn<int>("stopAtPage"); // 0: no stop
    QTest::addColumn<EndState>("endState");
    QTest::addColumn<int>("pages");
    QTest::addColumn<QString>("pageTexts"); // "" when no book is written

    QTest::newRow("kind 0, then 1, relative links resolved against the contents page")
        << "/tally/index.html" << 0 << EndState::Success << 3 << "0:A 1:B 1:C ";
    QTest::newRow("\"\" on the first page ends the job at once")
        << "/tally/single.html" << 0 << EndState::Success << 1 << "0:S ";
    QTest::newRow("a stop during page 2 is seen once the page is handled")
        << "/tally/index.html" << 2 << EndState::Stopped << 2 << "";
    QTest::newRow("a stop during the last page still writes the book")
        << "/tally/index.html" << 3 << EndState::Success << 3 << "0:A 1:B 1:C ";
}

void TestPlugins::hostDrivesAThirdPartyPlugin() {
    QFETCH(QString, contents);
    QFETCH(int, stopAtPage);
    QFETCH(EndState, endState);
    QFETCH(int, pages);
    QFETCH(QString, pageTexts);
    QVERIFY(writeSection(u"Tally"_s));
    m_view.inputs.firstChapterUrl = u"计数"_s;
    m_view.inputs.lastChapterUrl = u"L"_s;
    // Once the page's response has begun, so that the request is not abandoned.
    m_view.onEvents = [this, stopAtPage] {
        if (stopAtPage > 0 && m_view.pageBar.count(0.0) >= stopAtPage)
            m_view.stop = true;
    };
    QCOMPARE(run(contents), endState);
    QCOMPARE(m_view.statuses.last(), Pipeline::resultMessage(endState));
    QCOMPARE(m_site.clientPaths(m_seenBefore).size(), pages);
    QVERIFY(!m_pipeline->job().plugin);
    if (pageTexts.isEmpty()) {
        QVERIFY(shelf().isEmpty());
        return;
    }
    const QString host = u"127.0.0.1:%1"_s.arg(m_site.port());
    QCOMPARE(support::readBytes(m_shelf->filePath(u"计数.txt"_s)),
             support::gbk(u"L|"_s + host + u'|' + pageTexts));
}

void TestPlugins::slowRegistrationIsGivenUpInTime() {
    // The entry sleeps for a minute; this program ends long before, with its thread asleep in a
    // library that must still be there.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!pipeline::registerLibrary(pipeline::pluginLibraryPath(u"SlowEntry"_s)));
    QVERIFY2(timer.elapsed() >= 1990 && timer.elapsed() < 2500,
             qPrintable(QString::number(timer.elapsed())));
    QVERIFY(pipeline::registerLibrary(pipeline::pluginLibraryPath(u"Tally"_s)));
}

void TestPlugins::unusablePluginFailsTheJob_data() {
    QTest::addColumn<QString>("plugin");
    QTest::newRow("no such file") << "Missing";
    QTest::newRow("no registration entry") << "NoEntry";
    QTest::newRow("a registration entry that does not return") << "SlowEntry";
    QTest::newRow("no object to give") << "NoObject";
}

void TestPlugins::unusablePluginFailsTheJob() {
    QFETCH(QString, plugin);
    QVERIFY(writeSection(plugin));
    // Without its plug-in the job has no rules and fails at its first page.
    QCOMPARE(run(u"/tally/index.html"_s), EndState::Failure);
    QCOMPARE(m_view.statuses.last(), u"取书进度：下载失败！"_s);
    QCOMPARE(m_site.clientPaths(m_seenBefore), QStringList(u"/tally/index.html"_s));
    QVERIFY(shelf().isEmpty());
}

QTEST_MAIN(TestPlugins)
#include "tests/tst_plugins.moc"
