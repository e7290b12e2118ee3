// Decoding tables for Deflate block bodies: validation of code lengths, the
// general two-level form, the short single-level form, and the built-in
// table of the fixed codes, which the general builder produces at compile
// time so that it is exactly the general form of those codes.
#include <cstring>

#include "deflate/deflate_tables.h"
#include "deflate/inflate.h"

namespace vek::deflate {
namespace {

constexpr int kMaxCodeLen = 15;
constexpr int kRoot = 10;  // first-level index bits of the general form

// 10-bit reversal of 0..1023.
struct Reverse10 {
    uint16_t r[1024];
};
constexpr Reverse10 make_reverse10() {
    Reverse10 t{};
    for (uint32_t i = 0; i < 1024; ++i)
        for (uint32_t b = 0; b < 10; ++b)
            t.r[i] |= static_cast<uint16_t>(((i >> b) & 1) << (9 - b));
    return t;
}
constexpr Reverse10 kReverse10 = make_reverse10();

// The n (1..15) low bits of v in reverse order.
constexpr uint32_t reverse_bits(uint32_t v, uint32_t n) {
    if (n <= 10) return kReverse10.r[v & 1023] >> (10 - n);
    return uint32_t(kReverse10.r[v & 1023]) << (n - 10) | kReverse10.r[(v >> 10) & 31] >> (20 - n);
}
static_assert(reverse_bits(1, 1) == 1 && reverse_bits(0x30, 8) == 0x0C &&
              reverse_bits(1, 15) == 0x4000 && reverse_bits(0x4001, 15) == 0x4001 &&
              reverse_bits(0x7FFE, 15) == 0x3FFF && reverse_bits(0x401, 11) == 0x401);

// Canonical codes (RFC 1951, 3.2.2), first code bit most significant.
constexpr void assign_codes(const uint8_t* lens, uint32_t n, uint16_t* codes) {
    uint32_t count[kMaxCodeLen + 1] = {};
    for (uint32_t i = 0; i < n; ++i) ++count[lens[i]];
    count[0] = 0;
    uint32_t next[kMaxCodeLen + 1] = {};
    uint32_t code = 0;
    for (int b = 1; b <= kMaxCodeLen; ++b) {
        code = (code + count[b - 1]) << 1;
        next[b] = code;
    }
    for (uint32_t i = 0; i < n; ++i)
        codes[i] = lens[i] ? static_cast<uint16_t>(next[lens[i]]++) : 0;
}

// Flag and value of a literal/length symbol before merging extra bits.
struct LitKind {
    uint32_t flag, value, extra;
};
constexpr LitKind lit_kind(uint32_t sym) {
    if (sym < 256) return {0, sym, 0};
    if (sym == 256) return {kFlagEndOfBlock, 0, 0};
    if (sym < 286) {
        const uint32_t c = sym - 257;
        return {kFlagLength | uint32_t(kLengthExtra[c]) << 4, kLengthBase[c] - 3u, kLengthExtra[c]};
    }
    return {kFlagInvalid, 0, 0};
}

constexpr void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// One half of the general form: a flag byte array and a value array of
// bytes (literal/length) or 16-bit words (distance), each with its second
// level behind it.
struct Half {
    uint8_t* t;
    int value, value2, flag, flag2;  // offsets in the table
    bool wide;                       // 16-bit values
    uint32_t secondLevel;            // entries of the second-level area

