// The book library on its own: what it stores comes back whole after the file is reopened,
// forgetting a book takes its chapters, and a library it cannot use is refused with a reason.

#include "library/booklibrary.h"
#include "library/librarypath.h"
#include "library/sha256.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestLibrary : public QObject {
    Q_OBJECT
private slots:
    void roundTrip();
    void refused_data();
    void refused();
    void location();
    void digests();
};

void TestLibrary::roundTrip() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"books.sqlite"_s);
    const QString url = u"http://127.0.0.1/book/1/"_s;
    // Line-end marks, markup and a text that does not fit one page survive.
    const QStringList captures{u"<p>第一页\u000E\u000F正文</p>"_s, QString(),
                               u"尾"_s.repeated(5000)};
    {
        library::BookLibrary books;
        QString error;
        QVERIFY2(books.open(path, true, &error), qPrintable(error));
        const qint64 id = books.keepBook(url, u"127.0.0.1"_s, u"书名"_s, u"作者：某"_s).value();
        QVERIFY(books.storeChapter(id, {0, url + u"1.html"_s, u"第一章"_s, u"卷一"_s, captures}));
        QVERIFY(books.storeChapter(id, {1, url + u"2.html"_s, u"第二章"_s, QString(), {u"x"_s}}));
        // Storing a chapter again replaces it.
        QVERIFY(books.storeChapter(id, {1, url + u"2.html"_s, u"第二章"_s, QString(), {u"y"_s}}));
        QVERIFY(books.recordBuild(id, u"txt"_s, u"gbk"_s, u"/shelf/书名.txt"_s, u"ab"_s));
        // Another book that holds a chapter at the same address.
        const auto other = books.keepBook(u"http://127.0.0.1/other/"_s, u"h"_s, u"t"_s, u"a"_s);
        QVERIFY(other && books.storeChapter(*other, {0, url + u"1.html"_s, u"n"_s, {}, {u"z"_s}}));
    }
    // What an update reads ahead on a thread of its own is what it would query chapter by chapter.
    const QHash<QString, QStringList> held{{url + u"1.html"_s, captures},
                                           {url + u"2.html"_s, {u"y"_s}}};
    QCOMPARE(library::readHeldChapters(path, url), held);
    QCOMPARE(library::readHeldChapters(path, url + u"x"_s), (QHash<QString, QStringList>()));
    QVERIFY(library::readHeldChapters(dir.filePath(u"none.sqlite"_s), url).isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath(u"none.sqlite"_s)));
    library::BookLibrary books;
    QString error;
    QVERIFY2(books.open(path, false, &error), qPrintable(error));
    const auto book = books.book(url);
    QVERIFY(book);
    QCOMPARE(book->title, u"书名"_s);
    QCOMPARE(book->chapters, 2);
    QCOMPARE(book->bookPath, u"/shelf/书名.txt"_s);
    QVERIFY(book->updated.isValid());
    // Kept again under other names, the book is still the one that holds the chapters.
    const qint64 id = books.keepBook(url, u"h"_s, u"书名"_s, u"a"_s).value();
    QCOMPARE(books.heldAddresses(id), (QSet<QString>{url + u"1.html"_s, url + u"2.html"_s}));
    QCOMPARE(books.captures(id, url + u"1.html"_s), std::optional<QStringList>(captures));
    bool found = false;
    QVERIFY(books.forget(url, &found) && found && !books.book(url));
    QCOMPARE(books.heldAddresses(id), std::optional<QSet<QString>>(QSet<QString>()));
}

void TestLibrary::refused_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("reason");
    QTest::newRow("newer schema") << u"newer"_s << u"更新的版本"_s;
    QTest::newRow("missing, not to be created") << u"missing"_s << u"不存在"_s;
    QTest::newRow("not a database") << u"garbage"_s << u"书库打开失败"_s;
    // Neither the database nor its log is written through a link, nor made where one points.
    QTest::newRow("a link in the database's place") << u"link"_s << u"符号链接"_s;
    QTest::newRow("a link in its log's place") << u"-wal"_s << u"符号链接"_s;
}

void TestLibrary::refused() {
    QFETCH(QString, situation);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"books.sqlite"_s);
    if (situation == u"newer"_s) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"setup"_s);
            db.setDatabaseName(path);
            QVERIFY(db.open() && QSqlQuery(db).exec(u"PRAGMA user_version = 99"_s));
        }
        QSqlDatabase::removeDatabase(u"setup"_s);
    } else if (situation == u"link"_s || situation == u"-wal"_s) {
        QVERIFY(QFile::link(dir.filePath(u"elsewhere"_s),
                            situation == u"link"_s ? path : path + situation));
    } else if (situation == u"garbage"_s) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
    }
    library::BookLibrary books;
    QString error;
    QVERIFY(!books.open(path, situation != u"missing"_s, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    if (situation == u"missing"_s)
        QVERIFY(!QFile::exists(path) && !QFile::exists(dir.filePath(u"elsewhere"_s)));
}

// Beside a settings file named on the command line (or the program's own), and for the user's own
// settings file in the user's data folder.
void TestLibrary::location() {
    QCOMPARE(library::libraryPathFor(u"/tmp/x/other.ini"_s), u"/tmp/x/other.sqlite"_s);
    QCOMPARE(library::libraryPathFor(qEnvironmentVariable("XDG_CONFIG_HOME") +
                                     u"/kestrelon/Kestrelon.ini"_s),
             qEnvironmentVariable("XDG_DATA_HOME") + u"/kestrelon/library.sqlite"_s);
}

// A book file's digest, read in pieces, is the digest of its bytes taken whole, which is the one
// a build records; a file that cannot be read has none.
void TestLibrary::digests() {
    // Three pieces of a megabyte and three bytes, the pieces' bytes in different orders.
    const QByteArray bytes = QByteArray("0123456789abcdefg").repeated(185043);
    const QString expected =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    QCOMPARE(library::sha256Hex(bytes), expected);
    QTemporaryDir dir;
    QFile file(dir.filePath(u"book.txt"_s));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QCOMPARE(library::fileSha256Hex(file.fileName()), expected);
    QCOMPARE(library::fileSha256Hex(dir.filePath(u"missing.txt"_s)), QString());
}

int main(int argc, char *argv[]) {
    // The user's folders of this test, so the per-user row knows them.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(u"config"_s).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(u"data"_s).toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestLibrary test;
    return QTest::qExec(&test, argc, argv);
}

#include "tests/tst_library.moc"
