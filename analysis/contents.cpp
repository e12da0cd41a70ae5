#include "analysis/contents.h"

#include "analysis/scriptengine.h"
#include "pattern/combineurl.h"
#include "pattern/nearlysame.h"
#include "pattern/pattern.h"
#include "text/typeset.h"

#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;
using norModule::allMatches;
using norModule::placeholderIndex;
using norModule::regMatch;
using typeset::cleanText;

namespace {

// The order of chapter addresses: shorter first, then text order without regard to case, so
// that 9.html comes before 10.html.
int compareAddresses(const QString &a, const QString &b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b, Qt::CaseInsensitive);
}

template <typename T>
void permute(QList<T> &list, const QList<qsizetype> &order) {
    QList<T> reordered;
    reordered.reserve(list.size());
    for (qsizetype from : order)
        reordered.append(list.value(from));
    list = std::move(reordered);
}

} // namespace

ContentsAnalysis::ContentsAnalysis(const SiteRules &rules, const ContentsRequest &request,
                                   ScriptEngine &scripts, BookContents &book)
    : m_rules(rules)
    , m_request(request)
    , m_scripts(scripts)
    , m_book(book) {}

bool ContentsAnalysis::analyseContents(const QString &page) {
    m_scripts.loadPageScripts(page);

    QString text = page;
    text.remove(u'\r');
    text.remove(u'\n');

    m_book.bookTitle = cleanText(regMatch(text, m_rules.tagTitle), true);
    if (m_book.bookTitle.isEmpty())
        m_book.bookTitle = u"书名未知"_s;
    const QString author = cleanText(regMatch(text, m_rules.tagAuthor), true);
    m_book.bookAuthor = author.isEmpty() ? u"作者：佚名"_s : u"作者："_s + author;

    QList<qsizetype> headingPositions;
    QStringList headingNames;
    if (!findVolumeHeadings(text, headingPositions, headingNames))
        return false;
    if (!collectChapters(text, headingPositions, headingNames))
        return false;
    if (!m_rules.tagSort.isEmpty() && !sortChapters())
        return false;
    if (!findRange())
        return false;
    if (m_request.smallChapters)
        mergeSmallChapters();
    keepFirstVolumeNames();
    return true;
}

bool ContentsAnalysis::findVolumeHeadings(const QString &page, QList<qsizetype> &positions,
                                          QStringList &names) {
    // Every alternative is tried; the last one that yields headings provides them.
    for (const QString &alternative : m_rules.tagVolume) {
        const auto matches = allMatches(page, alternative);
        if (!matches)
            return false;
        const int value = placeholderIndex(alternative, 0);
        if (matches->isEmpty() || value < 0)
            continue;
        positions.clear();
        names.clear();
        for (const norModule::RuleMatch &match : *matches) {
            positions.append(match.start);
            names.append(match.subMatch(value));
        }
    }
    return true;
}

bool ContentsAnalysis::collectChapters(const QString &page,
                                       const QList<qsizetype> &headingPositions,
                                       const QStringList &headingNames) {
    for (const QString &alternative : m_rules.tagChapter) {
        const auto matches = allMatches(page, alternative);
        if (!matches)
            return false;
        if (matches->isEmpty())
            continue;
        const int link = placeholderIndex(alternative, 0);
        const int name = placeholderIndex(alternative, 1);
        if (link < 0 || name < 0)
            return true; // no chapter; the range step fails the analysis
        for (const norModule::RuleMatch &match : *matches) {
            assignVolume(match.start, headingPositions, headingNames);
            addChapterUrl(match.subMatch(link));
            addChapterName(match.subMatch(name));
        }
        return true;
    }
    return true;
}

void ContentsAnalysis::assignVolume(qsizetype position, const QList<qsizetype> &headingPositions,
                                    const QStringList &headingNames) {
    m_book.chapters.volumeNames.append(QString());
    // The last heading that starts at or before the chapter; headings ascend in page order.
    const auto after =
        std::upper_bound(headingPositions.cbegin(), headingPositions.cend(), position);
    const qsizetype heading = (after - headingPositions.cbegin()) - 1;
    if (heading >= 0 && heading < headingNames.size())
        m_book.chapters.volumeNames.last() = cleanText(headingNames.at(heading), true);
}

void ContentsAnalysis::addChapterUrl(const QString &link) {
    QString address = link;
    if (address.contains(u"javascript"_s, Qt::CaseInsensitive)) {
        // A failed evaluation keeps the link as found.
        if (const auto target = m_scripts.runScriptLink(address))
            address = cleanText(*target, false);
    }
    if (m_rules.tagUrl.isEmpty())
        address = norModule::combineUrl(m_request.contentsUrl, address);
    else
        address = m_request.contentsUrl + address;
    m_book.chapters.chapterUrls.append(cleanText(address, true));
}

