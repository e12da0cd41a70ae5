#pragma once
// The book file: its path in the bookshelf folder, named after the title, and the write that
// asks before an existing file is replaced.

#include <QString>

class JobView;
struct JobInputs;

namespace pipeline {

struct BookOutline;

// folder (ending with a separator) + title without the characters a file name cannot hold
// (\ / : < > | ? * "), without spaces and control characters, and without a leading "." or "-"
// + suffix. A title that leaves nothing gives "书名未知"; a long one is cut to 255 bytes.
QString bookFilePath(const QString &folder, const QString &title,
                     const QString &suffix = QStringLiteral(".txt"));

// Writes the book, titled outline.title, into the job's bookshelf folder: text in the job's
// encoding, or with the EPUB format an EPUB book of outline, named with ".epub". An existing
// file or folder of that name is replaced only when the user agrees (a read-only file included);
// declining writes nothing and is not a failure. The new file is complete before it takes the
// old one's place, so a failed write leaves the old file as it was. A symbolic link of that name
// is replaced by the book itself; its target is never written or changed. False when the write
// failed (the reason goes to the view).
bool writeBook(const QString &text, const BookOutline &outline, const JobInputs &inputs,
               JobView &view);

// The same for a book that exists only as text (a plug-in's): an EPUB is made of its lines.
bool writeBook(const QString &text, const QString &title, const JobInputs &inputs, JobView &view);

} // namespace pipeline
