#pragma once
// The program-wide options of the settings section "全局设置": their keys and defaults, in the
// order start-up reads them and shutdown writes them.

#include <QString>

#include <array>

namespace globalOptions {

struct Option {
    QString key;
    QString defaultValue;
};

QString section();

// The eight keys, in reading and writing order.
QString bookshelfKey();    // the folder book files are written to
QString encodingKey();     // the book file's encoding: gbk, utf-8, unicode or big5
QString deleteTitleKey();  // "1": remove the repeated title from a chapter's first line
QString smallChapterKey(); // "1": recognise small chapters
QString browserTextKey();  // "1": convert chapter HTML through the hidden browser
QString contentsPageKey(); // the contents-page address last used
QString rangeStartKey();   // the first wanted chapter's address last used
QString rangeEndKey();     // the last wanted chapter's address last used
const std::array<Option, 8> &options();

// The bookshelf folder at start-up: the stored folder when it is still a folder, else the program's
// folder; always ending with the platform's separator.
QString startupBookshelfFolder();

} // namespace globalOptions
