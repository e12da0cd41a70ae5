#include "demo/demobook.h"

#include <array>

using namespace Qt::StringLiterals;

namespace demo {

namespace {

// A small deterministic generator (xorshift32): the same on every platform and library.
class Dice {
public:
    explicit Dice(quint32 seed)
        : m_state(seed ? seed : 0x9E3779B9u) {}
    quint32 next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    int below(int n) { return int(next() % quint32(n)); }
    template <typename List>
    const auto &pick(const List &list) {
        return list[below(int(std::size(list)))];
    }

private:
    quint32 m_state;
};

const std::array kPeople{u"林舟"_s, u"沈青"_s,     u"老渔夫"_s,   u"守塔人"_s,
                         u"小满"_s, u"商队首领"_s, u"那位旅人"_s, u"白鹭"_s};
const std::array kPlaces{u"河湾"_s,   u"灯塔"_s, u"集市"_s, u"山口"_s,
                         u"旧码头"_s, u"竹林"_s, u"驿站"_s, u"石桥"_s};
const std::array kActions{u"慢慢走向"_s, u"回头望着"_s, u"悄悄绕过"_s,
                          u"一路奔向"_s, u"静静守在"_s, u"重新找到"_s};
const std::array kMoods{u"风从水面上吹过来"_s, u"天色渐渐暗了下去"_s, u"远处传来几声鸟鸣"_s,
                        u"雨点落在屋檐上"_s,   u"灯火一盏一盏亮起"_s, u"雾气还没有散开"_s};
const std::array kThoughts{u"这件事没有那么简单"_s, u"明天还得早些出发"_s, u"答案也许就在眼前"_s,
                           u"有些话不必说出口"_s, u"路总会越走越宽"_s};
const std::array kChapterWords{u"启程"_s, u"夜雨"_s, u"渡口"_s, u"旧信"_s, u"灯影"_s,
                               u"远客"_s, u"潮声"_s, u"归途"_s, u"山雪"_s, u"晨钟"_s};
const std::array kVolumeWords{u"水之卷"_s, u"风之卷"_s, u"山之卷"_s,
                              u"灯之卷"_s, u"雪之卷"_s, u"星之卷"_s};
const std::array kNumbers{u"一"_s, u"二"_s, u"三"_s, u"四"_s, u"五"_s,
                          u"六"_s, u"七"_s, u"八"_s, u"九"_s, u"十"_s};

QString sentence(Dice &dice) {
    switch (dice.below(4)) {
    case 0:
        return dice.pick(kPeople) + dice.pick(kActions) + dice.pick(kPlaces) + u"，"_s +
               dice.pick(kMoods) + u"。"_s;
    case 1:
        return dice.pick(kMoods) + u"，"_s + dice.pick(kPeople) + u"心想："_s +
               dice.pick(kThoughts) + u"。"_s;
    case 2:
        return u"“"_s + dice.pick(kThoughts) + u"。”"_s + dice.pick(kPeople) + u"低声说道。"_s;
    default:
        return dice.pick(kPeople) + u"在"_s + dice.pick(kPlaces) + u"停了片刻，"_s +
               dice.pick(kMoods) + u"……"_s;
    }
}

QString paragraph(Dice &dice) {
    QString text;
    const int sentences = 2 + dice.below(3);
    for (int i = 0; i < sentences; ++i)
        text += sentence(dice);
    // A paragraph ends its line with a full stop or a closing quote, never with an ellipsis.
    if (text.endsWith(u"……"_s))
        text += dice.pick(kPeople) + u"没有再说话。"_s;
    return text;
}

QString volumeName(int volume) {
    return u"第%1卷 %2"_s.arg(kNumbers[volume % 10], kVolumeWords[volume % kVolumeWords.size()]);
}

const QString kAdvertisement = u"<p class=\"ad\">广告：本站已启用新域名，<b>请记得收藏</b>！</p>"_s;

QString html(const QString &title, const QString &body) {
    return u"<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" "
           u"content=\"text/html; charset=gbk\">\r\n<title>%1</title>\r\n</head>\r\n<body>\r\n"
           u"%2</body>\r\n</html>\r\n"_s.arg(title, body);
}

QString contentBlock(const QStringList &paragraphs, bool advertisement) {
    QString block = u"<div id=\"content\">\r\n"_s;
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        block += u"&nbsp;&nbsp;&nbsp;&nbsp;"_s + paragraphs.at(i) + u"<br /><br />\r\n"_s;
        if (advertisement && i == 0)
            block += kAdvertisement + u"\r\n"_s;
    }
    return block + u"</div>\r\n"_s;
}

} // namespace

