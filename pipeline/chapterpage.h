#pragma once
// What a job does to a chapter page, for every step set that reads one: the rules' view of the
// page (line ends as marks), tagText's capture, a capture that names the address of the text,
// the follow-on link with its bounds, and the capture typeset into the book's piece.

#include "analysis/siterules.h"
#include "pattern/pattern.h"

#include <QSet>
#include <QString>

#include <optional>

class HiddenBrowser;
struct JobInputs;

namespace book {
struct BookOutline;
}

namespace chapterpage {

// A rule's outcome on a page: its value, or nullopt with the alternative and why the engine gave
// up on it.
struct RuleValue {
    std::optional<QString> value;
    QString failedRule;
    norModule::MatchFailure failure;
};

// The page with its line ends as marks, so that it is one line and a rule's "." crosses them.
QString markLineEnds(QString page);

// Marked line ends back as line ends, each a carriage return: a chapter's line ends count once.
QString unmarkLineEnds(QString text);

// tagText on a page whose line ends are marked (markLineEnds).
RuleValue chapterText(const QString &markedPage, const SiteRules &rules);

// The page a capture of a chapter's first or follow-on page sends the chapter's text to: a short
// capture that resolves against chapterUrl to a page the job may fetch. nullopt when the capture
// is the text itself.
std::optional<QString> textAddress(const QString &chapterUrl, const QString &capture,
                                   const QString &contentsUrl);

// tagNext on the page as decoded, with its line breaks; "" when it finds no link.
RuleValue followOnLink(const QString &page, const SiteRules &rules);

// The addresses fetched for the chapter in hand, which bound where its follow-on links lead.
class ChapterPages {
public:
    // Far more follow-on pages than any real chapter has; a site that goes on past this is
    // broken.
    static constexpr qsizetype kMaxPages = 1000;

    void begin(const QString &chapterUrl);
    const QString &chapterUrl() const { return m_chapterUrl; }
    // Whether the page in hand is a follow-on page (the chapter's text address aside).
    bool following() const { return m_pages.size() > 1; }

    enum class Next { End, Follow, TooMany };
    // Where a follow-on link (tagNext's value) leads: the chapter ends at an empty one and at one
    // back to a page of the chapter (which would go round for ever); past kMaxPages pages it is
    // broken. On Follow, *address is the page to fetch next, counted as fetched.
    Next follow(const QString &link, QString *address);

private:
    QString m_chapterUrl;
    QSet<QString> m_pages;
};

// Where a page's piece goes in the book.
struct PiecePlace {
    QString name;      // the chapter's
    QString volume;    // the chapter's volume heading
    bool first = true; // the chapter's first page, whose piece carries the headings
};

// A capture as it goes into the book: tagDel applied, line ends back, converted to text (by the
// hidden browser when the job asks for it), typeset, with the headings of place. An EPUB's
// outline, when given, gains the page. nullopt when the hidden browser failed.
std::optional<QString> bookPiece(QString capture, const SiteRules &rules, const JobInputs &inputs,
                                 HiddenBrowser &renderer, const PiecePlace &place,
                                 book::BookOutline *outline);

} // namespace chapterpage
