#include "book/epubbook.h"

#include "book/ziparchive.h"

#include <QUuid>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace book {

namespace {

const QString kXmlHead = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"_s;

const QString kStyle = u"body { margin: 0 1em; }\n"
                       u"h1, h2 { text-align: center; font-weight: bold; }\n"
                       u"p { margin: 0; text-indent: 2em; line-height: 1.6; }\n"
                       u"h1.title { margin-top: 30%; }\n"
                       u"p.author { text-align: center; text-indent: 0; margin-top: 2em; }\n"_s;

// One entry of the table of contents: a volume holds the chapters it opens.
struct NavEntry {
    QString label;
    QString href;
    QList<NavEntry> children;
};

// text as XML character data and attribute values: the markup characters escaped (">" too, so
// that "]]>" cannot appear), and the characters XML 1.0 does not allow at all (most control
// characters, unpaired surrogates, U+FFFE and U+FFFF) left out, as a reader would refuse the
// whole document for one of them.
QString escaped(const QString &text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
            continue;
        }
        switch (c.unicode()) {
        case u'&':
            out += u"&amp;"_s;
            continue;
        case u'<':
            out += u"&lt;"_s;
            continue;
        case u'>':
            out += u"&gt;"_s;
            continue;
        case u'"':
            out += u"&quot;"_s;
            continue;
        default:
            break;
        }
        const bool control = c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
        if (control || c.isSurrogate() || c.unicode() >= 0xFFFE)
            continue;
        out += c;
    }
    return out;
}

QString chapterFile(qsizetype index) {
    return u"c%1.xhtml"_s.arg(qlonglong(index + 1), 4, 10, QChar(u'0'));
}

// An XHTML content document of the book.
QString xhtmlPage(const QString &title, const QString &body) {
    return kXmlHead + u"<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" "
                      u"xmlns:epub=\"http://www.idpf.org/2007/ops\" xml:lang=\"zh\" lang=\"zh\">\n"
                      u"<head>\n<meta charset=\"UTF-8\"/>\n<title>%1</title>\n"
                      u"<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/>\n</head>\n"
                      u"<body>\n%2</body>\n</html>\n"_s.arg(escaped(title), body);
}

QString titlePage(const BookOutline &outline) {
    return xhtmlPage(outline.title,
                     u"<h1 class=\"title\">%1</h1>\n<p class=\"author\">%2</p>\n"_s.arg(
                         escaped(outline.title), escaped(outline.author)));
}

QString chapterPage(const OutlineChapter &chapter, const QString &bookTitle) {
    QString body;
    if (!chapter.volume.isEmpty())
        body += u"<h1 id=\"volume\">%1</h1>\n"_s.arg(escaped(chapter.volume));
    if (!chapter.name.isEmpty())
        body += u"<h2 id=\"chapter\">%1</h2>\n"_s.arg(escaped(chapter.name));
    for (const QString &paragraph : chapter.paragraphs)
        body += u"<p>%1</p>\n"_s.arg(escaped(paragraph));
    const QString title = !chapter.name.isEmpty()     ? chapter.name
                          : !chapter.volume.isEmpty() ? chapter.volume
                                                      : bookTitle;
    return xhtmlPage(title, body);
}

// The title page, then each volume with the named chapters it opens nested in it; a chapter
// without a name has no entry of its own.
QList<NavEntry> navEntries(const BookOutline &outline) {
    QList<NavEntry> entries{{outline.title, u"title.xhtml"_s, {}}};
    bool inVolume = false;
    for (qsizetype i = 0; i < outline.chapters.size(); ++i) {
        const OutlineChapter &chapter = outline.chapters.at(i);
        if (!chapter.volume.isEmpty()) {
            entries.append({chapter.volume, chapterFile(i) + u"#volume"_s, {}});
            inVolume = true;
        }
        if (chapter.name.isEmpty())
            continue;
        const NavEntry entry{chapter.name, chapterFile(i) + u"#chapter"_s, {}};
        if (inVolume)
            entries.last().children.append(entry);
        else
            entries.append(entry);
    }
    return entries;
}

QString navList(const QList<NavEntry> &entries) {
    QString list = u"<ol>\n"_s;
    for (const NavEntry &entry : entries) {
        list += u"<li><a href=\"%1\">%2</a>"_s.arg(entry.href, escaped(entry.label));
        if (!entry.children.isEmpty())
            list += u"\n"_s + navList(entry.children);
        list += u"</li>\n"_s;
    }
    return list + u"</ol>\n"_s;
}

QString navDocument(const BookOutline &outline, const QList<NavEntry> &entries) {
    return xhtmlPage(outline.title, u"<nav epub:type=\"toc\" id=\"toc\">\n<h1>目录</h1>\n"_s +
                                        navList(entries) + u"</nav>\n"_s);
}