void ContentsAnalysis::addChapterName(const QString &name) {
    m_book.chapters.chapterNames.append(cleanText(name, true));
}

bool ContentsAnalysis::sortChapters() {
    ChapterList &list = m_book.chapters;
    const QStringList &urls = list.chapterUrls;
    if (urls.isEmpty())
        return false;
    bool inOrder = true;
    for (qsizetype i = 1; i < urls.size() && inOrder; ++i)
        inOrder = urls.at(i).compare(urls.at(i - 1), Qt::CaseInsensitive) >= 0;
    if (inOrder)
        return true;

    QList<qsizetype> order(urls.size());
    std::iota(order.begin(), order.end(), 0);
    auto before = [&urls](qsizetype a, qsizetype b) {
        return compareAddresses(urls.at(a), urls.at(b)) < 0;
    };
    std::stable_sort(order.begin(), order.end(), before);
    const bool distinct =
        std::adjacent_find(order.cbegin(), order.cend(), [&urls](qsizetype a, qsizetype b) {
            return compareAddresses(urls.at(a), urls.at(b)) == 0;
        }) == order.cend();
    // Where two addresses are equal, which of their names ends up first is settled by a
    // selection-style pass with its exact swaps: stored books were ordered that way, and a stable
    // sort orders equal addresses differently. The pass compares every pair, so it works on each
    // address's rank among the sorted ones; past kMostExactlySwapped chapters even that could hold
    // a job for minutes, and such a list keeps the stable order.
    constexpr qsizetype kMostExactlySwapped = 50000;
    if (!distinct && order.size() <= kMostExactlySwapped) {
        QList<qsizetype> rank(order.size());
        for (qsizetype i = 0, r = 0; i < order.size(); ++i) {
            if (i > 0 && before(order.at(i - 1), order.at(i)))
                ++r;
            rank[order.at(i)] = r;
        }
        std::iota(order.begin(), order.end(), 0);
        for (qsizetype a = 0; a < order.size(); ++a) {
            for (qsizetype b = a + 1; b < order.size(); ++b) {
                if (rank.at(b) < rank.at(a)) {
                    std::swap(rank[a], rank[b]);
                    std::swap(order[a], order[b]);
                }
            }
        }
    }
    // A volume name travels with its chapter, so a heading stays with the chapters under it.
    permute(list.chapterUrls, order);
    permute(list.chapterNames, order);
    permute(list.volumeNames, order);
    return true;
}

bool ContentsAnalysis::findRange() {
    const QStringList &urls = m_book.chapters.chapterUrls;
    if (urls.isEmpty())
        return false;
    m_book.chapterIndex = 0;
    m_book.lastIndex = int(urls.size() - 1);
    // Every entry is visited, so when an address stands twice the later one decides.
    for (int j = 0; j < urls.size(); ++j) {
        if (!m_request.firstChapterUrl.isEmpty() &&
            m_request.firstChapterUrl.compare(urls.at(j), Qt::CaseInsensitive) == 0)
            m_book.chapterIndex = j;
        if (!m_request.lastChapterUrl.isEmpty() &&
            m_request.lastChapterUrl.compare(urls.at(j), Qt::CaseInsensitive) == 0)
            m_book.lastIndex = j;
    }
    return true;
}

void ContentsAnalysis::mergeSmallChapters() {
    QStringList &names = m_book.chapters.chapterNames;
    QString previous = names.value(m_book.chapterIndex);
    for (int i = m_book.chapterIndex + 1; i <= m_book.lastIndex && i < names.size(); ++i) {
        if (norModule::nearlySame(names.at(i), previous))
            names[i].clear();
        else
            previous = names.at(i);
    }
}

void ContentsAnalysis::keepFirstVolumeNames() {
    QStringList &volumes = m_book.chapters.volumeNames;
    for (int i = 0; i < m_book.chapterIndex && i < volumes.size(); ++i)
        volumes[i].clear();
    QString previous = volumes.value(m_book.chapterIndex);
    for (int i = m_book.chapterIndex + 1; i <= m_book.lastIndex && i < volumes.size(); ++i) {
        if (volumes.at(i).compare(previous, Qt::CaseInsensitive) == 0)
            volumes[i].clear();
        else
            previous = volumes.at(i);
    }
}
