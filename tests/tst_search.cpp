// kestrelon-cli --search against loopback sites: the title encoded in each site's character set
// by GET and by POST, a search that redirects to the contents page, ranking and de-duplication
// across sites, a site that does not answer in time, --pick, and the rule checker's report of a
// site's search rules; and which result addresses a public search page may give.

#include "pipeline/searchrules.h"
#include "tests/support/clirun.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

const QString kTagSearch = u"tagSearch=<td class=\"t\"><a href=\"(.*?)\">(.*?)</a></td>"
                           u"<td class=\"a\">(.*?)</td>\r\n"_s;
const QString kTitle = u"灯塔 & 河湾 100% +1"_s;

// A result row as the test rules read it; title and author are markup.
QString row(const QString &url, const QString &title, const QString &author = u"某人"_s) {
    return u"<tr><td class=\"t\"><a href=\"%1\">%2</a></td><td class=\"a\">%3</td></tr>"_s.arg(
        url, title, author);
}

QByteArray page(const QString &rows, const char *encoding = "GBK") {
    return support::encoded(u"<html><head><meta charset=\"%1\"></head><body><table>%2</table>"
                            u"</body></html>"_s.arg(QLatin1String(encoding), rows),
                            encoding);
}

// Serves a search page at path: handler answers with the title the request carried, decoded.
void serveSearch(support::LoopbackSite &site, const std::string &path, bool post,
                 const char *encoding, std::function<QByteArray(const QString &)> answer) {
    const auto handler = [encoding, answer](const httplib::Request &req, httplib::Response &res) {
        QStringDecoder decoder(encoding);
        const QString title = decoder.decode(QByteArray::fromStdString(req.get_param_value("q")));
        const QByteArray body = answer(title);
        res.status = body.isEmpty() ? 500 : 200;
        res.set_content(body.toStdString(), "text/html");
    };
    post ? site.server().Post(path, handler) : site.server().Get(path, handler);
}

} // namespace

class TestSearch : public QObject {
    Q_OBJECT

    // Writes a section for each site (with the lines of its extra) and runs kestrelon-cli on it.
    support::CliRun run(const QStringList &arguments, const QList<support::LoopbackSite *> &sites,
                        const QStringList &extras, const QStringList &environment = {}) {
        QByteArray settings;
        for (qsizetype i = 0; i < sites.size(); ++i)
            settings +=
                support::bookRules(host(*sites.at(i)), kTagSearch + extras.value(i)) + "\r\n";
        m_settings = m_dir.filePath(u"Kestrelon.ini"_s);
        if (!support::writeBytes(m_settings, settings))
            return {};
        return support::runCli(QStringList{u"--settings"_s, m_settings} + arguments,
                               {.environment = environment});
    }

    static QJsonObject json(const support::CliRun &run) {
        return QJsonDocument::fromJson(run.out.toUtf8()).object();
    }

    static QString host(const support::LoopbackSite &site) {
        return u"127.0.0.1:%1"_s.arg(site.port());
    }

private slots:
    void search_data() {
        QTest::addColumn<QString>("keys"); // "@" stands for the site's address
        QTest::addColumn<bool>("post");
        QTest::addColumn<QByteArray>("encoding"); // of the site's pages and of the title
        QTest::addColumn<QString>("author");      // "" when the search sends the reader to the book
        QTest::newRow("GBK by POST, from tagCharset")
            << u"searchCharset=\r\ntagCharset=gbk||gbk\r\nsearchUrl=@/search\r\n"
               u"searchPost=q={key}&go=1\r\n"_s
            << true << "GBK"_ba << u"某&人"_s;
        QTest::newRow("UTF-8 by GET, nothing configured")
            << u"searchCharset=\r\nsearchUrl=@/search?q={key}\r\n"_s << false << "UTF-8"_ba
            << u"某&人"_s;
        // The test book's contents page names no author.
        QTest::newRow("GBK by GET, redirected to the contents page")
            << u"searchCharset=gbk\r\nsearchUrl=@/go?q={key}\r\n"_s << false << "GBK"_ba
            << QString();
    }