QString navPoints(const QList<NavEntry> &entries, int &order) {
    QString points;
    for (const NavEntry &entry : entries) {
        ++order;
        points += u"<navPoint id=\"n%1\" playOrder=\"%1\"><navLabel><text>%2</text></navLabel>"
                  u"<content src=\"%3\"/>\n"_s.arg(order)
                      .arg(escaped(entry.label), entry.href);
        points += navPoints(entry.children, order) + u"</navPoint>\n"_s;
    }
    return points;
}

QString ncxDocument(const BookOutline &outline, const QList<NavEntry> &entries,
                    const QString &identifier) {
    int order = 0;
    const QString points = navPoints(entries, order);
    const bool nested = std::any_of(entries.cbegin(), entries.cend(),
                                    [](const NavEntry &e) { return !e.children.isEmpty(); });
    return kXmlHead + u"<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" "
                      u"xml:lang=\"zh\">\n<head>\n<meta name=\"dtb:uid\" content=\"%1\"/>\n"
                      u"<meta name=\"dtb:depth\" content=\"%2\"/>\n"
                      u"<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n"
                      u"<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n"
                      u"<docTitle><text>%3</text></docTitle>\n<navMap>\n%4</navMap>\n</ncx>\n"_s
                          .arg(identifier)
                          .arg(nested ? 2 : 1)
                          .arg(escaped(outline.title), points);
}

QString packageDocument(const BookOutline &outline, const QString &identifier,
                        const QDateTime &modified) {
    QString author = outline.author;
    if (author.startsWith(u"作者："_s))
        author.remove(0, 3);
    QString manifest;
    QString spine;
    for (qsizetype i = 0; i < outline.chapters.size(); ++i) {
        manifest +=
            u"<item id=\"c%1\" href=\"%2\" media-type=\"application/xhtml+xml\"/>\n"_s.arg(i + 1)
                .arg(chapterFile(i));
        spine += u"<itemref idref=\"c%1\"/>\n"_s.arg(i + 1);
    }
    return kXmlHead +
           u"<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
           u"unique-identifier=\"book-id\" xml:lang=\"zh\">\n"
           u"<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
           u"<dc:identifier id=\"book-id\">%1</dc:identifier>\n<dc:title>%2</dc:title>\n"
           u"<dc:creator>%3</dc:creator>\n<dc:language>zh</dc:language>\n"
           u"<meta property=\"dcterms:modified\">%4</meta>\n</metadata>\n<manifest>\n"
           u"<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
           u"properties=\"nav\"/>\n"
           u"<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
           u"<item id=\"style\" href=\"style.css\" media-type=\"text/css\"/>\n"
           u"<item id=\"title\" href=\"title.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
           u"%5</manifest>\n<spine toc=\"ncx\">\n<itemref idref=\"title\"/>\n%6</spine>\n"
           u"</package>\n"_s.arg(identifier, escaped(outline.title), escaped(author),
                                 modified.toUTC().toString(Qt::ISODate), manifest, spine);
}

} // namespace

QString epubIdentifier(const QString &source) {
    // The name space of names that are addresses.
    static const QUuid urlNamespace(u"6ba7b811-9dad-11d1-80b4-00c04fd430c8"_s);
    return u"urn:uuid:"_s +
           QUuid::createUuidV5(urlNamespace, source).toString(QUuid::WithoutBraces);
}

std::optional<QByteArray> epubBook(const BookOutline &outline, const QString &source,
                                   const QDateTime &modified, QString *error) {
    const QString identifier = epubIdentifier(source);
    const QList<NavEntry> entries = navEntries(outline);
    QList<ZipEntry> files{
        {u"mimetype"_s, "application/epub+zip", true},
        {u"META-INF/container.xml"_s,
         (kXmlHead +
          u"<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
          u"<rootfiles>\n<rootfile full-path=\"OEBPS/content.opf\" "
          u"media-type=\"application/oebps-package+xml\"/>\n</rootfiles>\n</container>\n"_s)
             .toUtf8()},
        {u"OEBPS/content.opf"_s, packageDocument(outline, identifier, modified).toUtf8()},
        {u"OEBPS/nav.xhtml"_s, navDocument(outline, entries).toUtf8()},
        {u"OEBPS/toc.ncx"_s, ncxDocument(outline, entries, identifier).toUtf8()},
        {u"OEBPS/style.css"_s, kStyle.toUtf8()},
        {u"OEBPS/title.xhtml"_s, titlePage(outline).toUtf8()},
    };
    for (qsizetype i = 0; i < outline.chapters.size(); ++i)
        files.append({u"OEBPS/"_s + chapterFile(i),
                      chapterPage(outline.chapters.at(i), outline.title).toUtf8()});
    return zipArchive(files, error);
}

} // namespace book
