// libFuzzer target for inflate::inflate_raw: any bytes; only std::runtime_error may leave it, a
// stream that zlib decodes whole gives exactly zlib's bytes, and a limit cuts the output there.
#include "imaging/inflate.h"
#include "tests/imaging/zlib_oracle.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace {

// zlib's raw inflate of the whole input into at most `room` bytes; false unless it ends the
// stream cleanly.
bool zlib_inflate(const uint8_t* data, size_t size, size_t room, std::vector<uint8_t>& out) {
    out.assign(room, 0);
    try {
        out.resize(zlib_oracle::inflate_raw(data, size, out));
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
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
    // Deflate expands at most 1032 times; one byte more than ours shows a longer zlib output.
    const size_t room = failed ? std::min<size_t>(size * 1032 + 1, size_t(1) << 24) : all.size() + 1;
    if (zlib_inflate(data, size, room, want) && (failed || all != want)) std::abort();
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
