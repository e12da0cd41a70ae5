#include "window/shellopen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace norModule {

void shellOpen(const QString &target) {
    const QUrl asAddress(target, QUrl::TolerantMode);
    // A one-letter scheme is a drive letter, not an address.
    const bool isAddress = asAddress.isValid() && asAddress.scheme().size() > 1;
    const QUrl url =
        isAddress ? asAddress : QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
    QDesktopServices::openUrl(url);
}

} // namespace norModule
