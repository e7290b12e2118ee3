// The inflater's step machine, shared by the general and the short decoder.
// It takes input one byte at a time and only when the current step cannot
// be decided with the bits at hand, so a call may stop at any bit and the
// next one continue from the saved step:
//   1 literal/length code (and extra bits merged with it), 2 length extra
//   bits, 3 distance code (and merged extra bits), 4 distance extra bits,
//   5 match copy, 6 literal output.
// While enough input and some output space remain, step 1 hands over to the
// fast loop, which decodes the same symbols the same way.
#pragma once
#include "deflate/inflate_copy.h"
#include "deflate/inflate_lookup.h"

namespace vek::deflate {

inline bool pull_byte(InflateIo& io) {
    if (io.in == io.inEnd) return false;
    io.bits |= static_cast<uint64_t>(*io.in++) << io.nbits;
    io.nbits += 8;
    return true;
}

// Takes n (at most 15) bits that are present.
inline uint32_t take_bits(InflateIo& io, uint32_t n) {
    const uint32_t v = static_cast<uint32_t>(io.bits) & ((1u << n) - 1);
    io.bits >>= n;
    io.nbits -= n;
    return v;
}

// Bits a code entry needs before it can be acted on: its own length, plus
// the extra bits when they fit within the first-level reach (this is where
// the general form merges them, so the short form waits for them too).
inline uint32_t bits_needed(uint32_t codeLen, uint32_t extra) {
    return extra && codeLen + extra <= 10 ? codeLen + extra : codeLen;
}

template <class Lookup>
vekStatus inflate_steps(const Lookup& tab, InflateIo& io, vekInflateState* st,
                        vekInflateMode* mode) {
    uint32_t step = 1, value = 0, extra = 0, dist = 0;
    if (*mode == vekInflateModeResume) {
        if (st->step < 2 || st->step > 6) return vekStatusSrcDataErr;
        step = static_cast<uint32_t>(st->step);
        value = st->pendingValue;
        extra = st->pendingExtra & 15;
        dist = st->pendingDist;
    }
    // Ends the call inside a symbol, its progress saved in the state.
    auto suspend = [&](uint32_t at) {
        st->step = static_cast<int32_t>(at);
        st->pendingValue = value;
        st->pendingExtra = extra;
        st->pendingDist = dist;
        *mode = vekInflateModeResume;
        return vekStatusOk;
    };
    bool afterFast = false;  // one symbol by steps before the fast loop again
    PackedTables packed;     // built on first use in this call
    bool packedBuilt = false;
    const uint8_t* const callIn = io.in;
    for (;;) {
        switch (step) {
            case 1: {
                const size_t inLeft = static_cast<size_t>(io.inEnd - io.in);
                if (!afterFast && inLeft >= kFastMinInput && io.out < io.outEnd) {
                    FastExit x;
                    const size_t outLeft = static_cast<size_t>(io.outEnd - io.out);
                    // Once built, the packed tables also serve the shorter
                    // stretches before the ends of the buffers.
                    if (packedBuilt ? inLeft >= kPackedReuseInput && outLeft >= kPackedReuseOutput
                                    : inLeft >= kPackedMinInput && outLeft >= kPackedMinOutput) {
                        const size_t taken = static_cast<size_t>(io.in - callIn);
                        if (!packedBuilt && taken < kPackedAfterInput) {
                            // The plain loop takes the call's first input
                            // bytes, stopping there as at the input's end.
                            const uint8_t* const end = io.inEnd;
                            io.inEnd = io.in + (kPackedAfterInput - taken) + kFastMinInput;
                            x = inflate_fast(tab, io);
                            io.inEnd = end;
                        } else {
                            if (!packedBuilt) build_packed_tables(tab, packed);
                            packedBuilt = true;
                            x = inflate_fast_packed(tab, packed, io);
                        }
                    } else {
                        x = inflate_fast(tab, io);
                    }
                    afterFast = x.step == 1;
                    step = x.step;
                    value = x.len;
                    dist = x.dist;
                    extra = 0;
                    break;
                }
                afterFast = false;
                LitEntry e;
                for (;;) {
                    e = tab.lit(io.bits);
                    if (bits_needed(e.flag & 15, e.flag & kFlagLength ? (e.flag >> 4) & 7 : 0) <=
                        io.nbits)
                        break;
                    if (!pull_byte(io)) {
                        *mode = vekInflateModeSymbol;
                        return vekStatusOk;
                    }
                }
                const uint32_t n = e.flag & 15;
                if (e.flag & kFlagLength) {
                    io.bits >>= n;
                    io.nbits -= n;
                    value = e.value + 3;
                    extra = (e.flag >> 4) & 7;
                    dist = 0;
                    if (extra && n + extra <= 10) {
                        value += take_bits(io, extra);
                        extra = 0;
                    }
                    step = extra ? 2 : 3;
                } else if ((e.flag & 0x70) == 0) {
                    take_bits(io, n);
                    value = e.value;
                    extra = dist = 0;
                    step = 6;
                } else if ((e.flag & 0x70) == kFlagEndOfBlock) {
                    take_bits(io, n);
                    *mode = vekInflateModeBlockEnd;
                    return vekStatusOk;
                } else {
                    return vekStatusSrcDataErr;  // the invalid code stays unread
                }
                break;
            }
            case 2:
                while (io.nbits < extra)
                    if (!pull_byte(io)) return suspend(2);
                value += take_bits(io, extra);
                extra = 0;
                step = 3;
                break;
            case 3: {
                DistEntry d;
                for (;;) {
                    d = tab.dist(io.bits);
                    const uint32_t n = d.flag & 15;
                    if ((n ? bits_needed(n, d.flag >> 4) : d.need) <= io.nbits) break;
                    if (!pull_byte(io)) return suspend(3);
                }
                const uint32_t n = d.flag & 15, ex = d.flag >> 4;
                if (n == 0 || ex > 13) return vekStatusSrcDataErr;
                io.bits >>= n;
                io.nbits -= n;
                dist = d.value;
                extra = ex;
                if (extra && n + extra <= 10) {
                    dist += take_bits(io, extra);
                    extra = 0;
                }
                step = extra ? 4 : 5;
                break;
            }
            case 4:
                while (io.nbits < extra)
                    if (!pull_byte(io)) return suspend(4);
                dist += take_bits(io, extra);
                extra = 0;
                step = 5;
                break;
            case 5: {
                if (!distance_ok(io, dist)) return vekStatusSrcDataErr;
                const size_t room = static_cast<size_t>(io.outEnd - io.out);
                const size_t n = value < room ? value : room;
                copy_match_exact(io, n, dist);
                value -= static_cast<uint32_t>(n);
                if (value) return suspend(5);
                step = 1;
                break;
            }
            default:  // 6
                if (io.out == io.outEnd) return suspend(6);
                *io.out++ = static_cast<uint8_t>(value);
                step = 1;
                break;
        }
    }
}

}  // namespace vek::deflate
