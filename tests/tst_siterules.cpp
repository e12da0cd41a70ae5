// Recognising a site and loading its rules: the keys read, the write-backs and removals in the
// settings file (checked byte for byte), and the rule values split into alternatives.

#include "pipeline/downloadjob.h"
#include "pipeline/loadsiterules.h"
#include "settings/inimodule.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSiteRules : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();
    void settingsFileAfterLoading_data();
    void settingsFileAfterLoading();
    void rulesLoaded();
    void pluginSiteReadsNoRules();
    void splitAlternatives_data();
    void splitAlternatives();

private:
    QString settingsPath() const { return m_dir->filePath(u"Kestrelon.ini"_s); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSiteRules::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    iniModule::setSettingsFileOverride(settingsPath());
}

void TestSiteRules::cleanupTestCase() {
    iniModule::setSettingsFileOverride(QString());
}

void TestSiteRules::settingsFileAfterLoading_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("noRules");
    QTest::addColumn<QByteArray>("after");

    const QByteArray global = support::gbk(u"[全局设置]\r\n编码模式=gbk\r\n"_s);
    QTest::newRow("host without a section leaves no section behind")
        << u"http://nowhere.test/book/1/"_s << global << true << global;
    QTest::newRow("address without a host") << u"nowhere"_s << global << true << global;
    QTest::newRow("section with an empty title rule is removed")
        << u"http://books.test/b/"_s
        << global + "[books.test]\r\ntagName=Books\r\ntagTitle=\r\ntagText=x\r\n[next]\r\nk=v\r\n"
        << true << global + "[next]\r\nk=v\r\n";
    QTest::newRow("missing keys added in reading order, no plugins key")
        << u"http://books.test/b/"_s
        << global + "[books.test]\r\ntagName=Books\r\ntagTitle=<h1>(.*?)</h1>\r\n\r\n[next]\r\n"
        << false
        << global + "[books.test]\r\ntagName=Books\r\ntagTitle=<h1>(.*?)</h1>\r\ntagCharset=\r\n"
                    "tagSort=\r\ntagUrl=\r\ntagHtml=\r\ntagAuthor=\r\ntagVolume=\r\n"
                    "tagChapter=\r\ntagText=\r\ntagDel=\r\ntagNext=\r\n\r\n[next]\r\n";
    QTest::newRow("an empty plugins key is removed")
        << u"http://books.test/b/"_s
        << QByteArray("[books.test]\r\nplugins=\r\ntagTitle=t\r\ntagCharset=gbk\r\ntagSort=1\r\n"
                      "tagUrl=\r\ntagHtml=\r\ntagAuthor=\r\ntagVolume=\r\ntagChapter=\r\n"
                      "tagText=\r\ntagDel=\r\ntagNext=\r\n")
        << false
        << QByteArray("[books.test]\r\ntagTitle=t\r\ntagCharset=gbk\r\ntagSort=1\r\n"
                      "tagUrl=\r\ntagHtml=\r\ntagAuthor=\r\ntagVolume=\r\ntagChapter=\r\n"
                      "tagText=\r\ntagDel=\r\ntagNext=\r\n");
    QTest::newRow("plug-in site: only the first keys are read")
        << u"http://books.test/b/"_s
        << QByteArray("[books.test]\r\ntagTitle=t\r\nplugins=Quorvel\r\n") << false
        << QByteArray("[books.test]\r\ntagTitle=t\r\nplugins=Quorvel\r\ntagCharset=\r\n");
    QTest::newRow("host with its port, letter case ignored")
        << u"http://BOOKS.test:8080/b/"_s
        << QByteArray("[books.TEST:8080]\r\ntagTitle=t\r\ntagCharset=\r\nplugins=x\r\n") << false
        << QByteArray("[books.TEST:8080]\r\ntagTitle=t\r\ntagCharset=\r\nplugins=x\r\n");
}

