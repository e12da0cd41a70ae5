#pragma once
// Writing a job's book into its bookshelf folder: the book's file name, the question before an
// existing file of that name is replaced, and the write itself, its failure reported to the view.

#include "book/bookfile.h"
#include "book/bookoutline.h"

#include <QString>

class JobView;
struct JobInputs;

namespace pipeline {

// Writes the book, titled outline.title, into the job's bookshelf folder: text in the job's
// encoding, or with the EPUB format an EPUB book of outline, named with ".epub". An existing
// file or folder of that name is replaced only when the user agrees (a read-only file included);
// declining writes nothing and is not a failure. A failed write leaves the old file as it was.
// False when the write failed (the reason goes to the view).
// beforeReplace is passed on to the writer (book::writeBookFile). *unencodable is set to the
// characters of a text book that its encoding lacks, written as "?" (0 for an EPUB).
bool writeBook(const QString &text, const book::BookOutline &outline, const JobInputs &inputs,
               JobView &view, qsizetype *unencodable,
               const book::BeforeReplace &beforeReplace = {});

// The same for a book that exists only as text (a plug-in's): an EPUB is made of its lines.
bool writeBook(const QString &text, const QString &title, const JobInputs &inputs, JobView &view,
               qsizetype *unencodable);

} // namespace pipeline
