// UTF-8 <-> platform wide text and whole-file reading.
//
// All text in the program is UTF-8 in std::string; std::wstring is only used at the platform
// boundary (UTF-16 on Windows, UTF-32 elsewhere). None of these functions throws for an ordinary
// failure: they return an empty result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace text {

// Empty for empty input or a failed conversion. Ill-formed input is converted the way the
// platform converts it (invalid sequences become U+FFFD).
std::string to_utf8(const std::wstring& s);
std::wstring to_wide(const std::string& s);

// `s` made safe to show on a terminal or in a log line: C0 controls and DEL become "\x1b"-style
// escapes, C1 controls "\u0085"-style ones, and ill-formed UTF-8 (surrogates included) U+FFFD.
// Everything else, line breaks excepted, passes unchanged. For texts that come from outside the
// program (the service's answers, file names): a hostile text cannot drive the terminal or cut a
// line.
std::string display_safe(const std::string& s);

// The whole file; empty when it cannot be opened (missing, a folder, locked for writing by
// another program on Windows), its size cannot be read, or it is empty. A file that shrinks
// while being read yields the bytes that were there.
std::vector<uint8_t> read_all(const std::string& path);

}  // namespace text
