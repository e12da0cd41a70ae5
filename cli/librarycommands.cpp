#include "cli/librarycommands.h"

#include "cli/terminaltext.h"
#include "library/booklibrary.h"
#include "pipeline/updatesession.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace Qt::StringLiterals;
using terminaltext::printLine;

namespace librarycommands {

namespace {

QString timeText(const QDateTime &time) {
    return time.isValid() ? time.toLocalTime().toString(Qt::ISODate) : QString();
}

// Opens the library at path for reading or changing what it holds, never creating one: false,
// after saying why, when it is there but cannot be opened. *exists tells whether it is there.
bool openExisting(library::BookLibrary &shelf, const QString &path, bool *exists) {
    *exists = QFileInfo::exists(path);
    if (!*exists)
        return true;
    QString error;
    if (shelf.open(path, false, &error))
        return true;
    printLine(error, stderr);
    return false;
}

} // namespace

int listBooks(const QString &libraryPath, bool json) {
    // Listing never creates a library: without one there is nothing to list.
    QList<library::BookRecord> books;
    library::BookLibrary shelf;
    bool exists = false;
    if (!openExisting(shelf, libraryPath, &exists))
        return 1;
    if (exists) {
        const auto found = shelf.books();
        if (!found) {
            printLine(shelf.lastError(), stderr);
            return 1;
        }
        books = *found;
    }
    if (json) {
        QJsonArray list;
        for (const library::BookRecord &book : std::as_const(books)) {
            list.append(QJsonObject{
                {u"contentsUrl"_s, book.contentsUrl},
                {u"title"_s, book.title},
                {u"author"_s, book.author},
                {u"site"_s, book.host},
                {u"chapters"_s, book.chapters},
                {u"updated"_s, timeText(book.updated)},
                {u"checked"_s, timeText(book.checked)},
                {u"options"_s, book.options},
                {u"encoding"_s, book.encoding},
                {u"bookFile"_s, book.bookPath},
                {u"bookFileExists"_s, !book.bookPath.isEmpty() && QFileInfo::exists(book.bookPath)},
            });
        }
        const QJsonObject root{{u"library"_s, libraryPath}, {u"books"_s, list}};
        std::fputs(QJsonDocument(root).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    printLine(u"书库：%1"_s.arg(libraryPath));
    if (books.isEmpty())
        printLine(u"书库里没有书。"_s);
    for (const library::BookRecord &book : std::as_const(books)) {
        printLine(u"%1　%2　（%3）"_s.arg(book.title, book.author, book.host));
        printLine(u"  目录：%1"_s.arg(book.contentsUrl));
        printLine(u"  章节：%1　更新：%2"_s.arg(book.chapters)
                      .arg(book.updated.isValid() ? timeText(book.updated) : u"从未"_s));
        if (!book.bookPath.isEmpty()) {
            printLine(u"  书籍文件：%1%2"_s.arg(
                book.bookPath, QFileInfo::exists(book.bookPath) ? QString() : u"（已不在）"_s));
        }
    }
    return 0;
}

int forgetBook(const QString &libraryPath, const QString &contentsUrl) {
    bool found = false;
    library::BookLibrary shelf;
    bool exists = false;
    if (!openExisting(shelf, libraryPath, &exists))
        return 1;
    if (exists) {
        if (!shelf.forget(contentsUrl, &found)) {
            printLine(shelf.lastError(), stderr);
            return 1;
        }
    }
    if (!found) {
        printLine(u"书库里没有这本书：%1"_s.arg(contentsUrl), stderr);
        return 1;
    }
    printLine(u"已从书库删除：%1"_s.arg(contentsUrl));
    return 0;
}

QString updateSummary(const UpdateSession &session) {
    QString summary = u"更新：从网站取得 %1 章，从书库取得 %2 章"_s.arg(session.fetchedCount())
                          .arg(session.fromLibraryCount());
    // Without a terminal the question goes unasked and the file is kept: an update that seems
    // done must not leave the reader believing the file holds the new chapters.
    if (!session.keptFile().isEmpty())
        summary +=
            u"\n书籍文件已经存在，没有替换：%1（用 --overwrite 替换）"_s.arg(session.keptFile());
    return summary;
}

} // namespace librarycommands
