// Charset detection, decoding by label, and whole text files in a named encoding.

#include "tests/support/testfiles.h"
#include "text/charset.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace charset;

class TestCharset : public QObject {
    Q_OBJECT

private slots:
    void detectCharsetNamesBodies_data();
    void detectCharsetNamesBodies();
    void detectCharsetScansAFourMegabytePage();
    void decodeBytesByLabel_data();
    void decodeBytesByLabel();
    void writeTextFileEncodes_data();
    void writeTextFileEncodes();
    void writeTextFileReplacesWholeFile();
    void writeFailuresReachTheCaller();
    void readTextFileFailures();
    void narrowLengthCountsGbkBytes_data();
    void narrowLengthCountsGbkBytes();

private:
    QTemporaryDir m_dir;
};

void TestCharset::detectCharsetNamesBodies_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QByteArray() << u"ascii"_s;
    QTest::newRow("plain ascii with line ends and tab") << QByteArray("abc\r\n\t") << u"ascii"_s;
    QTest::newRow("zero byte beats a declaration")
        << QByteArray("<meta charset=gbk>\0", 19) << u"unicode"_s;
    QTest::newRow("quoted declaration in capitals")
        << QByteArray("<meta charset=\"UTF-8\">") + support::gbk(u"中文"_s) << u"utf-8"_s;
    QTest::newRow("declaration all in capitals")
        << QByteArray("<META CHARSET=GB2312>") << u"gb2312"_s;
    QTest::newRow("single-quoted declaration") << QByteArray("charset='big5'>") << u"big5"_s;
    QTest::newRow("name cut at twenty bytes")
        << QByteArray("charset=abcdefghijklmnopqrstuvwxyz") << u"abcdefghijklmnopqrst"_s;
    QTest::newRow("space after the equals sign: bytes decide")
        << QByteArray("<meta charset= gbk>") + support::gbk(u"中文页面"_s) << u"gbk"_s;
    QTest::newRow("only the first declaration counts")
        << QByteArray("charset=\"\" charset=big5 ") + support::gbk(u"中文"_s) << u"gbk"_s;
    QTest::newRow("utf-8 chinese") << u"<p>第一章 开始</p>"_s.toUtf8() << u"utf-8"_s;
    QTest::newRow("gbk chinese") << support::gbk(u"<p>第一章 开始</p>"_s) << u"gbk"_s;
    QTest::newRow("four-byte utf-8 is not accepted as utf-8")
        << QByteArray("a\xF0\x9F\x98\x80") << u"gbk"_s;
    QTest::newRow("form feed: binary, odd stop position") << QByteArray("\x0c"
                                                                        "ab\xC4\xE3")
                                                          << u"unicode"_s;
    QTest::newRow("form feed: binary, even stop position") << QByteArray("a\x0c"
                                                                         "b\xC4\xE3")
                                                           << u"unknown"_s;
    QTest::newRow("lone high byte at the end") << QByteArray("ab\xC4") << u"unknown"_s;
}

void TestCharset::detectCharsetNamesBodies() {
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QCOMPARE(detectCharset(body), expected);
}

void TestCharset::detectCharsetScansAFourMegabytePage() {
    const QByteArray line = support::gbk(u"　　他走进了山洞，洞里一片漆黑。\r\n"_s);
    const QByteArray page = QByteArray("<html><body>") + line.repeated((4 << 20) / line.size());
    QCOMPARE(detectCharset(page), u"gbk"_s);
    const QString text = decodeBytes(page, u"gbk"_s);
    QCOMPARE(text.count(u"漆黑"_s), (4 << 20) / line.size());
}

void TestCharset::decodeBytesByLabel_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    const QString chinese = u"第一章 镕铸"_s; // 镕 is GBK, not GB2312
    QTest::newRow("gbk") << support::gbk(chinese) << u"gbk"_s << chinese;
    QTest::newRow("gb2312 label decodes as GBK") << support::gbk(chinese) << u"gb2312"_s << chinese;
    QTest::newRow("label case and blanks ignored")
        << support::gbk(chinese) << u" GB2312 "_s << chinese;
    QTest::newRow("big5") << support::encoded(u"書名"_s, "Big5") << u"big5"_s << u"書名"_s;
    QTest::newRow("unicode is UTF-16LE")
        << QByteArray("a\0\x2d\x4e", 4) << u"unicode"_s << u"a中"_s;
    QTest::newRow("unicode byte-order mark skipped") << QByteArray("\xFF\xFE"
                                                                   "a\0",
                                                                   4)
                                                     << u"unicode"_s << u"a"_s;
    QTest::newRow("utf-8 byte-order mark skipped") << QByteArray("\xEF\xBB\xBF"
                                                                 "ab")
                                                   << u"utf-8"_s << u"ab"_s;
    QTest::newRow("invalid byte inside gbk")
        << QByteArray("\xD6\xD0\xFF\x61") << u"gbk"_s << u"中\uFFFDa"_s;
    QTest::newRow("invalid byte inside utf-8")
        << QByteArray("a\xFF\xE4\xB8\xAD") << u"utf-8"_s << u"a\uFFFD中"_s;
    QTest::newRow("odd byte of UTF-16") << QByteArray("a\0b", 3) << u"unicode"_s << u"a\uFFFD"_s;
    QTest::newRow("ascii label reads like a browser")
        << QByteArray("caf\xE9") << u"ascii"_s << u"café"_s;
    QTest::newRow("unknown") << QByteArray("abc") << u"unknown"_s << QString();
    QTest::newRow("name no one knows") << QByteArray("abc") << u"klingon"_s << QString();
    QTest::newRow("empty body") << QByteArray() << u"gbk"_s << QString();
}

