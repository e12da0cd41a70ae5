#pragma once
// The rule checker behind kestrelon-cli --check-rules: the pipeline's RuleCheckSteps fetch a
// book's contents page and one chapter on a job's own parts, so with a download's requests; this
// runs every rule of the site's section on what they meet, and reports what each found and the
// usual mistakes. It writes no book; the caller keeps the settings file
// read-only (iniModule::setSettingsReadOnly) while it runs.

#include "pipeline/jobview.h"

#include <QJsonObject>
#include <QString>

namespace rulecheck {

// The report, whose fields the README documents ("Checking a site's rules"). chapterUrl names
// the chapter to check; "" checks the first wanted one. searchTitle, when not "", also checks
// the site's search rules with it ("Finding a book"). Needs the application object, as the
// job's hidden browsers do.
QJsonObject checkRules(const JobInputs &inputs, const QString &chapterUrl,
                       const QString &searchTitle = QString());

} // namespace rulecheck
