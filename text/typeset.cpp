#include "typeset.h"

#include "htmltotext.h"
#include "replaceall.h"

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

bool isSentenceEnd(QChar c) {
    return u"\u3002\uFF1F\uFF01\u2026.?!"_s.contains(c);
}

bool isClosingQuote(QChar c) {
    return u"\u201D\u300D\u300F"_s.contains(c);
}

// The result of replacing c c by c until none is left: every run of c becomes one c.
void collapseRuns(QString &text, QChar c) {
    qsizetype out = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == c && out > 0 && text.at(out - 1) == c)
            continue;
        text[out++] = text.at(i);
    }
    text.truncate(out);
}

// The result of replacing " " + anchor by anchor until none is left: the spaces before every
// anchor go.
void dropSpacesBefore(QString &text, QChar anchor) {
    qsizetype out = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == anchor) {
            while (out > 0 && text.at(out - 1) == u' ')
                --out;
        }
        text[out++] = c;
    }
    text.truncate(out);
}

bool isBlank(QChar c) {
    return c.unicode() <= 0x20;
}

} // namespace

QString cleanText(const QString &text, bool html) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlank(text.at(first)))
        ++first;
    while (last > first && isBlank(text.at(last - 1)))
        --last;
    QString result = text.mid(first, last - first);
    if (html) {
        norModule::htmlToText(result);
        collapseRuns(result, u' ');
    }
    return result;
}

void normalizeText(QString &text) {
    text.remove(u'\uE5E5');
    text.replace(u'\u3000', u' ');
    text.replace(kLF, kCR);
    collapseRuns(text, u' ');
    collapseRuns(text, kCR);
    dropSpacesBefore(text, kCR);
    collapseRuns(text, kCR);
    text = cleanText(text, false);
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
    replaceAll(text, u"\r", u"\r ");
    collapseRuns(text, u' ');
    replaceAll(text, u"\r ", QString(u"\r"_s + kIndent));
    replaceAll(text, u"\r", u"\r\n");
    text.prepend(kIndent);
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
    for (const auto &[from, to] : rows)
        replaceAll(text, from, to);
    collapseRuns(text, kEllipsis);
    replaceAll(text, u"\u2026", u"\u2026\u2026");
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
    text = cleanText(text, false);
}

} // namespace typeset
