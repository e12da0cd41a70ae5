#pragma once
// The job view of the terminal's checks: it shows nothing while pages arrive (the findings are
// printed at the end), never stops or replaces a file, and keeps why requests failed.

#include "pipeline/jobview.h"

#include <QCoreApplication>
#include <QStringList>

class QuietView : public JobView {
public:
    explicit QuietView(const JobInputs &inputs)
        : inputs(inputs) {}
    JobInputs jobInputs() const override { return inputs; }
    void setStatus(const QString &) override {}
    void showSpeed(double) override {}
    void setPageProgress(double) override {}
    void setBookProgress(double) override {}
    bool stopRequested() const override { return false; }
    bool confirmReplace(const QString &) override { return false; }
    void processEvents() override { QCoreApplication::processEvents(); }
    void showRunning(bool) override {}
    void noteFailure(const QString &reason) override { failures.append(reason); }

    JobInputs inputs;     // of the next job
    QStringList failures; // in the order they came
};
