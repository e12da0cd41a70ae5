// The pattern helpers: value placeholders, finding and replacing with site rules (ECMAScript
// meaning, bounded on hostile input), HTML to text and link resolution. (Names of small
// chapters are compared in tst_contents and tst_endtoend.)

#include "pattern/combineurl.h"
#include "pattern/htmltotext.h"
#include "pattern/pattern.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace norModule;

class TestPattern : public QObject {
    Q_OBJECT

private slots:
    void placeholderIndexCountsGroups() {
        // "(.|\n)" counts as a group but never as a value; escaped parentheses are no group.
        QCOMPARE(placeholderIndex(u"<a href=(.*?)>(.|\\n)*?(.*?)</a>"_s, 1), 2);
        QCOMPARE(placeholderIndex(u"javascript:(.*?)\\((.*?)\\)"_s, 1), 1);
        QCOMPARE(placeholderIndex(u"(.*?)"_s, 1), -1);
    }

    void regMatchFindsFirstValue_data() {
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("first alternative wins though it matches later")
            << QStringList{u"x(.*?)y"_s, u"a(.*?)b"_s} << u"aQb xZy"_s << u"Z"_s;
        QTest::newRow("invalid alternative ends the search")
            << QStringList{u"("_s, u"a(.*?)b"_s} << u"aQb"_s << QString();
        // What the rules mean to ECMAScript, the language sites write them in.
        QTest::newRow("dot stops at a line feed, takes a carriage return")
            << QStringList{u"a(.*?)b"_s} << u"a\nb a\rb"_s << u"\r"_s;
        QTest::newRow("caret at a line start")
            << QStringList{u"^t(.*?)$"_s} << u"x\ntitle\r\ny"_s << u"itle\r"_s;
        QTest::newRow("unicode escape")
            << QStringList{u"\\u4e66\\u540D：(.*?)<"_s} << u"<h1>书名：天龙<"_s << u"天龙"_s;
        // Also: the second alternative when the first finds nothing.
        QTest::newRow("empty class matches nothing")
            << QStringList{u"a[](.*?)"_s, u"a(.*?)c"_s} << u"abc"_s << u"b"_s;
        QTest::newRow("negated empty class matches any character")
            << QStringList{u"a[^](.*?)c"_s} << u"a\nbc"_s << u"b"_s;
    }

    void regMatchFindsFirstValue() {
        QFETCH(QStringList, patterns);
        QFETCH(QString, text);
        QTEST(regMatch(text, patterns), "expected");
    }

    void regReplaceReplacesEveryMatch_data() {
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("alternatives work on each other's output")
            << QStringList{u"a"_s, u"bb"_s} << QString() << u"abab"_s << QString();
        QTest::newRow("failing alternative keeps the earlier passes")
            << QStringList{u"a"_s, u"("_s, u"b"_s} << QString() << u"ab"_s << u"b"_s;
        // The replacement's ECMAScript meaning.
        QTest::newRow("captures") << QStringList{u"(\\w)(\\d)"_s} << u"$2$1"_s << u"a1 b2"_s
                                  << u"1a 2b"_s;
        QTest::newRow("whole match, dollar, before and after the match")
            << QStringList{u"b"_s} << u"[$&$$<$`|$'>]"_s << u"abc"_s << u"a[b$<a|c>]c"_s;
        QTest::newRow("two digits only when the group exists, a missing group literal")
            << QStringList{u"(x)"_s} << u"$10$2"_s << u"x"_s << u"x0$2"_s;
        QTest::newRow("empty matches everywhere")
            << QStringList{u"x*"_s} << u"-"_s << u"abc"_s << u"-a-b-c-"_s;
    }

    void regReplaceReplacesEveryMatch() {
        QFETCH(QStringList, patterns);
        QFETCH(QString, replacement);
        QFETCH(QString, text);
        QTEST(regReplace(text, patterns, replacement), "expected");
    }

    void brokenTextIsSearchedAsRepaired_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value"); // of the first match of <b>(.*?)</b>
        QTest::addColumn<int>("matches");

