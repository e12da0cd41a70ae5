#pragma once
// The job's view for a terminal: options from the command line, status messages as lines on
// standard output, progress on standard error (a bar on a terminal, plain lines otherwise), and
// Ctrl-C as the stop button.

#include "pipeline/jobview.h"

#include <QElapsedTimer>
#include <QString>

#include <optional>
#include <utility>

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
    void showReport(const JobReport &report) override;
    void showTransfers(int inFlight, int retries) override;
    void noteRetry(const QString &url, int attempt, const QString &reason) override;

private:
    void drawProgress();
    void clearProgress();

    TerminalOptions m_options;
    bool m_terminal = false; // standard error is a terminal
    bool m_progressShown = false;
    std::optional<double> m_bytesPerSecond; // the last speed shown, in bytes a second
    int m_begun = 0;
    int m_total = 0;
    double m_pageFraction = 0;
    // Requests in flight and retries so far; shown once a job fetches ahead or retries.
    std::optional<std::pair<int, int>> m_transfers;
    QElapsedTimer m_sinceEvents;
    QElapsedTimer m_sinceDrawn;
};
