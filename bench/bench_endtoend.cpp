// The main job end to end: kestrelon-cli downloads demo books of 2,000 and 4,000 chapters over
// loopback, one request at a time and five at a time, against the floor of curl fetching the same
// pages one after another over one connection, and with eight at a time for its peak memory.
// Prints the wall times, the peak memory, the marginal cost per chapter and its ratio to curl's,
// and the CLI's fixed start-up; then the runs against a site that answers after a while, alone
// and beside curl --parallel (slowsite.cpp), and the peak memory against a site whose pages
// inflate a thousandfold (inflatingsite.cpp). Exits 1 when a target is missed.

#include "bench/cliruns.h"
#include "bench/inflatingsite.h"
#include "bench/serving.h"
#include "bench/slowsite.h"
#include "demo/demosite.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <httplib.h>

#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;
using namespace demo;
using bench::Measured;

namespace {

constexpr int kRuns = 5;

// The CLI's runs: requests in flight at once, and whether its time counts against curl's.
struct Config {
    int parallel;
    bool timed;
};
const QList<Config> kConfigs{{1, true}, {5, true}, {8, false}};

struct Size {
    int chapters;
    QList<Measured> cli; // per config
    Measured floor;
};

// Serves a demo book of the given size and measures the CLI and curl on it.
Size measure(int chapters, const QString &cli, const QString &workDir) {
    DemoBookOptions options;
    options.chapters = chapters;
    options.volumes = 40;
    const DemoSite site(generateDemoBook(options));
    httplib::Server server;
    // One thread holds each kept-alive connection: eight requests at once and the hidden
    // browser's connections need more than the default pool.
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    site.addRoutes(server);
    std::thread serving;
    const int port = bench::serveOnLoopback(server, serving);
    const QString host = u"127.0.0.1:%1"_s.arg(port);
    const QString base = u"http://"_s + host;

    const QString settings = workDir + u"/Kestrelon.ini"_s;
    QFile settingsFile(settings);
    if (!settingsFile.open(QIODevice::WriteOnly) ||
        settingsFile.write(demoSiteSettings(host)) < 0 || !settingsFile.flush())
        std::printf("cannot write %s\n", qPrintable(settings));
    settingsFile.close();
    const QString shelf = workDir + u"/shelf"_s;
    QDir().mkpath(shelf);

    Size size{chapters, QList<Measured>(kConfigs.size()), {}};
    const QStringList cliCommand{cli,
                                 u"--settings"_s,
                                 settings,
                                 u"--out"_s,
                                 shelf,
                                 u"--overwrite"_s,
                                 base + QLatin1String(kDemoBookFolder)};

    // The floor: the same pages, in one curl process over one kept-alive connection.
    const QString config = workDir + u"/pages.curl"_s;
    QFile list(config);
    if (list.open(QIODevice::WriteOnly)) {
        list.write(QByteArray("cookie = \"") + kDemoCookie + "\"\n");
        for (const QString &path : site.pages().keys())
            list.write((u"url = \"%1%2\"\noutput = \"/dev/null\"\n"_s.arg(base, path)).toUtf8());
    }
    list.close();
    const QStringList curlCommand{u"/usr/bin/curl"_s, u"--silent"_s, u"--config"_s, config};
    // The fastest of a few runs of each, alternating: the least disturbed by the rest of the
    // machine.
    for (int run = 0; run < kRuns; ++run) {
        for (qsizetype c = 0; c < kConfigs.size(); ++c) {
            if (!kConfigs.at(c).timed && run > 0)
                continue; // memory does not vary from run to run
            const QStringList parallel{u"--parallel"_s, QString::number(kConfigs.at(c).parallel)};
            size.cli[c] =
                bench::fastest(size.cli[c], bench::runProgram(cliCommand.first(1) + parallel +
                                                              cliCommand.sliced(1)));
        }
        size.floor = bench::fastest(size.floor, bench::runProgram(curlCommand));
    }

    server.stop();
    if (serving.joinable())
        serving.join();
    return size;
}

bool benchInstantSite(const QString &cli, const QString &workDir) {
    const Size small = measure(2000, cli, workDir);
    const Size large = measure(4000, cli, workDir);
    for (qsizetype c = 0; c < kConfigs.size(); ++c) {
        if (small.cli.at(c).exitCode != 0 || large.cli.at(c).exitCode != 0) {
            std::printf("kestrelon-cli --parallel %d failed (exit %d and %d)\n",
                        kConfigs.at(c).parallel, small.cli.at(c).exitCode,
                        large.cli.at(c).exitCode);
            return false;
        }
    }

    std::printf("%-10s %-10s %12s %12s %14s\n", "chapters", "parallel", "cli (s)", "curl (s)",
                "cli peak (MiB)");
    for (const Size &size : {small, large}) {
        for (qsizetype c = 0; c < kConfigs.size(); ++c)
            std::printf("%-10d %-10d %12.3f %12.3f %14.1f\n", size.chapters,
                        kConfigs.at(c).parallel, size.cli.at(c).seconds, size.floor.seconds,
                        size.cli.at(c).peakKiB / 1024.0);
    }

    bool met = true;
    const double chapters = large.chapters - small.chapters;
    const double floorMarginal = (large.floor.seconds - small.floor.seconds) / chapters;
    for (qsizetype c = 0; c < kConfigs.size(); ++c) {
        const Config &config = kConfigs.at(c);
        const double peakMiB = large.cli.at(c).peakKiB / 1024.0;
        std::printf("--parallel %d: peak memory at 4000 chapters %.1f MiB (target < 300 MiB)\n",
                    config.parallel, peakMiB);
        met = met && peakMiB < 300;
        if (!config.timed)
            continue;
        const double marginal = (large.cli.at(c).seconds - small.cli.at(c).seconds) / chapters;
        const double ratio = marginal / floorMarginal;
        std::printf("--parallel %d: marginal per chapter: cli %.3f ms, curl %.3f ms, ratio %.2f "
                    "(target <= 1.5)\n",
                    config.parallel, marginal * 1e3, floorMarginal * 1e3, ratio);
        met = met && ratio <= 1.5;
        if (config.parallel == 1) {
            const double startUp = small.cli.at(c).seconds - small.chapters * marginal;
            std::printf("cli fixed start-up: %.3f s (target < 2 s)\n", startUp);
            met = met && startUp < 2.0;
        }
    }
    return met;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QString cli = QStringLiteral(KESTRELON_CLI);
    QTemporaryDir work;
    // "--instant", "--slow-site" and "--inflating" each run only their part; none runs all.
    const QStringList parts{u"--instant"_s, u"--slow-site"_s, u"--inflating"_s};
    const QStringList chosen = app.arguments().mid(1);
    const auto runs = [&](const QString &part) {
        return chosen.isEmpty() || chosen.contains(part);
    };
    for (const QString &argument : chosen) {
        if (!parts.contains(argument)) {
            std::printf("usage: bench_endtoend [--instant] [--slow-site] [--inflating]\n");
            return 2;
        }
    }
    const bool instant = !runs(u"--instant"_s) || benchInstantSite(cli, work.path());
    const bool slow = !runs(u"--slow-site"_s) || bench::benchSlowSite(cli, work.path());
    const bool inflating = !runs(u"--inflating"_s) || bench::benchInflatingPages(cli, work.path());
    const bool met = instant && slow && inflating;
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
