#include "pipeline/renderpage.h"

#include "net/httpclient.h"
#include "pattern/combineurl.h"
#include "pattern/pattern.h"
#include "pipeline/hiddenbrowser.h"
#include "text/charset.h"

using namespace Qt::StringLiterals;

namespace pipeline {

std::optional<QString> siteLabel(const QString &host) {
    const qsizetype last = host.lastIndexOf(u'.');
    if (last < 0)
        return std::nullopt;
    const qsizetype before = last > 0 ? host.lastIndexOf(u'.', last - 1) : -1;
    return host.mid(before + 1, last - before - 1);
}

std::optional<QString> fetchScript(const QString &address, HttpClient &http) {
    const HttpResult result = http.get(address, QString(), nullptr);
    if (!result.ok)
        return std::nullopt;
    if (result.body.isEmpty() || result.body.at(0) == '\0')
        return QString();
    QString text = charset::decodeBytes(result.body, charset::detectCharset(result.body));
    text.remove(QChar(0));
    return text;
}

QString renderPage(const QString &pageText, const QString &host, const QString &contentsUrl,
                   HiddenBrowser &browser, HttpClient &http) {
    QString page = pageText;
    // External scripts with nothing between their tags.
    const auto tags = norModule::allMatches(page, u"<script[^>]*? src=[^>]*?></script>"_s);
    if (!tags)
        return page;
    const auto label = siteLabel(host);
    if (!tags->isEmpty() && label) {
        for (const norModule::RuleMatch &tag : *tags) {
            QString source = norModule::regMatch(tag.matched, u"src=(.*?)( |>)"_s);
            source.remove(u'\'');
            source.remove(u'"');
            source = norModule::combineUrl(contentsUrl, source);
            if (!source.contains(*label, Qt::CaseInsensitive))
                continue; // another site's script stays a reference
            const auto script = fetchScript(source, http);
            if (!script)
                return page;
            page.replace(tag.matched, u"<script>"_s + *script + u"</script>"_s);
        }
    }
    return browser.buildPage(page, QUrl(contentsUrl)).value_or(page);
}

} // namespace pipeline
