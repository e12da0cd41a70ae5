#include "pipeline/searchrules.h"

#include "net/addressguard.h"
#include "net/httpclient.h"
#include "net/zipmodule.h"
#include "pattern/combineurl.h"
#include "pattern/pattern.h"
#include "pipeline/loadsiterules.h"
#include "settings/inimodule.h"
#include "settings/sitekeys.h"
#include "text/charset.h"
#include "text/charsetlabels.h"
#include "text/typeset.h"

#include <QSet>
#include <QStringEncoder>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;
using siteKeys::Key;

namespace search {

namespace {

// A page may list many results, but not without end.
constexpr qsizetype kMaxResultsPerPage = 500;

const QString kKey = u"{key}"_s;

// A key as it stands in the file: the search never adds keys to a section.
QString peek(const QString &section, Key key) {
    return iniModule::peekSetting(section, siteKeys::name(key));
}

// The value of sub-match index of match as text without its tags.
QString plain(const norModule::RuleMatch &match, int index) {
    return typeset::cleanText(match.subMatch(index), true).trimmed();
}

bool webAddress(const QString &url) {
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    return address.isValid() && !address.host().isEmpty() &&
           (scheme == u"http"_s || scheme == u"https"_s);
}

} // namespace

std::optional<SearchSite> loadSite(const QString &section) {
    SearchSite site;
    site.section = section;
    site.searchUrl = peek(section, Key::SearchUrl).trimmed();
    site.tagSearch = pipeline::splitAlternatives(peek(section, Key::TagSearch));
    if (site.searchUrl.isEmpty() || site.tagSearch.isEmpty())
        return std::nullopt;
    site.name = peek(section, Key::TagName).trimmed();
    if (site.name.isEmpty())
        site.name = section;
    site.searchPost = peek(section, Key::SearchPost);
    site.charset = peek(section, Key::SearchCharset).trimmed();
    if (site.charset.isEmpty())
        site.charset =
            pipeline::splitAlternatives(peek(section, Key::TagCharset)).value(0).trimmed();
    site.tagTitle = pipeline::splitAlternatives(peek(section, Key::TagTitle));
    site.tagAuthor = pipeline::splitAlternatives(peek(section, Key::TagAuthor));
    return site;
}

QList<SearchSite> searchableSites() {
    QList<SearchSite> sites;
    for (const QString &section : siteKeys::sectionsWith(Key::SearchUrl)) {
        if (auto site = loadSite(section))
            sites.append(*site);
    }
    return sites;
}

QByteArray encodedKey(const QString &title, const QString &charset) {
    const auto codec = charset::resolveLabel(charset);
    QByteArray bytes;
    if (codec && !codec->encoderName.isEmpty()) {
        QStringEncoder encoder(codec->encoderName.constData(), QStringConverter::Flag::Stateless);
        bytes = encoder.encode(title);
    } else {
        bytes = title.toUtf8();
    }
    // Space, "&", "%" and "+" mean something in a query and a form alike: all are escaped.
    return bytes.toPercentEncoding();
}

SearchRequest searchRequest(const SearchSite &site, const QString &title) {
    const QString key = QString::fromLatin1(encodedKey(title, site.charset));
    SearchRequest request;
    request.url = QString(site.searchUrl).replace(kKey, key, Qt::CaseInsensitive);
    if (!site.searchPost.isEmpty())
        request.form = QString(site.searchPost).replace(kKey, key, Qt::CaseInsensitive).toUtf8();
    request.unencodable = charset::unencodableCount(title, site.charset);
    return request;
}

std::optional<QString> pageText(const HttpResult &result, const QString &charset) {
    QByteArray body = result.body;
    const QByteArray encoding = result.head.header("Content-Encoding").value_or(QByteArray());
    if (encoding.toLower().contains("gzip") && !zipModule::gunzipBody(body))
        return std::nullopt;
    QString name = charset::resolveLabel(charset) ? charset : charset::detectCharset(body);
    QString text = charset::decodeBytes(body, name);
    // The rules read a page as one line, as the contents analysis does.
    text.remove(u'\r');
    text.remove(u'\n');
    text.remove(QChar(0));
    return text;
}

std::optional<QList<SearchResult>> pageResults(const SearchSite &site, const QString &pageUrl,
                                               const QString &text, bool redirected,
                                               QString *failedRule) {
    // A public page may not point the program at this machine or a private network: --pick
    // would otherwise let it choose what is downloaded from there.
    const bool privateAllowed = addressGuard::privateAllowedFor(pageUrl);
    const auto allowed = [&](const QString &url) {
        return webAddress(url) &&
               (privateAllowed || !addressGuard::isPrivateHost(QUrl(url).host()));
    };
    QList<SearchResult> results;
    for (const QString &rule : site.tagSearch) {
        const auto matches = norModule::allMatches(text, rule);
        // A rule that cannot run is the site's failure, not a search without results.
        if (!matches) {
            if (failedRule)
                *failedRule = rule;
            return std::nullopt;
        }
        if (matches->isEmpty())
            continue;
        for (const norModule::RuleMatch &match : *matches) {
            if (results.size() >= kMaxResultsPerPage)
                break;
            // The link as the page's markup writes it ("&amp;" for "&"), read as a chapter
            // link is.
            const QString url =
                norModule::combineUrl(pageUrl, typeset::cleanText(match.subMatch(0), true));
            // An address that cannot be resolved comes back as the page's own.
            if (match.subMatch(0).trimmed().isEmpty() || url == pageUrl || !allowed(url))
                continue;
            results.append({url, plain(match, 1), plain(match, 2), site.name, site.section});
        }
        break; // the first alternative that matches, as with every rule
    }
    if (results.isEmpty() && redirected && allowed(pageUrl)) {
        const QString title = norModule::regMatch(text, site.tagTitle);
        if (!title.isEmpty()) {
            results.append(
                {pageUrl, typeset::cleanText(title, true).trimmed(),
                 typeset::cleanText(norModule::regMatch(text, site.tagAuthor), true).trimmed(),
                 site.name, site.section});
        }
    }
    return results;
}

QList<SearchResult> rankedResults(const QList<SearchResult> &results, const QString &query) {
    const QString wanted = query.trimmed();
    const auto rank = [&wanted](const SearchResult &result) {
        if (result.title.compare(wanted, Qt::CaseInsensitive) == 0)
            return 0;
        if (result.title.startsWith(wanted, Qt::CaseInsensitive))
            return 1;
        return result.title.contains(wanted, Qt::CaseInsensitive) ? 2 : 3;
    };
    QList<SearchResult> ranked = results;
    std::stable_sort(
        ranked.begin(), ranked.end(),
        [&rank](const SearchResult &a, const SearchResult &b) { return rank(a) < rank(b); });
    QSet<QString> seen;
    ranked.removeIf([&seen](const SearchResult &result) {
        if (seen.contains(result.contentsUrl))
            return true;
        seen.insert(result.contentsUrl);
        return false;
    });
    return ranked;
}

} // namespace search
