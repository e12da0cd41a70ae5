#include "pipeline/requestguard.h"

#include <QHostAddress>
#include <QMutex>
#include <QWebEngineUrlRequestInfo>

using namespace Qt::StringLiterals;

namespace {

QMutex g_publicMutex;
QString g_publicForTesting;

bool publicForTesting(const QString &host) {
    const QMutexLocker lock(&g_publicMutex);
    return !g_publicForTesting.isEmpty() &&
           host.compare(g_publicForTesting, Qt::CaseInsensitive) == 0;
}

// Schemes that never leave the page: the blank document and inline data.
bool staysInPage(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    return scheme == u"about"_s || scheme == u"data"_s || scheme == u"blob"_s;
}

} // namespace

RequestGuard::RequestGuard(QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent) {}

void RequestGuard::setPolicy(Policy policy, const QUrl &origin) {
    m_originPrivate = origin.isValid() && isPrivateHost(origin.host());
    m_policy = policy;
}

void RequestGuard::interceptRequest(QWebEngineUrlRequestInfo &info) {
    const QUrl url = info.requestUrl();
    if (staysInPage(url))
        return;
    switch (m_policy.load()) {
    case Policy::AllowAll:
        break;
    case Policy::BlockAll:
        info.block(true);
        break;
    case Policy::PublicOnly:
        if (!m_originPrivate && isPrivateHost(url.host()))
            info.block(true);
        break;
    }
}

bool RequestGuard::isPrivateHost(const QString &host) {
    if (publicForTesting(host))
        return false;
    const QString name = host.toLower();
    if (name == u"localhost"_s || name.endsWith(u".localhost"_s))
        return true;
    QHostAddress address;
    if (!address.setAddress(name))
        return false; // a name: only its owner's resolver could tell
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const QHostAddress v4(address.toIPv4Address(&mapped));
        if (mapped)
            address = v4;
    }
    if (address.isLoopback() || address.isNull() || address == QHostAddress::AnyIPv4 ||
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

void RequestGuard::treatAsPublicForTesting(const QString &host) {
    const QMutexLocker lock(&g_publicMutex);
    g_publicForTesting = host;
}
