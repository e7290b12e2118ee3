// Single-probe LZ77 search (levels 0, 10 and 20): a rolling shift-xor hash
// over three bytes, one head-table probe per position, no chains. Matches
// are 3 bytes or longer and every position they cover is registered; the
// prev table is never used.
#include <immintrin.h>

#include <algorithm>

#include "deflate/lz77_hash.h"
#include "deflate/lz77_internal.h"

namespace vek::deflate {

using lz77::Engine;

namespace {

// The search state kept in registers through the main loop: the hash, the
// output cursors and the counters.
struct Single {
    const uint8_t* src;
    int32_t* head;
    uint32_t hmask, base, last;  // last: winSize - 1
    uint32_t h;
    uint32_t n;
    uint8_t* lit;
    uint16_t* dist;
    vekDeflateFreqEntry* lit_freq;
    vekDeflateFreqEntry* dist_freq;

    void literal(uint8_t b) {
        lit[n] = b;
        dist[n] = 0;
        ++n;
        ++lit_freq[b].freq;
    }
    void match(uint32_t l, uint32_t d) {
        lit[n] = static_cast<uint8_t>(l - 3);
        dist[n] = static_cast<uint16_t>(d);
        ++n;
        ++lit_freq[257 + length_code(l)].freq;
        const uint32_t far = 512 + ((d - 1) >> 7), near = 255 + d;
        const uint32_t is_near = 0u - static_cast<uint32_t>(d <= 256);
        ++dist_freq[kLitCodeTable[far ^ ((far ^ near) & is_near)]].freq;
    }

    // Registers offsets i + 1 .. i + l - 1 (l >= 3), the positions a match
    // from i covers, and leaves the hash at i + l - 1. Bytes up to offset
    // i + l + 1 are read.
    template <bool kPow2>
    __attribute__((always_inline)) void cover(uint32_t i, uint32_t l) {
        uint32_t j = i + 1;
        const uint32_t stop = i + l;
        if constexpr (kPow2) {
            // With a hash size that is a power of two, the hash at an offset
            // j >= 1 depends on the bytes j - 1 .. j + 2 only (older bytes are
            // shifted out of the mask), so eight positions at a time are
            // hashed from the bytes directly; the stores stay in order.
            uint32_t r = (l - 1) & 7;
            for (; r > 0; --r, ++j) {
                h = lz77::shift_xor_step(h, src[j + 2], hmask);
                head[h] = static_cast<int32_t>(base + j);
            }
            if (j < stop) {
                const __m256i mask = _mm256_set1_epi32(static_cast<int32_t>(hmask));
                alignas(32) uint32_t hs[8];
                for (; j < stop; j += 8) {
                    const uint8_t* q = src + j;
                    const auto bytes = [q](int k) {
                        return _mm256_cvtepu8_epi32(
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + k)));
                    };
                    __m256i v = _mm256_slli_epi32(bytes(-1), 15);
                    v = _mm256_xor_si256(v, _mm256_slli_epi32(bytes(0), 10));
                    v = _mm256_xor_si256(v, _mm256_slli_epi32(bytes(1), 5));
                    v = _mm256_and_si256(_mm256_xor_si256(v, bytes(2)), mask);
                    _mm256_store_si256(reinterpret_cast<__m256i*>(hs), v);
                    const int32_t at = static_cast<int32_t>(base + j);
                    for (int t = 0; t < 8; ++t) head[hs[t]] = at + t;
                }
                h = hs[7];
            }
        } else {
            for (; j < stop; ++j) {
                h = lz77::shift_xor_step(h, src[j + 2], hmask);
                head[h] = static_cast<int32_t>(base + j);
            }
        }
    }
};

// The main loop from offset i while i < end and fewer than cap items are
// written (all lengths capped at 258; no byte at or past end + 260 read).
// With kJoined the window lies right before the source.
template <bool kJoined, bool kPow2>
uint32_t main_loop(Single& s, const Engine& e, uint32_t i, uint32_t end, uint32_t cap) {
    Single t = s;  // (a local copy stays in registers)
    while (i < end && t.n < cap) {
        // Every item takes at least one byte: no room check is needed
        // before `stop`.
        const uint32_t stop = std::min(end, i + (cap - t.n));
        while (i < stop) {
            const uint8_t* const p = t.src + i;
            t.h = lz77::shift_xor_step(t.h, p[2], t.hmask);
            const uint32_t at = t.base + i;
            const int32_t cand = t.head[t.h];
            t.head[t.h] = static_cast<int32_t>(at);
            const uint32_t d = at - static_cast<uint32_t>(cand);
            if (d - 1 < t.last) {
                const int32_t off = static_cast<int32_t>(i) - static_cast<int32_t>(d);
                // The first three bytes decide whether there is a match.
                const uint32_t w = kJoined ? load32(p - d) : e.load4(off);
                if (((w ^ load32(p)) & 0xFFFFFFu) == 0) {
                    const uint32_t l = kJoined ? lz77::common_prefix(p - d, p, kMaxMatch)
                                               : e.measure(off, p, kMaxMatch);
                    t.match(l, d);
                    t.cover<kPow2>(i, l);
                    i += l;
                    continue;
                }
            }
            t.literal(*p);
            ++i;
        }
    }
    s = t;
    return i;
}

}  // namespace

void lz77_single(const Lz77Call& c, uint32_t flush) {
    Engine e(c);
    const uint32_t len = e.len;
    const uint8_t* const src = e.src;
    Single s{src,        e.head,      e.hmask,
             e.base,     e.wsize - 1, len >= 3 ? lz77::shift_xor_seed(src) : 0,
             0,          c.pLitDst,   c.pDistDst,
             c.pLitFreq, c.pDistFreq};

    const uint32_t end = len > kLookAhead - 1 ? len - (kLookAhead - 1) : 0;
    const bool pow2 = (c.hashSize & (c.hashSize - 1)) == 0;
    uint32_t i = 0;
    if (e.joined)
        i = pow2 ? main_loop<true, true>(s, e, i, end, e.cap)
                 : main_loop<true, false>(s, e, i, end, e.cap);
    else
        i = pow2 ? main_loop<false, true>(s, e, i, end, e.cap)
                 : main_loop<false, false>(s, e, i, end, e.cap);

    if (flush >= 2) {
        // Tail: no match reaches into the last 2 bytes; those end the input
        // as literals and are not registered. Lengths are measured byte by
        // byte here and may fall below 3.
        while (len - i > 2 && s.n < e.cap) {
            const uint32_t max_len = std::min(len - i - 2, kMaxMatch);
            s.h = lz77::shift_xor_step(s.h, src[i + 2], s.hmask);
            const uint32_t at = s.base + i;
            const int32_t cand = s.head[s.h];
            s.head[s.h] = static_cast<int32_t>(at);
            const uint32_t d = at - static_cast<uint32_t>(cand);
            uint32_t l = 0;
            if (d - 1 < s.last)
                l = e.measure(static_cast<int32_t>(i) - static_cast<int32_t>(d), src + i, max_len);
            if (l < 3) {
                s.literal(src[i]);
                ++i;
                continue;
            }
            s.match(l, d);
            for (uint32_t k = 1; k < l; ++k) {
                s.h = lz77::shift_xor_step(s.h, src[i + k + 2], s.hmask);
                s.head[s.h] = static_cast<int32_t>(at + k);
            }
            i += l;
        }
        for (; i < len && s.n < e.cap; ++i) s.literal(src[i]);
    }
    e.n = s.n;
    e.finish(i);
}

}  // namespace vek::deflate
