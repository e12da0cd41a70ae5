#include "book/bookfile.h"

#include "book/epubbook.h"
#include "text/charset.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>

using namespace Qt::StringLiterals;

namespace book {

namespace {

// Unbuffered, so a full disk shows in the write itself rather than in a flush whose error the
// commit would not see; the old file is replaced only after every byte is written.
bool saveBytes(const QString &path, const QByteArray &bytes, QString *error) {
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    // A disk that fills up takes part of a write without an error; the next part is refused,
    // with the reason.
    qint64 written = 0;
    while (ok && written < bytes.size()) {
        const qint64 part = file.write(bytes.constData() + written, bytes.size() - written);
        if (part <= 0)
            break;
        written += part;
    }
    if (ok && (written != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError)) {
        // The write's reason, before cancelling puts "writing canceled by application" in its
        // place.
        const QString reason = file.errorString();
        file.cancelWriting();
        *error = u"无法写入文件 %1：%2"_s.arg(path, reason);
        return false;
    }
    if (ok && file.commit())
        return true;
    *error = u"无法写入文件 %1：%2"_s.arg(path, file.errorString());
    return false;
}

// Writes a file at path through write(path, error).
using FileWriter = std::function<bool(const QString &path, QString *error)>;

// A name for a new file in folder that nothing uses: a link planted there would otherwise be
// followed by the write. Short, whatever the book's name, so that it always fits.
QString unusedNameIn(const QString &folder) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        const QString candidate =
            folder + u"/.kestrelon-%1.part"_s.arg(QRandomGenerator::global()->generate64(), 16, 16,
                                                  QChar(u'0'));
        const QFileInfo info(candidate);
        if (!info.exists() && !info.isSymLink())
            return candidate;
    }
    return {};
}

// Puts a new regular file in the place of the symbolic link at path. The file is written whole
// under a name of its own beside the link and then renamed over it: the rename replaces the link
// itself, so its target is neither written nor changed, and a failed write leaves the link as it
// was.
bool replaceLink(const QString &path, const FileWriter &write, QString *error) {
    const QString part = unusedNameIn(QFileInfo(path).absolutePath());
    if (part.isEmpty()) {
        *error = u"无法写入文件 %1：找不到可用的临时文件名"_s.arg(path);
        return false;
    }
    if (!write(part, error)) {
        QFile::remove(part);
        return false;
    }
    std::error_code failed;
    std::filesystem::rename(QFileInfo(part).filesystemFilePath(),
                            QFileInfo(path).filesystemFilePath(), failed);
    if (failed) {
        QFile::remove(part);
        *error = u"无法写入文件 %1：%2"_s.arg(path, QString::fromStdString(failed.message()));
        return false;
    }
    return true;
}

// Control characters: C0, DEL and C1. A terminal or a file manager would act on them.
bool isControl(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

} // namespace

QString bookFilePath(const QString &folder, const QString &title, const QString &suffix) {
    QString name = title;
    for (const QChar c : u"\\/:<>|?*\" "_s)
        name.remove(c);
    name.removeIf(isControl);
    // A leading "." hides the file; a leading "-" makes its name read as an option by the
    // programs it is handed to.
    qsizetype start = 0;
    while (start < name.size() && (name.at(start) == u'.' || name.at(start) == u'-'))
        ++start;
    name.remove(0, start);
    if (name.isEmpty())
        name = u"书名未知"_s;
    // A file name holds at most 255 bytes; a longer title is cut at a character boundary so that
    // the book is still written.
    constexpr qsizetype kMaxNameBytes = 255;
    // Every character takes a byte at least: cutting a long title to that many first keeps the
    // cut below from encoding the whole title again for each character it takes off.
    if (name.size() > kMaxNameBytes)
        name.truncate(name.at(kMaxNameBytes - 1).isHighSurrogate() ? kMaxNameBytes - 1
                                                                   : kMaxNameBytes);
    while (!name.isEmpty() && QFile::encodeName(name + suffix).size() > kMaxNameBytes)
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    return folder + name + suffix;
}

bool writeBookFile(const QString &path, const BookFile &book, QString *error,
                   const BeforeReplace &beforeReplace) {
    const std::optional<QByteArray> bytes =
        book.format == BookFormat::Epub
            ? epubBook(book.outline, book.source, QDateTime::currentDateTimeUtc(), error)
            : charset::encodeTextFile(book.text, book.encoding, error);
    if (!bytes || (beforeReplace && !beforeReplace(*bytes, error)))
        return false;
    const FileWriter write = [&bytes](const QString &at, QString *why) {
        return saveBytes(at, *bytes, why);
    };
    // QSaveFile resolves a link and replaces its target; a link is renamed over instead.
    return QFileInfo(path).isSymLink() ? replaceLink(path, write, error) : write(path, error);
}

} // namespace book
