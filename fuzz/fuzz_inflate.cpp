// libFuzzer target for inflate::inflate_raw: any bytes; only std::runtime_error may leave it, a
// stream that zlib decodes whole gives exactly zlib's bytes, and a limit cuts the output there.
#include "imaging/inflate.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace {

// zlib's raw inflate of the whole input; false unless it ends the stream cleanly.
bool zlib_inflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    z_stream s{};
    if (inflateInit2(&s, -15) != Z_OK) return false;
    s.next_in = const_cast<Bytef*>(data);
    s.avail_in = static_cast<uInt>(size);
    int rc = Z_OK;
    uint8_t buf[4096];
    while (rc == Z_OK && out.size() < (64u << 20)) {
        s.next_out = buf;
        s.avail_out = sizeof buf;
        rc = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - s.avail_out));
        if (rc == Z_BUF_ERROR && s.avail_in == 0) break;
    }
    inflateEnd(&s);
    return rc == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> all, want;
    bool failed = false;
    try {
        all = inflate::inflate_raw(data, size);
    } catch (const std::runtime_error&) {
        failed = true;
    }
    if (zlib_inflate(data, size, want) && (failed || all != want)) std::abort();
    if (size == 0) return 0;
    // With a limit the output is the same bytes, cut there (a stream that fails past the limit
    // is not read that far).
    size_t limit = static_cast<size_t>(data[size - 1]) * 131;
    try {
        std::vector<uint8_t> cut = inflate::inflate_raw(data, size, limit);
        if (cut.size() > limit) std::abort();
        if (!failed) {
            if (cut.size() != std::min(limit, all.size())) std::abort();
            for (size_t i = 0; i < cut.size(); ++i) {
                if (cut[i] != all[i]) std::abort();
            }
        }
    } catch (const std::runtime_error&) {
        if (!failed) std::abort();  // a stream that decodes whole cannot fail when cut
    }
    return 0;
}
