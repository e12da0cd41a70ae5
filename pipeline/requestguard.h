#pragma once
// Decides which requests a hidden browser's page may make: everything while it loads a site's
// page for its cookie, nothing at all while it turns chapter HTML into text, and no loopback or
// private-network address while it builds a contents page from a public site.

#include <QString>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

#include <atomic>

class RequestGuard : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    enum class Policy { AllowAll, BlockAll, PublicOnly };

    explicit RequestGuard(QObject *parent = nullptr);

    // PublicOnly blocks private addresses unless origin, the page's own address, is one too.
    void setPolicy(Policy policy, const QUrl &origin = QUrl());

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    // Whether host names this machine or a private network: "localhost", a loopback,
    // private-use, link-local or unspecified address.
    static bool isPrivateHost(const QString &host);

    // Tests serve a "public" site from a loopback address: requests to host then count as
    // public. Empty restores the default.
    static void treatAsPublicForTesting(const QString &host);

private:
    std::atomic<Policy> m_policy{Policy::AllowAll};
    std::atomic<bool> m_originPrivate{false};
};
