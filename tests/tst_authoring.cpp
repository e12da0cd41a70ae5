// For rule writers and e-readers: kestrelon-cli --check-rules on a loopback copy of the demo site,
// with a correct section and with each usual mistake, and EPUB books from whole jobs, read back
// and compared with the text books, then validated by epubcheck.
// (A job that stops or fails writes no book of either format: the file is written only at its
// end, as tst_endtoend and tst_faults check.)

#include "browser/webengine.h"
#include "demo/demosite.h"
#include "pipeline/pipeline.h"
#include "settings/inimodule.h"
#include "tests/support/clirun.h"
#include "tests/support/loopbacksite.h"
#include "tests/support/recordingview.h"
#include "tests/support/testfiles.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <zip.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray utf8Page(const QString &body) {
    return u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
           u"</head><body>\r\n%1\r\n</body></html>"_s.arg(body)
               .toUtf8();
}

QString chapterLink(const QString &file, const QString &name) {
    return u"<li><a href=\"%1\">%2</a></li>\r\n"_s.arg(file, name);
}

// One entry of an EPUB file; "" when it is missing.
QByteArray zipEntry(zip_t *zip, const QString &name) {
    zip_stat_t stat;
    zip_file_t *file = nullptr;
    if (zip_stat(zip, name.toUtf8().constData(), 0, &stat) != 0 ||
        !(file = zip_fopen_index(zip, stat.index, 0)))
        return {};
    QByteArray data(qsizetype(stat.size), '\0');
    const bool read = zip_fread(file, data.data(), stat.size) == zip_int64_t(stat.size);
    zip_fclose(file);
    return read ? data : QByteArray();
}

// What a reader shows of the book, in reading order: the headings and paragraphs of every
// document of the spine.
QStringList epubBlocks(zip_t *zip) {
    QXmlStreamReader opf(zipEntry(zip, u"OEBPS/content.opf"_s));
    QHash<QString, QString> hrefs;
    QStringList blocks;
    while (!opf.atEnd()) {
        if (opf.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto attributes = opf.attributes();
        if (opf.name() == u"item"_s)
            hrefs.insert(attributes.value(u"id"_s).toString(),
                         attributes.value(u"href"_s).toString());
        if (opf.name() != u"itemref"_s)
            continue;
        QXmlStreamReader page(
            zipEntry(zip, u"OEBPS/"_s + hrefs.value(attributes.value(u"idref"_s).toString())));
        while (!page.atEnd()) {
            if (page.readNext() == QXmlStreamReader::StartElement &&
                QStringList{u"h1"_s, u"h2"_s, u"p"_s}.contains(page.name().toString()))
                blocks.append(page.readElementText());
        }
        if (page.hasError())
            blocks.append(u"XML error: "_s + page.errorString());
    }
    return blocks;
}

// The navigation document's entries as "depth:label".
QStringList navEntries(zip_t *zip) {
    QXmlStreamReader nav(zipEntry(zip, u"OEBPS/nav.xhtml"_s));
    QStringList entries;
    int depth = -1;
    while (!nav.atEnd()) {
        const auto token = nav.readNext();
        if (nav.name() == u"ol"_s)
            depth += token == QXmlStreamReader::StartElement ? 1 : -1;
        else if (token == QXmlStreamReader::StartElement && nav.name() == u"a"_s)
            entries.append(u"%1:%2"_s.arg(depth).arg(nav.readElementText()));
    }
    return entries;
}

} // namespace

