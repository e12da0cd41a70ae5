// Whole jobs through the real pipeline (HTTP client, hidden browser, script engine) against a
// loopback site, with the settings file in a temporary folder; every check compares the whole
// book file.

#include "demo/demosite.h"
#include "pipeline/pipeline.h"
#include "pipeline/webengine.h"
#include "settings/inimodule.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"
#include "text/charset.h"

#include <QDir>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

using namespace Qt::StringLiterals;

namespace {

const QString I = u"\u3000\u3000"_s; // the indent
const QString N = u"\r\n"_s;

// A chapter of a test book: its name, the volume heading written before it on the contents page
// (if any), and the HTML of each of its pages' text blocks.
struct TestChapter {
    QString name;
    QString volumeBefore;
    QStringList pages;
};

// The head of a book file and the headed text of one chapter, as the book should read.
QString head(const QString &title, const QString &author) {
    return I + title + N + I + u"作者："_s + author;
}

QString headed(const QString &name, const QString &text) {
    return N + N + I + name + N + N + text;
}

} // namespace

Q_DECLARE_METATYPE(Pipeline::Outcome)

class TestEndToEnd : public QObject {
    Q_OBJECT

public:
    static void initMain() { prepareWebEngine(); }

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void chapterOverThreePages();
    void chapterTextInASeparateDocument();
    void longCaptureIsNeverAnAddress();
    void advertisementDeletedWithItsTags_data();
    void advertisementDeletedWithItsTags();
    void volumeHeadingsAtAVolumesFirstWantedChapter();
    void smallChaptersJoined();
    void rangeOfOneChapter();
    void invertedRangeFailsBeforeAnyChapter();
    void stopSeenAtChapterK();
    void failureMidBookKeepsTheOldBook();
    void rulesFindingNoTextWriteTheHeadOnly();
    void replaceQuestion_data();
    void replaceQuestion();
    void titleCharactersAFileNameCannotHold();
    void encodings_data();
    void encodings();
    void demoBookDownloadsWhole();

private:
    // Serves a book at /<name>/ (contents page index.html, chapter c at c.html, its later pages
    // at c_p.html) and returns its contents address.
    QString serveBook(const QString &name, const QString &title,
                      const QList<TestChapter> &chapters);
    void writeRules(const QString &extra = QString());
    QString bookPath(const QString &fileName) const { return m_shelf->filePath(fileName); }

    support::LoopbackSite m_site;
    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_shelf;
    support::RecordingView m_view;
    std::unique_ptr<Pipeline> m_pipeline;
    std::unique_ptr<DemoSite> m_demo;
    DemoBook m_demoBook;
    qsizetype m_seenBefore = 0;
};

QString TestEndToEnd::serveBook(const QString &name, const QString &title,
                                const QList<TestChapter> &chapters) {
    QString contents = u"<html><body><h1>%1</h1><em>测试作者</em>\r\n"_s.arg(title);
    for (int c = 0; c < chapters.size(); ++c) {
        const TestChapter &chapter = chapters.at(c);
        if (!chapter.volumeBefore.isEmpty())
            contents += u"<h2>%1</h2>\r\n"_s.arg(chapter.volumeBefore);
        contents += u"<li><a href=\"%1.html\">%2</a></li>\r\n"_s.arg(c + 1).arg(chapter.name);
        for (int p = 0; p < chapter.pages.size(); ++p) {
            const QString file =
                p == 0 ? u"%1.html"_s.arg(c + 1) : u"%1_%2.html"_s.arg(c + 1).arg(p + 1);
            QString page =
                u"<html><body>\r\n<div id=\"text\">%1</div>\r\n"_s.arg(chapter.pages.at(p));
            if (p + 1 < chapter.pages.size())
                page += u"<a class=\"next\" href=\"%1_%2.html\">下一页</a>"_s.arg(c + 1).arg(p + 2);
            m_site.serve(u"/%1/%2"_s.arg(name, file),
                         {.body = support::gbk(page + u"</body></html>"_s)});
        }
    }
    m_site.serve(u"/%1/index.html"_s.arg(name),
                 {.body = support::gbk(contents + u"</body></html>"_s), .gzip = true});
    return m_site.url(u"/%1/index.html"_s.arg(name));
}

