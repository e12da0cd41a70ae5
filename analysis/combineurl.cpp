#include "combineurl.h"

#include <QUrl>

namespace norModule {

namespace {

// Blanks around an address carry no meaning and line breaks inside one come from wrapped page
// source; a browser drops both before it parses an address, and so do we.
QString tidyAddress(const QString &address) {
    QString tidy = address;
    tidy.remove(u'\t');
    tidy.remove(u'\r');
    tidy.remove(u'\n');
    qsizetype first = 0;
    qsizetype last = tidy.size();
    while (first < last && tidy.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && tidy.at(last - 1).unicode() <= 0x20)
        --last;
    return tidy.mid(first, last - first);
}

} // namespace

QString combineUrl(const QString &base, const QString &link) {
    if (base.isEmpty())
        return {};
    const QUrl linkUrl(tidyAddress(link), QUrl::TolerantMode);
    if (!linkUrl.isValid())
        return base;
    if (!linkUrl.isRelative())
        return linkUrl.toString(QUrl::FullyEncoded);
    const QUrl baseUrl(tidyAddress(base), QUrl::TolerantMode);
    if (!baseUrl.isValid() || baseUrl.isRelative())
        return base;
    const QUrl combined = baseUrl.resolved(linkUrl);
    if (!combined.isValid())
        return base;
    return combined.toString(QUrl::FullyEncoded);
}

} // namespace norModule
