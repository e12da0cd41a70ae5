#pragma once
// Quorvel's one class: it takes over a download job for its site, keeping the text blocks of one
// author (or of all) from every page of a thread, and builds the whole book with its own head.
// The host creates it as "Quorvel.makeTxt" and calls its members by name only.

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

namespace quorvel {

class makeTxt : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)

public:
    makeTxt();
    ~makeTxt() override;

    QString title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }

    // Takes the settings file, the site's section, the author filter ("" the thread's author,
    // "*" everyone) and the minimum block length (512 when not a number), and reads the site's
    // tagTitle, tagAuthor, tagText and tagNext.
    Q_INVOKABLE void Initialize(const QString &m_iniFile, const QString &m_hostName,
                                const QString &Param_1, const QString &Param_2);

    // Adds the wanted blocks of one page (hID 0 for the job's first page, which also gives the
    // title and the author) to the book and returns the next page's address as found on the
    // page; on the last page returns "" and replaces *html by the whole book.
    Q_INVOKABLE QString infoFromWeb(QString *html, int hID);

    // Objects alive in this library, for DllCanUnloadNow.
    static int liveObjects();

private:
    void readFirstPage(const QString &html);

    QString m_title;
    QString m_author; // the filter at first; the book's author line from the first page on
    QString m_body;   // the typeset text of the pages handled so far
    // The next-page links returned so far, as the pages have them.
    QSet<QString> m_requested;
    // Every page handled so far: the digest of its next-page link, a NUL and its wanted blocks.
    QSet<QByteArray> m_pagesSeen;
    QStringList m_tagTitle;
    QStringList m_tagAuthor;
    QStringList m_tagText;
    QStringList m_tagNext;
};

} // namespace quorvel
