#include "pattern/pattern.h"

#include "pattern/rulesyntax.h"

using namespace Qt::StringLiterals;

namespace norModule {

namespace {

RuleMatch toRuleMatch(const RuleHit &m, int groups) {
    RuleMatch rule;
    rule.start = m.capturedStart(0);
    rule.matched = m.captured(0);
    rule.subMatches.reserve(groups);
    for (int g = 1; g <= groups; ++g)
        rule.subMatches.append(m.captured(g));
    return rule;
}

} // namespace

int placeholderIndex(const QString &pattern, int ordinal) {
    static const QString value = u"(.*?)"_s;
    static const QString span = u"(.|\\n)"_s;
    QString copy = pattern;
    copy.remove(u"\\("_s);
    copy.remove(u"\\)"_s);

    int occurrence = 0;
    int placeholder = 0;
    qsizetype pos = 0;
    while (pos < copy.size()) {
        const QStringView rest = QStringView(copy).mid(pos);
        if (rest.startsWith(value, Qt::CaseInsensitive)) {
            if (placeholder == ordinal)
                return occurrence;
            ++placeholder;
            ++occurrence;
            pos += value.size();
        } else if (rest.startsWith(span, Qt::CaseInsensitive)) {
            ++occurrence;
            pos += span.size();
        } else {
            ++pos;
        }
    }
    return -1;
}

QString literalRule(const QString &text) {
    QString rule;
    rule.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == u'\\') {
            // As a code rather than as "\\": placeholderIndex would take the "\(" of an escaped
            // backslash before a placeholder for an escaped parenthesis.
            rule += u"\\x5C"_s;
        } else {
            if (QStringView(u"^$.*+?()[]{}|/").contains(c))
                rule += u'\\';
            rule += c;
        }
    }
    return rule;
}

std::optional<QString> findValue(const QString &text, const QStringList &patterns,
                                 QString *failedRule, MatchFailure *failure) {
    for (const QString &alternative : patterns) {
        // An invalid alternative fails like one the engine gave up on, with the engine's reason:
        // taken for one that found nothing, a typo in tagNext would cut every chapter short.
        const CompiledRule re = compileRule(alternative);
        const auto match = re.match(text, 0, stepLimitFor(text.size()), true, failure);
        if (!match) {
            if (failedRule)
                *failedRule = alternative;
            return std::nullopt;
        }
        if (!match->hasMatch())
            continue;
        const int index = placeholderIndex(alternative, 0);
        if (index < 0)
            return QString();
        return match->captured(index + 1);
    }
    return QString();
}

QString regMatch(const QString &text, const QStringList &patterns) {
    return findValue(text, patterns).value_or(QString());
}

QString regMatch(const QString &text, const QString &pattern) {
    return regMatch(text, QStringList{pattern});
}

QString regReplace(const QString &text, const QStringList &patterns, const QString &replacement) {
    QString current = text;
    for (const QString &alternative : patterns) {
        const CompiledRule re = compileRule(alternative);
        const int captures = re.captureCount();
        QString out;
        qsizetype copied = 0;
        const bool ok = forEachMatch(re, current, [&](const RuleHit &m) {
            if (out.isNull())
                out.reserve(current.size());
            out += QStringView(current).mid(copied, m.capturedStart(0) - copied);
            out += expandReplacement(replacement, m, current, captures);
            copied = m.capturedEnd(0);
        });
        if (!ok)
            return current;
        if (out.isNull())
            continue; // nothing matched
        out += QStringView(current).mid(copied);
        current = std::move(out);
    }
    return current;
}

QString regReplace(const QString &text, const QString &pattern, const QString &replacement) {
    return regReplace(text, QStringList{pattern}, replacement);
}

std::optional<QList<RuleMatch>> allMatches(const QString &text, const QString &pattern) {
    const CompiledRule re = compileRule(pattern);
    const int groups = re.captureCount();
    QList<RuleMatch> result;
    if (!forEachMatch(re, text, [&](const RuleHit &m) { result.append(toRuleMatch(m, groups)); }))
        return std::nullopt;
    return result;
}

} // namespace norModule
