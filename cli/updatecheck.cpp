#include "cli/updatecheck.h"

#include "cli/quietview.h"
#include "cli/terminaltext.h"
#include "pipeline/chapterstore.h"
#include "pipeline/downloadjob.h"
#include "pipeline/pipeline.h"
#include "settings/sitekeys.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using terminaltext::printLine;

namespace updatecheck {

namespace {

// The job's chapter store for a check: it compares the contents page's chapters with the
// library's, records the check and ends the job there.
class CheckStore : public ChapterStore {
public:
    CheckStore(library::BookLibrary &shelf, BookCheck &check)
        : m_shelf(shelf)
        , m_check(check) {}

    bool contentsOnly() const override { return true; }
    bool contentsAnalysed(const DownloadJob &job, QString *error) override {
        const BookContents &book = job.book;
        const auto id =
            m_shelf.keepBook(job.inputs.contentsUrl, job.host, book.bookTitle, book.bookAuthor);
        const auto held = id ? m_shelf.heldAddresses(*id) : std::nullopt;
        if (!held || !m_shelf.recordCheck(*id)) {
            *error = m_shelf.lastError();
            return false;
        }
        const QStringList &urls = book.chapters.chapterUrls;
        // A chapter listed twice (a "latest chapters" block above the list) is one new chapter.
        QSet<QString> counted;
        for (int i = std::max(book.chapterIndex, 0); i <= book.lastIndex && i < urls.size(); ++i) {
            if (held->contains(urls.at(i)) || counted.contains(urls.at(i)))
                continue;
            counted.insert(urls.at(i));
            if (m_check.newChapters++ == 0) {
                m_check.firstNewName = book.chapters.chapterNames.value(i);
                m_check.firstNewUrl = urls.at(i);
            }
        }
        analysed = true;
        return true;
    }
    // Never asked: the job ends with the contents page.
    bool holds(int) const override { return true; }
    std::optional<QStringList> captures(int, QString *) override { return std::nullopt; }
    bool chapterFetched(int, const QStringList &, QString *) override { return false; }
    bool writeBook(const QString &, const book::BookOutline &, qsizetype *, QString *) override {
        return false;
    }

