#pragma once
// The program-wide options of the settings section "全局设置": their keys and defaults, in the
// order start-up reads them and shutdown writes them, and the book encodings the options offer.

#include "settings/settingkey.h"

#include <QStringList>

#include <array>

namespace globalOptions {

QString section();

// The eight keys, in reading and writing order; every one is written back with its default.
enum class Key {
    Bookshelf,    // the folder book files are written to
    Encoding,     // the book file's encoding, one of bookEncodings()
    DeleteTitle,  // "1": remove the repeated title from a chapter's first line
    SmallChapter, // "1": recognise small chapters
    BrowserText,  // "1": convert chapter HTML through the hidden browser
    ContentsPage, // the contents-page address last used
    RangeStart,   // the first wanted chapter's address last used
    RangeEnd,     // the last wanted chapter's address last used
};
inline constexpr std::size_t kCount = std::size_t(Key::RangeEnd) + 1;

const iniModule::Key &entry(Key key);
QString name(Key key);
// The whole table, indexed by Key.
const std::array<iniModule::Key, kCount> &entries();

// The option's value, a missing one written back with its default.
QString read(Key key);
// False when the settings file could not be written.
bool write(Key key, const QString &value);

// The encodings a book file can be written in, as the window offers them; the first is the
// default.
QStringList bookEncodings();

// The bookshelf folder at start-up: the stored folder when it is still a folder, else the program's
// folder, or the user's documents (their home without them) when the program's folder is
// read-only; always ending with the platform's separator.
QString startupBookshelfFolder();

} // namespace globalOptions
