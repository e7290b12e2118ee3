// A plain model of one inflater call, written from the decoder's contract:
// codes are found bit by bit from their lengths (canonical codes, RFC 1951
// 3.2.2), input is taken one byte at a time and only when the item at hand
// cannot be decided with the bits already held, and a call ends exactly
// where the contract says: at end of block (mode 0), when the input runs out
// at a symbol start (mode 1) or inside a symbol (mode 2, its step saved),
// when the output is full with a literal or a match pending (mode 2), or at
// invalid data (an error, the mode untouched).
//
// Choices the contract leaves open, taken as the library takes them:
//   - an invalid literal/length code is reported once its own bits are held
//     and those bits stay unread;
//   - an unassigned distance code (codes 30 and 31, an empty or single-code
//     distance set) is reported once 10 bits are held, its bits unread;
//   - a distance beyond the output buffer plus the window (or beyond the
//     output buffer without a window) is an error found before any byte of
//     the match is copied, with the length and distance bits read;
//   - the saved step holds the whole length (base plus 3, extra bits added
//     as they are read) and zeros in the fields a step does not use.
#pragma once
#include <cstdint>
#include <vector>

#include "inflate_reference.h"
#include "vekdc.h"

namespace vek::stopmodel {

// The length and distance tables of RFC 1951, shared with the reference
// decoder.
inline constexpr const uint16_t* kLenBase = testref::inflate_detail::kRefLenBase;
inline constexpr const uint8_t* kLenExtra = testref::inflate_detail::kRefLenExtra;
inline constexpr const uint16_t* kDistBase = testref::inflate_detail::kRefDistBase;
inline constexpr const uint8_t* kDistExtra = testref::inflate_detail::kRefDistExtra;

// Canonical codes of one alphabet, as a prefix walk: at[l][v] for the first
// l bits v (first bit most significant) is a symbol, kInner (a prefix of
// longer codes) or kDead (no code starts so).
struct Code {
    static constexpr int kInner = -1, kDead = -2;
    std::vector<uint8_t> len;
    std::vector<uint32_t> code;        // the canonical code, first bit most significant
    std::vector<std::vector<int>> at;  // [1..15]

