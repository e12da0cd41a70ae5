#include "net/responsecache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

// The first line of every entry: the format's name, then the response's Content-Encoding.
constexpr QByteArrayView kMagic = "kestrelon-response 1 ";

QString hashOf(const QString &text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

} // namespace

ResponseCache::ResponseCache(const QString &bookUrl) {
    // Honours XDG_CACHE_HOME, and falls back on ~/.cache as the XDG rules say.
    const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    m_folder = root + u"/kestrelon/"_s + hashOf(bookUrl);
}

QString ResponseCache::pathOf(const QString &url) const {
    return m_folder + u'/' + hashOf(url);
}

std::optional<HttpResult> ResponseCache::load(const QString &url) const {
    QFile file(pathOf(url));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = file.readLine(1024);
    if (!line.startsWith(kMagic) || !line.endsWith('\n'))
        return std::nullopt;
    HttpResult result;
    result.body = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    result.ok = true;
    result.status = 200;
    result.head.status = 200;
    const QByteArray encoding = line.sliced(kMagic.size()).trimmed();
    if (!encoding.isEmpty())
        result.head.headers.append({"Content-Encoding", encoding});
    result.head.headers.append({"Content-Length", QByteArray::number(result.body.size())});
    return result;
}

bool ResponseCache::store(const QString &url, const HttpResult &result) {
    if (!QDir().mkpath(m_folder))
        return false;
    QByteArray encoding = result.head.header("Content-Encoding").value_or(QByteArray());
    // A line break in the value would end the first line early.
    encoding.replace('\r', ' ').replace('\n', ' ');
    QSaveFile file(pathOf(url));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray line = kMagic.toByteArray() + encoding + '\n';
    if (file.write(line) != line.size() || file.write(result.body) != result.body.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool ResponseCache::remove() {
    QDir folder(m_folder);
    return !folder.exists() || folder.removeRecursively();
}
