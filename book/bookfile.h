#pragma once
// The book file: its name in the bookshelf folder, made from the title, and the write that puts
// it there whole, as text in an encoding or as an EPUB book.

#include "book/bookoutline.h"

#include <QString>

#include <functional>

// The kind of book file a job writes.
enum class BookFormat { Text, Epub };

namespace book {

// What a book file is made of.
struct BookFile {
    BookFormat format = BookFormat::Text;
    QString text;        // the whole book as text, for a text file
    QString encoding;    // of a text file
    BookOutline outline; // the book's structure, for an EPUB
    QString source;      // the address the book came from, naming an EPUB
};

// folder (ending with a separator) + title without the characters a file name cannot hold
// (\ / : < > | ? * "), without spaces and control characters, not starting with "." or "-"
// ("书名未知" when nothing is left), cut to fit a file name + suffix.
QString bookFilePath(const QString &folder, const QString &title,
                     const QString &suffix = QStringLiteral(".txt"));

// Writes book at path, replacing what is there as a whole: the new file is complete before it
// takes the old one's place, so a failed write leaves the old file as it was. A symbolic link at
// path is replaced by the book; its target is neither written nor changed. False, with a reason
// for the user in *error, when the book could not be written.
// beforeReplace, when given, is shown the file's bytes before they replace the old file; its
// false (with its reason in *error) ends the write there.
using BeforeReplace = std::function<bool(const QByteArray &bytes, QString *error)>;
bool writeBookFile(const QString &path, const BookFile &book, QString *error,
                   const BeforeReplace &beforeReplace = {});

} // namespace book
