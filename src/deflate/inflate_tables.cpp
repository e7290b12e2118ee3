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
        for (uint32_t b = 0; b < 10; ++b) t.r[i] |= static_cast<uint16_t>(((i >> b) & 1) << (9 - b));
    return t;
}
constexpr Reverse10 kReverse10 = make_reverse10();

// The n (1..15) low bits of v in reverse order.
constexpr uint32_t reverse_bits(uint32_t v, uint32_t n) {
    if (n <= 10) return kReverse10.r[v & 1023] >> (10 - n);
    return uint32_t(kReverse10.r[v & 1023]) << (n - 10) | kReverse10.r[(v >> 10) & 31] >> (20 - n);
}
static_assert(reverse_bits(1, 1) == 1 && reverse_bits(0x30, 8) == 0x0C && reverse_bits(1, 15) == 0x4000 &&
              reverse_bits(0x4001, 15) == 0x4001 && reverse_bits(0x7FFE, 15) == 0x3FFF && reverse_bits(0x401, 11) == 0x401);

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

// Allocates second-level blocks for the codes longer than 10 bits: for each
// 10-bit prefix holding such codes, the longest length under it and a block
// of 2^(L - 10) entries. Returns false when the area would overflow.
constexpr bool plan_second_level(const uint8_t* lens, const uint16_t* codes, uint32_t n, uint8_t* longest,
                                 uint16_t* start, uint32_t capacity) {
    bool any = false;
    for (uint32_t s = 0; s < n; ++s) any |= lens[s] > kRoot;
    if (!any) return true;
    for (uint32_t s = 0; s < n; ++s) {
        if (lens[s] <= kRoot) continue;
        const uint32_t p = reverse_bits(codes[s], lens[s]) & 1023;
        if (longest[p] < lens[s]) longest[p] = lens[s];
    }
    uint32_t next = 0;
    for (uint32_t p = 0; p < 1024; ++p) {
        if (!longest[p]) continue;
        start[p] = static_cast<uint16_t>(next);
        next += 1u << (longest[p] - kRoot);
        if (next > capacity) return false;
    }
    return true;
}

// Second-level range of a long code: its bits after the first 10, first bit
// most significant, fill the top of the L - 10 index bits.
constexpr uint32_t second_level_first(uint32_t code, uint32_t len, uint32_t longest, uint32_t start) {
    return start + ((code & ((1u << (len - kRoot)) - 1)) << (longest - len));
}