void TestSiteRules::settingsFileAfterLoading() {
    QFETCH(QString, address);
    QFETCH(QByteArray, before);
    QFETCH(bool, noRules);
    QFETCH(QByteArray, after);
    QVERIFY(support::writeBytes(settingsPath(), before));
    support::RecordingView view;
    view.contents = address;
    DownloadJob job;
    QCOMPARE(loadSiteRules(job, view), noRules);
    QCOMPARE(support::readBytes(settingsPath()), after);
    QCOMPARE(view.statuses, noRules ? QStringList{u"取书进度：例外站点！"_s} : QStringList());
}

void TestSiteRules::rulesLoaded() {
    QVERIFY(support::writeBytes(
        settingsPath(),
        support::gbk(u"[books.test]\r\ntagTitle=<h1>(.*?)</h1>||<title>(.*?)</title>\r\n"
                     u"tagCharset=||big5||gbk||utf-8\r\ntagSort=1\r\ntagHtml=yes\r\n"
                     u"tagDel=广告(.*?)。||\r\ntagNext=<a href=\"(.*?)\">下一页</a>\r\n"_s)));
    support::RecordingView view;
    view.contents = u"http://books.test/book/1/"_s;
    DownloadJob job;
    job.book.bookTitle = u"old"_s;
    job.book.chapters.chapterUrls = {u"old"_s};
    job.bookText = u"old"_s;
    QVERIFY(!loadSiteRules(job, view));
    QCOMPARE(job.host, u"books.test"_s);
    QCOMPARE(job.rules.tagTitle, (QStringList{u"<h1>(.*?)</h1>"_s, u"<title>(.*?)</title>"_s}));
    QCOMPARE(job.rules.tagCharset, (std::array<QString, 3>{QString(), u"big5"_s, u"gbk"_s}));
    QCOMPARE(job.rules.tagSort, u"1"_s);
    QCOMPARE(job.rules.tagUrl, QString());
    QCOMPARE(job.rules.tagHtml, u"yes"_s);
    QCOMPARE(job.rules.tagDel, (QStringList{u"广告(.*?)。"_s, QString()}));
    QCOMPARE(job.rules.tagNext, QStringList{u"<a href=\"(.*?)\">下一页</a>"_s});
    QCOMPARE(job.rules.tagChapter, QStringList());
    QVERIFY(job.book.bookTitle.isEmpty());
    QVERIFY(job.book.chapters.chapterUrls.isEmpty());
    QVERIFY(job.bookText.isEmpty());
}

void TestSiteRules::pluginSiteReadsNoRules() {
    QVERIFY(support::writeBytes(settingsPath(),
                                "[rules.test]\r\ntagTitle=t\r\ntagSort=1\r\ntagUrl=1\r\n"
                                "[plugin.test]\r\ntagTitle=t\r\nplugins=Quorvel\r\ntagSort=1\r\n"));
    support::RecordingView view;
    DownloadJob job;
    view.contents = u"http://rules.test/1/"_s;
    QVERIFY(!loadSiteRules(job, view));
    QCOMPARE(job.rules.tagSort, u"1"_s);
    view.contents = u"http://plugin.test/1/"_s;
    QVERIFY(!loadSiteRules(job, view));
    QVERIFY(job.rules.tagSort.isEmpty());
    QVERIFY(job.rules.tagUrl.isEmpty());
    QVERIFY(job.rules.tagTitle.isEmpty());
}

void TestSiteRules::splitAlternatives_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("two") << u"a(.*?)b||c(.*?)d"_s << QStringList{u"a(.*?)b"_s, u"c(.*?)d"_s};
    QTest::newRow("trailing separator") << u"a||"_s << QStringList{u"a"_s, QString()};
    QTest::newRow("doubled separator") << u"a||||b"_s << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("single bar stays") << u"a|b"_s << QStringList{u"a|b"_s};
}

void TestSiteRules::splitAlternatives() {
    QFETCH(QString, value);
    QFETCH(QStringList, expected);
    QCOMPARE(::splitAlternatives(value), expected);
}

QTEST_GUILESS_MAIN(TestSiteRules)
#include "tst_siterules.moc"
