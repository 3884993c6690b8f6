// UTF-8 sequence decoding and encoding (RFC 3629), shared by the JSON writer and the POSIX text
// conversions. Internal to core/: other folders use text.h.
//
// Never throws. Ill-formed input decodes to U+FFFD, one per maximal subpart of an ill-formed
// sequence (the Unicode "best practice" for U+FFFD substitution), so a stray byte never swallows
// the valid text after it.
#pragma once

#include <cstddef>
#include <string>

namespace text {

constexpr char32_t REPLACEMENT_CHAR = 0xFFFD;

inline bool is_surrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Decodes the sequence that starts at s[pos] (pos < s.size()) and moves pos past it. An
// ill-formed sequence gives REPLACEMENT_CHAR and moves pos past its maximal subpart (at least one
// byte). A three-byte encoding of a surrogate (ED A0..BF xx) is returned as that surrogate, not as
// U+FFFD: the JSON parser produces such pairs from escaped surrogates, and each caller decides what
// to make of them.
char32_t decode_utf8(const std::string& s, size_t& pos);

// Appends cp as UTF-8 (one to four bytes); cp must be at most 0x10FFFF.
void append_utf8(std::string& out, char32_t cp);

}  // namespace text
