#include "pipeline/chapterpage.h"

#include "book/bookoutline.h"
#include "browser/hiddenbrowser.h"
#include "net/urlreachable.h"
#include "pattern/combineurl.h"
#include "pattern/htmltotext.h"
#include "pipeline/jobview.h"
#include "pipeline/textaddress.h"
#include "text/typeset.h"

namespace chapterpage {

namespace {

constexpr QChar kCarriageReturnMark = u'\u000E';
constexpr QChar kLineFeedMark = u'\u000F';

RuleValue findValue(const QString &page, const QStringList &rule) {
    RuleValue found;
    found.value = norModule::findValue(page, rule, &found.failedRule, &found.failure);
    return found;
}

} // namespace

QString markLineEnds(QString page) {
    page.replace(u'\r', kCarriageReturnMark);
    page.replace(u'\n', kLineFeedMark);
    return page;
}

QString unmarkLineEnds(QString text) {
    text.replace(kCarriageReturnMark, u'\r');
    text.replace(kLineFeedMark, u'\r');
    return text;
}

RuleValue chapterText(const QString &markedPage, const SiteRules &rules) {
    return findValue(markedPage, rules.tagText);
}

std::optional<QString> textAddress(const QString &chapterUrl, const QString &capture,
                                   const QString &contentsUrl) {
    const auto candidate = pipeline::textAddress(chapterUrl, capture);
    if (candidate && norModule::urlReachable(*candidate, contentsUrl))
        return candidate;
    return std::nullopt;
}

RuleValue followOnLink(const QString &page, const SiteRules &rules) {
    return findValue(page, rules.tagNext);
}

void ChapterPages::begin(const QString &chapterUrl) {
    m_chapterUrl = chapterUrl;
    m_pages = {chapterUrl};
}

ChapterPages::Next ChapterPages::follow(const QString &link, QString *address) {
    if (link.isEmpty())
        return Next::End;
    // Resolved against the chapter's own address, not the page's.
    const QString next = norModule::combineUrl(m_chapterUrl, link);
    if (m_pages.contains(next))
        return Next::End;
    if (m_pages.size() >= kMaxPages)
        return Next::TooMany;
    m_pages.insert(next);
    *address = next;
    return Next::Follow;
}

std::optional<QString> bookPiece(QString capture, const SiteRules &rules, const JobInputs &inputs,
                                 HiddenBrowser &renderer, const PiecePlace &place,
                                 book::BookOutline *outline) {
    QString text = unmarkLineEnds(norModule::regReplace(capture, rules.tagDel, QString()));
    if (inputs.browserText) {
        const auto rendered = renderer.renderedText(text);
        if (!rendered)
            return std::nullopt;
        text = *rendered;
    } else {
        norModule::htmlToText(text);
    }
    typeset::typesetChapter(text, place.name, inputs.deleteTitle);
    if (outline && inputs.format == BookFormat::Epub)
        outline->addPage(text, place.volume, place.name, place.first);
    return book::bookPiece(text, place.volume, place.name, place.first);
}

} // namespace chapterpage
