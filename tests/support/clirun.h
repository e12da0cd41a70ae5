#pragma once
// kestrelon-cli as a process, for every test that runs it: a shelf of its own (or the caller's),
// a cache folder of its own (or the caller's), no proxy from the machine's environment, and
// optionally a Ctrl-C (or another signal) once something has happened.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <csignal>
#include <functional>

namespace support {

struct CliOptions {
    QString shelf = {};           // the --out folder; a fresh temporary one when empty
    QString cache = {};           // XDG_CACHE_HOME; a fresh temporary one when empty
    QStringList environment = {}; // NAME=value added to the program's environment
    // SIGINT once this holds (polled every 20 ms), after interruptAfterMs more.
    std::function<bool()> interruptWhen = {};
    int interruptAfterMs = 0;
    int interruptSignal = SIGINT; // SIGKILL for a program that gets no say in how it ends
    int limitSeconds = 60;        // the program is killed after this
};

struct CliRun {
    int exitCode = -1; // -1: it did not start, crashed, or outlived its limit
    QString out;
    QString err;
    QMap<QString, QByteArray> shelf; // the shelf's files after the run, by name
    qint64 stoppedMs = -1;           // from the interrupt to the program's end

    // The one file on the shelf; "" when there is not exactly one.
    QByteArray book() const { return shelf.size() == 1 ? shelf.first() : QByteArray(); }
};

// Runs kestrelon-cli --out <shelf> arguments.
CliRun runCli(const QStringList &arguments, const CliOptions &options = {});

} // namespace support