void TestCharset::decodeBytesByLabel() {
    QFETCH(QByteArray, body);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(decodeBytes(body, name), expected);
}

void TestCharset::writeTextFileEncodes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("gbk") << u"gbk"_s << u"中a\r\n"_s
                         << QByteArray("\xD6\xD0"
                                       "a\r\n");
    QTest::newRow("utf-8 with byte-order mark") << u"utf-8"_s << u"中a"_s
                                                << QByteArray("\xEF\xBB\xBF\xE4\xB8\xAD"
                                                              "a");
    QTest::newRow("unicode with byte-order mark") << u"unicode"_s << u"中a"_s
                                                  << QByteArray("\xFF\xFE\x2D\x4E"
                                                                "a\0",
                                                                6);
    QTest::newRow("big5") << u"big5"_s << u"中a"_s
                          << QByteArray("\xA4\xA4"
                                        "a");
    QTest::newRow("gbk lacks a character") << u"gbk"_s << u"a😀b"_s << QByteArray("a?b");
    QTest::newRow("empty text") << u"gbk"_s << QString() << QByteArray();
}

void TestCharset::writeTextFileEncodes() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const QString path = m_dir.filePath(u"book.txt"_s);
    QString error;
    QVERIFY2(writeTextFile(text, name, path, &error), qPrintable(error));
    QCOMPARE(support::readBytes(path), bytes);
    if (!text.contains(u"😀"_s))
        QCOMPARE(readTextFile(name, path).value_or(u"<failed>"_s), text);
}

void TestCharset::writeTextFileReplacesWholeFile() {
    const QString path = m_dir.filePath(u"replace.txt"_s);
    QVERIFY(support::writeBytes(path, QByteArray(4096, 'x')));
    QVERIFY(writeTextFile(u"短"_s, u"gbk"_s, path));
    QCOMPARE(support::readBytes(path), support::gbk(u"短"_s));
}

void TestCharset::writeFailuresReachTheCaller() {
    QString error;
    const QString fresh = m_dir.filePath(u"never.txt"_s);
    QVERIFY(!writeTextFile(u"x"_s, u"klingon"_s, fresh, &error));
    QVERIFY(error.contains(u"klingon"_s));
    QVERIFY(!QFile::exists(fresh));

    error.clear();
    QVERIFY(!writeTextFile(u"x"_s, u"gbk"_s, m_dir.path(), &error));
    QVERIFY(!error.isEmpty());

    QTemporaryDir locked;
    const QString kept = QDir(locked.path()).filePath(u"kept.txt"_s);
    QVERIFY(support::writeBytes(kept, "old book"));
    support::UnwritableFolder unwritable(locked.path());
    if (!unwritable.works())
        QSKIP("this file system lets the folder be written anyway");
    QVERIFY(!writeTextFile(u"new book"_s, u"gbk"_s, kept, &error));
    QCOMPARE(support::readBytes(kept), QByteArray("old book"));
}

void TestCharset::readTextFileFailures() {
    QString error;
    QVERIFY(!readTextFile(u"gbk"_s, m_dir.filePath(u"missing.txt"_s), &error));
    QVERIFY(!error.isEmpty());
    const QString path = m_dir.filePath(u"present.txt"_s);
    QVERIFY(support::writeBytes(path, "abc"));
    QVERIFY(!readTextFile(u"unknown"_s, path));
    QCOMPARE(readTextFile(u"gbk"_s, path).value_or(QString()), u"abc"_s);
}

void TestCharset::narrowLengthCountsGbkBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("expected");
    QTest::newRow("ascii") << u"http://a/1.html"_s << qsizetype(15);
    QTest::newRow("chinese takes two bytes") << u"第一章.txt"_s << qsizetype(10);
    QTest::newRow("empty") << QString() << qsizetype(0);
}

void TestCharset::narrowLengthCountsGbkBytes() {
    QFETCH(QString, text);
    QFETCH(qsizetype, expected);
    QCOMPARE(narrowLength(text), expected);
}

QTEST_GUILESS_MAIN(TestCharset)
#include "tst_charset.moc"
