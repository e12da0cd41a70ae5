#include "bench/slowsite.h"

#include "bench/cliruns.h"
#include "bench/plainbook.h"
#include "bench/serving.h"

#include <QDir>
#include <QFile>

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;

namespace bench {

namespace {

constexpr int kChapters = 200;
constexpr int kRoundTripMs = 60;
// The book fetched side by side with curl, and the site's answer times and the requests in flight
// it is fetched with.
constexpr int kWideChapters = 1000;
constexpr int kWideLatenciesMs[] = {20, 60};
constexpr int kWideParallel[] = {8, 16};
constexpr double kWideAllowed = 1.25;

// The same pages fetched by curl, up to parallel at once; the list of addresses is written to
// config.
Measured curlParallel(const QString &config, int parallel) {
    return runProgram({u"/usr/bin/curl"_s, u"--silent"_s, u"--parallel"_s, u"--parallel-max"_s,
                       QString::number(parallel), u"--config"_s, config});
}

} // namespace

bool benchSlowSite(const QString &cli, const QString &workDir) {
    QHash<std::string, QByteArray> pages;
    PlainBook(kChapters).addPages(pages, u"slow"_s);
    PlainBook(kWideChapters).addPages(pages, u"wide"_s);
    std::atomic<int> latencyMs = kRoundTripMs;
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(48); };
    server.set_tcp_nodelay(true);
    server.Get("/.*", [&pages, &latencyMs](const httplib::Request &req, httplib::Response &res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(latencyMs.load()));
        const auto page = pages.constFind(req.path);
        if (page == pages.cend()) {
            res.status = 404;
            return;
        }
        answerWith(res, *page, "text/html; charset=gbk");
    });
    std::thread serving;
    const int port = bench::serveOnLoopback(server, serving);

    const QString settings = workDir + u"/slow.ini"_s;
    QFile file(settings);
    const QByteArray section = plainBookSection(u"127.0.0.1:%1"_s.arg(port));
    if (!file.open(QIODevice::WriteOnly) || file.write(section) != section.size() || !file.flush())
        std::printf("cannot write %s\n", qPrintable(settings));
    file.close();
    const QString shelf = workDir + u"/slow-shelf"_s;
    QDir().mkpath(shelf);
    const auto command = [&](int parallel, const QString &folder = u"slow"_s) {
        return QStringList{cli,
                           u"--settings"_s,
                           settings,
                           u"--out"_s,
                           shelf,
                           u"--overwrite"_s,
                           u"--parallel"_s,
                           QString::number(parallel),
                           u"http://127.0.0.1:%1/%2/"_s.arg(port).arg(folder)};
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

    // Side by side with curl fetching the same pages, the contents page and every chapter.
    const QString config = workDir + u"/wide.curl"_s;
    QFile list(config);
    if (list.open(QIODevice::WriteOnly)) {
        list.write(
            u"url = \"http://127.0.0.1:%1/wide/\"\noutput = \"/dev/null\"\n"_s.arg(port).toUtf8());
        for (int c = 1; c <= kWideChapters; ++c)
            list.write(
                u"url = \"http://127.0.0.1:%1/wide/%2.html\"\noutput = \"/dev/null\"\n"_s.arg(port)
                    .arg(c)
                    .toUtf8());
    }
    list.close();
    for (const int latency : kWideLatenciesMs) {
        latencyMs = latency;
        std::printf("\n%d chapters, every answer after %d ms, beside curl --parallel:\n",
                    kWideChapters, latency);
        for (const int parallel : kWideParallel) {
            Measured ours;
            Measured theirs;
            for (int run = 0; run < 2; ++run) {
                ours = fastest(ours, runProgram(command(parallel, u"wide"_s)));
                theirs = fastest(theirs, curlParallel(config, parallel));
            }
            const double ratio = ours.seconds / theirs.seconds;
            std::printf("--parallel %2d: cli %.3f s, curl --parallel-max %d %.3f s, ratio %.2f "
                        "(target <= %.2f)%s\n",
                        parallel, ours.seconds, parallel, theirs.seconds, ratio, kWideAllowed,
                        ours.exitCode == 0 && theirs.exitCode == 0 ? "" : " FAILED");
            met = met && ours.exitCode == 0 && theirs.exitCode == 0 && ratio <= kWideAllowed;
        }
    }
    server.stop();
    if (serving.joinable())
        serving.join();
    return met;
}

} // namespace bench
