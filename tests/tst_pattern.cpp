// The pattern helpers: value placeholders, finding and replacing with site rules (ECMAScript
// meaning, bounded on hostile input), HTML to text, link resolution and name comparison.

#include "pattern/combineurl.h"
#include "pattern/htmltotext.h"
#include "pattern/nearlysame.h"
#include "pattern/pattern.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace norModule;

class TestPattern : public QObject {
    Q_OBJECT

private slots:
    void placeholderIndexFindsValueGroups_data();
    void placeholderIndexFindsValueGroups();
    void regMatchFindsFirstValue_data();
    void regMatchFindsFirstValue();
    void regMatchTakesLongValues();
    void regReplaceReplacesEveryMatch_data();
    void regReplaceReplacesEveryMatch();
    void allMatchesReportsPositionsAndValues();
    void spanGroupCrossesLongStretches();
    void runawayRuleFailsInsteadOfHanging();
    void htmlToTextConverts_data();
    void htmlToTextConverts();
    void htmlToTextHandlesAMegabyte();
    void combineUrlResolvesLinks_data();
    void combineUrlResolvesLinks();
    void combineUrlWithinNeverDropsAFittingAddress_data();
    void combineUrlWithinNeverDropsAFittingAddress();
    void nearlySameComparesNames_data();
    void nearlySameComparesNames();
};

void TestPattern::placeholderIndexFindsValueGroups_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<int>("expected");

    QTest::newRow("link, first value") << u"<a href=(.*?)>(.|\\n)*?(.*?)</a>"_s << 0 << 0;
    QTest::newRow("span group counts as a group")
        << u"<a href=(.*?)>(.|\\n)*?(.*?)</a>"_s << 1 << 2;
    QTest::newRow("two values") << u"(.*?)-(.*?)"_s << 1 << 1;
    QTest::newRow("span before value") << u"(.|\\n)*?(.*?)"_s << 0 << 1;
    QTest::newRow("escaped parentheses do not count") << u"javascript:(.*?)\\((.*?)\\)"_s << 1 << 1;
    QTest::newRow("no placeholder") << u"abc"_s << 0 << -1;
    QTest::newRow("too few placeholders") << u"(.*?)"_s << 1 << -1;
    QTest::newRow("case ignored") << u"(.|\\N)(.*?)"_s << 0 << 1;
}

void TestPattern::placeholderIndexFindsValueGroups() {
    QFETCH(QString, pattern);
    QFETCH(int, ordinal);
    QFETCH(int, expected);
    QCOMPARE(placeholderIndex(pattern, ordinal), expected);
}

void TestPattern::regMatchFindsFirstValue_data() {
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first alternative wins though it matches later")
        << QStringList{u"x(.*?)y"_s, u"a(.*?)b"_s} << u"aQb xZy"_s << u"Z"_s;
    QTest::newRow("second alternative when the first finds nothing")
        << QStringList{u"q(.*?)r"_s, u"a(.*?)b"_s} << u"aQb"_s << u"Q"_s;
    QTest::newRow("matching alternative without placeholder")
        << QStringList{u"aQb"_s, u"a(.*?)b"_s} << u"aQb"_s << QString();
    QTest::newRow("invalid alternative ends the search")
        << QStringList{u"("_s, u"a(.*?)b"_s} << u"aQb"_s << QString();
    QTest::newRow("invalid alternative after a match is never tried")
        << QStringList{u"a(.*?)b"_s, u"("_s} << u"aQb"_s << u"Q"_s;
    QTest::newRow("empty alternative matches and has no value")
        << QStringList{u"x(.*?)y"_s, QString()} << u"abc"_s << QString();
    QTest::newRow("case ignored") << QStringList{u"<TITLE>(.*?)</TITLE>"_s}
                                  << u"<title>Book</title>"_s << u"Book"_s;
    QTest::newRow("value after a span")
        << QStringList{u"<a>(.|\\n)*?<b>(.*?)</b>"_s} << u"<a>x\ny<b>V</b>"_s << u"V"_s;
    QTest::newRow("dot stops at a line feed")
        << QStringList{u"a(.*?)b"_s} << u"a\nb"_s << QString();
    QTest::newRow("dot takes a carriage return")
        << QStringList{u"a(.*?)b"_s} << u"a\rb"_s << u"\r"_s;
    QTest::newRow("caret at a line start")
        << QStringList{u"^t(.*?)$"_s} << u"x\ntitle\r\ny"_s << u"itle\r"_s;
    QTest::newRow("unicode escape")
        << QStringList{u"\\u4e66\\u540D：(.*?)<"_s} << u"<h1>书名：天龙<"_s << u"天龙"_s;
    QTest::newRow("empty ECMAScript class matches nothing")
        << QStringList{u"a[](.*?)"_s, u"a(.*?)c"_s} << u"abc"_s << u"b"_s;
    QTest::newRow("negated empty class matches any character")
        << QStringList{u"a[^](.*?)c"_s} << u"a\nbc"_s << u"b"_s;
}

