#include "cli/rulecheck.h"

#include "analysis/contents.h"
#include "analysis/scriptengine.h"
#include "book/bookoutline.h"
#include "browser/hiddenbrowser.h"
#include "cli/ruleprobe.h"
#include "net/urlreachable.h"
#include "pattern/combineurl.h"
#include "pattern/htmltotext.h"
#include "pattern/pattern.h"
#include "pipeline/downloadjob.h"
#include "pipeline/loadsiterules.h"
#include "pipeline/pagefetch.h"
#include "pipeline/textaddress.h"
#include "settings/inimodule.h"
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

// As the chapter loop: a chapter page's line ends become these marks while tagText runs on it.
constexpr QChar kCarriageReturnMark = u'\u000E';
constexpr QChar kLineFeedMark = u'\u000F';
// As the chapter loop: far more follow-on pages than any real chapter has.
constexpr qsizetype kMaxChapterPages = 1000;
constexpr int kShownLines = 20;
constexpr int kShownChapters = 3;

const std::array<QString, 3> kKindNames{u"contents"_s, u"chapter"_s, u"chapterText"_s};

// A view that shows nothing while the pages arrive: the report comes at the end, and the
// reasons of failed requests go into it.
class QuietView : public JobView {
public:
    explicit QuietView(const JobInputs &inputs)
        : m_inputs(inputs) {}
    JobInputs jobInputs() const override { return m_inputs; }
    void setStatus(const QString &) override {}
    void showSpeed(double) override {}
    void setPageProgress(double) override {}
    void setBookProgress(double) override {}
    bool stopRequested() const override { return false; }
    bool confirmReplace(const QString &) override { return false; }
    void processEvents() override { QCoreApplication::processEvents(); }
    void showRunning(bool) override {}
    void noteFailure(const QString &reason) override { failures.append(reason); }

    QStringList failures;

private:
    JobInputs m_inputs;
};

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

class RuleCheck : public PageSteps {
public:
    RuleCheck(const JobInputs &inputs, const QString &chapterUrl)
        : m_view(inputs)
        , m_browser(nullptr, HiddenBrowser::Layout::Skipped)
        , m_fetcher(m_job, m_view, m_http, m_browser, m_renderer)
        , m_chosenChapter(chapterUrl) {
        m_job.inputs = inputs;
    }

    QJsonObject run();
    void contentsStep() override;
    void chapterStep(const QString &page) override;

private:
    void fetch(const QString &url, PageKind kind);
    void recordPage();
    QJsonObject bookReport(const RuleProbe &volume, const RuleProbe::Run &volumes,
                           const RuleProbe::Run &chapters);
    void checkChapterLinks();
    void checkTextLength(const RuleProbe::Run &run, const QString &text);
    // The page's text as the book has it: tagDel applied, converted and typeset, with headings.
    QString bookPieceOf(QString text);
    QJsonObject chapterReport() const;

    QuietView m_view;
    DownloadJob m_job;
    HttpClient m_http;
    HiddenBrowser m_browser;  // loads the contents page for its cookie
    HiddenBrowser m_renderer; // builds scripted pages and renders chapter text
    ScriptEngine m_scripts;
    PageFetcher m_fetcher;
    QString m_chosenChapter;

    QJsonArray m_problems;
    QJsonArray m_pages;
    QJsonArray m_rules;
    QJsonObject m_book;
    std::array<bool, 3> m_charsetConfigured{};
    std::unique_ptr<RuleProbe> m_text;
    std::unique_ptr<RuleProbe> m_del;
    std::unique_ptr<RuleProbe> m_next;
    QString m_requested; // the address of the page in flight
    QElapsedTimer m_pageClock;

    bool m_contentsDone = false;
    int m_chapterIndex = -1; // in the chapter list; -1 for a --chapter address not in it
    QString m_chapterUrl;
    QString m_chapterName;
    QString m_chapterVolume;
    QSet<QString> m_chapterPages;
    QStringList m_followed;
    QStringList m_removed;
    QString m_textAddress;
    QString m_chapterText;
    bool m_chapterDone = false;
};