void TestEndToEnd::writeRules(const QString &extra) {
    const QString section =
        u"[127.0.0.1:%1]\r\ntagName=测试\r\ntagTitle=<h1>(.*?)</h1>\r\ntagAuthor=<em>(.*?)</em>\r\n"
        u"tagVolume=<h2>(.*?)</h2>\r\ntagChapter=<li><a href=\"(.*?)\">(.*?)</a></li>\r\n"
        u"tagText=<div id=\"text\">(.*?)</div>\r\ntagDel=<p class=\"ad\">.*?</p>\r\n"
        u"tagNext=<a class=\"next\" href=\"(.*?)\">\r\n"_s.arg(m_site.port()) +
        extra;
    QVERIFY(support::writeBytes(m_settingsDir.filePath(u"Kestrelon.ini"_s), support::gbk(section)));
}

void TestEndToEnd::initTestCase() {
    serveBook(u"three"_s, u"三页之书"_s,
              {{u"第一章 开端"_s,
                QString(),
                {u"第一页的正文。"_s, u"第二页的正文。"_s, u"第三页的正文。"_s}}});
    serveBook(u"separate"_s, u"分开之书"_s, {{u"第一章"_s, QString(), {u"t/1.txt"_s}}});
    m_site.serve(u"/separate/t/1.txt"_s,
                 {.body = support::gbk(u"<div id=\"text\">文档里的正文。</div>"_s)});
    serveBook(
        u"long"_s, u"长文之书"_s,
        {{u"第一章"_s, QString(), {u"他说:这是一段相当长的正文，绝不会被当成一个地址去打开。"_s}}});
    serveBook(u"ad"_s, u"广告之书"_s,
              {{u"第一章"_s,
                QString(),
                {u"正文一。<br><p class=\"ad\">广告：<b>买书</b>请来本站！</p><br>正文二。"_s}}});
    serveBook(u"volumes"_s, u"分卷之书"_s,
              {{u"第一章"_s, u"卷一"_s, {u"第一章的正文。"_s}},
               {u"第二章"_s, QString(), {u"第二章的正文。"_s}},
               {u"第三章"_s, QString(), {u"第三章的正文。"_s}},
               {u"第四章"_s, u"卷二"_s, {u"第四章的正文。"_s}},
               {u"第五章"_s, QString(), {u"第五章的正文。"_s}}});
    serveBook(u"small"_s, u"小章之书"_s,
              {{u"第一章 上"_s, QString(), {u"上半章的正文。"_s}},
               {u"第一章 下"_s, QString(), {u"下半章的正文。"_s}},
               {u"第二章 开始"_s, QString(), {u"第二章的正文。"_s}}});
    serveBook(u"notext"_s, u"无字之书"_s, {{u"第一章"_s, QString(), {u"x"_s}}});
    serveBook(u"title"_s, u"天: 龙/八\"部? 上 下"_s,
              {{u"第一章"_s, QString(), {u"第一章的正文。"_s}}});
    serveBook(u"cut"_s, u"断线之书"_s,
              {{u"第一章"_s, QString(), {u"第一章的正文。"_s}}, {u"第二章"_s, QString(), {}}});
    // The second chapter's connection breaks mid-body.
    m_site.serve(u"/cut/2.html"_s,
                 {.body = support::gbk(u"<div id=\"text\">"_s + QString(5000, u'断') + u"</div>"_s),
                  .cutAfter = 100});

    DemoBookOptions options;
    options.chapters = 20;
    options.volumes = 3;
    options.paragraphs = 6;
    m_demoBook = generateDemoBook(options);
    m_demo = std::make_unique<DemoSite>(m_demoBook);
    m_demo->addRoutes(m_site.server());
    QVERIFY(m_site.start());

    iniModule::setSettingsFileOverride(m_settingsDir.filePath(u"Kestrelon.ini"_s));
    m_pipeline = std::make_unique<Pipeline>(m_view);
}

