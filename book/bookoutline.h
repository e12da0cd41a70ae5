#pragma once
// The book's structure beside its text: the volume, name and paragraphs of every chapter, laid
// out exactly as the text file has them, for a book format that keeps the structure (EPUB).

#include <QList>
#include <QString>
#include <QStringList>

namespace book {

struct OutlineChapter {
    QString volume;         // the heading of the volume this chapter opens, "" when none
    QString name;           // "" for a chapter without a heading of its own
    QStringList paragraphs; // the text file's lines, without their indent
};

struct BookOutline {
    QString title;
    QString author; // the author line as the text file has it ("作者：…")
    QList<OutlineChapter> chapters;

    // Adds the typeset text of one chapter page. A chapter's first page with a name or a volume
    // opens a new chapter; every other page continues the last one, as its text does in the
    // text file.
    void addPage(const QString &typeset, const QString &volume, const QString &name,
                 bool firstPage);
};

// What one chapter page adds to the text file: its typeset text, with the volume and chapter
// headings before it on a chapter's first page.
QString bookPiece(const QString &typeset, const QString &volume, const QString &name,
                  bool firstPage);

// The text file's head: the title and author lines, which the chapters follow.
QString bookHead(const QString &title, const QString &author);

// The outline of a book that exists only as text (a plug-in's): its first two lines are the
// title and the author, every further line that is not blank a paragraph of one chapter.
BookOutline outlineOfText(const QString &text);

} // namespace book
