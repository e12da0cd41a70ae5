#pragma once
// The book file: its path in the bookshelf folder, named after the title, and the write that
// asks before an existing file is replaced.

#include <QString>

class JobView;
struct JobInputs;

namespace pipeline {

// folder (ending with a separator) + title without the characters a file name cannot hold
// (\ / : < > | ? * ") and without spaces + ".txt".
QString bookFilePath(const QString &folder, const QString &title);

// Writes text as the book titled title, in the job's encoding, into its bookshelf folder. An
// existing file or folder of that name is replaced only when the user agrees (a read-only file
// included); declining writes nothing and is not a failure. The new file is complete before it
// takes the old one's place, so a failed write leaves the old file as it was. False when the
// write failed (the reason goes to the view).
bool writeBook(const QString &text, const QString &title, const JobInputs &inputs, JobView &view);

} // namespace pipeline