void TestEndToEnd::init() {
    writeRules();
    m_shelf = std::make_unique<QTemporaryDir>();
    support::RecordingView fresh;
    fresh.folder = m_shelf->path() + u'/';
    // The pipeline keeps its reference to m_view; only its contents change between tests.
    m_view.contents = fresh.contents;
    m_view.first.clear();
    m_view.last.clear();
    m_view.deleteTitleOption = false;
    m_view.smallChaptersOption = false;
    m_view.browserTextOption = false;
    m_view.encodingName = u"gbk"_s;
    m_view.folder = fresh.folder;
    m_view.replaceAnswer = false;
    m_view.stop = false;
    m_view.onEvents = nullptr;
    m_view.statuses.clear();
    m_view.bookBar.clear();
    m_view.replaceQuestions.clear();
    m_view.chapterProgress.clear();
    m_view.failures.clear();
    m_view.running.clear();
    m_seenBefore = m_site.clientRequests().size();
}

void TestEndToEnd::cleanupTestCase() {
    m_pipeline.reset();
    iniModule::setSettingsFileOverride(QString());
}

void TestEndToEnd::chapterOverThreePages() {
    m_view.contents = m_site.url(u"/three/index.html"_s);
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(m_view.statuses.last(), u"取书进度：下载成功！"_s);
    QCOMPARE(support::readBytes(bookPath(u"三页之书.txt"_s)),
             support::gbk(head(u"三页之书"_s, u"测试作者"_s) +
                          headed(u"第一章 开端"_s, I + u"第一页的正文。"_s) + N + I +
                          u"第二页的正文。"_s + N + I + u"第三页的正文。"_s));
}

void TestEndToEnd::chapterTextInASeparateDocument() {
    m_view.contents = m_site.url(u"/separate/index.html"_s);
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(support::readBytes(bookPath(u"分开之书.txt"_s)),
             support::gbk(head(u"分开之书"_s, u"测试作者"_s) +
                          headed(u"第一章"_s, I + u"文档里的正文。"_s)));
    QVERIFY(m_site.clientPaths(m_seenBefore).contains(u"/separate/t/1.txt"_s));
}

void TestEndToEnd::longCaptureIsNeverAnAddress() {
    m_view.contents = m_site.url(u"/long/index.html"_s);
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(
        support::readBytes(bookPath(u"长文之书.txt"_s)),
        support::gbk(
            head(u"长文之书"_s, u"测试作者"_s) +
            headed(u"第一章"_s, I + u"他说:这是一段相当长的正文，绝不会被当成一个地址去打开。"_s)));
    QCOMPARE(m_site.clientPaths(m_seenBefore),
             (QStringList{u"/long/index.html"_s, u"/long/1.html"_s}));
}

void TestEndToEnd::advertisementDeletedWithItsTags_data() {
    // Both conversions of the chapter's HTML: the program's own and the hidden browser's.
    QTest::addColumn<bool>("browserText");
    QTest::newRow("own conversion") << false;
    QTest::newRow("browser conversion") << true;
}

void TestEndToEnd::advertisementDeletedWithItsTags() {
    QFETCH(bool, browserText);
    m_view.browserTextOption = browserText;
    m_view.contents = m_site.url(u"/ad/index.html"_s);
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(support::readBytes(bookPath(u"广告之书.txt"_s)),
             support::gbk(head(u"广告之书"_s, u"测试作者"_s) +
                          headed(u"第一章"_s, I + u"正文一。"_s + N + I + u"正文二。"_s)));
}

void TestEndToEnd::volumeHeadingsAtAVolumesFirstWantedChapter() {
    m_view.contents = m_site.url(u"/volumes/index.html"_s);
    m_view.first = m_site.url(u"/volumes/2.html"_s);
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    const QString volumeOne = N + N + N + I + u"卷一"_s;
    const QString volumeTwo = N + N + N + I + u"卷二"_s;
    QCOMPARE(support::readBytes(bookPath(u"分卷之书.txt"_s)),
             support::gbk(head(u"分卷之书"_s, u"测试作者"_s) + volumeOne +
                          headed(u"第二章"_s, I + u"第二章的正文。"_s) +
                          headed(u"第三章"_s, I + u"第三章的正文。"_s) + volumeTwo +
                          headed(u"第四章"_s, I + u"第四章的正文。"_s) +
                          headed(u"第五章"_s, I + u"第五章的正文。"_s)));
    QCOMPARE(m_view.bookBar, (QList<double>{1110, 2220, 3330, 4440}));
}

