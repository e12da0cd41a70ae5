#pragma once
// What the pipeline needs of its front end (the window, the terminal, a test): the inputs of a
// job, and the state the user sees and sets while it runs. The pipeline never reaches past this
// interface.

#include "book/bookfile.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>
#include <utility>

// What a job works on, read from the front end once, when the job starts.
struct JobInputs {
    QString contentsUrl;        // the book's contents page
    QString firstChapterUrl;    // the first wanted chapter ("" from the first one found)
    QString lastChapterUrl;     // the last wanted chapter ("" to the last one found)
    bool deleteTitle = false;   // remove a chapter's title repeated on its first line
    bool smallChapters = false; // join the parts of one chapter
    bool browserText = false;   // turn chapter HTML into text with the hidden browser
    QString encoding = QStringLiteral("gbk"); // of the book file
    QString bookshelfFolder;                  // where the book goes, ending with a separator
    BookFormat format = BookFormat::Text;     // a text file, or an EPUB book instead
    // How the job talks to the site (FetchPolicy); each one left unset comes from the site's
    // section of the settings file, and is off when that has none.
    std::optional<int> parallel; // requests in flight at once
    std::optional<int> retries;  // further tries of a request after a failure that may pass
    std::optional<int> delayMs;  // least time between the starts of two requests to one host
    std::optional<bool> resume;  // keep whole responses, and use what an earlier run kept
};

// What a job that wrote its book has to say beside its result: what the book lacks.
struct JobReport {
    // Chapters none of whose pages gave text, by name and address, in the book's order.
    QList<std::pair<QString, QString>> chaptersWithoutText;
    qsizetype unencodable = 0; // characters the book's encoding lacks, written as "?"
    QString encoding;          // the book file's

    bool isEmpty() const { return chaptersWithoutText.isEmpty() && unencodable == 0; }
};

class JobView {
public:
    virtual ~JobView() = default;

    // The inputs of the job about to start.
    virtual JobInputs jobInputs() const = 0;

    // The status line: result messages and other texts.
    virtual void setStatus(const QString &text) = 0;
    // The transfer speed of the response arriving, in bytes a second; the status line shows it
    // as speedStatus() words it.
    virtual void showSpeed(double bytesPerSecond) = 0;
    // The current response's share received (may run past 1 when a site under-states the
    // length) and the share of the wanted chapters begun.
    virtual void setPageProgress(double fraction) = 0;
    virtual void setBookProgress(double fraction) = 0;

    // The user asked the running job to stop.
    virtual bool stopRequested() const = 0;

    // Asks before an existing file or folder of the book's name is replaced.
    virtual bool confirmReplace(const QString &path) = 0;

    // Lets pending window events (a stop click among them) run while a request waits or a
    // response arrives.
    virtual void processEvents() = 0;

    // The look of a running job (download button reads "停止(&D)", options and folder locked)
    // or of an idle window; going idle also withdraws a stop request.
    virtual void showRunning(bool running) = 0;

    // The chapter begun, counted from 1 within the wanted range, of total wanted chapters.
    virtual void showChapterProgress(int begun, int total) {
        Q_UNUSED(begun);
        Q_UNUSED(total);
    }

    // Why a step failed, in words for the user; the status line shows only the outcome.
    virtual void noteFailure(const QString &reason) { Q_UNUSED(reason); }

    // Once a job has written its book and its result is shown: what the book lacks, when
    // anything (report is never empty).
    virtual void showReport(const JobReport &report) { Q_UNUSED(report); }

    // While a job fetches ahead or retries: the requests in flight and the retries so far.
    virtual void showTransfers(int inFlight, int retries) {
        Q_UNUSED(inFlight);
        Q_UNUSED(retries);
    }

    // A request failed in a way that may pass and will be made again: the page, which retry
    // it is (from 1), and why, with the wait before it.
    virtual void noteRetry(const QString &url, int attempt, const QString &reason) {
        Q_UNUSED(url);
        Q_UNUSED(attempt);
        Q_UNUSED(reason);
    }
};

// A view that passes every call on to another: a view that takes over a call or two (the
// replace question, the writer's failure) derives from it and overrides only those.
class ForwardingView : public JobView {
public:
    explicit ForwardingView(JobView &view)
        : m_view(view) {}
    JobInputs jobInputs() const override { return m_view.jobInputs(); }
    void setStatus(const QString &text) override { m_view.setStatus(text); }
    void showSpeed(double speed) override { m_view.showSpeed(speed); }
    void setPageProgress(double fraction) override { m_view.setPageProgress(fraction); }
    void setBookProgress(double fraction) override { m_view.setBookProgress(fraction); }
    bool stopRequested() const override { return m_view.stopRequested(); }
    bool confirmReplace(const QString &path) override { return m_view.confirmReplace(path); }
    void processEvents() override { m_view.processEvents(); }
    void showRunning(bool running) override { m_view.showRunning(running); }
    void showChapterProgress(int begun, int total) override {
        m_view.showChapterProgress(begun, total);
    }
    void noteFailure(const QString &reason) override { m_view.noteFailure(reason); }
    void showReport(const JobReport &report) override { m_view.showReport(report); }
    void showTransfers(int inFlight, int retries) override {
        m_view.showTransfers(inFlight, retries);
    }
    void noteRetry(const QString &url, int attempt, const QString &reason) override {
        m_view.noteRetry(url, attempt, reason);
    }

private:
    JobView &m_view;
};

namespace pipeline {

// The status line's words for a transfer speed: "传输速度：" and the speed in KB a second with
// at most two decimals (a half going to the even neighbour, shortest form), then " KB/秒".
QString speedStatus(double bytesPerSecond);

// A report in lines for the user: a line per chapter without text, then the count of characters
// the encoding lacks.
QStringList reportLines(const JobReport &report);

} // namespace pipeline
