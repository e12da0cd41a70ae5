#include "net/zipmodule.h"

#include <zlib.h>

namespace zipModule {

namespace {

bool startsMember(const QByteArray &body, qsizetype at) {
    return at + 1 < body.size() && uchar(body.at(at)) == 0x1f && uchar(body.at(at + 1)) == 0x8b;
}

} // namespace

bool gunzipBody(QByteArray &body) {
    if (!startsMember(body, 0) || body.size() > kMaxInflated)
        return false;

    z_stream stream{};
    // 16 + MAX_WBITS: the gzip wrapper, with the largest window.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return false;

    // The output grows as it fills; its size is never taken from the body's own header bytes.
    QByteArray out;
    out.resize(qMin<qsizetype>(qMax<qsizetype>(body.size() * 4, 16 * 1024), kMaxInflated));
    qsizetype written = 0;
    qsizetype consumed = 0;
    bool ok = false;
    for (;;) {
        if (written == out.size()) {
            if (out.size() >= kMaxInflated)
                break;
            out.resize(qMin<qsizetype>(out.size() * 2, kMaxInflated));
        }
        const qsizetype available = body.size() - consumed;
        stream.next_in = reinterpret_cast<Bytef *>(body.data() + consumed);
        stream.avail_in = uInt(qMin<qsizetype>(available, 1 << 30));
        stream.next_out = reinterpret_cast<Bytef *>(out.data() + written);
        stream.avail_out = uInt(qMin<qsizetype>(out.size() - written, 1 << 30));
        const uInt inBefore = stream.avail_in;
        const uInt outBefore = stream.avail_out;
        const int status = inflate(&stream, Z_NO_FLUSH);
        consumed += inBefore - stream.avail_in;
        written += outBefore - stream.avail_out;
        if (status == Z_STREAM_END) {
            // Another member may follow; anything else after a complete member (padding) ends
            // the body, as browsers read it.
            if (!startsMember(body, consumed)) {
                ok = true;
                break;
            }
            if (inflateReset(&stream) != Z_OK)
                break;
            continue;
        }
        if (status == Z_BUF_ERROR && stream.avail_out > 0)
            break; // the input ended inside a member: the body was cut short
        if (status != Z_OK && status != Z_BUF_ERROR)
            break;
    }
    inflateEnd(&stream);
    if (!ok)
        return false;
    out.truncate(written);
    body = std::move(out);
    return true;
}

} // namespace zipModule
