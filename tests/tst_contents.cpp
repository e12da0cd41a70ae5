// The contents-page analysis (title, author, volumes, chapters, sorting, range, small chapters)
// and the script engine that resolves "javascript:" chapter links.

#include "analysis/contents.h"
#include "analysis/scriptengine.h"

#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(SiteRules)

namespace {

const QString kContents = u"http://books.test/book/7/index.html"_s;

QString chapter(const QString &link, const QString &name) {
    return u"<li><a href=\"%1\">%2</a></li>"_s.arg(link, name);
}

QString volume(const QString &name) {
    return u"<h2>%1</h2>"_s.arg(name);
}

QString absolute(const QString &file) {
    return u"http://books.test/book/7/"_s + file;
}

SiteRules baseRules() {
    SiteRules rules;
    rules.tagTitle = {u"<h1>(.*?)</h1>"_s};
    rules.tagAuthor = {u"作者：(.*?)<"_s};
    rules.tagVolume = {u"<h2>(.*?)</h2>"_s};
    rules.tagChapter = {u"<li><a href=\"(.*?)\">(.*?)</a></li>"_s};
    return rules;
}

} // namespace

class TestContents : public QObject {
    Q_OBJECT

private slots:
    void analyseContents_data();
    void analyseContents();
    void scriptLinkBecomesTheAddressItNavigatesTo();
    void runScriptLinkCallsPageFunctions_data();
    void runScriptLinkCallsPageFunctions();
    void scriptsAccumulateAcrossPages();
};

