#include "net/addressguard.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QMutex>
#include <QUrl>

#include <utility>

using namespace Qt::StringLiterals;

namespace addressGuard {

namespace {

QMutex g_publicMutex;
QString g_publicForTesting;

bool publicForTesting(const QString &normalised) {
    const QMutexLocker lock(&g_publicMutex);
    return !g_publicForTesting.isEmpty() && normalised == g_publicForTesting;
}

// An IPv4 address inside an IPv6 one (::ffff:a.b.c.d) is that IPv4 address: the system
// connects to it as such.
QHostAddress unmapped(const QHostAddress &address) {
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : address;
}

bool privateAddress(const QHostAddress &given) {
    const QHostAddress address = unmapped(given);
    if (address.isNull())
        return false;
    if (publicForTesting(address.toString()))
        return false;
    if (address.isLoopback() || address == QHostAddress::AnyIPv4 ||
        address == QHostAddress::AnyIPv6)
        return true;
    static const QList<std::pair<QHostAddress, int>> privateNets{
        {QHostAddress(u"0.0.0.0"_s), 8},     {QHostAddress(u"10.0.0.0"_s), 8},
        {QHostAddress(u"100.64.0.0"_s), 10}, {QHostAddress(u"169.254.0.0"_s), 16},
        {QHostAddress(u"172.16.0.0"_s), 12}, {QHostAddress(u"192.168.0.0"_s), 16},
        {QHostAddress(u"fc00::"_s), 7},      {QHostAddress(u"fe80::"_s), 10},
    };
    for (const auto &[net, bits] : privateNets) {
        if (address.isInSubnet(net, bits))
            return true;
    }
    return false;
}

} // namespace

QString normalisedHost(const QString &host) {
    QString name = host.trimmed();
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.mid(1, name.size() - 2);
    // QUrl decodes percent escapes, lowers the case, turns the short and numeric forms of an
    // IPv4 address into dotted decimal and gives an international name in ACE, as the engine
    // and libcurl read them.
    QUrl url;
    url.setHost(name, QUrl::TolerantMode);
    name = url.host().isEmpty() ? name.toLower() : url.host(QUrl::EncodeUnicode);
    // "localhost." is localhost: a trailing dot only says the name is fully qualified.
    while (name.endsWith(u'.'))
        name.chop(1);
    return name;
}

bool isPrivateHost(const QString &host) {
    const QString name = normalisedHost(host);
    if (name.isEmpty() || publicForTesting(name))
        return false;
    if (name == u"localhost"_s || name.endsWith(u".localhost"_s))
        return true;
    QHostAddress address;
    if (!address.setAddress(name))
        return false; // a name: only the resolver can tell
    return privateAddress(address);
}

bool isPrivateAddress(const sockaddr *address) {
    return address && privateAddress(QHostAddress(address));
}

bool resolvesPrivately(const QString &host) {
    if (isPrivateHost(host))
        return true;
    const QString name = normalisedHost(host);
    if (name.isEmpty() || publicForTesting(name) || !QHostAddress(name).isNull())
        return false;
    const QHostInfo info = QHostInfo::fromName(name);
    const QList<QHostAddress> addresses = info.addresses();
    return std::any_of(addresses.cbegin(), addresses.cend(), &privateAddress);
}

bool privateAllowedFor(const QString &originUrl) {
    if (originUrl.isEmpty())
        return true;
    return isPrivateHost(QUrl(originUrl).host());
}

QString refusalMessage(const QString &address) {
    return u"拒绝访问本机或内网地址：%1"_s.arg(address);
}

void treatAsPublicForTesting(const QString &host) {
    const QString name = host.isEmpty() ? QString() : normalisedHost(host);
    const QMutexLocker lock(&g_publicMutex);
    g_publicForTesting = name;
}

} // namespace addressGuard