    void search() {
        QFETCH(QString, keys);
        QFETCH(bool, post);
        QFETCH(QByteArray, encoding);
        support::LoopbackSite site;
        support::serveBook(site, u"book"_s, kTitle, support::chapterTexts(2));
        const char *charset = encoding.constData();
        serveSearch(site, "/search", post, charset, [charset](const QString &title) {
            // The title is HTML on the page, and the author comes in markup.
            return title != kTitle
                       ? QByteArray()
                       : page(row(u"/book/"_s, u"<b>%1</b>"_s.arg(title.toHtmlEscaped()),
                                  u"<i>某&amp;人</i>"_s),
                              charset);
        });
        site.server().Get("/go", [&site](const httplib::Request &req, httplib::Response &res) {
            if (QStringDecoder("GBK").decode(QByteArray::fromStdString(req.get_param_value("q"))) ==
                kTitle)
                res.set_redirect(site.url(u"/book/"_s).toStdString());
        });
        QVERIFY(site.start());
        keys.replace(u'@', site.url(QString()));
        const auto found = run({u"--search"_s, kTitle, u"--json"_s}, {&site}, {keys});
        QCOMPARE(found.exitCode, 0);
        QFETCH(QString, author);
        const QJsonObject result{
            {u"number"_s, 1},        {u"title"_s, kTitle},
            {u"author"_s, author},   {u"site"_s, u"Kestrelon 演示书站"_s},
            {u"host"_s, host(site)}, {u"contentsUrl"_s, site.url(u"/book/"_s)}};
        QCOMPARE(json(found)[u"results"_s].toArray(), QJsonArray{result});
    }

    // Two sites, the same book on both and twice on one: the table's order, then --pick
    // downloads the right book, and the download adds no search key.
    void rankingAndPick() {
        support::LoopbackSite first;
        support::LoopbackSite second;
        support::serveBook(first, u"a/2"_s, u"灯塔守望"_s, support::chapterTexts(2));
        serveSearch(first, "/search", false, "GBK", [](const QString &) {
            return page(row(u"/a/1/"_s, u"河湾灯塔"_s) + row(u"/a/2/"_s, u"灯塔守望"_s) +
                        row(u"/a/3/"_s, u"远方"_s) + row(u"/a/2/"_s, u"灯塔守望"_s));
        });
        serveSearch(second, "/search", false, "GBK", [&first](const QString &) {
            return page(row(u"/b/1/"_s, u"灯塔之光"_s) + row(first.url(u"/a/2/"_s), u"灯塔守望"_s) +
                        row(u"/b/2/"_s, u"灯塔"_s));
        });
        QVERIFY(first.start() && second.start());
        const auto found = run({u"--search"_s, u"灯塔"_s}, {&first, &second}, {});
        QCOMPARE(found.exitCode, 0);
        QStringList shown; // each line's number and address
        for (const QString &line : found.out.split(u'\n', Qt::SkipEmptyParts))
            shown.append(line.section(u' ', 0, 0) + u' ' + line.section(u' ', -1));
        QCOMPARE(shown,
                 (QStringList{u"序号 地址"_s, u"1 "_s + second.url(u"/b/2/"_s),
                              u"2 "_s + first.url(u"/a/2/"_s), u"3 "_s + second.url(u"/b/1/"_s),
                              u"4 "_s + first.url(u"/a/1/"_s), u"5 "_s + first.url(u"/a/3/"_s)}));
        const auto picked =
            run({u"--search"_s, u"灯塔"_s, u"--pick"_s, u"2"_s, u"--encoding"_s, u"utf-8"_s},
                {&first, &second}, {});
        QCOMPARE(picked.exitCode, 0);
        QCOMPARE(picked.shelf.keys(), QStringList{u"灯塔守望.txt"_s});
        QVERIFY(QString::fromUtf8(picked.book()).contains(u"第2章的正文。"_s));
        QVERIFY(!support::readBytes(m_settings).contains("searchPost"));
    }

    void failures_data() {
        // Each site's answer: 0 none in time, 1 one result, 2 no result, 3 HTTP 500, 4 a page
        // its invalid tagSearch cannot read, 5 none, as the title is not in its Big5.
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason"); // of the first site's failure
        QTest::newRow("one site does not answer in time")
            << QList<int>{0, 1} << 0 << u"秒内没有回答"_s;
        QTest::newRow("every site fails") << QList<int>{3, 0} << 1 << u"HTTP 500"_s;
        QTest::newRow("no result anywhere") << QList<int>{2, 2} << 5 << QString();
        QTest::newRow("invalid search rules") << QList<int>{4, 4} << 1 << u"tagSearch"_s;
        QTest::newRow("a title the site cannot take") << QList<int>{5, 1} << 0 << u"big5"_s;
    }

