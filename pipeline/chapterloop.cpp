#include "pipeline/chapterloop.h"

#include "analysis/contents.h"
#include "analysis/scriptengine.h"
#include "browser/hiddenbrowser.h"
#include "pattern/combineurl.h"
#include "pipeline/downloadjob.h"
#include "pipeline/jobview.h"
#include "settings/sitekeys.h"
#include "text/hugepages.h"
#include "text/typeset.h"

using namespace Qt::StringLiterals;

ChapterLoop::ChapterLoop(DownloadJob &job, JobView &view, PageFetcher &fetcher,
                         ScriptEngine &scripts, HiddenBrowser &renderer)
    : m_job(job)
    , m_view(view)
    , m_fetcher(fetcher)
    , m_scripts(scripts)
    , m_renderer(renderer) {}

void ChapterLoop::contentsStep(const FetchedPage &page) {
    const JobInputs &inputs = m_job.inputs;
    const ContentsRequest request{inputs.contentsUrl, inputs.firstChapterUrl, inputs.lastChapterUrl,
                                  inputs.smallChapters};
    m_scripts.startJob();
    ContentsAnalysis analysis(m_job.rules, request, m_scripts, m_job.book);
    if (!analysis.analyseContents(page.text)) {
        m_fetcher.fail(u"目录页里找不到章节"_s);
        return;
    }
    if (m_job.book.chapterIndex > m_job.book.lastIndex) {
        m_fetcher.fail(u"起始章节在结束章节之后"_s);
        return;
    }
    m_job.rangeStart = m_job.book.chapterIndex;
    // The book's head goes in first: the chapters are appended to it, which spares a copy of the
    // whole book at its end.
    m_job.bookText = book::bookHead(m_job.book.bookTitle, m_job.book.bookAuthor);
    m_pending.reset(); // what a job that failed or stopped left
    m_outline = book::BookOutline();
    m_fetchOrder.clear();
    m_fetchSlot.clear();
    if (m_store) {
        QString error;
        if (!m_store->contentsAnalysed(m_job, &error)) {
            m_fetcher.fail(error);
            return;
        }
        if (m_store->contentsOnly())
            return;
        // Only the chapters to be fetched are fetched ahead.
        QStringList urls;
        for (int i = m_job.book.chapterIndex; i <= m_job.book.lastIndex; ++i) {
            if (!m_store->holds(i)) {
                m_fetchSlot.insert(i, int(m_fetchOrder.size()));
                m_fetchOrder.append(i);
                urls.append(m_job.book.chapters.chapterUrls.at(i));
            }
        }
        m_fetcher.planChapters(urls, 0, int(urls.size()) - 1);
    } else {
        m_fetcher.planChapters(m_job.book.chapters.chapterUrls, m_job.book.chapterIndex,
                               m_job.book.lastIndex);
    }
    showBookProgress();
    requestChapter();
}

