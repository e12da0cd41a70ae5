#include "pipeline/bookfile.h"

#include "pipeline/jobview.h"
#include "text/charset.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

QString bookFilePath(const QString &folder, const QString &title) {
    QString name = title;
    for (const QChar c : u"\\/:<>|?*\" "_s)
        name.remove(c);
    return folder + name + u".txt"_s;
}

bool writeBook(const QString &text, const QString &title, JobView &view) {
    const QString path = bookFilePath(view.bookshelfFolder(), title);
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
    if (!charset::writeTextFile(text, view.encoding(), path, &reason)) {
        view.noteFailure(reason);
        return false;
    }
    return true;
}
