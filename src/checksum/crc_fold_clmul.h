// Carry-less-multiply folding for bit-reflected 32-bit CRCs (128-bit lanes).
//
// A 128-bit accumulator stands for the message bytes folded so far: its pure
// CRC (register 0, no inversion) equals the CRC register of everything
// consumed. Folding over d bits multiplies the low half by x^(d+32) and the
// high half by x^(d-32) (reflected, 33-bit constants) and adds the block d
// bits further on.
#pragma once
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "crc_tables.h"

namespace vek::checksum {

struct ReflectedFoldKeys {
    uint64_t k512lo, k512hi;  // fold by 512 bits
    uint64_t k128lo, k128hi;  // fold by 128 bits
    uint64_t k96, k64;        // 128 -> 64-bit reduction
};

constexpr ReflectedFoldKeys make_reflected_fold_keys(uint32_t poly) {
    return {fold_const_reflected(544, poly), fold_const_reflected(480, poly),
            fold_const_reflected(160, poly), fold_const_reflected(96, poly),
            fold_const_reflected(96, poly),  fold_const_reflected(64, poly)};
}

inline __m128i fold128x(__m128i x, __m128i k) {
    // k holds the low-half key in its low 64 bits and the high-half key above.
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Reduces a 128-bit accumulator to 64 bits with the same pure CRC: the first
// two 32-bit words move onto the last 64 bits through x^96 and x^64.
inline uint64_t reduce_reflected128(__m128i x, const ReflectedFoldKeys& k) {
    const __m128i keys =
        _mm_set_epi64x(static_cast<long long>(k.k64), static_cast<long long>(k.k96));
    const __m128i lo32 = _mm_and_si128(x, _mm_set_epi32(0, 0, 0, -1));
    const __m128i mid32 = _mm_and_si128(_mm_srli_si128(x, 4), _mm_set_epi32(0, 0, 0, -1));
    __m128i v = _mm_xor_si128(_mm_clmulepi64_si128(lo32, keys, 0x00),
                              _mm_clmulepi64_si128(mid32, keys, 0x10));
    v = _mm_xor_si128(v, _mm_srli_si128(x, 8));
    uint64_t out;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&out), v);
    return out;
}

// Register after eight message bytes from register 0, by slicing: the eight
// lookups are independent, so this costs one table latency, not eight.
inline uint32_t crc32_of_u64(uint64_t v) {
    const auto& T = kCrc32Tables;
    const uint32_t w0 = static_cast<uint32_t>(v), w1 = static_cast<uint32_t>(v >> 32);
    return T[7][w0 & 0xFF] ^ T[6][(w0 >> 8) & 0xFF] ^ T[5][(w0 >> 16) & 0xFF] ^ T[4][w0 >> 24] ^
           T[3][w1 & 0xFF] ^ T[2][(w1 >> 8) & 0xFF] ^ T[1][(w1 >> 16) & 0xFF] ^ T[0][w1 >> 24];
}

// Folds the whole of [p, p + len), len >= 64, into one accumulator; returns it
// with *consumed set to the multiple of 16 bytes taken. r is the raw register.
inline __m128i fold_reflected_body(const uint8_t* p, size_t len, uint32_t r,
                                   const ReflectedFoldKeys& k, size_t* consumed) {
    auto load = [](const uint8_t* q) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    };
    const uint8_t* const start = p;
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(r)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    len -= 64;
    const __m128i k512 =
        _mm_set_epi64x(static_cast<long long>(k.k512hi), static_cast<long long>(k.k512lo));
    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(k.k128hi), static_cast<long long>(k.k128lo));
    while (len >= 64) {
        x0 = _mm_xor_si128(fold128x(x0, k512), load(p));
        x1 = _mm_xor_si128(fold128x(x1, k512), load(p + 16));
        x2 = _mm_xor_si128(fold128x(x2, k512), load(p + 32));
        x3 = _mm_xor_si128(fold128x(x3, k512), load(p + 48));
        p += 64;
        len -= 64;
    }
    x1 = _mm_xor_si128(fold128x(x0, k128), x1);
    x2 = _mm_xor_si128(fold128x(x1, k128), x2);
    __m128i x = _mm_xor_si128(fold128x(x2, k128), x3);
    while (len >= 16) {
        x = _mm_xor_si128(fold128x(x, k128), load(p));
        p += 16;
        len -= 16;
    }
    *consumed = static_cast<size_t>(p - start);
    return x;
}

}  // namespace vek::checksum