    void failures() {
        QFETCH(QList<int>, answers);
        QFETCH(QString, reason);
        support::LoopbackSite first;
        support::LoopbackSite second;
        QStringList extras; // each site's lines
        for (auto [site, answer] : {std::pair(&first, answers.at(0)), {&second, answers.at(1)}}) {
            serveSearch(*site, "/search", false, "GBK", [answer](const QString &) {
                if (answer == 0) // well past the bound the test sets
                    std::this_thread::sleep_for(std::chrono::seconds(3));
                return answer == 3 ? QByteArray()
                                   : page(answer == 1 ? row(u"/a/"_s, u"灯塔"_s) : QString());
            });
            QVERIFY(site->start());
            extras.append(answer == 4   ? u"tagSearch=(["_s
                          : answer == 5 ? u"searchCharset=big5"_s
                                        : QString());
        }
        const auto found = run({u"--search"_s, u"灯塔"_s, u"--json"_s}, {&first, &second}, extras,
                               {u"KESTRELON_SEARCH_LIMIT_MS=1000"_s});
        QTEST(found.exitCode, "exitCode");
        const QJsonObject report = json(found);
        QCOMPARE(report[u"results"_s].toArray().size(), answers.count(1));
        const QJsonArray failed = report[u"failures"_s].toArray();
        QCOMPARE(failed.size(), int(answers.size() - answers.count(1) - answers.count(2)));
        if (!reason.isEmpty()) {
            QCOMPARE(failed.first()[u"host"_s].toString(), host(first));
            QVERIFY2(failed.first()[u"reason"_s].toString().contains(reason),
                     qPrintable(found.out));
        }
    }

    void checker_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("problem"); // the kind expected; "" for none of the search's
        QTest::newRow("sound rules") << QString() << QString();
        QTest::newRow("no {key}") << u"searchUrl=@/search\r\n"_s << u"search-key"_s;
        QTest::newRow("no group 1")
            << u"tagSearch=<td class=\"t\"><a href=\".*?\">.*?</a>\r\n"_s << u"search-group"_s;
        QTest::newRow("result without a contents page")
            << u"searchUrl=@/elsewhere?q={key}\r\n"_s << u"search-result"_s;
    }

    void checker() {
        QFETCH(QString, keys);
        QFETCH(QString, problem);
        support::LoopbackSite site;
        support::serveBook(site, u"book"_s, u"灯塔"_s, support::chapterTexts(2));
        serveSearch(site, "/search", false, "GBK", [](const QString &title) {
            return page(title == u"灯塔"_s ? row(u"/book/"_s, u"灯塔"_s) : QString());
        });
        serveSearch(site, "/elsewhere", false, "GBK",
                    [](const QString &) { return page(row(u"/none/"_s, u"灯塔"_s)); });
        QVERIFY(site.start());
        keys.replace(u'@', site.url(QString()));
        const auto checked =
            run({u"--check-rules"_s, site.url(u"/book/"_s), u"--search"_s, u"灯塔"_s, u"--json"_s},
                {&site}, {u"searchUrl=%1\r\n"_s.arg(site.url(u"/search?q={key}"_s)) + keys});
        const QJsonObject report = json(checked);
        const QJsonObject search = report[u"search"_s].toObject();
        const QString problems = QString::fromUtf8(
            QJsonDocument(report[u"problems"_s].toArray()).toJson(QJsonDocument::Compact));
        QVERIFY2(problem.isEmpty() ? !problems.contains(u"\"search-"_s)
                                   : problems.contains(u"\"%1\""_s.arg(problem)),
                 qPrintable(checked.out));
        if (!problem.isEmpty())
            return;
        QVERIFY(search[u"address"_s].toString().endsWith(u"?q=%B5%C6%CB%FE"_s));
        QCOMPARE(search[u"matches"_s][0][u"groups"_s].toArray(),
                 QJsonArray({u"/book/"_s, u"灯塔"_s, u"某人"_s}));
        QCOMPARE(search[u"firstResult"_s][u"title"_s].toString(), u"灯塔"_s);
    }

    void pageResults_data() {
        QTest::addColumn<QString>("pageUrl");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("kept"); // "" when the result is left out
        QTest::newRow("public page, private network result")
            << u"http://books.example/s"_s << u"http://192.168.1.2/b/"_s << QString();
        // Also a public page's own result, resolved against the page (a loopback page's loopback
        // results are those of every search above).
        QTest::newRow("an ampersand in markup")
            << u"http://books.example/s"_s << u"b?id=1&amp;p=2"_s
            << u"http://books.example/b?id=1&p=2"_s;
        QTest::newRow("not a web address")
            << u"http://books.example/s"_s << u"javascript:alert(1)"_s << QString();
    }

    // A public search page may not point at this machine or a private network.
    void pageResults() {
        QFETCH(QString, pageUrl);
        QFETCH(QString, link);
        search::SearchSite site;
        site.tagSearch = {u"<a href=\"(.*?)\">(.*?)</a>"_s};
        const auto results =
            search::pageResults(site, pageUrl, u"<a href=\"%1\">书</a>"_s.arg(link), false);
        QTEST(results->isEmpty() ? QString() : results->first().contentsUrl, "kept");
    }

private:
    QTemporaryDir m_dir;
    QString m_settings;
};

QTEST_GUILESS_MAIN(TestSearch)
#include "tests/tst_search.moc"