    constexpr void put(int area, int flagArea, uint32_t i, uint32_t f, uint32_t v) const {
        t[flagArea + i] = static_cast<uint8_t>(f);
        if (wide)
            put16(t + area + 2 * i, v);
        else
            t[area + i] = static_cast<uint8_t>(v);
    }
    // Copies the first `size` first-level entries to the next `size`.
    constexpr void twice(uint32_t size) const {
        const uint32_t w = wide ? 2 : 1;
        if (!__builtin_is_constant_evaluated()) {
            std::memcpy(t + flag + size, t + flag, size);
            std::memcpy(t + value + w * size, t + value, w * size);
            return;
        }
        for (uint32_t i = 0; i < size; ++i) t[flag + size + i] = t[flag + i];
        for (uint32_t i = 0; i < w * size; ++i) t[value + w * size + i] = t[value + i];
    }
};

// What a symbol's entries hold, before merging extra bits: flag kind bits,
// value and extra bits; `assigned` false leaves the entries unassigned.
struct SymbolKind {
    bool assigned;
    uint32_t flag, value, extra;
};
constexpr SymbolKind symbol_kind(bool lit, uint32_t sym) {
    if (!lit)
        return {sym < 30, sym < 30 ? uint32_t(kDistExtra[sym]) << 4 : 0u,
                sym < 30 ? kDistBase[sym] : 0u, sym < 30 ? kDistExtra[sym] : 0u};
    const LitKind k = lit_kind(sym);
    return {true, k.flag, k.value, k.extra};
}

// Fills one half. The first level is built by doubling: the entries of
// the codes of length b (and of those whose length plus merged extra bits
// is b) are written into the first 2^b entries, which are then copied to
// the next 2^b, so every code is written once. Codes longer than 10 bits
// get a block of 2^(L - 10) second-level entries per 10-bit prefix, L the
// longest code under it, the blocks in the order of their prefixes.
// Returns false when the second-level area would overflow.
constexpr bool fill_half(const Half& h, const uint8_t* lens, uint32_t n, bool lit) {
    uint16_t codes[288] = {};
    assign_codes(lens, n, codes);
    // Symbols by the level they are written at (stable counting sort).
    uint32_t level[288] = {};
    uint32_t count[kRoot + 2] = {};
    bool anyLong = false;
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t len = lens[s];
        if (len > kRoot) anyLong = true;
        const SymbolKind k = symbol_kind(lit, s);
        if (!len || len > kRoot || !k.assigned) continue;
        const uint32_t e = k.extra && len + k.extra <= kRoot ? k.extra : 0;
        level[s] = len + e;
        ++count[len + e];
    }
    uint32_t first[kRoot + 2] = {};
    for (uint32_t b = 1; b <= kRoot + 1; ++b) first[b] = first[b - 1] + count[b - 1];
    uint16_t order[288] = {};
    for (uint32_t s = 0; s < n; ++s)
        if (level[s]) order[first[level[s]]++] = static_cast<uint16_t>(s);
    // Unassigned entries: an invalid 1-bit symbol, or a zero distance.
    const uint32_t none = lit ? (kFlagInvalid | 1) : 0;
    h.put(h.value, h.flag, 0, none, 0);
    h.put(h.value, h.flag, 1, none, 0);
    uint32_t next = 0;  // into order
    for (uint32_t b = 1; b <= kRoot; ++b) {
        if (b > 1) h.twice(1u << (b - 1));
        for (; next < n && next < first[b]; ++next) {
            const uint32_t s = order[next], len = lens[s];
            const SymbolKind k = symbol_kind(lit, s);
            const uint32_t r = reverse_bits(codes[s], len), e = b - len;
            const uint32_t flag = e ? ((lit ? kFlagLength : 0) | b) : (k.flag | len);
            for (uint32_t x = 0; x < (1u << e); ++x)
                h.put(h.value, h.flag, r | x << len, flag, k.value + x);
        }
    }
    if (!anyLong) return true;

    // The 10-bit prefixes of the long codes, with their longest length;
    // blocks go out in ascending prefix order.
    uint32_t present[1024 / 32] = {};
    uint8_t longest[1024] = {};
    uint16_t start[1024] = {};
    for (uint32_t s = 0; s < n; ++s) {
        if (lens[s] <= kRoot) continue;
        const uint32_t p = reverse_bits(codes[s], lens[s]) & 1023;
        present[p / 32] |= 1u << (p % 32);
        if (longest[p] < lens[s]) longest[p] = lens[s];
    }
    uint32_t used = 0;
    for (uint32_t w = 0; w < 1024 / 32; ++w)
        for (uint32_t m = present[w]; m; m &= m - 1) {
            const uint32_t p = 32 * w + static_cast<uint32_t>(__builtin_ctz(m));
            start[p] = static_cast<uint16_t>(used);
            used += 1u << (longest[p] - kRoot);
            if (used > h.secondLevel) return false;
            h.put(h.value, h.flag, p, longest[p], lit ? start[p] / 2 : start[p]);
        }
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t len = lens[s];
        const SymbolKind k = symbol_kind(lit, s);
        if (len <= kRoot || !k.assigned) continue;
        const uint32_t p = reverse_bits(codes[s], len) & 1023, L = longest[p];
        const uint32_t at = start[p] + ((codes[s] & ((1u << (len - kRoot)) - 1)) << (L - len));
        for (uint32_t x = 0; x < (1u << (L - len)); ++x)
            h.put(h.value2, h.flag2, at + x, k.flag | len, k.value);
    }
    return true;
}

