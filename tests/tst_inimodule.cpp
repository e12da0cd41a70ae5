// The settings file: private-profile reads and writes checked byte for byte in the file, the
// defaults written back, the global options, and files in folders nobody can write to.

#include "settings/globaloptions.h"
#include "settings/inimodule.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace iniModule;

class TestIniModule : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();
    void readSettingReadsAndWritesBack_data();
    void readSettingReadsAndWritesBack();
    void writeSettingEditsInPlace_data();
    void writeSettingEditsInPlace();
    void deletionsRemoveLines_data();
    void deletionsRemoveLines();
    void deletionsOfAMissingFileCreateNothing();
    void unwritableFolderKeepsTheFile();
    void settingsFilePathJoinsFolderAndName_data();
    void settingsFilePathJoinsFolderAndName();
    void firstRunWritesTheGlobalOptions();
    void startupBookshelfFolder_data();
    void startupBookshelfFolder();

private:
    QString settingsPath() const { return m_dir->filePath(u"Kestrelon.ini"_s); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestIniModule::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    setSettingsFileOverride(settingsPath());
}

void TestIniModule::cleanupTestCase() {
    setSettingsFileOverride(QString());
}

void TestIniModule::readSettingReadsAndWritesBack_data() {
    QTest::addColumn<QByteArray>("before"); // "<missing>" for no file
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("after");

    const QByteArray missing = "<missing>";
    QTest::newRow("missing file is created")
        << missing << u"全局设置"_s << u"编码模式"_s << u"gbk"_s << u"gbk"_s
        << support::gbk(u"[全局设置]\r\n编码模式=gbk\r\n"_s);
    QTest::newRow("empty value replaced by the default")
        << QByteArray("[s]\r\nk=\r\nx=1\r\n") << u"s"_s << u"k"_s << u"d"_s << u"d"_s
        << QByteArray("[s]\r\nk=d\r\nx=1\r\n");
    QTest::newRow("present value, file untouched")
        << QByteArray("[s]\r\nk=v\r\n") << u"s"_s << u"k"_s << u"d"_s << u"v"_s
        << QByteArray("[s]\r\nk=v\r\n");
    QTest::newRow("letter case ignored")
        << QByteArray("[Site.COM]\r\nTagTitle=a\r\n") << u"site.com"_s << u"tagtitle"_s << QString()
        << u"a"_s << QByteArray("[Site.COM]\r\nTagTitle=a\r\n");
    QTest::newRow("key spelling in the file kept")
        << QByteArray("[s]\r\nTAGX=\r\n") << u"s"_s << u"tagx"_s << u"d"_s << u"d"_s
        << QByteArray("[s]\r\nTAGX=d\r\n");
    QTest::newRow("new key at the end of its section")
        << QByteArray("[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n") << u"a"_s << u"z"_s << u"d"_s << u"d"_s
        << QByteArray("[a]\r\nx=1\r\nz=d\r\n\r\n[b]\r\ny=2\r\n");
    QTest::newRow("new section after a last line without line end")
        << QByteArray("[a]\r\nx=1") << u"b"_s << u"k"_s << u"v"_s << u"v"_s
        << QByteArray("[a]\r\nx=1\r\n[b]\r\nk=v\r\n");
    QTest::newRow("empty default leaves an empty value")
        << missing << u"s"_s << u"k"_s << QString() << QString() << QByteArray("[s]\r\nk=\r\n");
    QTest::newRow("file another program edited")
        << QByteArray("; comment\n[a]\n  x = 1 \n# note\n") << u"A"_s << u"X"_s << u"d"_s << u"1"_s
        << QByteArray("; comment\n[a]\n  x = 1 \n# note\n");
    QTest::newRow("new key after lines another program wrote")
        << QByteArray("; comment\n[a]\nx = 1\n# note\n") << u"a"_s << u"y"_s << u"v"_s << u"v"_s
        << QByteArray("; comment\n[a]\nx = 1\n# note\ny=v\r\n");
    QTest::newRow("quotation marks around a value dropped")
        << QByteArray("[s]\r\nk=\"a b\"\r\n") << u"s"_s << u"k"_s << u"d"_s << u"a b"_s
        << QByteArray("[s]\r\nk=\"a b\"\r\n");
    QTest::newRow("chinese rule in GBK")
        << support::gbk(u"[书.com]\r\ntagTitle=<h1>书名：(.*?)</h1>\r\n"_s) << u"书.com"_s
        << u"tagTitle"_s << QString() << u"<h1>书名：(.*?)</h1>"_s
        << support::gbk(u"[书.com]\r\ntagTitle=<h1>书名：(.*?)</h1>\r\n"_s);
    const QString longRule = u"<div id=\"content\">(.*?)</div>||"_s.repeated(30);
    QTest::newRow("value past 254 bytes read whole")
        << (QByteArray("[s]\r\ntagText=") + longRule.toLatin1() + "\r\n") << u"s"_s << u"tagText"_s
        << QString() << longRule << (QByteArray("[s]\r\ntagText=") + longRule.toLatin1() + "\r\n");
}

