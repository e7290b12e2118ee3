// Pieces shared by the LZ4 encoders: the hashes, sequence emission with its
// length extensions, and common-prefix measurement.
#pragma once
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "core/load.h"

namespace vek::lz4 {

inline constexpr int32_t kMinMatch = 4;
inline constexpr int32_t kMaxOffset = 65535;
inline constexpr int32_t kHashTableBytes = 16384;

// Five-byte hash of the single-pass encoders: one CRC32 step over bytes
// p..p+3, started from byte p+4.
inline uint32_t hash5(const uint8_t* p, uint32_t mask) {
    return _mm_crc32_u32(p[4], load32(p)) & mask;
}

// Four-byte hash of the high-compression encoder.
inline uint32_t hash4(const uint8_t* p) {
    return _mm_crc32_u32(0, load32(p)) & 0x7FFF;
}

// Bytes a length extension of value x (a count of at least 15) takes.
inline int32_t ext_bytes(int32_t x) {
    return x < 15 ? 0 : x < 270 ? 1 : (x - 15) / 255 + 1;
}

// Extension of v = L - 15: a run of 255-bytes, then the remainder.
inline uint8_t* write_len(uint8_t* op, int32_t v) {
    if (v >= 255) {
        const int32_t n = v / 255;
        std::memset(op, 255, static_cast<size_t>(n));
        op += n;
        v -= n * 255;
    }
    *op++ = static_cast<uint8_t>(v);
    return op;
}

// Copies n bytes with 32-byte moves while a whole one fits, then whole
// units of `Unit` bytes (8 or 16); may write up to Unit - 1 bytes past
// dst + n, which the caller guarantees are overwritten later and lie inside
// the destination.
template <int Unit>
inline void wild_copy(uint8_t* dst, const uint8_t* src, int32_t n) {
    uint8_t* const end = dst + n;
    while (end - dst >= 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)));
        dst += 32;
        src += 32;
    }
    while (dst < end) {
        if constexpr (Unit == 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
        } else {
            std::memcpy(dst, src, 8);
        }
        dst += Unit;
        src += Unit;
    }
}

// Writes one sequence: literals [lit, lit + L), then a match of length ml at
// distance `offset`. Unit is the literal copy unit (0 for an exact copy).
template <int Unit>
inline uint8_t* emit_sequence(uint8_t* op, const uint8_t* lit, int32_t L, int32_t ml,
                              uint32_t offset) {
    const int32_t mcode = ml - kMinMatch;
    uint8_t* token = op++;
    *token = static_cast<uint8_t>(((L < 15 ? L : 15) << 4) | (mcode < 15 ? mcode : 15));
    if (L >= 15) op = write_len(op, L - 15);
    if (L > 0) {
        if constexpr (Unit == 0) {
            std::memcpy(op, lit, static_cast<size_t>(L));
        } else {
            wild_copy<Unit>(op, lit, L);
        }
        op += L;
    }
    op[0] = static_cast<uint8_t>(offset);
    op[1] = static_cast<uint8_t>(offset >> 8);
    op += 2;
    if (mcode >= 15) op = write_len(op, mcode - 15);
    return op;
}

// The final literal-only sequence, copied exactly.
inline uint8_t* emit_last_literals(uint8_t* op, const uint8_t* lit, int32_t L) {
    *op++ = static_cast<uint8_t>((L < 15 ? L : 15) << 4);
    if (L >= 15) op = write_len(op, L - 15);
    if (L > 0) std::memcpy(op, lit, static_cast<size_t>(L));
    return op + L;
}

// Number of leading bytes in which a and b agree, at most `limit`. Reads
// nothing at or beyond a + limit or b + limit.
inline int32_t common_prefix(const uint8_t* a, const uint8_t* b, int32_t limit) {
    int32_t n = 0;
    // Most matches are short: one 16-byte compare settles them with a
    // single branch.
    if (limit >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        const uint32_t ne =
            ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFF;
        if (ne) return static_cast<int32_t>(__builtin_ctz(ne));
        n = 16;
    }
    while (n + 32 <= limit) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + n));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + n));
        const uint32_t ne = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
        if (ne) return n + static_cast<int32_t>(__builtin_ctz(ne));
        n += 32;
    }
    while (n + 8 <= limit) {
        const uint64_t d = load64(a + n) ^ load64(b + n);
        if (d) return n + static_cast<int32_t>(__builtin_ctzll(d) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// A copy of x the compiler cannot relate to x. Loads addressed with it use
// base + index forms instead of waiting for a pointer formed once by an add
// and shared: on a latency-bound path that add is one more step.
template <class T>
inline T opaque(T x) {
    __asm__("" : "+r"(x));
    return x;
}

// hash5 of base + i + K with every byte read by index (see opaque).
template <int K>
inline uint32_t hash5_at(const uint8_t* base, size_t i, uint32_t mask) {
    return _mm_crc32_u32(base[opaque(i) + K + 4], load32(base + opaque(i) + K)) & mask;
}

// common_prefix of base + i and base + j. The first 16 bytes are loaded by
// index from the one base, so the candidate's load does not wait for its
// address to be formed: on the way from a table entry to the match length
// (and on to the next search) that add would be one more step.
inline int32_t common_prefix_at(const uint8_t* base, uint32_t i, uint32_t j, int32_t limit) {
    if (__builtin_expect(limit >= 16, 1)) {
        const size_t a = opaque<size_t>(i), b = opaque<size_t>(j);
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + a));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + b));
        const uint32_t ne =
            ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFF;
        if (__builtin_expect(ne != 0, 1)) return static_cast<int32_t>(__builtin_ctz(ne));
        return 16 + common_prefix(base + i + 16, base + j + 16, limit - 16);
    }
    return common_prefix(base + i, base + j, limit);
}

// Common prefix counted backwards: how many bytes before a and b agree, at
// most `limit`. `readable` bytes before both may be read even beyond the
// limit, which lets short counts use one 8-byte compare.
inline int32_t common_suffix(const uint8_t* a, const uint8_t* b, int32_t limit,
                             int32_t readable = 0) {
    if (limit <= 0) return 0;
    if (readable >= 8) {
        const uint64_t d = load64(a - 8) ^ load64(b - 8);
        const int32_t n = d ? static_cast<int32_t>(__builtin_clzll(d) >> 3) : 8;
        if (n < 8 || limit <= 8) return n < limit ? n : limit;
    }
    int32_t n = 0;
    while (n + 32 <= limit) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a - n - 32));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b - n - 32));
        const uint32_t ne = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
        if (ne) return n + static_cast<int32_t>(__builtin_clz(ne));
        n += 32;
    }
    while (n + 8 <= limit) {
        const uint64_t d = load64(a - n - 8) ^ load64(b - n - 8);
        if (d) return n + static_cast<int32_t>(__builtin_clzll(d) >> 3);
        n += 8;
    }
    while (n < limit && a[-n - 1] == b[-n - 1]) ++n;
    return n;
}

}  // namespace vek::lz4
