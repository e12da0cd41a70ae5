#include "cli/rulecheck.h"

#include "cli/quietview.h"
#include "cli/ruleprobe.h"
#include "cli/searchcheck.h"
#include "pattern/htmltotext.h"
#include "pattern/pattern.h"
#include "pipeline/chapterpage.h"
#include "pipeline/downloadjob.h"
#include "pipeline/jobfactory.h"
#include "pipeline/loadsiterules.h"
#include "pipeline/rulechecksteps.h"
#include "settings/inimodule.h"
#include "settings/sitekeys.h"
#include "text/typeset.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace rulecheck {

namespace {

constexpr int kShownLines = 20;
constexpr int kShownChapters = 3;

const std::array<QString, 3> kKindNames{u"contents"_s, u"chapter"_s, u"chapterText"_s};

// The characters of text that are not blank.
qsizetype visibleLength(const QString &text) {
    return std::count_if(text.cbegin(), text.cend(), [](QChar c) { return !c.isSpace(); });
}

// The length of the longest stretch of text on a page between block-level tags (paragraph and
// line-break tags do not end a block, as a chapter's text is full of them); scripts and styles
// are not text.
qsizetype longestTextBlock(const QString &page) {
    QString text = norModule::regReplace(
        page, u"<script[\\s\\S]*?</script>|<style[\\s\\S]*?</style>|<!--[\\s\\S]*?-->"_s,
        QString());
    text = norModule::regReplace(text,
                                 u"</?(div|td|th|tr|table|body|section|article|main|header|"
                                 u"footer|nav|aside|ul|ol|li|dl|dt|dd|h[1-6]|pre|blockquote|"
                                 u"form)\\b[^>]*>"_s,
                                 u"\u0001"_s);
    qsizetype longest = 0;
    for (QString block : text.split(u'\u0001')) {
        norModule::htmlToText(block);
        longest = std::max(longest, visibleLength(block));
    }
    return longest;
}

bool sameHost(const QUrl &a, const QUrl &b) {
    const auto port = [](const QUrl &url) {
        return url.port(url.scheme().compare(u"https"_s, Qt::CaseInsensitive) == 0 ? 443 : 80);
    };
    return a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && port(a) == port(b);
}

QJsonObject chapterEntry(const ChapterList &list, int index) {
    return {{u"number"_s, index + 1},
            {u"name"_s, list.chapterNames.value(index)},
            {u"url"_s, list.chapterUrls.value(index)}};
}

// The report, built from what the rule check's steps meet.
class CheckReport : public RuleCheckRecorder {
public:
    explicit CheckReport(const JobInputs &inputs) { m_job.inputs = inputs; }

    // Runs the check, view taking the reasons of failed requests; with a search title, the
    // site's search rules too.
    QJsonObject run(const QString &chosenChapter, const QString &searchTitle, QuietView &view);

    void pageArrived(const FetchedPage &page) override;
    void contentsAnalysed(bool found, qint64 milliseconds) override;
    void rangeReversed() override;
    void chapterChosen(int index, const QString &url) override;
    void ruleRuns(const QString &key, const QString &text, const FetchedPage &where) override;
    void textAddress(const QString &address) override;
    void textTaken(const QString &capture, const FetchedPage &page) override;
    void piece(const std::optional<QString> &piece) override;
    void followed(const QString &address) override;
    void tooManyPages() override;
    void chapterDone() override { m_chapterDone = true; }

private:
    void contentsRules(const FetchedPage &page);
    QJsonObject bookReport(const RuleProbe &volume, const RuleProbe::Run &volumes,
                           const RuleProbe::Run &chapters);
    void checkChapterLinks();
    QJsonObject chapterReport() const;

    DownloadJob m_job;
    QJsonArray m_problems;
    QJsonArray m_pages;
    QJsonArray m_rules;
    QJsonObject m_book;
    std::array<bool, 3> m_charsetConfigured{};
    std::unique_ptr<RuleProbe> m_text;
    std::unique_ptr<RuleProbe> m_del;
    std::unique_ptr<RuleProbe> m_next;
    // tagVolume's and tagChapter's on the contents page, for the book's part of the report.
    std::unique_ptr<RuleProbe> m_volume;
    RuleProbe::Run m_volumes;
    RuleProbe::Run m_chapters;
    RuleProbe::Run m_textRun; // tagText's on the page in hand
    // From the request of the page in hand: each request is made as its step returns.
    QElapsedTimer m_pageClock;

