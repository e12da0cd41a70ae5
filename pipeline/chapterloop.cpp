#include "pipeline/chapterloop.h"

#include "analysis/contents.h"
#include "analysis/scriptengine.h"
#include "browser/hiddenbrowser.h"
#include "net/urlreachable.h"
#include "pattern/combineurl.h"
#include "pattern/htmltotext.h"
#include "pattern/pattern.h"
#include "pipeline/bookwrite.h"
#include "pipeline/downloadjob.h"
#include "pipeline/jobview.h"
#include "pipeline/textaddress.h"
#include "text/charset.h"
#include "text/typeset.h"

using namespace Qt::StringLiterals;

namespace {

// While a chapter page is taken apart its line ends are these two characters, so that the page
// is one line and a rule's "." crosses line ends.
constexpr QChar kCarriageReturnMark = u'\u000E';
constexpr QChar kLineFeedMark = u'\u000F';

// Far more follow-on pages than any real chapter has; a site that goes on past this is broken.
constexpr qsizetype kMaxChapterPages = 1000;

} // namespace

ChapterLoop::ChapterLoop(DownloadJob &job, JobView &view, PageFetcher &fetcher,
                         ScriptEngine &scripts, HiddenBrowser &renderer)
    : m_job(job)
    , m_view(view)
    , m_fetcher(fetcher)
    , m_scripts(scripts)
    , m_renderer(renderer) {}

void ChapterLoop::contentsStep() {
    const JobInputs &inputs = m_job.inputs;
    const ContentsRequest request{inputs.contentsUrl, inputs.firstChapterUrl, inputs.lastChapterUrl,
                                  inputs.smallChapters};
    m_scripts.startJob();
    ContentsAnalysis analysis(m_job.rules, request, m_scripts, m_job.book);
    if (analysis.analyseContents(m_job.pageText)) {
        m_view.noteFailure(u"目录页里找不到章节"_s);
        m_job.endState = EndState::Failure;
        return;
    }
    if (m_job.book.chapterIndex > m_job.book.lastIndex) {
        m_view.noteFailure(u"起始章节在结束章节之后"_s);
        m_job.endState = EndState::Failure;
        return;
    }
    m_job.rangeStart = m_job.book.chapterIndex;
    m_pending.reset(); // what a job that failed or stopped left
    m_outline = book::BookOutline();
    m_job.continuation = false;
    m_fetcher.planChapters(m_job.book.chapters.chapterUrls, m_job.book.chapterIndex,
                           m_job.book.lastIndex);
    showBookProgress();
    requestChapter();
}

void ChapterLoop::chapterStep(const QString &page) {
    if (m_view.stopRequested()) {
        m_job.endState = EndState::Stopped;
        return;
    }
    const BookContents &book = m_job.book;
    if (book.chapterIndex < 0 || book.chapterIndex >= book.chapters.chapterUrls.size()) {
        m_job.endState = EndState::Failure;
        return;
    }
    const QString chapterUrl = book.chapters.chapterUrls.at(book.chapterIndex);

    QString marked = page;
    marked.replace(u'\r', kCarriageReturnMark);
    marked.replace(u'\n', kLineFeedMark);
    QString failedRule;
    norModule::MatchFailure failure;
    const auto found = norModule::findValue(marked, m_job.rules.tagText, &failedRule, &failure);
    if (!found) {
        failRule(u"tagText"_s, failedRule, failure);
        return;
    }
    QString text = *found;
    if (m_job.pageKind == PageKind::Chapter) {
        // A short capture that opens as a page is the address of the chapter's text.
        const auto candidate = pipeline::textAddress(chapterUrl, text);
        if (candidate && norModule::urlReachable(*candidate, m_job.inputs.contentsUrl)) {
            m_job.pageKind = PageKind::ChapterText;
            m_fetcher.handleWeb(*candidate);
            return;
        }
    }

    // A page the rules find no text in is often the site's own answer in place of the chapter:
    // a bot check, "too many requests". It is never kept for a rerun and is fetched again while
    // retries are allowed; a chapter that never gives text is named in the job's report.
    const bool hasText = !typeset::cleanText(text, false).isEmpty();
    if (!hasText && m_fetcher.rejectPage(u"网页里找不到正文"_s))
        return;
    m_chapterHasText = m_chapterHasText || hasText;

    // The text goes into the book while the next request waits for its answer. The hidden
    // browser's conversion, which may fail the job, is done at once.
    if (!addPendingText())
        return;
    m_pending = PendingText{std::move(text), book.chapterIndex, m_job.continuation};
    if (m_job.inputs.browserText && !addPendingText())
        return;

    // The follow-on link is looked for in the page as decoded, with its line breaks, and
    // resolved against the chapter's own address.
    const auto next =
        norModule::findValue(m_job.pageText, m_job.rules.tagNext, &failedRule, &failure);
    if (!next) {
        failRule(u"tagNext"_s, failedRule, failure);
        return;
    }
    if (!next->isEmpty()) {
        const QString address = norModule::combineUrl(chapterUrl, *next);
        // A follow-on link back to a page of this chapter would go round for ever: the chapter
        // ends there.
        if (!m_chapterPages.contains(address)) {
            if (m_chapterPages.size() >= kMaxChapterPages) {
                m_view.noteFailure(u"章节页数超过 %1：%2"_s.arg(kMaxChapterPages).arg(chapterUrl));
                m_job.endState = EndState::Failure;
                return;
            }
            m_chapterPages.insert(address);
            m_job.continuation = true;
            m_job.pageKind = PageKind::Chapter;
            m_fetcher.handleWeb(address);
            return;
        }
    }

    if (!m_chapterHasText) {
        m_job.report.chaptersWithoutText.append(
            {book.chapters.chapterNames.value(book.chapterIndex), chapterUrl});
    }
    ++m_job.book.chapterIndex;
    if (m_job.book.chapterIndex > m_job.book.lastIndex) {
        finishBook();
        return;
    }
    m_job.continuation = false;
    showBookProgress();
    requestChapter();
}

