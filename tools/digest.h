// SHA-256 (FIPS 180-4) and Base64 (RFC 4648, with padding), so that the demo service can report
// what it received without keeping large uploads in its records.
#pragma once

#include <string>

namespace demo {

// Lower-case hexadecimal digest of `data`.
std::string sha256_hex(const std::string& data);

std::string base64_encode(const std::string& data);

}  // namespace demo
