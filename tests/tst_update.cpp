// kestrelon-cli --update against a loopback copy of the demo site whose serial grows, is revised
// and loses chapters: only the chapters the library lacks and the last one it holds are fetched,
// and the book is byte for byte the book a full download with the same options writes; a killed
// update leaves the book and the library sound, and an unwritable library changes nothing.

#include "demo/demosite.h"
#include "tests/support/clirun.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <condition_variable>
#include <mutex>

using namespace Qt::StringLiterals;

// What happens between the first update and the next.
enum class Change {
    None,
    LastRevised,       // the last chapter's text is replaced on the site
    ChapterWithdrawn,  // a chapter leaves the contents page
    Killed,            // an update is killed mid-way, then run again
    KilledAfterWrite,  // killed between writing the book and recording it
    LibraryUnwritable, // the library's folder refuses new files, root's too
    TextCame,          // a chapter without text at first (a bot check) has its text now
    Damaged,           // a chapter's stored text no longer unpacks
    BookEdited,        // the book file is no longer the one the update wrote
};
Q_DECLARE_METATYPE(Change)

namespace {

// The first value each statement gives on the library's file, "" for one that gives none.
QStringList sql(const QString &path, const QStringList &statements) {
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"check"_s);
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        for (const QString &statement : statements)
            values.append(query.exec(statement) && query.next() ? query.value(0).toString()
                                                                : QString());
    }
    QSqlDatabase::removeDatabase(u"check"_s);
    return values;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

// The library's own check of its file, and the chapters it holds.
const QStringList kSoundness{u"PRAGMA integrity_check"_s, u"SELECT count(*) FROM chapters"_s};

} // namespace

