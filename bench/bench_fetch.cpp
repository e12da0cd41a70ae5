// Fetching and analysis: analyseContents on contents pages of 5,000 and 20,000 chapters in 40
// volumes (it must grow linearly), and the HTTP client with its response events and decoding on
// 1,000 gzip pages of 10 KB over loopback, against the floor of curl fetching the same pages in
// one process over one connection. Exits 1 when a target is missed.

#include "analysis/contents.h"
#include "analysis/scriptengine.h"
#include "bench/benchutil.h"
#include "browser/hiddenbrowser.h"
#include "browser/webengine.h"
#include "cli/quietview.h"
#include "demo/demosite.h"
#include "pipeline/downloadjob.h"
#include "pipeline/jobview.h"
#include "pipeline/pagefetch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <httplib.h>

#include <thread>

using namespace Qt::StringLiterals;
using namespace demo;

namespace {

QString contentsPage(int chapters) {
    DemoBookOptions options;
    options.chapters = chapters;
    options.volumes = 40;
    options.paragraphs = 1;
    return demoContentsPage(generateDemoBook(options));
}

SiteRules demoRules() {
    SiteRules rules;
    rules.tagTitle = {u"<h1>(.*?)</h1>"_s};
    rules.tagAuthor = {u"<p class=\"author\">作者：(.*?)</p>"_s};
    rules.tagVolume = {u"<h2 class=\"volume\">(.*?)</h2>"_s};
    rules.tagChapter = {u"<li><a href=\"(.*?)\">(.*?)</a></li>"_s};
    return rules;
}

bool benchAnalysis() {
    const QString n = contentsPage(5000);
    const QString fourN = contentsPage(20000);
    const SiteRules rules = demoRules();
    const ContentsRequest request{u"http://127.0.0.1:8917/book/1/"_s, QString(), QString(), false};
    auto run = [&](const QString &page) {
        return bench::bestMilliseconds([&] {
            ScriptEngine scripts;
            BookContents book;
            ContentsAnalysis(rules, request, scripts, book).analyseContents(page);
        });
    };
    return bench::reportScaling(u"analyseContents, 40 volumes"_s, u"5000 chapters"_s, run(n),
                                run(fourN));
}

// A front end that lets events run as the terminal does: a few times a second.
class BenchView : public QuietView {
public:
    BenchView()
        : QuietView({}) {}
    void processEvents() override {
        if (m_since.isValid() && m_since.elapsed() < 50)
            return;
        m_since.start();
        QCoreApplication::processEvents();
    }

private:
    QElapsedTimer m_since;
};

// Asks for the listed pages one after another, as chapter pages.
class PageChain : public PageSteps {
public:
    PageChain(PageFetcher &fetcher, QStringList urls)
        : m_fetcher(fetcher)
        , m_urls(std::move(urls)) {}
    void contentsStep(const FetchedPage &) override { next(); }
    void chapterStep(const FetchedPage &) override { next(); }
    void next() {
        if (m_urls.isEmpty())
            return;
        m_fetcher.handleWeb(m_urls.takeFirst(), PageKind::Chapter);
    }

private:
    PageFetcher &m_fetcher;
    QStringList m_urls;
};

bool benchFetch() {
    constexpr int pages = 1000;
    // Chapter pages of about 10 KB of GBK text, served gzip.
    DemoBookOptions options;
    options.chapters = pages;
    options.paragraphs = 46;
    const DemoBook book = generateDemoBook(options);
    QStringEncoder gbk("GBK");
    QList<QByteArray> bodies;
    for (int c = 0; c < pages; ++c) {
        QByteArray html = gbk.encode(demoChapterPage(book, c, 0));
        bodies.append(gzipCompressed(html));
    }
    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.Get(R"(/page/(\d+))", [&bodies](const httplib::Request &req, httplib::Response &res) {
        const int index = std::stoi(req.matches[1]);
        res.set_header("Content-Encoding", "gzip");
        res.set_content(bodies.at(index).constData(), size_t(bodies.at(index).size()), "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&server] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QStringList urls;
    for (int i = 0; i < pages; ++i)
        urls.append(u"http://127.0.0.1:%1/page/%2"_s.arg(port).arg(i));

    const double ours = bench::bestMilliseconds(
        [&] {
            DownloadJob job;
            BenchView view;
            HttpClient http;
            HiddenBrowser browser;
            HiddenBrowser renderer;
            PageFetcher fetcher(job, view, http, browser, renderer);
            PageChain chain(fetcher, urls);
            fetcher.setSteps(&chain);
            chain.next();
        },
        3);

    QTemporaryDir work;
    const QString config = work.filePath(u"pages.curl"_s);
    QFile list(config);
    list.open(QIODevice::WriteOnly);
    for (const QString &url : urls)
        list.write((u"url = \"%1\"\noutput = \"/dev/null\"\n"_s.arg(url)).toUtf8());
    list.close();
    const double floor = bench::bestMilliseconds(
        [&] { std::system(qPrintable(u"/usr/bin/curl --silent --config %1"_s.arg(config))); }, 3);
    server.stop();
    serving.join();

    const double ratio = ours / floor;
    std::printf("HTTP client, events, gzip and decoding: %.3f ms a page; curl %.3f ms a page; "
                "ratio %.2f (target <= 1.3)\n",
                ours / pages, floor / pages, ratio);
    return ratio <= 1.3;
}

} // namespace

int main(int argc, char *argv[]) {
    bench::useOneAllocatorPolicy();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    browser::prepareWebEngine();
    QGuiApplication app(argc, argv);
    bench::printHeader();
    const bool linear = benchAnalysis();
    const bool fast = benchFetch();
    return linear && fast ? 0 : 1;
}
