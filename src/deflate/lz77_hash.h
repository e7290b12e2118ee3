// Pieces shared by the LZ77 engines: the two hashes, match measurement over
// the window and the source, the chain walk, registration of positions and
// the emission and counting of items.
#pragma once
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "core/load.h"
#include "deflate/deflate_tables.h"
#include "deflate/lz77_internal.h"

namespace vek::deflate::lz77 {

// CRC hash: one CRC-32C step over the 4 bytes at p, masked.
inline uint32_t crc_hash(const uint8_t* p, uint32_t mask) {
    return _mm_crc32_u32(0, load32(p)) & mask;
}

// Shift-xor hash: seeded with (b0 << 5) ^ b1 (unmasked), then one step per
// position with the byte two places ahead.
inline uint32_t shift_xor_seed(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 5 ^ p[1];
}
inline uint32_t shift_xor_step(uint32_t h, uint8_t b, uint32_t mask) {
    return (h << 5 ^ b) & mask;
}

// Length of the common prefix of a and b, at most `limit`; no byte at or
// past `limit` is read on either side. 32-byte compares, then single bytes
// (for limit 258: eight vectors, then bytes 256 and 257).
inline uint32_t common_prefix(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t k = 0;
    for (; k + 32 <= limit; k += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + k));
        const uint32_t ne = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
        if (ne != 0) return k + static_cast<uint32_t>(_tzcnt_u32(ne));
    }
    while (k < limit && a[k] == b[k]) ++k;
    return k;
}

// Result of a chain walk: the best length (the starting value when nothing
// longer was found) and its distance (0 then).
struct Found {
    uint32_t len;
    uint32_t dist;
};

// One call's view of the caller's state. Source byte i has position
// base + i; a position q below base lies at pWindow + (q - base).
class Engine {
  public:
    explicit Engine(const Lz77Call& c)
        : call_(c),
          src(*c.ppSrc),
          win(c.pWindow),
          joined(c.pWindow == *c.ppSrc),
          base(*c.pSrcIdx),
          len(*c.pSrcLen),
          head(c.pHashHead),
          prev(c.pHashPrev),
          hmask(c.hashSize - 1),
          wmask(c.winSize - 1),
          wsize(c.winSize),
          cap(*c.pDstLen),
          lit_dst_(c.pLitDst),
          dist_dst_(c.pDistDst),
          lit_freq_(c.pLitFreq),
          dist_freq_(c.pDistFreq) {}

    // Position of source offset i.
    uint32_t pos(uint32_t i) const { return base + i; }

    // CRC registration of source offset i; returns the previous head.
    int32_t insert(uint32_t i) {
        const uint32_t h = crc_hash(src + i, hmask);
        const int32_t c = head[h];
        prev[(base + i) & wmask] = c;
        head[h] = static_cast<int32_t>(base + i);
        return c;
    }
    // Registers source offsets [from, to).
    void insert_range(uint32_t from, uint32_t to) {
        for (uint32_t i = from; i < to; ++i) insert(i);
    }

    // Walks the chain from `cand` for the byte at source offset i, starting
    // from length `best`: a candidate counts while it lies less than winSize
    // positions back, at most `limit` candidates are looked at, a longer
    // match replaces the best, one of `nice` or more ends the walk. The first
    // improvement found while the best is below 32 and at least `good` long
    // cuts the limit to a quarter (pass good = ~0u for no cut). Lengths stop
    // at max_len.
    __attribute__((always_inline)) Found walk(uint32_t i, int32_t cand, uint32_t best,
                                              uint32_t limit, uint32_t good, uint32_t nice,
                                              uint32_t max_len) const {
        return joined ? walk_from<true>(i, cand, best, limit, good, nice, max_len)
                      : walk_from<false>(i, cand, best, limit, good, nice, max_len);
    }

    // The walk; with kJoined every candidate is read at its offset from the
    // source, whichever side of the call's start it lies.
    template <bool kJoined>
    __attribute__((always_inline)) Found walk_from(uint32_t i, int32_t cand, uint32_t best,
                                                   uint32_t limit, uint32_t good, uint32_t nice,
                                                   uint32_t max_len) const {
        Found f{best, 0};
        if (best >= max_len) return f;
        const uint8_t* const p = src + i;
        const uint32_t at = base + i;
        const uint32_t full = limit;
        const uint32_t last = wsize - 1;
        uint32_t tail = load32(p + best - 3);
        for (uint32_t count = 0; count < limit; ++count) {
            const uint32_t d = at - static_cast<uint32_t>(cand);
            if (d - 1 >= last) break;  // beyond the window, or not behind us
            const int32_t next = prev[static_cast<uint32_t>(cand) & wmask];
            // A candidate in the source (or any, joined) is read at p - d.
            const bool near = kJoined || d <= i;
            const int64_t off = static_cast<int64_t>(i) - d;
            const uint32_t w = near ? load32(p - d + best - 3) : load4(off + best - 3);
            if (w == tail) {
                const uint32_t l =
                    near ? common_prefix(p - d, p, max_len) : measure(off, p, max_len);
                if (l > best) {
                    if (best < 32 && l >= good && limit == full) limit = full >> 2;
                    best = l;
                    f = {l, d};
                    if (best >= nice || best >= max_len) break;
                    tail = load32(p + best - 3);
                }
            }
            cand = next;
        }
        return f;
    }

