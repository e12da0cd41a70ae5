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
    QString contents;
    QString first;
    QString last;
    bool deleteTitleOption = false;
    bool smallChaptersOption = false;
    bool browserTextOption = false;
    QString encodingName = QStringLiteral("gbk");
    QString folder;
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
    QList<std::pair<int, int>> chapterProgress;

    void setStatus(const QString &text) override { statuses.append(text); }
    void setPageBarWidth(double twips) override { pageBar.append(twips); }
    void setBookBarWidth(double twips) override { bookBar.append(twips); }
    bool stopRequested() const override { return stop; }
    QString contentsUrl() const override { return contents; }
    QString firstChapterUrl() const override { return first; }
    QString lastChapterUrl() const override { return last; }
    bool deleteTitle() const override { return deleteTitleOption; }
    bool smallChapters() const override { return smallChaptersOption; }
    bool browserText() const override { return browserTextOption; }
    QString encoding() const override { return encodingName; }
    QString bookshelfFolder() const override { return folder; }
    bool confirmReplace(const QString &path) override {
        replaceQuestions.append(path);
        return replaceAnswer;
    }
    void showRunning(bool isRunning) override {
        running.append(isRunning);
        if (!isRunning)
            stop = false;
    }
    void showChapterProgress(int begun, int total) override {
        chapterProgress.append({begun, total});
    }
    void noteFailure(const QString &reason) override { failures.append(reason); }
    void processEvents() override {
        QCoreApplication::processEvents();
        if (onEvents)
            onEvents();
    }
};

} // namespace support
