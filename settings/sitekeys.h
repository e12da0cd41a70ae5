#pragma once
// The keys of a site's section in the settings file, in the order a job reads them: every part of
// the program that reads or names a site's key takes the name from here.

#include "settings/settingkey.h"

#include <QStringList>

#include <array>

namespace siteKeys {

// tagName first, as a section begins with it; then the rule keys in the order a job reads them,
// which is the order it adds missing ones in (an empty "plugins" is removed again); then the fetch
// keys and the search keys, only ever read as they stand.
enum class Key {
    TagName,    // the site's display name, only listed on the help page; never read or added
    TagTitle,   // the book's title; a section without it is no rule site
    TagCharset, // character sets of contents page, chapter page and text document, "||" apart
    Plugins,    // the plug-in that reads the site instead of the rules below
    TagSort,    // any value: sort chapters by address
    TagUrl,     // any value: append links to the contents address as they are
    TagHtml,    // any value: let the hidden browser run the contents page's scripts first
    TagAuthor,
    TagVolume,
    TagChapter, // the chapter links: address, then name
    TagText,
    TagDel,        // stretches removed from a chapter's text
    TagNext,       // the link to a chapter's next page
    Parallel,      // requests in flight at once
    Retries,       // further tries of a request that may pass
    Delay,         // least milliseconds between the starts of two requests
    Resume,        // any value but "0": keep whole responses for a rerun
    SearchUrl,     // the search page's address, "{key}" standing for the title
    SearchPost,    // a form body with "{key}": the search is then a POST
    SearchCharset, // the character set the title is encoded in for the search
    TagSearch,     // a search result: contents address, title, and optionally the author
};
inline constexpr std::size_t kCount = std::size_t(Key::TagSearch) + 1;

const iniModule::Key &entry(Key key);
QString name(Key key);
// The whole table, indexed by Key.
const std::array<iniModule::Key, kCount> &entries();

// The value of key in host's section, written back with its default or not as the table says.
QString read(const QString &host, Key key);

// The sections of the settings file in which key has a value, in the order the file has them.
// Nothing is written.
QStringList sectionsWith(Key key);

} // namespace siteKeys
