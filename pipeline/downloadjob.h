#pragma once
// The state of the one download job, held by its owner for its whole life; a new job reuses it.

#include "analysis/contents.h"
#include "analysis/siterules.h"
#include "pipeline/jobview.h"

#include <QObject>
#include <QString>

#include <memory>

// What the request in flight fetches; the value indexes the site's tagCharset.
enum class PageKind {
    Contents = 0,    // the book's contents page
    Chapter = 1,     // a chapter page, its first or a follow-on page
    ChapterText = 2, // a chapter's text kept at a separate address
};

// How the job ends.
enum class EndState { Success = 0, Failure = 1, Stopped = 2 };

struct DownloadJob {
    QString host; // names the site's section in the settings file
    // Written only by the job's PageFetcher, which takes a failure's reason with it.
    EndState endState = EndState::Success;
    BookContents book;     // title, author line, chapter list and wanted range
    qint32 rangeStart = 0; // the first wanted chapter, for the book's progress bar
    QString bookText;      // the book file as far as it has been built: its head, then chapters
    SiteRules rules;
    QString savedCookie; // sent with every request; replaced at the start of each job
    JobInputs inputs;    // the front end's addresses and options, as they were at the start
    JobReport report;    // what the book lacks; emptied at the start of each job
    // The site plug-in's object for this job (none for a rule site, or when it could not be
    // loaded); released when the job ends.
    std::unique_ptr<QObject> plugin;
};
