#include "tests/support/clirun.h"

#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace support {

CliRun runCli(const QStringList &arguments, const CliOptions &options) {
    QTemporaryDir ownShelf;
    QTemporaryDir ownCache;
    const QString shelf = options.shelf.isEmpty() ? ownShelf.path() : options.shelf;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The tests' sites are all on this machine; a proxy of the machine's would only get between.
    for (const QString &name : {u"http_proxy"_s, u"https_proxy"_s, u"all_proxy"_s, u"no_proxy"_s,
                                u"HTTP_PROXY"_s, u"HTTPS_PROXY"_s, u"ALL_PROXY"_s, u"NO_PROXY"_s})
        environment.remove(name);
    environment.insert(u"XDG_CACHE_HOME"_s,
                       options.cache.isEmpty() ? ownCache.path() : options.cache);
    for (const QString &assignment : options.environment)
        environment.insert(assignment.section(u'=', 0, 0), assignment.section(u'=', 1));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KESTRELON_CLI), QStringList{u"--out"_s, shelf} + arguments);
    if (!process.waitForStarted())
        return {};
    QElapsedTimer stopped;
    if (options.interruptWhen) {
        for (int waited = 0; !options.interruptWhen(); waited += 20) {
            if (waited > 20000 || process.state() == QProcess::NotRunning)
                return {};
            QTest::qWait(20);
        }
        QTest::qWait(options.interruptAfterMs);
        ::kill(pid_t(process.processId()), options.interruptSignal);
        stopped.start();
    }
    CliRun run;
    if (process.waitForFinished(options.limitSeconds * 1000) &&
        process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    else
        process.kill();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    const QDir folder(shelf);
    for (const QString &file : folder.entryList(QDir::Files | QDir::Hidden))
        run.shelf.insert(file, readBytes(folder.filePath(file)));
    run.stoppedMs = stopped.isValid() ? stopped.elapsed() : -1;
    return run;
}

} // namespace support
