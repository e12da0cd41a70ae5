#include "window/helppage.h"

#include "settings/inimodule.h"
#include "window/sitelist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace helpPage {

std::optional<QString> preparedHelpPage() {
    const QString shipped = iniModule::programFolder() + u"help/index.htm"_s;
    if (!QFileInfo(shipped).isFile())
        return std::nullopt;
    QString page = shipped;
    if (!iniModule::programFolderWritable()) {
        const QString copy =
            iniModule::userFolder(QStandardPaths::GenericDataLocation) + u"help/index.htm"_s;
        // A fresh copy each start, so that a new version's page replaces an old one. Should the
        // copy fail, the shipped page is shown as it is.
        QDir().mkpath(QFileInfo(copy).absolutePath());
        QFile::remove(copy);
        if (!QFile::copy(shipped, copy))
            return shipped;
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                        QFile::ReadOther);
        page = copy;
    }
    siteList::buildSiteList(iniModule::settingsFilePath(), page);
    return page;
}

} // namespace helpPage
