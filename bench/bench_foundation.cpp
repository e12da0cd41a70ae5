// Times the text core at sizes n and 4n: typesetting, charset detection and decoding, the
// chapter-link rule over a contents page, and HTML to text. Exits 1 when one does not scale
// linearly.

#include "bench/benchutil.h"
#include "pattern/htmltotext.h"
#include "pattern/pattern.h"
#include "text/charset.h"
#include "text/typeset.h"

#include <QStringEncoder>

using namespace Qt::StringLiterals;

namespace {

// Chinese chapter text wrapped at 20 characters, as many pages deliver it.
QString wrappedChapter(qsizetype characters) {
    const QString paragraph =
        u"他走了很远很远的路，翻过了三座山，终于在黄昏时看见了那座小小的村庄。"
        u"村口的老人问他：“你从哪里来？”"_s;
    QString wrapped;
    for (qsizetype at = 0; at < paragraph.size(); at += 20)
        wrapped += paragraph.mid(at, 20) + u"\r\n"_s;
    return wrapped.repeated(characters / wrapped.size());
}

QByteArray gbkPage(qsizetype bytes) {
    QStringEncoder gbk("GBK");
    const QByteArray line =
        gbk.encode(u"<p>　　他走进了山洞，洞里一片漆黑，只听见水滴的声音。</p>\r\n"_s);
    return QByteArray("<html><head><title>x</title></head><body>") +
           line.repeated(bytes / line.size()) + QByteArray("</body></html>");
}

QString contentsPage(int links) {
    QString page = u"<html><body><div class=list><dl>"_s;
    for (int i = 1; i <= links; ++i)
        page +=
            u"<dd><a href=\"/book/42/%1.html\" title=\"第%1章\">第%1章 风起云涌</a></dd>"_s.arg(i);
    return page + u"</dl></div></body></html>"_s;
}

QString chapterHtml(qsizetype characters) {
    const QString paragraph =
        u"&nbsp;&nbsp;&nbsp;&nbsp;他说：&quot;走吧。&quot;<span class=\"x\">夜色</span>渐浓。<br />"_s;
    return paragraph.repeated(characters / paragraph.size());
}

} // namespace

int main() {
    bench::useOneAllocatorPolicy();
    bench::printHeader();
    bool linear = true;

    {
        const QString n = wrappedChapter(1 << 20);
        const QString fourN = wrappedChapter(4 << 20);
        auto run = [](const QString &source) {
            return bench::bestMilliseconds([&] {
                QString text = source;
                typeset::typesetChapter(text, u"第一章"_s, true);
            });
        };
        linear &= bench::reportScaling(u"typesetChapter, wrapped Chinese text"_s, u"1 Mi chars"_s,
                                       run(n), run(fourN));
    }
    {
        const QByteArray n = gbkPage(4 << 20);
        const QByteArray fourN = gbkPage(16 << 20);
        auto run = [](const QByteArray &body) {
            return bench::bestMilliseconds([&] {
                const QString name = charset::detectCharset(body);
                const QString text = charset::decodeBytes(body, name);
                Q_UNUSED(text);
            });
        };
        linear &= bench::reportScaling(u"detectCharset + decodeBytes, GBK page"_s, u"4 MiB"_s,
                                       run(n), run(fourN));
    }
    {
        const QString n = contentsPage(5000);
        const QString fourN = contentsPage(20000);
        const QString rule = u"<dd><a href=\"(.*?)\" title=\".*?\">(.*?)</a></dd>"_s;
        auto run = [&rule](const QString &page) {
            return bench::bestMilliseconds([&] {
                const auto matches = norModule::allMatches(page, rule);
                Q_UNUSED(matches);
            });
        };
        linear &= bench::reportScaling(u"chapter-link rule, all matches, contents page"_s,
                                       u"5000 links"_s, run(n), run(fourN));
    }
    {
        const QString n = chapterHtml(1 << 20);
        const QString fourN = chapterHtml(4 << 20);
        auto run = [](const QString &source) {
            return bench::bestMilliseconds([&] {
                QString text = source;
                norModule::htmlToText(text);
            });
        };
        linear &= bench::reportScaling(u"htmlToText"_s, u"1 Mi chars"_s, run(n), run(fourN));
    }
    return linear ? 0 : 1;
}
