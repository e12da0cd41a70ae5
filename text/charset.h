#pragma once
// The border between bytes and text: names the character set of a response body, decodes bodies,
// and reads and writes whole text files in a named character set.

#include <QByteArray>
#include <QString>

#include <optional>

namespace charset {

// The set a body's byte-order mark names ("utf-8", "utf-16be", "unicode"), else the set it
// declares ("charset=" followed by a name decodeBytes knows), else one guessed from its bytes:
// "unicode", "ascii", "utf-8", "gbk" or "unknown". Never fails.
QString detectCharset(const QByteArray &body);

// body decoded by name, labels resolved as browsers resolve them (gb2312 decodes as GBK,
// "unicode" is UTF-16LE). Invalid bytes become U+FFFD; an unknown name, "unknown" among them,
// gives "". A byte-order mark of the named encoding is skipped.
QString decodeBytes(const QByteArray &body, const QString &name);

// The bytes of a text file of text in the named encoding, with its byte-order mark where the
// encoding has one; nullopt, with the reason in *error, for an unknown encoding.
std::optional<QByteArray> encodeTextFile(const QString &text, const QString &name,
                                         QString *error = nullptr);

// Writes text to path in the named encoding, replacing the file as a whole: the new content goes
// to a temporary file that is renamed over the old one, so a failed write leaves the old file
// as it was. "utf-8" and "unicode" files begin with a byte-order mark; characters the encoding
// lacks become "?". False, with a reason for the user in *error, on an unknown name or a file
// that cannot be written.
bool writeTextFile(const QString &text, const QString &name, const QString &path,
                   QString *error = nullptr);

// How many characters of text the named encoding lacks, each of which writeTextFile writes as
// "?"; 0 for an unknown name.
qsizetype unencodableCount(const QString &text, const QString &name);

// The same counted in encoded, text as encodeTextFile encoded it in the named encoding, so that
// a book is not encoded twice.
qsizetype unencodableCount(const QString &text, const QString &name, const QByteArray &encoded);

// The whole file at path decoded by name (its byte-order mark skipped). nullopt, with a reason in
// *error, on an unknown name or a file that cannot be read.
std::optional<QString> readTextFile(const QString &name, const QString &path,
                                    QString *error = nullptr);

// The length of text in the system's narrow code page (GBK), as the program's narrow-string
// measures count it.
qsizetype narrowLength(const QString &text);

} // namespace charset