void TestIniModule::readSettingReadsAndWritesBack() {
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, defaultValue);
    QFETCH(QString, expected);
    QFETCH(QByteArray, after);
    if (before != "<missing>")
        QVERIFY(support::writeBytes(settingsPath(), before));
    QCOMPARE(readSetting(section, key, defaultValue), expected);
    QCOMPARE(support::readBytes(settingsPath()), after);
}

void TestIniModule::writeSettingEditsInPlace_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QByteArray>("after");

    const QByteArray file = "[x]\nodd line\r\n[s]\r\nk = old \n  other=1\r\nlast=2";
    QTest::newRow("replaced in place, other lines kept")
        << file << u"k"_s << u"新"_s << true
        << QByteArray("[x]\nodd line\r\n[s]\r\nk=") + support::gbk(u"新"_s) +
               "\n  other=1\r\nlast=2";
    QTest::newRow("last line without line end") << file << u"LAST"_s << u"3"_s << true
                                                << QByteArray("[x]\nodd line\r\n[s]\r\nk = old \n"
                                                              "  other=1\r\nlast=3");
    QTest::newRow("new key after a last line without line end")
        << file << u"n"_s << u"4"_s << true
        << QByteArray("[x]\nodd line\r\n[s]\r\nk = old \n  other=1\r\nlast=2\r\nn=4\r\n");
    QTest::newRow("line break in a value refused")
        << file << u"k"_s << u"a\r\n[evil]"_s << false << file;
    QTest::newRow("equals sign in a key refused") << file << u"a=b"_s << u"1"_s << false << file;
}

void TestIniModule::writeSettingEditsInPlace() {
    QFETCH(QByteArray, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, written);
    QFETCH(QByteArray, after);
    QVERIFY(support::writeBytes(settingsPath(), before));
    QCOMPARE(writeSetting(u"s"_s, key, value), written);
    QCOMPARE(support::readBytes(settingsPath()), after);
}

void TestIniModule::deletionsRemoveLines_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key"); // empty: delete the section
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("key") << u"B"_s << u"PLUGINS"_s
                         << QByteArray("[a]\r\nx=1\r\n\r\n[b]\r\ntagTitle=t\r\n[c]\r\nz=3\r\n");
    QTest::newRow("missing key") << u"b"_s << u"nothing"_s
                                 << QByteArray("[a]\r\nx=1\r\n\r\n[b]\r\nplugins=\r\n"
                                               "tagTitle=t\r\n[c]\r\nz=3\r\n");
    QTest::newRow("section with its keys")
        << u"b"_s << QString() << QByteArray("[a]\r\nx=1\r\n\r\n[c]\r\nz=3\r\n");
    QTest::newRow("first section keeps the blank line before the next")
        << u"a"_s << QString() << QByteArray("[b]\r\nplugins=\r\ntagTitle=t\r\n[c]\r\nz=3\r\n");
    QTest::newRow("missing section") << u"d"_s << QString()
                                     << QByteArray("[a]\r\nx=1\r\n\r\n[b]\r\nplugins=\r\n"
                                                   "tagTitle=t\r\n[c]\r\nz=3\r\n");
}

