// Symbol lookups of the two table forms, the bit helpers of the step
// machine, and the fast loop's interface. Both lookups answer in the
// general form's flag language, so one step machine and one fast loop serve
// both forms and give the same results.
#pragma once
#include <cstring>

#include "core/load.h"
#include "deflate/deflate_tables.h"
#include "deflate/inflate.h"

namespace vek::deflate {

// 5-bit reversal: the second-level index takes the bits after the first 10
// in code order, which is the reverse of the order they arrive in.
struct Reverse5 {
    uint8_t r[32];
};
constexpr Reverse5 make_reverse5() {
    Reverse5 t{};
    for (uint32_t i = 0; i < 32; ++i)
        t.r[i] = static_cast<uint8_t>((i & 1) << 4 | (i & 2) << 2 | (i & 4) | (i & 8) >> 2 |
                                      (i & 16) >> 4);
    return t;
}
inline constexpr Reverse5 kReverse5 = make_reverse5();

struct LitEntry {
    uint32_t flag;   // general-form flag byte
    uint32_t value;  // literal, length - 3 or base length - 3
};
struct DistEntry {
    uint32_t flag;   // low 4 bits: bits consumed (0: unassigned code); high 4: extra bits
    uint32_t value;  // distance or base distance
    uint32_t need;   // bits that identify an unassigned code
};

// General two-level form (tableType 1 and the built-in fixed table).
class GeneralLookup {
  public:
    explicit GeneralLookup(const uint8_t* t) : t_(t) {}

    LitEntry lit(uint64_t bits) const {
        const uint32_t i = static_cast<uint32_t>(bits) & 1023;
        uint32_t f = t_[kLitFlag + i], v = t_[kLitValue + i];
        if ((f & 15) > 10) {
            const uint32_t s = (2 * v + (kReverse5.r[(bits >> 10) & 31] >> (15 - (f & 15)))) & 511;
            f = t_[kLitFlag2 + s];
            v = t_[kLitValue2 + s];
        }
        return {f, v};
    }

    DistEntry dist(uint64_t bits) const {
        const uint32_t i = static_cast<uint32_t>(bits) & 1023;
        uint32_t f = t_[kDistFlag + i], v = load16(t_ + kDistValue + 2 * i);
        if ((f & 15) > 10) {
            const uint32_t L = f & 15;
            const uint32_t s = (v + (kReverse5.r[(bits >> 10) & 31] >> (15 - L))) & 255;
            f = t_[kDistFlag2 + s];
            v = load16(t_ + kDistValue2 + 2 * s);
            return {f, v, L};
        }
        return {f, v, 10};
    }

    const uint8_t* data() const { return t_; }

  private:
    const uint8_t* t_;
};

// Short single-level form (tableType 2).
class ShortLookup {
  public:
    ShortLookup(const uint8_t* t, uint32_t maxLitLen, uint32_t maxDistLen)
        : t_(t), litMask_((1u << maxLitLen) - 1), distMask_((1u << maxDistLen) - 1) {}

    LitEntry lit(uint64_t bits) const {
        const uint32_t e = load16(t_ + kShortLit + 2 * (static_cast<uint32_t>(bits) & litMask_));
        return {e & 255, e >> 8};
    }

    DistEntry dist(uint64_t bits) const {
        const uint32_t e = load16(t_ + kShortDist + 2 * (static_cast<uint32_t>(bits) & distMask_));
        const uint32_t sym = e >> 4;
        // An unassigned code waits for as many bits as in the general form.
        if ((e & 15) == 0 || sym >= 30) return {0, 0, 10};
        return {uint32_t(kDistExtra[sym]) << 4 | (e & 15), kDistBase[sym], 10};
    }

    const uint8_t* data() const { return t_; }
    uint32_t lit_mask() const { return litMask_; }
    uint32_t dist_mask() const { return distMask_; }