void ChapterLoop::whileWaiting() {
    // Without the hidden browser the text cannot fail to go in.
    addPendingText();
}

bool ChapterLoop::addPendingText() {
    if (!m_pending)
        return true;
    PendingText pending = std::move(*m_pending);
    m_pending.reset();
    if (typeset::cleanText(pending.text, false).isEmpty())
        return true;
    const auto bookText = bookTextOf(std::move(pending.text), pending.index, pending.continuation);
    if (!bookText) {
        m_view.noteFailure(u"隐藏浏览器无法转换章节文字"_s);
        m_job.endState = EndState::Failure;
        return false;
    }
    m_job.bookText += *bookText;
    return true;
}

std::optional<QString> ChapterLoop::bookTextOf(QString text, int index, bool continuation) {
    text = norModule::regReplace(text, m_job.rules.tagDel, QString());
    text.replace(kCarriageReturnMark, u'\r');
    text.replace(kLineFeedMark, u'\r');
    if (m_job.inputs.browserText) {
        const auto rendered = m_renderer.renderedText(text);
        if (!rendered)
            return std::nullopt;
        text = *rendered;
    } else {
        norModule::htmlToText(text);
    }

    const QString name = m_job.book.chapters.chapterNames.value(index);
    const QString volume = m_job.book.chapters.volumeNames.value(index);
    typeset::typesetChapter(text, name, m_job.inputs.deleteTitle);

    if (m_job.inputs.format == BookFormat::Epub)
        m_outline.addPage(text, volume, name, !continuation);
    // Headings only on a chapter's first page.
    return book::bookPiece(text, volume, name, !continuation);
}

std::optional<QString> ChapterLoop::followOnOf(int chapter, const QString &pageText) {
    // As chapterStep finds it: in the page as decoded, against the chapter's own address. A page
    // whose text turns out to live elsewhere is guessed wrong, which costs one request.
    const QStringList &urls = m_job.book.chapters.chapterUrls;
    if (chapter < 0 || chapter >= urls.size())
        return std::nullopt;
    const auto next = norModule::findValue(pageText, m_job.rules.tagNext);
    if (!next || next->isEmpty())
        return std::nullopt;
    return norModule::combineUrl(urls.at(chapter), *next);
}

void ChapterLoop::requestChapter() {
    m_fetcher.beginChapter(m_job.book.chapterIndex);
    m_job.pageKind = PageKind::Chapter;
    const QString address = m_job.book.chapters.chapterUrls.at(m_job.book.chapterIndex);
    m_chapterPages = {address};
    m_chapterHasText = false;
    m_fetcher.handleWeb(address);
}

void ChapterLoop::failRule(const QString &key, const QString &rule,
                           const norModule::MatchFailure &failure) {
    if (failure.limit)
        m_view.noteFailure(u"规则 %1 在这一页上超出匹配上限：%2"_s.arg(key, rule));
    else
        m_view.noteFailure(
            u"规则 %1 在这一页上无法匹配（%2）：%3"_s.arg(key, failure.message, rule));
    m_job.endState = EndState::Failure;
}

void ChapterLoop::finishBook() {
    if (!addPendingText())
        return;
    m_job.bookText = book::bookText(m_job.book.bookTitle, m_job.book.bookAuthor, m_job.bookText);
    m_outline.title = m_job.book.bookTitle;
    m_outline.author = m_job.book.bookAuthor;
    if (m_job.inputs.format == BookFormat::Text)
        m_job.report.unencodable = charset::unencodableCount(m_job.bookText, m_job.inputs.encoding);
    if (!pipeline::writeBook(m_job.bookText, m_outline, m_job.inputs, m_view))
        m_job.endState = EndState::Failure;
}

void ChapterLoop::showBookProgress() {
    const int begun = m_job.book.chapterIndex - m_job.rangeStart + 1;
    const int total = m_job.book.lastIndex - m_job.rangeStart + 1;
    m_view.setBookProgress(double(begun) / total);
    m_view.showChapterProgress(begun, total);
}
