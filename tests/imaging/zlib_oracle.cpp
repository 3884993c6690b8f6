#include "zlib_oracle.h"

#include <zlib.h>

#include <stdexcept>

namespace zlib_oracle {

std::vector<uint8_t> deflate_raw(const std::vector<uint8_t>& in, const Params& p) {
    z_stream s{};
    if (deflateInit2(&s, p.level, Z_DEFLATED, -p.window_bits, p.mem_level, p.strategy) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::vector<uint8_t> out(deflateBound(&s, uLong(in.size())));
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    const int rc = ::deflate(&s, Z_FINISH);
    out.resize(out.size() - s.avail_out);
    deflateEnd(&s);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

namespace {

size_t inflate_with(bool wrapped, const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
    z_stream s{};
    if (inflateInit2(&s, wrapped ? 15 : -15) != Z_OK) throw std::runtime_error("inflateInit2 failed");
    s.next_in = const_cast<Bytef*>(data);
    s.avail_in = uInt(length);
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    const int rc = ::inflate(&s, Z_FINISH);
    const size_t produced = out.size() - s.avail_out;
    inflateEnd(&s);
    if (rc != Z_STREAM_END) throw std::runtime_error("zlib inflate failed");
    return produced;
}

}  // namespace

size_t inflate_raw(const uint8_t* data, size_t length, std::vector<uint8_t>& out) { return inflate_with(false, data, length, out); }
size_t inflate_zlib(const uint8_t* data, size_t length, std::vector<uint8_t>& out) { return inflate_with(true, data, length, out); }

}  // namespace zlib_oracle
