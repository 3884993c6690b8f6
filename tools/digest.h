// Base64 (RFC 4648, with padding), so that the demo service can report what it received; digests
// come from core/sha256.h.
#pragma once

#include <string>

namespace demo {

std::string base64_encode(const std::string& data);

}  // namespace demo
