#include "browser/plaincookie.h"

#include <QByteArrayList>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string_view>

using namespace Qt::StringLiterals;

namespace {

// A larger page is left to the browser rather than copied for the search below.
constexpr qsizetype kMaxScanned = qsizetype(16) << 20;

// Elements that by themselves neither run a script, nor fetch anything, nor lead elsewhere.
constexpr std::string_view kQuietElements[] = {
    "a",     "abbr",       "address", "article", "aside",  "b",       "base",   "bdi",    "bdo",
    "big",   "blockquote", "body",    "br",      "button", "caption", "center", "cite",   "code",
    "col",   "colgroup",   "dd",      "del",     "dfn",    "div",     "dl",     "dt",     "em",
    "font",  "footer",     "form",    "h1",      "h2",     "h3",      "h4",     "h5",     "h6",
    "head",  "header",     "hr",      "html",    "i",      "input",   "ins",    "kbd",    "label",
    "li",    "main",       "mark",    "meta",    "nav",    "nobr",    "ol",     "option", "p",
    "pre",   "q",          "s",       "section", "select", "small",   "span",   "strike", "strong",
    "sub",   "sup",        "table",   "tbody",   "td",     "tfoot",   "th",     "thead",  "time",
    "title", "tr",         "tt",      "u",       "ul",     "var",     "wbr"};

// Words that, wherever they stand, may belong to a fetch, a script, a style sheet (which fetches
// what its url() and @import name) or a move elsewhere. Text that holds one is left to the
// browser too: the page is then merely not plain enough.
constexpr std::string_view kTellingWords[] = {"script",     "src",   "background", "poster",
                                              "style",      "url",   "import",     "refresh",
                                              "expression", "xlink", "<?",         "manifest"};

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool letterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool quiet(std::string_view element) {
    return std::find(std::begin(kQuietElements), std::end(kQuietElements), element) !=
           std::end(kQuietElements);
}

// Every tag of the page names a quiet element. Tags are found the way an HTML parser starts
// them, "<" and a letter, in text, comments and attribute values as well: a false one only
// leaves the page to the browser.
bool onlyQuietElements(std::string_view page) {
    for (size_t at = page.find('<'); at != std::string_view::npos; at = page.find('<', at + 1)) {
        if (at + 1 >= page.size() || page[at + 1] < 'a' || page[at + 1] > 'z')
            continue;
        size_t end = at + 1;
        while (end < page.size() && !blank(page[end]) && page[end] != '/' && page[end] != '>')
            ++end;
        if (!quiet(page.substr(at + 1, end - at - 1)))
            return false;
    }
    return true;
}

// An event handler ("onload=") anywhere, the name starting after anything but a letter or a
// digit: an attribute may follow a quoted value with no blank between.
bool hasEventHandler(std::string_view page) {
    for (size_t at = page.find("on"); at != std::string_view::npos; at = page.find("on", at + 1)) {
        if (at > 0 && letterOrDigit(page[at - 1]))
            continue;
        size_t end = at + 2;
        while (end < page.size() && page[end] >= 'a' && page[end] <= 'z')
            ++end;
        while (end < page.size() && blank(page[end]))
            ++end;
        if (end < page.size() && page[end] == '=')
            return true;
    }
    return false;
}

// Every "http-equiv" is the "content-type" one, which only names the character set.
bool onlyContentTypeEquiv(std::string_view page) {
    static constexpr std::string_view equiv = "http-equiv";
    static constexpr std::string_view type = "content-type";
    for (size_t at = page.find(equiv); at != std::string_view::npos;
         at = page.find(equiv, at + 1)) {
        size_t end = at + equiv.size();
        while (end < page.size() && blank(page[end]))
            ++end;
        if (end >= page.size() || page[end++] != '=')
            return false;
        while (end < page.size() && blank(page[end]))
            ++end;
        const char quote =
            end < page.size() && (page[end] == '"' || page[end] == '\'') ? page[end++] : '\0';
        if (page.substr(end, type.size()) != type)
            return false;
        end += type.size();
        const char after = end < page.size() ? page[end] : '\0';
        if (quote ? after != quote : !(blank(after) || after == '/' || after == '>'))
            return false;
    }
    return true;
}

// The page can neither run a script nor fetch anything, nor go elsewhere. It is read as bytes:
// in every character set a browser decodes a page with, an ASCII character of the text is the
// same byte of the page, except in UTF-16, whose "<" has a NUL byte beside it.
bool plainPage(QByteArrayView html) {
    if (html.size() > kMaxScanned || html.contains('\0') || html.startsWith("\xFE\xFF") ||
        html.startsWith("\xFF\xFE"))
        return false;
    const QByteArray lowered = html.toByteArray().toLower();
    const std::string_view page(lowered.constData(), size_t(lowered.size()));
    for (std::string_view word : kTellingWords) {
        if (page.find(word) != std::string_view::npos)
            return false;
    }
    return onlyQuietElements(page) && !hasEventHandler(page) && onlyContentTypeEquiv(page);
}

bool tokenCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A value character as RFC 6265 has it: no blank, quote, comma, semicolon or backslash.
bool cookieCharacter(char c) {
    return c > 0x20 && c < 0x7F && c != '"' && c != ',' && c != ';' && c != '\\';
}

struct PlainCookie {
    QByteArray name;
    QByteArray value;
    QByteArray path; // empty: the default path
    bool httpOnly = false;
};

// One "Set-Cookie" header as a browser stores it; nullopt when it is not plain.
std::optional<PlainCookie> parseCookie(const QByteArray &header) {
    const QByteArrayList parts = header.split(';');
    const QByteArray pair = parts.first();
    const qsizetype equals = pair.indexOf('=');
    PlainCookie cookie{pair.first(std::max<qsizetype>(equals, 0)).trimmed(),
                       pair.mid(equals + 1).trimmed(),
                       {},
                       false};
    const QByteArray lowered = cookie.name.toLower();
    if (equals < 0 || cookie.name.isEmpty() || cookie.value.isEmpty() ||
        cookie.name.size() + cookie.value.size() > 4096 ||
        !std::all_of(cookie.name.cbegin(), cookie.name.cend(), tokenCharacter) ||
        !std::all_of(cookie.value.cbegin(), cookie.value.cend(), cookieCharacter) ||
        lowered.startsWith("__secure-") || lowered.startsWith("__host-"))
        return std::nullopt;
    QByteArrayList seen;
    for (const QByteArray &part : parts.sliced(1)) {
        const qsizetype split = part.indexOf('=');
        const QByteArray name = (split < 0 ? part : part.first(split)).trimmed().toLower();
        const QByteArray value = split < 0 ? QByteArray() : part.mid(split + 1).trimmed();
        if (name.isEmpty() && value.isEmpty())
            continue; // "a=b;" or "a=b; ;"
        if (seen.contains(name))
            return std::nullopt;
        seen.append(name);
        const bool plainPath =
            value.startsWith('/') && value.size() <= 1024 &&
            std::all_of(value.cbegin(), value.cend(), [](char c) {
                return std::isalnum(uchar(c)) ||
                       std::string_view("/._~-").find(c) != std::string_view::npos;
            });
        const bool number =
            !value.isEmpty() && !value.startsWith('0') && value.size() < 10 &&
            std::all_of(value.cbegin(), value.cend(), [](char c) { return c >= '0' && c <= '9'; });
        if (name == "path" && plainPath)
            cookie.path = value;
        else if (name == "httponly" && value.isEmpty())
            cookie.httpOnly = true;
        else if (!(name == "samesite" &&
                   (value.toLower() == "lax" || value.toLower() == "strict")) &&
                 !(name == "max-age" && number))
            return std::nullopt;
    }
    return cookie;
}

// The path a cookie without one of its own gets: the address's path up to its last "/".
QByteArray defaultPath(const QByteArray &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.first(slash);
}

bool pathMatches(const QByteArray &cookiePath, const QByteArray &path) {
    return path == cookiePath || (path.startsWith(cookiePath) &&
                                  (cookiePath.endsWith('/') || path.at(cookiePath.size()) == '/'));
}

} // namespace

namespace browser {

std::optional<QString> plainPageCookie(const QUrl &url, const ResponseHead &head,
                                       QByteArrayView html) {
    const QByteArray type = head.header("Content-Type").value_or(QByteArray());
    if (head.status != 200 || type.split(';').first().trimmed().toLower() != "text/html" ||
        head.header("Refresh") || head.header("Link") || head.header("Content-Disposition") ||
        !plainPage(html))
        return std::nullopt;
    QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
    if (path.isEmpty())
        path = "/";
    QByteArrayList names;
    QByteArrayList seen; // by a script
    for (const auto &[name, value] : head.headers) {
        if (name.compare("Set-Cookie", Qt::CaseInsensitive) != 0)
            continue;
        const auto cookie = parseCookie(value);
        if (!cookie || names.contains(cookie->name))
            return std::nullopt;
        names.append(cookie->name);
        const QByteArray cookiePath = cookie->path.isEmpty() ? defaultPath(path) : cookie->path;
        if (!cookie->httpOnly && pathMatches(cookiePath, path))
            seen.append(cookie->name + '=' + cookie->value);
    }
    if (seen.size() > 1)
        return std::nullopt;
    return QString::fromLatin1(seen.value(0));
}

} // namespace browser
