#pragma once
// Shared by the benchmarks that run programs: a program run to its end with its wall time, peak
// resident memory and exit status, and the better of two such runs.

#include <QByteArray>
#include <QElapsedTimer>
#include <QStringList>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace bench {

struct Measured {
    double seconds = 0;
    long peakKiB = 0;
    int exitCode = -1;
};

// Starts a program with its output thrown away; its process id, or 0 when it could not start.
inline pid_t spawnQuiet(const QStringList &command) {
    QList<QByteArray> arguments;
    for (const QString &part : command)
        arguments.append(part.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid, argv.front(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : 0;
}

// Runs a program to its end, its output thrown away, and measures its wall time and peak
// resident memory.
inline Measured runProgram(const QStringList &command) {
    Measured measured;
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = spawnQuiet(command);
    if (pid == 0)
        return measured;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    measured.seconds = double(timer.nsecsElapsed()) / 1e9;
    measured.peakKiB = usage.ru_maxrss;
    measured.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measured;
}

// The faster of two runs that succeeded: the least disturbed by the rest of the machine.
inline Measured fastest(const Measured &best, const Measured &next) {
    if (best.exitCode != 0 || (next.exitCode == 0 && next.seconds < best.seconds))
        return next;
    return best;
}

} // namespace bench