        const QChar high(0xD800);
        const QChar low(0xDC00);
        QTest::newRow("lone surrogates in and between the values")
            << u"<b>a"_s + high + u"b</b>"_s + low + u"<b>c"_s + low + u"</b>"_s + high
            << u"a\uFFFDb"_s << 2;
        QTest::newRow("a pair the wrong way round")
            << u"<b>"_s + low + high + u"</b>"_s << u"\uFFFD\uFFFD"_s << 1;
        QTest::newRow("a pair stays a character") << u"<b>😀</b>"_s << u"😀"_s << 1;
    }

    void brokenTextIsSearchedAsRepaired() {
        QFETCH(QString, text);
        const QString pattern = u"<b>(.*?)</b>"_s;
        QTEST(regMatch(text, pattern), "value"); // none of the values is ""
        // The walk over every match, which checks the text only once.
        const auto matches = allMatches(text, pattern);
        QVERIFY(matches);
        QTEST(int(matches->size()), "matches");
        QCOMPARE(regReplace(text, pattern, u"$1"_s).size(), text.size() - 7 * matches->size());
    }

    void runawayRuleFailsInsteadOfHanging() {
        // Nested repetition backtracks exponentially on a text that almost matches; the engine's
        // limit makes the rule fail instead.
        const QString hostile = QString(64, u'a') + u'!';
        // Told apart from the engine's other errors, such as a search begun inside a pair.
        QString failedRule;
        MatchFailure failure;
        QVERIFY(!findValue(hostile, {u"x"_s, u"^(?:\\w+\\s?)*$(.*?)"_s}, &failedRule, &failure));
        QCOMPARE(failedRule, u"^(?:\\w+\\s?)*$(.*?)"_s);
        QVERIFY(failure.limit);
        // An invalid rule fails as well, rather than finding nothing.
        QVERIFY(!findValue(hostile, {u"a(.*?"_s}, &failedRule, &failure) && !failure.limit);
        QVERIFY(!CompiledRule(u"."_s).match(u"😀"_s, 1, 1000, true, &failure) && !failure.limit &&
                !failure.message.isEmpty());
        QCOMPARE(regReplace(hostile, u"^(\\w+\\s?)*$"_s, u"x"_s), hostile);
        QVERIFY(!allMatches(hostile, u"^(\\w+\\s?)*$"_s));
        // The same rule still works where it does not run away.
        QCOMPARE(regReplace(u"ab cd"_s, u"^(\\w+\\s?)*$"_s, u"x"_s), u"x"_s);
    }

    void htmlToTextConverts() {
        const auto text = [](QString html) {
            htmlToText(html);
            return html;
        };
        // Only the bare forms break a line; a paragraph with attributes is just a tag.
        QCOMPARE(text(u"a<br>b<BR/>c<br />d<p class=x>e</p>"_s), u"a\rb\rc\rde\r"_s);
        // Other tags go, a less-than that is no tag stays.
        QCOMPARE(text(u"<a href=\"x\">第<b>一</b>章</a> x < y"_s), u"第一章 x < y"_s);
        // Double-encoded entities, entities in any case, without semicolon.
        QCOMPARE(text(u"&amp;nbsp;&amp;lt;&QUOT;x&nbspy"_s), u" <\"x y"_s);
    }

    void combineUrlResolvesLinks_data() {
        // Every link is found on http://books.example/a/b.html.
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("expected");

        QTest::newRow("dot segments past the root, query and fragment")
            << u"./x/./../../../y.html?q=1#f"_s << u"http://books.example/y.html?q=1#f"_s;
        QTest::newRow("space encoded, blanks around dropped")
            << u" my file.html \r\n"_s << u"http://books.example/a/my%20file.html"_s;
        QTest::newRow("colon in text that is no scheme")
            << u"他说:好<br />"_s
            << u"http://books.example/a/%E4%BB%96%E8%AF%B4:%E5%A5%BD%3Cbr%20/%3E"_s;
        QTest::newRow("broken link") << u"http://[::1"_s << u"http://books.example/a/b.html"_s;
    }

    void combineUrlResolvesLinks() {
        const QString base = u"http://books.example/a/b.html"_s;
        QFETCH(QString, link);
        QFETCH(QString, expected);
        QCOMPARE(combineUrl(base, link), expected);
        // Whatever the limit, the shortcut only refuses addresses that would exceed it, and
        // otherwise gives exactly what combineUrl gives.
        for (qsizetype limit = 0; limit <= expected.size() + 2; ++limit) {
            if (const auto within = combineUrlWithin(base, link, limit))
                QCOMPARE(*within, expected);
            else
                QVERIFY2(expected.size() > limit, qPrintable(u"limit %1"_s.arg(limit)));
        }
    }
};

QTEST_APPLESS_MAIN(TestPattern)
#include "tests/tst_pattern.moc"
