#pragma once
// The cookie a browser's document holds after loading a page, read from the plain response when
// the page can do nothing a browser would add to it: starting the browser engine for such a page
// costs a job a good part of a second and yields the same string.

#include "net/httpclient.h"

#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <optional>

namespace browser {

// What document.cookie reads once a browser with no cookies of its own has loaded url and got
// head and html (inflated) as its answer: the cookies of the response's "Set-Cookie" headers
// that a script may see. nullopt unless that is certain from the response alone: a page that may
// run a script, fetch anything more or go elsewhere, a response other than a plain 200 HTML
// page, or a cookie whose attributes ask for more than a name, a value, a path, HttpOnly,
// SameSite Lax or Strict and a Max-Age, or more than one cookie a script would see (their order
// is the engine's). A browser must load such a page.
std::optional<QString> plainPageCookie(const QUrl &url, const ResponseHead &head,
                                       QByteArrayView html);

} // namespace browser
