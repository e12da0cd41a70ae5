#include "library/booklibrary.h"

#include "library/sha256.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

using namespace Qt::StringLiterals;

namespace library {

namespace {

// The schema this program writes. A library made by a newer program is left alone.
constexpr int kSchemaVersion = 2;

// Each step takes the schema from the version before it to its own.
const char *const kMigrations[] = {
    // 1: books and their chapters. A chapter's captures are zlib-compressed UTF-16 text: the
    // markup they keep compresses several times over, so the library stays smaller than the book.
    "CREATE TABLE books ("
    " id INTEGER PRIMARY KEY,"
    " contents_url TEXT NOT NULL UNIQUE,"
    " host TEXT NOT NULL,"
    " title TEXT NOT NULL,"
    " author TEXT NOT NULL,"
    " options TEXT NOT NULL DEFAULT '',"
    " encoding TEXT NOT NULL DEFAULT '',"
    " book_path TEXT NOT NULL DEFAULT '',"
    " book_sha256 TEXT NOT NULL DEFAULT '',"
    " updated_at INTEGER,"
    " checked_at INTEGER);"
    "CREATE TABLE chapters ("
    " book_id INTEGER NOT NULL REFERENCES books(id) ON DELETE CASCADE,"
    " address TEXT NOT NULL,"
    " position INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " volume TEXT NOT NULL,"
    " captures BLOB NOT NULL,"
    " sha256 TEXT NOT NULL,"
    " fetched_at INTEGER NOT NULL,"
    " PRIMARY KEY (book_id, address)) WITHOUT ROWID;",
    // 2: the book file a build is about to put in place, so that a build killed between the
    // file and its record still counts as the library's own.
    "ALTER TABLE books ADD COLUMN pending_path TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE books ADD COLUMN pending_sha256 TEXT NOT NULL DEFAULT '';",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

QByteArray packCaptures(const QStringList &captures) {
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_0);
    stream << captures;
    return bytes;
}

std::optional<QStringList> unpackCaptures(const QByteArray &stored) {
    const QByteArray bytes = qUncompress(stored);
    if (bytes.isEmpty())
        return std::nullopt;
    QDataStream stream(bytes);
    stream.setVersion(QDataStream::Qt_6_0);
    QStringList captures;
    stream >> captures;
    if (stream.status() != QDataStream::Ok)
        return std::nullopt;
    return captures;
}

// SQLite takes a null QString as NULL; the columns hold text, "" for none.
QString notNull(const QString &text) {
    return text.isNull() ? u""_s : text;
}

QDateTime timeOf(const QVariant &value) {
    return value.isNull() ? QDateTime() : QDateTime::fromSecsSinceEpoch(value.toLongLong());
}

BookRecord bookOf(const QSqlQuery &query) {
    BookRecord book;
    book.contentsUrl = query.value(0).toString();
    book.host = query.value(1).toString();
    book.title = query.value(2).toString();
    book.author = query.value(3).toString();
    book.options = query.value(4).toString();
    book.encoding = query.value(5).toString();
    book.bookPath = query.value(6).toString();
    book.bookSha256 = query.value(7).toString();
    book.updated = timeOf(query.value(8));
    book.checked = timeOf(query.value(9));
    book.chapters = query.value(10).toInt();
    book.pendingPath = query.value(11).toString();
    book.pendingSha256 = query.value(12).toString();
    return book;
}

constexpr char kBookColumns[] =
    "SELECT contents_url, host, title, author, options, encoding, book_path, book_sha256,"
    " updated_at, checked_at, (SELECT count(*) FROM chapters WHERE book_id = books.id),"
    " pending_path, pending_sha256 FROM books";

// A connection's name no other in the process has.
QString uniqueConnection() {
    return u"kestrelon-library-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// A connection to the library at path, not yet open. A writer in another process holds the
// file only briefly, so a connection waits for it rather than failing at once.
QSqlDatabase addConnection(const QString &name, const QString &path) {
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
    db.setDatabaseName(path);
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000"_s);
    return db;
}

} // namespace

QHash<QString, QStringList> readHeldChapters(const QString &path, const QString &contentsUrl) {
    QHash<QString, QStringList> held;
    if (!QFileInfo::exists(path))
        return held;
    const QString connection = uniqueConnection();
    {
        QSqlDatabase db = addConnection(connection, path);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (db.open() &&
            query.prepare(u"SELECT address, captures FROM chapters JOIN books ON books.id ="
                          u" chapters.book_id WHERE books.contents_url = ?"_s)) {
            query.addBindValue(contentsUrl);
            if (query.exec()) {
                while (query.next()) {
                    if (auto captures = unpackCaptures(query.value(1).toByteArray()))
                        held.insert(query.value(0).toString(), std::move(*captures));
                }
            }
        }
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return held;
}

BookLibrary::BookLibrary()
    : m_connection(uniqueConnection()) {}

BookLibrary::~BookLibrary() {
    // A statement must go before its connection.
    m_capturesQuery.reset();
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool BookLibrary::fail(const QString &what, const QString &reason) {
    m_error = u"书库%1失败：%2"_s.arg(what, reason);
    return false;
}

bool BookLibrary::open(const QString &path, bool create, QString *error) {
    const auto failOpen = [&](const QString &reason) {
        fail(u"打开"_s, u"%1（%2）"_s.arg(reason, path));
        *error = m_error;
        return false;
    };
    if (!QSqlDatabase::isDriverAvailable(u"QSQLITE"_s))
        return failOpen(u"缺少 Qt 的 SQLite 驱动"_s);
    // Nothing is written through a link: SQLite would follow one at the database or at its log
    // files and write wherever it points.
    for (const QString &file : {path, path + u"-wal"_s, path + u"-shm"_s}) {
        if (QFileInfo(file).isSymLink())
            return failOpen(u"%1 是符号链接，书库不经链接写入"_s.arg(QFileInfo(file).fileName()));
    }
    if (!QFileInfo::exists(path)) {
        if (!create)
            return failOpen(u"书库不存在"_s);
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return failOpen(u"无法建立文件夹"_s);
    }
    m_capturesQuery.reset();
    m_path = path;
    QSqlDatabase db = addConnection(m_connection, path);
    if (!db.open())
        return failOpen(db.lastError().text());
    QSqlQuery query(db);
    // WAL keeps every committed chapter through a kill; NORMAL sync is safe with WAL and keeps
    // one transaction per chapter cheap.
    if (!query.exec(u"PRAGMA journal_mode = WAL"_s) || !query.next() ||
        query.value(0).toString().compare(u"wal"_s, Qt::CaseInsensitive) != 0)
        return failOpen(query.lastError().text().isEmpty() ? u"无法写入"_s
                                                           : query.lastError().text());
    if (!query.exec(u"PRAGMA synchronous = NORMAL"_s) || !query.exec(u"PRAGMA foreign_keys = ON"_s))
        return failOpen(query.lastError().text());
    if (!migrate()) {
        *error = m_error;
        return false;
    }
    return true;
}

bool BookLibrary::migrate() {
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    QSqlQuery query(db);
    if (!query.exec(u"PRAGMA user_version"_s) || !query.next())
        return fail(u"打开"_s, query.lastError().text());
    const int version = query.value(0).toInt();
    if (version > kSchemaVersion)
        return fail(u"打开"_s, u"书库由更新的版本建立（结构版本 %1）"_s.arg(version));
    for (int step = version; step < kSchemaVersion; ++step) {
        if (!db.transaction())
            return fail(u"升级"_s, db.lastError().text());
        bool ok = true;
        // QSqlQuery runs one statement at a time.
        const QStringList statements =
            QString::fromLatin1(kMigrations[step]).split(u';', Qt::SkipEmptyParts);
        for (const QString &statement : statements)
            ok = ok && query.exec(statement);
        ok = ok && query.exec(u"PRAGMA user_version = %1"_s.arg(step + 1));
        if (!ok) {
            const QString reason = query.lastError().text();
            db.rollback();
            return fail(u"升级"_s, reason);
        }
        if (!db.commit())
            return fail(u"升级"_s, db.lastError().text());
    }
    return true;
}

std::optional<BookRecord> BookLibrary::book(const QString &contentsUrl) {
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QString::fromLatin1(kBookColumns) + u" WHERE contents_url = ?"_s);
    query.addBindValue(contentsUrl);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return bookOf(query);
}

std::optional<QList<BookRecord>> BookLibrary::books() {
    QSqlQuery query(QSqlDatabase::database(m_connection));
    if (!query.exec(QString::fromLatin1(kBookColumns) + u" ORDER BY title, contents_url"_s)) {
        fail(u"读取"_s, query.lastError().text());
        return std::nullopt;
    }
    QList<BookRecord> found;
    while (query.next())
        found.append(bookOf(query));
    return found;
}

std::optional<qint64> BookLibrary::keepBook(const QString &contentsUrl, const QString &host,
                                            const QString &title, const QString &author) {
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(u"INSERT INTO books (contents_url, host, title, author) VALUES (?, ?, ?, ?)"
                  u" ON CONFLICT (contents_url) DO UPDATE SET host = excluded.host,"
                  u" title = excluded.title, author = excluded.author"_s);
    query.addBindValue(contentsUrl);
    query.addBindValue(notNull(host));
    query.addBindValue(notNull(title));
    query.addBindValue(notNull(author));
    if (!query.exec()) {
        fail(u"写入"_s, query.lastError().text());
        return std::nullopt;
    }
    query.prepare(u"SELECT id FROM books WHERE contents_url = ?"_s);
    query.addBindValue(contentsUrl);
    if (!query.exec() || !query.next()) {
        fail(u"读取"_s, query.lastError().text());
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

std::optional<QSet<QString>> BookLibrary::heldAddresses(qint64 bookId) {
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.setForwardOnly(true);
    query.prepare(u"SELECT address FROM chapters WHERE book_id = ?"_s);
    query.addBindValue(bookId);
    if (!query.exec()) {
        fail(u"读取"_s, query.lastError().text());
        return std::nullopt;
    }
    QSet<QString> held;
    while (query.next())
        held.insert(query.value(0).toString());
    return held;
}

std::optional<QStringList> BookLibrary::captures(qint64 bookId, const QString &address) {
    // A rebuild asks for every chapter of a book: the statement is prepared once.
    if (!m_capturesQuery) {
        m_capturesQuery = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connection));
        m_capturesQuery->setForwardOnly(true);
        m_capturesQuery->prepare(
            u"SELECT captures FROM chapters WHERE book_id = ? AND address = ?"_s);
    }
    QSqlQuery &query = *m_capturesQuery;
    query.bindValue(0, bookId);
    query.bindValue(1, address);
    if (!query.exec() || !query.next()) {
        fail(u"读取"_s, query.lastError().text());
        return std::nullopt;
    }
    const QByteArray stored = query.value(0).toByteArray();
    query.finish();
    const auto found = unpackCaptures(stored);
    if (!found)
        fail(u"读取"_s, u"章节数据损坏：%1"_s.arg(address));
    return found;
}

bool BookLibrary::storeChapter(qint64 bookId, const ChapterRecord &chapter) {
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    if (!db.transaction())
        return fail(u"写入"_s, db.lastError().text());
    const QByteArray packed = packCaptures(chapter.captures);
    QSqlQuery query(db);
    query.prepare(u"INSERT OR REPLACE INTO chapters (book_id, address, position, name, volume,"
                  u" captures, sha256, fetched_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"_s);
    query.addBindValue(bookId);
    query.addBindValue(chapter.address);
    query.addBindValue(chapter.position);
    query.addBindValue(notNull(chapter.name));
    query.addBindValue(notNull(chapter.volume));
    query.addBindValue(qCompress(packed));
    query.addBindValue(sha256Hex(packed));
    query.addBindValue(QDateTime::currentSecsSinceEpoch());
    if (!query.exec()) {
        const QString reason = query.lastError().text();
        db.rollback();
        return fail(u"写入"_s, reason);
    }
    if (!db.commit()) {
        const QString reason = db.lastError().text();
        db.rollback();
        return fail(u"写入"_s, reason);
    }
    return true;
}

bool BookLibrary::recordBuild(qint64 bookId, const QString &options, const QString &encoding,
                              const QString &bookPath, const QString &sha256) {
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(
        u"UPDATE books SET options = ?, encoding = ?, book_path = ?, book_sha256 = ?,"
        u" pending_path = '', pending_sha256 = '', updated_at = ?, checked_at = ? WHERE id = ?"_s);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    query.addBindValue(notNull(options));
    query.addBindValue(notNull(encoding));
    query.addBindValue(notNull(bookPath));
    query.addBindValue(notNull(sha256));
    query.addBindValue(now);
    query.addBindValue(now);
    query.addBindValue(bookId);
    if (!query.exec())
        return fail(u"写入"_s, query.lastError().text());
    return true;
}

bool BookLibrary::recordPendingBuild(qint64 bookId, const QString &bookPath,
                                     const QString &sha256) {
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(u"UPDATE books SET pending_path = ?, pending_sha256 = ? WHERE id = ?"_s);
    query.addBindValue(notNull(bookPath));
    query.addBindValue(notNull(sha256));
    query.addBindValue(bookId);
    if (!query.exec())
        return fail(u"写入"_s, query.lastError().text());
    return true;
}

bool BookLibrary::recordCheck(qint64 bookId) {
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(u"UPDATE books SET checked_at = ? WHERE id = ?"_s);
    query.addBindValue(QDateTime::currentSecsSinceEpoch());
    query.addBindValue(bookId);
    if (!query.exec())
        return fail(u"写入"_s, query.lastError().text());
    return true;
}

bool BookLibrary::forget(const QString &contentsUrl, bool *found) {
    QSqlQuery query(QSqlDatabase::database(m_connection));
    // The chapters go with the book (ON DELETE CASCADE), in the statement's own transaction.
    query.prepare(u"DELETE FROM books WHERE contents_url = ?"_s);
    query.addBindValue(contentsUrl);
    if (!query.exec())
        return fail(u"写入"_s, query.lastError().text());
    *found = query.numRowsAffected() > 0;
    return true;
}

} // namespace library
