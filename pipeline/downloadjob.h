#pragma once
// The state of the one download job, held by its owner for its whole life; a new job reuses it.

#include "analysis/contents.h"
#include "analysis/siterules.h"

#include <QString>

// What the request in flight fetches.
namespace PageKind {
constexpr int Contents = 0;    // the book's contents page
constexpr int Chapter = 1;     // a chapter page, its first or a follow-on page
constexpr int ChapterText = 2; // a chapter's text kept at a separate address
} // namespace PageKind

// How the job ends.
namespace EndState {
constexpr int Success = 0;
constexpr int Failure = 1;
constexpr int Stopped = 2;
} // namespace EndState

struct DownloadJob {
    qint32 expectedLength = 0; // of the current response, from "Content-Length", else 102400
    qint32 receivedLength = 0; // of the current response so far
    double startTime = 0;      // seconds since local midnight when the current response began
    qint32 pageKind = PageKind::Contents;
    QString pageText; // the decoded text of the last response
    QString host;     // names the site's section in the settings file
    qint32 endState = EndState::Success;
    bool gzipBody = false;
    bool continuation = false; // the request in flight fetches a follow-on page of a chapter
    BookContents book;         // title, author line, chapter list and wanted range
    qint32 rangeStart = 0;     // the first wanted chapter, for the book's progress bar
    QString bookText;          // the body of the book file as far as it has been built
    SiteRules rules;
    QString savedCookie; // sent with every request; replaced at the start of each job
};
