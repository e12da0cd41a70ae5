#pragma once
// Gives site rules their ECMAScript meaning on top of PCRE2: the rule translation, the bounded
// compiled form, the JavaScript-style global match walk and the JavaScript replacement string.

#include "pattern/compiledrule.h"

#include <QString>

#include <functional>
#include <optional>

namespace norModule {

// Rewrites an ECMAScript rule into PCRE2 syntax: "\uXXXX" becomes "\x{XXXX}", the empty classes
// "[]" and "[^]" keep their ECMAScript meaning, and a repeated "(.|\n)" becomes one repeated
// class, which matches the same text without a backtracking frame per character (PCRE2's JIT
// stack would otherwise overflow on stretches of a few thousand characters).
QString translateRule(const QString &rule);

// The compiled rule: case ignored, multi-line. Invalid rules give an invalid rule. Compiled forms
// are cached per thread.
CompiledRule compileRule(const QString &rule);

// The step limit of one search in a text of textLength characters. A rule that is linear in the
// page needs a few steps a character, so the limit grows with the text; a rule that runs away on
// a hostile page still fails in bounded time instead of hanging.
quint32 stepLimitFor(qsizetype textLength);

// Every match of rule in text, found the way a global ECMAScript expression walks a text (after
// an empty match the search goes on one character further), handed to visit as it is found.
// False when the engine gave up on the text (step limit, heap, JIT stack) or the rule is
// invalid; visit has then seen the matches before the failure.
bool forEachMatch(const CompiledRule &rule, const QString &text,
                  const std::function<void(const RuleHit &)> &visit);

// The first match only, with the same failure contract: nullopt on an engine failure, a hit
// without a match when the rule does not match.
std::optional<RuleHit> matchFirst(const CompiledRule &rule, const QString &text);

// Expands a JavaScript replacement string for one match: $1..$99, $&, $`, $' and $$.
QString expandReplacement(const QString &replacement, const RuleHit &match, const QString &subject,
                          int captureCount);

} // namespace norModule
