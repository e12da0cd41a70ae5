#pragma once
// Recognises the site of a contents-page address and loads its rules from the settings file.

#include <QString>
#include <QStringList>

struct DownloadJob;
class JobView;

namespace pipeline {

// A rule value split at every "||" into its alternatives: "" gives none, and "||" at an end or
// twice in a row gives empty entries.
QStringList splitAlternatives(const QString &value);

// Whether a plug-in site's plug-in is started: a rule check only looks at the site's section and
// must not run the plug-in's code, which may write to the settings file on its own.
enum class PluginUse { Start, Skip };

// True when the job's rules (or its plug-in) are loaded and its book fields cleared. Missing keys
// are written back empty, in reading order (siteKeys::Key), and an empty "plugins" key removed
// again. False when the contents-page address names a site without rules: the status line then
// reads "取书进度：例外站点！" and the job must not start; also false, with a status line that
// says so, when the settings file is there but cannot be read. A host without a section leaves
// none behind; a section whose tagTitle is empty or missing stays byte for byte as it was.
bool loadSiteRules(DownloadJob &job, JobView &view, PluginUse plugin = PluginUse::Start);

} // namespace pipeline