constexpr bool make_general(const uint8_t* litLens, uint32_t nLit, const uint8_t* distLens, uint32_t nDist,
                            uint8_t* t) {
    for (int i = 0; i < kInflateTableBytes; ++i) t[i] = 0;
    // Literal/length half. Only a single code of length 1 leaves entries
    // unassigned; they decode as an invalid 1-bit symbol.
    for (int i = 0; i < 1024; ++i) t[kLitFlag + i] = static_cast<uint8_t>(kFlagInvalid | 1);
    uint16_t codes[288] = {};
    uint8_t longest[1024] = {};
    uint16_t start[1024] = {};
    assign_codes(litLens, nLit, codes);
    if (!plan_second_level(litLens, codes, nLit, longest, start, kLitSecondLevel)) return false;
    for (uint32_t p = 0; p < 1024; ++p) {
        if (!longest[p]) continue;
        t[kLitFlag + p] = longest[p];
        t[kLitValue + p] = static_cast<uint8_t>(start[p] / 2);
    }
    for (uint32_t s = 0; s < nLit; ++s) {
        const uint32_t n = litLens[s];
        if (!n) continue;
        const LitKind k = lit_kind(s);
        const uint32_t r = reverse_bits(codes[s], n);
        if (n > kRoot) {
            const uint32_t p = r & 1023, L = longest[p];
            const uint32_t first = second_level_first(codes[s], n, L, start[p]);
            for (uint32_t j = 0; j < (1u << (L - n)); ++j) {
                t[kLitFlag2 + first + j] = static_cast<uint8_t>(k.flag | n);
                t[kLitValue2 + first + j] = static_cast<uint8_t>(k.value);
            }
            continue;
        }
        const uint32_t e = (k.extra && n + k.extra <= kRoot) ? k.extra : 0;
        const uint32_t flag = e ? (kFlagLength | (n + e)) : (k.flag | n);
        for (uint32_t x = 0; x < (1u << e); ++x)
            for (uint32_t i = r | x << n; i < 1024; i += 1u << (n + e)) {
                t[kLitFlag + i] = static_cast<uint8_t>(flag);
                t[kLitValue + i] = static_cast<uint8_t>(k.value + x);
            }
    }
    // Distance half; unassigned codes (30, 31, incomplete sets) stay zero.
    uint16_t dcodes[32] = {};
    uint8_t dlongest[1024] = {};
    uint16_t dstart[1024] = {};
    assign_codes(distLens, nDist, dcodes);
    if (!plan_second_level(distLens, dcodes, nDist, dlongest, dstart, kDistSecondLevel)) return false;
    for (uint32_t p = 0; p < 1024; ++p) {
        if (!dlongest[p]) continue;
        t[kDistFlag + p] = dlongest[p];
        put16(t + kDistValue + 2 * p, dstart[p]);
    }
    for (uint32_t s = 0; s < nDist && s < 30; ++s) {
        const uint32_t n = distLens[s];
        if (!n) continue;
        const uint32_t base = kDistBase[s], extra = kDistExtra[s];
        const uint32_t r = reverse_bits(dcodes[s], n);
        if (n > kRoot) {
            const uint32_t p = r & 1023, L = dlongest[p];
            const uint32_t first = second_level_first(dcodes[s], n, L, dstart[p]);
            for (uint32_t j = 0; j < (1u << (L - n)); ++j) {
                t[kDistFlag2 + first + j] = static_cast<uint8_t>(extra << 4 | n);
                put16(t + kDistValue2 + 2 * (first + j), base);
            }
            continue;
        }
        const uint32_t e = n + extra <= kRoot ? extra : 0;
        const uint32_t flag = e ? n + e : (extra << 4 | n);
        for (uint32_t x = 0; x < (1u << e); ++x)
            for (uint32_t i = r | x << n; i < 1024; i += 1u << (n + e)) {
                t[kDistFlag + i] = static_cast<uint8_t>(flag);
                put16(t + kDistValue + 2 * i, base + x);
            }
    }
    return true;
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
    uint32_t used = 0;     // codes with a non-zero length
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
static_assert(kFixedHuffTable[kLitFlag + 0x40] == (kFlagLength | 7) && kFixedHuffTable[kLitValue + 0x40] == 0);
static_assert(kFixedHuffTable[kLitFlag + 0x48] == (kFlagLength | 8) && kFixedHuffTable[kLitValue + 0x48] == 8);
static_assert(kFixedHuffTable[kLitFlag + 0xC8] == (kFlagLength | 8) && kFixedHuffTable[kLitValue + 0xC8] == 9);
static_assert(kFixedHuffTable[kLitFlag + 0xA3] == (kFlagLength | 8) &&
              kFixedHuffTable[kLitValue + 0xA3] == 255);
static_assert(kFixedHuffTable[kLitFlag + 0x63] == (kFlagInvalid | 8));
static_assert(kFixedHuffTable[kDistFlag + 0x0F] == 0 && kFixedHuffTable[kDistValue + 0x1E] == 0);

bool build_general_table(const uint8_t* litLens, uint32_t nLit, const uint8_t* distLens, uint32_t nDist,
                         uint8_t* tables) {
    return make_general(litLens, nLit, distLens, nDist, tables);
}

bool build_short_table(const uint8_t* litLens, uint32_t nLit, const uint8_t* distLens, uint32_t nDist,
                       uint32_t maxLitLen, uint32_t maxDistLen, uint8_t* tables) {
    if (maxLitLen < 1 || maxLitLen > kShortMaxLitLen || maxDistLen > kShortMaxDistLen) return false;
    uint16_t codes[288] = {};
    uint8_t* const lit = tables + kShortLit;
    uint8_t* const dist = tables + kShortDist;
    const uint32_t litSize = 1u << maxLitLen, distSize = 1u << maxDistLen;
    for (uint32_t i = 0; i < litSize; ++i) put16(lit + 2 * i, kFlagInvalid | 1);
    assign_codes(litLens, nLit, codes);
    for (uint32_t s = 0; s < nLit; ++s) {
        const uint32_t n = litLens[s];
        if (!n) continue;
        if (n > maxLitLen) return false;
        const LitKind k = lit_kind(s);
        const uint32_t entry = k.value << 8 | k.flag | n;
        for (uint32_t i = reverse_bits(codes[s], n); i < litSize; i += 1u << n) put16(lit + 2 * i, entry);
    }
    std::memset(dist, 0, 2 * distSize);
    assign_codes(distLens, nDist, codes);
    for (uint32_t s = 0; s < nDist && s < 30; ++s) {
        const uint32_t n = distLens[s];
        if (!n) continue;
        if (n > maxDistLen) return false;
        for (uint32_t i = reverse_bits(codes[s], n); i < distSize; i += 1u << n) put16(dist + 2 * i, s << 4 | n);
    }
    return true;
}

vekStatus build_huff_table(const uint16_t* lens, uint32_t nLit, uint32_t nDist, vekInflateState* st) {
    const CodeSetInfo lit = inspect(lens, nLit);
    const CodeSetInfo dist = inspect(lens + nLit, nDist);
    if (lit.used == 0 || lit.tooLong || dist.tooLong) return vekStatusSrcDataErr;
    if (lit.over || (!lit.complete && !(lit.used == 1 && lit.maxLen == 1))) return vekStatusSrcDataErr;
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
    if (!build_general_table(litLens, nLit, distLens, nDist, st->tables)) return vekStatusSrcDataErr;
    st->tableType = vekInflateTableGeneral;
    return vekStatusOk;
}

}  // namespace vek::deflate