void ChapterLoop::chapterStep(const FetchedPage &page) {
    if (m_view.stopRequested()) {
        m_fetcher.stop();
        return;
    }
    const BookContents &book = m_job.book;
    if (book.chapterIndex < 0 || book.chapterIndex >= book.chapters.chapterUrls.size()) {
        m_fetcher.fail(u"章节序号超出目录：%1"_s.arg(book.chapterIndex + 1));
        return;
    }
    const QString &chapterUrl = m_chapterPages.chapterUrl();

    const auto found = chapterpage::chapterText(chapterpage::markLineEnds(page.text), m_job.rules);
    if (!found.value) {
        failRule(siteKeys::name(siteKeys::Key::TagText), found.failedRule, found.failure);
        return;
    }
    QString text = *found.value;
    if (page.kind == PageKind::Chapter) {
        if (const auto address =
                chapterpage::textAddress(chapterUrl, text, m_job.inputs.contentsUrl)) {
            m_fetcher.handleWeb(*address, PageKind::ChapterText);
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
    if (m_store)
        m_captures.append(text);
    m_pending = PendingText{std::move(text),
                            {book.chapters.chapterNames.value(book.chapterIndex),
                             book.chapters.volumeNames.value(book.chapterIndex),
                             !m_chapterPages.following()}};
    if (m_job.inputs.browserText && !addPendingText())
        return;

    const auto link = chapterpage::followOnLink(page.text, m_job.rules);
    if (!link.value) {
        failRule(siteKeys::name(siteKeys::Key::TagNext), link.failedRule, link.failure);
        return;
    }
    QString address;
    switch (m_chapterPages.follow(*link.value, &address)) {
    case chapterpage::ChapterPages::Next::TooMany:
        m_fetcher.fail(
            u"章节页数超过 %1：%2"_s.arg(chapterpage::ChapterPages::kMaxPages).arg(chapterUrl));
        return;
    case chapterpage::ChapterPages::Next::Follow:
        m_fetcher.handleWeb(address, PageKind::Chapter);
        return;
    case chapterpage::ChapterPages::Next::End:
        break;
    }

    if (!m_chapterHasText) {
        m_job.report.chaptersWithoutText.append(
            {book.chapters.chapterNames.value(book.chapterIndex), chapterUrl});
    }
    if (m_store) {
        QString error;
        if (!m_store->chapterFetched(book.chapterIndex, m_captures, &error)) {
            m_fetcher.fail(error);
            return;
        }
    }
    ++m_job.book.chapterIndex;
    if (m_job.book.chapterIndex > m_job.book.lastIndex) {
        finishBook();
        return;
    }
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
    const auto piece = chapterpage::bookPiece(std::move(pending.text), m_job.rules, m_job.inputs,
                                              m_renderer, pending.place, &m_outline);
    if (!piece) {
        m_fetcher.fail(u"隐藏浏览器无法转换章节文字"_s);
        return false;
    }
    const qsizetype capacity = m_job.bookText.capacity();
    m_job.bookText += *piece;
    if (m_job.bookText.capacity() != capacity)
        memory::preferHugePages(m_job.bookText.constData(),
                                m_job.bookText.capacity() * qsizetype(sizeof(QChar)));
    return true;
}

std::optional<QString> ChapterLoop::followOnOf(int chapter, const QString &pageText) {
    // As chapterStep finds it: in the page as decoded, against the chapter's own address. A page
    // whose text turns out to live elsewhere is guessed wrong, which costs one request.
    const QStringList &urls = m_job.book.chapters.chapterUrls;
    if (m_store)
        chapter = m_fetchOrder.value(chapter, -1);
    if (chapter < 0 || chapter >= urls.size())
        return std::nullopt;
    const auto next = chapterpage::followOnLink(pageText, m_job.rules).value;
    if (!next || next->isEmpty())
        return std::nullopt;
    return norModule::combineUrl(urls.at(chapter), *next);
}

void ChapterLoop::requestChapter() {
    if (m_store && m_store->holds(m_job.book.chapterIndex)) {
        // The held chapters before the next one to fetch go in at once; the loop is bounded by
        // the wanted range.
        while (m_store->holds(m_job.book.chapterIndex)) {
            if (!addHeldChapter())
                return;
            ++m_job.book.chapterIndex;
            if (m_job.book.chapterIndex > m_job.book.lastIndex) {
                finishBook();
                return;
            }
        }
        showBookProgress();
    }
    const int chapter = m_job.book.chapterIndex;
    m_fetcher.beginChapter(m_store ? m_fetchSlot.value(chapter) : chapter);
    const QString address = m_job.book.chapters.chapterUrls.at(chapter);
    m_chapterPages.begin(address);
    m_chapterHasText = false;
    m_captures.clear();
    m_fetcher.handleWeb(address, PageKind::Chapter);
}

bool ChapterLoop::addHeldChapter() {
    const BookContents &book = m_job.book;
    QString error;
    const auto captures = m_store->captures(book.chapterIndex, &error);
    if (!captures) {
        m_fetcher.fail(error);
        return false;
    }
    // The same steps the chapter's pages went through when fetched: every capture in page
    // order, the first carrying the headings, so the book does not tell them apart.
    bool hasText = false;
    for (qsizetype page = 0; page < captures->size(); ++page) {
        if (!addPendingText())
            return false;
        hasText = hasText || !typeset::cleanText(captures->at(page), false).isEmpty();
        m_pending = PendingText{captures->at(page),
                                {book.chapters.chapterNames.value(book.chapterIndex),
                                 book.chapters.volumeNames.value(book.chapterIndex), page == 0}};
    }
    if (!addPendingText())
        return false;
    if (!hasText) {
        m_job.report.chaptersWithoutText.append(
            {book.chapters.chapterNames.value(book.chapterIndex),
             book.chapters.chapterUrls.value(book.chapterIndex)});
    }
    return true;
}

void ChapterLoop::failRule(const QString &key, const QString &rule,
                           const norModule::MatchFailure &failure) {
    if (failure.limit)
        m_fetcher.fail(u"规则 %1 在这一页上超出匹配上限：%2"_s.arg(key, rule));
    else
        m_fetcher.fail(u"规则 %1 在这一页上无法匹配（%2）：%3"_s.arg(key, failure.message, rule));
}

void ChapterLoop::finishBook() {
    if (!addPendingText())
        return;
    m_outline.title = m_job.book.bookTitle;
    m_outline.author = m_job.book.bookAuthor;
    if (!m_store) {
        m_fetcher.writeBook(m_job.bookText, m_outline);
        return;
    }
    QString error;
    if (!m_store->writeBook(m_job.bookText, m_outline, &m_job.report.unencodable, &error))
        m_fetcher.fail(error);
}

void ChapterLoop::showBookProgress() {
    const int begun = m_job.book.chapterIndex - m_job.rangeStart + 1;
    const int total = m_job.book.lastIndex - m_job.rangeStart + 1;
    m_view.setBookProgress(double(begun) / total);
    m_view.showChapterProgress(begun, total);
}
