// The main job end to end: kestrelon-cli downloads demo books of 2,000 and 4,000 chapters over
// loopback, against the floor of curl fetching the same pages one after another over one
// connection. Prints the wall times, the CLI's peak memory, the marginal cost per chapter of
// each, their ratio and the CLI's fixed start-up. Exits 1 when a target is missed.

#include "demo/demosite.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <httplib.h>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

using namespace Qt::StringLiterals;
using namespace demo;

extern char **environ;

namespace {

struct Measured {
    double seconds = 0;
    long peakKiB = 0;
    int exitCode = -1;
};

// Runs a program to its end and measures its wall time and peak resident memory.
Measured runProgram(const QStringList &command) {
    QList<QByteArray> arguments;
    for (const QString &part : command)
        arguments.append(part.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Measured measured;
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid, argv.front(), &actions, nullptr, argv.data(), environ) != 0)
        return measured;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    measured.seconds = double(timer.nsecsElapsed()) / 1e9;
    measured.peakKiB = usage.ru_maxrss;
    measured.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measured;
}

constexpr int kRuns = 5;

Measured fastest(const Measured &best, const Measured &next) {
    if (best.exitCode != 0 || (next.exitCode == 0 && next.seconds < best.seconds))
        return next;
    return best;
}

struct Size {
    int chapters;
    Measured cli;
    Measured floor;
};

// Serves a demo book of the given size and measures the CLI and curl on it.
Size measure(int chapters, const QString &cli, const QString &workDir) {
    DemoBookOptions options;
    options.chapters = chapters;
    options.volumes = 40;
    const DemoSite site(generateDemoBook(options));
    httplib::Server server;
    site.addRoutes(server);
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&server] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const QString host = u"127.0.0.1:%1"_s.arg(port);
    const QString base = u"http://"_s + host;

    const QString settings = workDir + u"/Kestrelon.ini"_s;
    QFile settingsFile(settings);
    settingsFile.open(QIODevice::WriteOnly);
    settingsFile.write(demoSiteSettings(host));
    settingsFile.close();
    const QString shelf = workDir + u"/shelf"_s;
    QDir().mkpath(shelf);

    Size size{chapters, {}, {}};
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
    list.open(QIODevice::WriteOnly);
    list.write(QByteArray("cookie = \"") + kDemoCookie + "\"\n");
    for (const QString &path : site.pages().keys())
        list.write((u"url = \"%1%2\"\noutput = \"/dev/null\"\n"_s.arg(base, path)).toUtf8());
    list.close();
    const QStringList curlCommand{u"/usr/bin/curl"_s, u"--silent"_s, u"--config"_s, config};
    // The fastest of a few runs of each, alternating: the least disturbed by the rest of the
    // machine.
    for (int run = 0; run < kRuns; ++run) {
        size.cli = fastest(size.cli, runProgram(cliCommand));
        size.floor = fastest(size.floor, runProgram(curlCommand));
    }

    server.stop();
    serving.join();
    return size;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QString cli = QStringLiteral(KESTRELON_CLI);
    QTemporaryDir work;

    const Size small = measure(2000, cli, work.path());
    const Size large = measure(4000, cli, work.path());
    if (small.cli.exitCode != 0 || large.cli.exitCode != 0) {
        std::printf("kestrelon-cli failed (exit %d and %d)\n", small.cli.exitCode,
                    large.cli.exitCode);
        return 1;
    }

    std::printf("%-10s %12s %12s %14s\n", "chapters", "cli (s)", "curl (s)", "cli peak (MiB)");
    for (const Size &size : {small, large})
        std::printf("%-10d %12.3f %12.3f %14.1f\n", size.chapters, size.cli.seconds,
                    size.floor.seconds, size.cli.peakKiB / 1024.0);

    const double chapters = large.chapters - small.chapters;
    const double cliMarginal = (large.cli.seconds - small.cli.seconds) / chapters;
    const double floorMarginal = (large.floor.seconds - small.floor.seconds) / chapters;
    const double ratio = cliMarginal / floorMarginal;
    const double startUp = small.cli.seconds - small.chapters * cliMarginal;
    const double peakMiB = large.cli.peakKiB / 1024.0;
    std::printf("marginal per chapter: cli %.3f ms, curl %.3f ms, ratio %.2f (target <= 2.0)\n",
                cliMarginal * 1e3, floorMarginal * 1e3, ratio);
    std::printf("cli fixed start-up: %.3f s (target < 2 s)\n", startUp);
    std::printf("cli peak memory at 4000 chapters: %.1f MiB (target < 300 MiB)\n", peakMiB);
    const bool met = ratio <= 2.0 && startUp < 2.0 && peakMiB < 300;
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
