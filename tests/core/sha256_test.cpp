#include "core/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct DigestRow {
    const char* name;
    std::string input;
    const char* digest;
};

// FIPS 180-4 / NIST examples, plus the lengths around the padding boundary (55, 56, 64 bytes),
// where a wrong length field or a missing extra block shows.
const DigestRow ROWS[] = {
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"55 bytes", std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {"56 bytes", std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {"64 bytes", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {"one million", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

// Both the portable code and, where the processor has them, the SHA instructions.
TEST(Sha256, NistVectorsInOneCall) {
    for (bool portable : {true, false}) {
        const bool was = sha256::use_portable_code(portable);
        for (const auto& r : ROWS) {
            SCOPED_TRACE(std::string(r.name) + (portable ? " (portable)" : " (fast path)"));
            EXPECT_EQ(sha256::hex(r.input), r.digest);
        }
        sha256::use_portable_code(was);
    }
}

// The two implementations agree on every length across several blocks and on any bytes.
TEST(Sha256, FastPathAgreesWithPortableCode) {
    if (!sha256::has_fast_path()) GTEST_SKIP() << "no SHA instructions on this processor";
    std::string data;
    uint32_t x = 12345;
    for (size_t len = 0; len < 700; ++len) {
        sha256::use_portable_code(true);
        const std::string portable = sha256::hex(data);
        sha256::use_portable_code(false);
        ASSERT_EQ(sha256::hex(data), portable) << len;
        x = x * 1103515245u + 12345u;
        data += static_cast<char>(x >> 24);
    }
}

// A document is hashed in the pieces it is read in: a piece that ends inside a block, or one
// smaller than what waits in the buffer, must give the same digest.
TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
    for (size_t piece : {1u, 7u, 63u, 64u, 65u, 1000u}) {
        for (const auto& r : ROWS) {
            SCOPED_TRACE(std::string(r.name) + " in pieces of " + std::to_string(piece));
            sha256::Hasher h;
            for (size_t at = 0; at < r.input.size(); at += piece) {
                h.update(r.input.data() + at, std::min(piece, r.input.size() - at));
            }
            EXPECT_EQ(h.finish_hex(), r.digest);
        }
    }
}

}  // namespace
