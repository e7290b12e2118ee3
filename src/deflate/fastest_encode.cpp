// The fastest encoders: the match rule of fastest_match.h with codes written
// straight to the destination, the fixed codes of RFC 1951 or a caller's
// dynamic set (whose header is placed at the start of the stream).
//
// Each item costs at most two merged lookups (a length code with its extra
// bits, a distance code with the base its extra bits are added to),
// gathered in a 64-bit accumulator. The main loops keep more than 8 bytes
// of room so they store whole words without checking each byte: the
// dynamic encoder stores 8 bytes after every item (in a batch of the main
// loop after every item but a literal followed by a literal: a batch starts
// only with room for all of its items, so the same bytes go out) and keeps
// the 0..7 bits past the last whole byte; the fixed one stores a 32-bit
// word whenever 32 bits are complete. The flush tail and the final literals
// are written byte by byte, an item only when all of its whole bytes fit.
#include <algorithm>
#include <cstring>

#include "deflate/deflate_tables.h"
#include "deflate/fastest.h"
#include "deflate/fastest_main_loop.h"
#include "deflate/huff.h"
#include "deflate/rebase.h"
#include "vector/vector.h"

namespace vek::deflate {
namespace {

// Codes of one code set, merged with extra bits where the index fixes them.
struct ItemCodes {
    uint32_t litV[256];  // literal codes
    uint8_t litN[256];   // and their lengths
    // Length codes by length - 3 with their extra bits, the bit count in
    // the top byte.
    uint32_t lenE[256];
    // Every distance d (1..32767) by index d - 1 up to 256, above that by
    // 256 + ((d - 1) >> 7): the low 32 bits plus d shifted left by bits
    // 32..39 give the code with its extra bits (modulo 2^32); bits 40..47
    // hold their bit count.
    uint64_t distE[512];
};

// Built once a call for a dynamic set, so it walks the codes and fills the
// ranges each covers rather than looking every index up, and writes every
// entry once (there is no clearing first).
constexpr void fill_item_codes(ItemCodes& t, const vekDeflateHuffCode* lit,
                               const vekDeflateHuffCode* dist) {
    for (int i = 0; i < 256; ++i) {
        t.litV[i] = code_bits(lit[i]);
        t.litN[i] = static_cast<uint8_t>(code_len(lit[i]));
    }
    // Length code c covers lengths kLengthBase[c] up to the next base (258
    // alone has the last code).
    constexpr int kLengthCodes = static_cast<int>(kLengthBase.size());
    for (int c = 0; c < kLengthCodes; ++c) {
        const vekDeflateHuffCode l = lit[257 + c];
        const uint32_t v = code_bits(l), k = code_len(l);
        const uint32_t first = kLengthBase[c] - 3u;
        const uint32_t last = c + 1 < kLengthCodes ? kLengthBase[c + 1] - 3u : 256u;
        const uint32_t top = (k + kLengthExtra[c]) << 24;
        for (uint32_t i = first; i < last; ++i) t.lenE[i] = (v | (i - first) << k) | top;
    }
    // Distance code c covers distances kDistBase[c] up to the next base: by
    // d - 1 below 257, by 256 + ((d - 1) >> 7) above (256 and 257 unused).
    for (int c = 0; c < kNumDist; ++c) {
        const uint32_t v = code_bits(dist[c]), k = code_len(dist[c]);
        const uint32_t bias = v - (static_cast<uint32_t>(kDistBase[c]) << k);
        const uint64_t e = bias | uint64_t(k) << 32 | uint64_t(k + kDistExtra[c]) << 40;
        const uint32_t lo = kDistBase[c] - 1u;
        const uint32_t hi = c + 1 < kNumDist ? kDistBase[c + 1] - 1u : 32768u;
        const uint32_t first = lo < 256 ? lo : 256 + (lo >> 7);
        const uint32_t last = hi <= 256 ? hi : 256 + (hi >> 7);
        for (uint32_t i = first; i < last; ++i) t.distE[i] = e;
    }
    t.distE[256] = t.distE[257] = 0;  // (d - 1) >> 7 is at least 2 above 256
}

constexpr uint16_t reversed(uint32_t code, uint32_t len) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < len; ++i) r = (r << 1) | ((code >> i) & 1u);
    return static_cast<uint16_t>(r);
}

