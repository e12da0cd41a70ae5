#pragma once
// The book library: one SQLite database (Qt SQL's QSQLITE driver) holding each book a job kept and
// each of its chapters as the chapter step captured it, before any option applied, so a later
// build with any options can be made from it. WAL journal, foreign keys, every write a
// transaction; the schema's version is PRAGMA user_version, brought up to date on opening.

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace library {

// A book as the library knows it.
struct BookRecord {
    QString contentsUrl;
    QString host;
    QString title;
    QString author;
    QString options;  // the options of its last build, in words (optionsText)
    QString encoding; // of its last build
    QString bookPath; // the book file of its last build, "" before the first
    QString bookSha256;
    QDateTime updated; // invalid before the first build
    QDateTime checked; // invalid before the first check
    int chapters = 0;  // held in the library
    // The file a build was about to put in place when it last stopped short of recording it
    // ("" when none): a kill between the two leaves either the old or this file there.
    QString pendingPath;
    QString pendingSha256;
};

// A chapter as its page step left it: the captures of its pages in order (tagText's value, or
// the separate text page's), the first page's first.
struct ChapterRecord {
    int position = 0; // in the contents page when it was stored
    QString address;
    QString name;
    QString volume;
    QStringList captures;
};

// Every chapter's captures held for the book of contentsUrl in the library at path, by address,
// read through a connection of its own, so that a thread of its own can read them while the job
// starts. Empty when the library or the book holds none or cannot be read: BookLibrary::captures
// then reads, and reports, chapter by chapter.
QHash<QString, QStringList> readHeldChapters(const QString &path, const QString &contentsUrl);

class BookLibrary {
public:
    BookLibrary();
    ~BookLibrary();
    BookLibrary(const BookLibrary &) = delete;
    BookLibrary &operator=(const BookLibrary &) = delete;

    // Opens the library at path, creating it (and its folder) when create is set, and brings its
    // schema up to date. False with a reason for the user in *error.
    bool open(const QString &path, bool create, QString *error);

    // Why the last call that returned a failure failed, in words for the user.
    QString lastError() const { return m_error; }
    // The file open opened.
    QString path() const { return m_path; }

    // The book of contentsUrl, when the library holds it.
    std::optional<BookRecord> book(const QString &contentsUrl);
    // Every book, by title.
    std::optional<QList<BookRecord>> books();

    // Keeps the book's names, adding it when new; its id, nullopt when the write failed.
    std::optional<qint64> keepBook(const QString &contentsUrl, const QString &host,
                                   const QString &title, const QString &author);
    // The addresses of the chapters held for the book.
    std::optional<QSet<QString>> heldAddresses(qint64 bookId);
    // A held chapter's captures; nullopt when it is not held or cannot be read.
    std::optional<QStringList> captures(qint64 bookId, const QString &address);
    // Stores the chapter (replacing what was held for its address) in a transaction of its own.
    bool storeChapter(qint64 bookId, const ChapterRecord &chapter);
    // The book file a build wrote, with the options and encoding it was built with.
    bool recordBuild(qint64 bookId, const QString &options, const QString &encoding,
                     const QString &bookPath, const QString &sha256);
    // The book file a build is about to write, recorded before it replaces the old one;
    // recordBuild clears it.
    bool recordPendingBuild(qint64 bookId, const QString &bookPath, const QString &sha256);
    bool recordCheck(qint64 bookId);
    // Removes the book and its chapters; *found tells whether it was there.
    bool forget(const QString &contentsUrl, bool *found);

private:
    bool migrate();
    bool fail(const QString &what, const QString &reason);

    QString m_connection;
    QString m_path;
    QString m_error;
    std::unique_ptr<QSqlQuery> m_capturesQuery;
};

} // namespace library
