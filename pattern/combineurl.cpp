#include "pattern/combineurl.h"

#include <QUrl>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

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

// How much of link any address made from it keeps, at the least. Resolution removes only "."
// and ".." segments (with the segment a ".." climbs over): a path without them is kept whole, and
// of any other path its last segment survives unless it is one of them. The query and fragment
// are kept, and encoding never makes a character shorter.
qsizetype keptLength(const QUrl &link) {
    const QString path = link.path(QUrl::PrettyDecoded);
    const QList<QStringView> segments = QStringView(path).split(u'/');
    auto isDots = [](QStringView segment) { return segment == u"." || segment == u".."; };
    qsizetype kept = 0;
    if (std::none_of(segments.cbegin(), segments.cend(), isDots))
        kept = path.size();
    else if (!isDots(segments.last()))
        kept = segments.last().size();
    if (link.hasQuery())
        kept += link.query(QUrl::PrettyDecoded).size();
    if (link.hasFragment())
        kept += link.fragment(QUrl::PrettyDecoded).size();
    return kept;
}

} // namespace

std::optional<QString> combineUrlWithin(const QString &base, const QString &link,
                                        qsizetype maxLength) {
    if (base.isEmpty())
        return QString();
    const QString tidyLink = tidyAddress(link);
    QUrl linkUrl(tidyLink, QUrl::TolerantMode);
    if (!linkUrl.isValid() && linkUrl.isRelative() && tidyLink.contains(u':') &&
        !tidyLink.startsWith(u'/')) {
        // A colon before the first "/" makes a link read as "scheme:..."; where what stands
        // before it cannot be a scheme ("他说:" or "Chapter 1:"), browsers take the link for a
        // relative path, and so does this: "./" in front resolves to the same address.
        const QUrl asPath(u"./"_s + tidyLink, QUrl::TolerantMode);
        if (asPath.isValid())
            linkUrl = asPath;
    }
    if (!linkUrl.isValid())
        return base;
    if (keptLength(linkUrl) > maxLength)
        return std::nullopt;
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

QString combineUrl(const QString &base, const QString &link) {
    return *combineUrlWithin(base, link, std::numeric_limits<qsizetype>::max());
}

} // namespace norModule