void TestPattern::regMatchFindsFirstValue() {
    QFETCH(QStringList, patterns);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(regMatch(text, patterns), expected);
    if (patterns.size() == 1)
        QCOMPARE(regMatch(text, patterns.first()), expected);
}

void TestPattern::regMatchTakesLongValues() {
    const QString body = QString(1 << 20, u'字');
    QCOMPARE(regMatch(u"<div id=text>"_s + body + u"</div>"_s, u"<div id=text>(.*?)</div>"_s),
             body);
}

void TestPattern::regReplaceReplacesEveryMatch_data() {
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("white space between tags")
        << QStringList{u">(\\s)*<"_s} << u"><"_s << u"</td>  \n  <td>"_s << u"</td><td>"_s;
    QTest::newRow("alternatives work on each other's output")
        << QStringList{u"a"_s, u"bb"_s} << QString() << u"abab"_s << QString();
    QTest::newRow("failing alternative keeps the earlier passes")
        << QStringList{u"a"_s, u"("_s, u"b"_s} << QString() << u"ab"_s << u"b"_s;
    QTest::newRow("invalid single rule leaves the text")
        << QStringList{u"[a"_s} << u"x"_s << u"abc"_s << u"abc"_s;
    QTest::newRow("case ignored") << QStringList{u"b"_s} << u"-"_s << u"ABC"_s << u"A-C"_s;
    QTest::newRow("captures") << QStringList{u"(\\w)(\\d)"_s} << u"$2$1"_s << u"a1 b2"_s
                              << u"1a 2b"_s;
    QTest::newRow("whole match and dollar")
        << QStringList{u"b"_s} << u"[$&$$]"_s << u"abc"_s << u"a[b$]c"_s;
    QTest::newRow("before and after the match")
        << QStringList{u"b"_s} << u"<$`|$'>"_s << u"abc"_s << u"a<a|c>c"_s;
    QTest::newRow("two digits only when the group exists")
        << QStringList{u"(x)"_s} << u"$10"_s << u"x"_s << u"x0"_s;
    QTest::newRow("missing group stays literal")
        << QStringList{u"(x)"_s} << u"$2"_s << u"x"_s << u"$2"_s;
    QTest::newRow("empty matches everywhere")
        << QStringList{u"x*"_s} << u"-"_s << u"abc"_s << u"-a-b-c-"_s;
    QTest::newRow("chinese advertisement")
        << QStringList{u"<p>广告(.*?)</p>"_s} << QString() << u"正文<p>广告：去<b>看</b></p>继续"_s
        << u"正文继续"_s;
}

void TestPattern::regReplaceReplacesEveryMatch() {
    QFETCH(QStringList, patterns);
    QFETCH(QString, replacement);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(regReplace(text, patterns, replacement), expected);
    if (patterns.size() == 1)
        QCOMPARE(regReplace(text, patterns.first(), replacement), expected);
}

void TestPattern::allMatchesReportsPositionsAndValues() {
    const QString page = u"<a href=1.html>一</a><a href=2.html>二</a>"_s;
    const auto matches = allMatches(page, u"<a href=(.*?)>(.*?)</a>"_s);
    QVERIFY(matches);
    QCOMPARE(matches->size(), 2);
    QCOMPARE(matches->at(0).start, 0);
    QCOMPARE(matches->at(1).start, page.indexOf(u"<a href=2"_s));
    QCOMPARE(matches->at(1).subMatches, (QStringList{u"2.html"_s, u"二"_s}));
    QCOMPARE(matches->at(0).subMatch(5), QString());

    QCOMPARE(allMatches(page, u"<b>(.*?)</b>"_s)->size(), 0);
    QVERIFY(!allMatches(page, u"(unclosed"_s));
}

