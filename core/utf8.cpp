#include "core/utf8.h"

#include "core/text.h"

namespace text {

char32_t decode_utf8(const std::string& s, size_t& pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }

    // Well-formed sequences, RFC 3629 section 4 (Unicode Table 3-7): the lead byte fixes the
    // length and the range allowed for the second byte; later bytes are always 80..BF. ED is
    // allowed up to BF so that encoded surrogates come back as surrogates (see the header).
    size_t length = 0;
    unsigned char second_lo = 0x80, second_hi = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0) second_lo = 0xA0;  // no overlong three-byte forms
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0) second_lo = 0x90;  // no overlong four-byte forms
        if (lead == 0xF4) second_hi = 0x8F;  // nothing above U+10FFFF
    } else {
        ++pos;  // 80..C1 and F5..FF never start a sequence
        return REPLACEMENT_CHAR;
    }

    size_t i = pos + 1;
    for (size_t k = 1; k < length; ++k, ++i) {
        const unsigned char lo = k == 1 ? second_lo : 0x80;
        const unsigned char hi = k == 1 ? second_hi : 0xBF;
        if (i >= s.size() || byte(i) < lo || byte(i) > hi) {
            pos = i;  // the maximal subpart ends before the offending byte
            return REPLACEMENT_CHAR;
        }
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    pos = i;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string display_safe(const std::string& s) {
    static const char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size());
    size_t pos = 0;
    while (pos < s.size()) {
        const unsigned char byte = static_cast<unsigned char>(s[pos]);
        if (byte < 0x80) {
            ++pos;
            if (byte < 0x20 || byte == 0x7F) {
                out += "\\x";
                out += HEX[byte >> 4];
                out += HEX[byte & 0xF];
            } else {
                out += static_cast<char>(byte);
            }
            continue;
        }
        const size_t start = pos;
        const char32_t cp = decode_utf8(s, pos);
        if (cp == REPLACEMENT_CHAR || is_surrogate(cp)) {
            append_utf8(out, REPLACEMENT_CHAR);
        } else if (cp >= 0x80 && cp <= 0x9F) {
            out += "\\u00";
            out += HEX[cp >> 4];
            out += HEX[cp & 0xF];
        } else {
            out.append(s, start, pos - start);
        }
    }
    return out;
}

}  // namespace text
