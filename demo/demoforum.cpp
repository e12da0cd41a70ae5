#include "demo/demoforum.h"

#include "demo/demosite.h"

#include <QStringEncoder>

#include <httplib.h>

#include <array>

using namespace Qt::StringLiterals;

namespace demo {

namespace {

const std::array kReaders{u"追更党"_s, u"路过的猫"_s, u"书虫阿七"_s, u"潜水员"_s};
const std::array kReplies{u"沙发！"_s, u"写得真好，坐等更新。"_s, u"终于更新了，顶一下。"_s,
                          u"这一章的结尾让人想了很久，楼主加油！"_s, u"mark，回头一起看。"_s};
const std::array kNotes{u"今天就更到这里，谢谢大家的支持。"_s, u"明天继续，晚安。"_s};

QString post(const QString &author, const QString &text) {
    return u"<div class=\"post\"><span class=\"author\">%1</span><div class=\"text\">%2</div>"
           u"</div>\r\n"_s.arg(author, text);
}

// A chapter as its author posts it: the name, then the paragraphs, one per line.
QString chapterPost(const DemoChapter &chapter) {
    QString text = u"\r\n"_s + chapter.name + u"<br /><br />\r\n"_s;
    for (const QStringList &page : chapter.pages) {
        for (const QString &paragraph : page)
            text += u"&nbsp;&nbsp;&nbsp;&nbsp;"_s + paragraph + u"<br /><br />\r\n"_s;
    }
    return text;
}

} // namespace

DemoForum::DemoForum(const DemoBook &book, int chaptersPerPage) {
    const int perPage = qMax(1, chaptersPerPage);
    const int pages = qMax(1, int((book.chapters.size() + perPage - 1) / perPage));
    for (int p = 0; p < pages; ++p) {
        QString body =
            u"<h1 class=\"thread\">【连载】%1</h1>\r\n<div class=\"starter\">楼主：%2</div>\r\n"_s
                .arg(book.title, book.author);
        for (int c = p * perPage; c < qMin(int(book.chapters.size()), (p + 1) * perPage); ++c) {
            body += post(book.author, chapterPost(book.chapters.at(c)));
            body += post(kReaders[c % kReaders.size()], kReplies[c % kReplies.size()]);
            if (c % 3 == 2)
                body += post(book.author, kNotes[c % kNotes.size()]);
        }
        if (p + 1 < pages)
            body +=
                u"<div class=\"pages\"><a class=\"next\" href=\"%1.html\">下一页</a></div>\r\n"_s
                    .arg(p + 2);
        const QString html =
            u"<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"gbk\">\r\n"
            u"<title>%1</title>\r\n</head>\r\n<body>\r\n%2</body>\r\n</html>\r\n"_s.arg(book.title,
                                                                                        body);
        m_html.append(html);
        const QString path =
            QString::fromLatin1(kDemoThreadFolder) + (p == 0 ? QString() : u"%1.html"_s.arg(p + 1));
        QStringEncoder gbk("GBK");
        m_served.insert(path, gzipCompressed(gbk.encode(html)));
    }
}

void DemoForum::addRoutes(httplib::Server &server) const {
    const std::string pattern = std::string(kDemoThreadFolder) + "(.*)";
    server.Get(pattern, [this](const httplib::Request &req, httplib::Response &res) {
        const auto page = m_served.constFind(QString::fromStdString(req.path));
        if (page == m_served.cend()) {
            res.status = 404;
            return;
        }
        res.set_header("Content-Encoding", "gzip");
        res.set_content(page->constData(), size_t(page->size()), "text/html; charset=gbk");
    });
}

} // namespace demo