void TestPattern::spanGroupCrossesLongStretches() {
    // The script scan of a contents page crosses whole script bodies with a span group.
    QString script;
    for (int i = 0; i < 20000; ++i)
        script += u"var a%1 = 1;\n"_s.arg(i);
    const QString page = u"<script type=x>"_s + script + u"</script><p>end</p>"_s;
    const auto matches = allMatches(page, u"<script.*?>((.|\\n)*?)</script>"_s);
    QVERIFY(matches);
    QCOMPARE(matches->size(), 1);
    QCOMPARE(matches->first().subMatch(0), script);
    QCOMPARE(regMatch(page, u"<script>(.|\\n)*?<p>(.*?)</p>"_s), QString());
    QCOMPARE(regMatch(page, u"</script>(.|\\n)*<p>(.*?)</p>"_s), u"end"_s);
}

void TestPattern::runawayRuleFailsInsteadOfHanging() {
    // Nested repetition backtracks exponentially on a text that almost matches; the engine's
    // limit makes the rule fail like an invalid one.
    const QString hostile = QString(64, u'a') + u'!';
    QCOMPARE(regMatch(hostile, u"^(?:\\w+\\s?)*$(.*?)"_s), QString());
    QCOMPARE(regReplace(hostile, u"^(\\w+\\s?)*$"_s, u"x"_s), hostile);
    QVERIFY(!allMatches(hostile, u"^(\\w+\\s?)*$"_s));
    // The same rule still works where it does not run away.
    QCOMPARE(regReplace(u"ab cd"_s, u"^(\\w+\\s?)*$"_s, u"x"_s), u"x"_s);
}

void TestPattern::htmlToTextConverts_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");

    QTest::newRow("line breaks") << u"line1<br>line2<BR/>line3<br />x"_s
                                 << u"line1\rline2\rline3\rx"_s;
    QTest::newRow("paragraph with attributes") << u"<p class=x>text</p>"_s << u"text\r"_s;
    QTest::newRow("comment") << u"<!-- note -->text"_s << u"text"_s;
    QTest::newRow("less-than that is no tag") << u"x < y"_s << u"x < y"_s;
    QTest::newRow("double-encoded space") << u"&amp;nbsp;"_s << u" "_s;
    QTest::newRow("entity without semicolon") << u"&nbspx"_s << u" x"_s;
    QTest::newRow("double-encoded less-than") << u"&amp;lt;"_s << u"<"_s;
    QTest::newRow("decoded tag stays visible") << u"&lt;br&gt;"_s << u"<br>"_s;
    QTest::newRow("quotes in any case") << u"&QUOT;x&quot"_s << u"\"x\""_s;
    QTest::newRow("middle dot") << u"a&#183;b"_s << u"a\u00B7b"_s;
    QTest::newRow("other numeric entities stay") << u"&#8212;"_s << u"&#8212;"_s;
    QTest::newRow("link and inline tags") << u"<a href=\"x\">第<b>一</b>章</a>"_s << u"第一章"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestPattern::htmlToTextConverts() {
    QFETCH(QString, html);
    QFETCH(QString, expected);
    htmlToText(html);
    QCOMPARE(html, expected);
}

void TestPattern::htmlToTextHandlesAMegabyte() {
    const QString paragraph = u"<p>　　他说：&quot;走吧。&quot;<span class=a>！</span></p>"_s;
    QString text = paragraph.repeated((1 << 20) / paragraph.size());
    const qsizetype paragraphs = text.size() / paragraph.size();
    htmlToText(text);
    QCOMPARE(text.count(u'\r'), 2 * paragraphs);
    QCOMPARE(text.count(u"　　他说：\"走吧。\"！"_s), paragraphs);
    QVERIFY(!text.contains(u'<'));
}

