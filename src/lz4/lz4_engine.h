// The single-pass LZ4 search shared by the block encoders and the history
// encoders: a first-match phase that probes every position and then speeds
// up while nothing matches, triple probes after short literal runs, and
// accelerating single probes after long ones. A history policy says where a
// table entry's bytes are and how far a match against them may run; the
// checked variant adds a room test before every sequence and limits the
// last literals.
#pragma once
#include <immintrin.h>

#include <cstdint>

#include "lz4_common.h"

namespace vek::lz4 {

inline constexpr int32_t kSearchMargin = 44;  // no probe group starts at or beyond srcLen - 44
inline constexpr int32_t kEndLiterals = 12;   // the last 12 bytes are always literals

// Hash-table views over the caller's 16 KiB. The 16-bit layout serves
// sources below 64 KiB and needs no distance test: every position is within
// reach. Mask: 4096 entries, or 8192 16-bit ones for the accelerated encoder.
template <uint32_t Mask>
struct Table16T {
    uint16_t* t;
    static constexpr uint32_t kMask = Mask;
    static constexpr bool kCheckDistance = false;
    int32_t get(uint32_t h) const { return t[opaque<size_t>(h)]; }
    void put(uint32_t h, int32_t pos) const { t[h] = static_cast<uint16_t>(pos); }
};
struct Table32 {
    int32_t* t;
    static constexpr uint32_t kMask = 0xFFF;
    static constexpr bool kCheckDistance = true;
    // The entry is read through its own index so that the load does not
    // wait for an address the store shares.
    int32_t get(uint32_t h) const { return t[opaque<size_t>(h)]; }
    void put(uint32_t h, int32_t pos) const { t[h] = pos; }
};
using Table16 = Table16T<0xFFF>;

// Where a candidate's bytes are: its address, the lowest address a backward
// extension may reach, and a cap on the match length (0: none).
struct Candidate {
    const uint8_t* at;
    const uint8_t* floor;
    int32_t cap;
};

// The source alone: positions are source indices.
struct NoHistory {
    // Every entry is an earlier source index: its bytes can be read
    // unconditionally, which lets probes test without branching.
    static constexpr bool kAllReadable = true;
    const uint8_t* src;
    int32_t base() const { return 0; }
    bool resolve(int32_t e, Candidate* c) const {
        c->at = src + e;
        c->floor = src;
        c->cap = 0;
        return true;
    }
};

// History in memory right before the source; candidates there are not
// extended backwards.
struct PrefixHistory {
    static constexpr bool kAllReadable = false;
    const uint8_t* src;
    int32_t srcIdx;
    int32_t base() const { return srcIdx; }
    bool resolve(int32_t e, Candidate* c) const {
        c->at = src - srcIdx + e;
        c->floor = e >= srcIdx ? src : c->at;
        c->cap = 0;
        return true;
    }
};

// A separate dictionary whose last byte is position srcIdx - 1. A candidate
// there needs 8 bytes before the dictionary's end, and its match stops at
// that end.
struct DictHistory {
    static constexpr bool kAllReadable = false;
    const uint8_t* src;
    int32_t srcIdx;
    const uint8_t* dict;
    int32_t dictLen;
    int32_t base() const { return srcIdx; }
    bool resolve(int32_t e, Candidate* c) const {
        if (e >= srcIdx) {
            c->at = src + (e - srcIdx);
            c->floor = src;
            c->cap = 0;
            return true;
        }
        const int32_t back = srcIdx - e;  // bytes before the dictionary's end
        if (back > dictLen || back < 8) return false;
        c->at = dict + (dictLen - back);
        c->floor = dict;
        c->cap = back;
        return true;
    }
};

struct FirstPhase {
    int32_t single;  // positions 1..single are probed one by one
    int32_t k0;      // then the step is k >> shift, k from k0, growing per probe
    int shift;
};

// Whether table entry e holds the word at source index i (d = its distance).
template <class Table, class History>
__attribute__((always_inline)) inline bool entry_matches(const History& hist, int32_t d, int32_t e,
                                                         uint32_t word) {
    if constexpr (History::kAllReadable) {
        // Both tests evaluated, one branch taken by the caller.
        const bool near = !Table::kCheckDistance || d <= kMaxOffset;
        // Entries and positions are never negative: zero-extending them
        // costs nothing after their 32-bit loads and adds.
        return near & (load32(hist.src + static_cast<uint32_t>(e)) == word);
    } else {
        if (Table::kCheckDistance && d > kMaxOffset) return false;
        Candidate cand;
        return hist.resolve(e, &cand) && load32(cand.at) == word;
    }
}

// Probes source index i: swaps its position into the table and tests the
// entry it replaces, which *e receives.
template <class Table, class History>
__attribute__((always_inline)) inline bool probe1(const uint8_t* src, Table tab,
                                                  const History& hist, int32_t base, int32_t i,
                                                  int32_t* e) {
    const uint8_t* const s = src + static_cast<uint32_t>(i);
    const uint32_t h = hash5(s, Table::kMask);
    *e = tab.get(h);
    tab.put(h, base + i);
    return entry_matches<Table>(hist, base + i - *e, *e, load32(s));
}

// Probes i, i + 1, i + 2. All three entries are read before any is written,
// so when two hashes coincide the later position still sees the old entry.
// Returns which of the three matched first (its entry in *e), or -1.
template <class Table, class History>
__attribute__((always_inline)) inline int probe3(const uint8_t* src, Table tab, const History& hist,
                                                 int32_t base, int32_t i, int32_t* e) {
    const uint8_t* const s = src + static_cast<uint32_t>(i);
    // The hashed bytes are read by index (see opaque): the group's loads
    // start as soon as i is known.
    const size_t a = static_cast<uint32_t>(i);
    const uint32_t h0 = hash5_at<0>(src, a, Table::kMask), h1 = hash5_at<1>(src, a, Table::kMask),
                   h2 = hash5_at<2>(src, a, Table::kMask);
    const int32_t e0 = tab.get(h0), e1 = tab.get(h1), e2 = tab.get(h2);
    const int32_t p = base + i;
    tab.put(h0, p);
    tab.put(h1, p + 1);
    tab.put(h2, p + 2);
    {
        if (entry_matches<Table>(hist, p - e0, e0, load32(s))) {
            *e = e0;
            return 0;
        }
        if (entry_matches<Table>(hist, p + 1 - e1, e1, load32(s + 1))) {
            *e = e1;
            return 1;
        }
        if (entry_matches<Table>(hist, p + 2 - e2, e2, load32(s + 2))) {
            *e = e2;
            return 2;
        }
        return -1;
    }
}

// Where a run of n probes spaced by step from i stops: after its last
// probe, or at the search limit. Positions stepping past the limit are kept
// in 64 bits: with a source near INT32_MAX the step after the last probe
// would wrap a 32-bit position.
inline int64_t run_end(int64_t i, int32_t step, int32_t n, int32_t searchLimit) {
    const int64_t end = i + int64_t{step} * n;
    return end < searchLimit ? end : searchLimit;
}

// Encodes src[0, *srcLen) into dst. Checked: dstCap is the capacity and
// *srcLen returns the bytes covered. Returns the block length. Written as
// one flat loop over plain locals so that the search state stays in
// registers.
template <bool Checked, class Table, class History>
int32_t encode_engine(const uint8_t* src, int32_t* srcLenIO, uint8_t* dst, int32_t dstCap,
                      Table tab, const History& histIn, FirstPhase first) {
    if constexpr (Checked) {
        // A sequence takes at most one byte more than the source it covers
        // per 255 literals, so with room for srcLen + srcLen / 255 + 16
        // bytes no room test can fail and no literal run gets cut: the
        // block is the unchecked encoder's, which may also overshoot its
        // literal copies inside that room.
        if (int64_t{dstCap} >= int64_t{*srcLenIO} + *srcLenIO / 255 + 16)
            return encode_engine<false>(src, srcLenIO, dst, dstCap, tab, histIn, first);
    }
    const History hist = histIn;
    const int32_t srcLen = *srcLenIO;
    const int32_t searchLimit = srcLen - kSearchMargin;
    const int32_t base = hist.base();
    uint8_t* op = dst;
    uint8_t* const oend = dst + dstCap;
    int32_t anchor = 0;
    int32_t q = 0;        // match start (source index)
    int32_t e = 0;        // its table entry
    int32_t lastRun = 0;  // literals before the last match
    bool firstMatch = true;

    {
        // The first match: single probes, then a step that grows while
        // nothing matches.
        int32_t i = 1;
        for (; i <= first.single; ++i) {
            if (i >= searchLimit) goto last_literals;
            if (probe1(src, tab, hist, base, i, &e)) {
                q = i;
                goto found;
            }
        }
        // Runs of probes at one step (the step grows by one per 1 << shift
        // probes): the inner loop adds and compares, nothing more.
        int32_t step = first.k0 >> first.shift;
        int32_t left = (1 << first.shift) - (first.k0 & ((1 << first.shift) - 1));
        int64_t p = i;
        for (;;) {
            const int64_t end = run_end(p, step, left, searchLimit);
            for (; p < end; p += step) {
                if (probe1(src, tab, hist, base, static_cast<int32_t>(p), &e)) {
                    q = static_cast<int32_t>(p);
                    goto found;
                }
            }
            if (p >= searchLimit) goto last_literals;
            ++step;
            left = 1 << first.shift;
        }
    }

    for (;;) {
        {
            // Triple probes after a short literal run, then accelerating
            // single probes.
            int32_t i = anchor;
            if (lastRun < 64) {
                // Sixteen groups, or as many as start before the limit.
                const bool whole = i + 45 < searchLimit;
                const int32_t end = whole ? i + 48 : searchLimit;
                for (; i < end; i += 3) {
                    const int r = probe3(src, tab, hist, base, i, &e);
                    if (r >= 0) {
                        q = i + r;
                        goto found;
                    }
                }
                if (!whole) goto last_literals;
            }
            // Step 2 for 64 probes, 3 for the next 64, and so on.
            int64_t p = i;
            for (int32_t step = 2;; ++step) {
                const int64_t end = run_end(p, step, 64, searchLimit);
                for (; p < end; p += step) {
                    if (probe1(src, tab, hist, base, static_cast<int32_t>(p), &e)) {
                        q = static_cast<int32_t>(p);
                        goto found;
                    }
                }
                if (p >= searchLimit) goto last_literals;
            }
        }
    found : {
        Candidate c{};
        hist.resolve(e, &c);
        const uint32_t dist = static_cast<uint32_t>(base + q - e);
        int32_t limit = srcLen - q - kEndLiterals;
        if (c.cap && c.cap < limit) limit = c.cap;
        int32_t ml;
        if constexpr (History::kAllReadable) {
            ml = common_prefix_at(src, static_cast<uint32_t>(q), static_cast<uint32_t>(e), limit);
        } else {
            ml = common_prefix(src + q, c.at, limit);
        }
        // Where the sequence ends does not depend on the backward
        // extension: taking it from here lets the next search start before
        // that extension is known.
        const int32_t next = q + ml;
        if (!firstMatch) {
            // Backwards no further than the anchor and the candidate's floor.
            const int32_t below = static_cast<int32_t>(c.at - c.floor);
            const int32_t room = q - anchor < below ? q - anchor : below;
            const int32_t back = common_suffix(src + q, c.at, room, q < below ? q : below);
            q -= back;
            ml += back;
        }
        firstMatch = false;
        const int32_t L = q - anchor;
        lastRun = L;
        if constexpr (Checked) {
            // In 64 bits: a run of ~2.1 GB literals would wrap the sum.
            const int64_t need = int64_t{L} + 3 + ext_bytes(L) + ext_bytes(ml);
            if (!(need < oend - op - 8)) goto last_literals;
            op = emit_sequence<8>(op, src + anchor, L, ml, dist);
        } else {
            op = emit_sequence<16>(op, src + anchor, L, ml, dist);
        }
        anchor = next;
    }
    }

last_literals:
    int32_t n = srcLen - anchor;
    if constexpr (Checked) {
        const int32_t avail = static_cast<int32_t>(oend - op);
        if (n >= avail) n = avail - 1;
        while (int64_t{n} + 1 + ext_bytes(n) > avail) --n;
    }
    op = emit_last_literals(op, src + anchor, n);
    *srcLenIO = anchor + n;
    return static_cast<int32_t>(op - dst);
}

}  // namespace vek::lz4
