#pragma once
// The kestrelon: scheme through which the help page asks the program to search for a book and
// a result page hands a chosen book's contents address back to the window.

#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineUrlRequestJob;

namespace searchScheme {

inline constexpr char kScheme[] = "kestrelon";

// Makes the scheme known to the web engine; before the application object exists.
void registerScheme();

// The address of a search for title, as the help page's form makes it.
QUrl searchUrl(const QString &title);
// The address a result's link leads to.
QUrl pickUrl(const QString &contentsUrl);

} // namespace searchScheme

// Answers the help browser's kestrelon: requests: only those of the program itself, the help page
// and its own result pages; anything else, a site's page above all, is refused.
class SearchSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob *job) override;

signals:
    // A search for title; the receiver answers job, at once or when the search ends, unless the
    // engine drops the job first.
    void searchRequested(const QString &title, QWebEngineUrlRequestJob *job);
    // A result was chosen. Its request is given up, so the choice leaves no page in the history.
    void picked(const QString &contentsUrl);
};