DemoBook generateDemoBook(const DemoBookOptions &options) {
    Dice dice(options.seed);
    DemoBook book;
    book.title = u"灯塔与河湾"_s;
    book.author = u"Kestrelon 演示"_s;
    const int chapters = qMax(1, options.chapters);
    const int volumes = qBound(1, options.volumes, chapters);
    for (int c = 0; c < chapters; ++c) {
        DemoChapter chapter;
        chapter.name = u"第%1章 %2"_s.arg(c + 1).arg(dice.pick(kChapterWords));
        // Volumes divide the chapters evenly; each opens at its first chapter.
        const int volume = c * volumes / chapters;
        if (c == 0 || volume != (c - 1) * volumes / chapters)
            chapter.volume = volumeName(volume);
        // Every fifth chapter spans three pages, every seventh two; the fourth keeps its text in
        // a document of its own; every ninth carries an advertisement.
        const int pages = c % 5 == 2 ? 3 : (c % 7 == 5 ? 2 : 1);
        for (int p = 0; p < pages; ++p) {
            QStringList paragraphs;
            const int count = qMax(1, options.paragraphs / pages);
            for (int i = 0; i < count; ++i)
                paragraphs.append(paragraph(dice));
            chapter.pages.append(paragraphs);
        }
        chapter.separateText = c == 3;
        chapter.advertisement = c % 9 == 1;
        book.chapters.append(chapter);
    }
    return book;
}

QString demoChapterPageName(int chapter, int page) {
    return page == 0 ? u"%1.html"_s.arg(chapter + 1)
                     : u"%1_%2.html"_s.arg(chapter + 1).arg(page + 1);
}

QString demoChapterTextName(int chapter) {
    return u"text/%1.txt"_s.arg(chapter + 1);
}

QString demoContentsPage(const DemoBook &book) {
    QString body = u"<div class=\"book\">\r\n<h1>%1</h1>\r\n<p class=\"author\">作者：%2</p>\r\n"
                   u"</div>\r\n<div class=\"list\">\r\n"_s.arg(book.title, book.author);
    for (qsizetype c = 0; c < book.chapters.size(); ++c) {
        const DemoChapter &chapter = book.chapters.at(c);
        if (!chapter.volume.isEmpty())
            body += (c ? u"</ul>\r\n"_s : QString()) + u"<h2 class=\"volume\">"_s + chapter.volume +
                    u"</h2>\r\n<ul>\r\n"_s;
        body += u"  <li><a href=\"%1\">%2</a></li>\r\n"_s.arg(demoChapterPageName(int(c), 0),
                                                              chapter.name);
    }
    body += u"</ul>\r\n</div>\r\n"_s;
    return html(book.title, body);
}

QString demoChapterPage(const DemoBook &book, int chapter, int page) {
    const DemoChapter &c = book.chapters.at(chapter);
    QString body = u"<h1>%1</h1>\r\n"_s.arg(c.name);
    if (page == 0 && c.separateText)
        body += u"<div id=\"content\">%1</div>\r\n"_s.arg(demoChapterTextName(chapter));
    else
        body += contentBlock(c.pages.at(page), page == 0 && c.advertisement);
    body += u"<div class=\"nav\"><a href=\"./\">目录</a></div>\r\n"_s;
    if (page + 1 < c.pages.size())
        body += u"<div class=\"next\"><a href=\"%1\">下一页</a></div>\r\n"_s.arg(
            demoChapterPageName(chapter, page + 1));
    return html(c.name, body);
}

QString demoChapterTextDocument(const DemoBook &book, int chapter) {
    return contentBlock(book.chapters.at(chapter).pages.at(0), false);
}

QString demoBookText(const DemoBook &book) {
    const QString indent = u"\u3000\u3000"_s;
    const QString crlf = u"\r\n"_s;
    QString text = indent + book.title + crlf + indent + u"作者："_s + book.author;
    for (const DemoChapter &chapter : book.chapters) {
        if (!chapter.volume.isEmpty())
            text += crlf + crlf + crlf + indent + chapter.volume;
        text += crlf + crlf + indent + chapter.name + crlf;
        for (const QStringList &page : chapter.pages)
            text += crlf + indent + page.join(crlf + indent);
    }
    return text;
}

} // namespace demo
