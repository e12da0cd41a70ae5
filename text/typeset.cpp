#include "text/typeset.h"

#include "pattern/htmltotext.h"
#include "pattern/replaceall.h"

#include <algorithm>
#include <array>
#include <utility>

using namespace Qt::StringLiterals;
using norModule::replaceAll;

namespace typeset {

namespace {

constexpr QChar kCR = u'\r';
constexpr QChar kLF = u'\n';
constexpr QChar kEllipsis = u'\u2026';
const QString kIndent = u"\u3000\u3000"_s;

// 。？！….?!
bool isSentenceEnd(QChar c) {
    switch (c.unicode()) {
    case 0x3002:
    case 0xFF1F:
    case 0xFF01:
    case 0x2026:
    case u'.':
    case u'?':
    case u'!':
        return true;
    default:
        return false;
    }
}

// ”」』
bool isClosingQuote(QChar c) {
    switch (c.unicode()) {
    case 0x201D:
    case 0x300D:
    case 0x300F:
        return true;
    default:
        return false;
    }
}

// The marks the punctuation rows replace: 、…．.。·，~～
bool isPunctuationMark(QChar c) {
    switch (c.unicode()) {
    case 0x3001:
    case 0x2026:
    case u'.':
    case 0xFF0E:
    case 0x3002:
    case 0x00B7:
    case 0xFF0C:
    case u'~':
    case 0xFF5E:
        return true;
    default:
        return false;
    }
}

bool isBlank(QChar c) {
    return c.unicode() <= 0x20;
}

// The result of replacing c c by c until none is left: every run of c becomes one c.
void collapseRuns(QString &text, QChar c) {
    QChar *data = text.data();
    const qsizetype size = text.size();
    qsizetype out = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i] == c && out > 0 && data[out - 1] == c)
            continue;
        data[out++] = data[i];
    }
    text.truncate(out);
}

// Trims, in place, the characters of code 0x20 and below at both ends.
void trimBlanks(QString &text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlank(text.at(first)))
        ++first;
    while (last > first && isBlank(text.at(last - 1)))
        --last;
    text.truncate(last);
    text.remove(0, first);
}

} // namespace

QString cleanText(const QString &text, bool html) {
    QString result = text;
    trimBlanks(result);
    if (html) {
        norModule::htmlToText(result);
        collapseRuns(result, u' ');
    }
    return result;
}

void normalizeText(QString &text) {
    // One pass with the result of the steps: U+E5E5 removed, the ideographic space made a space,
    // LF made CR; then runs of spaces collapsed, runs of CR collapsed, the spaces before every CR
    // dropped and the CRs that this brings together collapsed again; and the whole trimmed.
    QString out(text.size(), Qt::Uninitialized);
    QChar *o = out.data();
    qsizetype length = 0;
    for (QChar c : std::as_const(text)) {
        if (c == u'\uE5E5')
            continue;
        if (c == u'\u3000')
            c = u' ';
        else if (c == kLF)
            c = kCR;
        if (c == u' ' && length > 0 && o[length - 1] == u' ')
            continue;
        if (c == kCR) {
            while (length > 0 && o[length - 1] == u' ')
                --length;
            if (length > 0 && o[length - 1] == kCR)
                continue;
        }
        o[length++] = c;
    }
    out.truncate(length);
    trimBlanks(out);
    text = std::move(out);
}

int classifyLayout(const QString &text) {
    // Indented paragraphs with inner breaks: a mark is a CR followed by a space.
    static const QString mark = u"\r "_s;
    qsizetype pos = text.indexOf(mark);
    if (pos >= 0) {
        int lines = 1;
        int inner = 0;
        for (;;) {
            const qsizetype next = text.indexOf(mark, pos + 2);
            if (next < 0)
                break;
            const qsizetype cr = text.indexOf(kCR, pos + 2);
            if (cr >= 0 && cr < next)
                ++inner;
            ++lines;
            pos = next;
        }
        if (double(inner) / double(lines) > 0.2)
            return 2;
    }

    // Lines that end a sentence.
    int lines = 1;
    int ends = 0;
    for (qsizetype cr = text.indexOf(kCR); cr >= 0; cr = text.indexOf(kCR, cr + 1)) {
        if (cr > 0) {
            const QChar c = text.at(cr - 1);
            if (isSentenceEnd(c))
                ++ends;
            else if ((isClosingQuote(c) || c == u'"') && cr > 1 && isSentenceEnd(text.at(cr - 2)))
                ++ends;
        }
        ++lines;
    }
    if (ends == 0)
        return 0;
    return double(ends) / double(lines) < 0.5 ? 1 : 0;
}

void joinBySentence(QString &text) {
    replaceAll(text, u"\r ", u"\r");
    for (qsizetype cr = text.indexOf(kCR); cr >= 0; cr = text.indexOf(kCR, cr + 1)) {
        if (cr > 0 && isSentenceEnd(text.at(cr - 1)))
            text[cr] = kLF;
        else if (cr > 1 && isClosingQuote(text.at(cr - 1)) && isSentenceEnd(text.at(cr - 2)))
            text[cr] = kLF;
    }
    text.remove(kCR);
    text.replace(kLF, kCR);
}

