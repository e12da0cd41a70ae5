#include "pattern/replaceall.h"

namespace norModule {

namespace {

bool isAscii(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// The next occurrence of an ASCII needle from position from, ignoring the case of ASCII letters:
// for an ASCII needle that is exactly what a case-insensitive search finds, and a tight scan is
// many times faster than the general one.
qsizetype indexOfAscii(QStringView text, QStringView needle, qsizetype from) {
    const char16_t first = asciiLower(needle.front().unicode());
    const bool firstIsLetter = first >= u'a' && first <= u'z';
    const qsizetype last = text.size() - needle.size();
    for (qsizetype i = from; i <= last; ++i) {
        if (!firstIsLetter) {
            // Tags and entities begin with "<" or "&": jump to the next one directly.
            i = text.indexOf(QChar(first), i);
            if (i < 0 || i > last)
                return -1;
        } else if (asciiLower(text[i].unicode()) != first) {
            continue;
        }
        qsizetype k = 1;
        while (k < needle.size() &&
               asciiLower(text[i + k].unicode()) == asciiLower(needle[k].unicode()))
            ++k;
        if (k == needle.size())
            return i;
    }
    return -1;
}

} // namespace

qsizetype replaceAll(QString &text, QStringView from, QStringView to, Qt::CaseSensitivity cs) {
    if (from.isEmpty())
        return 0;
    const bool asciiScan = cs == Qt::CaseInsensitive && isAscii(from);
    auto find = [&](qsizetype start) {
        return asciiScan ? indexOfAscii(text, from, start)
                         : QStringView(text).indexOf(from, start, cs);
    };
    qsizetype hit = find(0);
    if (hit < 0)
        return 0;
    QString out;
    out.reserve(text.size() + (to.size() > from.size() ? text.size() / 8 : 0));
    qsizetype copied = 0;
    qsizetype count = 0;
    while (hit >= 0) {
        out += QStringView(text).mid(copied, hit - copied);
        out += to;
        copied = hit + from.size();
        ++count;
        hit = find(copied);
    }
    out += QStringView(text).mid(copied);
    text = std::move(out);
    return count;
}

} // namespace norModule