class TestUpdate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_demo.addRoutes(m_site.server());
        QVERIFY(m_site.start());
    }

    void init() {
        m_demo.withdraw({});
        m_demo.revise(39, m_book.chapters.at(39));
        m_demo.revise(9, m_book.chapters.at(9));
    }

    void update_data() {
        QTest::addColumn<QStringList>("options");
        // Chapters published for the first update: the next one asks the site for the last of
        // them and for those the site has added.
        QTest::addColumn<int>("before");
        QTest::addColumn<Change>("change"); // made after it

        const auto row = [](const char *name, int before, Change change) {
            QTest::newRow(name) << QStringList() << before << change;
        };
        row("grows from 30 to 40", 30, Change::None);
        for (const QStringList &options :
             {QStringList{u"--encoding"_s, u"utf-8"_s}, QStringList{u"--delete-title"_s},
              QStringList{u"--small-chapters"_s}, QStringList{u"--browser-text"_s},
              QStringList{u"--format"_s, u"epub"_s}})
            QTest::addRow("no new chapters, %s", qPrintable(options.join(u' ')))
                << options << 40 << Change::None;
        row("the last chapter's text changes", 40, Change::LastRevised);
        row("a chapter leaves the contents page", 40, Change::ChapterWithdrawn);
        // Killed once the site is asked for chapter 35: the next update asks for no chapter the
        // killed one had kept, and none beyond the new ones and the last held.
        row("killed, then completed", 30, Change::Killed);
        row("killed between the book and its record", 30, Change::KilledAfterWrite);
        row("unwritable library", 30, Change::LibraryUnwritable);
        row("a chapter's text comes later", 40, Change::TextCame);
        row("a chapter damaged in the library", 40, Change::Damaged);
        row("the book file edited", 30, Change::BookEdited);
    }

    void update() {
        QFETCH(QStringList, options);
        QFETCH(int, before);
        QFETCH(Change, change);
        QTemporaryDir dir;
        const QString shelf = dir.filePath(u"shelf"_s);
        QVERIFY(QDir().mkpath(shelf));
        const QString library = dir.filePath(u"Kestrelon.sqlite"_s);
        const QStringList plain{u"--settings"_s, writeSettings(dir), u"--update"_s, contents()};
        const QStringList arguments = options + plain;

        m_demo.publish(before);
        if (change == Change::TextCame) {
            demo::DemoChapter botCheck = m_book.chapters.at(9);
            botCheck.pages = {{}};
            m_demo.revise(9, botCheck);
        }
        const auto first = support::runCli(plain, {.shelf = shelf});
        QCOMPARE(first.exitCode, change == Change::TextCame ? 4 : 0);

        m_demo.publish(40);
        if (change == Change::LastRevised) {
            demo::DemoChapter revised = m_book.chapters.at(39);
            revised.pages.first().append(u"作者修订：此章已补全。"_s);
            m_demo.revise(39, revised);
        } else if (change == Change::ChapterWithdrawn) {
            m_demo.withdraw({10});
        } else if (change == Change::TextCame) {
            m_demo.revise(9, m_book.chapters.at(9));
        } else if (change == Change::Damaged) {
            sql(library, {u"UPDATE chapters SET captures = x'00' WHERE address = '%1'"_s.arg(
                             m_site.url(pathsOf(9).first()))});
        } else if (change == Change::BookEdited) {
            QVERIFY(support::writeBytes(QDir(shelf).filePath(first.shelf.firstKey()), "edited"));
        } else if (change == Change::Killed) {
            const auto asked = [this, start = m_site.clientRequests().size(),
                                chapter = pathsOf(34).first()] {
                return m_site.clientPaths(start).contains(chapter);
            };
            // Requests spaced out, so that the kill comes while the update is still running.
            const auto killed = support::runCli(
                QStringList{u"--delay"_s, u"300"_s} + arguments,
                {.shelf = shelf, .interruptWhen = asked, .interruptSignal = SIGKILL});
            QCOMPARE(killed.exitCode, -1);
            QCOMPARE(killed.shelf, first.shelf); // no partial book
        } else if (change == Change::KilledAfterWrite) {
            // The file on the shelf is the one the killed build announced, not the one recorded.
            const QString book = QDir(shelf).filePath(first.shelf.firstKey());
            const QByteArray sha =
                QCryptographicHash::hash(first.shelf.first(), QCryptographicHash::Sha256).toHex();
            QCOMPARE(sql(library, {u"UPDATE books SET book_sha256 = 'earlier', pending_path = '%1',"
                                   u" pending_sha256 = '%2'"_s.arg(book, QString::fromLatin1(sha)),
                                   u"SELECT pending_path FROM books"_s}),
                     (QStringList{QString(), book}));
        } else if (change == Change::LibraryUnwritable) {
            support::UnwritableFolder unwritable(dir.path());
            if (!unwritable.works())
                QSKIP("the library's folder cannot be made to refuse new files here");
            const auto refused = support::runCli(arguments, {.shelf = shelf});
            QCOMPARE(refused.exitCode, 1);
            QVERIFY2(refused.err.contains(u"书库"_s) && refused.err.contains(library),
                     qPrintable(refused.err));
            QCOMPARE(refused.shelf, first.shelf);
            return;
        }

        const qsizetype from = m_site.clientRequests().size();
        const auto updated = support::runCli(arguments, {.shelf = shelf});
        QCOMPARE(updated.exitCode, 0);
        const QRegularExpressionMatch counts =
            QRegularExpression(u"从网站取得 (\\d+) 章，从书库取得 (\\d+) 章"_s).match(updated.out);
        QVERIFY2(counts.hasMatch(), qPrintable(updated.out));
        // Chapters before - 1 to 40, counted from 1, and the one that had no text or was damaged.
        const bool again = change == Change::TextCame || change == Change::Damaged;
        const int fetched = 41 - before + int(again);
        QStringList expected{QString::fromLatin1(demo::kDemoBookFolder)};
        if (again)
            expected += pathsOf(9);
        for (int c = before - 1; c < 40; ++c)
            expected += pathsOf(c);
        QCOMPARE(counts.captured(1).toInt() + counts.captured(2).toInt(),
                 change == Change::ChapterWithdrawn ? 39 : 40);
        if (change == Change::Killed) {
            // What the killed update kept is not asked for again.
            QVERIFY2(counts.captured(1).toInt() < fetched, qPrintable(updated.out));
            for (const QString &path : m_site.clientPaths(from))
                QVERIFY2(expected.contains(path), qPrintable(path));
        } else {
            QCOMPARE(counts.captured(1).toInt(), fetched);
            QCOMPARE(sorted(m_site.clientPaths(from)), sorted(expected));
        }
        // Every chapter fetched stays in the library, the one the site took down too.
        QCOMPARE(sql(library, kSoundness), (QStringList{u"ok"_s, u"40"_s}));
        if (change == Change::BookEdited) {
            // Kept without a terminal to ask on, and said so.
            QCOMPARE(updated.shelf.first(), "edited");
            QVERIFY2(updated.out.contains(u"没有替换"_s), qPrintable(updated.out));
            return;
        }

        // A full download of the site as it stands, with the same options; the update replaced
        // its own last build without asking.
        QTemporaryDir fullDir;
        const auto full = support::runCli(
            options + QStringList{u"--settings"_s, writeSettings(fullDir), contents()});
        QCOMPARE(full.exitCode, 0);
        QVERIFY(!full.book().isEmpty() && !QFile::exists(fullDir.filePath(u"Kestrelon.sqlite"_s)));
        QCOMPARE(comparable(updated.shelf.value(full.shelf.firstKey())), comparable(full.book()));
    }

    // --check-updates over four books on three sites, one of them down: only the contents pages
    // are asked for, no book is written, and the failing site's book is reported beside the
    // others. Then --update --all, stopped once and run again.
    void checkUpdates() {
        // The contents pages of the two live sites wait, once armed, until both sites have been
        // asked: checked one host after another, the first would wait out the limit.
        struct Meeting {
            std::mutex lock;
            std::condition_variable met;
            QSet<int> hosts;
            bool armed = false;
            bool missed = false;
        } meeting;
        const auto meet = [&meeting](int host) {
            return [&meeting, host] {
                std::unique_lock lock(meeting.lock);
                if (!meeting.armed)
                    return;
                meeting.hosts.insert(host);
                meeting.met.notify_all();
                if (!meeting.met.wait_for(lock, std::chrono::seconds(10),
                                          [&] { return meeting.hosts.size() == 2; }))
                    meeting.missed = true;
            };
        };
        support::LoopbackSite site;
        support::serveBook(site, u"a"_s, u"甲书"_s, support::chapterTexts(3), {},
                           {.beforeAnswer = meet(1)});
        support::serveBook(site, u"b"_s, u"乙书"_s, support::chapterTexts(2), {},
                           {.beforeAnswer = meet(1)});
        QVERIFY(site.start());
        support::LoopbackSite other;
        support::serveBook(other, u"d"_s, u"丁书"_s, support::chapterTexts(2), {},
                           {.beforeAnswer = meet(2)});
        QVERIFY(other.start());
        auto down = std::make_unique<support::LoopbackSite>();
        // Its title carries a terminal's escape sequence, which is not to reach the terminal.
        support::serveBook(*down, u"c"_s, u"丙书\x1b]0;x\x07"_s, support::chapterTexts(2));
        QVERIFY(down->start());
        QTemporaryDir dir;
        const QString settings = dir.filePath(u"Kestrelon.ini"_s);
        QVERIFY(support::writeBytes(
            settings,
            support::bookRules(u"127.0.0.1:%1"_s.arg(site.port())) + "\r\n" +
                support::bookRules(u"127.0.0.1:%1"_s.arg(down->port()), u"tagCharset=gbk\r\n"_s) +
                "\r\n" + support::bookRules(u"127.0.0.1:%1"_s.arg(other.port()))));
        const QString shelf = dir.filePath(u"shelf"_s);
        QVERIFY(QDir().mkpath(shelf));
        const QStringList books{site.url(u"/a/"_s), site.url(u"/b/"_s), down->url(u"/c/"_s),
                                other.url(u"/d/"_s)};
        // The first site's books are kept up to their first chapter: it has more of both.
        QMap<QString, QByteArray> before;
        for (const QString &book : books) {
            const QStringList to = book.startsWith(site.url(u"/"_s))
                                       ? QStringList{u"--to"_s, book + u"1.html"_s}
                                       : QStringList();
            const auto kept = support::runCli(
                QStringList{u"--settings"_s, settings, u"--update"_s} + to + QStringList{book},
                {.shelf = shelf});
            QCOMPARE(kept.exitCode, 0);
            before = kept.shelf;
        }
        down.reset();

        const qsizetype from = site.clientRequests().size();
        meeting.armed = true;
        const auto checked = support::runCli(
            {u"--settings"_s, settings, u"--check-updates"_s, u"--json"_s}, {.shelf = shelf});
        QCOMPARE(checked.exitCode, 0);
        QCOMPARE(checked.shelf, before);
        QCOMPARE(sorted(site.clientPaths(from)), (QStringList{u"/a/"_s, u"/b/"_s}));
        // The first site was asked (above), and its answer waited for the other site's.
        QVERIFY(!meeting.missed);

        QHash<QString, QJsonObject> found;
        for (const QJsonValue &book :
             QJsonDocument::fromJson(checked.out.toUtf8())[u"books"_s].toArray())
            found.insert(book[u"contentsUrl"_s].toString(), book.toObject());
        QCOMPARE(found.size(), 4);
        QCOMPARE(found[books.at(0)][u"newChapters"_s].toInt(), 2);
        QCOMPARE(found[books.at(0)][u"firstNewChapter"_s].toString(), u"第2章"_s);
        QCOMPARE(found[books.at(3)][u"newChapters"_s].toInt(), 0);
        QVERIFY(found[books.at(3)][u"firstNewChapter"_s].isNull());
        QCOMPARE(found[books.at(2)][u"ok"_s].toBool(true), false);

        // Ctrl-C during --update --all stops the whole run: 乙书, the first of the site's books by
        // title, is stopped, and 甲书 after it is not updated. (Only this site's books, so that no
        // failed check comes first and sets the exit status.)
        const qsizetype beforeStop = site.clientRequests().size();
        const auto stopped =
            support::runCli({u"--settings"_s, settings, u"--update"_s, u"--all"_s, u"--site"_s,
                             u"127.0.0.1:%1"_s.arg(site.port()), u"--delay"_s, u"300"_s},
                            {.shelf = shelf, .interruptWhen = [&] {
                                 return site.clientPaths(beforeStop).contains(u"/b/1.html"_s);
                             }});
        QCOMPARE(stopped.exitCode, 2);
        QVERIFY2(!site.clientPaths(beforeStop).contains(u"/a/2.html"_s), qPrintable(stopped.out));

        // --update --all updates the two books with new chapters, reports the one it could not
        // check, and leaves the fourth alone.
        const qsizetype beforeAll = site.clientRequests().size();
        const auto all = support::runCli({u"--settings"_s, settings, u"--update"_s, u"--all"_s},
                                         {.shelf = shelf});
        QCOMPARE(all.exitCode, 1);
        QVERIFY2(all.out.contains(u"甲书"_s) && all.out.contains(u"乙书"_s) &&
                     all.out.contains(u"丙书"_s) && !all.out.contains(u"丁书"_s) &&
                     !all.out.contains(u'\x1b'),
                 qPrintable(all.out));
        QCOMPARE(sorted(site.clientPaths(beforeAll)),
                 (QStringList{u"/a/"_s, u"/a/"_s, u"/a/1.html"_s, u"/a/2.html"_s, u"/a/3.html"_s,
                              u"/b/"_s, u"/b/"_s, u"/b/1.html"_s, u"/b/2.html"_s}));
        QCOMPARE(all.shelf.value(u"丁书.txt"_s), before.value(u"丁书.txt"_s));
        QVERIFY(all.shelf.value(u"甲书.txt"_s) != before.value(u"甲书.txt"_s));
    }