void joinByIndent(QString &text) {
    replaceAll(text, u"\r ", u"\n ");
    text.remove(kCR);
    text.replace(kLF, kCR);
}

void indentParagraphs(QString &text) {
    // One pass with the result of the layout's steps: every CR gets a space after it, runs of
    // spaces collapse, a CR and its space become CR LF and the indent, and the text is prefixed
    // with the indent. So the spaces after a CR vanish into the next line's indent, and every
    // other run of spaces becomes one space.
    const qsizetype size = text.size();
    QString out((size + 1) + 3 * text.count(kCR) + kIndent.size(), Qt::Uninitialized);
    QChar *o = out.data();
    const QChar *in = text.constData();
    qsizetype length = 0;
    o[length++] = kIndent.at(0);
    o[length++] = kIndent.at(1);
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = in[i];
        if (c == kCR) {
            o[length++] = kCR;
            o[length++] = kLF;
            o[length++] = kIndent.at(0);
            o[length++] = kIndent.at(1);
            while (i + 1 < size && in[i + 1] == u' ')
                ++i;
        } else if (c != u' ' || o[length - 1] != u' ') {
            o[length++] = c;
        }
    }
    out.truncate(length);
    text = std::move(out);
    fixPunctuation(text);
}

void fixPunctuation(QString &text) {
    // Each row is one pass, in this order; a mark left behind by a later row stays.
    static const std::array<std::pair<QString, QString>, 16> rows{{
        {u"\u3001\u3001"_s, u"\u2026"_s},
        {u"\u2026\u3001"_s, u"\u2026"_s},
        {u".."_s, u"\u2026"_s},
        {u"\u2026."_s, u"\u2026"_s},
        {u"\uFF0E\uFF0E"_s, u"\u2026"_s},
        {u"\u2026\uFF0E"_s, u"\u2026"_s},
        {u"\u3002\u3002"_s, u"\u2026"_s},
        {u"\u2026\u3002"_s, u"\u2026"_s},
        {u"\u00B7\u00B7"_s, u"\u2026"_s},
        {u"\u2026\u00B7"_s, u"\u2026"_s},
        {u"\uFF0C\uFF0C"_s, u"\u2026"_s},
        {u"\u2026\uFF0C"_s, u"\u2026"_s},
        {u"~~"_s, u"\u2026"_s},
        {u"\u2026~"_s, u"\u2026"_s},
        {u"~"_s, u"\uFF5E"_s},
        {u"\uFF5E\uFF5E\uFF5E"_s, u"\uFF5E\uFF5E"_s},
    }};
    // A row can only match where all its marks occur; most texts hold few of them, so the marks
    // present are found in one scan and rows that cannot match are passed over. Only the rows'
    // results, "…" and "～", can appear later.
    QString present;
    for (const QChar c : std::as_const(text)) {
        if (isPunctuationMark(c) && !present.contains(c))
            present += c;
    }
    auto canMatch = [&present](const QString &from) {
        return std::all_of(from.cbegin(), from.cend(),
                           [&](QChar c) { return present.contains(c); });
    };
    for (const auto &[from, to] : rows) {
        if (canMatch(from) && replaceAll(text, from, to) > 0 && !present.contains(to.front()))
            present += to.front();
    }
    if (!present.contains(kEllipsis))
        return;
    // Every run of ellipsis characters becomes one, and that one becomes two.
    const qsizetype size = text.size();
    QString out(size + text.count(kEllipsis), Qt::Uninitialized);
    QChar *o = out.data();
    const QChar *in = text.constData();
    qsizetype length = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (in[i] != kEllipsis) {
            o[length++] = in[i];
            continue;
        }
        o[length++] = kEllipsis;
        o[length++] = kEllipsis;
        while (i + 1 < size && in[i + 1] == kEllipsis)
            ++i;
    }
    out.truncate(length);
    text = std::move(out);
}

void removeTitleLine(QString &text, const QString &title) {
    const qsizetype lineEnd = text.indexOf(u"\r\n"_s);
    if (lineEnd < 0)
        return;
    const QStringView first = QStringView(text).left(lineEnd);
    if (first.contains(title)) {
        text.remove(text.indexOf(title), title.size());
    } else {
        QString bare = title;
        bare.remove(u' ');
        if (first.contains(bare))
            text.remove(text.indexOf(bare), bare.size());
    }
    if (text.startsWith(kIndent + u"\r\n"_s))
        text.remove(0, 4);
}

void typesetText(QString &text) {
    typesetChapter(text, QString(), false);
}

void typesetChapter(QString &text, const QString &title, bool deleteTitle) {
    normalizeText(text);
    // A blank text stays empty rather than becoming a lone indent.
    if (text.isEmpty())
        return;
    const int mode = classifyLayout(text);
    if (mode == 1)
        joinBySentence(text);
    else if (mode == 2)
        joinByIndent(text);
    indentParagraphs(text);
    if (deleteTitle)
        removeTitleLine(text, title);
    trimBlanks(text);
}

} // namespace typeset
