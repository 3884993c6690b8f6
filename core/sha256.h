// SHA-256 (FIPS 180-4), fed in pieces so that a document can be hashed while it is read. The
// results log records each upload's digest, and the demo service reports what it received with
// the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sha256 {

class Hasher {
public:
    Hasher();
    void update(const void* data, size_t size);
    // Lower-case hexadecimal digest of everything fed so far. Ends the hasher: feed nothing more.
    std::string finish_hex();

private:
    uint32_t h_[8];
    unsigned char block_[64];
    size_t used_ = 0;     // bytes waiting in block_
    uint64_t length_ = 0; // bytes fed in all
};

// One-shot digest of `data`.
std::string hex(const std::string& data);

// Whether the processor's SHA instructions are used (x86 with the SHA extensions).
bool has_fast_path();
// For tests: true makes every hasher use the portable code; returns the previous setting.
bool use_portable_code(bool portable);

}  // namespace sha256