// The fixed codes of RFC 1951, bit-reversed: static_ltree and static_dtree.
struct FixedTrees {
    vekDeflateHuffCode lit[288];
    vekDeflateHuffCode dist[30];
};
constexpr FixedTrees make_fixed_trees() {
    FixedTrees f{};
    for (uint32_t s = 0; s < 288; ++s) {
        uint32_t code = 0, len = 0;
        if (s < 144)
            code = 0x30 + s, len = 8;
        else if (s < 256)
            code = 0x190 + (s - 144), len = 9;
        else if (s < 280)
            code = s - 256, len = 7;
        else
            code = 0xC0 + (s - 280), len = 8;
        f.lit[s] = {reversed(code, len), static_cast<uint16_t>(len)};
    }
    for (uint32_t d = 0; d < 30; ++d) f.dist[d] = {reversed(d, 5), 5};
    return f;
}
constexpr FixedTrees kFixed = make_fixed_trees();
constexpr ItemCodes make_fixed_item_codes() {
    ItemCodes t{};
    fill_item_codes(t, kFixed.lit, kFixed.dist);
    return t;
}
constexpr ItemCodes kFixedItemCodes = make_fixed_item_codes();

// Bits of a match of length len (4..258) at distance dist (1..32767).
inline void match_bits(const ItemCodes& t, uint32_t len, uint32_t dist, uint64_t* v, uint32_t* k) {
    const uint32_t le = t.lenE[len - 3];
    const uint32_t di = dist <= 256 ? dist - 1 : 256 + ((dist - 1) >> 7);
    const uint64_t de = t.distE[di];
    const uint32_t dv = static_cast<uint32_t>(de) + (dist << ((de >> 32) & 31));
    *v = static_cast<uint64_t>(le & 0xFFFFFFu) | static_cast<uint64_t>(dv) << (le >> 24);
    *k = (le >> 24) + static_cast<uint32_t>(de >> 40);
}

// The encoders' sink for the main loops (fastest_main_loop.h): codes go
// into a 64-bit accumulator. Fixed codes: a complete 32-bit word goes out;
// otherwise the store goes to the loop's scratch bytes, so no byte past the
// complete ones is touched. Dynamic codes: 8 bytes are stored and the output
// advances by the whole bytes among them. Two literals fit beside what
// put() leaves: 31 bits and two 9-bit codes, or 7 bits and two codes of up
// to 16 bits. (A literal and a match may not: 31 + 9 + 31 bits, or
// 7 + 16 + 50.)
template <bool kFixedCodes>
struct BitSink {
    const ItemCodes* codes;  // the dynamic set (the fixed one is a constant)
    uint8_t* op;
    uint8_t* oend;
    uint64_t acc;
    uint32_t n;

    const ItemCodes& t() const { return kFixedCodes ? kFixedItemCodes : *codes; }
    bool room(ptrdiff_t k) const { return oend - op > k; }
    void literal(uint32_t b) {
        acc |= static_cast<uint64_t>(t().litV[b]) << n;
        n += t().litN[b];
    }
    void match(uint32_t len, uint32_t dist) {
        uint64_t v;
        uint32_t k;
        match_bits(t(), len, dist, &v, &k);
        acc |= v << n;
        n += k;
    }
    void put(uint8_t* scratch) {
        if (kFixedCodes) {
            const uint32_t out = static_cast<uint32_t>(acc);
            uint32_t partial;
            std::memcpy(fastest::pick_below(n, 32u, scratch, op, &partial), &out, 4);
            op += ~partial & 4;
            acc >>= n & 32;
            n &= 31;
        } else {
            std::memcpy(op, &acc, 8);
            op += n >> 3;
            acc >>= n & ~7u;
            n &= 7;
        }
    }
};

