#pragma once
// The steps of a rule-driven job: the contents step has the contents page analysed and asks for
// the first wanted chapter; the chapter step takes each chapter page apart, appends its text to
// the book and asks for what comes next, and writes the book after the last wanted chapter.

#include "book/bookoutline.h"
#include "pattern/compiledrule.h"
#include "pipeline/chapterpage.h"
#include "pipeline/chapterstore.h"
#include "pipeline/pagefetch.h"

struct DownloadJob;
class HiddenBrowser;
class JobView;
class ScriptEngine;

class ChapterLoop : public PageSteps {
public:
    ChapterLoop(DownloadJob &job, JobView &view, PageFetcher &fetcher, ScriptEngine &scripts,
                HiddenBrowser &renderer);

    void contentsStep(const FetchedPage &page) override;
    void chapterStep(const FetchedPage &page) override;
    std::optional<QString> followOnOf(int chapter, const QString &pageText) override;
    void whileWaiting() override;

    // The store the next jobs take held chapters from and keep fetched ones in; none (the
    // default) fetches every wanted chapter.
    void setStore(ChapterStore *store) { m_store = store; }

    // Draws the whole-book bar: the share of wanted chapters begun, the one being fetched
    // included.
    void showBookProgress();

private:
    // Puts the text left for later into the book; false after failing the job.
    bool addPendingText();
    void requestChapter();
    // Puts a held chapter into the book from its captures, as its pages would have; false after
    // failing the job.
    bool addHeldChapter();
    void finishBook();
    // A rule the engine gave up on fails the step, naming the rule and why.
    void failRule(const QString &key, const QString &rule, const norModule::MatchFailure &failure);

    DownloadJob &m_job;
    JobView &m_view;
    PageFetcher &m_fetcher;
    ScriptEngine &m_scripts;
    HiddenBrowser &m_renderer;
    chapterpage::ChapterPages m_chapterPages;
    bool m_chapterHasText = false; // a page of the chapter in hand gave text
    // The last page's text, kept for the time the next request waits for its answer.
    struct PendingText {
        QString text;
        chapterpage::PiecePlace place;
    };
    std::optional<PendingText> m_pending;
    // The book's structure beside its text, for an EPUB.
    book::BookOutline m_outline;
    ChapterStore *m_store = nullptr;
    QStringList m_captures; // of the chapter in hand's pages, for the store
    // With a store: the wanted chapters to be fetched, in order, and each one's place among
    // them, which is how the page fetcher knows them.
    QList<int> m_fetchOrder;
    QHash<int, int> m_fetchSlot;
};