class TestAuthoring : public QObject {
    Q_OBJECT

public:
    static void initMain() { browser::prepareWebEngine(); }

private slots:
    void initTestCase() {
        m_demo.addRoutes(m_site.server());
        // A book in the demo site's markup whose every name and text needs escaping in XHTML;
        // its first chapter goes on to a follow-on page.
        m_site.serve(
            u"/esc/"_s,
            {.body = utf8Page(u"<h1>转义&lt;之书&gt;</h1><p class=\"author\">作者：甲&amp;乙</p>"
                              u"<h2 class=\"volume\">卷&amp;一</h2>"_s +
                              chapterLink(u"1.html"_s, u"第一章 &lt;始&gt;"_s) +
                              chapterLink(u"2.html"_s, u"第二章 ]]&gt;"_s) +
                              u"<h2 class=\"volume\">卷二 😀</h2>"_s +
                              chapterLink(u"3.html"_s, u"第三章"_s))});
        const QStringList texts{
            u"甲&amp;乙说：&lt;b&gt;不是标签&lt;/b&gt;。<br><br>]]&gt; 与 😀𠀀 都在。"_s,
            u"续页：A &amp;&amp; B &lt; C。"_s, u"第二章的正文。"_s, u"第三章的正文。"_s};
        const QStringList files{u"1.html"_s, u"1_2.html"_s, u"2.html"_s, u"3.html"_s};
        for (int i = 0; i < files.size(); ++i)
            m_site.serve(u"/esc/"_s + files.at(i),
                         {.body = utf8Page(u"<div id=\"content\">%1</div>%2"_s.arg(
                              texts.at(i), i == 0 ? u"<div class=\"next\"><a href=\"1_2.html\">"
                                                    u"下一页</a></div>"_s
                                                  : QString()))});
        // The second chapter link goes to another host; its name holds a terminal's escape.
        m_site.serve(u"/foreign/"_s,
                     {.body = utf8Page(
                          u"<h1>外链之书</h1>"_s + chapterLink(u"1.html"_s, u"一"_s) +
                          chapterLink(u"http://localhost/foreign/2.html"_s, u"二\x1b]0;x\x07"_s))});
        m_site.serve(u"/foreign/1.html"_s,
                     {.body = utf8Page(u"<div id=\"content\">外链之书的正文。</div>"_s)});
        QVERIFY(m_site.start());

        const QString settings = m_dir.filePath(u"Kestrelon.ini"_s);
        QVERIFY(support::writeBytes(settings, demo::demoSiteSettings(host())));
        iniModule::setSettingsFileOverride(settings);
        m_pipeline = std::make_unique<Pipeline>(m_view);
    }

    void init() { m_shelf = std::make_unique<QTemporaryDir>(); }

