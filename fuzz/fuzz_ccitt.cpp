// libFuzzer target for the CCITT decoders. The first four bytes pick the decoder, the width and
// the number of rows; the rest is the coded data. Whatever the data, the decoders give exactly
// the rows asked for, with the padding bits after the width white.
#include "imaging/ccitt.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int mode = data[0] % 5;
    const int width = ((data[1] << 8 | data[2]) % 5000) + 1;  // up to 5000: runs past 2560
    const int rows = data[3] % 200 + 1;
    data += 4;
    size -= 4;
    const bool two_d = mode == 1 || mode == 3, aligned = mode == 2 || mode == 3;
    const std::vector<uint8_t> out = mode == 4 ? ccitt::decode_group4(data, size, width, rows)
                                               : ccitt::decode_group3(data, size, width, rows, two_d, aligned);
    const size_t row_bytes = (static_cast<size_t>(width) + 7) / 8;
    if (out.size() != row_bytes * static_cast<size_t>(rows)) std::abort();
    // Padding bits after the width stay white.
    if (width % 8 != 0) {
        const uint8_t pad = static_cast<uint8_t>(0xFF >> (width % 8));
        for (int r = 0; r < rows; ++r) {
            if (out[static_cast<size_t>(r) * row_bytes + row_bytes - 1] & pad) std::abort();
        }
    }
    return 0;
}
