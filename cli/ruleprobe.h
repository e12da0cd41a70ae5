#pragma once
// How one rule of a site's section fares on a page: every alternative compiled and matched by the
// same engine and in the same way as a job matches it, timed, with the usual mistakes put in
// words (too few value placeholders, an invalid pattern, a match limit hit).

#include "pattern/pattern.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace rulecheck {

// Which alternatives a job takes a rule's values from.
enum class Takes {
    FirstMatch, // the first that matches (tagTitle, tagAuthor, tagChapter, tagText, tagNext)
    LastMatch,  // the last that matches with a value placeholder (tagVolume)
    Every,      // all of them, one after another (tagDel)
};

// A problem of the report, once for each rule, kind and message.
void addProblem(QJsonArray &problems, const QString &rule, const QString &kind,
                const QString &message);

// text cut to at most length characters, "…" marking a cut.
QString excerpt(const QString &text, qsizetype length = 80);

class RuleProbe {
public:
    // placeholders: how many value placeholders "(.*?)" the job reads from a match.
    RuleProbe(const QString &key, const QStringList &alternatives, Takes takes, int placeholders,
              QJsonArray &problems);

    // One run on a page's text: the alternative the job takes its values from (-1 when none),
    // its matches, and whether the engine gave up. For Every, text becomes what the rule leaves
    // of it and the matches are those of all alternatives.
    struct Run {
        int used = -1;
        bool gaveUp = false;
        QList<norModule::RuleMatch> matches;
    };
    // where names the page in the words of a problem.
    Run run(const QString &text, const QString &where);
    Run runDeletions(QString &text, const QString &where);

    // The rule's part of the report, over every run so far (the alternative of the first run).
    QJsonObject report() const;
    // The sub-match of the ordinal-th value placeholder of a match of the used alternative.
    QString value(const Run &run, const norModule::RuleMatch &match, int ordinal = 0) const;

private:
    // Matches one alternative, timed; nullopt when it is invalid or the engine gave up (the
    // latter reported).
    std::optional<QList<norModule::RuleMatch>> matchAlternative(int index, const QString &text,
                                                                const QString &where);

    QString m_key;
    QStringList m_alternatives;
    Takes m_takes;
    int m_placeholders;
    QJsonArray &m_problems;
    QList<bool> m_valid;
    int m_runs = 0;
    int m_firstUsed = -1;
    qsizetype m_matches = 0;
    double m_milliseconds = 0;
    QString m_firstValue;
};

} // namespace rulecheck
