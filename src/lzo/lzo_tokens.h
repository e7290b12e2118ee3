// Pieces shared by the two LZO1X matchers: the hash, exact-length copies,
// match measurement and token emission with room checks.
#pragma once
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "core/load.h"
#include "lzo/lzo.h"

namespace vek::lzo {

// One CRC-32C step over the four bytes at p.
inline uint32_t hash4(const uint8_t* p, uint32_t mask) {
    return _mm_crc32_u32(0, load32(p)) & mask;
}

// Copies n >= 32 bytes between non-overlapping buffers for the long literal
// runs of incompressible data: 128 bytes per step with stores aligned to 32
// bytes, which outruns the C library's copy when the source comes from a
// farther cache level than the destination. From kLongCopy bytes on, the
// destination no longer stays in the core's cache and the C library's copy
// writes whole lines faster.
inline constexpr size_t kLongCopy = size_t(1) << 20;
[[gnu::noinline]] inline void copy_long(uint8_t* dst, const uint8_t* src, size_t n) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)));
    size_t k = 32 - (reinterpret_cast<uintptr_t>(dst) & 31);
    for (; k + 128 <= n; k += 128) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k + 32));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k + 64));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k + 96));
        _mm256_store_si256(reinterpret_cast<__m256i*>(dst + k), a);
        _mm256_store_si256(reinterpret_cast<__m256i*>(dst + k + 32), b);
        _mm256_store_si256(reinterpret_cast<__m256i*>(dst + k + 64), c);
        _mm256_store_si256(reinterpret_cast<__m256i*>(dst + k + 96), d);
    }
    for (; k + 32 <= n; k += 32)
        _mm256_store_si256(reinterpret_cast<__m256i*>(dst + k),
                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + n - 32),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + n - 32)));
}

// Copies exactly n bytes between non-overlapping buffers with overlapping
// wide moves: nothing outside [dst, dst + n) is written and nothing outside
// [src, src + n) is read.
inline void copy_exact(uint8_t* dst, const uint8_t* src, size_t n) {
    if (n >= kLongCopy) {  // the C library's copy, which streams past the caches
        std::memcpy(dst, src, n);
    } else if (n >= 4096) {
        copy_long(dst, src, n);
    } else if (n >= 32) {
        size_t k = 0;
        for (; k + 32 < n; k += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + k),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + k)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + n - 32),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + n - 32)));
    } else if (n >= 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), b);
    } else {
        copy_under16(dst, src, n);
    }
}

// Copies n bytes between non-overlapping buffers for the final literal run
// of an encoded block, which for incompressible data is nearly all of it:
// the string move handles whole cache lines and outruns copy_exact here
// whether the source comes from the last-level cache or from memory.
#if defined(__SANITIZE_ADDRESS__)
#define VEK_LZO_CHECKED_COPY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEK_LZO_CHECKED_COPY 1
#endif
#endif
inline void copy_final_run(uint8_t* dst, const uint8_t* src, size_t n) {
#if defined(VEK_LZO_CHECKED_COPY)
    std::memcpy(dst, src, n);  // checked by the address sanitizer
#else
    if (n < 4096) {
        copy_exact(dst, src, n);
        return;
    }
    asm volatile("rep movsb" : "+D"(dst), "+S"(src), "+c"(n) : : "memory");
#endif
}

// Leading zero bytes of an XOR of two little-endian words, 0 to 8, without
// a branch where the instruction counts the zero word.
inline uint32_t equal_bytes(uint64_t diff) {
#if defined(__x86_64__)
    return static_cast<uint32_t>(_tzcnt_u64(diff)) >> 3;
#else
    const uint32_t lo = static_cast<uint32_t>(diff), hi = static_cast<uint32_t>(diff >> 32);
    return lo != 0 ? static_cast<uint32_t>(__builtin_ctz(lo)) >> 3
                   : 4 + (static_cast<uint32_t>(_tzcnt_u32(hi)) >> 3);
#endif
}

