#pragma once
// The analysis of a book's contents page: title, author line, volume headings and the chapter
// list, with script links evaluated, relative links resolved, the order repaired when the site
// asks for it, the wanted range found and small chapters merged on request.

#include "analysis/siterules.h"

#include <QList>
#include <QString>

class ScriptEngine;

// What the analysis reads besides the page: the three address boxes and the small-chapter option.
struct ContentsRequest {
    QString contentsUrl;
    QString firstChapterUrl;
    QString lastChapterUrl;
    bool smallChapters = false;
};

// What the analysis writes into the job.
struct BookContents {
    QString bookTitle;
    QString bookAuthor;
    ChapterList chapters;
    int chapterIndex = 0; // the first wanted chapter
    int lastIndex = 0;    // the last wanted chapter (inclusive)
};

class ContentsAnalysis {
public:
    ContentsAnalysis(const SiteRules &rules, const ContentsRequest &request, ScriptEngine &scripts,
                     BookContents &book);

    // Runs the whole analysis on the decoded contents page. False when it failed: then no chapter
    // is to be fetched, and what the lists hold at that moment stays.
    bool analyseContents(const QString &page);

    // The steps beneath it, in the order a chapter match runs them.
    void assignVolume(qsizetype position, const QList<qsizetype> &headingPositions,
                      const QStringList &headingNames);
    void addChapterUrl(const QString &link);
    void addChapterName(const QString &name);
    // Puts the chapters in order of their addresses when they are out of order; false (a failure)
    // when there is no chapter.
    bool sortChapters();

private:
    // Each false only when the engine gave up on a rule.
    bool findVolumeHeadings(const QString &page, QList<qsizetype> &positions, QStringList &names);
    bool collectChapters(const QString &page, const QList<qsizetype> &headingPositions,
                         const QStringList &headingNames);
    bool findRange();
    void mergeSmallChapters();
    void keepFirstVolumeNames();

    const SiteRules &m_rules;
    const ContentsRequest &m_request;
    ScriptEngine &m_scripts;
    BookContents &m_book;
};
