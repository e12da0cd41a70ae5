#pragma once
// Lays chapter text out as a book: one paragraph per line, each indented by two ideographic
// spaces and ended by CR LF, punctuation runs normalised, and on request the repeated title taken
// off the first line. Also the trimming every title, name and address of a page goes through.
// All comparisons here are exact, code unit by code unit.

#include <QString>

namespace typeset {

// The whole layout of one chapter, rewriting text in place; title is the chapter's name and
// deleteTitle the user's choice to remove it from the first line.
void typesetChapter(QString &text, const QString &title, bool deleteTitle);

// The same layout without the title step.
void typesetText(QString &text);

// text without the characters of code 0x20 and below at both ends; with html, also converted
// from HTML and with runs of spaces collapsed (the result is not trimmed again).
QString cleanText(const QString &text, bool html);

// The steps beneath typesetChapter, in the order it runs them.
void normalizeText(QString &text);
// 0: the line breaks are paragraph breaks; 1: they are wrapping, paragraphs end at sentence
// ends; 2: they are wrapping, paragraphs are the lines that begin with a space.
int classifyLayout(const QString &text);
void joinBySentence(QString &text);
void joinByIndent(QString &text);
void indentParagraphs(QString &text);
void fixPunctuation(QString &text);
void removeTitleLine(QString &text, const QString &title);

} // namespace typeset
