#include "browser/requestguard.h"

#include "net/addressguard.h"
#include "net/requestprofile.h"

#include <QWebEngineUrlRequestInfo>

using namespace Qt::StringLiterals;

namespace {

// Schemes that never leave the page: the blank document and inline data.
bool staysInPage(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    return scheme == u"about"_s || scheme == u"data"_s || scheme == u"blob"_s;
}

bool webScheme(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    return scheme == u"http"_s || scheme == u"https"_s || scheme == u"ws"_s || scheme == u"wss"_s;
}

} // namespace

RequestGuard::RequestGuard(QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent) {}

void RequestGuard::setPolicy(Policy policy, const QUrl &origin) {
    m_originPrivate =
        origin.isValid() && addressGuard::privateAllowedFor(origin.toString(QUrl::FullyEncoded));
    m_policy = policy;
}

int RequestGuard::reach(Policy policy, const QUrl &origin) {
    switch (policy) {
    case Policy::BlockAll:
        return 0;
    case Policy::PublicOnly:
        return origin.isValid() &&
                       addressGuard::privateAllowedFor(origin.toString(QUrl::FullyEncoded))
                   ? 2
                   : 1;
    case Policy::PublicInitiators:
    case Policy::AllowAll:
        break;
    }
    return 3;
}

int RequestGuard::reach() const {
    switch (m_policy.load()) {
    case Policy::BlockAll:
        return 0;
    case Policy::PublicOnly:
        return m_originPrivate ? 2 : 1;
    case Policy::PublicInitiators:
    case Policy::AllowAll:
        break;
    }
    return 3;
}

bool RequestGuard::allows(const QUrl &url, const QUrl &initiator) {
    if (staysInPage(url))
        return true;
    switch (m_policy.load()) {
    case Policy::AllowAll:
        return true;
    case Policy::BlockAll:
        return false;
    case Policy::PublicOnly:
        return m_originPrivate || !reachesPrivate(url);
    case Policy::PublicInitiators:
        return !webScheme(initiator) ||
               addressGuard::privateAllowedFor(initiator.toString(QUrl::FullyEncoded)) ||
               !reachesPrivate(url);
    }
    return false;
}

void RequestGuard::interceptRequest(QWebEngineUrlRequestInfo &info) {
    if (!allows(info.requestUrl(), info.initiator()))
        info.block(true);
}

bool RequestGuard::reachesPrivate(const QUrl &url) {
    // The engine sees names, not the addresses it connects to: a name is looked up here too.
    // Through the proxy, the proxy connects, and the name is all there is to judge.
    return !webScheme(url) || addressGuard::isPrivateHost(url.host()) ||
           (requestProfile::direct(url) && resolvesPrivately(url.host()));
}

void RequestGuard::forgetLookups() {
    const QMutexLocker lock(&m_lookupMutex);
    m_lookups.clear();
}

bool RequestGuard::resolvesPrivately(const QString &host) {
    const QString name = addressGuard::normalisedHost(host);
    {
        const QMutexLocker lock(&m_lookupMutex);
        const auto known = m_lookups.constFind(name);
        if (known != m_lookups.cend())
            return *known;
    }
    // Looked up without the lock: the engine may ask about other names meanwhile.
    const bool isPrivate = addressGuard::resolvesPrivately(name);
    const QMutexLocker lock(&m_lookupMutex);
    m_lookups.insert(name, isPrivate);
    return isPrivate;
}

bool RequestGuard::isPrivateHost(const QString &host) {
    return addressGuard::isPrivateHost(host);
}

void RequestGuard::treatAsPublicForTesting(const QString &host) {
    addressGuard::treatAsPublicForTesting(host);
}
