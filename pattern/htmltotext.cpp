#include "pattern/htmltotext.h"

#include "pattern/pattern.h"
#include "pattern/replaceall.h"

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace norModule {

namespace {

// The exact paragraph and line-break forms, each replaced by one CR. The forms all begin with
// "<", differ where two of them could start at the same place, and a CR cannot make a new one:
// so one pass gives what a pass for each form in turn would.
void breakLines(QString &text, Qt::CaseSensitivity literalCase) {
    static const std::array<QString, 5> forms{u"<p>"_s, u"</p>"_s, u"<br>"_s, u"<br/>"_s,
                                              u"<br />"_s};
    qsizetype at = text.indexOf(u'<');
    if (at < 0)
        return;
    QString out;
    out.reserve(text.size());
    qsizetype copied = 0;
    while (at >= 0) {
        qsizetype matched = 0;
        for (const QString &form : forms) {
            if (QStringView(text).mid(at, form.size()).compare(form, literalCase) == 0) {
                matched = form.size();
                break;
            }
        }
        if (matched > 0) {
            out += QStringView(text).mid(copied, at - copied);
            out += u'\r';
            copied = at + matched;
        }
        at = text.indexOf(u'<', at + qMax<qsizetype>(matched, 1));
    }
    if (copied == 0)
        return;
    out += QStringView(text).mid(copied);
    text = std::move(out);
}

// The letters that follow an "&" somewhere in text, as a bit set of "a" to "z" and "#".
quint32 entityStarts(const QString &text) {
    quint32 starts = 0;
    for (qsizetype at = text.indexOf(u'&'); at >= 0 && at + 1 < text.size();
         at = text.indexOf(u'&', at + 1)) {
        const char16_t next = asciiLower(text.at(at + 1).unicode());
        if (next >= u'a' && next <= u'z')
            starts |= 1u << (next - u'a');
        else if (next == u'#')
            starts |= 1u << 26;
    }
    return starts;
}

quint32 startBit(const QString &entity) {
    const char16_t second = asciiLower(entity.at(1).unicode());
    return second == u'#' ? 1u << 26 : 1u << (second - u'a');
}

} // namespace

void htmlToText(QString &text, Qt::CaseSensitivity literalCase) {
    text.replace(u'\t', u' ');

    // Only these exact forms break a line; a tag with attributes is removed below without one.
    breakLines(text, literalCase);

    // A "<" followed by a space or a digit is not a tag and stays, so "a < b" survives.
    text = regReplace(text, u"<(?:[a-z]|[A-Z]|[\\/!])[^<]*?>"_s, QString());

    // The order matters: "&amp;" goes before the entities it may hide ("&amp;lt;" ends as "<"),
    // and each entity is taken first with its semicolon, then without.
    static const std::array<std::pair<QString, QString>, 11> entities{{
        {u"&quot;"_s, u"\""_s},
        {u"&quot"_s, u"\""_s},
        {u"&amp;"_s, u"&"_s},
        {u"&amp"_s, u"&"_s},
        {u"&lt;"_s, u"<"_s},
        {u"&lt"_s, u"<"_s},
        {u"&gt;"_s, u">"_s},
        {u"&gt"_s, u">"_s},
        {u"&nbsp;"_s, u" "_s},
        {u"&nbsp"_s, u" "_s},
        {u"&#183;"_s, u"\u00B7"_s},
    }};
    // Entities whose first letter follows no "&" are passed over; a decoded "&amp;" may bring
    // new ones, so the letters are looked at again after it.
    quint32 starts = entityStarts(text);
    for (const auto &[entity, character] : entities) {
        if (!(starts & startBit(entity)))
            continue;
        if (replaceAll(text, entity, character, literalCase) > 0 && character == u"&"_s)
            starts = entityStarts(text);
    }
}

} // namespace norModule
