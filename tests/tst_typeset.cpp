// Book typesetting: layout detection, paragraph joining, indents, punctuation runs, the repeated
// title, and the trimming of names.

#include "text/typeset.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace typeset;

class TestTypeset : public QObject {
    Q_OBJECT

private slots:
    void cleanTextTrims_data();
    void cleanTextTrims();
    void classifyLayoutDecides_data();
    void classifyLayoutDecides();
    void typesetChapterLaysOut_data();
    void typesetChapterLaysOut();
    void typesetTextHasNoTitleStep();
    void fixPunctuationRuns_data();
    void fixPunctuationRuns();
    void typesetsAMegabyteOfWrappedText();
};

void TestTypeset::cleanTextTrims_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("expected");

    QTest::newRow("blanks at both ends") << u" \t abc \r\n"_s << false << u"abc"_s;
    QTest::newRow("ideographic space stays") << u"\u3000abc"_s << false << u"\u3000abc"_s;
    QTest::newRow("only blanks") << u"\r\n \t"_s << false << QString();
    QTest::newRow("html entities and spaces") << u"a &nbsp;&nbsp; b"_s << true << u"a b"_s;
    QTest::newRow("html paragraph leaves CRs") << u"<p>x</p>"_s << true << u"\rx\r"_s;
    QTest::newRow("html tags around a name") << u" <b>书名</b> "_s << true << u"书名"_s;
}

void TestTypeset::cleanTextTrims() {
    QFETCH(QString, text);
    QFETCH(bool, html);
    QFETCH(QString, expected);
    QCOMPARE(cleanText(text, html), expected);
}

void TestTypeset::classifyLayoutDecides_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("mode");

    QTest::newRow("indented paragraphs with inner breaks") << u"abc\r def\rghi\r jkl\rmno"_s << 2;
    QTest::newRow("inner breaks exactly a fifth") << u"x\r a\r b\rc\r d\r e\r f"_s << 0;
    QTest::newRow("inner breaks above a fifth") << u"x\r a\r b\rc\r d\rg\r e\r f"_s << 2;
    QTest::newRow("few sentence ends") << u"他来了\r我们走吧。\r好"_s << 1;
    QTest::newRow("sentence ends exactly half") << u"甲。\r乙"_s << 0;
    QTest::newRow("most lines end sentences") << u"甲。\r乙。\r丙"_s << 0;
    QTest::newRow("no sentence end at all") << u"甲\r乙\r丙"_s << 0;
    QTest::newRow("ASCII quote after a sentence end counts") << u"走。\"\r好\r丙"_s << 1;
    QTest::newRow("ASCII quote alone does not") << u"走\"\r好\r丙"_s << 0;
}

void TestTypeset::classifyLayoutDecides() {
    QFETCH(QString, text);
    QFETCH(int, mode);
    QCOMPARE(classifyLayout(text), mode);
}

