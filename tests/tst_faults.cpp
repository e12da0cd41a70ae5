// Faults a hostile or broken world brings, through kestrelon-cli against a loopback site: full
// disks, huge pages, endless page chains, runaway scripts, titles no file name can take as they
// are, a link in the book's place and a chapter of binary junk. Each row states the exit status, a
// time bound and what must stand byte for byte afterwards. (A trickling server is tested with
// short limits in tst_httpclient, as is a damaged cache entry; a chapter answered with an error
// status ends the first run of tst_network's resume rows.)

#include "tests/support/clirun.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString I = u"\u3000\u3000"_s;
const QString N = u"\r\n"_s;

// The exit status of a book written, whether or not chapters without text are reported (0, 4).
constexpr int kWritten = -1;
// bookText of a book whose text is not looked at.
const QString kAnyText = u"*"_s;
// What no row may end with: a rule that fails on a page it merely does not match.
const QString kLimitMessage = u"超出匹配上限"_s;

// A text book as the program writes it in UTF-8: title, author, then each chapter's name and text.
QString textBook(const QString &title, const QStringList &chapters) {
    QString text = I + title + N + I + u"作者：佚名"_s;
    for (qsizetype c = 0; c < chapters.size(); ++c)
        text += N + N + I + u"第%1章"_s.arg(c + 1) + N + N + I + chapters.at(c);
    return text;
}

// 24 MB of text in one chapter, its lines ending in lineEnd: far past what a fixed match limit lets
// a lazy capture take.
QString hugeChapter(const QString &lineEnd) {
    return (u"这一段文字很长很长。"_s + lineEnd).repeated(1'800'000) + u"尾声标记"_s;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void faults_data();
    void faults();

private:
    support::LoopbackSite m_site;
};

void TestFaults::initTestCase() {
    using support::chapterPage;
    using support::Page;
    const auto serve = [this](const QString &folder, const QString &title, const QByteArray &page) {
        support::serveBook(m_site, folder, title, {QString()},
                           [page](int) { return Page{.body = page}; });
    };
    support::serveBook(m_site, u"plain"_s, u"平常之书"_s, {u"第一章正文。"_s, u"第二章正文。"_s});
    // Its title of 1.5 MB in UTF-8 is cut to what a file name can hold, and quickly.
    serve(u"pingpong"_s, QString(500000, QChar(0x957F)), chapterPage(u"甲页。"_s, u"1_2.html"_s));
    m_site.serve(u"/pingpong/1_2.html"_s, {.body = chapterPage(u"乙页。"_s, u"1.html"_s)});
    support::serveBook(m_site, u"control"_s, u"-.控\u0001制\u001F之\u007F书"_s, {u"正文。"_s});
    // Declared, as a page whose first characters are controls would otherwise read as binary.
    m_site.serve(u"/nameless/"_s,
                 {.body = support::contentsPage(u".-\u0007*?"_s, 1, u"<meta charset=\"gbk\">"_s)});
    m_site.serve(u"/nameless/1.html"_s, {.body = chapterPage(u"正文。"_s)});

    // Two bytes apiece: read as UTF-16 (the zero byte says so), they hold lone surrogates.
    QRandomGenerator random(2024);
    QByteArray junk(2000, '\0');
    random.fillRange(reinterpret_cast<quint32 *>(junk.data()), junk.size() / 4);
    junk[0] = '\0';
    serve(u"junk"_s, u"乱码之书"_s, junk);

    support::serveBook(m_site, u"huge"_s, u"巨章之书"_s, {hugeChapter(u"<br>"_s)});

    // Forty chapter links through a page function that never returns.
    QString links = u"<h1>脚本之书</h1><script>function go(n) { while (true) {} }</script>"_s;
    for (int c = 1; c <= 40; ++c)
        links += u"<li><a href=\"javascript:go('%1')\">第%1章</a></li>"_s.arg(c);
    m_site.serve(u"/scripts/"_s, {.body = support::gbk(links)});
    QVERIFY(m_site.start());
}

