// Typesetting a chapter: the first line is its title.
#include "tests/fuzz/fuzzinput.h"
#include "text/typeset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto [title, text] = fuzz::ruleAndPage(data, size);
    QString chapter = text;
    typeset::typesetChapter(chapter, title, size % 2 == 0);
    typeset::cleanText(text, true);
    return 0;
}
