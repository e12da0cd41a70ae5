#pragma once
// An EPUB 3 book made from a book's outline: a title page and one XHTML document per chapter, the
// navigation document with the volumes as nested entries, an NCX for older readers, packed with
// the uncompressed mimetype first.

#include "book/bookoutline.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace book {

// The book's identifier: a name-based UUID of the address it was read from, so that every new
// download of the same book replaces the old one in a reader's library.
QString epubIdentifier(const QString &source);

// The EPUB file of outline, read from source (the contents page's address) and written at
// modified. nullopt, with the reason in *error, when the archive could not be built.
std::optional<QByteArray> epubBook(const BookOutline &outline, const QString &source,
                                   const QDateTime &modified, QString *error = nullptr);

} // namespace book
