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

// The search state handed from the main loop to the flush tail: the hash,
// the output cursors and the counters.
struct Single {
    const uint8_t* src;
    int32_t* head;
    uint32_t hmask, base, last;  // last: winSize - 1
    uint32_t h;
    uint8_t* lit;  // next pair elements
    uint16_t* dist;
    vekDeflateFreqEntry* lit_freq;
    vekDeflateFreqEntry* dist_freq;

    void literal(uint8_t b) {
        *lit++ = b;
        *dist++ = 0;
        ++lit_freq[b].freq;
    }
    void match(uint32_t l, uint32_t d) {
        *lit++ = static_cast<uint8_t>(l - 3);
        *dist++ = static_cast<uint16_t>(d);
        ++lit_freq[257 + length_code(l)].freq;
        const uint32_t far = 512 + ((d - 1) >> 7), near = 255 + d;
        const uint32_t is_near = 0u - static_cast<uint32_t>(d <= 256);
        ++dist_freq[kLitCodeTable[far ^ ((far ^ near) & is_near)]].freq;
    }
};

// With a hash size that is a power of two, the hash at any source offset
// but the first depends on the bytes from one before it to two after it
// only (older bytes are shifted out of the mask): the hash of q >= src + 1.
inline uint32_t hash_at(const uint8_t* q, uint32_t hmask) {
    const uint32_t w = load32(q - 1);
    return ((w & 0xFF) << 15 ^ (w >> 8 & 0xFF) << 10 ^ (w >> 16 & 0xFF) << 5 ^ w >> 24) & hmask;
}

// Trailing zero bits of x, 64 for 0.
inline uint32_t ctz64(uint64_t x) {
#if defined(__x86_64__)
    return static_cast<uint32_t>(_tzcnt_u64(x));
#else
    const uint32_t lo = static_cast<uint32_t>(x), hi = static_cast<uint32_t>(x >> 32);
    return lo != 0 ? _tzcnt_u32(lo) : 32 + _tzcnt_u32(hi);
#endif
}

// Hashes of the eight positions from q (q >= src + 1); bytes q - 1 to
// q + 9 are read.
__attribute__((always_inline)) inline __m256i hash8(const uint8_t* q, __m256i mask) {
    const auto bytes = [q](int k) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + k)));
    };
    __m256i v = _mm256_slli_epi32(bytes(-1), 15);
    v = _mm256_xor_si256(v, _mm256_slli_epi32(bytes(0), 10));
    v = _mm256_xor_si256(v, _mm256_slli_epi32(bytes(1), 5));
    return _mm256_and_si256(_mm256_xor_si256(v, bytes(2)), mask);
}

// Registers positions at + 1 .. at + l - 1 (l >= 3) of the bytes from p + 1
// on, the positions a match from p covers, for a power-of-two hash size:
// eight at a time hashed from the bytes directly, the stores in order. The
// first block takes the odd 1..8 positions, its unused lanes repeating its
// last store, so that a match of up to 9 bytes takes no branch. Bytes up to
// the larger of p + 10 and p + l + 1 are read.
__attribute__((always_inline)) inline void cover_pow2(int32_t* head, uint32_t hmask,
                                                      const uint8_t* p, uint32_t at, uint32_t l) {
    const __m256i mask = _mm256_set1_epi32(static_cast<int32_t>(hmask));
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    alignas(32) uint32_t hs[8];
    alignas(32) int32_t ps[8];
    const uint32_t first = ((l - 2) & 7) + 1;
    const __m256i idx = _mm256_min_epu32(lanes, _mm256_set1_epi32(static_cast<int32_t>(first - 1)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(hs),
                       _mm256_permutevar8x32_epi32(hash8(p + 1, mask), idx));
    _mm256_store_si256(reinterpret_cast<__m256i*>(ps),
                       _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(at + 1)), idx));
#pragma GCC unroll 8
    for (int t = 0; t < 8; ++t) head[hs[t]] = ps[t];
    for (uint32_t j = 1 + first; j < l; j += 8) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(hs), hash8(p + j, mask));
        const int32_t pos = static_cast<int32_t>(at + j);
#pragma GCC unroll 8
        for (int t = 0; t < 8; ++t) head[hs[t]] = pos + t;
    }
}

