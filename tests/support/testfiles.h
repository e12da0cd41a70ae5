#pragma once
// What several test programs share: file bytes, encoded text, and a folder nobody can write to.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace support {

QByteArray readBytes(const QString &path);
// Creates or replaces the file; fails the calling test through QVERIFY-friendly false.
bool writeBytes(const QString &path, const QByteArray &bytes);

// text in a named encoding through Qt's own converters, independent of the code under test.
QByteArray encoded(const QString &text, const char *encoding);
QByteArray gbk(const QString &text);

// A self-signed certificate for tests, made by openssl in folder as NAME.pem with its key in
// NAME.key; arguments add to the request (a subject, extensions, or -CA/-CAkey to have another
// certificate of the folder sign it). False when openssl failed.
bool makeCertificate(const QString &folder, const QString &name, const QStringList &arguments);

// While it lives, nobody can create, replace or remove files in the folder: its permissions are
// cleared, and for root (who ignores permissions) it is also marked immutable. works() tells
// whether that took effect on this file system.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const QString &path);
    ~UnwritableFolder();
    UnwritableFolder(const UnwritableFolder &) = delete;
    UnwritableFolder &operator=(const UnwritableFolder &) = delete;

    bool works() const;

private:
    QString m_path;
    bool m_immutable = false;
};

} // namespace support
