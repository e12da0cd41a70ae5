#pragma once
// The rule checker's part for a site's search rules (--check-rules URL --search TITLE): the
// search request as the search makes it, what tagSearch matched on the answer, and whether the
// first result leads to a page the site's tagTitle matches.

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace rulecheck {

// The "search" part of the report for the section of host; its problems go into problems.
// Needs the application object, as the search's cookie step does.
QJsonObject checkSearch(const QString &host, const QString &title, QJsonArray &problems);

} // namespace rulecheck
