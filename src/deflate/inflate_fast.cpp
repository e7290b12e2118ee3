// The inflater's fast loop: a 64-bit bit buffer refilled 32 bits at a time,
// one lookup for most symbols (extra bits merged into the entries), and
// match copies by whole vectors while the output space allows. Anything out
// of the ordinary (end of block, invalid codes, distances that need
// checking against the window, matches longer than the space) goes back to
// the step machine, which decides it exactly.
#include "deflate/inflate_copy.h"
#include "deflate/inflate_lookup.h"

namespace vek::deflate {

template <class Lookup>
FastExit inflate_fast(const Lookup& lookup, InflateIo& io) {
    // Local copies: byte stores to the output could alias the originals and
    // force reloads on every symbol.
    const Lookup tab = lookup;
    uint8_t* const out0 = io.out0;
    const uint64_t dstIdx = io.dstIdx;
    const uint8_t* in = io.in;
    const uint8_t* const inStart = in;
    const uint8_t* const inLast = io.inEnd - 8;  // the caller leaves at least 16 bytes
    uint64_t bb = io.bits;
    uint32_t nb = io.nbits;
    uint8_t* out = io.out;
    uint8_t* const outEnd = io.outEnd;
    const uint64_t winReach = io.win ? io.winSize : 0;
    FastExit x{1, 0, 0};

    // The next literal/length entry is looked up as soon as 15 bits are
    // known (later refills only add bits above them), so that the lookup
    // overlaps the work on the current symbol.
    LitEntry e{};
    bool ready = false;
    while (in <= inLast && out < outEnd) {
        // At least 32 bits: a literal/length code with its extra bits.
        if (nb < 32) {
            bb |= static_cast<uint64_t>(load32(in)) << nb;
            in += 4;
            nb += 32;
        }
        if (!ready) e = tab.lit(bb);
        ready = false;
        if (e.flag < 16) {  // literal
            *out++ = static_cast<uint8_t>(e.value);
            bb >>= e.flag;
            nb -= e.flag;
            // At least 17 bits are left: room for a second literal code.
            e = tab.lit(bb);
            ready = true;
            if (e.flag >= 16 || out == outEnd) continue;
            *out++ = static_cast<uint8_t>(e.value);
            bb >>= e.flag;
            nb -= e.flag;
            ready = nb >= 15;
            if (ready) e = tab.lit(bb);
            continue;
        }
        if (!(e.flag & kFlagLength)) break;  // end of block or an invalid symbol
        const uint32_t n = e.flag & 15, lex = (e.flag >> 4) & 7;
        bb >>= n;
        uint32_t len = e.value + 3 + (static_cast<uint32_t>(bb) & ((1u << lex) - 1));
        bb >>= lex;
        nb -= n + lex;

        // Again at least 32 bits: a distance code with its extra bits.
        if (nb < 32) {
            bb |= static_cast<uint64_t>(load32(in)) << nb;
            in += 4;
            nb += 32;
        }
        const DistEntry d = tab.dist(bb);
        const uint32_t dn = d.flag & 15, dex = d.flag >> 4;
        if (dn == 0 || dex > 13) {
            x = {3, len, 0};
            break;
        }
        bb >>= dn;
        const uint32_t dist = d.value + (static_cast<uint32_t>(bb) & ((1u << dex) - 1));
        bb >>= dex;
        nb -= dn + dex;
        ready = nb >= 15;
        if (ready) e = tab.lit(bb);

        const size_t room = static_cast<size_t>(outEnd - out);
        const uint64_t pos = static_cast<uint64_t>(out - out0) + dstIdx;
        if (static_cast<uint64_t>(dist) - 1 < pos && len + 32 <= room) {
            copy_match_wide(out, len, dist);
            out += len;
            continue;
        }
        if (len > room || dist == 0 || dist > pos + winReach) {
            x = {5, len, dist};
            break;
        }
        io.out = out;
        copy_match_exact(io, len, dist);
        out = io.out;
    }

    leave_fast_loop(io, in, inStart, bb, nb, out);
    return x;
}

template FastExit inflate_fast<GeneralLookup>(const GeneralLookup&, InflateIo&);
template FastExit inflate_fast<ShortLookup>(const ShortLookup&, InflateIo&);

}  // namespace vek::deflate
