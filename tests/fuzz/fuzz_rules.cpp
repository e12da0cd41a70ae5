// The rule adapter: a rule (first line) translated, compiled and matched on a page (the rest).
#include "pattern/pattern.h"
#include "pattern/rulesyntax.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto [rule, page] = fuzz::ruleAndPage(data, size);
    norModule::translateRule(rule);
    norModule::findValue(page, QStringList{rule});
    norModule::regReplace(page, rule, QStringLiteral("[$1|$&|$$]"));
    norModule::allMatches(page, rule);
    norModule::placeholderIndex(rule, 1);
    return 0;
}