void TestContents::analyseContents_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<SiteRules>("rules");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<bool>("smallChapters");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("volumes");
    QTest::addColumn<int>("chapterIndex");
    QTest::addColumn<int>("lastIndex");

    const SiteRules rules = baseRules();
    const QString ch1 = chapter(u"1.html"_s, u"第一章"_s);
    const QString ch2 = chapter(u"2.html"_s, u"第二章"_s);
    const QString ch3 = chapter(u"3.html"_s, u"第三章"_s);
    const QString ch4 = chapter(u"4.html"_s, u"第四章"_s);
    const QStringList all = {absolute(u"1.html"_s), absolute(u"2.html"_s), absolute(u"3.html"_s),
                             absolute(u"4.html"_s)};
    const QStringList names = {u"第一章"_s, u"第二章"_s, u"第三章"_s, u"第四章"_s};

    QTest::newRow("title, author, names cleaned, links resolved")
        << u"<h1> 天 龙 </h1><p>作者：金&nbsp; 庸</p>"_s +
               chapter(u"1.html"_s, u"第一章 &amp; <i>序</i>"_s)
        << rules << QString() << QString() << false << false << u"天 龙"_s << u"作者：金 庸"_s
        << QStringList{absolute(u"1.html"_s)} << QStringList{u"第一章 & 序"_s}
        << QStringList{QString()} << 0 << 0;
    QTest::newRow("no title or author found")
        << ch1 << rules << QString() << QString() << false << false << u"书名未知"_s
        << u"作者：佚名"_s << QStringList{absolute(u"1.html"_s)} << QStringList{u"第一章"_s}
        << QStringList{QString()} << 0 << 0;
    QTest::newRow("line breaks removed before matching")
        << u"<h1>天\r\n龙</h1>\r\n<li><a href=\"1.html\">\n第一章</a></li>"_s << rules << QString()
        << QString() << false << false << u"天龙"_s << u"作者：佚名"_s
        << QStringList{absolute(u"1.html"_s)} << QStringList{u"第一章"_s} << QStringList{QString()}
        << 0 << 0;

    SiteRules secondChapterRule = rules;
    secondChapterRule.tagChapter.prepend(u"<dd>(.*?)=(.*?)</dd>"_s);
    QTest::newRow("second chapter alternative when the first finds nothing")
        << ch1 + ch2 << secondChapterRule << QString() << QString() << false << false
        << u"书名未知"_s << u"作者：佚名"_s << all.mid(0, 2) << names.mid(0, 2)
        << QStringList{QString(), QString()} << 0 << 1;
    SiteRules onePlaceholder = rules;
    onePlaceholder.tagChapter.prepend(u"<li><a href=\"(.*?)\">"_s);
    QTest::newRow("first matching alternative with one value fails")
        << ch1 << onePlaceholder << QString() << QString() << false << true << u"书名未知"_s
        << u"作者：佚名"_s << QStringList() << QStringList() << QStringList() << 0 << 0;
    QTest::newRow("no chapter fails")
        << u"<h1>书</h1>"_s << rules << QString() << QString() << false << true << u"书"_s
        << u"作者：佚名"_s << QStringList() << QStringList() << QStringList() << 0 << 0;
    SiteRules invalidVolume = rules;
    invalidVolume.tagVolume = {u"<h2>(.*?)</h2>(("_s};
    QTest::newRow("invalid volume rule fails")
        << ch1 << invalidVolume << QString() << QString() << false << true << u"书名未知"_s
        << u"作者：佚名"_s << QStringList() << QStringList() << QStringList() << 0 << 0;

    const QString volumes = ch1 + volume(u"卷一"_s) + ch2 + ch3 + volume(u"卷二"_s) + ch4;
    QTest::newRow("volume name only at a volume's first chapter")
        << volumes << rules << QString() << QString() << false << false << u"书名未知"_s
        << u"作者：佚名"_s << all << names
        << QStringList{QString(), u"卷一"_s, QString(), u"卷二"_s} << 0 << 3;
    QTest::newRow("range starting inside a volume carries its name")
        << volumes << rules << absolute(u"3.HTML"_s) << QString() << false << false << u"书名未知"_s
        << u"作者：佚名"_s << all << names
        << QStringList{QString(), QString(), u"卷一"_s, u"卷二"_s} << 2 << 3;
    QTest::newRow("range end inside a volume")
        << volumes << rules << QString() << absolute(u"2.html"_s) << false << false << u"书名未知"_s
        << u"作者：佚名"_s << all << names
        << QStringList{QString(), u"卷一"_s, u"卷一"_s, u"卷二"_s} << 0 << 1;
    SiteRules laterVolumes = rules;
    laterVolumes.tagVolume.append(u"<h3>(.*?)</h3>"_s);
    QTest::newRow("the last alternative that matches gives the headings")
        << volume(u"甲"_s) + u"<h3>乙</h3>"_s + ch1 << laterVolumes << QString() << QString()
        << false << false << u"书名未知"_s << u"作者：佚名"_s << all.mid(0, 1) << names.mid(0, 1)
        << QStringList{u"乙"_s} << 0 << 0;

    QTest::newRow("first box not in the list, last box empty")
        << ch1 + ch2 << rules << u"http://elsewhere/1.html"_s << QString() << false << false
        << u"书名未知"_s << u"作者：佚名"_s << all.mid(0, 2) << names.mid(0, 2)
        << QStringList{QString(), QString()} << 0 << 1;
    QTest::newRow("a chapter listed twice: the later entry is chosen")
        << ch2 + ch1 + ch2 + ch3 << rules << absolute(u"2.html"_s) << absolute(u"2.html"_s) << false
        << false << u"书名未知"_s << u"作者：佚名"_s << QStringList{all[1], all[0], all[1], all[2]}
        << QStringList{names[1], names[0], names[1], names[2]}
        << QStringList{QString(), QString(), QString(), QString()} << 2 << 2;

    SiteRules appended = rules;
    appended.tagUrl = u"1"_s;
    QTest::newRow("tagUrl appends the link to the whole address")
        << chapter(u"?page=1"_s, u"第一章"_s) << appended << QString() << QString() << false
        << false << u"书名未知"_s << u"作者：佚名"_s << QStringList{kContents + u"?page=1"_s}
        << QStringList{u"第一章"_s} << QStringList{QString()} << 0 << 0;

    SiteRules sorted = rules;
    sorted.tagSort = u"1"_s;
    QTest::newRow("unsorted chapters sorted, names and volumes along")
        << volume(u"卷九"_s) + chapter(u"9.html"_s, u"九"_s) + volume(u"卷十"_s) +
               chapter(u"10.html"_s, u"十"_s) + volume(u"卷八"_s) + chapter(u"8.html"_s, u"八"_s)
        << sorted << QString() << QString() << false << false << u"书名未知"_s << u"作者：佚名"_s
        << QStringList{absolute(u"8.html"_s), absolute(u"9.html"_s), absolute(u"10.html"_s)}
        << QStringList{u"八"_s, u"九"_s, u"十"_s} << QStringList{u"卷八"_s, u"卷九"_s, u"卷十"_s}
        << 0 << 2;
    QTest::newRow("text order counts as sorted")
        << chapter(u"10.html"_s, u"十"_s) + chapter(u"9.html"_s, u"九"_s) << sorted << QString()
        << QString() << false << false << u"书名未知"_s << u"作者：佚名"_s
        << QStringList{absolute(u"10.html"_s), absolute(u"9.html"_s)}
        << QStringList{u"十"_s, u"九"_s} << QStringList{QString(), QString()} << 0 << 1;
    QTest::newRow("equal addresses sort as the exchange sort leaves them")
        << chapter(u"2.html"_s, u"新二"_s) + chapter(u"2.html"_s, u"二"_s) +
               chapter(u"1.html"_s, u"一"_s)
        << sorted << QString() << QString() << false << false << u"书名未知"_s << u"作者：佚名"_s
        << QStringList{all[0], all[1], all[1]} << QStringList{u"一"_s, u"二"_s, u"新二"_s}
        << QStringList{QString(), QString(), QString()} << 0 << 2;

    const QString parts = chapter(u"1.html"_s, u"第一章 上"_s) +
                          chapter(u"2.html"_s, u"第一章 下"_s) +
                          chapter(u"3.html"_s, u"第二章 开始"_s);
    QTest::newRow("small chapters joined")
        << parts << rules << QString() << QString() << true << false << u"书名未知"_s
        << u"作者：佚名"_s << all.mid(0, 3)
        << QStringList{u"第一章 上"_s, QString(), u"第二章 开始"_s}
        << QStringList{QString(), QString(), QString()} << 0 << 2;
    QTest::newRow("small chapters left alone when not asked")
        << parts << rules << QString() << QString() << false << false << u"书名未知"_s
        << u"作者：佚名"_s << all.mid(0, 3)
        << QStringList{u"第一章 上"_s, u"第一章 下"_s, u"第二章 开始"_s}
        << QStringList{QString(), QString(), QString()} << 0 << 2;
}

