// libFuzzer target for tiff::decode_lzw: any bytes, with and without an output limit; the cut
// output is a prefix of the whole one and never longer than the limit.
#include "imaging/lzw.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> all = tiff::decode_lzw(data, size);
    if (size == 0) return 0;
    // The first byte picks a limit; the cut output must be a prefix of the whole one.
    size_t limit = static_cast<size_t>(data[0]) * 97;
    std::vector<uint8_t> cut = tiff::decode_lzw(data, size, limit);
    if (cut.size() != std::min(limit, all.size())) std::abort();
    for (size_t i = 0; i < cut.size(); ++i) {
        if (cut[i] != all[i]) std::abort();
    }
    return 0;
}
