#pragma once
// The help browser's search for a book: the browser's own profile, where alone the kestrelon:
// scheme is answered, the search behind the help page's form, and the result pages.

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

class BookSearch;
class QWebEngineUrlRequestJob;
class QWebEngineView;

class HelpSearch : public QObject {
    Q_OBJECT
public:
    // Gives view a page of a profile of its own. Create it after view: the profile must outlive
    // the page, and a parent's children go in the order they came.
    HelpSearch(QWebEngineView *view, QObject *parent);
    ~HelpSearch() override;

    // Shows the help page; a chosen result leads back to it.
    void showHelp(const QUrl &helpPage);
    bool searching() const;
    // While a download runs, a search is refused and a result's link does nothing: the address
    // box belongs to the job.
    void setDownloading(bool downloading) { m_downloading = downloading; }

signals:
    // A result was chosen: its contents address.
    void picked(const QString &contentsUrl);
    void statusChanged(const QString &text);

private:
    void search(const QString &title, QWebEngineUrlRequestJob *job);
    void answer(QWebEngineUrlRequestJob *job, const QString &page);

    // A search may be letting events run when its owner goes, so it goes later.
    struct DeleteLater {
        void operator()(QObject *object) const { object->deleteLater(); }
    };

    QWebEngineView *m_view;
    QUrl m_helpPage;
    // Made at the first search: nothing is fetched, nor any browser made, before.
    std::unique_ptr<BookSearch, DeleteLater> m_search;
    QPointer<QWebEngineUrlRequestJob> m_waiting; // the request the running search will answer
    QString m_waitingTitle;
    bool m_downloading = false;
};
