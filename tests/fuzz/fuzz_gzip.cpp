// Inflating a body that says it is gzip.
#include "net/zipmodule.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QByteArray body = fuzz::bytes(data, size);
    if (zipModule::gunzipBody(body) && body.size() > zipModule::kMaxInflated)
        __builtin_trap();
    return 0;
}
