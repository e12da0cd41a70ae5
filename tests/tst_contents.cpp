// The contents-page analysis (title, author, volumes, chapters, sorting, range, small chapters)
// with the script engine that resolves "javascript:" chapter links.

#include "analysis/contents.h"
#include "analysis/scriptengine.h"

#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(SiteRules)
Q_DECLARE_METATYPE(ContentsRequest)

namespace {

const QString kFolder = u"http://books.test/book/7/"_s;

QString chapter(const QString &link, const QString &name) {
    return u"<li><a href=\"%1\">%2</a></li>"_s.arg(link, name);
}

QString volume(const QString &name) {
    return u"<h2>%1</h2>"_s.arg(name);
}

// The contents page's address with the wanted range and the small-chapter option.
ContentsRequest request(const QString &first = {}, const QString &last = {}, bool small = false) {
    return {kFolder + u"index.html"_s, first, last, small};
}

// The analysis's result in one line: "title / author", each chapter as "its address in the
// book's folder, name [volume]", then the wanted range; "failed" when the analysis failed.
QString analysed(const QString &page, const SiteRules &rules, const ContentsRequest &request) {
    ScriptEngine scripts(std::chrono::milliseconds(300));
    BookContents book;
    if (!ContentsAnalysis(rules, request, scripts, book).analyseContents(page))
        return u"failed"_s;
    QStringList parts{book.bookTitle + u" / "_s + book.bookAuthor};
    const ChapterList &list = book.chapters;
    for (qsizetype i = 0; i < list.chapterUrls.size(); ++i) {
        const QString volume = list.volumeNames.value(i);
        parts << (QString(list.chapterUrls.at(i)).remove(kFolder) + u' ' +
                  list.chapterNames.value(i) +
                  (volume.isEmpty() ? QString() : u" ["_s + volume + u']'))
                     .trimmed();
    }
    return (parts << u"%1-%2"_s.arg(book.chapterIndex).arg(book.lastIndex)).join(u" | "_s);
}

} // namespace

class TestContents : public QObject {
    Q_OBJECT

private slots:
    void analyseContents_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<SiteRules>("rules");
        QTest::addColumn<ContentsRequest>("request");
        QTest::addColumn<QString>("expected");

        SiteRules rules;
        rules.tagTitle = {u"<h1>(.*?)</h1>"_s};
        rules.tagAuthor = {u"作者：(.*?)<"_s};
        rules.tagVolume = {u"<h2>(.*?)</h2>"_s};
        rules.tagChapter = {u"<li><a href=\"(.*?)\">(.*?)</a></li>"_s};

        QTest::newRow("title, author, names cleaned, links resolved")
            << u"<h1> 天 龙 </h1><p>作者：金&nbsp; 庸</p>"_s +
                   chapter(u"../7/1.html"_s, u"第一章 &amp; <i>序</i>"_s)
            << rules << request() << u"天 龙 / 作者：金 庸 | 1.html 第一章 & 序 | 0-0"_s;

        QTest::newRow("no chapter fails") << u"<h1>书</h1>"_s << rules << request() << u"failed"_s;

        // Before the range no chapter has a volume name; from its first on, a name shows only
        // where it changes.
        QTest::newRow("volume name at the range's first chapter and where it changes")
            << chapter(u"1.html"_s, u"第一章"_s) + volume(u"卷一"_s) +
                   chapter(u"2.html"_s, u"第二章"_s) + chapter(u"3.html"_s, u"第三章"_s) +
                   volume(u"卷二"_s) + chapter(u"4.html"_s, u"第四章"_s) +
                   chapter(u"5.html"_s, u"第五章"_s)
            << rules << request(kFolder + u"3.HTML"_s)
            << u"书名未知 / 作者：佚名 | 1.html 第一章 | 2.html 第二章 | 3.html 第三章 [卷一] | "
               u"4.html 第四章 [卷二] | 5.html 第五章 | 2-4"_s;

        SiteRules sorted = rules;
        sorted.tagSort = u"1"_s;
        QTest::newRow("unsorted chapters sorted, names and volumes along")
            << volume(u"卷九"_s) + chapter(u"9.html"_s, u"九"_s) + volume(u"卷十"_s) +
                   chapter(u"10.html"_s, u"十"_s) + volume(u"卷八"_s) +
                   chapter(u"8.html"_s, u"八"_s)
            << sorted << request()
            << u"书名未知 / 作者：佚名 | 8.html 八 [卷八] | 9.html 九 [卷九] | 10.html 十 [卷十] | 0-2"_s;
        // The first "2.html" is swapped past the second as "1.html" moves to the front.
        QTest::newRow("equal addresses ordered by exchanges")
            << chapter(u"2.html"_s, u"甲"_s) + chapter(u"2.html"_s, u"乙"_s) +
                   chapter(u"1.html"_s, u"丙"_s)
            << sorted << request()
            << u"书名未知 / 作者：佚名 | 1.html 丙 | 2.html 乙 | 2.html 甲 | 0-2"_s;
        QTest::newRow("small chapters joined")
            << chapter(u"1.html"_s, u"第一章 上"_s) + chapter(u"2.html"_s, u"第一章 下"_s) +
                   chapter(u"3.html"_s, u"第二章 开始"_s)
            << rules << request({}, {}, true)
            << u"书名未知 / 作者：佚名 | 1.html 第一章 上 | 2.html | 3.html 第二章 开始 | 0-2"_s;

        // A call that fails, or runs past the limit and is interrupted, keeps its link; a call of
        // more than four arguments runs nothing and gives "", the contents page itself.
        QTest::newRow("script links become the addresses they navigate to")
            << u"<script type=\"text/javascript\">\r\n<!--\r\nfunction go(id) {\r\n"
               u"  document.location.href = 'read/' + id + '.html';\r\n}\r\n//-->\r\n"
               u"function spin() { for (;;) {} }</script>"_s +
                   chapter(u"javascript:go( 12 )"_s, u"第一章"_s) +
                   chapter(u"javascript:missing(13)"_s, u"第二章"_s) +
                   chapter(u"javascript:spin()"_s, u"第三章"_s) +
                   chapter(u"javascript:go(1,2,3,4,5)"_s, u"第四章"_s)
            << rules << request()
            << u"书名未知 / 作者：佚名 | read/12.html 第一章 | javascript:missing(13) 第二章 | "
               u"javascript:spin() 第三章 | index.html 第四章 | 0-3"_s;
    }

    void analyseContents() {
        QFETCH(QString, page);
        QFETCH(SiteRules, rules);
        QFETCH(ContentsRequest, request);
        QTEST(analysed(page, rules, request), "expected");
    }
};

QTEST_GUILESS_MAIN(TestContents)
#include "tests/tst_contents.moc"
