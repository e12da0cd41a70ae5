// Recognising a site and loading its rules: the keys read, the write-backs and removals in the
// settings file (checked byte for byte), and the rule values split into alternatives.

#include "pipeline/downloadjob.h"
#include "pipeline/loadsiterules.h"
#include "pipeline/textaddress.h"
#include "settings/inimodule.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSiteRules : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        iniModule::setSettingsFileOverride(settingsPath());
    }

    void cleanupTestCase() { iniModule::setSettingsFileOverride(QString()); }

    void settingsFileAfterLoading_data() {
        // Every row loads the rules for http://books.test/b/.
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QByteArray>("after");

        const QByteArray global = support::gbk(u"[全局设置]\r\n编码模式=gbk\r\n"_s);
        QTest::newRow("host without a section leaves no section behind")
            << global << false << global;
        // A section being written is the user's work: nothing of it is removed or added.
        const QByteArray halfWritten =
            global + "[Books.Test]\r\ntagName=Books\r\ntagTitle=\r\ntagText=x\r\n[next]\r\nk=v\r\n";
        QTest::newRow("section with an empty title rule stays as it was")
            << halfWritten << false << halfWritten;
        const QByteArray misspelt =
            global + "[books.test]\r\ntagTitel=<h1>(.*?)</h1>\r\ntagText=x\r\n\r\n[next]\r\n";
        QTest::newRow("section with a misspelt title key stays as it was")
            << misspelt << false << misspelt;
        QTest::newRow("missing keys added in reading order, an empty plugins key removed")
            << global + "[books.test]\r\nplugins=\r\ntagTitle=<h1>(.*?)</h1>\r\n\r\n[next]\r\n"
            << true
            << global + "[books.test]\r\ntagTitle=<h1>(.*?)</h1>\r\ntagCharset=\r\ntagSort=\r\n"
                        "tagUrl=\r\ntagHtml=\r\ntagAuthor=\r\ntagVolume=\r\ntagChapter=\r\n"
                        "tagText=\r\ntagDel=\r\ntagNext=\r\n\r\n[next]\r\n";
    }

    void settingsFileAfterLoading() {
        QFETCH(QByteArray, before);
        QFETCH(bool, loaded);
        QVERIFY(support::writeBytes(settingsPath(), before));
        support::RecordingView view;
        DownloadJob job;
        job.inputs.contentsUrl = u"http://books.test/b/"_s;
        QCOMPARE(pipeline::loadSiteRules(job, view), loaded);
        QTEST(support::readBytes(settingsPath()), "after");
        QCOMPARE(view.statuses, loaded ? QStringList() : QStringList{u"取书进度：例外站点！"_s});
    }

    void rulesLoaded() {
        // Values split at "||" (an empty alternative kept), a missing key giving none.
        QVERIFY(support::writeBytes(
            settingsPath(),
            support::gbk(u"[books.test]\r\ntagTitle=<h1>(.*?)</h1>||<title>(.*?)</title>"
                         u"\r\ntagCharset=||big5||gbk||utf-8\r\ntagSort=1\r\n"
                         u"tagDel=广告(.*?)。||\r\n"_s)));
        support::RecordingView view;
        DownloadJob job;
        job.inputs.contentsUrl = u"http://books.test?book=1"_s;
        QVERIFY(pipeline::loadSiteRules(job, view));
        QCOMPARE(job.rules.tagTitle, (QStringList{u"<h1>(.*?)</h1>"_s, u"<title>(.*?)</title>"_s}));
        QCOMPARE(job.rules.tagCharset, (std::array<QString, 3>{QString(), u"big5"_s, u"gbk"_s}));
        QCOMPARE(job.rules.tagDel, (QStringList{u"广告(.*?)。"_s, QString()}));
        QVERIFY(job.rules.tagChapter.isEmpty());
        // A settings file that cannot be read (here a folder) is not one without the site.
        QVERIFY(QFile::remove(settingsPath()) && QDir().mkdir(settingsPath()));
        QVERIFY(!pipeline::loadSiteRules(job, view) &&
                view.statuses.last().startsWith(u"取书进度：设置文件无法读取"_s));
    }

    void textAddress() {
        // Against the chapter's address, in GBK bytes: 20 longer is tried, 21 longer is not.
        const QString chapter = u"http://books.test/1.html"_s;
        const QString x19 = QString(19, u'x');
        QCOMPARE(pipeline::textAddress(chapter, u"?"_s + x19),
                 std::optional(chapter + u"?"_s + x19));
        QVERIFY(!pipeline::textAddress(chapter, u"?x"_s + x19));
        // Empty: no page but the chapter's own.
        QVERIFY(!pipeline::textAddress(chapter, QString()));
    }

private:
    QString settingsPath() const { return m_dir->filePath(u"Kestrelon.ini"_s); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestSiteRules)
#include "tests/tst_siterules.moc"
