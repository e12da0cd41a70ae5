#pragma once
// Contents pages that their site builds with scripts: the site's own external scripts are
// copied into the page, and the hidden browser builds the page from it.

#include <QString>

#include <optional>

class HiddenBrowser;
class HttpClient;

namespace pipeline {

// The part of host that marks an address as the site's own: the label before its last dot
// ("book" for www.book.com, "abc" for abc.com); nullopt for a host without a dot.
std::optional<QString> siteLabel(const QString &host);

// The page as the hidden browser builds it, with same-site external scripts inlined first. On
// any failure, the page text as far as it got (scripts inlined so far included).
QString renderPage(const QString &pageText, const QString &host, const QString &contentsUrl,
                   HiddenBrowser &browser, HttpClient &http);

// One external script, decoded by its detected character set; "" for an empty body, nullopt
// when the request fails.
std::optional<QString> fetchScript(const QString &address, HttpClient &http);

} // namespace pipeline
