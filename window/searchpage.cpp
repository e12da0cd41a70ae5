#include "window/searchpage.h"

#include "window/htmlescape.h"
#include "window/searchscheme.h"

using namespace Qt::StringLiterals;

namespace searchPage {

namespace {

using htmlText::escaped;

// The help page's look. Nothing but the page's own style may load or run: should a site's text
// ever get past the escaping, it still could not fetch or execute anything.
QString page(const QString &title, const QString &body, const QUrl &helpPage) {
    return uR"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'">
<title>%1</title>
<style>
body { font-family: "宋体", "SimSun", "AR PL UMing CN", serif; font-size: 12px; margin: 6px; color: #222; background: #fffdf6; }
h1 { font-size: 15px; margin: 4px 0 6px 0; color: #7a3b12; }
h2 { font-size: 13px; margin: 10px 0 4px 0; color: #7a3b12; }
ol, ul { padding-left: 22px; margin: 4px 0; }
li { line-height: 1.5; margin-bottom: 2px; }
.by { color: #666; }
</style></head><body>
<h1>%1</h1>
%2<p><a href="%3">返回使用说明</a></p>
</body></html>
)"_s.arg(escaped(title), body, escaped(helpPage.toString(QUrl::FullyEncoded)));
}

} // namespace

QString resultsPage(const QString &title, const QList<SearchResult> &results,
                    const QList<SearchFailure> &failures, const QUrl &helpPage) {
    QString body;
    if (results.isEmpty()) {
        body += u"<p>没有找到。</p>\n"_s;
    } else {
        body += u"<p>单击书名把它的目录网址填入“目录”一栏。</p>\n<ol>\n"_s;
        for (const SearchResult &result : results) {
            const QString link =
                searchScheme::pickUrl(result.contentsUrl).toString(QUrl::FullyEncoded);
            const QString author =
                result.author.isEmpty() ? QString() : u" "_s + escaped(result.author);
            body +=
                u"<li><a href=\"%1\" title=\"%2\">%3</a><span class=\"by\">%4 · %5</span></li>\n"_s
                    .arg(escaped(link), escaped(result.contentsUrl), escaped(result.title), author,
                         escaped(result.siteName));
        }
        body += u"</ol>\n"_s;
    }
    if (!failures.isEmpty()) {
        body += u"<h2>没有完成搜索的站点</h2>\n<ul>\n"_s;
        for (const SearchFailure &failure : failures)
            body += u"<li>%1（%2）：%3</li>\n"_s.arg(
                escaped(failure.siteName), escaped(failure.siteHost), escaped(failure.reason));
        body += u"</ul>\n"_s;
    }
    return page(u"搜索《%1》"_s.arg(title), body, helpPage);
}

QString messagePage(const QString &message, const QUrl &helpPage) {
    return page(u"搜索"_s, u"<p>%1</p>\n"_s.arg(escaped(message)), helpPage);
}

} // namespace searchPage
