#pragma once
// What a job knows of its site and its book: the site's rules from the settings file, and the
// chapter list the contents page yields.

#include <QString>
#include <QStringList>

#include <array>

// The per-host rules. Lists hold alternative patterns (a value split at "||"); the three switches
// count only by being empty or not; tagCharset has one entry per page kind ("" means detect).
struct SiteRules {
    std::array<QString, 3> tagCharset;
    QString tagSort;
    QString tagUrl;
    QString tagHtml;
    QStringList tagTitle;
    QStringList tagAuthor;
    QStringList tagVolume;
    QStringList tagChapter;
    QStringList tagText;
    QStringList tagDel;
    QStringList tagNext;
};

// Three parallel lists, one entry per chapter found on the contents page.
struct ChapterList {
    QStringList chapterUrls;
    QStringList chapterNames;
    QStringList volumeNames;
};
