#pragma once
// The steps of a rule-driven job: the contents step has the contents page analysed and asks for
// the first wanted chapter; the chapter step takes each chapter page apart, appends its text to
// the book and asks for what comes next, and writes the book after the last wanted chapter.

#include "pipeline/pagefetch.h"

#include <QSet>

struct DownloadJob;
class HiddenBrowser;
class JobView;
class ScriptEngine;

class ChapterLoop : public PageSteps {
public:
    ChapterLoop(DownloadJob &job, JobView &view, PageFetcher &fetcher, ScriptEngine &scripts,
                HiddenBrowser &renderer);

    void contentsStep() override;
    void chapterStep(const QString &page) override;

    // Draws the whole-book bar: the share of wanted chapters begun, the one being fetched
    // included.
    void showBookProgress();

private:
    // The chapter's text as it goes into the book, or nullopt when the hidden browser failed.
    std::optional<QString> bookTextOf(QString text);
    void requestChapter();
    void finishBook();
    // A rule the engine gave up on fails the step, naming the rule.
    void failRule(const QString &key, const QString &rule);

    DownloadJob &m_job;
    JobView &m_view;
    PageFetcher &m_fetcher;
    ScriptEngine &m_scripts;
    HiddenBrowser &m_renderer;
    QSet<QString> m_chapterPages; // the addresses fetched for the chapter in hand
};
