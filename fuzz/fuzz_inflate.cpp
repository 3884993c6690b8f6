// libFuzzer target for inflate::inflate_raw: any bytes; only std::runtime_error may leave it, and
// the output or the message is exactly the bit-serial reference decoder's.
#include "imaging/inflate.h"
#include "tests/imaging/reference/reference_decoders.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> all, want;
    bool failed = false;
    std::string message, want_message = "-";
    try {
        all = inflate::inflate_raw(data, size);
    } catch (const std::runtime_error& e) {
        failed = true;
        message = e.what();
    }
    try {
        want = reference::inflate::inflate_raw(data, size);
    } catch (const std::runtime_error& e) {
        want_message = e.what();
    }
    if (failed ? message != want_message : (want_message != "-" || all != want)) std::abort();
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
