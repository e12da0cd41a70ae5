#include "pipeline/updatesession.h"

#include "book/bookfile.h"
#include "library/sha256.h"
#include "pipeline/bookwrite.h"
#include "pipeline/downloadjob.h"
#include "pipeline/jobview.h"
#include "text/typeset.h"

#include <QFileInfo>

#include <algorithm>
#include <system_error>

using namespace Qt::StringLiterals;

namespace pipeline {

QString buildOptionsText(const JobInputs &inputs) {
    QStringList words{inputs.format == BookFormat::Epub ? u"epub"_s : u"txt"_s};
    if (inputs.deleteTitle)
        words.append(u"delete-title"_s);
    if (inputs.smallChapters)
        words.append(u"small-chapters"_s);
    if (inputs.browserText)
        words.append(u"browser-text"_s);
    return words.join(u' ');
}

} // namespace pipeline

namespace {

// The view the updated book is written through: the library's own last build is replaced
// without a question, the writer's failure is kept as the job's reason, and a declined
// replacement is remembered, since then there is no new build to record.
class BuildView : public ForwardingView {
public:
    BuildView(JobView &view, bool ownFile)
        : ForwardingView(view)
        , m_ownFile(ownFile) {}
    bool confirmReplace(const QString &path) override {
        if (m_ownFile)
            return true;
        declined = !ForwardingView::confirmReplace(path);
        return !declined;
    }
    void noteFailure(const QString &reason) override { failure = reason; }

    std::optional<QString> failure;
    bool declined = false;

private:
    bool m_ownFile;
};

} // namespace

UpdateSession::UpdateSession(library::BookLibrary &library, JobView &view)
    : m_library(library)
    , m_view(view) {}

bool UpdateSession::contentsAnalysed(const DownloadJob &job, QString *error) {
    m_job = &job;
    m_taken.clear();
    m_fetched = 0;
    m_fromLibrary = 0;
    m_keptFile.clear();
    const BookContents &book = job.book;
    m_record = m_library.book(job.inputs.contentsUrl);
    const auto id =
        m_library.keepBook(job.inputs.contentsUrl, job.host, book.bookTitle, book.bookAuthor);
    if (!id) {
        *error = m_library.lastError();
        return false;
    }
    m_bookId = *id;
    const auto held = m_library.heldAddresses(m_bookId);
    if (!held) {
        *error = m_library.lastError();
        return false;
    }
    // What was read ahead is every chapter whose stored text is whole: a damaged one is fetched
    // again instead of failing this and every later update of the book.
    const bool readAhead = m_readingAhead.valid() && m_aheadUrl == job.inputs.contentsUrl;
    if (readAhead)
        m_ahead = m_readingAhead.get();
    int lastHeld = -1;
    const QStringList &urls = book.chapters.chapterUrls;
    for (int i = std::max(book.chapterIndex, 0); i <= book.lastIndex && i < urls.size(); ++i) {
        if (held->contains(urls.at(i)) && (!readAhead || m_ahead.contains(urls.at(i)))) {
            m_taken.insert(i);
            lastHeld = i;
        }
    }
    // The last chapter held may have been the site's placeholder: it is fetched again, and so is
    // every other place the contents page lists it (a "latest chapters" block above the list).
    if (lastHeld >= 0) {
        const QString last = urls.at(lastHeld);
        m_taken.removeIf([&urls, &last](int chapter) { return urls.at(chapter) == last; });
    }
    return true;
}

void UpdateSession::readAhead(const QString &contentsUrl) {
    m_aheadUrl = contentsUrl;
    try {
        m_readingAhead = std::async(std::launch::async, library::readHeldChapters, m_library.path(),
                                    contentsUrl);
    } catch (const std::system_error &) {
        // No thread to be had: each chapter is read when its turn comes, as without reading ahead.
    }
}

std::optional<QStringList> UpdateSession::captures(int chapter, QString *error) {
    if (m_readingAhead.valid())
        m_ahead = m_readingAhead.get();
    const QString address = m_job->book.chapters.chapterUrls.value(chapter);
    if (m_aheadUrl == m_job->inputs.contentsUrl) {
        if (const auto ahead = m_ahead.find(address); ahead != m_ahead.end()) {
            QStringList captures = std::move(*ahead);
            m_ahead.erase(ahead);
            ++m_fromLibrary;
            return captures;
        }
    }
    const auto found = m_library.captures(m_bookId, address);
    if (!found) {
        *error = m_library.lastError();
        return std::nullopt;
    }
    ++m_fromLibrary;
    return found;
}

bool UpdateSession::chapterFetched(int chapter, const QStringList &captures, QString *error) {
    ++m_fetched;
    // A chapter without text is most often the site's bot check or "too many requests" in its
    // place. Kept, it would stand in for the chapter in every later update (and replace a held
    // text that was good): the next update asks the site again instead.
    const bool hasText = std::any_of(captures.cbegin(), captures.cend(), [](const QString &page) {
        return !typeset::cleanText(page, false).isEmpty();
    });
    if (!hasText)
        return true;
    const ChapterList &chapters = m_job->book.chapters;
    const library::ChapterRecord record{chapter, chapters.chapterUrls.value(chapter),
                                        chapters.chapterNames.value(chapter),
                                        chapters.volumeNames.value(chapter), captures};
    if (!m_library.storeChapter(m_bookId, record)) {
        *error = m_library.lastError();
        return false;
    }
    return true;
}

bool UpdateSession::writeBook(const QString &text, const book::BookOutline &outline,
                              qsizetype *unencodable, QString *error) {
    const JobInputs &inputs = m_job->inputs;
    const bool epub = inputs.format == BookFormat::Epub;
    const QString path =
        book::bookFilePath(inputs.bookshelfFolder, outline.title, epub ? u".epub"_s : u".txt"_s);
    const QFileInfo existing(path);
    // Only the very file the last build wrote goes without a question (a file the user edited or
    // put there since is theirs), or the one a build killed between its file and its record had
    // announced as pending. A file at neither path is not read.
    bool ownFile = false;
    const bool recorded = m_record && (m_record->bookPath == path || m_record->pendingPath == path);
    if (recorded && existing.isFile() && !existing.isSymLink()) {
        const QString sha = library::fileSha256Hex(path);
        ownFile =
            !sha.isEmpty() && ((m_record->bookPath == path && sha == m_record->bookSha256) ||
                               (m_record->pendingPath == path && sha == m_record->pendingSha256));
    }
    BuildView view(m_view, ownFile);
    // The file written is exactly these bytes: their hash is the build's, with no read back.
    QString sha;
    const auto announce = [this, &path, &sha](const QByteArray &bytes, QString *why) {
        sha = library::sha256Hex(bytes);
        if (m_library.recordPendingBuild(m_bookId, path, sha))
            return true;
        *why = m_library.lastError();
        return false;
    };
    if (!pipeline::writeBook(text, outline, inputs, view, unencodable, announce)) {
        *error = view.failure.value_or(QString());
        return false;
    }
    if (view.declined) {
        m_keptFile = path;
        return true;
    }
    if (!m_library.recordBuild(m_bookId, pipeline::buildOptionsText(inputs), inputs.encoding, path,
                               sha)) {
        *error = m_library.lastError();
        return false;
    }
    return true;
}
