#include "htmltotext.h"

#include "pattern.h"
#include "replaceall.h"

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace norModule {

void htmlToText(QString &text) {
    text.replace(u'\t', u' ');

    // Only these exact forms break a line; a tag with attributes is removed below without one.
    for (const QString &tag : {u"<p>"_s, u"</p>"_s, u"<br>"_s, u"<br/>"_s, u"<br />"_s})
        replaceAll(text, tag, u"\r", Qt::CaseInsensitive);

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
    for (const auto &[entity, character] : entities)
        replaceAll(text, entity, character, Qt::CaseInsensitive);
}

} // namespace norModule
