#pragma once
// Gives site rules their ECMAScript meaning on top of QRegularExpression (PCRE2): the rule
// translation, the bounded compiled form, the JavaScript-style global match walk and the
// JavaScript replacement string.

#include <QRegularExpression>
#include <QRegularExpressionMatch>
#include <QString>

#include <functional>
#include <optional>

namespace norModule {

// Rewrites an ECMAScript rule into PCRE2 syntax: "\uXXXX" becomes "\x{XXXX}", the empty classes
// "[]" and "[^]" keep their ECMAScript meaning, and a repeated "(.|\n)" becomes one repeated
// class, which matches the same text without a backtracking frame per character (PCRE2's JIT
// stack would otherwise overflow on stretches of a few thousand characters).
QString translateRule(const QString &rule);

// The compiled rule: case ignored, multi-line, with match and heap limits at its head so that a
// rule that runs away on a hostile page fails within milliseconds instead of hanging. Invalid
// rules give an invalid expression. Compiled forms are cached per thread.
QRegularExpression compileRule(const QString &rule);

// Every match of re in text, found the way a global ECMAScript expression walks a text (after an
// empty match the search goes on one character further), handed to visit as it is found. False
// when the engine gave up on the text (match limit, JIT stack) or the expression is invalid;
// visit has then seen the matches before the failure.
bool forEachMatch(const QRegularExpression &re, const QString &text,
                  const std::function<void(const QRegularExpressionMatch &)> &visit);

// The first match only, with the same failure contract: nullopt on an engine failure, an empty
// (non-matching) match when the rule does not match.
std::optional<QRegularExpressionMatch> matchFirst(const QRegularExpression &re,
                                                  const QString &text);

// Expands a JavaScript replacement string for one match: $1..$99, $&, $`, $' and $$.
QString expandReplacement(const QString &replacement, const QRegularExpressionMatch &match,
                          const QString &subject, int captureCount);

} // namespace norModule