template <bool kFixedCodes>
vekStatus encode(const FastestStream& s, const FastestDest& d, const ItemCodes& t,
                 const FastestDynamic* dyn, uint32_t flush) {
    uint32_t srcIdx = *s.pSrcIdx;
    const uint32_t srcLen = *s.pSrcLen;
    const uint32_t dstIdx0 = *d.pDstIdx;
    uint8_t* const dst = d.pDst;
    uint8_t* op = dst;
    uint8_t* const oend = dst + (d.dstLen - dstIdx0);

    // The pending bits come first; up to 16 are valid.
    const uint32_t pending = *d.pCodeLenBits > 16 ? 16u : *d.pCodeLenBits;
    uint64_t acc = static_cast<uint64_t>(*d.pCode & ((1u << pending) - 1u));
    uint32_t n = pending;
    uint32_t off = 0;

    rebase_positions(&srcIdx, srcLen, s.winSize, s.pHashHead, s.hashSize, nullptr);
    const fastest::MatchRule m{*s.ppSrc,    s.pWindow,      srcIdx,   srcLen,
                               s.pHashHead, s.hashSize - 1, s.winSize};
    const uint8_t* const src = *s.ppSrc;

    if (!kFixedCodes && dyn->pHeader != nullptr) {
        // Header placement at the start of a stream: the pending bits, then
        // the header without its own BFINAL and BTYPE bits.
        const bool place = srcIdx == 0;
        const uint32_t hb = place && dyn->headerLenBits > 3 ? uint32_t(dyn->headerLenBits) - 3 : 0;
        const uint32_t total = place ? pending + hb : 0;
        // Short first block: the first byte of a stream of 1..258 bytes goes
        // out as a literal on every call, flush or not. Its room test comes
        // before anything is written.
        const uint64_t streamLen = static_cast<uint64_t>(srcIdx) + srcLen;
        const bool shortBlock = d.dstLen >= 8 && srcLen >= 1 && streamLen >= 1 && streamLen <= 258;
        if (shortBlock && static_cast<int64_t>(dstIdx0) + (total >> 3) + 8 > int64_t(d.dstLen) - 8)
            return vekStatusSizeErr;
        if (place) {
            const uint8_t pend[2] = {static_cast<uint8_t>(acc), static_cast<uint8_t>(acc >> 8)};
            if (pending != 0) vector::copy_be_1u(pend, 0, dst, 0, int32_t(pending));
            if (hb != 0)
                vector::copy_be_1u(dyn->pHeader, 3, dst + (pending >> 3), int32_t(pending & 7),
                                   int32_t(hb));
            op = dst + (total >> 3);
            n = total & 7;
            acc = n != 0 ? *op & ((1u << n) - 1u) : 0;
        }
        if (shortBlock) {
            m.insert(0);
            acc |= static_cast<uint64_t>(t.litV[src[0]]) << n;
            n += t.litN[src[0]];
            std::memcpy(op, &acc, 8);
            op += n >> 3;
            acc >>= n & ~7u;
            n &= 7;
            off = 1;
        }
    }
    for (; n >= 8 && op < oend; n -= 8, acc >>= 8) *op++ = static_cast<uint8_t>(acc);

    // Main loop: more than 258 (fixed codes: 274) input bytes and more than 8
    // bytes of room left.
    const int64_t mainEnd = static_cast<int64_t>(srcLen) - (kFixedCodes ? 274 : 258);
    BitSink<kFixedCodes> sink{&t, op, oend, acc, n};
    off = fastest::run_main(m, sink, mainEnd, s.pWindow == src, off);
    op = sink.op;
    acc = sink.acc;
    n = sink.n;
    for (; n >= 8 && op < oend; n -= 8, acc >>= 8) *op++ = static_cast<uint8_t>(acc);

    if (flush >= kFlushFinal) {
        // Appends v (k bits) if all of its whole bytes fit, storing them.
        auto fits_and_put = [&](uint64_t v, uint32_t k) {
            if (((n + k) >> 3) > static_cast<uint64_t>(oend - op)) return false;
            acc |= v << n;
            for (n += k; n >= 8; n -= 8, acc >>= 8) *op++ = static_cast<uint8_t>(acc);
            return true;
        };
        bool full = false;
        while (srcLen - off > 3) {
            const uint32_t cap = srcLen - off < 258 ? srcLen - off : 258;
            uint32_t h;
            int64_t cand;
            const uint32_t len = m.probe(off, cap, &h, &cand);
            uint64_t v = t.litV[src[off]];
            uint32_t k = t.litN[src[off]];
            if (len != 0)
                match_bits(t, len, static_cast<uint32_t>(int64_t(srcIdx) + off - cand), &v, &k);
            if (!fits_and_put(v, k)) {
                full = true;
                break;
            }
            m.head[h] = static_cast<int32_t>(srcIdx + off);
            if (len != 0) m.insert_after_match(off);
            off += len != 0 ? len : 1;
        }
        for (; !full && off < srcLen; ++off)
            if (!fits_and_put(t.litV[src[off]], t.litN[src[off]])) break;
    }

    *s.ppSrc += off;
    *s.pSrcLen = srcLen - off;
    *s.pSrcIdx = srcIdx + off;
    *d.pDstIdx = dstIdx0 + static_cast<uint32_t>(op - dst);
    *d.pCode = static_cast<uint16_t>(acc);
    *d.pCodeLenBits = n;
    return vekStatusOk;
}

}  // namespace

int64_t fastest_header_room(uint32_t codeLenBits, int32_t headerLenBits) {
    const int64_t bits =
        static_cast<int64_t>(codeLenBits > 16 ? 16 : codeLenBits) + headerLenBits - 3;
    return (bits < 0 ? 0 : bits / 8) + 1;
}

vekStatus ownsDeflateLZ77FastestFixHuffman_8u(const FastestStream& s, const FastestDest& d,
                                              uint32_t flush) {
    return encode<true>(s, d, kFixedItemCodes, nullptr, flush);
}

vekStatus fastest_encode_dynamic(const FastestStream& s, const FastestDest& d,
                                 const FastestDynamic& codes, uint32_t flush) {
    ItemCodes t;
    fill_item_codes(t, codes.litCodes, codes.distCodes);
    return encode<false>(s, d, t, &codes, flush);
}

}  // namespace vek::deflate
