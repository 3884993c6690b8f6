#include "zlib_oracle.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace zlib_oracle {

std::vector<uint8_t> deflate_raw(const std::vector<uint8_t>& in, const Params& p) {
    z_stream s{};
    if (deflateInit2(&s, p.level, Z_DEFLATED, -p.window_bits, p.mem_level, p.strategy) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(1 << 16);
    size_t done = 0;
    for (;;) {
        size_t chunk = p.flush_every ? std::min(p.flush_every, in.size() - done) : in.size() - done;
        bool last = done + chunk == in.size();
        s.next_in = const_cast<Bytef*>(in.data() + done);
        s.avail_in = static_cast<uInt>(chunk);
        int flush = last ? Z_FINISH : (p.full_flush ? Z_FULL_FLUSH : Z_SYNC_FLUSH);
        int rc;
        do {
            s.next_out = buf.data();
            s.avail_out = static_cast<uInt>(buf.size());
            rc = deflate(&s, flush);
            if (rc == Z_STREAM_ERROR) {
                deflateEnd(&s);
                throw std::runtime_error("deflate failed");
            }
            out.insert(out.end(), buf.data(), buf.data() + (buf.size() - s.avail_out));
        } while (s.avail_out == 0 || (last && rc != Z_STREAM_END));
        done += chunk;
        if (last) break;
    }
    deflateEnd(&s);
    return out;
}

namespace {

size_t inflate_with(int window_bits, const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
    z_stream s{};
    if (inflateInit2(&s, window_bits) != Z_OK) throw std::runtime_error("inflateInit2 failed");
    s.next_in = const_cast<Bytef*>(data);
    s.avail_in = static_cast<uInt>(length);
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&s, Z_FINISH);
    size_t produced = out.size() - s.avail_out;
    inflateEnd(&s);
    if (rc != Z_STREAM_END) throw std::runtime_error("zlib inflate failed");
    return produced;
}

}  // namespace

size_t inflate_raw(const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
    return inflate_with(-15, data, length, out);
}

size_t inflate_zlib(const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
    return inflate_with(15, data, length, out);
}

}  // namespace zlib_oracle
