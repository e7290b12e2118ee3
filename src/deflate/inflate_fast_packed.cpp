// The inflater's fast loop over packed tables. When a call has a long run
// of input ahead, it first derives from the state's tables (either form) a
// one-word-per-entry literal/length table of 12 bits, in which a literal
// whose code leaves room for the next whole code (a literal or a length)
// carries both, and a one-word distance table of 10 bits
// (inflate_packed_build*.cpp). Every entry is what the state's own lookup
// answers for those bits, so the symbols decoded are the same; codes longer
// than the packed reach, the end of block and invalid codes fall back to the
// state's lookup for that symbol.
#include <immintrin.h>

#include "deflate/inflate_copy.h"
#include "deflate/inflate_lookup.h"

namespace vek::deflate {

namespace {

inline uint32_t low_bits(uint64_t v, uint32_t n) {
    return static_cast<uint32_t>(v) & ((1u << n) - 1);
}

}  // namespace

template <class Lookup>
FastExit inflate_fast_packed(const Lookup& lookup, const PackedTables& pt, InflateIo& io) {
    const Lookup tab = lookup;
    const PackedTables* const T = &pt;  // one base register for both tables
    constexpr uint32_t kLitMask = (1u << kPackedLitBits) - 1,
                       kDistMask = (1u << kPackedDistBits) - 1;
    // Positions in the history: out - histBase (as integers; the history
    // may begin before the buffer, in dstIdx).
    uintptr_t histBase = reinterpret_cast<uintptr_t>(io.out0) - io.dstIdx;
    // One value for the loop to keep, not two loads to subtract each time.
    __asm__("" : "+r"(histBase));
    const uint8_t* in = io.in;
    const uint8_t* const inStart = in;
    uint64_t bb = io.bits;
    // The low 8 bits count the bits in bb; entries are subtracted whole,
    // their low byte being the bits they use, so the bits above are junk.
    uint32_t nb = io.nbits;
    uint8_t* out = io.out;
    FastExit x{1, 0, 0};
    uint32_t len = 0, dist = 0;

    // Steps that certainly fit. A step is one refill of at most 7 bytes
    // (loading 8) and one entry: two stored literal bytes, or a literal and
    // a match of at most 258 bytes whose wide copy stores up to 31 more, so
    // the loop counts steps down instead of testing both buffers.
    constexpr size_t kStepOut = 1 + 258, kStepSlack = 1 + 258 + 31;
    const auto steps_that_fit = [&io](const uint8_t* i, const uint8_t* o) -> size_t {
        const ptrdiff_t inRoom = io.inEnd - i - 8,
                        outRoom = io.outEnd - o - static_cast<ptrdiff_t>(kStepSlack);
        if (inRoom < 0 || outRoom < 0) return 0;
        const size_t a = static_cast<size_t>(inRoom) / 7 + 1,
                     b = static_cast<size_t>(outRoom) / kStepOut + 1;
        return a < b ? a : b;
    };

    // Whole bytes up to 56..63 bits, without a branch. The bits above the
    // count are those of the bytes not yet counted, so the next refill ORs
    // the same values over them; after a refill all 64 bits are the
    // stream's, and every bit used shifts one in at the top that is not.
    const auto refill = [&] {
        bb |= load64(in) << (nb & 63);
        in += (~nb & 63) >> 3;
        nb |= 56;
    };

    size_t left = steps_that_fit(in, out);
    if (left == 0) return x;
    refill();
    uint32_t e = T->lit[bb & kLitMask];
    for (;;) {
        // The hot loop calls nothing, so that its values can stay in
        // registers; a match from the window leaves it for the copy below.
        for (;;) {
            // Here the count is at least 56, e is the entry at bb, and
            // `left` steps fit. A step uses at most 22 bits for its
            // literal/length part and 28 for the distance, so one refill per
            // step is enough, and 14 bits are known for the next lookup.
            {
                const uint16_t two = static_cast<uint16_t>(e >> 16);
                std::memcpy(out, &two, 2);
            }
            out += packed_literals(e);
            if (!(e & (kPackedHasLength | kPackedSlow))) {
                bb >>= e & 63;
                nb -= e;
                e = T->lit[bb & kLitMask];
                goto next;
            }
            if (!(e & kPackedSlow)) {
                // One shift for the codes and the length's extra bits.
                // The low byte is the bit count, bits 8-12 the shift.
                len = (e >> 24) + 3 + (_bzhi_u32(static_cast<uint32_t>(bb), e) >> ((e >> 8) & 31));
                bb >>= e & 63;
                nb -= e;
            } else {
                const LitEntry g = tab.lit(bb);
                if (!(g.flag & kFlagLength) && g.flag >= 16)
                    goto done;  // end of block or an invalid symbol
                if (g.flag < 16) {
                    *out++ = static_cast<uint8_t>(g.value);
                    bb >>= g.flag;
                    nb -= g.flag;
                    e = T->lit[bb & kLitMask];
                    goto next;
                }
                const uint32_t n = g.flag & 15, lex = (g.flag >> 4) & 7;
                bb >>= n;
                len = g.value + 3 + low_bits(bb, lex);
                bb >>= lex;
                nb -= n + lex;
                if (len > 258) {  // only from damaged tables; the room counts 258
                    x = {3, len, 0};
                    goto done;
                }
            }
            {
                uint32_t d = T->dist[bb & kDistMask];
                if (d == 0) {
                    const DistEntry g = tab.dist(bb);
                    const uint32_t dn = g.flag & 15, dex = g.flag >> 4;
                    if (dn == 0 || dex > 13) {
                        x = {3, len, 0};
                        goto done;
                    }
                    d = pack_distance(dn, dex, g.value);
                }
                dist = (d >> 16) + (_bzhi_u32(static_cast<uint32_t>(bb), d) >> ((d >> 8) & 31));
                bb >>= d & 63;
                nb -= d;
                // The next entry is looked up before the copy, which cannot
                // change the table.
                e = T->lit[bb & kLitMask];
                const uint64_t pos = reinterpret_cast<uintptr_t>(out) - histBase;
                if (__builtin_expect(static_cast<uint64_t>(dist) - 1 >= pos, 0)) break;
                copy_match_wide(out, len, dist);  // the room was counted
                out += len;
            }
        next:
            if (__builtin_expect(--left == 0, 0)) {
                left = steps_that_fit(in, out);
                if (left == 0) goto done;
            }
            refill();
        }
        // A match reaching before the output buffer: from the window, if
        // there is one and it reaches that far.
        {
            const uint64_t pos = reinterpret_cast<uintptr_t>(out) - histBase;
            if (dist == 0 || dist > pos + (io.win ? io.winSize : 0)) {
                x = {5, len, dist};
                goto done;
            }
            io.out = out;
            copy_match_exact(io, len, dist);
            out = io.out;
        }
        if (--left == 0) {
            left = steps_that_fit(in, out);
            if (left == 0) break;
        }
        refill();
    }
done:
    leave_fast_loop(io, in, inStart, bb, nb & 255, out);
    return x;
}

template FastExit inflate_fast_packed<GeneralLookup>(const GeneralLookup&, const PackedTables&,
                                                     InflateIo&);
template FastExit inflate_fast_packed<ShortLookup>(const ShortLookup&, const PackedTables&,
                                                   InflateIo&);

}  // namespace vek::deflate