    explicit Code(const std::vector<uint8_t>& lens) : len(lens), code(lens.size(), 0) {
        uint32_t count[16] = {}, next[16] = {};
        for (uint8_t l : len)
            if (l) ++count[l];
        for (int l = 1, c = 0; l <= 15; ++l) {
            c = (c + static_cast<int>(count[l - 1] * (l > 1))) << 1;
            next[l] = static_cast<uint32_t>(c);
        }
        // RFC 1951's recurrence: code = (code + bl_count[bits-1]) << 1.
        at.assign(16, {});
        for (int l = 1; l <= 15; ++l) at[l].assign(1u << l, kDead);
        for (size_t s = 0; s < len.size(); ++s) {
            const int l = len[s];
            if (!l) continue;
            code[s] = next[l]++;
            at[l][code[s]] = static_cast<int>(s);
            for (int k = 1; k < l; ++k) {
                int& p = at[k][code[s] >> (l - k)];
                if (p == kDead) p = kInner;
            }
        }
    }
};

// Outcome of looking for a code in the bits held: a symbol and its length,
// not decidable yet, or a dead prefix of the given length.
struct Find {
    enum Kind { kSymbol, kNeedMore, kDead } kind;
    int sym;
    uint32_t len;
};

inline Find find(const Code& c, uint64_t bits, uint32_t nbits) {
    uint32_t v = 0;
    for (uint32_t l = 1; l <= 15; ++l) {
        if (l > nbits) return {Find::kNeedMore, 0, 0};
        v = v << 1 | static_cast<uint32_t>((bits >> (l - 1)) & 1);
        const int a = c.at[l][v];
        if (a >= 0) return {Find::kSymbol, a, l};
        if (a == Code::kDead) return {Find::kDead, 0, l};
    }
    return {Find::kDead, 0, 15};
}

// Caller-visible saved step, as kept in words 5 to 8 of the state record.
struct Saved {
    uint32_t step = 0, value = 0, extra = 0, dist = 0;
};

// One call's arguments and results (cursors as offsets into the caller's
// buffers).
struct Io {
    const uint8_t* src;
    uint32_t srcLen;
    uint64_t bits;  // held bits, nothing above nbits
    uint32_t nbits;
    uint8_t* buf;     // start of the output buffer
    uint32_t dstIdx;  // bytes already in buf before this call's output
    uint32_t out;     // bytes this call wrote
    uint32_t dstLen;  // space at buf + dstIdx
    const uint8_t* win;
    uint32_t winSize, winIdx;
};

struct Result {
    vekStatus status;
    vekInflateMode mode;  // meaningful when status is Ok
    Saved saved;          // meaningful when mode is Resume
    int error = 0;        // what the error was: kBadSymbol ... kBadSavedStep
};
inline constexpr int kBadSymbol = 1, kBadDistanceCode = 2, kFarDistance = 3, kBadSavedStep = 4;

inline Result run(const Code& lit, const Code& dist, Io& io, vekInflateMode mode, const Saved& in) {
    uint32_t step = 1, value = 0, extra = 0, d = 0;
    if (mode == vekInflateModeResume) {
        // Only steps 2 to 6 are ever saved; others describe no decoding.
        if (in.step < 2 || in.step > 6) return {vekStatusSrcDataErr, mode, {}, kBadSavedStep};
        step = in.step;
        value = in.value;
        extra = in.extra;
        d = in.dist;
    }
    auto pull = [&]() {
        if (io.srcLen == 0) return false;
        io.bits |= static_cast<uint64_t>(*io.src++) << io.nbits;
        io.nbits += 8;
        --io.srcLen;
        return true;
    };
    auto take = [&](uint32_t n) {
        const uint32_t v = static_cast<uint32_t>(io.bits & ((uint64_t{1} << n) - 1));
        io.bits >>= n;
        io.nbits -= n;
        return v;
    };
    auto suspend = [&](uint32_t s) {
        Result r{vekStatusOk, vekInflateModeResume, {}};
        r.saved = {s, value, extra, d};
        return r;
    };
    for (;;) {
        if (step == 1) {
            Find f;
            for (;;) {
                f = find(lit, io.bits, io.nbits);
                uint32_t need = 0;
                if (f.kind == Find::kSymbol && f.sym > 256 && f.sym < 286) {
                    const uint32_t ex = kLenExtra[f.sym - 257];
                    need = ex && f.len + ex <= 10 ? f.len + ex : f.len;
                } else if (f.kind != Find::kNeedMore) {
                    need = f.len;
                }
                if (f.kind != Find::kNeedMore && need <= io.nbits) break;
                if (!pull()) return {vekStatusOk, vekInflateModeSymbol, {}};
            }
            if (f.kind == Find::kDead || f.sym >= 286)
                return {vekStatusSrcDataErr, mode, {}, kBadSymbol};
            take(f.len);
            if (f.sym < 256) {
                value = static_cast<uint32_t>(f.sym);
                extra = d = 0;
                step = 6;
            } else if (f.sym == 256) {
                return {vekStatusOk, vekInflateModeBlockEnd, {}};
            } else {
                value = kLenBase[f.sym - 257];
                extra = kLenExtra[f.sym - 257];
                d = 0;
                if (extra && f.len + extra <= 10) {
                    value += take(extra);
                    extra = 0;
                }
                step = extra ? 2 : 3;
            }
        } else if (step == 2 || step == 4) {
            while (io.nbits < extra)
                if (!pull()) return suspend(step);
            if (step == 2)
                value += take(extra);
            else
                d += take(extra);
            extra = 0;
            ++step;
        } else if (step == 3) {
            Find f;
            for (;;) {
                f = find(dist, io.bits, io.nbits);
                const bool bad = f.kind == Find::kDead || (f.kind == Find::kSymbol && f.sym >= 30);
                uint32_t need = 0;
                if (bad) {
                    need = 10;
                } else if (f.kind == Find::kSymbol) {
                    const uint32_t ex = kDistExtra[f.sym];
                    need = ex && f.len + ex <= 10 ? f.len + ex : f.len;
                }
                if (f.kind != Find::kNeedMore && need <= io.nbits) break;
                if (bad && io.nbits >= 10) break;
                if (!pull()) return suspend(3);
            }
            if (f.kind == Find::kDead || f.sym >= 30)
                return {vekStatusSrcDataErr, mode, {}, kBadDistanceCode};
            take(f.len);
            d = kDistBase[f.sym];
            extra = kDistExtra[f.sym];
            if (extra && f.len + extra <= 10) {
                d += take(extra);
                extra = 0;
            }
            step = extra ? 4 : 5;
        } else if (step == 5) {
            const uint64_t inBuf = uint64_t{io.dstIdx} + io.out;
            const uint64_t reach = inBuf + (io.win ? io.winSize : 0);
            if (d == 0 || d > reach) return {vekStatusSrcDataErr, mode, {}, kFarDistance};
            while (value > 0) {
                if (io.out == io.dstLen) return suspend(5);
                const uint64_t pos = uint64_t{io.dstIdx} + io.out;
                uint8_t b;
                if (d <= pos) {
                    b = io.buf[pos - d];
                } else {
                    // k places before the output buffer: win[(winIdx - k) mod winSize].
                    const uint64_t k = d - pos;
                    const uint64_t i = (uint64_t{io.winIdx} + io.winSize - k) % io.winSize;
                    b = io.win[i];
                }
                io.buf[pos] = b;
                ++io.out;
                --value;
            }
            step = 1;
        } else if (step == 6) {
            if (io.out == io.dstLen) return suspend(6);
            io.buf[uint64_t{io.dstIdx} + io.out] = static_cast<uint8_t>(value);
            ++io.out;
            step = 1;
        } else {
            return {vekStatusSrcDataErr, mode, {}};
        }
    }
}

}  // namespace vek::stopmodel
