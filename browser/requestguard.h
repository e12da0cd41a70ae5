#pragma once
// Decides which requests a hidden browser's page may make: nothing at all while it turns chapter
// HTML into text, and nothing on this machine or a private network while it loads or builds a
// page from a public site. One guard serves one page for the page's whole life; one more, on the
// browser's profile, judges every request by the document that started it, and so also what a
// page sends after it has gone (a beacon from its unload handler).

#include <QHash>
#include <QMutex>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

#include <atomic>

class RequestGuard : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    // PublicInitiators: a request started by a document from a public site (its initiator) may
    // not reach a private address; one without such an initiator passes.
    enum class Policy { AllowAll, BlockAll, PublicOnly, PublicInitiators };

    explicit RequestGuard(QObject *parent = nullptr);

    // PublicOnly blocks private addresses unless origin, the page's own address, is one too
    // (addressGuard::privateAllowedFor). A host name is looked up (once per guard) when the
    // request goes to it directly, not through the proxy, and blocked when any of its addresses
    // is private.
    void setPolicy(Policy policy, const QUrl &origin = QUrl());

    // How much a policy lets through, from 0 (BlockAll) up: a page whose guard is to let through
    // more than before gets a new page, so that what the old one still sends is judged as before.
    static int reach(Policy policy, const QUrl &origin);
    int reach() const;

    // Whether the policy lets a request for url through; initiator is the address of the
    // document that makes it (for PublicInitiators).
    bool allows(const QUrl &url, const QUrl &initiator = QUrl());

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    // addressGuard's rules, kept here for the callers of the guard.
    static bool isPrivateHost(const QString &host);
    static void treatAsPublicForTesting(const QString &host);

    // Forgets the names looked up so far: their addresses may change over a long session.
    void forgetLookups();

private:
    // Whether url goes to a private address, or to no web address at all.
    bool reachesPrivate(const QUrl &url);
    bool resolvesPrivately(const QString &host);

    std::atomic<Policy> m_policy{Policy::BlockAll};
    std::atomic<bool> m_originPrivate{false};
    QMutex m_lookupMutex;
    QHash<QString, bool> m_lookups; // name → whether it resolved to a private address
};