    void checkRules_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("rule"); // replaces the demo section's line of that key
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("kinds"); // of the problems found
        QTest::addColumn<QString>("phrase");    // in the report
        const QString demoBook = QString::fromLatin1(demo::kDemoBookFolder);
        QTest::newRow("correct section") << demoBook << QString() << 0 << QStringList()
                                         << u"A book can be made from what was seen."_s;
        QTest::newRow("too few placeholders")
            << demoBook << u"tagChapter=<li><a href=\"(.*?)\">.*?</a></li>"_s << 1
            << QStringList{u"placeholders"_s, u"no-chapters"_s} << u"fewer value placeholders"_s;
        QTest::newRow("invalid pattern")
            << demoBook << u"tagTitle=<h1>(.*?</h1>"_s << 0 << QStringList{u"invalid-pattern"_s}
            << u"invalid pattern: missing closing parenthesis"_s;
        QTest::newRow("match limit")
            << demoBook << u"tagText=<div id=\"content\">(.*?)([^<]+)+<[0-9]"_s << 1
            << QStringList{u"match-limit"_s} << u"match limit"_s;
        QTest::newRow("empty text") << demoBook << u"tagText=<div id=\"content\">(.*?)"_s << 1
                                    << QStringList{u"empty-text"_s} << u"is empty"_s;
        QTest::newRow("text far shorter than the page's")
            << demoBook << u"tagText=<h1>(.*?)</h1>"_s << 0 << QStringList{u"short-text"_s}
            << u"far shorter than the page's longest text block"_s;
        QTest::newRow("chapter link to another host")
            << u"/foreign/"_s << QString() << 0 << QStringList{u"foreign-host"_s}
            << u"another host"_s;
    }

    void checkRules() {
        QFETCH(QString, address);
        QFETCH(QString, rule);
        // The demo book's section, the row's rule in place of the line of its key.
        const QByteArray settings = support::bookRules(host(), rule);
        const QString path = m_dir.filePath(u"check.ini"_s);
        QVERIFY(support::writeBytes(path, settings));
        // The correct section checks the third chapter, which has two follow-on pages.
        QStringList arguments{u"--check-rules"_s, u"--settings"_s, path, m_site.url(address)};
        if (rule.isEmpty() && address.startsWith(u"/book/"_s))
            arguments << u"--chapter"_s << m_site.url(address + u"3.html"_s);
        const qsizetype from = m_site.clientRequests().size();
        const support::CliRun run = support::runCli(arguments);
        const QStringList checked = requests(from);
        const support::CliRun json = support::runCli(arguments + QStringList{u"--json"_s});
        QTEST(run.exitCode, "exitCode");
        QCOMPARE(json.exitCode, run.exitCode);
        QFETCH(QString, phrase);
        QVERIFY2(run.out.contains(phrase), qPrintable(run.out));
        QVERIFY(!run.out.contains(u'\x1b')); // not a terminal: no colour, and none from pages
        QVERIFY(run.shelf.isEmpty() && json.shelf.isEmpty());
        QCOMPARE(support::readBytes(path), settings);

        // The JSON report holds what the text shows.
        const QJsonObject report = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(report[u"bookPossible"_s].toBool(), run.exitCode == 0);
        QStringList kinds;
        for (const QJsonValue &problem : report[u"problems"_s].toArray()) {
            kinds.append(problem[u"kind"_s].toString());
            QVERIFY(run.out.contains(problem[u"message"_s].toString()));
        }
        QTEST(kinds, "kinds");
        QVERIFY(run.out.contains(report[u"book"_s][u"title"_s].toString()));
        if (!kinds.isEmpty())
            return;
        // The third chapter as the demo book's file has it.
        QCOMPARE(report[u"book"_s][u"chapterCount"_s].toInt(), m_book.chapters.size());
        demo::DemoBook third = m_book;
        third.chapters = {m_book.chapters.at(2)};
        const QStringList lines = demo::demoBookText(third).split(u"\r\n"_s).mid(3);
        QCOMPARE(report[u"chapter"_s][u"lines"_s].toVariant().toStringList(), lines);

        // The check made a download's requests: the same pages in the same order, each with the
        // browser's User-Agent and the cookie the site set.
        const qsizetype downloadFrom = m_site.clientRequests().size();
        QCOMPARE(download(address, BookFormat::Text, u"gbk"_s, true, arguments.last()),
                 std::optional(EndState::Success));
        QCOMPARE(requests(downloadFrom), checked);
        QVERIFY(checked.size() > 2 && checked.first().contains(u"Mozilla"_s) &&
                !checked.last().endsWith(u' '));
    }

    void epubBooks_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("nav");
        QStringList demoNav{u"0:"_s + m_book.title};
        for (const demo::DemoChapter &chapter : std::as_const(m_book.chapters)) {
            if (!chapter.volume.isEmpty())
                demoNav.append(u"0:"_s + chapter.volume);
            demoNav.append(u"1:"_s + chapter.name);
        }
        QTest::newRow("the demo book")
            << QString::fromLatin1(demo::kDemoBookFolder) << u"gbk"_s << m_book.title << demoNav;
        QTest::newRow("volumes, follow-on pages, characters to escape")
            << u"/esc/"_s << u"utf-8"_s << u"转义之书"_s
            << QStringList{u"0:转义<之书>"_s, u"0:卷&一"_s,  u"1:第一章 <始>"_s,
                           u"1:第二章 ]]>"_s, u"0:卷二 😀"_s, u"1:第三章"_s};
    }

    void epubBooks() {
        QFETCH(QString, address);
        QFETCH(QString, encoding);
        QFETCH(QString, title);
        QCOMPARE(download(address, BookFormat::Text, encoding), std::optional(EndState::Success));
        QCOMPARE(download(address, BookFormat::Epub, encoding), std::optional(EndState::Success));
        const QString text = QStringDecoder(encoding.toUtf8().constData())
                                 .decode(support::readBytes(m_shelf->filePath(title + u".txt"_s)));
        QStringList lines;
        for (const QString &line : text.split(u"\r\n"_s, Qt::SkipEmptyParts))
            lines.append(line.startsWith(u"\u3000\u3000"_s) ? line.mid(2) : line);

        const QString epub = m_shelf->filePath(title + u".epub"_s);
        zip_t *zip = zip_open(epub.toUtf8().constData(), ZIP_RDONLY, nullptr);
        QVERIFY(zip);
        const auto closeZip = qScopeGuard([zip] { zip_close(zip); });
        // Title page, volume and chapter headings and paragraphs, line for line as the text.
        QCOMPARE(epubBlocks(zip), lines);
        QTEST(navEntries(zip), "nav");

        const QString epubcheck = QStandardPaths::findExecutable(u"epubcheck"_s);
        if (epubcheck.isEmpty())
            QSKIP("epubcheck is not installed (Debian package epubcheck): the EPUB was not "
                  "validated");
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        // Debian's epubcheck is the jar itself, which runs directly only where the system hands
        // jars to Java.
        const QString jar = QFileInfo(epubcheck).canonicalFilePath();
        const bool isJar = jar.endsWith(u".jar"_s);
        check.start(isJar ? u"java"_s : epubcheck,
                    isJar ? QStringList{u"-jar"_s, jar, epub} : QStringList{epub});
        QVERIFY(check.waitForFinished(120000));
        const QString output = QString::fromUtf8(check.readAll());
        QVERIFY2(check.exitCode() == 0 && output.contains(u"No errors or warnings detected"_s),
                 qPrintable(output));
    }

    // The characters a text book's encoding lacks are counted in what is written (😀 twice, 𠀀
    // once), and in a book the user keeps; an EPUB holds them all.
    void unencodableCounted() {
        for (const auto &[format, replace, unencodable] :
             {std::tuple(BookFormat::Text, true, 3), std::tuple(BookFormat::Text, false, 3),
              std::tuple(BookFormat::Epub, true, 0)}) {
            m_view.report = {};
            QCOMPARE(download(u"/esc/"_s, format, u"gbk"_s, replace),
                     std::optional(EndState::Success));
            QCOMPARE(m_view.report.unencodable, unencodable);
        }
    }

