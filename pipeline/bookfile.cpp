#include "pipeline/bookfile.h"

#include "pipeline/jobview.h"
#include "text/charset.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace pipeline {

QString bookFilePath(const QString &folder, const QString &title) {
    QString name = title;
    for (const QChar c : u"\\/:<>|?*\" "_s)
        name.remove(c);
    // A file name holds at most 255 bytes; a longer title is cut at a character boundary so that
    // the book is still written.
    constexpr qsizetype kMaxNameBytes = 255;
    const QString suffix = u".txt"_s;
    while (!name.isEmpty() && QFile::encodeName(name + suffix).size() > kMaxNameBytes)
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    return folder + name + suffix;
}

bool writeBook(const QString &text, const QString &title, const JobInputs &inputs, JobView &view) {
    const QString path = bookFilePath(inputs.bookshelfFolder, title);
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
    if (!charset::writeTextFile(text, inputs.encoding, path, &reason)) {
        view.noteFailure(reason);
        return false;
    }
    return true;
}

} // namespace pipeline
