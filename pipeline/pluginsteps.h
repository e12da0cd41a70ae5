#pragma once
// The steps of a plug-in job: every page, the contents page included, goes to the plug-in's
// infoFromWeb, which names the next page or says the book is complete; the program then writes
// the book the plug-in has made of the page text, titled with the plug-in's title.

#include "pipeline/pagefetch.h"

struct DownloadJob;
class JobView;

class PluginSteps : public PageSteps {
public:
    PluginSteps(DownloadJob &job, JobView &view, PageFetcher &fetcher);

    void contentsStep(const FetchedPage &page) override { pageStep(page); }
    void chapterStep(const FetchedPage &page) override { pageStep(page); }

private:
    void pageStep(const FetchedPage &page);
    void finishBook();

    DownloadJob &m_job;
    JobView &m_view;
    PageFetcher &m_fetcher;
    int m_pages = 0; // handed to the plug-in in this job
    QString m_text;  // the page as the plug-in left it; in the end, the whole book
};