constexpr bool make_general(const uint8_t* litLens, uint32_t nLit, const uint8_t* distLens,
                            uint32_t nDist, uint8_t* t) {
    for (int i = 0; i < kInflateTableBytes; ++i) t[i] = 0;
    const Half lit{t, kLitValue, kLitValue2, kLitFlag, kLitFlag2, false, kLitSecondLevel};
    const Half dist{t, kDistValue, kDistValue2, kDistFlag, kDistFlag2, true, kDistSecondLevel};
    return fill_half(lit, litLens, nLit, true) && fill_half(dist, distLens, nDist, false);
}

struct FixedLengths {
    uint8_t lit[288];
    uint8_t dist[32];
};
constexpr FixedLengths fixed_lengths() {
    FixedLengths f{};
    for (int i = 0; i < 288; ++i) f.lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (int i = 0; i < 32; ++i) f.dist[i] = 5;
    return f;
}

constexpr std::array<uint8_t, kInflateTableBytes> make_fixed_table() {
    std::array<uint8_t, kInflateTableBytes> t{};
    const FixedLengths f = fixed_lengths();
    make_general(f.lit, 288, f.dist, 32, t.data());
    return t;
}

// Code-set test of the builder: counts per length and the Kraft sum.
struct CodeSetInfo {
    uint32_t used = 0;  // codes with a non-zero length
    uint32_t maxLen = 0;
    bool tooLong = false;  // a length above 15
    bool over = false;     // over-subscribed
    bool complete = false;
};
CodeSetInfo inspect(const uint16_t* lens, uint32_t n) {
    CodeSetInfo info;
    uint32_t count[kMaxCodeLen + 1] = {};
    for (uint32_t i = 0; i < n; ++i) {
        if (!lens[i]) continue;
        if (lens[i] > kMaxCodeLen) {
            info.tooLong = true;
            continue;
        }
        ++info.used;
        ++count[lens[i]];
        if (lens[i] > info.maxLen) info.maxLen = lens[i];
    }
    // Codes in use, scaled to the current length, against 2^length.
    uint32_t inUse = 0;
    for (uint32_t b = 1; b <= info.maxLen; ++b) {
        inUse = 2 * inUse + count[b];
        if (inUse > (1u << b)) {
            info.over = true;
            return info;
        }
    }
    info.complete = info.maxLen && inUse == (1u << info.maxLen);
    return info;
}

}  // namespace

constexpr std::array<uint8_t, kInflateTableBytes> kFixedHuffTable = make_fixed_table();

// Spot checks of the compile-time table: literal 0 (code 00110000), the
// end-of-block code 0000000, length 3 (0000001), length 11..12 (code 265,
// 0001001, one extra bit merged), length 258 (11000101), invalid 286
// (11000110) and distance code 30 (11110).
static_assert(kFixedHuffTable[kLitFlag + 0x0C] == 8 && kFixedHuffTable[kLitValue + 0x0C] == 0);
static_assert(kFixedHuffTable[kLitFlag + 0] == (kFlagEndOfBlock | 7));
static_assert(kFixedHuffTable[kLitFlag + 0x40] == (kFlagLength | 7) &&
              kFixedHuffTable[kLitValue + 0x40] == 0);
static_assert(kFixedHuffTable[kLitFlag + 0x48] == (kFlagLength | 8) &&
              kFixedHuffTable[kLitValue + 0x48] == 8);
static_assert(kFixedHuffTable[kLitFlag + 0xC8] == (kFlagLength | 8) &&
              kFixedHuffTable[kLitValue + 0xC8] == 9);
static_assert(kFixedHuffTable[kLitFlag + 0xA3] == (kFlagLength | 8) &&
              kFixedHuffTable[kLitValue + 0xA3] == 255);
static_assert(kFixedHuffTable[kLitFlag + 0x63] == (kFlagInvalid | 8));
static_assert(kFixedHuffTable[kDistFlag + 0x0F] == 0 && kFixedHuffTable[kDistValue + 0x1E] == 0);

bool build_general_table(const uint8_t* litLens, uint32_t nLit, const uint8_t* distLens,
                         uint32_t nDist, uint8_t* tables) {
    return make_general(litLens, nLit, distLens, nDist, tables);
}

