#include "window/htmlescape.h"

using namespace Qt::StringLiterals;

namespace htmlText {

QString escaped(const QString &text) {
    // Qt's own leaves the apostrophe, which ends a single-quoted attribute.
    return text.toHtmlEscaped().replace(u'\'', u"&#39;"_s);
}

} // namespace htmlText
