#include "pattern/rulesyntax.h"

#include <QHash>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace norModule {

namespace {

// PCRE2 counts match steps per search call: 32 a character, never fewer than ten million, which
// take well under a second with the JIT.
constexpr qint64 kMinStepLimit = 10'000'000;
constexpr qint64 kStepsPerCharacter = 32;

// Cached compiled rules per thread; a site uses a handful of rules thousands of times.
constexpr qsizetype kCacheSize = 256;

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The quantifier that follows a "(.|\n)" group at position i, if it is one the rewrite handles.
QString repeatAt(const QString &rule, qsizetype i) {
    for (const QString &q : {u"*?"_s, u"+?"_s, u"*"_s, u"+"_s}) {
        if (QStringView(rule).mid(i).startsWith(q))
            return q;
    }
    return {};
}

} // namespace

QString translateRule(const QString &rule) {
    static const QString anyCharGroup = u"(.|\\n)"_s;
    QString out;
    out.reserve(rule.size() + 16);
    bool inClass = false;
    const qsizetype n = rule.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = rule.at(i);
        if (c == u'\\' && i + 1 < n) {
            const QChar d = rule.at(i + 1);
            if (d == u'u' && i + 5 < n && isHexDigit(rule.at(i + 2)) &&
                isHexDigit(rule.at(i + 3)) && isHexDigit(rule.at(i + 4)) &&
                isHexDigit(rule.at(i + 5))) {
                out += u"\\x{"_s + rule.mid(i + 2, 4) + u'}';
                i += 5;
            } else {
                out += c;
                out += d;
                ++i;
            }
            continue;
        }
        if (inClass) {
            if (c == u']')
                inClass = false;
            out += c;
            continue;
        }
        if (c == u'[') {
            // In ECMAScript "[]" matches nothing and "[^]" any character; PCRE2 would read the
            // "]" as a member of the class.
            if (QStringView(rule).mid(i).startsWith(u"[]")) {
                out += u"(?!)"_s;
                ++i;
                continue;
            }
            if (QStringView(rule).mid(i).startsWith(u"[^]")) {
                out += u"[\\s\\S]"_s;
                i += 2;
                continue;
            }
            inClass = true;
            out += c;
            continue;
        }
        if (c == u'(' && QStringView(rule).mid(i).startsWith(anyCharGroup)) {
            const QString repeat = repeatAt(rule, i + anyCharGroup.size());
            if (!repeat.isEmpty()) {
                out += u"([\\s\\S]"_s + repeat + u')';
                i += anyCharGroup.size() + repeat.size() - 1;
                continue;
            }
        }
        out += c;
    }
    return out;
}

CompiledRule compileRule(const QString &rule) {
    thread_local QHash<QString, CompiledRule> cache;
    const auto found = cache.constFind(rule);
    if (found != cache.cend())
        return found.value();
    CompiledRule compiled(translateRule(rule));
    if (cache.size() >= kCacheSize)
        cache.clear();
    cache.insert(rule, compiled);
    return compiled;
}

quint32 stepLimitFor(qsizetype textLength) {
    const qint64 steps = std::max(kMinStepLimit, qint64(textLength) * kStepsPerCharacter);
    return quint32(std::min<qint64>(steps, std::numeric_limits<quint32>::max()));
}

bool forEachMatch(const CompiledRule &rule, const QString &text,
                  const std::function<void(const RuleHit &)> &visit) {
    if (!rule.isValid())
        return false;
    const quint32 limit = stepLimitFor(text.size());
    qsizetype pos = 0;
    // The engine checks the text for valid UTF-16 from the offset to its end on every call;
    // once the first call has checked it all, checking again would make the walk quadratic.
    bool check = true;
    while (pos <= text.size()) {
        const auto m = rule.match(text, pos, limit, check);
        check = false;
        if (!m)
            return false;
        if (!m->hasMatch())
            break;
        pos = m->capturedEnd(0);
        if (m->capturedLength(0) == 0) {
            // Step over the character after an empty match; a surrogate pair is one step, as
            // the engine cannot start inside it.
            const bool pair = pos + 1 < text.size() && text.at(pos).isHighSurrogate() &&
                              text.at(pos + 1).isLowSurrogate();
            pos += pair ? 2 : 1;
        }
        visit(*m);
    }
    return true;
}

std::optional<RuleHit> matchFirst(const CompiledRule &rule, const QString &text) {
    return rule.match(text, 0, stepLimitFor(text.size()));
}

QString expandReplacement(const QString &replacement, const RuleHit &match, const QString &subject,
                          int captureCount) {
    if (!replacement.contains(u'$'))
        return replacement;
    QString out;
    const qsizetype n = replacement.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = replacement.at(i);
        if (c != u'$' || i + 1 >= n) {
            out += c;
            continue;
        }
        const QChar d = replacement.at(i + 1);
        if (d == u'$') {
            out += u'$';
            ++i;
        } else if (d == u'&') {
            out += match.captured(0);
            ++i;
        } else if (d == u'`') {
            out += QStringView(subject).left(match.capturedStart(0));
            ++i;
        } else if (d == u'\'') {
            out += QStringView(subject).mid(match.capturedEnd(0));
            ++i;
        } else if (d.isDigit() && d.unicode() < 0x80) {
            const int first = d.unicode() - u'0';
            const bool twoDigits = i + 2 < n && replacement.at(i + 2).unicode() >= u'0' &&
                                   replacement.at(i + 2).unicode() <= u'9';
            const int both = twoDigits ? first * 10 + (replacement.at(i + 2).unicode() - u'0') : 0;
            if (twoDigits && both >= 1 && both <= captureCount) {
                out += match.captured(both);
                i += 2;
            } else if (first >= 1 && first <= captureCount) {
                out += match.captured(first);
                ++i;
            } else {
                out += c;
            }
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace norModule
