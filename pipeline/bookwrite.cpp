#include "pipeline/bookwrite.h"

#include "book/bookfile.h"
#include "pipeline/jobview.h"
#include "text/charset.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace pipeline {

bool writeBook(const QString &text, const book::BookOutline &outline, const JobInputs &inputs,
               JobView &view, qsizetype *unencodable, const book::BeforeReplace &beforeReplace) {
    const bool epub = inputs.format == BookFormat::Epub;
    *unencodable = 0;
    const QString path =
        book::bookFilePath(inputs.bookshelfFolder, outline.title, epub ? u".epub"_s : u".txt"_s);
    const QFileInfo existing(path);
    const bool link = existing.isSymLink();
    if (existing.exists() || link) {
        if (!view.confirmReplace(path)) {
            if (!epub)
                *unencodable = charset::unencodableCount(text, inputs.encoding);
            return true;
        }
        // The user agreed to replace it: a read-only file may go too. A link's target is not
        // the book and keeps its permissions.
        if (existing.isFile() && !link)
            QFile::setPermissions(path,
                                  existing.permissions() | QFile::WriteOwner | QFile::WriteUser);
    }
    const book::BookFile file{inputs.format, text, inputs.encoding, outline, inputs.contentsUrl};
    // The stand-ins are counted in the bytes written: a book of millions of characters is
    // encoded once.
    const auto counted = [&](const QByteArray &bytes, QString *why) {
        if (!epub)
            *unencodable = charset::unencodableCount(text, inputs.encoding, bytes);
        return !beforeReplace || beforeReplace(bytes, why);
    };
    QString reason;
    if (book::writeBookFile(path, file, &reason, counted))
        return true;
    view.noteFailure(reason);
    return false;
}

bool writeBook(const QString &text, const QString &title, const JobInputs &inputs, JobView &view,
               qsizetype *unencodable) {
    book::BookOutline outline;
    if (inputs.format == BookFormat::Epub)
        outline = book::outlineOfText(text);
    outline.title = title;
    return writeBook(text, outline, inputs, view, unencodable);
}

} // namespace pipeline
