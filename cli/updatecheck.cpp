#include "cli/updatecheck.h"

#include "cli/quietview.h"
#include "pipeline/chapterstore.h"
#include "pipeline/downloadjob.h"
#include "pipeline/pipeline.h"
#include "settings/sitekeys.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace updatecheck {

namespace {

void printLine(const QString &line, FILE *stream = stdout) {
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
}

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
        for (int i = std::max(book.chapterIndex, 0); i <= book.lastIndex && i < urls.size(); ++i) {
            if (held->contains(urls.at(i)))
                continue;
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
    bool writeBook(const QString &, const book::BookOutline &, QString *) override { return false; }

    bool analysed = false;

private:
    library::BookLibrary &m_shelf;
    BookCheck &m_check;
};

} // namespace

std::optional<QList<BookCheck>> checkBooks(const QString &libraryPath, const JobInputs &base,
                                           QString *error) {
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
    // A host's books together, so that its site is asked for one page at a time.
    std::stable_sort(books->begin(), books->end(),
                     [](const auto &a, const auto &b) { return a.host < b.host; });
    QuietView view(base);
    Pipeline pipeline(view);
    QList<BookCheck> checks;
    for (const library::BookRecord &book : std::as_const(*books)) {
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

int printChecks(const QString &libraryPath, const JobInputs &base, bool json) {
    QString error;
    const auto checks = checkBooks(libraryPath, base, &error);
    if (!checks) {
        printLine(error, stderr);
        return 1;
    }
    if (json) {
        QJsonArray list;
        for (const BookCheck &check : *checks) {
            const bool found = check.error.isEmpty() && check.newChapters > 0;
            list.append(QJsonObject{
                {u"contentsUrl"_s, check.book.contentsUrl},
                {u"title"_s, check.book.title},
                {u"site"_s, check.book.host},
                {u"ok"_s, check.error.isEmpty()},
                {u"error"_s, check.error.isEmpty() ? QJsonValue() : QJsonValue(check.error)},
                {u"newChapters"_s, check.newChapters},
                {u"firstNewChapter"_s, found ? QJsonValue(check.firstNewName) : QJsonValue()},
                {u"firstNewChapterUrl"_s, found ? QJsonValue(check.firstNewUrl) : QJsonValue()},
            });
        }
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