    // The walk with a limit of one candidate from best 3, max_len >= 4: the
    // candidate is taken when it lies in the window and its first 4 bytes
    // match (neither the cut nor nice can change anything then).
    template <bool kJoined>
    __attribute__((always_inline)) Found walk_one(uint32_t i, int32_t cand,
                                                  uint32_t max_len) const {
        const uint8_t* const p = src + i;
        const uint32_t d = base + i - static_cast<uint32_t>(cand);
        if (d - 1 >= wsize - 1) return {3, 0};
        const bool near = kJoined || d <= i;  // read at p - d
        const int64_t off = static_cast<int64_t>(i) - d;
        const uint32_t w = near ? load32(p - d) : load4(off);
        if (w != load32(p)) return {3, 0};
        return {near ? common_prefix(p - d, p, max_len) : measure(off, p, max_len), d};
    }

    void literal(uint8_t b) {
        lit_dst_[n] = b;
        dist_dst_[n] = 0;
        ++n;
        ++lit_freq_[b].freq;
    }
    void match(uint32_t l, uint32_t d) {
        lit_dst_[n] = static_cast<uint8_t>(l - 3);
        dist_dst_[n] = static_cast<uint16_t>(d);
        ++n;
        ++lit_freq_[257 + length_code(l)].freq;
        // (dist_code by a mask, not a branch: near and far distances mix.)
        const uint32_t far = 512 + ((d - 1) >> 7), near = 255 + d;
        const uint32_t is_near = 0u - static_cast<uint32_t>(d <= 256);
        ++dist_freq_[kLitCodeTable[far ^ ((far ^ near) & is_near)]].freq;
    }

    // The bytes left after the search of a flushing call, from source offset
    // i on, as literals; the CRC engines instead of registering these
    // positions mark their prev slots empty when they hold a position not
    // before them or one from before this call.
    void final_literals(uint32_t& i, bool mark_prev) {
        for (; i < len && n < cap; ++i) {
            if (mark_prev) {
                const int32_t q = static_cast<int32_t>(base + i);
                int32_t& v = prev[(base + i) & wmask];
                if (v >= q || v < static_cast<int32_t>(base)) v = -static_cast<int32_t>(wsize);
            }
            literal(src[i]);
        }
    }

    // Stores the cursors: `consumed` source bytes and the items written.
    void finish(uint32_t consumed) const {
        *call_.ppSrc += consumed;
        *call_.pSrcLen -= consumed;
        *call_.pSrcIdx = base + consumed;
        *call_.pDstLen -= n;
    }

    // Byte address of source offset `off` (negative: in the window). Offsets
    // are 64-bit: a source may be longer than INT32_MAX bytes.
    const uint8_t* at(int64_t off) const { return (off < 0 ? win : src) + off; }

    // The 4 bytes from source offset `off` (bytes on both sides of pWindow
    // are joined unless the window lies right before the source).
    uint32_t load4(int64_t off) const {
        // (Joined or not is the same on every call: the branch on it is
        // predicted, where one on the sign of off would not be.)
        if (joined || off >= 0) return load32(src + off);
        if (off <= -4) return load32(win + off);
        uint32_t v = 0;
        for (int k = 3; k >= 0; --k) v = v << 8 | *at(off + k);
        return v;
    }

    // Match length (at most max_len) of the earlier source offset `off`
    // against the bytes at p; across the end of the window the compare
    // continues at the start of the source.
    uint32_t measure(int64_t off, const uint8_t* p, uint32_t max_len) const {
        if (joined || off >= 0) return common_prefix(src + off, p, max_len);
        const uint32_t w = static_cast<uint32_t>(-off);
        if (w >= max_len) return common_prefix(win + off, p, max_len);
        const uint32_t k = common_prefix(win + off, p, w);
        return k < w ? k : w + common_prefix(src, p + w, max_len - w);
    }

  private:
    const Lz77Call& call_;

  public:
    const uint8_t* const src;
    const uint8_t* const win;
    const bool joined;    // the window lies right before the source
    const uint32_t base;  // position of source offset 0, after rebasing
    const uint32_t len;   // source bytes
    int32_t* const head;
    int32_t* const prev;
    const uint32_t hmask, wmask, wsize;
    const uint32_t cap;  // free pair elements
    uint32_t n = 0;      // items written

  private:
    uint8_t* const lit_dst_;
    uint16_t* const dist_dst_;
    vekDeflateFreqEntry* const lit_freq_;
    vekDeflateFreqEntry* const dist_freq_;
};

}  // namespace vek::deflate::lz77
