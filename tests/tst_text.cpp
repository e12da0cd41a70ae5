// The text layer: charset detection, decoding by label, whole text files in a named encoding,
// and book typesetting (layout detection, paragraph joining, indents, punctuation runs and the
// repeated title).

#include "tests/support/testfiles.h"
#include "text/charset.h"
#include "text/typeset.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace charset;
using namespace typeset;

class TestText : public QObject {
    Q_OBJECT

private slots:
    void detectCharsetNamesBodies() {
        const QByteArray chinese = support::gbk(u"中文页面"_s);
        // A zero byte beats a declaration; a declared name is taken up to twenty bytes, quoted or
        // not, in any case, but not after a space, nor when no browser knows it.
        QCOMPARE(detectCharset(QByteArray("charset=gbk\0", 12)), u"unicode"_s);
        QCOMPARE(detectCharset("<meta charset=\"UTF-8\">" + chinese), u"utf-8"_s);
        QCOMPARE(detectCharset("charset=cp936>" + chinese), u"gbk"_s);
        // A byte-order mark beats both.
        QCOMPARE(detectCharset("\xEF\xBB\xBF<meta charset=gbk>" + u"中文"_s.toUtf8()), u"utf-8"_s);
        QCOMPARE(detectCharset(QByteArray("\xFE\xFF\0<", 4)), u"utf-16be"_s);
        QCOMPARE(detectCharset("<meta charset= big5>" + chinese), u"gbk"_s);
        // Else the bytes decide; four-byte UTF-8 sequences are not taken for UTF-8.
        QCOMPARE(detectCharset(u"<p>第一章 开始</p>"_s.toUtf8()), u"utf-8"_s);
        QCOMPARE(detectCharset("a\xF0\x9F\x98\x80"), u"gbk"_s);
        QCOMPARE(detectCharset("\x0c\x61\x62\xC4\xE3"), u"unicode"_s);
        QCOMPARE(detectCharset("ab\xC4"), u"unknown"_s);
    }

    void decodeBytesByLabel() {
        // Labels resolve as browsers resolve them: gb2312 is GBK, ascii is windows-1252, unicode is
        // UTF-16LE (its byte-order mark skipped); case and blanks do not matter.
        const QString chinese = u"第一章 镕铸"_s; // 镕 is GBK, not GB2312
        QCOMPARE(decodeBytes(support::gbk(chinese), u" GB2312 "_s), chinese);
        QCOMPARE(decodeBytes("caf\xE9", u"ascii"_s), u"café"_s);
        QCOMPARE(decodeBytes(QByteArray("\xFF\xFE\x61\0\x2d\x4e", 6), u"unicode"_s), u"a中"_s);
        QCOMPARE(decodeBytes("\xD6\xD0\xFF\x61", u"gbk"_s), u"中\uFFFDa"_s);
        QCOMPARE(decodeBytes("abc", u"unknown"_s), QString());
    }

