#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace support {

bool makeCertificate(const QString &folder, const QString &name, const QStringList &arguments) {
    const QDir dir(folder);
    const QStringList request =
        u"req -x509 -days 2 -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1"_s.split(u' ');
    return QProcess::execute(u"openssl"_s,
                             request +
                                 QStringList{u"-keyout"_s, dir.filePath(name + u".key"_s),
                                             u"-out"_s, dir.filePath(name + u".pem"_s)} +
                                 arguments) == 0;
}

namespace {

bool setImmutable(const QString &path, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

QByteArray readBytes(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray encoded(const QString &text, const char *encoding) {
    return QStringEncoder(encoding).encode(text);
}

QByteArray gbk(const QString &text) {
    return encoded(text, "GBK");
}

UnwritableFolder::UnwritableFolder(const QString &path)
    : m_path(path) {
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
    if (::geteuid() == 0)
        m_immutable = setImmutable(path, true);
}

UnwritableFolder::~UnwritableFolder() {
    if (m_immutable)
        setImmutable(m_path, false);
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool UnwritableFolder::works() const {
    QFile probe(QDir(m_path).filePath(u"probe"_s));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        return false;
    }
    return true;
}

} // namespace support
