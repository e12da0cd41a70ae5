#pragma once
// What the pipeline needs of its front end (the window, the terminal, a test): the state the
// user sees and sets. The pipeline never reaches past this interface.

#include <QString>
#include <QtGlobal>

class JobView {
public:
    virtual ~JobView() = default;

    // The status line: transfer speed while a response arrives, result messages otherwise.
    virtual void setStatus(const QString &text) = 0;
    // The current response's bar (full at 1440 twips) and the whole book's (full at 4440).
    virtual void setPageBarWidth(double twips) = 0;
    virtual void setBookBarWidth(double twips) = 0;

    // The user asked the running job to stop.
    virtual bool stopRequested() const = 0;

    // The contents-page address and the first and last wanted chapters' addresses.
    virtual QString contentsUrl() const = 0;
    virtual QString firstChapterUrl() const = 0;
    virtual QString lastChapterUrl() const = 0;

    // The three options: remove a repeated title line, join small chapters, convert chapter
    // HTML through the hidden browser.
    virtual bool deleteTitle() const = 0;
    virtual bool smallChapters() const = 0;
    virtual bool browserText() const = 0;

    // The book file's encoding and the folder it goes to (ending with a separator).
    virtual QString encoding() const = 0;
    virtual QString bookshelfFolder() const = 0;

    // Asks before an existing file or folder of the book's name is replaced.
    virtual bool confirmReplace(const QString &path) = 0;

    // Lets pending window events (a stop click among them) run while a response arrives.
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
};
