#pragma once
// Contents pages that their site builds with scripts: the site's own external scripts are
// copied into the page, and the hidden browser builds the page from it.

#include <QString>

#include <optional>

class HiddenBrowser;
class HttpClient;

namespace browser {

// The page as the hidden browser builds it, with the external scripts of the contents page's
// own host inlined first (hosts compared as addressGuard normalises them; host, the job's
// "host:port", stands in when contentsUrl has none). The scripts are fetched on behalf of the
// contents page (HttpClient::setOrigin), so a page from a public site cannot have a private
// address's answer copied into it, redirects included. On any failure, the page text as far as
// it got (scripts inlined so far included).
QString renderPage(const QString &pageText, const QString &host, const QString &contentsUrl,
                   HiddenBrowser &browser, HttpClient &http);

// One external script, decoded by its detected character set; "" for an empty body, nullopt
// when the request fails.
std::optional<QString> fetchScript(const QString &address, HttpClient &http);

} // namespace browser