void TestEndToEnd::smallChaptersJoined() {
    m_view.contents = m_site.url(u"/small/index.html"_s);
    m_view.smallChaptersOption = true;
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(support::readBytes(bookPath(u"小章之书.txt"_s)),
             support::gbk(head(u"小章之书"_s, u"测试作者"_s) +
                          headed(u"第一章 上"_s, I + u"上半章的正文。"_s) + N + I +
                          u"下半章的正文。"_s + headed(u"第二章 开始"_s, I + u"第二章的正文。"_s)));
}

void TestEndToEnd::rangeOfOneChapter() {
    m_view.contents = m_site.url(u"/volumes/index.html"_s);
    m_view.first = m_site.url(u"/volumes/3.html"_s);
    m_view.last = m_view.first;
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(support::readBytes(bookPath(u"分卷之书.txt"_s)),
             support::gbk(head(u"分卷之书"_s, u"测试作者"_s) + N + N + N + I + u"卷一"_s +
                          headed(u"第三章"_s, I + u"第三章的正文。"_s)));
    QCOMPARE(m_view.bookBar, QList<double>{4440});
}

void TestEndToEnd::invertedRangeFailsBeforeAnyChapter() {
    m_view.contents = m_site.url(u"/volumes/index.html"_s);
    m_view.first = m_site.url(u"/volumes/4.html"_s);
    m_view.last = m_site.url(u"/volumes/2.html"_s);
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Failure);
    QCOMPARE(m_view.statuses.last(), u"取书进度：下载失败！"_s);
    QCOMPARE(m_site.clientPaths(m_seenBefore), QStringList{u"/volumes/index.html"_s});
    QVERIFY(m_view.bookBar.isEmpty());
    QVERIFY(QDir(m_shelf->path()).isEmpty());
}

void TestEndToEnd::stopSeenAtChapterK() {
    m_view.contents = m_site.url(u"/volumes/index.html"_s);
    // The stop button is clicked while chapter 3's page arrives.
    m_view.onEvents = [this] {
        if (m_view.chapterProgress.size() >= 3)
            m_view.stop = true;
    };
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Stopped);
    QCOMPARE(m_view.statuses.last(), u"取书进度：用户中断！"_s);
    QCOMPARE(m_site.clientPaths(m_seenBefore),
             (QStringList{u"/volumes/index.html"_s, u"/volumes/1.html"_s, u"/volumes/2.html"_s,
                          u"/volumes/3.html"_s}));
    QVERIFY(QDir(m_shelf->path()).isEmpty());
    QCOMPARE(m_view.running, (QList<bool>{true, false}));
    QVERIFY(!m_view.stop); // the window is ready for the next job
}

void TestEndToEnd::failureMidBookKeepsTheOldBook() {
    QVERIFY(support::writeBytes(bookPath(u"断线之书.txt"_s), "the old book"));
    m_view.contents = m_site.url(u"/cut/index.html"_s);
    m_view.replaceAnswer = true;
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Failure);
    QCOMPARE(m_view.statuses.last(), u"取书进度：下载失败！"_s);
    QCOMPARE(support::readBytes(bookPath(u"断线之书.txt"_s)), QByteArray("the old book"));
    QCOMPARE(QDir(m_shelf->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{u"断线之书.txt"_s});
    QVERIFY(m_view.replaceQuestions.isEmpty());
}

void TestEndToEnd::rulesFindingNoTextWriteTheHeadOnly() {
    QVERIFY(support::writeBytes(
        m_settingsDir.filePath(u"Kestrelon.ini"_s),
        support::gbk(u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\n"
                     u"tagChapter=<li><a href=\"(.*?)\">(.*?)</a></li>\r\n"
                     u"tagText=<div id=\"nothing\">(.*?)</div>\r\n"_s.arg(m_site.port()))));
    m_view.contents = m_site.url(u"/notext/index.html"_s);
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(support::readBytes(bookPath(u"无字之书.txt"_s)),
             support::gbk(head(u"无字之书"_s, u"佚名"_s)));
}

