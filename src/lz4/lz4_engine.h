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
    int32_t get(uint32_t h) const { return t[h]; }
    void put(uint32_t h, int32_t pos) const { t[h] = static_cast<uint16_t>(pos); }
};
struct Table32 {
    int32_t* t;
    static constexpr uint32_t kMask = 0xFFF;
    static constexpr bool kCheckDistance = true;
    int32_t get(uint32_t h) const { return t[h]; }
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

// Encodes src[0, *srcLen) into dst. Checked: dstCap is the capacity and
// *srcLen returns the bytes covered. Returns the block length.
template <bool Checked, class Table, class History>
int32_t encode_engine(const uint8_t* src, int32_t* srcLenIO, uint8_t* dst, int32_t dstCap, Table tab,
                      const History& hist, FirstPhase first) {
    const int32_t srcLen = *srcLenIO;
    const int32_t searchLimit = srcLen - kSearchMargin;
    const int32_t base = hist.base();
    uint8_t* op = dst;
    uint8_t* const oend = dst + dstCap;
    int32_t anchor = 0;
    int32_t q = 0;    // match start (source index)
    Candidate c{};    // its candidate
    int32_t dist = 0;  // its distance

    // Tests entry e against the word at source index i.
    auto accept = [&](int32_t i, int32_t e, uint32_t word) __attribute__((always_inline)) {
        const int32_t d = base + i - e;
        if (Table::kCheckDistance && d > kMaxOffset) return false;
        Candidate cand;
        if (!hist.resolve(e, &cand) || load32(cand.at) != word) return false;
        q = i;
        c = cand;
        dist = d;
        return true;
    };
    auto probe = [&](int32_t i) __attribute__((always_inline)) {
        const uint32_t h = hash5(src + i, Table::kMask);
        const int32_t e = tab.get(h);
        tab.put(h, base + i);
        return accept(i, e, load32(src + i));
    };
    // All three entries are read before any is written, so when two hashes
    // coincide the later position still sees the old entry. One load serves
    // the three words and their fifth bytes.
    auto probe3 = [&](int32_t i) __attribute__((always_inline)) {
        const uint64_t w = load64(src + i);
        const uint32_t w0 = static_cast<uint32_t>(w), w1 = static_cast<uint32_t>(w >> 8),
                       w2 = static_cast<uint32_t>(w >> 16);
        const uint32_t h0 = _mm_crc32_u32(static_cast<uint8_t>(w >> 32), w0) & Table::kMask;
        const uint32_t h1 = _mm_crc32_u32(static_cast<uint8_t>(w >> 40), w1) & Table::kMask;
        const uint32_t h2 = _mm_crc32_u32(static_cast<uint8_t>(w >> 48), w2) & Table::kMask;
        const int32_t e0 = tab.get(h0), e1 = tab.get(h1), e2 = tab.get(h2);
        tab.put(h0, base + i);
        tab.put(h1, base + i + 1);
        tab.put(h2, base + i + 2);
        return accept(i, e0, w0) || accept(i + 1, e1, w1) || accept(i + 2, e2, w2);
    };
    auto first_match = [&]() __attribute__((always_inline)) {
        int32_t i = 1;
        for (; i <= first.single; ++i) {
            if (i >= searchLimit) return false;
            if (probe(i)) return true;
        }
        for (int32_t k = first.k0;; ++k) {
            if (i >= searchLimit) return false;
            if (probe(i)) return true;
            i += k >> first.shift;
        }
    };
    auto next_match = [&](int32_t lastRun) __attribute__((always_inline)) {
        int32_t i = anchor;
        if (lastRun < 64) {
            for (int n = 0; n < 16; ++n, i += 3) {
                if (i >= searchLimit) return false;
                if (probe3(i)) return true;
            }
        }
        for (int32_t k = 128;; ++k) {
            if (i >= searchLimit) return false;
            if (probe(i)) return true;
            i += k >> 6;
        }
    };
    auto match_length = [&]() __attribute__((always_inline)) {
        int32_t limit = srcLen - q - kEndLiterals;
        if (c.cap && c.cap < limit) limit = c.cap;
        return common_prefix(src + q, c.at, limit);
    };
    // Emits anchor..q-1 and the match; false when the checked encoder has no
    // room for it.
    auto emit = [&](int32_t ml) __attribute__((always_inline)) {
        const int32_t L = q - anchor;
        if constexpr (Checked) {
            const int32_t need = L + 3 + ext_bytes(L) + ext_bytes(ml);
            if (!(need < oend - op - 8)) return false;
            op = emit_sequence<8>(op, src + anchor, L, ml, static_cast<uint32_t>(dist));
        } else {
            op = emit_sequence<16>(op, src + anchor, L, ml, static_cast<uint32_t>(dist));
        }
        anchor = q + ml;
        return true;
    };

    if (first_match() && emit(match_length())) {
        int32_t lastRun = q;  // the first sequence's literals are 0..q-1
        while (next_match(lastRun)) {
            int32_t ml = match_length();
            // Backwards no further than the anchor and the candidate's floor.
            const int32_t below = static_cast<int32_t>(c.at - c.floor);
            const int32_t room = q - anchor < below ? q - anchor : below;
            const int32_t back = common_suffix(src + q, c.at, room, q < below ? q : below);
            q -= back;
            c.at -= back;
            ml += back;
            lastRun = q - anchor;
            if (!emit(ml)) break;
        }
    }

    int32_t n = srcLen - anchor;
    if constexpr (Checked) {
        const int32_t avail = static_cast<int32_t>(oend - op);
        if (n >= avail) n = avail - 1;
        while (n + 1 + ext_bytes(n) > avail) --n;
    }
    op = emit_last_literals(op, src + anchor, n);
    *srcLenIO = anchor + n;
    return static_cast<int32_t>(op - dst);
}

}  // namespace vek::lz4