  private:
    const uint8_t* t_;
    uint32_t litMask_, distMask_;
};

// Where the fast loop left off: step 1 at a symbol boundary (the next symbol
// not consumed), step 3 after a length whose distance code needs the step
// machine, step 5 with a match for the step machine to check and copy.
struct FastExit {
    uint32_t step;
    uint32_t len;
    uint32_t dist;
};

// Hands a fast loop's position back to io: whole bytes fetched from this
// call's input but not used go back to it, so that io holds at most the
// bits of the next symbol plus fewer than 8 (unless they came in through
// *pCode), and nothing above them.
inline void leave_fast_loop(InflateIo& io, const uint8_t* in, const uint8_t* inStart, uint64_t bb,
                            uint32_t nb, uint8_t* out) {
    size_t back = nb >> 3;
    if (back > static_cast<size_t>(in - inStart)) back = static_cast<size_t>(in - inStart);
    in -= back;
    nb -= static_cast<uint32_t>(8 * back);
    bb &= nb ? ~uint64_t{0} >> (64 - nb) : 0;
    io.in = in;
    io.bits = bb;
    io.nbits = nb;
    io.out = out;
}

// Input the fast loop needs to be worth entering.
inline constexpr size_t kFastMinInput = 16;

// Decodes whole symbols while at least 8 input bytes and some output space
// remain. On return io holds at most the bits that belong to the next
// symbol plus fewer than 8, unless they came in through *pCode.
template <class Lookup>
FastExit inflate_fast(const Lookup& tab, InflateIo& io);

extern template FastExit inflate_fast<GeneralLookup>(const GeneralLookup&, InflateIo&);
extern template FastExit inflate_fast<ShortLookup>(const ShortLookup&, InflateIo&);

// Packed tables of the second fast loop (inflate_fast_packed.cpp), derived
// per call from either form; worth their building (a microsecond or two)
// only with this much input and output space ahead.
inline constexpr uint32_t kPackedLitBits = 12;
inline constexpr uint32_t kPackedDistBits = 10;
inline constexpr size_t kPackedMinInput = 2048;
inline constexpr size_t kPackedMinOutput = 8192;
// Input a call decodes with the plain loop before it builds the packed
// tables: a block that ends within it (a sync-flushed stretch of runs takes
// a few dozen bytes) would not repay their building, which costs about as
// much as decoding a few kilobytes.
inline constexpr size_t kPackedAfterInput = 64;
// Where tables built earlier in the call are used again: a few steps fit.
inline constexpr size_t kPackedReuseInput = 64;
inline constexpr size_t kPackedReuseOutput = 1024;
struct PackedTables {
    uint32_t lit[1u << kPackedLitBits];
    uint32_t dist[1u << kPackedDistBits];
};

// Packed literal/length entry, one lookup of kPackedLitBits bits:
//   bits 0-4   bits the entry consumes (codes and merged extra bits, plus
//              the extra bits of its length still to read)
//   bit 7      the state's own lookup must decide (long codes, end of
//              block, invalid codes); nothing else set
//   bits 8-11  bits before the length's extra bits (bit 12 stays clear:
//              bits 8-12 are a 32-bit shift count as they stand)
//   bits 13-14 literals the entry writes (0..2)
//   bit 15     a length follows the literals
//   bits 16-23 the first literal
//   bits 24-31 the second literal, or the length minus 3 (its base)
// A single literal carries its byte in both literal fields, so that the
// two bytes an entry stores are always defined. The low byte of an entry
// that is not slow is its bit count as it stands.
// Packed distance entry: bits 0-4 code and extra bits together, 8-11 code
// bits, 16-31 the distance or its base; 0 when the state's lookup must
// decide (long or unassigned codes).
inline constexpr uint32_t kPackedSlow = 0x80;
inline constexpr uint32_t kPackedLiteral = 0x2000;
inline constexpr uint32_t kPackedHasLength = 0x8000;
inline constexpr uint32_t kPackedKindMask = 0xF000;
constexpr uint32_t packed_literals(uint32_t e) {
    return (e >> 13) & 3;
}

// Single-symbol entries from a resolved flag byte and value.
constexpr uint32_t pack_literal_length(uint32_t flag, uint32_t value) {
    const uint32_t n = flag & 15;
    if (n == 0 || n > kPackedLitBits) return kPackedSlow;
    if (flag < 16) return n | n << 8 | kPackedLiteral | value << 16 | value << 24;
    if (flag & kFlagLength) {
        // Lengths beyond 258 (only in damaged tables) are the slow path's:
        // the loop counts its room in matches of 258 bytes at most.
        const uint32_t lex = (flag >> 4) & 7;
        if (value + (1u << lex) > 256) return kPackedSlow;
        return (n + lex) | n << 8 | kPackedHasLength | value << 24;
    }
    return kPackedSlow;
}
constexpr uint32_t pack_distance(uint32_t n, uint32_t ex, uint32_t base) {
    return (n + ex) | n << 8 | base << 16;
}
constexpr uint32_t pack_distance(uint32_t flag, uint32_t value) {
    const uint32_t n = flag & 15, ex = flag >> 4;
    if (n == 0 || n > kPackedDistBits || ex > 13) return 0;
    return pack_distance(n, ex, value);
}

// A single literal followed by a literal or a length whose code (with its
// merged extra bits) ends within the lookup: one entry for both.
constexpr bool packed_joinable(uint32_t first, uint32_t second) {
    const uint32_t k = second & kPackedKindMask;
    return (first & kPackedKindMask) == kPackedLiteral &&
           (k == kPackedLiteral || k == kPackedHasLength) &&
           (first & 255) + ((second >> 8) & 15) <= kPackedLitBits;
}
constexpr uint32_t packed_join(uint32_t first, uint32_t second) {
    return (second & 0xFF00FFFF) + (first & 0x00FF0FFF) + kPackedLiteral;
}

// Builds the packed tables: each entry is what the state's lookup answers
// for those bits; a literal's entry also takes the symbol after it when
// packed_joinable. The AVX2 builder and the portable one give the same
// tables; build_packed_tables picks one by the processor's features.
void build_packed_tables(const GeneralLookup& tab, PackedTables& pt);
void build_packed_tables(const ShortLookup& tab, PackedTables& pt);
void build_packed_tables_portable(const GeneralLookup& tab, PackedTables& pt);
void build_packed_tables_portable(const ShortLookup& tab, PackedTables& pt);
void build_packed_tables_avx2(const GeneralLookup& tab, PackedTables& pt);
void build_packed_tables_avx2(const ShortLookup& tab, PackedTables& pt);
// The joining pass over single-symbol entries, top down (each entry reads
// only entries below it, or itself), and the entries under a second-level
// pointer of the general form, resolved one by one.
void join_packed_portable(uint32_t* lit);
void join_packed_avx2(uint32_t* lit);
void resolve_packed_pointer(const GeneralLookup& tab, uint32_t i, uint32_t* lit);
// The short form's distance entries, packed one by one (both builders).
void pack_short_distances(const ShortLookup& tab, uint32_t* dist);

// As inflate_fast, with two bytes of output space at least.
template <class Lookup>
FastExit inflate_fast_packed(const Lookup& tab, const PackedTables& pt, InflateIo& io);

extern template FastExit inflate_fast_packed<GeneralLookup>(const GeneralLookup&,
                                                            const PackedTables&, InflateIo&);
extern template FastExit inflate_fast_packed<ShortLookup>(const ShortLookup&, const PackedTables&,
                                                          InflateIo&);

}  // namespace vek::deflate
