#pragma once
// The rule check's steps: a job's first pages fetched and read by the same code as a download's
// (the contents page, then one chapter with its follow-on pages and its text address), telling
// a RuleCheckRecorder what each step met instead of building a book.

#include "pipeline/chapterpage.h"
#include "pipeline/pagefetch.h"

struct DownloadJob;
class HiddenBrowser;
class ScriptEngine;

// What the rule check's steps meet, in the order they meet it; the recorder runs its own probes
// of the rules and words the report.
class RuleCheckRecorder {
public:
    virtual ~RuleCheckRecorder() = default;
    // A page as it arrives, before any rule runs on it.
    virtual void pageArrived(const FetchedPage &page) = 0;
    // The contents analysis ran on the page: whether it found chapters (the job's book holds
    // what it found either way), and how long it took.
    virtual void contentsAnalysed(bool found, qint64 milliseconds) = 0;
    // The first wanted chapter comes after the last: no chapter is read.
    virtual void rangeReversed() = 0;
    // The chapter the check reads: its index in the chapter list (-1 for an address not in it)
    // and its address.
    virtual void chapterChosen(int index, const QString &url) = 0;
    // A rule of the chapter step is about to run on text, on the page at where: tagText on the
    // page with its line ends marked, tagDel on a capture, tagNext on the page as decoded.
    virtual void ruleRuns(const QString &key, const QString &text, const FetchedPage &where) = 0;
    // The capture sends the chapter's text to address, fetched next.
    virtual void textAddress(const QString &address) = 0;
    // tagText's capture on the page, as the book takes it.
    virtual void textTaken(const QString &capture, const FetchedPage &page) = 0;
    // The capture's piece of the book; nullopt when the hidden browser could not convert it.
    virtual void piece(const std::optional<QString> &piece) = 0;
    // A follow-on page fetched next; and a chapter whose follow-on pages go on past the bound.
    virtual void followed(const QString &address) = 0;
    virtual void tooManyPages() = 0;
    // The chapter was read to its end.
    virtual void chapterDone() = 0;
};

class RuleCheckSteps : public PageSteps {
public:
    // chapterUrl names the chapter to read; "" reads the first wanted one.
    RuleCheckSteps(DownloadJob &job, PageFetcher &fetcher, ScriptEngine &scripts,
                   HiddenBrowser &renderer, RuleCheckRecorder &recorder, const QString &chapterUrl);

    void contentsStep(const FetchedPage &page) override;
    void chapterStep(const FetchedPage &page) override;

private:
    DownloadJob &m_job;
    PageFetcher &m_fetcher;
    ScriptEngine &m_scripts;
    HiddenBrowser &m_renderer;
    RuleCheckRecorder &m_recorder;
    QString m_chosenChapter;
    chapterpage::ChapterPages m_chapterPages;
    chapterpage::PiecePlace m_place; // of the chapter read
};
