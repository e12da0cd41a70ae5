#include "cli/ruleprobe.h"

#include "pattern/rulesyntax.h"

#include <QElapsedTimer>

#include <cmath>

using namespace Qt::StringLiterals;
using norModule::placeholderIndex;

namespace rulecheck {

namespace {

// How many value placeholders an alternative has (placeholderIndex counts at most one a
// character, so the count is bounded by the rule's length).
int placeholderCount(const QString &alternative) {
    int count = 0;
    while (placeholderIndex(alternative, count) >= 0)
        ++count;
    return count;
}

// The engine's complaint about an invalid alternative, with where it noticed it. The position
// counts in the rule as the engine reads it, which differs from the written rule only where
// the rule uses a form the engine spells otherwise ("\uXXXX", "[^]", a repeated "(.|\n)").
QString invalidMessage(int index, const QStringList &alternatives,
                       const norModule::CompiledRule &compiled) {
    const QString &alternative = alternatives.at(index);
    const QString read = norModule::translateRule(alternative);
    const QString where = read == alternative
                              ? u"at character %1"_s.arg(compiled.errorOffset() + 1)
                              : u"at character %1 of the rule as the engine reads it, \"%2\""_s
                                    .arg(compiled.errorOffset() + 1)
                                    .arg(read);
    const QString later =
        index + 1 < alternatives.size() ? u"; a job tries no alternative after it"_s : QString();
    return u"alternative %1 is an invalid pattern: %2, %3%4"_s.arg(index + 1).arg(
        compiled.errorMessage(), where, later);
}

} // namespace

void addProblem(QJsonArray &problems, const QString &rule, const QString &kind,
                const QString &message) {
    const QJsonObject problem{{u"rule"_s, rule}, {u"kind"_s, kind}, {u"message"_s, message}};
    if (!problems.contains(problem))
        problems.append(problem);
}

QString excerpt(const QString &text, qsizetype length) {
    if (text.size() <= length)
        return text;
    // A surrogate pair is not cut in two.
    const qsizetype cut = text.at(length - 1).isHighSurrogate() ? length - 1 : length;
    return text.left(cut) + u'…';
}

RuleProbe::RuleProbe(const QString &key, const QStringList &alternatives, Takes takes,
                     int placeholders, QJsonArray &problems)
    : m_key(key)
    , m_alternatives(alternatives)
    , m_takes(takes)
    , m_placeholders(placeholders)
    , m_problems(problems) {
    for (int i = 0; i < alternatives.size(); ++i) {
        const QString &alternative = alternatives.at(i);
        const norModule::CompiledRule compiled = norModule::compileRule(alternative);
        m_valid.append(compiled.isValid());
        if (!compiled.isValid())
            addProblem(m_problems, key, u"invalid-pattern"_s,
                       invalidMessage(i, alternatives, compiled));
        // An invalid alternative has its own problem; its placeholders are beside the point.
        const int count = placeholderCount(alternative);
        if (compiled.isValid() && count < placeholders)
            addProblem(m_problems, key, u"placeholders"_s,
                       u"alternative %1 has fewer value placeholders \"(.*?)\" than %2 needs: "
                       u"%3 of %4%5"_s.arg(i + 1)
                           .arg(key)
                           .arg(count)
                           .arg(placeholders)
                           .arg(placeholders == 2 ? u" (the link, then the name)"_s : QString()));
    }
}

std::optional<QList<norModule::RuleMatch>>
RuleProbe::matchAlternative(int index, const QString &text, const QString &where) {
    if (!m_valid.at(index))
        return std::nullopt;
    QElapsedTimer clock;
    clock.start();
    auto matches = norModule::allMatches(text, m_alternatives.at(index));
    m_milliseconds += clock.nsecsElapsed() / 1e6;
    if (!matches)
        addProblem(m_problems, m_key, u"match-limit"_s,
                   u"alternative %1 hit the engine's match limit on %2: the engine gave up "
                   u"before it found all matches"_s.arg(index + 1)
                       .arg(where));
    return matches;
}

RuleProbe::Run RuleProbe::run(const QString &text, const QString &where) {
    Run run;
    for (int i = 0; i < m_alternatives.size(); ++i) {
        // A job takes nothing from the alternatives after an invalid one.
        if (!m_valid.at(i))
            break;
        const auto matches = matchAlternative(i, text, where);
        if (!matches) {
            run.gaveUp = true;
            break;
        }
        if (matches->isEmpty())
            continue;
        if (m_takes == Takes::LastMatch && placeholderIndex(m_alternatives.at(i), 0) < 0)
            continue;
        run.used = i;
        run.matches = *matches;
        if (m_takes == Takes::FirstMatch)
            break;
    }
    if (++m_runs == 1) {
        m_firstUsed = run.used;
        // Every value the job reads from the first match: the link and the name of a chapter.
        QStringList values;
        for (int ordinal = 0; ordinal < m_placeholders && !run.matches.isEmpty(); ++ordinal)
            values.append(excerpt(value(run, run.matches.first(), ordinal)));
        m_firstValue = values.join(u"  "_s);
    }
    m_matches += run.matches.size();
    return run;
}

RuleProbe::Run RuleProbe::runDeletions(QString &text, const QString &where) {
    Run run;
    for (int i = 0; i < m_alternatives.size(); ++i) {
        // As a job's deletion, the first alternative that fails ends it.
        const auto matches = m_valid.at(i) ? matchAlternative(i, text, where) : std::nullopt;
        if (!matches) {
            run.gaveUp = m_valid.at(i);
            break;
        }
        if (matches->isEmpty())
            continue;
        if (run.used < 0)
            run.used = i;
        run.matches += *matches;
        text = norModule::regReplace(text, m_alternatives.at(i), QString());
    }
    if (++m_runs == 1)
        m_firstUsed = run.used;
    m_matches += run.matches.size();
    return run;
}

QString RuleProbe::value(const Run &run, const norModule::RuleMatch &match, int ordinal) const {
    if (run.used < 0)
        return {};
    const int index = placeholderIndex(m_alternatives.at(run.used), ordinal);
    return index < 0 ? QString() : match.subMatch(index);
}

QJsonObject RuleProbe::report() const {
    return {{u"key"_s, m_key},
            {u"alternatives"_s, QJsonArray::fromStringList(m_alternatives)},
            {u"matched"_s, m_firstUsed},
            {u"matchedRule"_s, m_alternatives.value(m_firstUsed)},
            {u"matches"_s, m_matches},
            {u"milliseconds"_s, std::round(m_milliseconds * 100) / 100},
            {u"value"_s, m_firstValue}};
}

} // namespace rulecheck
