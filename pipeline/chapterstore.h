#pragma once
// What the chapter loop asks of a place that keeps chapters between jobs (an update's book
// library): which chapters it already holds, their captures in place of their pages, the
// captures of each chapter fetched now, and the writing of the book it made.

#include "book/bookoutline.h"

#include <QString>
#include <QStringList>

#include <optional>

struct DownloadJob;

class ChapterStore {
public:
    virtual ~ChapterStore() = default;

    // The contents page is analysed: the job's chapter list and wanted range are known. False,
    // with the reason in *error, fails the job.
    virtual bool contentsAnalysed(const DownloadJob &job, QString *error) = 0;
    // Whether the job ends, successful and without a book, once the contents page is analysed:
    // a check for new chapters asks the site for nothing more.
    virtual bool contentsOnly() const { return false; }
    // Whether the chapter at index is taken from the store instead of its pages.
    virtual bool holds(int chapter) const = 0;
    // The captures held for the chapter at index, in page order; nullopt (reason in *error)
    // fails the job.
    virtual std::optional<QStringList> captures(int chapter, QString *error) = 0;
    // The chapter at index has all its pages: their captures, in order, before any option
    // applied. False (reason in *error) fails the job.
    virtual bool chapterFetched(int chapter, const QStringList &captures, QString *error) = 0;
    // Writes the finished book as a download would, setting *unencodable as pipeline::writeBook
    // does. False (reason in *error) fails the job.
    virtual bool writeBook(const QString &text, const book::BookOutline &outline,
                           qsizetype *unencodable, QString *error) = 0;
};
