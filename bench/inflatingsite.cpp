#include "bench/inflatingsite.h"

#include "bench/cliruns.h"
#include "bench/serving.h"
#include "demo/demosite.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <httplib.h>

#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;

namespace bench {

namespace {

constexpr int kChapters = 12;
constexpr qsizetype kInflated = qsizetype(64) << 20;
// What the scheduler lets pages fetched ahead hold, plus one page's text more: a page that
// arrives ahead is inflated and decoded before the bound is asked whether its text may stay, so
// for a moment it sits beside the page being taken apart. (Without the bound, eight at a time
// held sixteen such texts: over 2 GiB.)
constexpr double kAllowedMoreMiB = 64 + 128;

} // namespace

bool benchInflatingPages(const QString &cli, const QString &workDir) {
    // A short chapter, then a comment of blanks that the rules pass over.
    QList<QByteArray> chapters;
    for (int c = 1; c <= kChapters; ++c) {
        QByteArray page = u"<div id=\"content\">第%1章。</div><!--"_s.arg(c).toUtf8();
        page.append(QByteArray(kInflated - page.size() - 3, ' '));
        page.append("-->");
        chapters.append(demo::gzipCompressed(page));
    }
    QByteArray contents = "<h1>Inflating</h1>";
    for (int c = 1; c <= kChapters; ++c)
        contents += u"<li><a href=\"%1.html\">第%1章</a></li>"_s.arg(c).toUtf8();

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.Get("/inflating/", [&](const httplib::Request &, httplib::Response &res) {
        answerWith(res, contents, "text/html; charset=utf-8");
    });
    server.Get(
        R"(/inflating/(\d+)\.html)", [&](const httplib::Request &req, httplib::Response &res) {
            const int chapter = std::stoi(req.matches[1].str());
            if (chapter < 1 || chapter > kChapters) {
                res.status = 404;
                return;
            }
            const QByteArray &body = chapters.at(chapter - 1);
            res.set_header("Content-Encoding", "gzip");
            res.set_content(body.constData(), size_t(body.size()), "text/html; charset=utf-8");
        });
    std::thread serving;
    const int port = serveOnLoopback(server, serving);

    const QString settings = workDir + u"/inflating.ini"_s;
    QFile file(settings);
    const QByteArray section =
        u"[127.0.0.1:%1]\r\ntagTitle=<h1>(.*?)</h1>\r\ntagChapter=<li><a href=\"(.*?)\">"
        u"(.*?)</a></li>\r\ntagText=<div id=\"content\">(.*?)</div>\r\n"_s.arg(port)
            .toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(section) != section.size() || !file.flush())
        std::printf("cannot write %s\n", qPrintable(settings));
    file.close();
    const QString shelf = workDir + u"/inflating-shelf"_s;
    QDir().mkpath(shelf);

    std::printf("\n%d chapters of %lld KB gzip, %lld MiB inflated:\n", kChapters,
                chapters.first().size() / 1024, kInflated >> 20);
    QList<Measured> runs;
    for (const int parallel : {1, 8}) {
        const Measured run =
            runProgram({cli, u"--settings"_s, settings, u"--out"_s, shelf, u"--overwrite"_s,
                        u"--encoding"_s, u"utf-8"_s, u"--parallel"_s, QString::number(parallel),
                        u"http://127.0.0.1:%1/inflating/"_s.arg(port)});
        std::printf("--parallel %d: peak memory %.1f MiB, %.1f s%s\n", parallel,
                    run.peakKiB / 1024.0, run.seconds, run.exitCode == 0 ? "" : " FAILED");
        runs.append(run);
    }
    server.stop();
    if (serving.joinable())
        serving.join();

    const double more = (runs.at(1).peakKiB - runs.at(0).peakKiB) / 1024.0;
    std::printf("--parallel 8 holds %.1f MiB more than one at a time (target <= %.0f MiB)\n", more,
                kAllowedMoreMiB);
    return runs.at(0).exitCode == 0 && runs.at(1).exitCode == 0 && more <= kAllowedMoreMiB;
}

} // namespace bench
