// Faults a hostile or broken world brings, through kestrelon-cli against a loopback site: full
// disks, huge pages, error answers, endless page chains, runaway scripts, a trickling server and
// a title too long for a file name. Each row states the exit status, a time bound and what must
// stand byte for byte afterwards.

#include "tests/support/loopbacksite.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <sys/mount.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString I = u"\u3000\u3000"_s;
const QString N = u"\r\n"_s;

QByteArray contentsPage(const QString &title, int chapters, const QString &extra = QString()) {
    QString page = u"<html><head>%1</head><body><h1>%2</h1>"_s.arg(extra, title);
    for (int c = 1; c <= chapters; ++c)
        page += u"<li><a href=\"%1.html\">第%1章</a></li>"_s.arg(c);
    return support::gbk(page + u"</body></html>"_s);
}

QByteArray chapterPage(const QString &text, const QString &next = QString()) {
    QString page = u"<div id=\"content\">%1</div>"_s.arg(text);
    if (!next.isEmpty())
        page += u"<a class=\"next\" href=\"%1\">下一页</a>"_s.arg(next);
    return support::gbk(page);
}

// A small file system that is full once the old files are in, while it lives (root only).
class FullDisk {
public:
    explicit FullDisk(const QString &path)
        : m_path(path) {
        m_mounted = ::mount("tmpfs", path.toLocal8Bit().constData(), "tmpfs", 0, "size=128k") == 0;
    }
    ~FullDisk() {
        if (m_mounted)
            ::umount(m_path.toLocal8Bit().constData());
    }
    bool mounted() const { return m_mounted; }
    // Fills what is left with a file of zeros.
    void fill() const {
        QFile filler(m_path + u"/filler"_s);
        if (!filler.open(QIODevice::WriteOnly))
            return;
        const QByteArray block(4096, '\0');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }

private:
    QString m_path;
    bool m_mounted = false;
};

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
    auto serveBook = [this](const QString &name, const QString &title,
                            const QList<QByteArray> &chapters) {
        m_site.serve(u"/%1/"_s.arg(name), {.body = contentsPage(title, int(chapters.size()))});
        for (qsizetype c = 0; c < chapters.size(); ++c)
            m_site.serve(u"/%1/%2.html"_s.arg(name).arg(c + 1), {.body = chapters.at(c)});
    };
    serveBook(u"plain"_s, u"平常之书"_s,
              {chapterPage(u"第一章正文。"_s), chapterPage(u"第二章正文。"_s)});
    serveBook(u"selfloop"_s, u"自环之书"_s, {chapterPage(u"只此一页。"_s, u"1.html"_s)});
    serveBook(u"pingpong"_s, u"往返之书"_s, {chapterPage(u"甲页。"_s, u"1_2.html"_s)});
    m_site.serve(u"/pingpong/1_2.html"_s, {.body = chapterPage(u"乙页。"_s, u"1.html"_s)});
    serveBook(u"title"_s, QString(134, QChar(0x957F)), {chapterPage(u"长题之书的正文。"_s)});

    // 24 MB of text in one chapter: far past what a fixed match limit lets a lazy capture take.
    QString huge;
    huge.reserve(24 << 20);
    while (huge.size() < (24 << 20))
        huge += u"这一段文字很长很长。<br>"_s;
    serveBook(u"huge"_s, u"巨章之书"_s, {chapterPage(huge + u"尾声标记"_s)});

    for (const int status : {404, 500}) {
        const QString name = u"status%1"_s.arg(status);
        m_site.serve(u"/%1/"_s.arg(name), {.body = contentsPage(u"错误之书"_s, 2)});
        m_site.serve(u"/%1/1.html"_s.arg(name), {.body = chapterPage(u"第一章。"_s)});
        m_site.server().Get(u"/%1/2.html"_s.arg(name).toStdString(),
                            [status](const httplib::Request &, httplib::Response &res) {
                                res.status = status;
                                res.set_content("<div id=\"content\">error page</div>",
                                                "text/html");
                            });
    }

    // Forty chapter links through a page function that never returns.
    QString links = u"<h1>脚本之书</h1><script>function go(n) { while (true) {} }</script>"_s;
    for (int c = 1; c <= 40; ++c)
        links += u"<li><a href=\"javascript:go('%1')\">第%1章</a></li>"_s.arg(c);
    m_site.serve(u"/scripts/"_s, {.body = support::gbk(links)});

    // A server that sends a byte every half second: never silent, hopelessly slow.
    m_site.serve(u"/trickle/"_s, {.body = contentsPage(u"涓流之书"_s, 1)});
    m_site.server().Get("/trickle/1.html", [](const httplib::Request &, httplib::Response &res) {
        res.set_chunked_content_provider("text/html", [](size_t, httplib::DataSink &sink) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            return sink.write("x", 1);
        });
    });
    QVERIFY(m_site.start());
}