void TestEndToEnd::replaceQuestion_data() {
    QTest::addColumn<QString>("existing"); // "file", "read-only file" or "folder"
    QTest::addColumn<bool>("answer");
    QTest::addColumn<Pipeline::Outcome>("outcome");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("yes") << u"file"_s << true << Pipeline::Outcome::Success << true;
    QTest::newRow("yes over a read-only file")
        << u"read-only file"_s << true << Pipeline::Outcome::Success << true;
    QTest::newRow("no: untouched, still a success")
        << u"file"_s << false << Pipeline::Outcome::Success << false;
    QTest::newRow("yes, but a folder bears the name")
        << u"folder"_s << true << Pipeline::Outcome::Failure << false;
}

void TestEndToEnd::replaceQuestion() {
    QFETCH(QString, existing);
    QFETCH(bool, answer);
    QFETCH(Pipeline::Outcome, outcome);
    QFETCH(bool, replaced);
    const QString path = bookPath(u"三页之书.txt"_s);
    if (existing == u"folder"_s) {
        QVERIFY(QDir().mkdir(path));
    } else {
        QVERIFY(support::writeBytes(path, "old"));
        if (existing == u"read-only file"_s)
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup));
    }
    m_view.contents = m_site.url(u"/three/index.html"_s);
    m_view.replaceAnswer = answer;
    QCOMPARE(m_pipeline->download(), outcome);
    QCOMPARE(m_view.replaceQuestions, QStringList{path});
    if (existing == u"folder"_s) {
        QVERIFY(QFileInfo(path).isDir());
        return;
    }
    const QByteArray bytes = support::readBytes(path);
    QCOMPARE(bytes == "old", !replaced);
    QVERIFY(replaced ? bytes.startsWith(support::gbk(I + u"三页之书"_s)) : true);
}

void TestEndToEnd::titleCharactersAFileNameCannotHold() {
    m_view.contents = m_site.url(u"/title/index.html"_s);
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(QDir(m_shelf->path()).entryList(QDir::Files), QStringList{u"天龙八部上下.txt"_s});
    QCOMPARE(support::readBytes(bookPath(u"天龙八部上下.txt"_s)),
             support::gbk(head(u"天: 龙/八\"部? 上 下"_s, u"测试作者"_s) +
                          headed(u"第一章"_s, I + u"第一章的正文。"_s)));
}

void TestEndToEnd::encodings_data() {
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("byteOrderMark");
    QTest::addColumn<QByteArray>("converter");
    QTest::newRow("gbk") << u"gbk"_s << QByteArray() << QByteArray("GBK");
    QTest::newRow("utf-8") << u"utf-8"_s << QByteArray("\xEF\xBB\xBF") << QByteArray("UTF-8");
    QTest::newRow("unicode") << u"unicode"_s << QByteArray("\xFF\xFE") << QByteArray("UTF-16LE");
    QTest::newRow("big5") << u"big5"_s << QByteArray() << QByteArray("Big5");
}

void TestEndToEnd::encodings() {
    QFETCH(QString, encoding);
    QFETCH(QByteArray, byteOrderMark);
    QFETCH(QByteArray, converter);
    m_view.contents = m_site.url(u"/three/index.html"_s);
    m_view.encodingName = encoding;
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    const QString book = head(u"三页之书"_s, u"测试作者"_s) +
                         headed(u"第一章 开端"_s, I + u"第一页的正文。"_s) + N + I +
                         u"第二页的正文。"_s + N + I + u"第三页的正文。"_s;
    const QString path = bookPath(u"三页之书.txt"_s);
    QCOMPARE(support::readBytes(path),
             byteOrderMark + support::encoded(book, converter.constData()));
    // Big5 has no simplified characters: they were written as "?" and read back as such.
    QStringDecoder decoder(converter.constData());
    const QString readable = decoder.decode(support::encoded(book, converter.constData()));
    QCOMPARE(charset::readTextFile(encoding, path).value_or(QString()), readable);
}

void TestEndToEnd::demoBookDownloadsWhole() {
    QVERIFY(support::writeBytes(m_settingsDir.filePath(u"Kestrelon.ini"_s),
                                demoSiteSettings(u"127.0.0.1:%1"_s.arg(m_site.port()))));
    m_view.contents = m_site.url(QString::fromLatin1(kDemoBookFolder));
    QCOMPARE(m_pipeline->download(), Pipeline::Outcome::Success);
    QCOMPARE(support::readBytes(bookPath(m_demoBook.title + u".txt"_s)),
             support::gbk(demoBookText(m_demoBook)));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
