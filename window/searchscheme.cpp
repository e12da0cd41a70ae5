#include "window/searchscheme.h"

#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

using namespace Qt::StringLiterals;

namespace searchScheme {

namespace {

const QString kSearchPath = u"search"_s;
const QString kPickPath = u"pick"_s;
const QString kTitleField = u"title"_s;
const QString kAddressField = u"url"_s;

QUrl schemeUrl(const QString &path, const QString &field, const QString &value) {
    QUrl url;
    url.setScheme(QString::fromLatin1(kScheme));
    url.setPath(path);
    // Every byte but the unreserved ones encoded, so an address or a title from a site cannot
    // end the field or add one.
    url.setQuery(field + u'=' + QString::fromLatin1(QUrl::toPercentEncoding(value)),
                 QUrl::StrictMode);
    return url;
}

// A form's field as it was typed: a form writes a space as "+" and a "+" as "%2B".
QString formField(const QUrl &url, const QString &field) {
    QString query = url.query(QUrl::FullyEncoded);
    query.replace(u'+', u"%20"_s);
    return QUrlQuery(query).queryItemValue(field, QUrl::FullyDecoded);
}

// The program's own navigations have no initiator; the help page's origin is "file:", a result
// page's the scheme's own. A site's page, a frame from anywhere and a sandboxed document ("null")
// are none of these.
bool trustedInitiator(const QUrl &initiator) {
    if (initiator.isEmpty())
        return true;
    const QString scheme = initiator.scheme();
    return (scheme == u"file"_s || scheme == QLatin1String(kScheme)) && initiator.host().isEmpty();
}

} // namespace

void registerScheme() {
    QWebEngineUrlScheme scheme(kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // A local scheme: a page from the web may neither load nor open it, only local pages may.
    // Its own pages may open the help page and their links.
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

QUrl searchUrl(const QString &title) {
    return schemeUrl(kSearchPath, kTitleField, title);
}

QUrl pickUrl(const QString &contentsUrl) {
    return schemeUrl(kPickPath, kAddressField, contentsUrl);
}

} // namespace searchScheme

void SearchSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job) {
    using namespace searchScheme;
    if (!trustedInitiator(job->initiator()) || job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QUrl url = job->requestUrl();
    if (url.path() == kSearchPath) {
        emit searchRequested(formField(url, kTitleField).trimmed(), job);
        return;
    }
    const QString contentsUrl = formField(url, kAddressField);
    const QUrl address(contentsUrl, QUrl::StrictMode);
    if (url.path() != kPickPath || !address.isValid() ||
        (address.scheme() != u"http"_s && address.scheme() != u"https"_s)) {
        job->fail(QWebEngineUrlRequestJob::UrlInvalid);
        return;
    }
    job->fail(QWebEngineUrlRequestJob::RequestAborted);
    emit picked(contentsUrl);
}
