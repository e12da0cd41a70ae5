// kestrelon-cli --update against a serial that grows on an instant loopback site: a 4,000-chapter
// book put into the book library, then ten new chapters fetched beside curl fetching the contents
// page and the eleven chapter pages an update needs; the library's size against the book's UTF-8
// size; the peak memory of every run; and updates killed at random moments, after which the
// library must pass SQLite's integrity check, the book must be whole (the one before or the one
// after), and the next update must write the book a full download writes. Exits 1 when a target
// is missed.

#include "bench/cliruns.h"
#include "bench/plainbook.h"
#include "bench/serving.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <httplib.h>

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;
using bench::Measured;

namespace {

constexpr int kFirst = 4000;
constexpr int kNew = 10;
constexpr int kTimedRuns = 2;
constexpr int kKills = 8;
constexpr int kKillGrowth = 150; // new chapters for each killed update, so it runs a while
constexpr int kTotal = kFirst + kTimedRuns * kNew + (kKills + 1) * kKillGrowth;
constexpr double kUpdateFactor = 1.5;
constexpr double kRebuildSeconds = 0.5;
constexpr double kSizeFactor = 1.5;
constexpr double kPeakMiB = 300;

// The grown serial: the contents page lists the chapters published so far.
class Serial {
public:
    Serial()
        : m_book(kTotal) {
        for (int c = 1; c <= kTotal; ++c)
            m_chapters.insert(u"/book/%1.html"_s.arg(c).toStdString(), m_book.chapterPage(c));
        publish(kFirst);
    }

    void publish(int chapters) {
        const QByteArray contents = m_book.contentsPage(chapters);
        const std::lock_guard lock(m_lock);
        m_contents = contents;
        m_published = chapters;
    }
    int published() const {
        const std::lock_guard lock(m_lock);
        return m_published;
    }

    void serve(const httplib::Request &request, httplib::Response &response) const {
        QByteArray body;
        if (request.path == "/book/") {
            const std::lock_guard lock(m_lock);
            body = m_contents;
        } else if (const auto page = m_chapters.constFind(request.path);
                   page != m_chapters.cend()) {
            body = *page;
        } else {
            response.status = 404;
            return;
        }
        bench::answerWith(response, body, "text/html; charset=gbk");
    }

private:
    bench::PlainBook m_book;
    QHash<std::string, QByteArray> m_chapters; // written before serving starts
    mutable std::mutex m_lock;
    QByteArray m_contents;
    int m_published = 0;
};

QByteArray fileHash(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

// "ok" when SQLite finds the library sound, else what it found.
QString integrity(const QString &path) {
    QString verdict = u"cannot open"_s;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"check"_s);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            verdict = query.exec(u"PRAGMA integrity_check"_s) && query.next()
                          ? query.value(0).toString()
                          : u"no answer"_s;
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(u"check"_s);
    return verdict;
}

// Files in folder other than the book: what a killed write left behind.
QStringList strays(const QString &folder, const QString &book) {
    QStringList found = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    found.removeAll(QFileInfo(book).fileName());
    return found;
}

struct Bench {
    QString cli;
    QString settings;
    QString library;
    QString shelf;
    QString url;
    double peakMiB = 0;