QJsonObject RuleCheck::run() {
    const QString &contentsUrl = m_job.inputs.contentsUrl;
    // The site's section is named as a job names it.
    const QString host = norModule::regMatch(contentsUrl, u"//(.*?)/"_s);
    QJsonObject report{{u"contentsUrl"_s, contentsUrl},
                       {u"host"_s, host},
                       {u"settingsFile"_s, iniModule::settingsFilePath()}};
    const QString plugin = iniModule::readSetting(host, u"plugins"_s, QString());
    if (!plugin.isEmpty()) {
        addProblem(m_problems, u"plugins"_s, u"plugin-site"_s,
                   u"the site is read by the plug-in %1, not by rules; there is nothing to "
                   u"check"_s.arg(plugin));
    } else if (pipeline::loadSiteRules(m_job, m_view)) {
        addProblem(m_problems, u"tagTitle"_s, u"no-rules"_s,
                   u"the settings file has no section [%1] with a tagTitle rule"_s.arg(host));
    } else {
        const SiteRules &rules = m_job.rules;
        for (size_t kind = 0; kind < m_charsetConfigured.size(); ++kind)
            m_charsetConfigured[kind] = !rules.tagCharset[kind].isEmpty();
        report[u"switches"_s] = QJsonObject{{u"tagSort"_s, !rules.tagSort.isEmpty()},
                                            {u"tagUrl"_s, !rules.tagUrl.isEmpty()},
                                            {u"tagHtml"_s, !rules.tagHtml.isEmpty()}};
        m_text = std::make_unique<RuleProbe>(u"tagText"_s, rules.tagText, Takes::FirstMatch, 1,
                                             m_problems);
        m_del = std::make_unique<RuleProbe>(u"tagDel"_s, rules.tagDel, Takes::Every, 0, m_problems);
        m_next = std::make_unique<RuleProbe>(u"tagNext"_s, rules.tagNext, Takes::FirstMatch, 1,
                                             m_problems);
        m_fetcher.setSteps(this);
        m_job.endState = EndState::Success;
        fetch(contentsUrl, PageKind::Contents);
        for (const auto &probe : {m_text.get(), m_del.get(), m_next.get()}) {
            QJsonObject rule = probe->report();
            rule[u"page"_s] = u"chapter"_s;
            m_rules.append(rule);
        }
    }
    for (const QString &failure : std::as_const(m_view.failures))
        addProblem(m_problems, QString(), u"fetch"_s, failure);
    const bool bookPossible = m_contentsDone && m_chapterDone && visibleLength(m_chapterText) > 0 &&
                              m_view.failures.isEmpty();
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

void RuleCheck::fetch(const QString &url, PageKind kind) {
    m_requested = url;
    m_job.pageKind = kind;
    m_pageClock.start();
    m_fetcher.handleWeb(url);
}

void RuleCheck::recordPage() {
    const size_t kind = size_t(m_job.pageKind);
    m_pages.append(QJsonObject{{u"kind"_s, kKindNames.at(kind)},
                               {u"url"_s, m_requested},
                               {u"charset"_s, m_job.rules.tagCharset.at(kind)},
                               {u"charsetConfigured"_s, m_charsetConfigured.at(kind)},
                               {u"gzip"_s, m_job.gzipBody},
                               {u"bytes"_s, m_job.receivedLength},
                               {u"milliseconds"_s, m_pageClock.elapsed()}});
}

void RuleCheck::contentsStep() {
    recordPage();
    const SiteRules &rules = m_job.rules;
    // The contents rules run on the page as the analysis sees it: one line.
    QString flat = m_job.pageText;
    flat.remove(u'\r');
    flat.remove(u'\n');
    RuleProbe title(u"tagTitle"_s, rules.tagTitle, Takes::FirstMatch, 1, m_problems);
    RuleProbe author(u"tagAuthor"_s, rules.tagAuthor, Takes::FirstMatch, 1, m_problems);
    RuleProbe volume(u"tagVolume"_s, rules.tagVolume, Takes::LastMatch, 1, m_problems);
    RuleProbe chapter(u"tagChapter"_s, rules.tagChapter, Takes::FirstMatch, 2, m_problems);
    title.run(flat, m_requested);
    author.run(flat, m_requested);
    const RuleProbe::Run volumes = volume.run(flat, m_requested);
    const RuleProbe::Run chapters = chapter.run(flat, m_requested);
    for (const RuleProbe *probe : {&title, &author, &volume, &chapter}) {
        QJsonObject rule = probe->report();
        rule[u"page"_s] = u"contents"_s;
        m_rules.append(rule);
    }

    const JobInputs &inputs = m_job.inputs;
    const ContentsRequest request{inputs.contentsUrl, inputs.firstChapterUrl, inputs.lastChapterUrl,
                                  inputs.smallChapters};
    m_scripts.startJob();
    QElapsedTimer clock;
    clock.start();
    const bool failed =
        ContentsAnalysis(rules, request, m_scripts, m_job.book).analyseContents(m_job.pageText);
    m_book = bookReport(volume, volumes, chapters);
    m_book[u"analysisMilliseconds"_s] = clock.elapsed();
    const BookContents &book = m_job.book;
    if (failed) {
        addProblem(m_problems, u"tagChapter"_s, u"no-chapters"_s,
                   u"the contents analysis found no chapter on %1"_s.arg(m_requested));
        return;
    }
    checkChapterLinks();
    if (book.chapterIndex > book.lastIndex) {
        addProblem(m_problems, QString(), u"range"_s,
                   u"the first wanted chapter comes after the last"_s);
        return;
    }
    m_contentsDone = true;

    const ChapterList &list = book.chapters;
    m_chapterIndex = book.chapterIndex;
    if (!m_chosenChapter.isEmpty()) {
        m_chapterIndex = -1;
        for (int i = 0; i < list.chapterUrls.size() && m_chapterIndex < 0; ++i) {
            if (list.chapterUrls.at(i).compare(m_chosenChapter, Qt::CaseInsensitive) == 0)
                m_chapterIndex = i;
        }
    }
    m_chapterUrl = m_chapterIndex < 0 ? m_chosenChapter : list.chapterUrls.at(m_chapterIndex);
    m_chapterName = list.chapterNames.value(m_chapterIndex);
    m_chapterVolume = list.volumeNames.value(m_chapterIndex);
    m_chapterPages = {m_chapterUrl};
    m_job.continuation = false;
    fetch(m_chapterUrl, PageKind::Chapter);
}

QJsonObject RuleCheck::bookReport(const RuleProbe &volume, const RuleProbe::Run &volumes,
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

void RuleCheck::checkChapterLinks() {
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
    addProblem(m_problems, u"tagChapter"_s, u"foreign-host"_s,
               u"%1 of %2 chapter links resolve to another host than the contents page, the "
               u"first to %3"_s.arg(foreign)
                   .arg(urls.size())
                   .arg(*firstForeign));
}

void RuleCheck::chapterStep(const QString &page) {
    recordPage();
    QString marked = page;
    marked.replace(u'\r', kCarriageReturnMark);
    marked.replace(u'\n', kLineFeedMark);
    const RuleProbe::Run textRun = m_text->run(marked, m_requested);
    // The value exactly as the chapter loop takes it.
    const auto found = norModule::findValue(marked, m_job.rules.tagText);
    if (!found)
        return;
    const QString text = *found;
    if (m_job.pageKind == PageKind::Chapter) {
        const auto candidate = pipeline::textAddress(m_chapterUrl, text);
        if (candidate && norModule::urlReachable(*candidate, m_job.inputs.contentsUrl)) {
            m_textAddress = *candidate;
            fetch(*candidate, PageKind::ChapterText);
            return;
        }
    }
    checkTextLength(textRun, text);
    if (!typeset::cleanText(text, false).isEmpty())
        m_chapterText += bookPieceOf(text);

    // Found in the page as decoded, resolved against the chapter's own address.
    m_next->run(m_job.pageText, m_requested);
    const auto next = norModule::findValue(m_job.pageText, m_job.rules.tagNext);
    if (!next)
        return;
    if (!next->isEmpty()) {
        const QString address = norModule::combineUrl(m_chapterUrl, *next);
        if (!m_chapterPages.contains(address)) {
            if (m_chapterPages.size() >= kMaxChapterPages) {
                addProblem(m_problems, u"tagNext"_s, u"endless-pages"_s,
                           u"tagNext leads on past %1 pages"_s.arg(kMaxChapterPages));
                return;
            }
            m_chapterPages.insert(address);
            m_followed.append(address);
            m_job.continuation = true;
            fetch(address, PageKind::Chapter);
            return;
        }
    }
    m_chapterDone = true;
}

void RuleCheck::checkTextLength(const RuleProbe::Run &run, const QString &text) {
    QString plain = text;
    plain.replace(kCarriageReturnMark, u'\r');
    plain.replace(kLineFeedMark, u'\r');
    norModule::htmlToText(plain);
    const qsizetype length = visibleLength(plain);
    const qsizetype longest = longestTextBlock(m_job.pageText);
    if (run.used < 0) {
        addProblem(m_problems, u"tagText"_s, u"empty-text"_s,
                   u"tagText matches nothing on %1, so its text is empty"_s.arg(m_requested));
    } else if (length == 0) {
        addProblem(m_problems, u"tagText"_s, u"empty-text"_s,
                   u"tagText's match on %1 is empty"_s.arg(m_requested));
    } else if (length * 2 < longest) {
        addProblem(
            m_problems, u"tagText"_s, u"short-text"_s,
            u"tagText's match on %1 holds %2 characters of text, far shorter than the "
            u"page's longest text block (%3): it probably takes the wrong block"_s.arg(m_requested)
                .arg(length)
                .arg(longest));
    }
}

QString RuleCheck::bookPieceOf(QString text) {
    for (const norModule::RuleMatch &match : m_del->runDeletions(text, m_requested).matches)
        m_removed.append(match.matched);
    text.replace(kCarriageReturnMark, u'\r');
    text.replace(kLineFeedMark, u'\r');
    if (m_job.inputs.browserText) {
        const auto rendered = m_renderer.renderedText(text);
        if (!rendered) {
            addProblem(m_problems, u"tagText"_s, u"browser"_s,
                       u"the hidden browser could not convert the chapter's text"_s);
            return {};
        }
        text = *rendered;
    } else {
        norModule::htmlToText(text);
    }
    typeset::typesetChapter(text, m_chapterName, m_job.inputs.deleteTitle);
    return book::bookPiece(text, m_chapterVolume, m_chapterName, !m_job.continuation);
}

QJsonObject RuleCheck::chapterReport() const {
    QStringList lines = m_chapterText.split(u"\r\n"_s);
    // The piece of a chapter's first page begins with the blank lines before its headings.
    while (!lines.isEmpty() && lines.first().isEmpty())
        lines.removeFirst();
    QJsonArray removed;
    for (const QString &stretch : m_removed)
        removed.append(excerpt(stretch));
    return {{u"number"_s, m_chapterIndex + 1},
            {u"url"_s, m_chapterUrl},
            {u"name"_s, m_chapterName},
            {u"volume"_s, m_chapterVolume},
            {u"textAddress"_s, m_textAddress},
            {u"followed"_s, QJsonArray::fromStringList(m_followed)},
            {u"removed"_s, removed},
            {u"lineCount"_s, lines.size()},
            {u"lines"_s, QJsonArray::fromStringList(lines.mid(0, kShownLines))}};
}

} // namespace

QJsonObject checkRules(const JobInputs &inputs, const QString &chapterUrl) {
    RuleCheck check(inputs, chapterUrl);
    return check.run();
}

} // namespace rulecheck
