// The settings file: private-profile reads, writes and deletions checked byte for byte in the
// file, the defaults written back, and files in folders nobody can write to.

#include "settings/inimodule.h"
#include "tests/support/testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace iniModule;

class TestIniModule : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        setSettingsFileOverride(settingsPath());
    }

    void cleanupTestCase() { setSettingsFileOverride(QString()); }

    void readSettingReadsAndWritesBack_data() {
        // Every row reads key "k" of section "s" with the default "d".
        QTest::addColumn<QByteArray>("before"); // "<missing>" for no file
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QByteArray>("after"); // "" when the file is left as it was

        QTest::newRow("missing file is created")
            << QByteArray("<missing>") << u"d"_s << QByteArray("[s]\r\nk=d\r\n");
        QTest::newRow("empty value replaced by the default")
            << QByteArray("[s]\r\nk=\r\nx=1\r\n") << u"d"_s << QByteArray("[s]\r\nk=d\r\nx=1\r\n");
        QTest::newRow("new key at the end of its section")
            << QByteArray("[s]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n") << u"d"_s
            << QByteArray("[s]\r\nx=1\r\nk=d\r\n\r\n[b]\r\ny=2\r\n");
        QTest::newRow("new section after a last line without line end")
            << QByteArray("[a]\r\nx=1") << u"d"_s << QByteArray("[a]\r\nx=1\r\n[s]\r\nk=d\r\n");
        QTest::newRow("a UTF-8 mark before the first section")
            << QByteArray("\xEF\xBB\xBF[s]\r\nk=v\r\n") << u"v"_s << QByteArray();
        QTest::newRow("new key after lines ended by CR alone")
            << QByteArray("[s]\rx=1\r[b]\r") << u"d"_s << QByteArray("[s]\rx=1\rk=d\r\n[b]\r");
        const QString longRule = u"<h1>书名：(.*?)</h1>||"_s.repeated(20);
        QTest::newRow("present value, letter case ignored: a GBK rule past 254 bytes read whole")
            << support::gbk(u"[S]\r\nK="_s + longRule) << longRule << QByteArray();
    }

    void readSettingReadsAndWritesBack() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        if (before != "<missing>")
            QVERIFY(support::writeBytes(settingsPath(), before));
        QTEST(readSetting(u"s"_s, u"k"_s, u"d"_s), "expected");
        QCOMPARE(support::readBytes(settingsPath()), after.isEmpty() ? before : after);
    }

    void editsInPlace_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");   // "" with <delete>: the whole section
        QTest::addColumn<QString>("value"); // "<delete>": the key or section is deleted
        QTest::addColumn<QByteArray>("after");

        const QByteArray odd = "[x]\nodd line\r\n[s]\r\nk = old \n  other=1\r\nlast=2";
        QTest::newRow("replaced in place, other lines kept")
            << odd << u"s"_s << u"k"_s << u"新"_s
            << QByteArray("[x]\nodd line\r\n[s]\r\nk=") + support::gbk(u"新"_s) +
                   "\n  other=1\r\nlast=2";
        QTest::newRow("new key after a last line without line end")
            << odd << u"s"_s << u"n"_s << u"4"_s
            << QByteArray("[x]\nodd line\r\n[s]\r\nk = old \n  other=1\r\nlast=2\r\nn=4\r\n");
        QTest::newRow("line break in a value refused")
            << odd << u"s"_s << u"k"_s << u"a\r\n[evil]"_s << odd;
        QTest::newRow("equals sign in a key refused") << odd << u"s"_s << u"a=b"_s << u"1"_s << odd;

        const QByteArray three =
            "[a]\r\nx=1\r\n\r\n[b]\r\nplugins=\r\ntagTitle=t\r\n[c]\r\nz=3\r\n";
        const QString del = u"<delete>"_s;
        QTest::newRow("key deleted")
            << three << u"B"_s << u"PLUGINS"_s << del
            << QByteArray("[a]\r\nx=1\r\n\r\n[b]\r\ntagTitle=t\r\n[c]\r\nz=3\r\n");
        QTest::newRow("section deleted with its keys")
            << three << u"b"_s << QString() << del
            << QByteArray("[a]\r\nx=1\r\n\r\n[c]\r\nz=3\r\n");
    }

    void editsInPlace() {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        QVERIFY(support::writeBytes(settingsPath(), before));
        if (value != u"<delete>"_s) // a refused write changes nothing
            QCOMPARE(writeSetting(section, key, value), after != before);
        else if (key.isEmpty())
            deleteSettingSection(section);
        else
            deleteSettingKey(section, key);
        QCOMPARE(support::readBytes(settingsPath()), after);
    }

    void unwritableFolderKeepsTheFile() {
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

private:
    QString settingsPath() const { return m_dir->filePath(u"Kestrelon.ini"_s); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestIniModule)
#include "tests/tst_inimodule.moc"