void TestIniModule::deletionsRemoveLines() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QByteArray, after);
    QVERIFY(support::writeBytes(
        settingsPath(), "[a]\r\nx=1\r\n\r\n[b]\r\nplugins=\r\ntagTitle=t\r\n[c]\r\nz=3\r\n"));
    if (key.isEmpty())
        deleteSettingSection(section);
    else
        deleteSettingKey(section, key);
    QCOMPARE(support::readBytes(settingsPath()), after);
}

void TestIniModule::deletionsOfAMissingFileCreateNothing() {
    deleteSettingKey(u"a"_s, u"b"_s);
    deleteSettingSection(u"a"_s);
    QVERIFY(!QFile::exists(settingsPath()));
}

void TestIniModule::unwritableFolderKeepsTheFile() {
    const QByteArray before = support::gbk(u"[全局设置]\r\n编码模式=utf-8\r\n"_s);
    QVERIFY(support::writeBytes(settingsPath(), before));
    support::UnwritableFolder unwritable(m_dir->path());
    if (!unwritable.works())
        QSKIP("this file system lets the folder be written anyway");

    QCOMPARE(readSetting(u"全局设置"_s, u"编码模式"_s, u"gbk"_s), u"utf-8"_s);
    // The default cannot be written back, so the read gives "".
    QCOMPARE(readSetting(u"全局设置"_s, u"标题删除"_s, u"0"_s), QString());
    QVERIFY(!writeSetting(u"全局设置"_s, u"编码模式"_s, u"big5"_s));
    deleteSettingSection(u"全局设置"_s);
    QCOMPARE(support::readBytes(settingsPath()), before);
}

void TestIniModule::settingsFilePathJoinsFolderAndName_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("root folder") << u"/"_s << u"/Kestrelon.ini"_s;
    QTest::newRow("folder without separator") << u"/opt/k"_s << u"/opt/k/Kestrelon.ini"_s;
}

void TestIniModule::settingsFilePathJoinsFolderAndName() {
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(settingsFilePathIn(folder, u"Kestrelon"_s), expected);
}

void TestIniModule::firstRunWritesTheGlobalOptions() {
    for (const auto &option : globalOptions::options())
        QCOMPARE(readSetting(globalOptions::section(), option.key, option.defaultValue),
                 option.defaultValue);
    QCOMPARE(support::readBytes(settingsPath()),
             support::gbk(u"[全局设置]\r\n书架路径=\r\n编码模式=gbk\r\n标题删除=0\r\n章节识别=0\r\n"
                          "格式转换=0\r\n目录页面=\r\n起始页面=\r\n结束页面=\r\n"_s));

    setSettingsFileOverride(QString());
    setSettingsBaseName(u"Other"_s);
    QCOMPARE(settingsFilePath(), programFolder() + u"Other.ini"_s);
    QVERIFY(programFolder().endsWith(QDir::separator()));
}

void TestIniModule::startupBookshelfFolder_data() {
    QTest::addColumn<QString>("stored"); // "<dir>" stands for an existing folder
    QTest::addColumn<bool>("programFolderExpected");

    QTest::newRow("nothing stored") << QString() << true;
    QTest::newRow("existing folder without separator") << u"<dir>"_s << false;
    QTest::newRow("existing folder with separator") << u"<dir>/"_s << false;
    QTest::newRow("vanished folder") << u"/no/such/folder/"_s << true;
}

void TestIniModule::startupBookshelfFolder() {
    QFETCH(QString, stored);
    QFETCH(bool, programFolderExpected);
    QTemporaryDir shelf;
    stored.replace(u"<dir>"_s, shelf.path());
    QVERIFY(writeSetting(globalOptions::section(), globalOptions::bookshelfKey(), stored));
    const QString expected =
        programFolderExpected ? programFolder() : shelf.path() + QDir::separator();
    QCOMPARE(globalOptions::startupBookshelfFolder(), expected);
}

QTEST_GUILESS_MAIN(TestIniModule)
#include "tst_inimodule.moc"