void TestFaults::faults_data() {
    QTest::addColumn<QString>("book");     // the book's folder on the site
    QTest::addColumn<QString>("fullDisk"); // "shelf" or "settings": that folder is full
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("seconds");      // the run ends within this
    QTest::addColumn<QString>("bookText"); // what the book file holds ("" none is written)
    QTest::addColumn<QString>("bookTail"); // for a huge book: how it ends

    const QString plain = I + u"平常之书"_s + N + I + u"作者：佚名"_s + N + N + I + u"第1章"_s + N +
                          N + I + u"第一章正文。"_s + N + N + I + u"第2章"_s + N + N + I +
                          u"第二章正文。"_s;
    QTest::newRow("full disk: the old book stays")
        << u"plain"_s << u"shelf"_s << 1 << 60 << QString() << QString();
    QTest::newRow("full disk under the settings file: it stays, the job goes on")
        << u"plain"_s << u"settings"_s << 0 << 60 << plain << QString();
    QTest::newRow("24 MB chapter")
        << u"huge"_s << QString() << 0 << 120 << QString() << u"尾声标记"_s;
    QTest::newRow("404 chapter") << u"status404"_s << QString() << 1 << 60 << QString()
                                 << QString();
    QTest::newRow("500 chapter") << u"status500"_s << QString() << 1 << 60 << QString()
                                 << QString();
    QTest::newRow("tagNext to the page itself")
        << u"selfloop"_s << QString() << 0 << 60
        << I + u"自环之书"_s + N + I + u"作者：佚名"_s + N + N + I + u"第1章"_s + N + N + I +
               u"只此一页。"_s
        << QString();
    QTest::newRow("two pages linking to each other")
        << u"pingpong"_s << QString() << 0 << 60
        << I + u"往返之书"_s + N + I + u"作者：佚名"_s + N + N + I + u"第1章"_s + N + N + I +
               u"甲页。"_s + N + I + u"乙页。"_s
        << QString();
    QTest::newRow("forty runaway script links")
        << u"scripts"_s << QString() << 1 << 40 << QString() << QString();
    QTest::newRow("trickling chapter")
        << u"trickle"_s << QString() << 1 << 100 << QString() << QString();
    QTest::newRow("title of 400 bytes")
        << u"title"_s << QString() << 0 << 60
        << I + QString(134, QChar(0x957F)) + N + I + u"作者：佚名"_s + N + N + I + u"第1章"_s + N +
               N + I + u"长题之书的正文。"_s
        << QString();
}

void TestFaults::faults() {
    QFETCH(QString, book);
    QFETCH(QString, fullDisk);
    QFETCH(int, exitCode);
    QFETCH(int, seconds);
    QFETCH(QString, bookText);
    QFETCH(QString, bookTail);

    QTemporaryDir shelfDir;
    QTemporaryDir settingsDir;
    std::unique_ptr<FullDisk> disk;
    if (!fullDisk.isEmpty()) {
        if (::geteuid() != 0)
            QSKIP("a full file system needs a tmpfs mount, which needs root");
        disk = std::make_unique<FullDisk>(fullDisk == u"shelf"_s ? shelfDir.path()
                                                                 : settingsDir.path());
        if (!disk->mounted())
            QSKIP("this machine refuses a tmpfs mount");
    }
    // The section lacks most keys, so a run writes them back.
    const QString settings = settingsDir.filePath(u"Kestrelon.ini"_s);
    QVERIFY(support::writeBytes(
        settings,
        support::gbk(u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\n"
                     u"tagChapter=<li><a href=\"(.*?)\">(.*?)</a></li>\r\n"
                     u"tagText=<div id=\"content\">(.*?)</div>\r\n"
                     u"tagNext=<a class=\"next\" href=\"(.*?)\">\r\n"_s.arg(m_site.port()))));
    // A book already on the shelf: a failed write must leave it as it was.
    const QString oldBook = shelfDir.filePath(u"平常之书.txt"_s);
    if (fullDisk == u"shelf"_s)
        QVERIFY(support::writeBytes(oldBook, "the old book"));
    if (disk)
        disk->fill();
    const QByteArray settingsBefore = support::readBytes(settings);

    QElapsedTimer took;
    took.start();
    QProcess cli;
    cli.start(QStringLiteral(KESTRELON_CLI),
              {u"--settings"_s, settings, u"--out"_s, shelfDir.path(), u"--encoding"_s, u"utf-8"_s,
               u"--overwrite"_s, m_site.url(u"/%1/"_s.arg(book))});
    QVERIFY(cli.waitForFinished(seconds * 1000));
    QVERIFY2(took.elapsed() < seconds * 1000, qPrintable(QString::number(took.elapsed())));
    QVERIFY2(cli.exitCode() == exitCode, cli.readAllStandardError().constData());

    QStringList books = QDir(shelfDir.path()).entryList({u"*.txt"_s}, QDir::Files);
    if (fullDisk == u"shelf"_s) {
        QCOMPARE(support::readBytes(oldBook), QByteArray("the old book"));
        books.removeAll(u"平常之书.txt"_s);
    }
    if (fullDisk == u"settings"_s)
        QCOMPARE(support::readBytes(settings), settingsBefore);
    if (bookText.isEmpty() && bookTail.isEmpty()) {
        QVERIFY2(books.isEmpty(), qPrintable(books.join(u", "_s)));
        return;
    }
    QCOMPARE(books.size(), 1);
    const QString text = QString::fromUtf8(support::readBytes(shelfDir.filePath(books.first())));
    if (!bookText.isEmpty())
        QCOMPARE(text, bookText); // the byte-order mark is read as such
    else
        QVERIFY(text.endsWith(bookTail));
}

QTEST_MAIN(TestFaults)
#include "tests/tst_faults.moc"
