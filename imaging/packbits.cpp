// PackBits run-length decoding (TIFF 6.0 section 9) and fill-order bit reversal.
#include <algorithm>
#include <array>

#include "imaging/tiff_reader.h"

namespace tiff::detail {

void unpack_bits_into(const uint8_t* data, size_t length, size_t max_out, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    // Most strips expand by less than a factor of two; the vector grows past that if needed.
    out.reserve(start + std::min(max_out, length * 2));
    size_t pos = 0;
    while (pos < length && out.size() - start < max_out) {
        const size_t room = max_out - (out.size() - start);
        const auto header = static_cast<int8_t>(data[pos++]);
        if (header >= 0) {
            // A literal run cut by the end of the strip copies what is there.
            size_t n = std::min<size_t>(size_t(header) + 1, length - pos);
            n = std::min(n, room);
            out.insert(out.end(), data + pos, data + pos + n);
            pos += n;
        } else if (header != -128) {
            // -128 is a no-op by definition; a repeat header that is the last byte ends the strip.
            if (pos >= length) break;
            size_t n = std::min<size_t>(size_t(1 - header), room);
            out.insert(out.end(), n, data[pos++]);
        }
    }
}

std::vector<uint8_t> unpack_bits(const uint8_t* data, size_t length, size_t max_out) {
    std::vector<uint8_t> out;
    unpack_bits_into(data, length, max_out, out);
    return out;
}

void reverse_bits(uint8_t* data, size_t length) {
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b)) r |= 0x80 >> b;
            t[size_t(i)] = uint8_t(r);
        }
        return t;
    }();
    for (size_t i = 0; i < length; ++i) data[i] = table[data[i]];
}

}  // namespace tiff::detail