    bool m_contentsDone = false;
    int m_chapterIndex = -1; // in the chapter list; -1 for a --chapter address not in it
    QString m_chapterUrl;
    QStringList m_followed;
    QStringList m_removed;
    QString m_textAddress;
    QString m_chapterText;
    bool m_chapterDone = false;
};

QJsonObject CheckReport::run(const QString &chosenChapter, const QString &searchTitle,
                             QuietView &view) {
    DownloadJob &job = m_job;
    JobParts parts(job, view, nullptr);
    const QString &contentsUrl = m_job.inputs.contentsUrl;
    // The site's section is found and read as a job finds and reads it; a plug-in is not started.
    const bool hasRules = pipeline::loadSiteRules(job, view, pipeline::PluginUse::Skip);
    const QString &host = m_job.host;
    QJsonObject report{{u"contentsUrl"_s, contentsUrl},
                       {u"host"_s, host},
                       {u"settingsFile"_s, iniModule::settingsFilePath()}};
    const QString plugin = siteKeys::read(host, siteKeys::Key::Plugins);
    if (!plugin.isEmpty()) {
        addProblem(m_problems, siteKeys::name(siteKeys::Key::Plugins), u"plugin-site"_s,
                   u"the site is read by the plug-in %1, not by rules; there is nothing to "
                   u"check"_s.arg(plugin));
    } else if (!hasRules) {
        addProblem(m_problems, siteKeys::name(siteKeys::Key::TagTitle), u"no-rules"_s,
                   u"the settings file has no section [%1] with a tagTitle rule"_s.arg(host));
    } else {
        const SiteRules &rules = m_job.rules;
        for (size_t kind = 0; kind < m_charsetConfigured.size(); ++kind)
            m_charsetConfigured[kind] = !rules.tagCharset[kind].isEmpty();
        report[u"switches"_s] =
            QJsonObject{{siteKeys::name(siteKeys::Key::TagSort), !rules.tagSort.isEmpty()},
                        {siteKeys::name(siteKeys::Key::TagUrl), !rules.tagUrl.isEmpty()},
                        {siteKeys::name(siteKeys::Key::TagHtml), !rules.tagHtml.isEmpty()}};
        m_text = std::make_unique<RuleProbe>(siteKeys::name(siteKeys::Key::TagText), rules.tagText,
                                             Takes::FirstMatch, 1, m_problems);
        m_del = std::make_unique<RuleProbe>(siteKeys::name(siteKeys::Key::TagDel), rules.tagDel,
                                            Takes::Every, 0, m_problems);
        m_next = std::make_unique<RuleProbe>(siteKeys::name(siteKeys::Key::TagNext), rules.tagNext,
                                             Takes::FirstMatch, 1, m_problems);
        RuleCheckSteps steps(job, parts.fetcher, parts.scripts, parts.renderer, *this,
                             chosenChapter);
        parts.fetcher.setSteps(&steps);
        m_pageClock.start();
        parts.fetcher.handleWeb(contentsUrl, PageKind::Contents);
        for (const auto &probe : {m_text.get(), m_del.get(), m_next.get()}) {
            QJsonObject rule = probe->report();
            rule[u"page"_s] = u"chapter"_s;
            m_rules.append(rule);
        }
    }
    for (const QString &failure : std::as_const(view.failures))
        addProblem(m_problems, QString(), u"fetch"_s, failure);
    if (!searchTitle.isEmpty())
        report[u"search"_s] = checkSearch(host, searchTitle, m_problems);
    const bool bookPossible = m_contentsDone && m_chapterDone && visibleLength(m_chapterText) > 0 &&
                              view.failures.isEmpty();
    report[u"pages"_s] = m_pages;
    report[u"cookieLength"_s] = m_job.savedCookie.size();
    report[u"rules"_s] = m_rules;
    if (!m_book.isEmpty())
        report[u"book"_s] = m_book;
    if (!m_chapterUrl.isEmpty())
        report[u"chapter"_s] = chapterReport();
    report[u"problems"_s] = m_problems;
    report[u"bookPossible"_s] = bookPossible;
    return report;
}

void CheckReport::pageArrived(const FetchedPage &page) {
    const size_t kind = size_t(page.kind);
    m_pages.append(QJsonObject{{u"kind"_s, kKindNames.at(kind)},
                               {u"url"_s, page.url},
                               {u"charset"_s, m_job.rules.tagCharset.at(kind)},
                               {u"charsetConfigured"_s, m_charsetConfigured.at(kind)},
                               {u"gzip"_s, page.gzip},
                               {u"bytes"_s, page.receivedLength},
                               {u"milliseconds"_s, m_pageClock.elapsed()}});
    if (page.kind == PageKind::Contents)
        contentsRules(page);
}

void CheckReport::contentsRules(const FetchedPage &page) {
    const SiteRules &rules = m_job.rules;
    // The contents rules run on the page as the analysis sees it: one line.
    QString flat = page.text;
    flat.remove(u'\r');
    flat.remove(u'\n');
    RuleProbe title(siteKeys::name(siteKeys::Key::TagTitle), rules.tagTitle, Takes::FirstMatch, 1,
                    m_problems);
    RuleProbe author(siteKeys::name(siteKeys::Key::TagAuthor), rules.tagAuthor, Takes::FirstMatch,
                     1, m_problems);
    m_volume = std::make_unique<RuleProbe>(siteKeys::name(siteKeys::Key::TagVolume),
                                           rules.tagVolume, Takes::LastMatch, 1, m_problems);
    RuleProbe chapter(siteKeys::name(siteKeys::Key::TagChapter), rules.tagChapter,
                      Takes::FirstMatch, 2, m_problems);
    title.run(flat, page.url);
    author.run(flat, page.url);
    m_volumes = m_volume->run(flat, page.url);
    m_chapters = chapter.run(flat, page.url);
    for (const RuleProbe *probe : {&title, &author, m_volume.get(), &chapter}) {
        QJsonObject rule = probe->report();
        rule[u"page"_s] = u"contents"_s;
        m_rules.append(rule);
    }
}

void CheckReport::contentsAnalysed(bool found, qint64 milliseconds) {
    m_book = bookReport(*m_volume, m_volumes, m_chapters);
    m_book[u"analysisMilliseconds"_s] = milliseconds;
    if (!found) {
        addProblem(m_problems, siteKeys::name(siteKeys::Key::TagChapter), u"no-chapters"_s,
                   u"the contents analysis found no chapter on %1"_s.arg(m_job.inputs.contentsUrl));
        return;
    }
    checkChapterLinks();
}

void CheckReport::rangeReversed() {
    addProblem(m_problems, QString(), u"range"_s,
               u"the first wanted chapter comes after the last"_s);
}

void CheckReport::chapterChosen(int index, const QString &url) {
    m_contentsDone = true;
    m_chapterIndex = index;
    m_chapterUrl = url;
    m_pageClock.start();
}

void CheckReport::ruleRuns(const QString &key, const QString &text, const FetchedPage &where) {
    if (key == siteKeys::name(siteKeys::Key::TagText)) {
        m_textRun = m_text->run(text, where.url);
    } else if (key == siteKeys::name(siteKeys::Key::TagDel)) {
        QString left = text;
        for (const norModule::RuleMatch &match : m_del->runDeletions(left, where.url).matches)
            m_removed.append(match.matched);
    } else {
        m_next->run(text, where.url);
    }
}

void CheckReport::textAddress(const QString &address) {
    m_textAddress = address;
    m_pageClock.start();
}

void CheckReport::textTaken(const QString &capture, const FetchedPage &page) {
    QString plain = chapterpage::unmarkLineEnds(capture);
    norModule::htmlToText(plain);
    const qsizetype length = visibleLength(plain);
    const qsizetype longest = longestTextBlock(page.text);
    if (m_textRun.used < 0) {
        addProblem(m_problems, siteKeys::name(siteKeys::Key::TagText), u"empty-text"_s,
                   u"tagText matches nothing on %1, so its text is empty"_s.arg(page.url));
    } else if (length == 0) {
        addProblem(m_problems, siteKeys::name(siteKeys::Key::TagText), u"empty-text"_s,
                   u"tagText's match on %1 is empty"_s.arg(page.url));
    } else if (length * 2 < longest) {
        addProblem(
            m_problems, siteKeys::name(siteKeys::Key::TagText), u"short-text"_s,
            u"tagText's match on %1 holds %2 characters of text, far shorter than the "
            u"page's longest text block (%3): it probably takes the wrong block"_s.arg(page.url)
                .arg(length)
                .arg(longest));
    }
}

void CheckReport::piece(const std::optional<QString> &piece) {
    if (!piece) {
        addProblem(m_problems, siteKeys::name(siteKeys::Key::TagText), u"browser"_s,
                   u"the hidden browser could not convert the chapter's text"_s);
        return;
    }
    m_chapterText += *piece;
}

void CheckReport::followed(const QString &address) {
    m_followed.append(address);
    m_pageClock.start();
}

void CheckReport::tooManyPages() {
    addProblem(m_problems, siteKeys::name(siteKeys::Key::TagNext), u"endless-pages"_s,
               u"tagNext leads on past %1 pages"_s.arg(chapterpage::ChapterPages::kMaxPages));
}

QJsonObject CheckReport::bookReport(const RuleProbe &volume, const RuleProbe::Run &volumes,
                                    const RuleProbe::Run &chapters) {
    const BookContents &book = m_job.book;
    const ChapterList &list = book.chapters;
    // The volumes as the rules see them on the page: each holds the chapter links from its
    // heading to the next one.
    QJsonArray volumeList;
    qsizetype next = 0;
    const auto countBefore = [&](qsizetype end) {
        int count = 0;
        for (; next < chapters.matches.size() && chapters.matches.at(next).start < end; ++next)
            ++count;
        return count;
    };
    const int before = countBefore(volumes.matches.isEmpty() ? -1 : volumes.matches.first().start);
    if (before > 0 && !volumes.matches.isEmpty())
        volumeList.append(QJsonObject{{u"name"_s, QString()}, {u"chapters"_s, before}});
    for (qsizetype v = 0; v < volumes.matches.size(); ++v) {
        const qsizetype end = v + 1 < volumes.matches.size()
                                  ? volumes.matches.at(v + 1).start
                                  : std::numeric_limits<qsizetype>::max();
        const QString name = typeset::cleanText(volume.value(volumes, volumes.matches.at(v)), true);
        volumeList.append(QJsonObject{{u"name"_s, name}, {u"chapters"_s, countBefore(end)}});
    }
    const int count = int(list.chapterUrls.size());
    QJsonArray first;
    QJsonArray last;
    for (int i = 0; i < std::min(kShownChapters, count); ++i)
        first.append(chapterEntry(list, i));
    for (int i = std::max(kShownChapters, count - kShownChapters); i < count; ++i)
        last.append(chapterEntry(list, i));
    QJsonObject report{{u"title"_s, book.bookTitle}, {u"author"_s, book.bookAuthor},
                       {u"chapterCount"_s, count},   {u"volumes"_s, volumeList},
                       {u"firstChapters"_s, first},  {u"lastChapters"_s, last}};
    if (count > 0)
        report[u"range"_s] = QJsonObject{{u"first"_s, chapterEntry(list, book.chapterIndex)},
                                         {u"last"_s, chapterEntry(list, book.lastIndex)}};
    return report;
}

void CheckReport::checkChapterLinks() {
    const QUrl contents(m_job.inputs.contentsUrl);
    const QStringList &urls = m_job.book.chapters.chapterUrls;
    const auto foreign = std::count_if(urls.cbegin(), urls.cend(), [&](const QString &url) {
        return !sameHost(QUrl(url), contents);
    });
    if (foreign == 0)
        return;
    const auto firstForeign = std::find_if(urls.cbegin(), urls.cend(), [&](const QString &url) {
        return !sameHost(QUrl(url), contents);
    });
    addProblem(m_problems, siteKeys::name(siteKeys::Key::TagChapter), u"foreign-host"_s,
               u"%1 of %2 chapter links resolve to another host than the contents page, the "
               u"first to %3"_s.arg(foreign)
                   .arg(urls.size())
                   .arg(*firstForeign));
}

QJsonObject CheckReport::chapterReport() const {
    QStringList lines = m_chapterText.split(u"\r\n"_s);
    // The piece of a chapter's first page begins with the blank lines before its headings.
    while (!lines.isEmpty() && lines.first().isEmpty())
        lines.removeFirst();
    QJsonArray removed;
    for (const QString &stretch : m_removed)
        removed.append(excerpt(stretch));
    const ChapterList &list = m_job.book.chapters;
    return {{u"number"_s, m_chapterIndex + 1},
            {u"url"_s, m_chapterUrl},
            {u"name"_s, list.chapterNames.value(m_chapterIndex)},
            {u"volume"_s, list.volumeNames.value(m_chapterIndex)},
            {u"textAddress"_s, m_textAddress},
            {u"followed"_s, QJsonArray::fromStringList(m_followed)},
            {u"removed"_s, removed},
            {u"lineCount"_s, lines.size()},
            {u"lines"_s, QJsonArray::fromStringList(lines.mid(0, kShownLines))}};
}

} // namespace

QJsonObject checkRules(const JobInputs &inputs, const QString &chapterUrl,
                       const QString &searchTitle) {
    QuietView view(inputs);
    return CheckReport(inputs).run(chapterUrl, searchTitle, view);
}

} // namespace rulecheck
