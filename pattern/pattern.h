#pragma once
// The pattern helpers every site rule goes through: find a value, replace what a rule matches,
// and locate the capture group of a value placeholder. Stateless; failures show in the result.

#include "pattern/compiledrule.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace norModule {

// One match of a rule: where it starts in the searched text, the text it matched, and its
// sub-matches, numbered from 0 in the order of their opening parentheses (sub-match k is capture
// group k + 1).
struct RuleMatch {
    qsizetype start = 0;
    QString matched;
    QStringList subMatches;

    QString subMatch(int index) const { return subMatches.value(index); }
};

// The capture-group index (0-based sub-match number) of the ordinal-th value placeholder "(.*?)"
// of pattern, counting "(.|\n)" groups as groups but never as values; -1 when there is none.
int placeholderIndex(const QString &pattern, int ordinal);

// A rule that matches exactly text (letter case aside): every character with a meaning in a
// rule is escaped. For text taken from a page and put into a rule.
QString literalRule(const QString &text);

// The first value of the first match of the first alternative that matches; "" when none
// matches, and "" on any failure (an invalid alternative, a matching alternative without a
// value placeholder, a rule the engine gives up on).
QString regMatch(const QString &text, const QStringList &patterns);
QString regMatch(const QString &text, const QString &pattern);

// regMatch that tells a rule the engine gave up on or could not compile apart from a rule that
// found nothing: nullopt then, with that alternative in *failedRule and in *failure whether it
// hit the engine's limit (a hostile or huge page) or failed otherwise (an invalid alternative
// among them), in the engine's words.
std::optional<QString> findValue(const QString &text, const QStringList &patterns,
                                 QString *failedRule = nullptr, MatchFailure *failure = nullptr);

// Every match of every alternative replaced, alternative after alternative. The replacement
// follows JavaScript ($1, $&, $$ ...). On a failing alternative the text as it stood before that
// alternative is returned.
QString regReplace(const QString &text, const QStringList &patterns, const QString &replacement);
QString regReplace(const QString &text, const QString &pattern, const QString &replacement);

// All matches of one rule, in text order; nullopt when the rule is invalid or the engine gives
// up on the text.
std::optional<QList<RuleMatch>> allMatches(const QString &text, const QString &pattern);

} // namespace norModule
