#pragma once
// SHA-256 of a book's bytes and of the chapters the library keeps, through libcrypto: on the tens
// of megabytes of a book it is several times faster than Qt's own, and an update hashes a book
// twice.

#include <QByteArray>
#include <QString>

namespace library {

// The digest of bytes in lowercase hexadecimal.
QString sha256Hex(const QByteArray &bytes);

// The digest of the file at path, read in pieces; "" when it cannot be read.
QString fileSha256Hex(const QString &path);

} // namespace library
