// Match copies of the inflater. The exact copy writes nothing past the
// match and reads only the history it refers to, in the output buffer or
// in the caller's circular window; the wide copy may store up to 31 bytes
// past the match and is used only where the output space allows it.
#pragma once
#include <immintrin.h>

#include <cstring>

#include "core/load.h"
#include "core/repeat_pattern.h"
#include "deflate/inflate.h"

namespace vek::deflate {

// Bytes of history before io.out: the produced part of the output buffer.
inline uint64_t history_in_buffer(const InflateIo& io) {
    return static_cast<uint64_t>(io.out - io.out0) + io.dstIdx;
}

// Whether distance `dist` lies within the history (output buffer, then
// window when there is one).
inline bool distance_ok(const InflateIo& io, uint32_t dist) {
    const uint64_t reach = history_in_buffer(io) + (io.win ? io.winSize : 0);
    return dist != 0 && dist <= reach;
}

// Copies n bytes between buffers that do not overlap, reading and writing
// exactly those bytes, without a library call for the short copies that
// matches mostly are.
inline void copy_disjoint(uint8_t* dst, const uint8_t* src, size_t n) {
    if (n >= 16) {
        size_t i = 0;
        for (; i + 16 < n; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 16)));
    } else {
        copy_under16(dst, src, n);
    }
}

// Copies len bytes of the match at distance dist to io.out and advances it.
// The caller has checked distance_ok and that len bytes of space remain.
inline void copy_match_exact(InflateIo& io, size_t len, uint32_t dist) {
    uint8_t* out = io.out;
    const uint64_t pos = history_in_buffer(io);
    if (dist > pos) {
        // The source starts k bytes before the output buffer, in the window:
        // the byte k places back is win[(winIdx - k) mod winSize].
        const uint32_t k = static_cast<uint32_t>(dist - pos);
        uint32_t idx = io.winIdx >= k ? io.winIdx - k : io.winIdx + (io.winSize - k);
        const size_t n = len < k ? len : k;
        const size_t first = n < io.winSize - idx ? n : io.winSize - idx;
        // The window is the caller's own buffer, apart from the output.
        copy_disjoint(out, io.win + idx, first);
        copy_disjoint(out + first, io.win, n - first);  // wrapped past the window's end
        out += n;
        len -= n;
        // Any rest starts at the first byte of the output buffer. (Without a
        // rest, out - dist would point before it: no such pointer is formed.)
        if (len == 0) {
            io.out = out;
            return;
        }
    }
    const uint8_t* src = out - dist;
    if (dist >= len) {
        copy_disjoint(out, src, len);
    } else {
        for (size_t i = 0; i < len; ++i) out[i] = src[i];
    }
    io.out = out + len;
}

// Copies a match whose source lies in the output buffer (1 <= dist <= history
// in the buffer), storing whole vectors: up to 31 bytes past out + len may be
// written, and the buffer must have that room.
inline void copy_match_wide(uint8_t* out, size_t len, size_t dist) {
    const uint8_t* src = out - dist;
    uint8_t* const end = out + len;
    if (dist >= 16) {
        // Most matches are short: two vectors without a test of the
        // length, the second loaded after the first is stored (it may
        // overlap it when dist < 32).
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16)));
        if (__builtin_expect(len > 32, 0)) {
            out += 32;
            src += 32;
            if (dist >= 32) {
                do {
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)));
                    out += 32;
                    src += 32;
                } while (out < end);
            } else {
                do {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
                    out += 16;
                    src += 16;
                } while (out < end);
            }
        }
    } else if (dist >= 8) {
        do {
            uint64_t v;
            std::memcpy(&v, src, 8);
            std::memcpy(out, &v, 8);
            out += 8;
            src += 8;
        } while (out < end);
    } else if (dist == 1) {
        const __m256i v = _mm256_set1_epi8(static_cast<char>(*src));
        do {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
            out += 32;
        } while (out < end);
    } else {
        // Periods 2..7: one 16-byte vector of the repeated pattern, stored at
        // a stride that is a multiple of the period. The load reads at most
        // out + 13, inside the room the caller guarantees; only the first d
        // bytes of it are used.
        const __m128i v = core::repeat16(src, dist);
        const size_t stride = core::repeat_stride(dist);
        do {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
            out += stride;
        } while (out < end);
    }
}

}  // namespace vek::deflate