void TestTypeset::typesetChapterLaysOut_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("deleteTitle");
    QTest::addColumn<QString>("expected");

    const QString i = u"\u3000\u3000"_s;
    QTest::newRow("lines that begin with a space are paragraphs")
        << u"abc\r\n def\r\nghi\r\n jkl\r\nmno"_s << QString() << false
        << i + u"abc\r\n"_s + i + u"defghi\r\n"_s + i + u"jklmno"_s;
    QTest::newRow("wrapped lines join at sentence ends")
        << u"他来了\r\n我们走吧。\r\n好"_s << QString() << false
        << i + u"他来了我们走吧。\r\n"_s + i + u"好"_s;
    QTest::newRow("line breaks kept") << u"甲。\r\n乙。\r\n丙"_s << QString() << false
                                      << i + u"甲。\r\n"_s + i + u"乙。\r\n"_s + i + u"丙"_s;
    QTest::newRow("LF line ends, blank lines and trailing spaces")
        << u"甲。   \n\n\n乙。\n丙\n"_s << QString() << false
        << i + u"甲。\r\n"_s + i + u"乙。\r\n"_s + i + u"丙"_s;
    QTest::newRow("CR LF and blank CR LF lines")
        << u"\r\n甲。\r\n\r\n\r\n乙。\r\n丙"_s << QString() << false
        << i + u"甲。\r\n"_s + i + u"乙。\r\n"_s + i + u"丙"_s;
    QTest::newRow("closing quote keeps its break")
        << u"甲。”\r\n乙\r\n丙"_s << QString() << false << i + u"甲。”\r\n"_s + i + u"乙丙"_s;
    QTest::newRow("ASCII quote loses its break when joining")
        << u"甲。\"\r\n乙\r\n丙"_s << QString() << false << i + u"甲。\"乙丙"_s;
    QTest::newRow("ideographic indent and private character")
        << u"\u3000\u3000甲。\uE5E5\r\n\u3000\u3000乙。"_s << QString() << false
        << i + u"甲。\r\n"_s + i + u"乙。"_s;
    QTest::newRow("title line goes whole")
        << u"第一章 开始\r\n正文。"_s << u"第一章 开始"_s << true << i + u"正文。"_s;
    QTest::newRow("title without its space goes too")
        << u"第一章开始\r\n正文。"_s << u"第一章 开始"_s << true << i + u"正文。"_s;
    QTest::newRow("rest of a longer first line stays")
        << u"第一章 开始了\r\n正文。"_s << u"第一章 开始"_s << true
        << i + u"了\r\n"_s + i + u"正文。"_s;
    QTest::newRow("title kept when not asked")
        << u"第一章 开始\r\n正文。"_s << u"第一章 开始"_s << false
        << i + u"第一章 开始\r\n"_s + i + u"正文。"_s;
    QTest::newRow("title only in a later line stays")
        << u"正文。\r\n第一章 开始"_s << u"第一章 开始"_s << true
        << i + u"正文。\r\n"_s + i + u"第一章 开始"_s;
    QTest::newRow("empty title removes nothing")
        << u"甲。\r\n乙。"_s << QString() << true << i + u"甲。\r\n"_s + i + u"乙。"_s;
    QTest::newRow("only blanks") << u" \r\n\t \r\n"_s << QString() << false << QString();
    QTest::newRow("empty") << QString() << QString() << true << QString();
}

void TestTypeset::typesetChapterLaysOut() {
    QFETCH(QString, text);
    QFETCH(QString, title);
    QFETCH(bool, deleteTitle);
    QFETCH(QString, expected);
    typesetChapter(text, title, deleteTitle);
    QCOMPARE(text, expected);
}

void TestTypeset::typesetTextHasNoTitleStep() {
    QString chapter = u"第一章\r\n正文。"_s;
    QString plain = chapter;
    typesetChapter(chapter, u"第一章"_s, true);
    typesetText(plain);
    QCOMPARE(chapter, u"\u3000\u3000正文。"_s);
    QCOMPARE(plain, u"\u3000\u3000第一章\r\n\u3000\u3000正文。"_s);
}

void TestTypeset::fixPunctuationRuns_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("three full stops") << u"好。。。"_s << u"好……"_s;
    QTest::newRow("ASCII dots") << u"a...b"_s << u"a……b"_s;
    QTest::newRow("single ellipsis doubled") << u"a…b"_s << u"a……b"_s;
    QTest::newRow("long ellipsis run") << u"a……………b"_s << u"a……b"_s;
    QTest::newRow("tilde") << u"x~y"_s << u"x～y"_s;
    QTest::newRow("two tildes") << u"x~~y"_s << u"x……y"_s;
    QTest::newRow("four wide tildes") << u"～～～～"_s << u"～～～"_s;
    QTest::newRow("enumeration commas") << u"、、、"_s << u"……"_s;
    QTest::newRow("mark after a later row stays") << u"好。。、"_s << u"好……、"_s;
    QTest::newRow("single marks stay") << u"甲，乙。丙、"_s << u"甲，乙。丙、"_s;
}

void TestTypeset::fixPunctuationRuns() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    fixPunctuation(text);
    QCOMPARE(text, expected);
}

void TestTypeset::typesetsAMegabyteOfWrappedText() {
    // A page that wraps every paragraph at 20 characters with CR LF.
    const QString paragraph =
        u"他走了很远很远的路，翻过了三座山，终于在黄昏时看见了那座小小的村庄。"_s;
    QString wrapped;
    for (qsizetype at = 0; at < paragraph.size(); at += 20)
        wrapped += paragraph.mid(at, 20) + u"\r\n"_s;
    const qsizetype paragraphs = (1 << 20) / wrapped.size();
    QString text = wrapped.repeated(paragraphs);
    typesetChapter(text, QString(), false);
    QCOMPARE(text.count(u"\r\n"_s), paragraphs - 1);
    QCOMPARE(text.count(u"\u3000\u3000"_s + paragraph), paragraphs);
}

QTEST_APPLESS_MAIN(TestTypeset)
#include "tst_typeset.moc"
