#include "demo/demosite.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

#include <httplib.h>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace demo {

namespace {

QByteArray gbk(const QString &text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

} // namespace

QByteArray gzipCompressed(const QByteArray &body) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(body.size()))) + 32, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(body.data()));
    stream.avail_in = uInt(body.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

DemoSite::DemoSite(const DemoBook &book)
    : m_book(book)
    , m_published(std::make_shared<std::atomic<int>>(int(book.chapters.size()))) {
    m_pages.insert(QString::fromLatin1(kDemoBookFolder),
                   gzipCompressed(gbk(demoContentsPage(book))));
    for (int c = 0; c < book.chapters.size(); ++c)
        addChapterPages(c);
}

void DemoSite::addChapterPages(int c) {
    const QString folder = QString::fromLatin1(kDemoBookFolder);
    for (int p = 0; p < m_book.chapters.at(c).pages.size(); ++p)
        m_pages.insert(folder + demoChapterPageName(c, p),
                       gzipCompressed(gbk(demoChapterPage(m_book, c, p))));
    if (m_book.chapters.at(c).separateText)
        m_pages.insert(folder + demoChapterTextName(c),
                       gzipCompressed(gbk(demoChapterTextDocument(m_book, c))));
}

void DemoSite::publish(int chapters) {
    m_published->store(std::clamp(chapters, 1, int(m_book.chapters.size())));
}

void DemoSite::revise(int index, const DemoChapter &chapter) {
    const std::lock_guard lock(*m_lock);
    if (index < 0 || index >= m_book.chapters.size())
        return;
    m_book.chapters[index] = chapter;
    m_pages.insert(QString::fromLatin1(kDemoBookFolder),
                   gzipCompressed(gbk(demoContentsPage(m_book))));
    addChapterPages(index);
}

void DemoSite::withdraw(const QSet<int> &chapters) {
    const std::lock_guard lock(*m_lock);
    m_withdrawn = chapters;
}

QByteArray DemoSite::searchPage(const QString &query) const {
    QString rows;
    // Any part of the title finds the book, as on a real site.
    if (!query.trimmed().isEmpty() && m_book.title.contains(query.trimmed(), Qt::CaseInsensitive))
        rows = u"<tr><td class=\"title\"><a href=\"%1\">%2</a></td>"
               u"<td class=\"author\">%3</td></tr>\n"_s.arg(QLatin1String(kDemoBookFolder),
                                                            m_book.title, m_book.author);
    return gbk(u"<html><head><meta charset=\"gbk\"><title>搜索</title></head><body>\n"
               u"<h2>搜索结果</h2>\n<table class=\"result\">\n%1</table>\n</body></html>\n"_s.arg(
                   rows.isEmpty() ? u"<tr><td>没有找到。</td></tr>\n"_s : rows));
}

QByteArray DemoSite::contentsPage() const {
    const int published = m_published->load();
    if (published == m_book.chapters.size() && m_withdrawn.isEmpty())
        return m_pages.value(QString::fromLatin1(kDemoBookFolder));
    DemoBook shown = m_book;
    shown.chapters.resize(published);
    QString page = demoContentsPage(shown);
    // A chapter's link names its own page, so the others keep theirs: its line alone goes.
    for (int c : m_withdrawn) {
        const qsizetype at = page.indexOf(u"<li><a href=\"%1\">"_s.arg(demoChapterPageName(c, 0)));
        if (at >= 0)
            page.remove(at, page.indexOf(u'\n', at) + 1 - at);
    }
    return gzipCompressed(gbk(page));
}

void DemoSite::addRoutes(httplib::Server &server) const {
    // Without it, a kept-alive connection waits for the client's delayed acknowledgement
    // between the headers and the body of every page.
    server.set_tcp_nodelay(true);
    // The search takes the title in GBK, as many sites do.
    server.Get(kDemoSearchPath, [this](const httplib::Request &req, httplib::Response &res) {
        const QByteArray query = QByteArray::fromStdString(req.get_param_value("q"));
        QStringDecoder decoder("GB18030");
        const std::lock_guard lock(*m_lock);
        const QByteArray page = searchPage(decoder.decode(query));
        res.set_content(page.constData(), size_t(page.size()), "text/html; charset=gbk");
    });
    const std::string pattern = std::string(kDemoBookFolder) + "(.*)";
    server.Get(pattern, [this](const httplib::Request &req, httplib::Response &res) {
        const QString path = QString::fromStdString(req.path);
        const std::lock_guard lock(*m_lock);
        const auto page = m_pages.constFind(path);
        if (page == m_pages.cend()) {
            res.status = 404;
            return;
        }
        QByteArray served = *page;
        if (path == QLatin1String(kDemoBookFolder)) {
            if (req.has_param("chapters")) {
                bool ok = false;
                const int chapters =
                    QString::fromStdString(req.get_param_value("chapters")).toInt(&ok);
                if (ok)
                    m_published->store(std::clamp(chapters, 1, int(m_book.chapters.size())));
            }
            served = contentsPage();
            res.set_header("Set-Cookie", std::string(kDemoCookie) + "; Path=/");
        } else if (req.get_header_value("Cookie").find(kDemoCookie) == std::string::npos) {
            res.status = 403;
            res.set_header("Content-Encoding", "gzip");
            res.set_content(gzipCompressed(gbk(u"<p>请先打开目录页。</p>"_s)).toStdString(),
                            "text/html; charset=gbk");
            return;
        }
        res.set_header("Content-Encoding", "gzip");
        res.set_content(served.constData(), size_t(served.size()),
                        path.endsWith(u".txt"_s) ? "text/plain; charset=gbk"
                                                 : "text/html; charset=gbk");
    });
}

QByteArray demoSiteSettings(const QString &host) {
    QFile file(u":/demo/Kestrelon.ini.template"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.replace(u"@DEMO_HOST@"_s, host);
    // The demo forum is the same server reached by another name, so that it has a section of
    // its own.
    text.replace(u"@DEMO_PORT@"_s, host.section(u':', -1));
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u"\n"_s, u"\r\n"_s);
    return gbk(text);
}

} // namespace demo
