// Whole jobs through the real pipeline (HTTP client, hidden browser, script engine) against a
// loopback site, with the settings file in a temporary folder; every book file is compared byte
// for byte.

#include "browser/webengine.h"
#include "pipeline/pipeline.h"
#include "settings/inimodule.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString I = u"\u3000\u3000"_s; // the indent
const QString N = u"\r\n"_s;

// A chapter of a test book: its name, the HTML of its page's text block (null: no page is
// served), and the volume heading written before it on the contents page (if any).
struct TestChapter {
    QString name;
    QString text;
    QString volumeBefore = {};
};

// One job: the book's folder on the site, the wanted range's chapter files ("" for the book's own
// ends), the options, and the book file it should give: its text, and its name where that is in
// question.
struct Job {
    QString book;
    QString first = {};
    QString last = {};
    bool smallChapters = false;
    bool browserText = false;
    QString file = {};
    QString text = {};
};

// The parts of a book file as it should read: the head, a volume heading, a headed chapter.
QString head(const QString &title) {
    return I + title + N + I + u"作者：测试作者"_s;
}

QString volume(const QString &name) {
    return N + N + N + I + name;
}

QString headed(const QString &name, const QString &text) {
    return N + N + I + name + N + N + I + text;
}

// The advertisement book as it should read: the advertisement's paragraph and tags are gone.
const QString kAdBook =
    head(u"广告之书"_s) + headed(u"第一章"_s, u"正文一。"_s + N + I + u"正文二。"_s);

} // namespace

Q_DECLARE_METATYPE(Job)

class TestEndToEnd : public QObject {
    Q_OBJECT

public:
    static void initMain() { browser::prepareWebEngine(); }

private slots:
    void initTestCase() {
        serveBook(u"ad"_s, u"广告之书"_s,
                  {{u"第一章"_s,
                    u"正文一。<br><p class=\"ad\">广告：<b>买书</b>请来本站！</p><br>正文二。"_s}});
        // The title holds characters a file name cannot: the book is "分卷之书.txt".
        serveBook(u"volumes"_s, u"分/卷: \"之\" 书?"_s,
                  {{u"第一章"_s, u"第一章的正文。"_s, u"卷一"_s},
                   {u"第二章"_s, u"第二章的正文。"_s},
                   {u"第三章"_s, u"第三章的正文。"_s},
                   {u"第四章"_s, u"第四章的正文。"_s, u"卷二"_s},
                   {u"第五章"_s, u"第五章的正文。"_s}});
        serveBook(u"small"_s, u"小章之书"_s,
                  {{u"第一章 上"_s, u"上半章的正文。"_s},
                   {u"第一章 下"_s, u"下半章的正文。"_s},
                   {u"第二章 开始"_s, u"第二章的正文。"_s},
                   {u"第三章"_s, u"\r\n "_s}}); // no text: nothing is written for it
        // The second chapter's connection breaks mid-body.
        serveBook(u"cut"_s, u"断线之书"_s,
                  {{u"第一章"_s, u"第一章的正文。"_s}, {u"第二章"_s, QString()}});
        m_site.serve(u"/cut/2.html"_s,
                     {.body = support::chapterPage(QString(5000, u'断')), .cutAfter = 100});
        // The first chapter's page is answered only after six seconds.
        serveBook(u"stall"_s, u"停顿之书"_s, {{u"第一章"_s, QString()}, {u"第二章"_s, QString()}});
        m_site.serve(u"/stall/1.html"_s,
                     {.body = support::chapterPage(u"late"_s), .delayMs = 6000});
        QVERIFY(m_site.start());

        // The pages are marked up as the demo site's, whose rules are the shipped template's; the
        // rule for follow-on pages is left empty, which is one that matches nothing.
        const QString settings = m_settingsDir.filePath(u"Kestrelon.ini"_s);
        QVERIFY(support::writeBytes(
            settings, support::bookRules(u"127.0.0.1:%1"_s.arg(m_site.port()), u"tagNext=\r\n"_s)));
        iniModule::setSettingsFileOverride(settings);
        m_pipeline = std::make_unique<Pipeline>(m_view);
    }

    void init() {
        m_shelf = std::make_unique<QTemporaryDir>();
        // The pipeline keeps its reference to m_view; only its contents change between tests.
        m_view = support::RecordingView();
        m_view.inputs.bookshelfFolder = m_shelf->path() + u'/';
        m_seenBefore = m_site.clientRequests().size();
    }

    void booksDownloadWhole_data() {
        QTest::addColumn<Job>("job");
        // The demo book in tst_cli has the site's other kinds of pages (follow-on pages, separate
        // text documents, advertisements) taken with the program's own conversion.
        QTest::newRow("advertisement deleted, browser conversion")
            << Job{.book = u"ad"_s, .browserText = true, .text = kAdBook};
        // The range starts inside volume one: its heading comes before the first wanted chapter.
        QTest::newRow("range with volume headings, the title's file name")
            << Job{.book = u"volumes"_s,
                   .first = u"2.html"_s,
                   .last = u"4.html"_s,
                   .file = u"分卷之书.txt"_s,
                   .text = head(u"分/卷: \"之\" 书?"_s) + volume(u"卷一"_s) +
                           headed(u"第二章"_s, u"第二章的正文。"_s) +
                           headed(u"第三章"_s, u"第三章的正文。"_s) + volume(u"卷二"_s) +
                           headed(u"第四章"_s, u"第四章的正文。"_s)};
        QTest::newRow("small chapters joined, a chapter without text left out")
            << Job{.book = u"small"_s,
                   .smallChapters = true,
                   .text = head(u"小章之书"_s) + headed(u"第一章 上"_s, u"上半章的正文。"_s) + N +
                           I + u"下半章的正文。"_s + headed(u"第二章 开始"_s, u"第二章的正文。"_s)};
    }