private:
    // A book as a full download would write it at any moment: an EPUB's entries, each with the
    // moment it was made blanked (its zip times and its dcterms:modified), else the bytes.
    static QByteArray comparable(const QByteArray &book) {
        if (!book.startsWith("PK"))
            return book;
        // Neither call needs an error object: a source that could not be made opens no archive.
        zip_source_t *source = zip_source_buffer_create(book.constData(), book.size(), 0, nullptr);
        zip_t *zip = zip_open_from_source(source, ZIP_RDONLY, nullptr);
        if (!zip) {
            zip_source_free(source);
            return book;
        }
        QByteArray entries;
        const zip_int64_t count = zip_get_num_entries(zip, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t stat;
            zip_file_t *file =
                zip_stat_index(zip, i, 0, &stat) == 0 ? zip_fopen_index(zip, i, 0) : nullptr;
            if (!file)
                continue;
            QByteArray content(qsizetype(stat.size), '\0');
            zip_fread(file, content.data(), stat.size);
            zip_fclose(file);
            static const QRegularExpression modified(u"dcterms:modified\">[^<]*"_s);
            entries += QByteArray(stat.name) + '\n' +
                       QString::fromUtf8(content).replace(modified, QString()).toUtf8() + '\n';
        }
        zip_close(zip);
        return entries;
    }

    QString contents() const { return m_site.url(QString::fromLatin1(demo::kDemoBookFolder)); }

    QString writeSettings(const QTemporaryDir &dir) const {
        const QString path = dir.filePath(u"Kestrelon.ini"_s);
        const QByteArray rules = demo::demoSiteSettings(u"127.0.0.1:%1"_s.arg(m_site.port()));
        return support::writeBytes(path, rules) ? path : QString();
    }

    // Every page the site serves for chapter c.
    QStringList pathsOf(int c) const {
        const QString folder = QString::fromLatin1(demo::kDemoBookFolder);
        QStringList paths;
        for (int p = 0; p < m_book.chapters.at(c).pages.size(); ++p)
            paths.append(folder + demo::demoChapterPageName(c, p));
        if (m_book.chapters.at(c).separateText)
            paths.append(folder + demo::demoChapterTextName(c));
        return paths;
    }

    support::LoopbackSite m_site;
    // Forty short chapters with every kind of page the demo site has: follow-on pages,
    // separate text documents, advertisements.
    demo::DemoBook m_book = demo::generateDemoBook({.chapters = 40, .volumes = 3, .paragraphs = 3});
    demo::DemoSite m_demo{m_book};
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tests/tst_update.moc"