void TestContents::analyseContents() {
    QFETCH(QString, page);
    QFETCH(SiteRules, rules);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(bool, smallChapters);

    ScriptEngine scripts;
    const ContentsRequest request{kContents, first, last, smallChapters};
    BookContents book;
    ContentsAnalysis analysis(rules, request, scripts, book);
    QTEST(analysis.analyseContents(page), "failed");
    QTEST(book.bookTitle, "title");
    QTEST(book.bookAuthor, "author");
    QFETCH(bool, failed);
    if (failed)
        return;
    QTEST(book.chapters.chapterUrls, "urls");
    QTEST(book.chapters.chapterNames, "names");
    QTEST(book.chapters.volumeNames, "volumes");
    QTEST(book.chapterIndex, "chapterIndex");
    QTEST(book.lastIndex, "lastIndex");
}

void TestContents::scriptLinkBecomesTheAddressItNavigatesTo() {
    const QString page =
        u"<script type=\"text/javascript\">\r\n<!--\r\nfunction go(id) {\r\n"
        u"  document.location.href = 'read/' + id + '.html';\r\n}\r\n//-->\r\n</script>"_s +
        chapter(u"javascript:go(12)"_s, u"第一章"_s) +
        chapter(u"javascript:missing(13)"_s, u"第二章"_s) +
        chapter(u"javascript:go(1,2,3,4,5)"_s, u"第三章"_s);
    ScriptEngine scripts;
    BookContents book;
    const SiteRules rules = baseRules();
    const ContentsRequest request{kContents, QString(), QString(), false};
    ContentsAnalysis analysis(rules, request, scripts, book);
    QVERIFY(!analysis.analyseContents(page));
    QCOMPARE(book.chapters.chapterUrls,
             (QStringList{absolute(u"read/12.html"_s), u"javascript:missing(13)"_s, kContents}));
}

void TestContents::runScriptLinkCallsPageFunctions_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no arguments") << u"javascript:count()"_s << true << u"0"_s;
    QTest::newRow("quotation marks stay in an argument")
        << u"javascript:len('12')"_s << true << u"4"_s;
    QTest::newRow("spaces around arguments go")
        << u"javascript:join( a , b )"_s << true << u"a|b"_s;
    QTest::newRow("four arguments") << u"javascript:count(1,2,3,4)"_s << true << u"4"_s;
    QTest::newRow("five arguments run nothing")
        << u"javascript:count(1,2,3,4,5)"_s << true << QString();
    QTest::newRow("function without a value") << u"javascript:nothing()"_s << true << QString();
    QTest::newRow("not a call") << u"chapter/1.html"_s << true << QString();
    QTest::newRow("missing function") << u"javascript:absent(1)"_s << false << QString();
    QTest::newRow("script error") << u"javascript:broken()"_s << false << QString();
    QTest::newRow("endless loop interrupted") << u"javascript:spin()"_s << false << QString();
}

void TestContents::runScriptLinkCallsPageFunctions() {
    QFETCH(QString, link);
    QFETCH(bool, ok);
    QFETCH(QString, expected);
    ScriptEngine scripts(std::chrono::milliseconds(300));
    scripts.loadPageScripts(
        u"<script>function count() { return arguments.length; }\n"
        u"function len(a) { return a.length; }\nfunction join(a, b) { return a + '|' + b; }\n"
        u"function nothing() {}\nfunction broken() { return undefinedThing.x; }\n"
        u"function spin() { for (;;) {} }</script>"_s);
    const auto result = scripts.runScriptLink(link);
    QCOMPARE(result.has_value(), ok);
    if (ok)
        QCOMPARE(*result, expected);
}

void TestContents::scriptsAccumulateAcrossPages() {
    ScriptEngine scripts;
    scripts.loadPageScripts(u"<script>function first() { return 'a'; }</script>"_s);
    scripts.loadPageScripts(u"<SCRIPT language=javascript>function second() { return 'b'; }\n"
                            u"document.write('no document here');</SCRIPT>"_s);
    QCOMPARE(scripts.runScriptLink(u"javascript:first()"_s).value_or(u"failed"_s), u"a"_s);
    QCOMPARE(scripts.runScriptLink(u"javascript:second()"_s).value_or(u"failed"_s), u"b"_s);
}

QTEST_GUILESS_MAIN(TestContents)
#include "tst_contents.moc"
