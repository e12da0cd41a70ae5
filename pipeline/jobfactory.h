#pragma once
// The object graph of a job, built one way for a download and for the rule check: the HTTP
// request object, the two hidden browsers, the script engine, the page fetcher and the page
// steps, every request presenting itself as the browser that collects the site's cookie.

#include "analysis/scriptengine.h"
#include "browser/hiddenbrowser.h"
#include "net/httpclient.h"
#include "pipeline/chapterloop.h"
#include "pipeline/pagefetch.h"
#include "pipeline/pluginsteps.h"

struct DownloadJob;
class JobView;

struct JobParts {
    // owner parents the hidden browsers.
    JobParts(DownloadJob &job, JobView &view, QObject *owner, TransferLimits limits = {});

    // The steps of the job's site: the plug-in's when its plug-in is loaded, else the chapter
    // loop (which, for a plug-in site whose plug-in could not be loaded, has no rules).
    PageSteps &stepsFor(const DownloadJob &job);

    HttpClient http;
    HiddenBrowser browser;  // loads contents pages for their cookies
    HiddenBrowser renderer; // builds scripted pages and renders chapter text
    ScriptEngine scripts;
    PageFetcher fetcher;
    ChapterLoop chapterLoop;
    PluginSteps pluginSteps;
};
