#pragma once
// The demo book: a deterministic serialised novel, generated (not copied from anywhere), and the
// pages a book site serves for it. The same seed and size always give the same book.

#include <QList>
#include <QString>
#include <QStringList>

namespace demo {

struct DemoChapter {
    QString name;
    QString volume;             // the volume the chapter opens, "" when it continues one
    QList<QStringList> pages;   // the paragraphs of each page (a chapter may span pages)
    bool separateText = false;  // the first page's text lives in a document of its own
    bool advertisement = false; // the first page carries an advertisement line
};

struct DemoBook {
    QString title;
    QString author;
    QList<DemoChapter> chapters;
};

struct DemoBookOptions {
    int chapters = 64;
    int volumes = 4;
    // Paragraphs of a chapter; about 6 KB of GBK text at the default.
    int paragraphs = 28;
    quint32 seed = 1;
};

DemoBook generateDemoBook(const DemoBookOptions &options = {});

// The pages of the book's site, as HTML text, for a book served at a folder of its own
// ("/book/1/"): the contents page, and page p (from 0) of chapter c (from 0).
QString demoContentsPage(const DemoBook &book);
QString demoChapterPage(const DemoBook &book, int chapter, int page);
QString demoChapterTextDocument(const DemoBook &book, int chapter);

// Where the site serves each page, relative to the book's folder.
QString demoChapterPageName(int chapter, int page);
QString demoChapterTextName(int chapter);

// The book file Kestrelon makes of the whole book with the demo site's rules: the head, then
// every chapter with its volume and chapter headings, one indented paragraph per line.
QString demoBookText(const DemoBook &book);

} // namespace demo
