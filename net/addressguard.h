#pragma once
// Which addresses belong to this machine or a private network, defined once for every request
// the program makes on behalf of a web page: libcurl's connections and the hidden browsers'
// requests are judged by the same rules. A page from a public site must not reach such an
// address, where services trust whoever can connect; a page from such an address may.

#include <QString>

struct sockaddr;

namespace addressGuard {

// host as every check compares it: lower case, an international name in its ACE form, percent
// escapes decoded as QUrl decodes them, IPv6 brackets and trailing dots removed ("LocalHost."
// becomes "localhost").
QString normalisedHost(const QString &host);

// Whether host names this machine or a private network by itself: "localhost" and the names
// under it, or a loopback, private-use, shared (100.64/10), link-local or unspecified address
// (IPv4 inside IPv6 included). A name that merely resolves to such an address is not; see
// resolvesPrivately.
bool isPrivateHost(const QString &host);

// Whether address, as the system's socket calls give it, is such an address.
bool isPrivateAddress(const sockaddr *address);

// Whether any address the system's resolver gives for host is such an address, or host is one
// by itself. Blocks while the name is looked up; a name that does not resolve is not private.
bool resolvesPrivately(const QString &host);

// Whether the requests made for a page at originUrl may reach private addresses: when the page
// itself comes from one (its host is private by isPrivateHost), or when there is no page to
// answer for (originUrl empty).
bool privateAllowedFor(const QString &originUrl);

// The text that names a refused connection to the user.
QString refusalMessage(const QString &address);

// Tests serve a "public" site from a loopback address: host (a name or an address, as it is
// written in the site's URLs) then counts as public, wherever it is checked. Empty restores the
// default.
void treatAsPublicForTesting(const QString &host);

} // namespace addressGuard
