// The inflater's fast loop over packed tables. When a call has a long run
// of input ahead, it first derives from the state's tables (either form) a
// one-word-per-entry literal/length table of 11 bits, in which a literal
// whose code leaves room for a second whole literal code carries both, and a
// one-word distance table of 10 bits. Every entry is what the state's own
// lookup answers for those bits, so the symbols decoded are the same; codes
// longer than the packed reach, the end of block and invalid codes fall
// back to the state's lookup for that symbol.
#include "deflate/inflate_copy.h"
#include "deflate/inflate_lookup.h"

namespace vek::deflate {

namespace {

// Literal/length entry:
//   bits 0-7   bits of the whole entry (both literals of a pair, a length
//              code with its extra bits): the shift count as it stands
//   bits 8-11  code bits of the first symbol
//   bits 12-13 kind
//   bits 16-23 the literal, or the length minus 3 (its base)
//   bits 24-31 the second literal of a pair
constexpr uint32_t kKindLiteral = 0, kKindPair = 1, kKindLength = 2, kKindSlow = 3;
constexpr uint32_t kKindShift = 12;

uint32_t pack_lit(const LitEntry& e) {
    const uint32_t n = e.flag & 15;
    if (n == 0 || n > kPackedLitBits) return kKindSlow << kKindShift;
    if (e.flag < 16) return n | n << 8 | kKindLiteral << kKindShift | e.value << 16;
    if (e.flag & kFlagLength) {
        const uint32_t lex = (e.flag >> 4) & 7;
        return (n + lex) | n << 8 | kKindLength << kKindShift | e.value << 16;
    }
    return kKindSlow << kKindShift;  // end of block or an invalid code
}

// Distance entry: bits 0-7 code and extra bits together, 8-11 code bits,
// 16-31 base; 0 when the state's lookup must decide (long or unassigned
// codes, codes 30 and 31).
uint32_t pack_dist(uint32_t n, uint32_t ex, uint32_t base) { return (n + ex) | n << 8 | base << 16; }
uint32_t pack_dist(const DistEntry& d) {
    const uint32_t n = d.flag & 15, ex = d.flag >> 4;
    if (n == 0 || n > kPackedDistBits || ex > 13) return 0;
    return pack_dist(n, ex, d.value);
}

inline uint32_t low_bits(uint64_t v, uint32_t n) { return static_cast<uint32_t>(v) & ((1u << n) - 1); }

}  // namespace

template <class Lookup>
void build_packed_tables(const Lookup& tab, PackedTables& pt) {
    constexpr uint32_t kLitSize = 1u << kPackedLitBits, kHalf = kLitSize / 2;
    for (uint32_t i = 0; i < kHalf; ++i) {
        const LitEntry e = tab.lit(i);
        pt.lit[i] = pack_lit(e);
        // A code that ends within the low bits means the same whatever the
        // top bit is.
        pt.lit[i + kHalf] = (e.flag & 15) && (e.flag & 15) < kPackedLitBits ? pt.lit[i] : pack_lit(tab.lit(i + kHalf));
    }
    // Pairs, from the top down so that each entry still reads single
    // entries below it (i >> n1 < i).
    for (uint32_t i = kLitSize; i-- > 0;) {
        const uint32_t e = pt.lit[i];
        if ((e >> kKindShift & 3) != kKindLiteral) continue;
        const uint32_t n1 = e & 255;
        const uint32_t s = pt.lit[i >> n1];
        const uint32_t n2 = s & 255;
        if ((s >> kKindShift & 3) == kKindLiteral && n1 + n2 <= kPackedLitBits)
            pt.lit[i] = (n1 + n2) | n1 << 8 | kKindPair << kKindShift | (e & 0xFF0000) | (s & 0xFF0000) << 8;
    }
    for (uint32_t i = 0; i < (1u << kPackedDistBits); ++i) pt.dist[i] = pack_dist(tab.dist(i));
}

template <class Lookup>
FastExit inflate_fast_packed(const Lookup& lookup, const PackedTables& pt, InflateIo& io) {
    const Lookup tab = lookup;
    const uint32_t* const lit = pt.lit;
    const uint32_t* const distTab = pt.dist;
    constexpr uint32_t kLitMask = (1u << kPackedLitBits) - 1, kDistMask = (1u << kPackedDistBits) - 1;
    // Positions in the history: out - histBase (as integers; the history
    // may begin before the buffer, in dstIdx).
    const uintptr_t histBase = reinterpret_cast<uintptr_t>(io.out0) - io.dstIdx;
    const uint8_t* in = io.in;
    const uint8_t* const inStart = in;
    uint64_t bb = io.bits;
    uint32_t nb = io.nbits;
    uint8_t* out = io.out;
    const uint64_t winReach = io.win ? io.winSize : 0;
    FastExit x{1, 0, 0};

    // Symbols that certainly fit: each takes at most two refills of 7 bytes
    // (each loading 8) and writes at most 258 bytes plus 32 of a wide copy,
    // so the loop counts symbols down instead of testing both buffers.
    const auto symbols_that_fit = [&io](const uint8_t* i, const uint8_t* o) -> size_t {
        const ptrdiff_t inRoom = io.inEnd - i - 16, outRoom = io.outEnd - o - 290;
        if (inRoom < 0 || outRoom < 0) return 0;
        const size_t a = static_cast<size_t>(inRoom) / 14 + 1, b = static_cast<size_t>(outRoom) / 258 + 1;
        return a < b ? a : b;
    };

    // Whole bytes up to 56..63 bits, without a branch. The bits above nb are
    // those of the bytes not yet counted, so the next refill ORs the same
    // values over them; only the bits above the ones in use change, so a
    // lookup of the low bits does not wait for the load.
    const auto refill = [&] {
        bb |= load64(in) << nb;
        in += (63 - nb) >> 3;
        nb |= 56;
    };

    size_t left = symbols_that_fit(in, out);
    if (left == 0) return x;
    refill();
    uint32_t e = lit[bb & kLitMask];
    for (;;) {
        // Here nb >= 56, e is the entry of the next symbol, and `left`
        // symbols fit.
        const uint32_t kind = e >> kKindShift & 3;
        if (kind <= kKindPair) {
            const uint16_t two = static_cast<uint16_t>(e >> 16);
            std::memcpy(out, &two, 2);
            out += 1 + kind;
            bb >>= static_cast<uint8_t>(e);
            nb -= static_cast<uint8_t>(e);
        } else {
            uint32_t len;
            if (kind == kKindLength) {
                // One shift for the code and its extra bits.
                const uint32_t total = static_cast<uint8_t>(e);
                len = ((e >> 16) & 255) + 3 + (low_bits(bb, total) >> (e >> 8 & 15));
                bb >>= total;
                nb -= total;
            } else {
                const LitEntry g = tab.lit(bb);
                if (!(g.flag & kFlagLength) && g.flag >= 16) break;  // end of block or an invalid symbol
                if (g.flag < 16) {
                    *out++ = static_cast<uint8_t>(g.value);
                    bb >>= g.flag;
                    nb -= g.flag;
                    goto next;
                }
                const uint32_t n = g.flag & 15, lex = (g.flag >> 4) & 7;
                bb >>= n;
                len = g.value + 3 + low_bits(bb, lex);
                bb >>= lex;
                nb -= n + lex;
            }

            // At least 36 bits remain: the distance code is looked up before
            // the refill lands.
            uint32_t d = distTab[bb & kDistMask];
            refill();
            if (d == 0) {
                const DistEntry g = tab.dist(bb);
                const uint32_t dn = g.flag & 15, dex = g.flag >> 4;
                if (dn == 0 || dex > 13) {
                    x = {3, len, 0};
                    break;
                }
                d = pack_dist(dn, dex, g.value);
            }
            const uint32_t total = d & 255;
            const uint32_t dist = (d >> 16) + (low_bits(bb, total) >> ((d >> 8) & 15));
            bb >>= total;
            nb -= total;

            const uint64_t pos = reinterpret_cast<uintptr_t>(out) - histBase;
            if (static_cast<uint64_t>(dist) - 1 < pos) {
                copy_match_wide(out, len, dist);  // the room was counted
                out += len;
            } else if (dist == 0 || dist > pos + winReach) {
                x = {5, len, dist};
                break;
            } else {
                io.out = out;
                copy_match_exact(io, len, dist);
                out = io.out;
            }
        }
    next:
        // At least 28 bits remain: the next entry ahead of the refill.
        e = lit[bb & kLitMask];
        if (__builtin_expect(--left == 0, 0)) {
            left = symbols_that_fit(in, out);
            if (left == 0) break;
        }
        refill();
    }

    leave_fast_loop(io, in, inStart, bb, nb, out);
    return x;
}

template void build_packed_tables<GeneralLookup>(const GeneralLookup&, PackedTables&);
template void build_packed_tables<ShortLookup>(const ShortLookup&, PackedTables&);
template FastExit inflate_fast_packed<GeneralLookup>(const GeneralLookup&, const PackedTables&, InflateIo&);
template FastExit inflate_fast_packed<ShortLookup>(const ShortLookup&, const PackedTables&, InflateIo&);

}  // namespace vek::deflate
