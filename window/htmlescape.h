#pragma once
// Text from a settings file or a site as it may stand in a page the help browser shows.

#include <QString>

namespace htmlText {

// text with &, <, >, ' and " as character references: text in an element or in either kind of
// quoted attribute, never markup.
QString escaped(const QString &text);

} // namespace htmlText