void TestPattern::combineUrlResolvesLinks_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("expected");

    const QString base = u"http://books.example/a/b.html"_s;
    QTest::newRow("sibling file") << base << u"c.html"_s << u"http://books.example/a/c.html"_s;
    QTest::newRow("empty base") << QString() << u"c.html"_s << QString();
    QTest::newRow("root-relative") << base << u"/x/1.html"_s << u"http://books.example/x/1.html"_s;
    QTest::newRow("climbing") << u"http://h/a/b/c.html"_s << u"../d.html"_s
                              << u"http://h/a/d.html"_s;
    QTest::newRow("absolute link")
        << base << u"https://other.example/p?q=1"_s << u"https://other.example/p?q=1"_s;
    QTest::newRow("empty link is the page") << base << QString() << base;
    QTest::newRow("space encoded, blanks around dropped")
        << base << u" my file.html \r\n"_s << u"http://books.example/a/my%20file.html"_s;
    QTest::newRow("port kept") << u"http://127.0.0.1:8080/book/1/"_s << u"2.html"_s
                               << u"http://127.0.0.1:8080/book/1/2.html"_s;
    QTest::newRow("chinese path") << base << u"第一章.html"_s
                                  << u"http://books.example/a/%E7%AC%AC%E4%B8%80%E7%AB%A0.html"_s;
    QTest::newRow("colon in text that is no scheme")
        << base << u"他说:好<br />"_s
        << u"http://books.example/a/%E4%BB%96%E8%AF%B4:%E5%A5%BD%3Cbr%20/%3E"_s;
    QTest::newRow("base that is no address")
        << u"not an address"_s << u"c.html"_s << u"not an address"_s;
    QTest::newRow("broken link") << base << u"http://[::1"_s << base;
}

void TestPattern::combineUrlResolvesLinks() {
    QFETCH(QString, base);
    QFETCH(QString, link);
    QFETCH(QString, expected);
    QCOMPARE(combineUrl(base, link), expected);
}

void TestPattern::combineUrlWithinNeverDropsAFittingAddress_data() {
    QTest::addColumn<QString>("link");
    QTest::newRow("chapter text with closing tags") << u"第一段。<br />第二段。<br />"_s;
    QTest::newRow("climbing segments") << u"a/b/c/../../../../x.html"_s;
    QTest::newRow("ends in dots") << u"long/segment/name/.."_s;
    QTest::newRow("single dot segments") << u"./././very/long/./path/here.html"_s;
    QTest::newRow("query and fragment") << u"../p?q=第一章&x=1#frag"_s;
    QTest::newRow("encoded separators") << u"a%2Fb%2F..%2Fc/%41%42.html"_s;
    QTest::newRow("absolute link") << u"http://other.example/a/../b.html?x"_s;
    QTest::newRow("invalid link") << u"http://[broken/longer/than/anything"_s;
    QTest::newRow("colon before the first slash") << u"Chapter 1: the start<br />"_s;
    QTest::newRow("empty") << QString();
}

void TestPattern::combineUrlWithinNeverDropsAFittingAddress() {
    // Whatever the limit, the shortcut only refuses addresses that would exceed it, and
    // otherwise gives exactly what combineUrl gives.
    QFETCH(QString, link);
    const QString base = u"http://books.example/a/b/c/d/e/f.html"_s;
    const QString full = combineUrl(base, link);
    for (qsizetype limit = 0; limit <= full.size() + 2; ++limit) {
        const auto within = combineUrlWithin(base, link, limit);
        if (within)
            QCOMPARE(*within, full);
        else
            QVERIFY2(full.size() > limit, qPrintable(u"limit %1"_s.arg(limit)));
    }
}

void TestPattern::nearlySameComparesNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("previous");
    QTest::addColumn<bool>("expected");

    QTest::newRow("equal") << u"ab"_s << u"ab"_s << true;
    QTest::newRow("one begins the other") << u"abc"_s << u"ab"_s << true;
    QTest::newRow("differ at both ends") << u"abcd"_s << u"xbcy"_s << false;
    QTest::newRow("upper and lower part") << u"第一章 上"_s << u"第一章 下"_s << true;
    QTest::newRow("numbered parts") << u"第十二章（一）"_s << u"第十二章（二）"_s << true;
    QTest::newRow("different chapters") << u"第1章 开始"_s << u"第2章 结束"_s << false;
    QTest::newRow("bare numbers") << u"第1章"_s << u"第2章"_s << true;
    QTest::newRow("case ignored") << u"Part One A"_s << u"part one b"_s << true;
    QTest::newRow("empty name") << QString() << u"第一章"_s << true;
}

void TestPattern::nearlySameComparesNames() {
    QFETCH(QString, name);
    QFETCH(QString, previous);
    QFETCH(bool, expected);
    QCOMPARE(nearlySame(name, previous), expected);
}

QTEST_APPLESS_MAIN(TestPattern)
#include "tst_pattern.moc"