// Returns v computed at this point of the program, keeping the compiler from
// sinking its loads into the one arm of a later branch that uses it.
inline uint64_t before_branch(uint64_t v) {
#if defined(__x86_64__)
    asm("" : "+r"(v));
    return v;
#else
    uint32_t lo = static_cast<uint32_t>(v), hi = static_cast<uint32_t>(v >> 32);
    asm("" : "+r"(lo), "+r"(hi));
    return lo | uint64_t(hi) << 32;
#endif
}

// Number of leading bytes in which a and b agree, at most `limit`; reads
// nothing at or beyond a + limit or b + limit.
inline uint32_t match_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    // Most matches are short: one 8-byte compare settles them.
    if (limit >= 8) {
        const uint64_t d = load64(a) ^ load64(b);
        if (d) return static_cast<uint32_t>(__builtin_ctzll(d) >> 3);
        n = 8;
    }
    while (n + 32 <= limit) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + n));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + n));
        const uint32_t ne = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
        if (ne) return n + static_cast<uint32_t>(__builtin_ctz(ne));
        n += 32;
    }
    while (n + 8 <= limit) {
        const uint64_t d = load64(a + n) ^ load64(b + n);
        if (d) return n + static_cast<uint32_t>(__builtin_ctzll(d) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Bytes of the zero-run encoding of v >= 1: a 0x00 per 255 taken off while
// more than 255 remain, then the rest.
inline uint32_t zero_run_bytes(uint32_t v) {
    return v > 255 ? (v - 1) / 255 + 1 : 1;
}

inline uint8_t* put_zero_run(uint8_t* op, uint32_t v) {
    if (v > 255) {
        const uint32_t zeros = (v - 1) / 255;
        std::memset(op, 0, zeros);
        op += zeros;
        v -= zeros * 255;
    }
    *op++ = static_cast<uint8_t>(v);
    return op;
}

// Bytes that a literal run of L written after a match (or as the first run
// of a stream with matches, L >= 4) takes before its literals.
inline uint32_t run_header_bytes(uint32_t L) {
    return L <= 3 ? 0 : L <= 18 ? 1 : 1 + zero_run_bytes(L - 18);
}

// Bytes of the match token for length m >= 4 at distance d.
inline uint32_t match_token_bytes(uint32_t m, uint32_t d) {
    if (m <= 8 && d <= 2048) return 2;
    const uint32_t short_max = d <= 16384 ? 33 : 9;
    return m <= short_max ? 3 : 3 + zero_run_bytes(m - short_max);
}

// Output cursor with the capacity end.
struct Out {
    uint8_t* begin;
    uint8_t* op;
    uint8_t* end;
    size_t room() const { return static_cast<size_t>(end - op); }
};

// Literal run header after a match: 1 to 3 literals ride in the low bits of
// the second-to-last byte written (zero in every match token).
inline uint8_t* put_run_header(uint8_t* op, uint32_t L) {
    if (L == 0) return op;
    if (L <= 3) {
        op[-2] = static_cast<uint8_t>(op[-2] | L);
        return op;
    }
    if (L <= 18) {
        *op++ = static_cast<uint8_t>(L - 3);
        return op;
    }
    *op++ = 0;
    return put_zero_run(op, L - 18);
}

inline uint8_t* put_match(uint8_t* op, uint32_t m, uint32_t d) {
    if (m <= 8 && d <= 2048) {
        op[0] = static_cast<uint8_t>(((m - 1) << 5) | (((d - 1) & 7) << 2));
        op[1] = static_cast<uint8_t>((d - 1) >> 3);
        return op + 2;
    }
    uint32_t word;
    if (d <= 16384) {
        if (m <= 33) {
            *op++ = static_cast<uint8_t>(0x20 | (m - 2));
        } else {
            *op++ = 0x20;
            op = put_zero_run(op, m - 33);
        }
        word = (d - 1) << 2;
    } else {
        const uint32_t e = d - 16384;
        const uint8_t high = static_cast<uint8_t>(0x10 | ((e & 0x4000) >> 11));
        if (m <= 9) {
            *op++ = static_cast<uint8_t>(high | (m - 2));
        } else {
            *op++ = high;
            op = put_zero_run(op, m - 9);
        }
        word = (e & 0x3FFF) << 2;
    }
    op[0] = static_cast<uint8_t>(word);
    op[1] = static_cast<uint8_t>(word >> 8);
    return op + 2;
}

// Writes the literal run [lit, lit + L) and a match of length m at distance
// d with exact room checks and copies, or nothing and false when they would
// not fit. For the end of the capacity.
[[gnu::noinline, gnu::cold]] inline bool emit_near_end(Out& out, const uint8_t* lit, uint32_t L,
                                                       uint32_t m, uint32_t d) {
    if (out.room() < size_t(run_header_bytes(L)) + L + match_token_bytes(m, d)) return false;
    uint8_t* op = put_run_header(out.op, L);
    copy_exact(op, lit, L);
    out.op = put_match(op + L, m, d);
    return true;
}

// The same with a single room test in the common case, far from the end of
// the capacity: header and token need at most 8 + L / 128 + m / 128 bytes,
// and a short run is moved as 16 bytes. The match starts at lit + L and at
// least 16 input bytes follow it in both matchers, so that read stays inside
// the source; the extra bytes written are overwritten by what follows, or
// lie past the stream inside the capacity.
inline bool far_from_end(size_t room, uint32_t L, uint32_t m) {
    return room >= size_t(L) + 32 + (L >> 7) + (m >> 7);
}

inline uint8_t* emit_far(uint8_t* op, const uint8_t* lit, uint32_t L, uint32_t m, uint32_t d) {
    op = put_run_header(op, L);
    if (L <= 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(op),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(lit)));
    else
        copy_exact(op, lit, L);
    return put_match(op + L, m, d);
}

// Header and literals of a run of L > 16 after a match; returns where the
// literals start. Out of line: its wide copies would otherwise make the
// matcher realign its stack frame and give up a register for it.
[[gnu::noinline]] inline uint8_t* put_long_run(uint8_t* op, const uint8_t* lit, uint32_t L) {
    op = put_run_header(op, L);
    copy_exact(op, lit, L);
    return op;
}

// Literal run and match token without room checks and with few branches:
// the caller guarantees room for the run, the token and 16 bytes more. The
// run's header and the 2- or 3-byte token of a near match are selected
// arithmetically rather than by branches that the length and distance mix
// would mispredict. A run of up to 16 bytes moves as one 16-byte copy, which
// reads at most up to the match (lit + L) plus 16 bytes: the matchers keep
// 16 input bytes after every match start. Runs of 1 to 3 follow a token, so
// op[-2] exists whenever it is changed; with 4 or more op[0] is rewritten
// instead.
[[gnu::always_inline]] inline uint8_t* emit_unchecked(uint8_t* op, const uint8_t* lit, uint32_t L,
                                                      uint32_t m, uint32_t d) {
    if (__builtin_expect(L <= 16, 1)) {
        const uint32_t sep = L > 3;  // a header byte of its own
        const uint32_t sep_mask = 0u - sep;
        uint8_t* const at = op - 2 + 2 * sep;
        const uint32_t in_token = *at | L;
        *at = static_cast<uint8_t>(in_token ^ ((in_token ^ (L - 3)) & sep_mask));
        op += sep;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(op),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(lit)));
    } else {
        op = put_long_run(op, lit, L);
    }
    op += L;
    // Far matches and lengths beyond the 3-byte forms are few: a branch.
    if (__builtin_expect((d > 16384) | (m > 33), 0)) return put_match(op, m, d);
    const uint32_t d1 = d - 1;
    const uint32_t two = static_cast<uint32_t>(m <= 8) & static_cast<uint32_t>(d <= 2048);
    const uint32_t code2 = (((m - 1) << 5) | ((d1 & 7) << 2)) | ((d1 >> 3) << 8);
    const uint32_t code3 = (0x20 | (m - 2)) | (d1 << 10);
    const uint32_t code = code3 ^ ((code3 ^ code2) & (0u - two));
    std::memcpy(op, &code, 4);
    return op + 3 - two;
}

inline bool emit(Out& out, const uint8_t* lit, uint32_t L, uint32_t m, uint32_t d) {
    if (__builtin_expect(!far_from_end(out.room(), L, m), 0))
        return emit_near_end(out, lit, L, m, d);
    out.op = emit_far(out.op, lit, L, m, d);
    return true;
}

}  // namespace vek::lzo
