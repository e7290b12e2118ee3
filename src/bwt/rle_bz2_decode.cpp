// Run-length decoder. Works in rounds while four source bytes remain: copy
// literal bytes until the next three repeat the byte just written (a run
// marker, whose fourth byte is the count), fold any run groups that follow
// for the same byte into one run, and write the run. Copies that do not fit
// stay owed in the state; the last three source bytes are plain literals.
//
// The literal loop looks 32 positions ahead for a marker and copies the
// whole block when there is none.
#include <immintrin.h>

#include <climits>
#include <cstddef>
#include <cstring>

#include "bwt/rle_bz2.h"
#include "vector/vector.h"

namespace vek::bwt {
namespace {

// Longest run the state can owe: groups stop being merged before the int32
// count would overflow (no destination could take that many anyway).
constexpr int32_t kRunLimit = INT32_MAX - 259;

inline void fill(uint8_t* d, int32_t value, int32_t n) {
    if (n >= 32) {
        vector::set_8u(static_cast<uint8_t>(value), d, n);
    } else if (n > 0) {
        std::memset(d, static_cast<uint8_t>(value), static_cast<size_t>(n));
    }
}

// The three bytes at s repeat `last` (callers guarantee four bytes at s).
inline bool marker(const uint8_t* s, int32_t last) {
    return s[0] == last && s[1] == last && s[2] == last;
}

// Folds the groups b b b b count that follow a run of b.
inline void merge(const uint8_t*& s, const uint8_t* s_end, int32_t last, int32_t& run) {
    while (s_end - s >= 5 && run <= kRunLimit && marker(s, last) && s[3] == last) {
        run += s[4] + 4;
        s += 5;
    }
}

// 32 literals per step while no marker starts among them. s[-1] is the
// literal written last.
inline void literals_fast(const uint8_t*& s, const uint8_t* s_end, uint8_t*& d, uint8_t* d_end) {
    while (s_end - s >= 35 && d_end - d > 32) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s - 1));
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 1));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 2));
        const __m256i same =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(p, a), _mm256_cmpeq_epi8(a, b)),
                             _mm256_cmpeq_epi8(b, c));
        const uint32_t m = static_cast<uint32_t>(_mm256_movemask_epi8(same));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), a);
        if (m != 0) {
            const int32_t n = __builtin_ctz(m);
            s += n;
            d += n;
            return;
        }
        s += 32;
        d += 32;
    }
}

// Writes the run copies still owed, as many as fit. Returns true when all
// went out (the run is then over: no byte may continue it); false when the
// destination filled first, with the rest still owed.
inline bool pay_run(uint8_t*& d, uint8_t* d_end, int32_t& last, int32_t& run) {
    const int32_t room = static_cast<int32_t>(d_end - d);
    if (run > room) {
        fill(d, last, room);
        d += room;
        run -= room;
        return false;
    }
    fill(d, last, run);
    d += run;
    run = 0;
    last = -1;
    return true;
}

// The last three bytes cannot hold a marker: plain literals, as many as
// fit, leaving lastByte as it is.
inline void copy_tail(const uint8_t*& s, const uint8_t* s_end, uint8_t*& d, uint8_t* d_end) {
    const ptrdiff_t n = s_end - s < d_end - d ? s_end - s : d_end - d;
    if (n > 0) std::memcpy(d, s, static_cast<size_t>(n));
    s += n;
    d += n;
}

}  // namespace

vekStatus rle_decode(const uint8_t** src, int32_t* src_len, uint8_t** dst, int32_t* dst_len,
                     vekRLEState_BZ2* state) {
    const uint8_t* s = *src;
    const uint8_t* const s_end = s + *src_len;
    uint8_t* d = *dst;
    uint8_t* const d_end = d + *dst_len;
    int32_t last = state->lastByte;
    int32_t run = state->runLength;
    vekStatus status = vekStatusOk;

    if (run > 0 && !pay_run(d, d_end, last, run)) {
        status = vekStatusDstTooSmall;
        goto done;
    }

    while (s_end - s >= 4) {
        if (d == d_end) goto done;
        // Literals up to a marker.
        for (;;) {
            if (marker(s, last)) {
                run = s[3] + 3;  // the run's first byte is already out
                s += 4;
                break;
            }
            last = *s++;
            *d++ = static_cast<uint8_t>(last);
            if (d == d_end) {
                // Full in the middle of literals: a group right behind is
                // taken into the state before returning.
                if (s_end - s >= 4 && marker(s, last)) {
                    run = s[3] + 3;
                    s += 4;
                    merge(s, s_end, last, run);
                }
                status = vekStatusDstTooSmall;
                goto done;
            }
            if (s_end - s < 4) goto tail;
            const uint8_t* before = s;
            literals_fast(s, s_end, d, d_end);
            if (s != before) {
                last = s[-1];
                if (s_end - s < 4) goto tail;
            }
        }
        merge(s, s_end, last, run);
        if (!pay_run(d, d_end, last, run)) {
            status = vekStatusDstTooSmall;
            goto done;
        }
    }

tail:
    copy_tail(s, s_end, d, d_end);

done:
    state->lastByte = last;
    state->runLength = run;
    *src = s;
    *src_len = static_cast<int32_t>(s_end - s);
    *dst = d;
    *dst_len = static_cast<int32_t>(d_end - d);
    return status;
}

vekStatus rle_decode_flush(vekRLEState_BZ2* state, uint8_t** dst, int32_t* dst_len) {
    const int32_t owed = state->runLength > 0 ? state->runLength : 0;
    const int32_t room = *dst_len > 0 ? *dst_len : 0;
    const int32_t m = owed < room ? owed : room;
    fill(*dst, state->lastByte, m);
    *dst += m;
    *dst_len -= m;
    state->runLength = owed - m;
    if (owed - m != 0) return vekStatusDstTooSmall;
    state->lastByte = -1;
    return vekStatusOk;
}

}  // namespace vek::bwt
