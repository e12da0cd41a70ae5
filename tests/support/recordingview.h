#pragma once
// A front end for tests: the addresses and options are plain fields, and everything the pipeline
// shows is recorded.

#include "pipeline/jobview.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>

#include <functional>

namespace support {

class RecordingView : public JobView {
public:
    JobInputs inputs;
    bool replaceAnswer = false;
    bool stop = false;
    // Runs whenever the pipeline lets events run: a test can click "stop" here.
    std::function<void()> onEvents;

    QStringList statuses;
    QList<double> pageBar;
    QList<double> bookBar;
    QStringList replaceQuestions;
    QList<bool> running;
    QStringList failures;
    JobReport report; // the last one shown

    JobInputs jobInputs() const override { return inputs; }
    void setStatus(const QString &text) override { statuses.append(text); }
    void showSpeed(double) override {}
    void setPageProgress(double fraction) override { pageBar.append(fraction); }
    void setBookProgress(double fraction) override { bookBar.append(fraction); }
    bool stopRequested() const override { return stop; }
    bool confirmReplace(const QString &path) override {
        replaceQuestions.append(path);
        return replaceAnswer;
    }
    void showRunning(bool isRunning) override {
        running.append(isRunning);
        if (!isRunning)
            stop = false;
    }
    void noteFailure(const QString &reason) override { failures.append(reason); }
    void showReport(const JobReport &shown) override { report = shown; }
    void processEvents() override {
        QCoreApplication::processEvents();
        if (onEvents)
            onEvents();
    }
};

} // namespace support
