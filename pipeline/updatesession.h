#pragma once
// An update of a book kept in the library: the chapter loop takes the chapters the library holds
// from it instead of their pages, except the last one held (a site posts a placeholder and
// replaces it later), stores every chapter it fetches with text once its pages are done, and
// writes the book as a download would, replacing without a question the file the library's last
// build of the book wrote.

#include "library/booklibrary.h"
#include "pipeline/chapterstore.h"

#include <QHash>
#include <QSet>

#include <future>

class JobView;
struct JobInputs;

class UpdateSession : public ChapterStore {
public:
    UpdateSession(library::BookLibrary &library, JobView &view);

    // Starts reading the chapters the library holds for the book at contentsUrl on a thread of
    // its own: the job's start-up (the web engine, the cookie step) leaves the job's thread
    // waiting meanwhile. The chapters read are taken from there instead of one query each.
    void readAhead(const QString &contentsUrl);

    bool contentsAnalysed(const DownloadJob &job, QString *error) override;
    bool holds(int chapter) const override { return m_taken.contains(chapter); }
    std::optional<QStringList> captures(int chapter, QString *error) override;
    bool chapterFetched(int chapter, const QStringList &captures, QString *error) override;
    bool writeBook(const QString &text, const book::BookOutline &outline, qsizetype *unencodable,
                   QString *error) override;

    // Whether the job went through the chapter loop: a plug-in site's job does not, and is a
    // full download.
    bool byChapters() const { return m_job != nullptr; }
    int fetchedCount() const { return m_fetched; }
    int fromLibraryCount() const { return m_fromLibrary; }
    // The file of the book's name that was kept rather than replaced by the build ("" when the
    // book was written): the update's book is then nowhere.
    QString keptFile() const { return m_keptFile; }

private:
    library::BookLibrary &m_library;
    JobView &m_view;
    const DownloadJob *m_job = nullptr;
    qint64 m_bookId = 0;
    std::optional<library::BookRecord> m_record; // as the library had it before this job
    QSet<int> m_taken;                           // chapters taken from the library
    QString m_aheadUrl;
    std::future<QHash<QString, QStringList>> m_readingAhead;
    QHash<QString, QStringList> m_ahead; // read ahead, by address; each is taken once
    int m_fetched = 0;
    int m_fromLibrary = 0;
    QString m_keptFile;
};

namespace pipeline {

// The options of a build, in words, as the library records them.
QString buildOptionsText(const JobInputs &inputs);

} // namespace pipeline
