// HTML to text on a chapter's markup.
#include "pattern/htmltotext.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QString text = fuzz::text(data, size);
    norModule::htmlToText(text);
    return 0;
}
