#pragma once
// A site rule compiled for PCRE2's 16-bit library, matched straight on a QString's characters.
// Going to PCRE2 directly (rather than through QRegularExpression) lets each match set its own
// step limit, so that the limit can grow with the page.

#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace norModule {

// One match: the span of the whole match and of each capture group (-1, -1 for a group that
// took no part), over the subject it was found in.
class RuleHit {
public:
    bool hasMatch() const { return !m_spans.isEmpty(); }
    qsizetype capturedStart(int group) const;
    qsizetype capturedEnd(int group) const;
    qsizetype capturedLength(int group) const;
    // "" for a group that took no part.
    QString captured(int group) const;

private:
    friend class CompiledRule;
    QString m_subject;        // shared, not copied
    QList<qsizetype> m_spans; // start and end of group 0, 1, ...
};

// Why the engine gave a search up.
struct MatchFailure {
    // The step, depth or heap limit: the rule costs too much on this text. Any other failure
    // is the engine's error.
    bool limit = false;
    QString message; // in the engine's words
};

class CompiledRule {
public:
    // pattern in PCRE2 syntax, compiled with case ignored, multi-line, UTF-16; an invalid pattern
    // gives a rule whose isValid() is false.
    explicit CompiledRule(const QString &pattern);

    bool isValid() const { return m_code != nullptr; }
    int captureCount() const { return m_captures; }
    // Why the pattern did not compile, in the engine's words, and the character of the pattern
    // where the engine noticed it; "" and -1 for a valid rule.
    QString errorMessage() const { return m_error; }
    qsizetype errorOffset() const { return m_errorOffset; }

    // The first match at or after offset; a hit without a match when there is none; nullopt,
    // with the reason in *failure, when the engine gave up (more than stepLimit steps, its heap
    // or stack) or failed otherwise. A lone surrogate in text (a decoder lets them through from
    // broken UTF-16) is matched as U+FFFD, one code unit for one, so offsets and spans stay
    // those of text; the hit's captures hold U+FFFD there. checkText false is for the next
    // search in a text searched just before: its scan is not repeated.
    std::optional<RuleHit> match(const QString &text, qsizetype offset, quint32 stepLimit,
                                 bool checkText = true, MatchFailure *failure = nullptr) const;

private:
    struct Code;
    std::shared_ptr<Code> m_code;
    int m_captures = 0;
    QString m_error;
    qsizetype m_errorOffset = -1;
};

} // namespace norModule
