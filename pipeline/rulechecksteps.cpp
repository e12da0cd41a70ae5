#include "pipeline/rulechecksteps.h"

#include "analysis/contents.h"
#include "analysis/scriptengine.h"
#include "pipeline/downloadjob.h"
#include "settings/sitekeys.h"
#include "text/typeset.h"

#include <QElapsedTimer>

using namespace Qt::StringLiterals;

RuleCheckSteps::RuleCheckSteps(DownloadJob &job, PageFetcher &fetcher, ScriptEngine &scripts,
                               HiddenBrowser &renderer, RuleCheckRecorder &recorder,
                               const QString &chapterUrl)
    : m_job(job)
    , m_fetcher(fetcher)
    , m_scripts(scripts)
    , m_renderer(renderer)
    , m_recorder(recorder)
    , m_chosenChapter(chapterUrl) {}

void RuleCheckSteps::contentsStep(const FetchedPage &page) {
    m_recorder.pageArrived(page);
    const JobInputs &inputs = m_job.inputs;
    const ContentsRequest request{inputs.contentsUrl, inputs.firstChapterUrl, inputs.lastChapterUrl,
                                  inputs.smallChapters};
    m_scripts.startJob();
    QElapsedTimer clock;
    clock.start();
    const bool found =
        ContentsAnalysis(m_job.rules, request, m_scripts, m_job.book).analyseContents(page.text);
    m_recorder.contentsAnalysed(found, clock.elapsed());
    if (!found)
        return;
    const BookContents &book = m_job.book;
    if (book.chapterIndex > book.lastIndex) {
        m_recorder.rangeReversed();
        return;
    }

    const ChapterList &list = book.chapters;
    int index = book.chapterIndex;
    if (!m_chosenChapter.isEmpty()) {
        index = -1;
        for (int i = 0; i < list.chapterUrls.size() && index < 0; ++i) {
            if (list.chapterUrls.at(i).compare(m_chosenChapter, Qt::CaseInsensitive) == 0)
                index = i;
        }
    }
    const QString url = index < 0 ? m_chosenChapter : list.chapterUrls.at(index);
    m_place = {list.chapterNames.value(index), list.volumeNames.value(index), true};
    m_recorder.chapterChosen(index, url);
    m_chapterPages.begin(url);
    m_fetcher.handleWeb(url, PageKind::Chapter);
}

void RuleCheckSteps::chapterStep(const FetchedPage &page) {
    m_recorder.pageArrived(page);
    const QString &chapterUrl = m_chapterPages.chapterUrl();
    const QString marked = chapterpage::markLineEnds(page.text);
    m_recorder.ruleRuns(siteKeys::name(siteKeys::Key::TagText), marked, page);
    // A rule the engine gave up on ends the chapter here; the recorder's probe has named it.
    const auto found = chapterpage::chapterText(marked, m_job.rules);
    if (!found.value)
        return;
    const QString &capture = *found.value;
    if (page.kind == PageKind::Chapter) {
        if (const auto address =
                chapterpage::textAddress(chapterUrl, capture, m_job.inputs.contentsUrl)) {
            m_recorder.textAddress(*address);
            m_fetcher.handleWeb(*address, PageKind::ChapterText);
            return;
        }
    }
    m_recorder.textTaken(capture, page);
    if (!typeset::cleanText(capture, false).isEmpty()) {
        m_recorder.ruleRuns(siteKeys::name(siteKeys::Key::TagDel), capture, page);
        m_place.first = !m_chapterPages.following();
        m_recorder.piece(chapterpage::bookPiece(capture, m_job.rules, m_job.inputs, m_renderer,
                                                m_place, nullptr));
    }

    m_recorder.ruleRuns(siteKeys::name(siteKeys::Key::TagNext), page.text, page);
    const auto link = chapterpage::followOnLink(page.text, m_job.rules);
    if (!link.value)
        return;
    QString address;
    switch (m_chapterPages.follow(*link.value, &address)) {
    case chapterpage::ChapterPages::Next::TooMany:
        m_recorder.tooManyPages();
        return;
    case chapterpage::ChapterPages::Next::Follow:
        m_recorder.followed(address);
        m_fetcher.handleWeb(address, PageKind::Chapter);
        return;
    case chapterpage::ChapterPages::Next::End:
        break;
    }
    m_recorder.chapterDone();
}
