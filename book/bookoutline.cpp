#include "book/bookoutline.h"

using namespace Qt::StringLiterals;

namespace book {

namespace {

const QString kIndent = u"\u3000\u3000"_s;
const QString kLineEnd = u"\r\n"_s;

// The paragraphs of typeset text: its lines, each without the indent it begins with.
QStringList paragraphsOf(const QString &typeset) {
    QStringList paragraphs;
    for (QString line : typeset.split(kLineEnd)) {
        if (line.startsWith(kIndent))
            line.remove(0, kIndent.size());
        if (!line.isEmpty())
            paragraphs.append(line);
    }
    return paragraphs;
}

} // namespace

void BookOutline::addPage(const QString &typeset, const QString &volume, const QString &name,
                          bool firstPage) {
    if (chapters.isEmpty() || (firstPage && !(name.isEmpty() && volume.isEmpty())))
        chapters.append({firstPage ? volume : QString(), firstPage ? name : QString(), {}});
    chapters.last().paragraphs += paragraphsOf(typeset);
}

QString bookPiece(const QString &typeset, const QString &volume, const QString &name,
                  bool firstPage) {
    QString piece = !name.isEmpty() && firstPage
                        ? kLineEnd + kLineEnd + kIndent + name + kLineEnd + kLineEnd + typeset
                        : kLineEnd + typeset;
    if (!volume.isEmpty() && firstPage)
        piece = kLineEnd + kLineEnd + kLineEnd + kIndent + volume + piece;
    return piece;
}

QString bookHead(const QString &title, const QString &author) {
    return kIndent + title + kLineEnd + kIndent + author;
}

BookOutline outlineOfText(const QString &text) {
    const QStringList lines = paragraphsOf(text);
    BookOutline outline;
    outline.title = lines.value(0);
    outline.author = lines.value(1);
    if (lines.size() > 2)
        outline.chapters.append({QString(), QString(), lines.mid(2)});
    return outline;
}

} // namespace book