// The main loop from offset i while i < end and the pair arrays have room
// up to lit_end (all lengths capped at 258; no byte at or past end + 260
// read). With kJoined the window lies right before the source.
template <bool kJoined, bool kPow2, bool k32k = false>
__attribute__((noinline)) uint32_t main_loop(Single& s, const Engine& e, uint32_t i, uint32_t end,
                                             const uint8_t* lit_end) {
    // (Locals, so that they stay in registers; the 32 KiB window and hash
    // table of the common case are constants.)
    const uint8_t* const src = s.src;
    int32_t* const head = s.head;
    const uint32_t hmask = k32k ? 0x7FFF : s.hmask;
    const uint32_t last = k32k ? 0x7FFF : s.last;
    uint32_t h = s.h;
    uint8_t* lit = s.lit;
    uint16_t* dist = s.dist;
    vekDeflateFreqEntry* const lit_freq = s.lit_freq;
    vekDeflateFreqEntry* const dist_freq = s.dist_freq;

    const uint8_t* p = src + i;
    const uint8_t* const pend = src + end;
    // Position of the byte at q: (uint32_t)q - bias.
    const uintptr_t bias = reinterpret_cast<uintptr_t>(src) - s.base;
    while (p < pend && lit < lit_end) {
        // Every item takes at least one byte: no room check is needed
        // before `stop`.
        const uint8_t* const stop =
            static_cast<size_t>(pend - p) < static_cast<size_t>(lit_end - lit)
                ? pend
                : p + (lit_end - lit);
        while (p < stop) {
            h = lz77::shift_xor_step(h, p[2], hmask);
            const uint32_t at = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p) - bias);
            const int32_t cand = head[h];
            head[h] = static_cast<int32_t>(at);
            // The next position's slot, read after a literal and written by
            // a match, is fetched before the branch below resolves.
            _mm_prefetch(reinterpret_cast<const char*>(head + lz77::shift_xor_step(h, p[3], hmask)),
                         _MM_HINT_T0);
            const uint32_t d = at - static_cast<uint32_t>(cand);
            if (d - 1 < last) {
                // The first three bytes decide whether there is a match; with
                // the window joined, the first eight also give the length of
                // a short one.
                uint32_t l = 0;
                if constexpr (kJoined) {
                    const uint64_t x = load64(p - d) ^ load64(p);
                    if ((x & 0xFFFFFFu) == 0) {
                        // Up to 15 bytes without a branch on the length.
                        const uint64_t y = load64(p - d + 8) ^ load64(p + 8);
                        const uint32_t bits = x != 0 ? ctz64(x) : 64 + ctz64(y);
                        l = bits >> 3;
                        if (l == 16) l += lz77::common_prefix(p - d + 16, p + 16, kMaxMatch - 16);
                    }
                } else {
                    const int64_t off = static_cast<int64_t>(p - src) - d;
                    if (((e.load4(off) ^ load32(p)) & 0xFFFFFFu) == 0)
                        l = e.measure(off, p, kMaxMatch);
                }
                if (l != 0) {
                    *lit++ = static_cast<uint8_t>(l - 3);
                    *dist++ = static_cast<uint16_t>(d);
                    ++lit_freq[257 + length_code(l)].freq;
                    const uint32_t far = 512 + ((d - 1) >> 7), near = 255 + d;
                    const uint32_t is_near = 0u - static_cast<uint32_t>(d <= 256);
                    ++dist_freq[kLitCodeTable[far ^ ((far ^ near) & is_near)]].freq;
                    if constexpr (kPow2) {
                        // (The hash is taken up again from the bytes: it is
                        // not kept across this path.)
                        cover_pow2(head, hmask, p, at, l);
                        h = hash_at(p + l - 1, hmask);
                    } else {
                        for (uint32_t j = 1; j < l; ++j) {
                            h = lz77::shift_xor_step(h, p[j + 2], hmask);
                            head[h] = static_cast<int32_t>(at + j);
                        }
                    }
                    p += l;
                    continue;
                }
            }
            *lit++ = *p;
            *dist++ = 0;
            ++lit_freq[*p].freq;
            ++p;
        }
    }
    s.h = h;
    s.lit = lit;
    s.dist = dist;
    return static_cast<uint32_t>(p - src);
}

}  // namespace

void lz77_single(const Lz77Call& c, uint32_t flush) {
    Engine e(c);
    const uint32_t len = e.len;
    const uint8_t* const src = e.src;
    Single s{src,        e.head,      e.hmask,
             e.base,     e.wsize - 1, len >= 3 ? lz77::shift_xor_seed(src) : 0,
             c.pLitDst,  c.pDistDst,  c.pLitFreq,
             c.pDistFreq};

    const uint32_t end = len > kLookAhead - 1 ? len - (kLookAhead - 1) : 0;
    const bool pow2 = (c.hashSize & (c.hashSize - 1)) == 0;
    const uint8_t* const lit_end = c.pLitDst + e.cap;
    uint32_t i = 0;
    if (e.joined && c.hashSize == 32768 && c.winSize == 32768)
        i = main_loop<true, true, true>(s, e, i, end, lit_end);
    else if (e.joined)
        i = pow2 ? main_loop<true, true>(s, e, i, end, lit_end)
                 : main_loop<true, false>(s, e, i, end, lit_end);
    else
        i = pow2 ? main_loop<false, true>(s, e, i, end, lit_end)
                 : main_loop<false, false>(s, e, i, end, lit_end);

    if (flush >= 2) {
        // Tail: no match reaches into the last 2 bytes; those end the input
        // as literals and are not registered. Capped lengths may fall below
        // 3 here.
        while (len - i > 2 && s.lit < lit_end) {
            const uint32_t max_len = std::min(len - i - 2, kMaxMatch);
            s.h = lz77::shift_xor_step(s.h, src[i + 2], s.hmask);
            const uint32_t at = s.base + i;
            const int32_t cand = s.head[s.h];
            s.head[s.h] = static_cast<int32_t>(at);
            const uint32_t d = at - static_cast<uint32_t>(cand);
            uint32_t l = 0;
            if (d - 1 < s.last) l = e.measure(static_cast<int64_t>(i) - d, src + i, max_len);
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
        for (; i < len && s.lit < lit_end; ++i) s.literal(src[i]);
    }
    e.n = static_cast<uint32_t>(s.lit - c.pLitDst);
    e.finish(i);
}

}  // namespace vek::deflate