    bool analysed = false;

private:
    library::BookLibrary &m_shelf;
    BookCheck &m_check;
};

// The checks of books in this process, one after another.
QList<BookCheck> checkHere(library::BookLibrary &shelf, const QList<library::BookRecord> &books,
                           const JobInputs &base) {
    QuietView view(base);
    Pipeline pipeline(view);
    QList<BookCheck> checks;
    for (const library::BookRecord &book : books) {
        BookCheck check;
        check.book = book;
        view.inputs.contentsUrl = book.contentsUrl;
        view.failures.clear();
        // A plug-in's job reads the whole book its own way.
        if (!siteKeys::read(book.host, siteKeys::Key::Plugins).isEmpty()) {
            check.error = u"插件站点的书不能检查新章节"_s;
            checks.append(check);
            continue;
        }
        CheckStore store(shelf, check);
        const auto ended = pipeline.download(store);
        if (!ended)
            check.error = u"设置文件里没有这个站点的规则"_s;
        else if (*ended != EndState::Success || !store.analysed)
            check.error =
                view.failures.isEmpty() ? Pipeline::resultMessage(*ended) : view.failures.last();
        checks.append(check);
    }
    return checks;
}

QJsonObject checkJson(const BookCheck &check) {
    const bool found = check.error.isEmpty() && check.newChapters > 0;
    return QJsonObject{
        {u"contentsUrl"_s, check.book.contentsUrl},
        {u"title"_s, check.book.title},
        {u"site"_s, check.book.host},
        {u"ok"_s, check.error.isEmpty()},
        {u"error"_s, check.error.isEmpty() ? QJsonValue() : QJsonValue(check.error)},
        {u"newChapters"_s, check.newChapters},
        {u"firstNewChapter"_s, found ? QJsonValue(check.firstNewName) : QJsonValue()},
        {u"firstNewChapterUrl"_s, found ? QJsonValue(check.firstNewUrl) : QJsonValue()},
    };
}

// One host's checks as its process printed them (checkJson's form); a book it printed nothing
// for fails with failure, or with a reason of its own when the process ended well.
QList<BookCheck> checksFromJson(const QList<library::BookRecord> &books, const QByteArray &out,
                                const QString &failure) {
    QHash<QString, QJsonObject> printed;
    for (const QJsonValue &book : QJsonDocument::fromJson(out)[u"books"_s].toArray())
        printed.insert(book[u"contentsUrl"_s].toString(), book.toObject());
    QList<BookCheck> checks;
    for (const library::BookRecord &book : books) {
        BookCheck check;
        check.book = book;
        const auto found = printed.constFind(book.contentsUrl);
        if (found == printed.cend()) {
            check.error = failure.isEmpty() ? u"检查进程没有给出结果"_s : failure;
        } else if (!(*found)[u"ok"_s].toBool()) {
            check.error = (*found)[u"error"_s].toString();
        } else {
            check.newChapters = (*found)[u"newChapters"_s].toInt();
            check.firstNewName = (*found)[u"firstNewChapter"_s].toString();
            check.firstNewUrl = (*found)[u"firstNewChapterUrl"_s].toString();
        }
        checks.append(check);
    }
    return checks;
}

// Each host's books checked by a process of this program of their own, kHostsAtOnce at a time.
QList<BookCheck> checkInProcesses(const QList<QList<library::BookRecord>> &hosts,
                                  const CheckOptions &how) {
    QList<QList<BookCheck>> found(hosts.size());
    std::vector<std::unique_ptr<QProcess>> processes(hosts.size());
    QEventLoop loop;
    qsizetype next = 0;
    int running = 0;
    std::function<void()> startMore;
    const auto ended = [&](qsizetype index, const QString &failure) {
        found[index] =
            checksFromJson(hosts.at(index), processes[index]->readAllStandardOutput(), failure);
        --running;
        startMore();
        if (running == 0)
            loop.quit();
    };
    startMore = [&] {
        while (running < kHostsAtOnce && next < hosts.size()) {
            const qsizetype index = next++;
            auto &process = processes[index];
            process = std::make_unique<QProcess>();
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            QObject::connect(process.get(), &QProcess::finished, &loop,
                             [&, index](int code, QProcess::ExitStatus status) {
                                 ended(index, status == QProcess::NormalExit && code == 0
                                                  ? QString()
                                                  : u"检查进程失败（%1）"_s.arg(code));
                             });
            QObject::connect(process.get(), &QProcess::errorOccurred, &loop,
                             [&, index](QProcess::ProcessError error) {
                                 if (error == QProcess::FailedToStart)
                                     ended(index, processes[index]->errorString());
                             });
            ++running;
            process->start(how.program, how.processArguments +
                                            QStringList{u"--check-updates"_s, u"--json"_s,
                                                        u"--site"_s, hosts.at(index).first().host});
        }
    };
    startMore();
    if (running > 0)
        loop.exec();
    QList<BookCheck> checks;
    for (const QList<BookCheck> &host : std::as_const(found))
        checks += host;
    return checks;
}

} // namespace

std::optional<QList<BookCheck>> checkBooks(const QString &libraryPath, const JobInputs &base,
                                           const CheckOptions &how, QString *error) {
    // Checking never creates a library: without one there is nothing to check.
    if (!QFileInfo::exists(libraryPath))
        return QList<BookCheck>();
    library::BookLibrary shelf;
    if (!shelf.open(libraryPath, false, error))
        return std::nullopt;
    auto books = shelf.books();
    if (!books) {
        *error = shelf.lastError();
        return std::nullopt;
    }
    if (!how.site.isEmpty())
        books->removeIf([&how](const auto &book) { return book.host != how.site; });
    // A host's books together, so that its site is asked for one page at a time.
    std::stable_sort(books->begin(), books->end(),
                     [](const auto &a, const auto &b) { return a.host < b.host; });
    QList<QList<library::BookRecord>> hosts;
    for (const library::BookRecord &book : std::as_const(*books)) {
        if (hosts.isEmpty() || hosts.last().first().host != book.host)
            hosts.append(QList<library::BookRecord>());
        hosts.last().append(book);
    }
    if (hosts.size() > 1 && !how.program.isEmpty())
        return checkInProcesses(hosts, how);
    return checkHere(shelf, *books, base);
}

int printChecks(const QString &libraryPath, const JobInputs &base, const CheckOptions &how,
                bool json) {
    QString error;
    const auto checks = checkBooks(libraryPath, base, how, &error);
    if (!checks) {
        printLine(error, stderr);
        return 1;
    }
    if (json) {
        QJsonArray list;
        for (const BookCheck &check : *checks)
            list.append(checkJson(check));
        const QJsonObject root{{u"library"_s, libraryPath}, {u"books"_s, list}};
        std::fputs(QJsonDocument(root).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    printLine(u"书库：%1"_s.arg(libraryPath));
    if (checks->isEmpty())
        printLine(u"书库里没有书。"_s);
    for (const BookCheck &check : *checks) {
        const QString book = u"%1（%2）"_s.arg(check.book.title, check.book.host);
        if (!check.error.isEmpty())
            printLine(u"%1：检查失败：%2"_s.arg(book, check.error));
        else if (check.newChapters == 0)
            printLine(u"%1：没有新章节"_s.arg(book));
        else
            printLine(u"%1：%2 个新章节，第一个：%3"_s.arg(book)
                          .arg(check.newChapters)
                          .arg(check.firstNewName));
    }
    return 0;
}

} // namespace updatecheck
