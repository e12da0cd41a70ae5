#include "pipeline/bookfile.h"

#include "pipeline/bookoutline.h"
#include "pipeline/epubbook.h"
#include "pipeline/jobview.h"
#include "text/charset.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace pipeline {

namespace {

// Unbuffered, so a full disk shows in the write itself rather than in a flush whose error the
// commit would not see; the old file is replaced only after every byte is written.
bool saveBytes(const QString &path, const QByteArray &bytes, QString *error) {
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (ok && (file.write(bytes) != bytes.size() || !file.flush() ||
               file.error() != QFileDevice::NoError)) {
        file.cancelWriting();
        ok = false;
    }
    if (ok && file.commit())
        return true;
    *error = u"无法写入文件 %1：%2"_s.arg(path, file.errorString());
    return false;
}

} // namespace

QString bookFilePath(const QString &folder, const QString &title, const QString &suffix) {
    QString name = title;
    for (const QChar c : u"\\/:<>|?*\" "_s)
        name.remove(c);
    // A file name holds at most 255 bytes; a longer title is cut at a character boundary so that
    // the book is still written.
    constexpr qsizetype kMaxNameBytes = 255;
    while (!name.isEmpty() && QFile::encodeName(name + suffix).size() > kMaxNameBytes)
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    return folder + name + suffix;
}

bool writeBook(const QString &text, const BookOutline &outline, const JobInputs &inputs,
               JobView &view) {
    const bool epub = inputs.format == BookFormat::Epub;
    const QString path =
        bookFilePath(inputs.bookshelfFolder, outline.title, epub ? u".epub"_s : u".txt"_s);
    const QFileInfo existing(path);
    if (existing.exists() || existing.isSymLink()) {
        if (!view.confirmReplace(path))
            return true;
        // The user agreed to replace it: a read-only file may go too.
        if (existing.isFile())
            QFile::setPermissions(path,
                                  existing.permissions() | QFile::WriteOwner | QFile::WriteUser);
    }
    QString reason;
    bool written = false;
    if (epub) {
        const auto bytes =
            epubBook(outline, inputs.contentsUrl, QDateTime::currentDateTimeUtc(), &reason);
        written = bytes && saveBytes(path, *bytes, &reason);
    } else {
        written = charset::writeTextFile(text, inputs.encoding, path, &reason);
    }
    if (!written)
        view.noteFailure(reason);
    return written;
}

bool writeBook(const QString &text, const QString &title, const JobInputs &inputs, JobView &view) {
    BookOutline outline;
    if (inputs.format == BookFormat::Epub)
        outline = outlineOfText(text);
    outline.title = title;
    return writeBook(text, outline, inputs, view);
}

} // namespace pipeline
