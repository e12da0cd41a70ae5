#include "cli/searchcommand.h"

#include "cli/terminaltext.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace Qt::StringLiterals;
using terminaltext::printLine;

namespace searchcommand {

namespace {

// A cell of the table holds at most this many characters.
constexpr qsizetype kCellLength = 40;

// Text from a page in a table cell: its line breaks as spaces too, and a long text cut.
QString cell(const QString &text, qsizetype length = kCellLength) {
    const QString shown = terminaltext::shown(text).replace(u'\n', u' ');
    return shown.size() > length ? shown.left(length - 1) + u'…' : shown;
}

// Columns a character takes on a terminal: two for the wide East Asian ones.
int columns(char16_t c) {
    if (QChar::isLowSurrogate(c))
        return 0;
    const bool wide = QChar::isHighSurrogate(c) || (c >= 0x1100 && c <= 0x115f) ||
                      (c >= 0x2e80 && c <= 0xa4cf) || (c >= 0xac00 && c <= 0xd7a3) ||
                      (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f) ||
                      (c >= 0xff00 && c <= 0xff60) || (c >= 0xffe0 && c <= 0xffe6);
    return wide ? 2 : 1;
}

int width(const QString &text) {
    int total = 0;
    for (const QChar c : text)
        total += columns(c.unicode());
    return total;
}

QString padded(const QString &text, int wanted) {
    return text + QString(std::max(0, wanted - width(text)), u' ');
}

void printTable(const QList<SearchResult> &results) {
    QList<QStringList> rows{{u"序号"_s, u"书名"_s, u"作者"_s, u"站点"_s, u"地址"_s}};
    for (qsizetype i = 0; i < results.size(); ++i) {
        const SearchResult &result = results.at(i);
        rows.append({QString::number(i + 1), cell(result.title), cell(result.author),
                     cell(result.siteName), cell(result.contentsUrl, 1000)});
    }
    QList<int> widths(4, 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (int c = 0; c < 4; ++c)
            widths[c] = std::max(widths[c], width(row.at(c)));
    }
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (int c = 0; c < 4; ++c)
            line += padded(row.at(c), widths[c]) + u"  "_s;
        printLine(line + row.at(4));
    }
}

QJsonDocument jsonReport(const QString &title, const Found &found) {
    QJsonArray results;
    for (qsizetype i = 0; i < found.results.size(); ++i) {
        const SearchResult &result = found.results.at(i);
        results.append(QJsonObject{{u"number"_s, i + 1},
                                   {u"title"_s, result.title},
                                   {u"author"_s, result.author},
                                   {u"site"_s, result.siteName},
                                   {u"host"_s, result.siteHost},
                                   {u"contentsUrl"_s, result.contentsUrl}});
    }
    QJsonArray failures;
    for (const SearchFailure &failure : found.failures) {
        failures.append(QJsonObject{{u"site"_s, failure.siteName},
                                    {u"host"_s, failure.siteHost},
                                    {u"reason"_s, failure.reason}});
    }
    return QJsonDocument(
        QJsonObject{{u"query"_s, title}, {u"results"_s, results}, {u"failures"_s, failures}});
}

} // namespace

Found searchNow(const QString &title, const QStringList &sections) {
    std::chrono::milliseconds limit = BookSearch::kSiteLimit;
    bool ok = false;
    const int configured = qEnvironmentVariableIntValue("KESTRELON_SEARCH_LIMIT_MS", &ok);
    if (ok && configured > 0)
        limit = std::chrono::milliseconds(configured);
    BookSearch search(nullptr, limit);
    QEventLoop loop;
    Found found;
    QObject::connect(&search, &BookSearch::finished, &loop,
                     [&](const QList<SearchResult> &results, const QList<SearchFailure> &failures) {
                         found.results = results;
                         found.failures = failures;
                         loop.quit();
                     });
    search.start(title, sections);
    loop.exec();
    found.pages = search.pages();
    return found;
}

Status printSearch(const QString &title, bool json, int pick, QString *picked) {
    const Found found = searchNow(title);
    const bool allFailed = found.failures.size() == found.pages.size();
    if (json) {
        std::fputs(jsonReport(title, found).toJson(QJsonDocument::Indented).constData(), stdout);
    } else if (found.pages.isEmpty()) {
        printLine(u"设置文件里没有可以搜索的站点（要有 searchUrl 和 tagSearch）。"_s, stderr);
    } else {
        if (found.results.isEmpty())
            printLine(u"没有找到《%1》。"_s.arg(cell(title)));
        else
            printTable(found.results);
        if (!found.failures.isEmpty())
            printLine(u"\n没有完成搜索的站点："_s);
        for (const SearchFailure &failure : found.failures)
            printLine(u"  %1（%2）：%3"_s.arg(cell(failure.siteName), failure.siteHost,
                                              cell(failure.reason, 200)));
    }
    std::fflush(stdout);
    if (found.results.isEmpty())
        return allFailed ? Status::Failed : Status::NoResults;
    if (pick > found.results.size()) {
        printLine(u"没有第 %1 个结果：只找到 %2 个。"_s.arg(pick).arg(found.results.size()),
                  stderr);
        return Status::NoResults;
    }
    if (pick > 0)
        *picked = found.results.at(pick - 1).contentsUrl;
    return Status::Found;
}

} // namespace searchcommand
