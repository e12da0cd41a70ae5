#include "pattern/nearlysame.h"

namespace norModule {

namespace {

bool sameLetter(QChar a, QChar b) {
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

} // namespace

bool nearlySame(const QString &name, const QString &previous) {
    QString a = name;
    QString b = previous;
    a.remove(u' ');
    b.remove(u' ');
    const qsizetype n = qMin(a.size(), b.size());

    // Positions below are counted from 1, as the rule is stated for readers of names.
    qsizetype left = 0;
    for (qsizetype i = 1; i <= n; ++i) {
        if (!sameLetter(a.at(i - 1), b.at(i - 1))) {
            left = i;
            break;
        }
    }
    if (left == 0 || left >= n)
        return true;

    qsizetype right = 0;
    for (qsizetype k = 1; k <= n; ++k) {
        if (!sameLetter(a.at(a.size() - k), b.at(b.size() - k))) {
            right = a.size() + 1 - k;
            break;
        }
    }
    if (right == 0)
        return true;
    return right - left + 1 <= 2;
}

} // namespace norModule