    void writeTextFileEncodes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("unencodable"); // characters written as "?"
        QTest::newRow("utf-8 with byte-order mark")
            << u"utf-8"_s << u"中a?😀"_s
            << QByteArray("\xEF\xBB\xBF\xE4\xB8\xAD\x61?\xF0\x9F\x98\x80") << 0;
        QTest::newRow("unicode with byte-order mark")
            << u"unicode"_s << u"中a"_s << QByteArray("\xFF\xFE\x2D\x4E\x61\0", 6) << 0;
        QTest::newRow("big5") << u"big5"_s << u"中a"_s << QByteArray("\xA4\xA4\x61") << 0;
        QTest::newRow("gbk lacks two characters, and has a question mark of its own")
            << u"gbk"_s << u"中a😀b?😀\r\n"_s << QByteArray("\xD6\xD0\x61?b??\r\n") << 2;
    }

    void writeTextFileEncodes() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QTEST(int(unencodableCount(text, name)), "unencodable");
        // A longer file is there before: it is replaced as a whole.
        const QString path = m_dir.filePath(u"book.txt"_s);
        QVERIFY(support::writeBytes(path, QByteArray(4096, 'x')));
        QString error;
        QVERIFY2(writeTextFile(text, name, path, &error), qPrintable(error));
        QTEST(support::readBytes(path), "bytes");
        QFETCH(int, unencodable);
        const QString written = unencodable > 0 ? QString(text).replace(u"😀"_s, u"?"_s) : text;
        QCOMPARE(readTextFile(name, path), std::optional(written));
    }

    void failuresReachTheCaller() {
        QString error;
        const QString fresh = m_dir.filePath(u"never.txt"_s);
        QVERIFY(!writeTextFile(u"x"_s, u"klingon"_s, fresh, &error) &&
                error.contains(u"klingon"_s) && !QFile::exists(fresh));
        QVERIFY(!readTextFile(u"gbk"_s, fresh, &error));

        QTemporaryDir locked;
        const QString kept = locked.filePath(u"kept.txt"_s);
        QVERIFY(support::writeBytes(kept, "old book"));
        support::UnwritableFolder unwritable(locked.path());
        if (!unwritable.works())
            QSKIP("this file system lets the folder be written anyway");
        QVERIFY(!writeTextFile(u"new book"_s, u"gbk"_s, kept, &error));
        QCOMPARE(support::readBytes(kept), QByteArray("old book"));
    }

    void classifyLayoutThresholds() {
        // Lines that begin with a space mark paragraphs once more than a fifth of the breaks are
        // followed by one that does not.
        QCOMPARE(classifyLayout(u"x\r a\r b\rc\r d\r e\r f"_s), 0);
        QCOMPARE(classifyLayout(u"x\r a\r b\rc\r d\rg\r e\r f"_s), 2);
        // Otherwise lines join at sentence ends when fewer than half of them end a sentence: half
        // is not fewer. (That an ASCII quote after the mark still ends one shows in the typeset row
        // whose lines join after it.)
        QCOMPARE(classifyLayout(u"甲。\r乙"_s), 0);
    }

    void typesetChapterLaysOut_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title"); // the chapter's name
        QTest::addColumn<bool>("deleteTitle");
        QTest::addColumn<QString>("expected");

        const QString i = u"\u3000\u3000"_s;
        QTest::newRow("lines that begin with a space are paragraphs")
            << u"abc\r\n def\r\nghi\r\n jkl\r\nmno"_s << QString() << false
            << i + u"abc\r\n"_s + i + u"defghi\r\n"_s + i + u"jklmno"_s;
        QTest::newRow("wrapped lines join at sentence ends, closing quotes included")
            << u"他来了\r\n我们走吧。\r\n好\r\n甲。”\r\n乙\r\n丙"_s << QString() << false
            << i + u"他来了我们走吧。\r\n"_s + i + u"好甲。”\r\n"_s + i + u"乙丙"_s;
        QTest::newRow("LF line ends, blank lines and trailing spaces")
            << u"甲。   \n\n\n乙。\n丙\n"_s << QString() << false
            << i + u"甲。\r\n"_s + i + u"乙。\r\n"_s + i + u"丙"_s;
        QTest::newRow("ASCII quote loses its break when joining")
            << u"甲。\"\r\n乙\r\n丙"_s << QString() << false << i + u"甲。\"乙丙"_s;
        // Only characters up to U+0020 are blanks: the no-break spaces of a page's "&nbsp;" that
        // the hidden browser's text keeps stay where they are.
        QTest::newRow("no-break spaces are not blanks")
            << u"\u00A0\u00A0甲。\r\n\u00A0乙\u00A0\u00A0丙。"_s << QString() << false
            << i + u"\u00A0\u00A0甲。\r\n"_s + i + u"\u00A0乙\u00A0\u00A0丙。"_s;
        QTest::newRow("only blanks") << u" \r\n\t \r\n"_s << QString() << false << QString();
        QTest::newRow("title without its space goes")
            << u"第一章开始\r\n正文。"_s << u"第一章 开始"_s << true << i + u"正文。"_s;
        QTest::newRow("title kept when not asked")
            << u"第一章 开始\r\n正文。"_s << u"第一章 开始"_s << false
            << i + u"第一章 开始\r\n"_s + i + u"正文。"_s;
        // Punctuation runs: each rule is one pass in a fixed order, then a run of ellipses is two.
        // "、、" and "…、" go before "。。" does: the "、" its "…" is left with stays.
        QTest::newRow("full stops, ellipses and enumeration commas; a mark after a later rule")
            << u"好。。。a…b……………c、、、好。。、"_s << QString() << false
            << i + u"好……a……b……c……好……、"_s;
    }

    void typesetChapterLaysOut() {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(bool, deleteTitle);
        typesetChapter(text, title, deleteTitle);
        QTEST(text, "expected");
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestText)
#include "tests/tst_text.moc"