private:
    // What the site was asked for since from: each request's path, User-Agent and cookie.
    QStringList requests(qsizetype from) const {
        QStringList seen;
        for (const support::SeenRequest &request : m_site.clientRequests(from))
            seen.append(request.path + u' ' + request.userAgent + u' ' + request.cookie);
        return seen;
    }

    QString host() const { return u"127.0.0.1:%1"_s.arg(m_site.port()); }

    // A job on the shelf of the test; replace answers the question for a book already there, and
    // chapter, when given, is the range's first and last chapter.
    std::optional<EndState> download(const QString &address, BookFormat format,
                                     const QString &encoding, bool replace = true,
                                     const QString &chapter = {}) {
        m_view.inputs.contentsUrl = m_site.url(address);
        m_view.inputs.firstChapterUrl = m_view.inputs.lastChapterUrl = chapter;
        m_view.inputs.format = format;
        m_view.inputs.encoding = encoding;
        m_view.inputs.bookshelfFolder = m_shelf->path() + u'/';
        m_view.replaceAnswer = replace;
        return m_pipeline->download();
    }

    support::LoopbackSite m_site;
    demo::DemoBook m_book = demo::generateDemoBook({.chapters = 6, .volumes = 2, .paragraphs = 4});
    demo::DemoSite m_demo{m_book};
    QTemporaryDir m_dir;
    support::RecordingView m_view;
    std::unique_ptr<Pipeline> m_pipeline;
    std::unique_ptr<QTemporaryDir> m_shelf;
};

QTEST_MAIN(TestAuthoring)
#include "tests/tst_authoring.moc"
