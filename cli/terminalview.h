#pragma once
// The job's view for a terminal: options from the command line, status messages as lines on
// standard output, progress on standard error (a bar on a terminal, plain lines otherwise), and
// Ctrl-C as the stop button.

#include "pipeline/jobview.h"

#include <QElapsedTimer>
#include <QString>

enum class ReplaceAnswer { Ask, Overwrite, Keep };

struct TerminalOptions {
    JobInputs inputs;
    ReplaceAnswer replace = ReplaceAnswer::Ask;
};

class TerminalView : public JobView {
public:
    explicit TerminalView(const TerminalOptions &options);

    // Ctrl-C from now on asks the running job to stop; a second Ctrl-C ends the program.
    static void catchInterrupt();

    JobInputs jobInputs() const override { return m_options.inputs; }
    void setStatus(const QString &text) override;
    void showSpeed(double bytesPerSecond) override;
    void setPageProgress(double fraction) override;
    void setBookProgress(double) override {}
    bool stopRequested() const override;
    bool confirmReplace(const QString &path) override;
    void processEvents() override;
    void showRunning(bool running) override;
    void showChapterProgress(int begun, int total) override;
    void noteFailure(const QString &reason) override;

private:
    void drawProgress();
    void clearProgress();

    TerminalOptions m_options;
    bool m_terminal = false; // standard error is a terminal
    bool m_progressShown = false;
    QString m_speed;
    int m_begun = 0;
    int m_total = 0;
    double m_pageFraction = 0;
    QElapsedTimer m_sinceEvents;
    QElapsedTimer m_sinceDrawn;
};
