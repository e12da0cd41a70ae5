#pragma once
// Shared by the benchmark programs: time a piece of work at sizes n and 4n and report whether it
// grows linearly.

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <functional>
#include <malloc.h>

namespace bench {

// glibc serves blocks above a moving threshold (at most 32 MiB) straight from the kernel, with
// fresh zeroed pages on every allocation, and smaller ones from its heap. A 4n run whose buffers
// cross that threshold would then pay page faults the n run does not: that measures the
// allocator, not our code. One policy for every size keeps the comparison about the algorithm.
inline void useOneAllocatorPolicy() {
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

// The fastest of several runs, in milliseconds: the least disturbed by the rest of the machine.
inline double bestMilliseconds(const std::function<void()> &work, int runs = 7) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

// Allowed growth from n to 4n: linear with some room for caches and allocation.
constexpr double kLinearLimit = 4.6;

// Prints one line of the table; false when the 4n time grew faster than linearly.
inline bool reportScaling(const QString &what, const QString &size, double n, double fourN) {
    const double ratio = fourN / std::max(n, 1e-6);
    const bool linear = ratio <= kLinearLimit;
    std::printf("%-58s %-14s %10.2f ms %10.2f ms %6.2f  %s\n", qPrintable(what), qPrintable(size),
                n, fourN, ratio, linear ? "linear" : "NOT LINEAR");
    return linear;
}

inline void printHeader() {
    std::printf("%-58s %-14s %13s %13s %6s\n", "operation", "n", "time(n)", "time(4n)", "ratio");
}

} // namespace bench
