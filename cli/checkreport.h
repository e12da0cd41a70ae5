#pragma once
// The rule checker's report laid out for a person: its sections one under another, every rule
// with what it matched, the problems in words, in colour on a terminal.

#include <QJsonObject>
#include <QString>

namespace rulecheck {

// Control characters in the report's strings are shown as spaces.
QString reportText(const QJsonObject &checked, bool colour);

// Prints the report on standard output, as JSON or as text (in colour on a terminal that takes
// it). The exit status it stands for: 0 when a book could be made from what it saw, else 1.
int printReport(const QJsonObject &report, bool json);

} // namespace rulecheck
