#pragma once
// A ZIP archive built in memory through libzip, so that the caller writes it to disk in one
// checked, atomic write of its own.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace book {

struct ZipEntry {
    QString name;
    QByteArray data;
    bool stored = false; // kept uncompressed (an EPUB's mimetype must be)
};

// The archive of entries, in the order given; nullopt, with libzip's reason in *error, when it
// could not be built.
std::optional<QByteArray> zipArchive(const QList<ZipEntry> &entries, QString *error = nullptr);

} // namespace book
