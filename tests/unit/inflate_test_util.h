// Helpers of the inflater's unit tests: a zeroed state record, one call with
// its in/out arguments, block bodies in chosen codes, and a driver that
// feeds a body bit by bit with its input ending exactly at chosen bits.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "deflate/inflate.h"
#include "deflate_test_writer.h"
#include "vekdc.h"

namespace vek::inflatetest {

using Bytes = std::vector<uint8_t>;
using testwriter::BitWriter;
using testwriter::Token;

struct State {
    std::unique_ptr<vekInflateState> p{new vekInflateState()};
    State() { std::memset(p.get(), 0, sizeof(vekInflateState)); }
    vekInflateState* operator->() { return p.get(); }
    vekInflateState* get() { return p.get(); }
};

// One veksInflate_8u call with its in/out arguments held together.
struct Call {
    const uint8_t* src = nullptr;
    uint32_t srcLen = 0;
    uint32_t code = 0, bits = 0, winIdx = 0;
    uint8_t* dst = nullptr;
    uint32_t dstLen = 0, dstIdx = 0;
    vekInflateMode mode = vekInflateModeSymbol;
    vekStatus run(vekInflateState* st) {
        return veksInflate_8u(&src, &srcLen, &code, &bits, winIdx, &dst, &dstLen, dstIdx, &mode,
                              st);
    }
};

// A block body (no header) in the fixed codes.
inline Bytes fixed_body(const std::vector<Token>& t, uint64_t* nbits = nullptr, uint32_t tail = 0,
                        int tailBits = 0) {
    BitWriter w;
    testwriter::write_tokens(w, t, testwriter::fixed_lit_lengths(), Bytes(32, 5));
    if (nbits) *nbits = w.bits();
    w.put(tail, tailBits);
    return w.bytes();
}

inline Bytes body(const std::vector<Token>& t, const Bytes& lit, const Bytes& dist) {
    BitWriter w;
    Bytes d(dist);
    d.resize(32, 0);
    testwriter::write_tokens(w, t, lit, d);
    return w.bytes();
}

inline std::vector<uint16_t> lens16(const Bytes& lit, const Bytes& dist) {
    std::vector<uint16_t> v(lit.begin(), lit.end());
    v.insert(v.end(), dist.begin(), dist.end());
    return v;
}

inline vekStatus build(const Bytes& lit, const Bytes& dist, vekInflateState* st) {
    const std::vector<uint16_t> v = lens16(lit, dist);
    return veksInflateBuildHuffTable(v.data(), uint32_t(lit.size()), uint32_t(dist.size()), st);
}

inline std::vector<uint8_t> bits_of(const Bytes& bytes, uint64_t n) {
    std::vector<uint8_t> b(n);
    for (uint64_t i = 0; i < n; ++i) b[i] = (bytes[i >> 3] >> (i & 7)) & 1;
    return b;
}

inline Bytes pack(const std::vector<uint8_t>& bits, size_t from, size_t to) {
    Bytes out((to - from + 7) / 8, 0);
    for (size_t i = from; i < to; ++i) out[(i - from) >> 3] |= uint8_t(bits[i] << ((i - from) & 7));
    return out;
}

struct Fed {
    vekStatus status = vekStatusOk;
    Bytes out;  // history, then the output
    std::vector<int> modes;
    uint64_t used = 0;   // bits consumed when decoding stopped
    bool ended = false;  // mode 0 reached
};

// Decodes a block body given bit by bit; each call's input ends exactly at
// the next cut (bits carried in *pCode as the caller would), and each call
// gets outPiece() bytes of fresh output space after `history`.
template <class Piece>
Fed feed_bits(const std::vector<uint8_t>& bits, vekInflateState* st,
              const std::vector<size_t>& cuts, Piece outPiece, const Bytes& history = {}) {
    Fed f;
    f.out = history;
    Bytes buf(history.size() + 70000);
    std::copy(history.begin(), history.end(), buf.begin());
    size_t fed = 0, cut = 0, produced = history.size();
    uint32_t code = 0, nbits = 0;
    vekInflateMode mode = vekInflateModeSymbol;
    bool needOut = false;
    for (;;) {
        const bool fromCut = cut < cuts.size();
        size_t target = fromCut ? std::max(cuts[cut++], fed) : bits.size();
        // Bits that do not fill a byte ride in *pCode; while it is too full
        // (output pending) the call gets no new input and the cut waits.
        if (nbits + (target - fed) > 32 && nbits + (target - fed) % 8 > 32) {
            target = fed;
            cut -= fromCut;
        }
        const size_t need = target - fed;
        const size_t t = nbits + need <= 32 ? need : need % 8;
        for (size_t i = 0; i < t; ++i) code |= uint32_t(bits[fed + i]) << (nbits + i);
        nbits += uint32_t(t);
        const Bytes in = pack(bits, fed + t, target);
        fed = target;
        uint8_t dummy = 0;
        Call c;
        c.src = in.empty() ? &dummy : in.data();
        c.srcLen = uint32_t(in.size());
        c.code = code, c.bits = nbits, c.mode = mode;
        c.dst = buf.data() + produced;
        c.dstLen = std::max<uint32_t>(outPiece(), needOut ? 1 : 0);
        c.dstIdx = uint32_t(produced);
        const uint32_t given = c.dstLen;
        f.status = c.run(st);
        const size_t made = given - c.dstLen;
        f.out.insert(f.out.end(), buf.begin() + long(produced),
                     buf.begin() + long(produced + made));
        produced += made;
        code = c.code, nbits = c.bits;
        fed -= 8 * size_t(c.srcLen);  // bytes not taken are offered again
        f.used = fed - nbits;
        if (f.status != vekStatusOk) {
            EXPECT_EQ(c.mode, mode) << "mode written on an error";
            return f;
        }
        mode = c.mode;
        f.modes.push_back(mode);
        if (mode == vekInflateModeBlockEnd) {
            f.ended = true;
            return f;
        }
        needOut = mode == vekInflateModeResume && st->step >= 5;
        EXPECT_EQ(needOut ? c.dstLen : c.srcLen, 0u) << "stopped with input and output space left";
        if (!needOut && fed == bits.size()) return f;
    }
}

}  // namespace vek::inflatetest
