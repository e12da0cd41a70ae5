#include "pipeline/bootstrap.h"

#include "browser/webengine.h"
#include "net/requestprofile.h"
#include "settings/inimodule.h"

using namespace Qt::StringLiterals;

namespace pipeline {

void chooseSettingsFile(const QString &settingsFile, bool readOnly) {
    iniModule::setSettingsBaseName(u"Kestrelon"_s);
    iniModule::setSettingsFileOverride(settingsFile);
    iniModule::setSettingsReadOnly(readOnly);
}

BootstrapResult bootstrap(const BootstrapOptions &options) {
    chooseSettingsFile(options.settingsFile, options.settingsReadOnly);
    BootstrapResult result;
    const auto proxies = requestProfile::resolveProxy(options.proxy, &result.error);
    if (!proxies)
        return result;
    requestProfile::setProxy(*proxies);
    browser::prepareWebEngine();
    result.ok = true;
    return result;
}

} // namespace pipeline