void TestFaults::faults_data() {
    QTest::addColumn<QString>("book"); // the book's folder on the site
    // "full shelf", "full settings": that folder is full; "link", "link, keep": the book's name is
    // a link to a read-only file elsewhere (an EPUB book goes through the same link replacement);
    // a page of a terabyte waits for --resume in that file's folder, to which the folder of the
    // book's pages is a link, or with "keep" in a folder of the cache's own.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("seconds");      // the run ends within this
    QTest::addColumn<QString>("bookFile"); // the book's file name, when it matters
    // What the one book file on the shelf holds afterwards ("" none is there).
    QTest::addColumn<QString>("bookText");

    const QString plain = textBook(u"平常之书"_s, {u"第一章正文。"_s, u"第二章正文。"_s});
    QTest::newRow("full disk: the old book stays")
        << u"plain"_s << u"full shelf"_s << 1 << 60 << u"平常之书.txt"_s << u"the old book"_s;
    QTest::newRow("full disk under the settings file: it stays, the job goes on")
        << u"plain"_s << u"full settings"_s << 0 << 60 << QString() << plain;
    QTest::newRow("24 MB chapter") << u"huge"_s << QString() << 0 << 120 << QString()
                                   << textBook(u"巨章之书"_s, {hugeChapter(N + I)});
    QTest::newRow("two pages linking to each other, a title of 1.5 MB")
        << u"pingpong"_s << QString() << 0 << 60 << QString()
        << textBook(QString(500000, QChar(0x957F)), {u"甲页。"_s + N + I + u"乙页。"_s});
    QTest::newRow("forty runaway script links")
        << u"scripts"_s << QString() << 1 << 40 << QString() << QString();
    QTest::newRow("title with control characters and a leading dot and dash")
        << u"control"_s << QString() << 0 << 60 << u"控制之书.txt"_s << kAnyText;
    QTest::newRow("title of nothing a file name keeps")
        << u"nameless"_s << QString() << 0 << 60 << u"书名未知.txt"_s << kAnyText;
    QTest::newRow(
        "links in the book's and its pages' places: the book replaced, the targets untouched")
        << u"plain"_s << u"link"_s << 0 << 60 << u"平常之书.txt"_s << plain;
    QTest::newRow("a link in the book's place kept on request")
        << u"plain"_s << u"link, keep"_s << 0 << 60 << u"平常之书.txt"_s << u"the victim"_s;
    QTest::newRow("a chapter of random bytes has no text, and no rule fails on it")
        << u"junk"_s << QString() << kWritten << 60 << u"乱码之书.txt"_s << kAnyText;
}