    void booksDownloadWhole() {
        QFETCH(Job, job);
        QCOMPARE(download(job), std::optional(EndState::Success));
        const QStringList files = QDir(m_shelf->path()).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        if (!job.file.isEmpty())
            QCOMPARE(files.first(), job.file);
        QCOMPARE(support::readBytes(m_shelf->filePath(files.first())), support::gbk(job.text));
    }

    void failureKeepsTheOldBook_data() {
        QTest::addColumn<Job>("job");
        QTest::addColumn<int>("requests"); // made by the job
        QTest::newRow("inverted range: before any chapter") << Job{.book = u"volumes"_s,
                                                                   .first = u"4.html"_s,
                                                                   .last = u"2.html"_s,
                                                                   .file = u"分卷之书.txt"_s}
                                                            << 1;
        QTest::newRow("connection cut at the second chapter")
            << Job{.book = u"cut"_s, .file = u"断线之书.txt"_s} << 3;
    }

    void failureKeepsTheOldBook() {
        QFETCH(Job, job);
        QVERIFY(support::writeBytes(m_shelf->filePath(job.file), "the old book"));
        m_view.replaceAnswer = true;
        QCOMPARE(download(job), std::optional(EndState::Failure));
        QTEST(int(m_site.clientPaths(m_seenBefore).size()), "requests");
        QCOMPARE(support::readBytes(m_shelf->filePath(job.file)), QByteArray("the old book"));
        QCOMPARE(QDir(m_shelf->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{job.file});
        QVERIFY(m_view.replaceQuestions.isEmpty());
    }

    void stopBeforeTheSiteAnswers() {
        // The site stalls before answering: the request is given up at once, and neither the late
        // answer nor the idle limit is waited for. (A stop at a later chapter and during a
        // trickling page is tested through the window in tst_window.)
        m_view.onEvents = [this, asked = m_site.asked(u"/stall/1.html"_s)] {
            m_view.stop = asked();
        };
        QElapsedTimer job;
        job.start();
        QCOMPARE(download({.book = u"stall"_s}), std::optional(EndState::Stopped));
        // Far less than the stalling site's six seconds (or the idle limit's thirty).
        QVERIFY2(job.elapsed() < 3000, qPrintable(QString::number(job.elapsed())));
        QCOMPARE(m_view.bookBar, QList<double>{0.5});
        QVERIFY(!m_site.clientPaths(m_seenBefore).contains(u"/stall/2.html"_s));
        QCOMPARE(m_view.running, (QList<bool>{true, false}));
    }

    void replaceAnswered_data() {
        // The answer "no" keeps the old file, a success: tested through the window in tst_window.
        QTest::addColumn<bool>("folder"); // a folder bears the book's name, or a read-only file
        QTest::newRow("yes over a read-only file") << false;
        QTest::newRow("yes, but a folder bears the name: a failure") << true;
    }

    void replaceAnswered() {
        QFETCH(bool, folder);
        const QString path = m_shelf->filePath(u"广告之书.txt"_s);
        QVERIFY(folder ? QDir().mkdir(path) : support::writeBytes(path, "old"));
        if (!folder)
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup));
        m_view.replaceAnswer = true;
        QCOMPARE(download({.book = u"ad"_s}),
                 std::optional(folder ? EndState::Failure : EndState::Success));
        QCOMPARE(m_view.replaceQuestions, QStringList{path});
        QCOMPARE(QFileInfo(path).isDir(), folder);
        QCOMPARE(support::readBytes(path), folder ? QByteArray() : support::gbk(kAdBook));
    }

private:
    // Serves a book at /<name>/: contents page index.html, chapter c at c.html.
    void serveBook(const QString &name, const QString &title, const QList<TestChapter> &chapters) {
        QString contents =
            u"<html><body><h1>%1</h1><p class=\"author\">作者：测试作者</p>\r\n"_s.arg(title);
        for (int c = 0; c < chapters.size(); ++c) {
            const TestChapter &chapter = chapters.at(c);
            if (!chapter.volumeBefore.isEmpty())
                contents += u"<h2 class=\"volume\">%1</h2>\r\n"_s.arg(chapter.volumeBefore);
            contents += u"<li><a href=\"%1.html\">%2</a></li>\r\n"_s.arg(c + 1).arg(chapter.name);
            if (!chapter.text.isNull())
                m_site.serve(u"/%1/%2.html"_s.arg(name).arg(c + 1),
                             {.body = support::chapterPage(chapter.text)});
        }
        m_site.serve(u"/%1/index.html"_s.arg(name),
                     {.body = support::gbk(contents + u"</body></html>"_s), .gzip = true});
    }

    // Runs the job as the user would set it up.
    std::optional<EndState> download(const Job &job) {
        const auto address = [&](const QString &file) {
            return file.isEmpty() ? QString() : m_site.url(u"/%1/%2"_s.arg(job.book, file));
        };
        m_view.inputs.contentsUrl = address(u"index.html"_s);
        m_view.inputs.firstChapterUrl = address(job.first);
        m_view.inputs.lastChapterUrl = address(job.last);
        m_view.inputs.smallChapters = job.smallChapters;
        m_view.inputs.browserText = job.browserText;
        return m_pipeline->download();
    }

    support::LoopbackSite m_site;
    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_shelf;
    support::RecordingView m_view;
    std::unique_ptr<Pipeline> m_pipeline;
    qsizetype m_seenBefore = 0;
};

QTEST_MAIN(TestEndToEnd)
#include "tests/tst_endtoend.moc"
