#include "cli/terminalview.h"

#include "cli/terminaltext.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

std::atomic<bool> g_interrupted{false};

void onInterrupt(int) {
    g_interrupted = true;
    // The next Ctrl-C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

void writeErr(const QString &text) {
    const QByteArray bytes = terminaltext::shown(text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

TerminalView::TerminalView(const TerminalOptions &options)
    : m_options(options)
    , m_terminal(::isatty(STDERR_FILENO) != 0) {}

void TerminalView::catchInterrupt() {
    std::signal(SIGINT, &onInterrupt);
}

void TerminalView::setStatus(const QString &text) {
    clearProgress();
    terminaltext::printLine(text);
    std::fflush(stdout);
}

void TerminalView::showSpeed(double bytesPerSecond) {
    m_bytesPerSecond = bytesPerSecond;
    // The speed changes with every piece of a page; ten redraws a second are plenty.
    if (m_terminal && (!m_sinceDrawn.isValid() || m_sinceDrawn.elapsed() >= 100))
        drawProgress();
}

void TerminalView::setPageProgress(double fraction) {
    m_pageFraction = qBound(0.0, fraction, 1.0);
}

bool TerminalView::stopRequested() const {
    return g_interrupted.load();
}

bool TerminalView::confirmReplace(const QString &path) {
    switch (m_options.replace) {
    case ReplaceAnswer::Overwrite:
        return true;
    case ReplaceAnswer::Keep:
        return false;
    case ReplaceAnswer::Ask:
        break;
    }
    if (!::isatty(STDIN_FILENO))
        return false;
    clearProgress();
    writeErr(u"%1\n文件已经存在,要替换吗？[y/N] "_s.arg(path));
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void TerminalView::processEvents() {
    // Ctrl-C arrives as a signal, not as an event; the events are the browser's housekeeping,
    // which a few times a second serves as well as at every piece of a page.
    if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < 50)
        return;
    m_sinceEvents.start();
    QCoreApplication::processEvents();
}

void TerminalView::showRunning(bool running) {
    if (!running) {
        clearProgress();
        g_interrupted = false;
        m_transfers.reset();
    }
}

void TerminalView::showChapterProgress(int begun, int total) {
    m_begun = begun;
    m_total = total;
    if (m_terminal)
        drawProgress();
    else
        writeErr(u"章节 %1/%2\n"_s.arg(begun).arg(total));
}

void TerminalView::noteFailure(const QString &reason) {
    clearProgress();
    writeErr(u"原因：%1\n"_s.arg(reason));
}

void TerminalView::showReport(const JobReport &report) {
    // Beside the result line, on standard output: what the written book lacks.
    for (const QString &line : pipeline::reportLines(report))
        terminaltext::printLine(line);
    std::fflush(stdout);
}

void TerminalView::showTransfers(int inFlight, int retries) {
    m_transfers = {inFlight, retries};
    if (m_terminal && (!m_sinceDrawn.isValid() || m_sinceDrawn.elapsed() >= 100))
        drawProgress();
}

void TerminalView::noteRetry(const QString &url, int attempt, const QString &reason) {
    clearProgress();
    writeErr(u"重试（第 %1 次）：%2：%3\n"_s.arg(attempt).arg(url, reason));
}

void TerminalView::drawProgress() {
    constexpr int width = 30;
    const int filled = m_total > 0 ? qBound(0, m_begun * width / m_total, width) : 0;
    const QString bar = QString(filled, u'#') + QString(width - filled, u'-');
    QString chapters = m_total > 0 ? u" %1/%2 章"_s.arg(m_begun).arg(m_total) : QString();
    if (m_transfers)
        chapters += u" 在途 %1 重试 %2"_s.arg(m_transfers->first).arg(m_transfers->second);
    // Worded only when drawn: the speed comes with every piece of a page.
    const QString speed = m_bytesPerSecond ? pipeline::speedStatus(*m_bytesPerSecond) : QString();
    writeErr(u"\r[%1]%2  %3 %4%\x1b[K"_s.arg(bar, chapters, speed).arg(int(m_pageFraction * 100)));
    m_progressShown = true;
    m_sinceDrawn.start();
}

void TerminalView::clearProgress() {
    if (!m_progressShown)
        return;
    writeErr(u"\r\x1b[K"_s);
    m_progressShown = false;
}