void TestFaults::faults() {
    QFETCH(QString, book);
    QFETCH(QString, setup);
    QFETCH(int, exitCode);
    QFETCH(int, seconds);
    QFETCH(QString, bookFile);
    QFETCH(QString, bookText);

    QTemporaryDir shelfDir;
    QTemporaryDir settingsDir;
    QTemporaryDir cacheDir; // the program's XDG cache folder
    // A small file system in the folder that is full once the old files are in (root only).
    QByteArray full;
    const auto unmount = qScopeGuard([&full] {
        if (!full.isEmpty())
            ::umount(full.constData());
    });
    if (setup.startsWith(u"full "_s)) {
        if (::geteuid() != 0)
            QSKIP("a full file system needs a tmpfs mount, which needs root");
        full = (setup == u"full shelf"_s ? shelfDir : settingsDir).path().toLocal8Bit();
        if (::mount("tmpfs", full.constData(), "tmpfs", 0, "size=128k") != 0)
            QSKIP("this machine refuses a tmpfs mount");
    }
    // The section lacks most keys, so a run writes them back.
    const QString settings = settingsDir.filePath(u"Kestrelon.ini"_s);
    QVERIFY(support::writeBytes(
        settings,
        support::gbk(u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\n"
                     u"tagChapter=<li><a href=\"(.*?)\">(.*?)</a></li>\r\n"
                     u"tagText=<div id=\"content\">(.*?)</div>\r\n"
                     u"tagNext=<div class=\"next\"><a href=\"(.*?)\">\r\n"_s.arg(m_site.port()))));
    // A book already on the shelf: a failed write must leave it as it was.
    const QString oldBook = shelfDir.filePath(u"平常之书.txt"_s);
    if (setup == u"full shelf"_s)
        QVERIFY(support::writeBytes(oldBook, "the old book"));
    if (!full.isEmpty()) {
        // What is left is filled with zeros.
        QFile filler(QString::fromLocal8Bit(full) + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, '\0');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    const QByteArray settingsBefore = support::readBytes(settings);
    // Someone else's read-only file, linked to under the book's name.
    const QString victim = settingsDir.filePath(u"victim.txt"_s);
    QFile huge;
    if (setup.startsWith(u"link"_s)) {
        QVERIFY(support::writeBytes(victim, "the victim"));
        QVERIFY(
            QFile::setPermissions(victim, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(QFile::link(victim, oldBook));
        const auto sha = [this](const QString &path) {
            return QString::fromLatin1(
                QCryptographicHash::hash(m_site.url(path).toUtf8(), QCryptographicHash::Sha256)
                    .toHex());
        };
        const QString pages = cacheDir.filePath(u"kestrelon/"_s + sha(u"/plain/"_s));
        const bool linked = setup == u"link"_s;
        QVERIFY(QDir().mkpath(linked ? cacheDir.filePath(u"kestrelon"_s) : pages));
        QVERIFY(!linked || QFile::link(settingsDir.path(), pages));
        huge.setFileName((linked ? settingsDir.path() : pages) + u'/' + sha(u"/plain/1.html"_s));
        QVERIFY(support::writeBytes(huge.fileName(), "x\n") && huge.resize(qint64(1) << 40));
    }

    QStringList arguments{u"--settings"_s, settings, u"--encoding"_s, u"utf-8"_s, u"--resume"_s};
    arguments << (setup == u"link, keep"_s ? u"--keep"_s : u"--overwrite"_s)
              << m_site.url(u"/%1/"_s.arg(book));
    const support::CliOptions options{
        .shelf = shelfDir.path(), .cache = cacheDir.path(), .limitSeconds = seconds};

    // A run past its time bound ends with -1.
    const support::CliRun run = support::runCli(arguments, options);
    QVERIFY2(exitCode == kWritten ? run.exitCode == 0 || run.exitCode == 4
                                  : run.exitCode == exitCode,
             qPrintable(run.err));
    QVERIFY2(!run.err.contains(kLimitMessage), qPrintable(run.err));

    QStringList books = QDir(shelfDir.path()).entryList({u"*.txt"_s}, QDir::Files | QDir::Hidden);
    if (setup == u"full settings"_s)
        QCOMPARE(support::readBytes(settings), settingsBefore);
    if (setup == u"full shelf"_s) // the disk's reason, not that of the write given up
        QVERIFY2(run.err.contains(u"No space left on device"_s), qPrintable(run.err));
    if (setup.startsWith(u"link"_s)) {
        QCOMPARE(support::readBytes(victim), QByteArray("the victim"));
        QCOMPARE(huge.exists(), setup == u"link"_s); // read or removed only in the cache's folder
        // (The "user" bits say what this user may do, and root may write anything.)
        QVERIFY(!(QFile::permissions(victim) &
                  (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)));
    }
    QCOMPARE(books.size(), bookText.isEmpty() ? 0 : 1);
    if (bookText.isEmpty())
        return;
    if (!bookFile.isEmpty())
        QCOMPARE(books.first(), bookFile);
    if (bookText != kAnyText) // the byte-order mark is read as such
        QCOMPARE(QString::fromUtf8(support::readBytes(shelfDir.filePath(books.first()))), bookText);
}

QTEST_MAIN(TestFaults)
#include "tests/tst_faults.moc"