    QStringList command(const QString &folder, bool update) const {
        QStringList line{cli,    u"--settings"_s, settings,  u"--out"_s,
                         folder, u"--encoding"_s, u"utf-8"_s};
        if (update)
            line << u"--update"_s;
        return line << url;
    }
    Measured run(const QString &folder, bool update) {
        const Measured measured = bench::runProgram(command(folder, update));
        peakMiB = std::max(peakMiB, measured.peakKiB / 1024.0);
        return measured;
    }
    // The book file the updates write (the only .txt in the shelf).
    QString book() const {
        const QStringList books = QDir(shelf).entryList({u"*.txt"_s}, QDir::Files);
        return books.isEmpty() ? QString() : shelf + u'/' + books.first();
    }
};

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    Serial serial;
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(16); };
    server.set_tcp_nodelay(true);
    server.Get("/.*", [&serial](const httplib::Request &request, httplib::Response &response) {
        serial.serve(request, response);
    });
    std::thread serving;
    const int port = bench::serveOnLoopback(server, serving);

    Bench bench{QStringLiteral(KESTRELON_CLI), work.filePath(u"update.ini"_s),
                work.filePath(u"update.sqlite"_s), work.filePath(u"shelf"_s),
                u"http://127.0.0.1:%1/book/"_s.arg(port)};
    QFile settings(bench.settings);
    const QByteArray section = bench::plainBookSection(u"127.0.0.1:%1"_s.arg(port));
    if (!settings.open(QIODevice::WriteOnly) || settings.write(section) != section.size() ||
        !settings.flush())
        std::printf("cannot write %s\n", qPrintable(bench.settings));
    settings.close();
    QDir().mkpath(bench.shelf);
    bool met = true;

    const Measured first = bench.run(bench.shelf, true);
    const qint64 bookBytes = QFileInfo(bench.book()).size();
    qint64 libraryBytes = 0;
    for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s})
        libraryBytes += QFileInfo(bench.library + suffix).size();
    const double sizeRatio = bookBytes ? double(libraryBytes) / double(bookBytes) : 0;
    std::printf("%d chapters into the library: %.3f s%s\n", kFirst, first.seconds,
                first.exitCode == 0 ? "" : " FAILED");
    std::printf("library %.1f MiB for a book of %.1f MiB in UTF-8: ratio %.2f (target <= %.2f)\n",
                libraryBytes / 1048576.0, bookBytes / 1048576.0, sizeRatio, kSizeFactor);
    met = met && first.exitCode == 0 && bookBytes > 0 && sizeRatio <= kSizeFactor;

    // Ten new chapters: the update beside curl fetching what it needs, one page after another
    // over one connection.
    Measured ours;
    Measured curl;
    const QString config = work.filePath(u"update.curl"_s);
    for (int run = 0; run < kTimedRuns; ++run) {
        serial.publish(serial.published() + kNew);
        QFile list(config);
        if (list.open(QIODevice::WriteOnly)) {
            list.write(u"url = \"%1\"\noutput = \"/dev/null\"\n"_s.arg(bench.url).toUtf8());
            for (int c = serial.published() - kNew; c <= serial.published(); ++c)
                list.write(u"url = \"%1%2.html\"\noutput = \"/dev/null\"\n"_s.arg(bench.url)
                               .arg(c)
                               .toUtf8());
        }
        list.close();
        ours = bench::fastest(ours, bench.run(bench.shelf, true));
        curl = bench::fastest(
            curl, bench::runProgram({u"/usr/bin/curl"_s, u"--silent"_s, u"--config"_s, config}));
    }
    const double allowed = kUpdateFactor * curl.seconds + kRebuildSeconds;
    std::printf("%d new chapters: --update %.3f s, curl (contents page and %d chapters) %.3f s, "
                "allowed %.3f s%s\n",
                kNew, ours.seconds, kNew + 1, curl.seconds, allowed,
                ours.exitCode == 0 && curl.exitCode == 0 ? "" : " FAILED");
    met = met && ours.exitCode == 0 && curl.exitCode == 0 && ours.seconds <= allowed;

    // Updates killed at random moments of their run; the window is the time of one such update.
    serial.publish(serial.published() + kKillGrowth);
    const Measured growth = bench.run(bench.shelf, true);
    QRandomGenerator random(20261207);
    int sound = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const QByteArray before = fileHash(bench.book());
        serial.publish(serial.published() + kKillGrowth);
        const pid_t pid = bench::spawnQuiet(bench.command(bench.shelf, true));
        const int delayMs = int(random.bounded(growth.seconds * 1000.0));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(pid, SIGKILL);
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        const QByteArray killed = fileHash(bench.book());
        const QString verdict = integrity(bench.library);
        const QStringList left = strays(bench.shelf, bench.book());
        const Measured next = bench.run(bench.shelf, true);
        const QByteArray after = fileHash(bench.book());
        const bool whole = killed == before || killed == after;
        std::printf("killed after %4d ms: library %s, book %s%s, next update %s\n", delayMs,
                    qPrintable(verdict), whole ? "whole" : "PARTIAL",
                    left.isEmpty() ? "" : qPrintable(u", left behind: "_s + left.join(u", "_s)),
                    next.exitCode == 0 ? "completed" : "FAILED");
        if (verdict == u"ok"_s && whole && left.isEmpty() && next.exitCode == 0)
            ++sound;
    }
    // What the updates built against a full download of the serial as it stands.
    const QString fresh = work.filePath(u"fresh"_s);
    QDir().mkpath(fresh);
    const Measured full = bench.run(fresh, false);
    const QStringList freshBooks = QDir(fresh).entryList({u"*.txt"_s}, QDir::Files);
    const bool same = full.exitCode == 0 && !freshBooks.isEmpty() &&
                      fileHash(fresh + u'/' + freshBooks.first()) == fileHash(bench.book());
    std::printf("%d of %d killed updates left the library sound and the book whole; the last "
                "update's book %s a full download's\n",
                sound, kKills, same ? "equals" : "DIFFERS FROM");
    met = met && sound == kKills && same;

    std::printf("peak memory of every run: %.0f MiB (target <= %.0f MiB)\n", bench.peakMiB,
                kPeakMiB);
    met = met && bench.peakMiB <= kPeakMiB;

    server.stop();
    if (serving.joinable())
        serving.join();
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
