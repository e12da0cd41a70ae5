#include "bench/slowsite.h"

#include "bench/cliruns.h"
#include "bench/serving.h"
#include "demo/demobook.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringEncoder>

#include <httplib.h>

#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;

namespace bench {

namespace {

constexpr int kChapters = 200;
constexpr int kRoundTripMs = 60;

QByteArray gbk(const QString &text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

// The book's pages by path: the contents page at /slow/ and one page a chapter, each with about
// 6 KB of text, and no follow-on pages (the floors count one request a chapter).
QHash<std::string, QByteArray> bookPages() {
    const demo::DemoBook book = demo::generateDemoBook({.chapters = kChapters});
    QHash<std::string, QByteArray> pages;
    QString contents = u"<html><body><h1>%1</h1>\r\n"_s.arg(book.title);
    for (int c = 0; c < kChapters; ++c) {
        const demo::DemoChapter &chapter = book.chapters.at(c);
        contents += u"<li><a href=\"%1.html\">%2</a></li>\r\n"_s.arg(c + 1).arg(chapter.name);
        QStringList paragraphs;
        for (const QStringList &page : chapter.pages)
            paragraphs += page;
        pages.insert(u"/slow/%1.html"_s.arg(c + 1).toStdString(),
                     gbk(u"<html><body><h1>%1</h1>\r\n<div id=\"content\">%2</div>\r\n"
                         u"</body></html>"_s.arg(chapter.name, paragraphs.join(u"<br />\r\n"_s))));
    }
    pages.insert("/slow/", gbk(contents + u"</body></html>"_s));
    return pages;
}

} // namespace

bool benchSlowSite(const QString &cli, const QString &workDir) {
    const QHash<std::string, QByteArray> pages = bookPages();
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_tcp_nodelay(true);
    server.Get("/slow/.*", [&pages](const httplib::Request &req, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kRoundTripMs));
        const auto page = pages.constFind(req.path);
        if (page == pages.cend()) {
            res.status = 404;
            return;
        }
        res.set_content(page->constData(), size_t(page->size()), "text/html; charset=gbk");
    });
    std::thread serving;
    const int port = bench::serveOnLoopback(server, serving);

    const QString settings = workDir + u"/slow.ini"_s;
    QFile file(settings);
    const QByteArray section =
        gbk(u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\ntagChapter=<li><a href=\"(.*?)\">"
            u"(.*?)</a></li>\r\ntagText=<div id=\"content\">(.*?)</div>\r\n"_s.arg(port));
    if (!file.open(QIODevice::WriteOnly) || file.write(section) != section.size() || !file.flush())
        std::printf("cannot write %s\n", qPrintable(settings));
    file.close();
    const QString shelf = workDir + u"/slow-shelf"_s;
    QDir().mkpath(shelf);
    const auto command = [&](int parallel) {
        return QStringList{cli,
                           u"--settings"_s,
                           settings,
                           u"--out"_s,
                           shelf,
                           u"--overwrite"_s,
                           u"--parallel"_s,
                           QString::number(parallel),
                           u"http://127.0.0.1:%1/slow/"_s.arg(port)};
    };

    bool met = true;
    std::printf("\n%d chapters, every answer after %d ms:\n", kChapters, kRoundTripMs);
    // Twelve seconds a run at one request at a time: two runs of it, three of the faster one.
    for (const auto &[parallel, runs, allowed] : {std::tuple{1, 2, 1.15}, std::tuple{5, 3, 1.25}}) {
        Measured best;
        for (int run = 0; run < runs; ++run)
            best = fastest(best, runProgram(command(parallel)));
        const int roundTrips = 1 + (kChapters + parallel - 1) / parallel;
        const double floor = roundTrips * kRoundTripMs / 1000.0;
        const double ratio = best.seconds / floor;
        std::printf("--parallel %d: %.3f s, floor %d round trips %.3f s, ratio %.2f (target <= "
                    "%.2f)%s\n",
                    parallel, best.seconds, roundTrips, floor, ratio, allowed,
                    best.exitCode == 0 ? "" : " FAILED");
        met = met && best.exitCode == 0 && ratio <= allowed;
    }
    server.stop();
    if (serving.joinable())
        serving.join();
    return met;
}

} // namespace bench
