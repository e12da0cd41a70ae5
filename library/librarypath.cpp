#include "library/librarypath.h"

#include "settings/inimodule.h"

#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace library {

QString libraryPathFor(const QString &settingsFile) {
    const QFileInfo settings(settingsFile);
    // The user's own settings file sits among configuration; the chapters are data, and belong
    // where a user's data goes.
    const QFileInfo userSettings(iniModule::userFolder(QStandardPaths::GenericConfigLocation) +
                                 settings.fileName());
    if (settings.absoluteFilePath() == userSettings.absoluteFilePath())
        return iniModule::userFolder(QStandardPaths::GenericDataLocation) + u"library.sqlite"_s;
    return settings.absolutePath() + u'/' + settings.completeBaseName() + u".sqlite"_s;
}

} // namespace library
