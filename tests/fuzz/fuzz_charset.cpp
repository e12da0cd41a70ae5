// Charset detection and decoding of a body as it arrives from a site.
#include "tests/fuzz/fuzzinput.h"
#include "text/charset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray body = fuzz::bytes(data, size);
    charset::decodeBytes(body, charset::detectCharset(body));
    // With a known character set every byte decodes to something, if only to U+FFFD: a bad byte
    // never empties a page. (Only an unfinished last character, at most four bytes in GB18030,
    // gives nothing.)
    if (body.size() > 4 && charset::decodeBytes(body, QStringLiteral("gbk")).isEmpty())
        __builtin_trap();
    return 0;
}