namespace {

// Fills a one-level table of 2^maxLen 16-bit entries for a prefix code (or
// a code of one length-1 word) by doubling: the table of the codes up to
// length b - 1 is copied once, which repeats every shorter code's entry
// where the b-bit lookups meet it, and then the b-bit codes are written,
// one store each (canonical codes run up by symbol within a length).
// Entries no code reaches keep `empty`; entry(s) == 0xFFFFFFFF leaves
// symbol s out (its code still takes its place). False, with nothing
// written, when a length exceeds maxLen.
template <class EntryOf>
bool fill_by_doubling(uint8_t* t, uint32_t maxLen, const uint8_t* lens, uint32_t n, uint32_t empty,
                      EntryOf entry) {
    uint32_t count[kMaxCodeLen + 1] = {};
    for (uint32_t s = 0; s < n; ++s) ++count[lens[s]];
    uint32_t next[kMaxCodeLen + 2];
    next[0] = next[1] = 0;
    for (uint32_t b = 1; b <= kMaxCodeLen; ++b) {
        if (b > maxLen && count[b]) return false;
        next[b + 1] = next[b] + count[b];
    }
    uint16_t byLen[288];
    for (uint32_t s = 0; s < n; ++s)
        if (lens[s]) byLen[next[lens[s]]++] = static_cast<uint16_t>(s);
    // next[b] now ends length b's symbols, which start where b - 1's end.
    put16(t, empty);
    uint32_t code = 0, k = 0;
    for (uint32_t b = 1, size = 1; b <= maxLen; ++b, size *= 2) {
        std::memcpy(t + 2 * size, t, 2 * size);
        for (const uint32_t end = next[b]; k < end; ++k, ++code) {
            const uint32_t sym = byLen[k], e = entry(sym);
            if (e != 0xFFFFFFFFu) put16(t + 2 * reverse_bits(code, b), e);
        }
        code <<= 1;
    }
    return true;
}

}  // namespace

bool build_short_table(const uint8_t* litLens, uint32_t nLit, const uint8_t* distLens,
                       uint32_t nDist, uint32_t maxLitLen, uint32_t maxDistLen, uint8_t* tables) {
    if (maxLitLen < 1 || maxLitLen > kShortMaxLitLen || maxDistLen > kShortMaxDistLen) return false;
    // Distance symbols 30 and 31 take their code space but get no entry.
    return fill_by_doubling(tables + kShortLit, maxLitLen, litLens, nLit, kFlagInvalid | 1,
                            [&](uint32_t s) {
                                const LitKind k = lit_kind(s);
                                return k.value << 8 | k.flag | litLens[s];
                            }) &&
           fill_by_doubling(tables + kShortDist, maxDistLen, distLens, nDist, 0, [&](uint32_t s) {
               return s < 30 ? s << 4 | distLens[s] : 0xFFFFFFFFu;
           });
}

vekStatus build_huff_table(const uint16_t* lens, uint32_t nLit, uint32_t nDist,
                           vekInflateState* st) {
    const CodeSetInfo lit = inspect(lens, nLit);
    const CodeSetInfo dist = inspect(lens + nLit, nDist);
    if (lit.used == 0 || lit.tooLong || dist.tooLong) return vekStatusSrcDataErr;
    if (lit.over || (!lit.complete && !(lit.used == 1 && lit.maxLen == 1)))
        return vekStatusSrcDataErr;
    if (dist.over || (!dist.complete && dist.used != 0 && !(dist.used == 1 && dist.maxLen == 1)))
        return vekStatusSrcDataErr;

    uint8_t litLens[288], distLens[30];
    for (uint32_t i = 0; i < nLit; ++i) litLens[i] = static_cast<uint8_t>(lens[i]);
    for (uint32_t i = 0; i < nDist; ++i) distLens[i] = static_cast<uint8_t>(lens[nLit + i]);
    if (lit.maxLen <= kShortMaxLitLen && dist.maxLen <= kShortMaxDistLen) {
        if (nLit < 257) return vekStatusSrcDataErr;
        if (!build_short_table(litLens, nLit, distLens, nDist, lit.maxLen, dist.maxLen, st->tables))
            return vekStatusSrcDataErr;
        st->maxLitLen = lit.maxLen;
        st->maxDistLen = dist.maxLen;
        st->tableType = vekInflateTableShort;
        return vekStatusOk;
    }
    if (!build_general_table(litLens, nLit, distLens, nDist, st->tables))
        return vekStatusSrcDataErr;
    st->tableType = vekInflateTableGeneral;
    return vekStatusOk;
}

}  // namespace vek::deflate
