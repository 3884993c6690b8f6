#include "core/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// FIPS 180-4 examples, plus the lengths around the padding boundary (55, 56, 64 bytes), where a
// wrong length field or a missing extra block shows.
const std::pair<std::string, const char*> ROWS[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

// Both the portable code and, where the processor has them, the SHA instructions; whole and in
// pieces that end inside a block or are smaller than what waits in the buffer.
TEST(Sha256, NistVectorsWholeAndInPieces) {
    for (bool portable : {true, false}) {
        const bool was = sha256::use_portable_code(portable);
        for (const auto& r : ROWS) {
            EXPECT_EQ(sha256::hex(r.first), r.second) << r.first.size() << (portable ? " portable" : "");
            for (size_t piece : {1u, 63u, 65u, 1000u}) {
                sha256::Hasher h;
                for (size_t at = 0; at < r.first.size(); at += piece) h.update(r.first.data() + at, std::min(piece, r.first.size() - at));
                EXPECT_EQ(h.finish_hex(), r.second) << r.first.size() << " in pieces of " << piece;
            }
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

}  // namespace
