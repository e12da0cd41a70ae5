#include "browser/renderpage.h"

#include "browser/hiddenbrowser.h"
#include "net/addressguard.h"
#include "net/httpclient.h"
#include "pattern/combineurl.h"
#include "pattern/pattern.h"
#include "text/charset.h"

#include <QUrl>

#include <utility>

using namespace Qt::StringLiterals;

namespace browser {

namespace {

// The client's requests are made for another page while it lives.
class OriginScope {
public:
    OriginScope(HttpClient &http, const QString &origin)
        : m_http(http)
        , m_previous(http.origin()) {
        m_http.setOrigin(origin);
    }
    ~OriginScope() { m_http.setOrigin(m_previous); }
    OriginScope(const OriginScope &) = delete;
    OriginScope &operator=(const OriginScope &) = delete;

private:
    HttpClient &m_http;
    QString m_previous;
};

} // namespace

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
    const QUrl contents(contentsUrl);
    const QString ownHost = addressGuard::normalisedHost(
        contents.host().isEmpty() ? QUrl(u"http://"_s + host).host() : contents.host());
    // The page runs with every inlined script's text, and may send it anywhere: only what the
    // contents page's own host serves is copied in, and only from public addresses when that
    // host is public.
    const OriginScope scope(http, contentsUrl);
    for (const norModule::RuleMatch &tag : std::as_const(*tags)) {
        QString source = norModule::regMatch(tag.matched, u"src=(.*?)( |>)"_s);
        source.remove(u'\'');
        source.remove(u'"');
        source = norModule::combineUrl(contentsUrl, source);
        if (ownHost.isEmpty() || addressGuard::normalisedHost(QUrl(source).host()) != ownHost)
            continue; // another host's script stays a reference
        const auto script = fetchScript(source, http);
        if (!script)
            return page;
        page.replace(tag.matched, u"<script>"_s + *script + u"</script>"_s);
    }
    return browser.buildPage(page, contents).value_or(page);
}

} // namespace browser
