#include "pipeline/jobfactory.h"

#include "net/requestprofile.h"
#include "pipeline/downloadjob.h"

JobParts::JobParts(DownloadJob &job, JobView &view, QObject *owner, TransferLimits limits)
    : http(limits)
    , browser(owner, HiddenBrowser::Layout::Skipped)
    , renderer(owner)
    , fetcher(job, view, http, browser, renderer)
    , chapterLoop(job, view, fetcher, scripts, renderer)
    , pluginSteps(job, view, fetcher) {
    // Every request of a job presents itself as the browser that collects the site's cookie:
    // sites often tie the cookie to it, and refuse requests that carry no identity.
    requestProfile::setUserAgent(browser.userAgent().toUtf8());
}

PageSteps &JobParts::stepsFor(const DownloadJob &job) {
    if (job.plugin)
        return pluginSteps;
    return chapterLoop;
}
