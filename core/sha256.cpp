#include "core/sha256.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace sha256 {

namespace {

// FIPS 180-4, 4.2.2: the first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
constexpr uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void compress_block(uint32_t h[8], const unsigned char* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = (uint32_t(block[i * 4]) << 24) | (uint32_t(block[i * 4 + 1]) << 16) |
               (uint32_t(block[i * 4 + 2]) << 8) | uint32_t(block[i * 4 + 3]);
    }
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        hh = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += hh;
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define DORVANE_SHA256_X86 1

// The same compression with the x86 SHA extensions (about ten times faster), chosen at run time
// when the processor has them. Each pass of the loop is four rounds; w[] holds the message words
// of four consecutive groups, each prepared by sha256msg1/sha256msg2 three groups ahead.
__attribute__((target("sha,sse4.1,ssse3"))) void compress_blocks_x86(uint32_t h[8], const unsigned char* data,
                                                                     size_t blocks) {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&h[0])), 0xB1);  // CDAB
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&h[4])), 0x1B);  // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);    // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);         // CDGH
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abef = state0;
        const __m128i cdgh = state1;
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byte_swap);
        }
        for (int g = 0; g < 16; ++g) {
            __m128i msg = _mm_add_epi32(w[g & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(&K[4 * g])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            if (g >= 3 && g <= 14) {
                const __m128i t = _mm_alignr_epi8(w[g & 3], w[(g - 1) & 3], 4);
                w[(g + 1) & 3] = _mm_sha256msg2_epu32(_mm_add_epi32(w[(g + 1) & 3], t), w[g & 3]);
            }
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
            if (g >= 1 && g <= 12) w[(g - 1) & 3] = _mm_sha256msg1_epu32(w[(g - 1) & 3], w[g & 3]);
        }
        state0 = _mm_add_epi32(state0, abef);
        state1 = _mm_add_epi32(state1, cdgh);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);              // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);           // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);        // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);           // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&h[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&h[4]), state1);
}

bool cpu_has_sha() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool sse41 = (c & (1u << 19)) != 0 && (c & (1u << 9)) != 0;  // SSE4.1 and SSSE3
    if (!sse41 || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & (1u << 29)) != 0;
}
#endif

std::atomic<bool> g_force_portable{false};

void compress_blocks(uint32_t h[8], const unsigned char* data, size_t blocks) {
#ifdef DORVANE_SHA256_X86
    static const bool has_sha = cpu_has_sha();
    if (has_sha && !g_force_portable.load(std::memory_order_relaxed)) {
        compress_blocks_x86(h, data, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, data += 64) compress_block(h, data);
}

}  // namespace

bool use_portable_code(bool portable) {
    return g_force_portable.exchange(portable);
}

bool has_fast_path() {
#ifdef DORVANE_SHA256_X86
    return cpu_has_sha();
#else
    return false;
#endif
}

Hasher::Hasher()
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}, block_{} {}

void Hasher::update(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    length_ += size;
    if (used_ > 0) {
        const size_t take = std::min(size, sizeof block_ - used_);
        std::memcpy(block_ + used_, bytes, take);
        used_ += take;
        bytes += take;
        size -= take;
        if (used_ < sizeof block_) return;
        compress_blocks(h_, block_, 1);
        used_ = 0;
    }
    const size_t blocks = size / sizeof block_;
    compress_blocks(h_, bytes, blocks);
    bytes += blocks * sizeof block_;
    size -= blocks * sizeof block_;
    if (size > 0) std::memcpy(block_, bytes, size);
    used_ = size;
}

std::string Hasher::finish_hex() {
    // Padding (5.1.1): a 1 bit, zeros, and the message length in bits as 64-bit big endian.
    const uint64_t bits = length_ * 8;
    block_[used_++] = 0x80;
    if (used_ > 56) {
        std::memset(block_ + used_, 0, sizeof block_ - used_);
        compress_blocks(h_, block_, 1);
        used_ = 0;
    }
    std::memset(block_ + used_, 0, 56 - used_);
    for (int i = 0; i < 8; ++i) block_[63 - i] = static_cast<unsigned char>(bits >> (8 * i));
    compress_blocks(h_, block_, 1);
    used_ = 0;

    std::string out;
    char buf[9];
    for (uint32_t v : h_) {
        std::snprintf(buf, sizeof buf, "%08x", v);
        out += buf;
    }
    return out;
}

std::string hex(const std::string& data) {
    Hasher h;
    h.update(data.data(), data.size());
    return h.finish_hex();
}

}  // namespace sha256
