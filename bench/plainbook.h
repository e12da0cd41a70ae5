#pragma once
// A demo book served the plainest way, for the benchmarks that count requests: one GBK page a
// chapter with about 6 KB of text and no follow-on pages, and a contents page listing as many of
// its chapters as the run wants, so that a serial can grow between runs.

#include "demo/demobook.h"

#include <QByteArray>
#include <QHash>
#include <QStringEncoder>

#include <string>

namespace bench {

inline QByteArray gbk(const QString &text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

// The rules that read these pages, as the section for host in a settings file (GBK, CR LF).
inline QByteArray plainBookSection(const QString &host) {
    using namespace Qt::StringLiterals;
    return gbk(u"[%1]\r\ntagTitle=<h1>(.*?)</h1>\r\ntagChapter=<li><a href=\"(.*?)\">(.*?)</a>"
               u"</li>\r\ntagText=<div id=\"content\">(.*?)</div>\r\n"_s.arg(host));
}

class PlainBook {
public:
    explicit PlainBook(int chapters)
        : m_book(demo::generateDemoBook({.chapters = chapters})) {}

    int chapters() const { return int(m_book.chapters.size()); }

    // Chapter c's page (from 1), found at "<c>.html" beside the contents page.
    QByteArray chapterPage(int c) const {
        using namespace Qt::StringLiterals;
        const demo::DemoChapter &chapter = m_book.chapters.at(c - 1);
        QStringList paragraphs;
        for (const QStringList &page : chapter.pages)
            paragraphs += page;
        return gbk(
            u"<html><body><h1>%1</h1>\r\n<div id=\"content\">%2</div>\r\n</body></html>"_s.arg(
                chapter.name, paragraphs.join(u"<br />\r\n"_s)));
    }

    // The contents page listing chapters 1 to listed.
    QByteArray contentsPage(int listed) const {
        using namespace Qt::StringLiterals;
        QString contents = u"<html><body><h1>%1</h1>\r\n"_s.arg(m_book.title);
        for (int c = 1; c <= listed; ++c)
            contents += u"<li><a href=\"%1.html\">%2</a></li>\r\n"_s.arg(c).arg(
                m_book.chapters.at(c - 1).name);
        return gbk(contents + u"</body></html>"_s);
    }

    // Every page by path, the book served at /<folder>/ with all its chapters listed.
    void addPages(QHash<std::string, QByteArray> &pages, const QString &folder) const {
        using namespace Qt::StringLiterals;
        for (int c = 1; c <= chapters(); ++c)
            pages.insert(u"/%1/%2.html"_s.arg(folder).arg(c).toStdString(), chapterPage(c));
        pages.insert(u"/%1/"_s.arg(folder).toStdString(), contentsPage(chapters()));
    }

private:
    demo::DemoBook m_book;
};

} // namespace bench
