#include "net/responsecache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <mutex>

using namespace Qt::StringLiterals;

namespace {

// The first line of every entry: the format's name, the body's length in bytes, the checksum of
// the Content-Encoding and the body (checksumOf), then the Content-Encoding, each after a space.
// Entries of an older format fail the check and are fetched again.
constexpr QByteArrayView kMagic = "kestrelon-response 2 ";

constexpr QFile::Permissions kFolderPermissions =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions kFilePermissions = QFile::ReadOwner | QFile::WriteOwner;

QString hashOf(const QString &text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QByteArray checksumOf(const QByteArray &encoding, const QByteArray &body) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(encoding);
    hash.addData(QByteArrayView("\n"));
    hash.addData(body);
    return hash.result().toHex();
}

// The Content-Encoding an entry holds, when its first line matches its body; nullopt for an
// entry cut short, damaged or of another format.
std::optional<QByteArray> checkedEncoding(const QByteArray &line, const QByteArray &body) {
    if (!line.startsWith(kMagic) || !line.endsWith('\n'))
        return std::nullopt;
    const QByteArray fields = line.sliced(kMagic.size()).chopped(1);
    const qsizetype afterLength = fields.indexOf(' ');
    const qsizetype afterChecksum = fields.indexOf(' ', afterLength + 1);
    if (afterLength < 0 || afterChecksum < 0)
        return std::nullopt;
    bool isNumber = false;
    const qint64 length = fields.first(afterLength).toLongLong(&isNumber);
    if (!isNumber || length != body.size())
        return std::nullopt;
    const QByteArray encoding = fields.sliced(afterChecksum + 1);
    if (fields.sliced(afterLength + 1, afterChecksum - afterLength - 1) !=
        checksumOf(encoding, body))
        return std::nullopt;
    return encoding;
}

// Creates the folders of path that are missing, each for the user alone, as the XDG rules ask of
// the cache folder itself. True when path is a folder afterwards.
bool makeFolders(const QString &path) {
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return info.isDir();
    const QString parent = info.absolutePath();
    if (parent == info.absoluteFilePath() || !makeFolders(parent))
        return false;
    // Another process may have made it meanwhile.
    return QDir().mkdir(path, kFolderPermissions) || QFileInfo(path).isDir();
}

// One of the cache's own folders, ready for entries: a real folder, not a link (entries would
// land wherever it points), that only the user can enter. A folder from before is tightened.
bool makeOwnFolder(const QString &path) {
    if (!makeFolders(path))
        return false;
    const QFileInfo info(path);
    return !info.isSymLink() && info.isDir() && QFile::setPermissions(path, kFolderPermissions);
}

// A book's folder is named by hashOf: 64 lower-case hexadecimal digits.
bool isBookFolderName(const QString &name) {
    return name.size() == 64 && std::all_of(name.cbegin(), name.cend(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
           });
}

} // namespace

ResponseCache::ResponseCache(const QString &bookUrl) {
    // Caches of books that were stopped or failed and never resumed would otherwise stay for
    // good; once a process is enough.
    static std::once_flag cleaned;
    std::call_once(cleaned, [] { removeStale(QDateTime::currentDateTimeUtc()); });
    m_folder = rootFolder() + u'/' + hashOf(bookUrl);
}

QString ResponseCache::rootFolder() {
    // Honours XDG_CACHE_HOME, and falls back on ~/.cache as the XDG rules say.
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u"/kestrelon"_s;
}

QString ResponseCache::pathOf(const QString &url) const {
    return m_folder + u'/' + hashOf(url);
}

std::optional<HttpResult> ResponseCache::load(const QString &url) const {
    // A book's folder that is a link is not one this class made: nothing in what it points to is
    // read, nor removed when found damaged.
    if (QFileInfo(m_folder).isSymLink())
        return std::nullopt;
    const QString path = pathOf(url);
    if (QFileInfo(path).isSymLink()) {
        // Not an entry this class wrote; what it points to is never read.
        QFile::remove(path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // No entry this class writes is larger than a response may be: a bigger file would be read
    // whole into memory before its checksum could tell it is damaged.
    constexpr qint64 kMaxLine = 4096;
    if (file.size() > HttpClient::kMaxBody + kMaxLine) {
        QFile::remove(path);
        return std::nullopt;
    }
    const QByteArray line = file.readLine(kMaxLine);
    HttpResult result;
    result.body = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    file.close();
    const auto encoding = checkedEncoding(line, result.body);
    if (!encoding) {
        // Fetched again, and kept anew, by the run that finds it so.
        QFile::remove(path);
        return std::nullopt;
    }
    result.ok = true;
    result.status = 200;
    result.head.status = 200;
    const QByteArray trimmed = encoding->trimmed();
    if (!trimmed.isEmpty())
        result.head.headers.append({"Content-Encoding", trimmed});
    result.head.headers.append({"Content-Length", QByteArray::number(result.body.size())});
    return result;
}

bool ResponseCache::store(const QString &url, const HttpResult &result) {
    if (!makeOwnFolder(rootFolder()) || !makeOwnFolder(m_folder))
        return false;
    QByteArray encoding = result.head.header("Content-Encoding").value_or(QByteArray());
    // A line break in the value would end the first line early.
    encoding.replace('\r', ' ').replace('\n', ' ');
    const QString path = pathOf(url);
    // QSaveFile writes to the target of a link in the entry's place.
    if (QFileInfo(path).isSymLink() && !QFile::remove(path))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(kFilePermissions))
        return false;
    const QByteArray line = kMagic.toByteArray() + QByteArray::number(result.body.size()) + ' ' +
                            checksumOf(encoding, result.body) + ' ' + encoding + '\n';
    if (file.write(line) != line.size() || file.write(result.body) != result.body.size() ||
        !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool ResponseCache::remove() {
    // Emptying a link would delete the files of the folder it points to, which the cache never
    // wrote: the link alone goes.
    if (QFileInfo(m_folder).isSymLink())
        return QFile::remove(m_folder);
    QDir folder(m_folder);
    return !folder.exists() || folder.removeRecursively();
}

int ResponseCache::removeStale(const QDateTime &now) {
    const QString root = rootFolder();
    if (QFileInfo(root).isSymLink())
        return 0; // the cache never writes there, so nothing of it is stale there
    const QDateTime oldest = now.addDays(-kMaxAgeDays);
    int removed = 0;
    const QFileInfoList books =
        QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo &book : books) {
        if (book.isSymLink() || !isBookFolderName(book.fileName()) || book.lastModified() >= oldest)
            continue;
        if (QDir(book.absoluteFilePath()).removeRecursively())
            ++removed;
    }
    return removed;
}
