// Pieces of a plain raw-Deflate reader written from RFC 1951, for tests that
// look at them on their own: the bit reader, the canonical decoder and the
// dynamic-header reader (which also records the run-length symbols the
// header was written with); whole streams go to the reference inflater.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "inflate_reference.h"

namespace vek::testref {

// LSB-first bit reader over a byte buffer. Reading past the end sets
// `overrun` and gives zero bits.
struct BitReader {
    const uint8_t* p;
    size_t size;
    size_t pos = 0;  // in bits
    bool overrun = false;

    BitReader(const uint8_t* data, size_t n) : p(data), size(n) {}
    uint32_t bit() {
        if (pos >= size * 8) {
            overrun = true;
            return 0;
        }
        const uint32_t b = (p[pos >> 3] >> (pos & 7)) & 1u;
        ++pos;
        return b;
    }
    // k bits (0..32) as a number, first bit least significant.
    uint32_t bits(int k) {
        uint32_t v = 0;
        for (int i = 0; i < k; ++i) v |= bit() << i;
        return v;
    }
};

// Canonical code from code lengths (0 = unused). Codes arrive in the stream
// most significant bit first, one bit at a time.
struct CanonicalDecoder {
    int count[16] = {};
    std::vector<int> symbols;  // by length, then by symbol value
    bool oversubscribed = false;
    bool complete = false;

    explicit CanonicalDecoder(const std::vector<uint8_t>& lens) {
        for (uint8_t l : lens) ++count[l];
        count[0] = 0;
        long left = 1;
        for (int l = 1; l < 16; ++l) {
            left = left * 2 - count[l];
            if (left < 0) oversubscribed = true;
        }
        complete = left == 0;
        for (int l = 1; l < 16; ++l)
            for (size_t s = 0; s < lens.size(); ++s)
                if (lens[s] == l) symbols.push_back(int(s));
    }
    // The next symbol, or -1 when the bits match no code.
    int decode(BitReader& br) const {
        int code = 0, first = 0, index = 0;
        for (int l = 1; l < 16; ++l) {
            code |= int(br.bit());
            const int c = count[l];
            if (code - first < c) return symbols[size_t(index + code - first)];
            index += c;
            first = (first + c) << 1;
            code <<= 1;
            if (br.overrun) return -1;
        }
        return -1;
    }
};

inline const auto& kRefLengthBase = inflate_detail::kRefLenBase;
inline const auto& kRefLengthExtra = inflate_detail::kRefLenExtra;
using inflate_detail::kRefDistBase;
using inflate_detail::kRefDistExtra;

// One symbol of the code-length alphabet as read from a header.
struct RunSymbol {
    int sym;
    int extra;  // value of the extra bits of 16, 17 and 18
};

struct DynamicHeader {
    int hlit = 0, hdist = 0, hclen = 0;  // as sent (counts minus 257, 1, 4)
    std::vector<uint8_t> clLens;         // 19 code-length code lengths, by symbol
    std::vector<RunSymbol> runs;         // the run-length symbols in order
    std::vector<uint8_t> litLens, distLens;
};

// Reads a dynamic header after its BFINAL and BTYPE bits. Runs may cross
// from the literal/length list into the distance list, as the format allows.
inline bool read_dynamic_header(BitReader& br, DynamicHeader* h) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    h->hlit = int(br.bits(5));
    h->hdist = int(br.bits(5));
    h->hclen = int(br.bits(4));
    const int nlit = h->hlit + 257, ndist = h->hdist + 1;
    if (nlit > 286 || ndist > 30) return false;
    h->clLens.assign(19, 0);
    for (int i = 0; i < h->hclen + 4; ++i) h->clLens[size_t(order[i])] = uint8_t(br.bits(3));
    const CanonicalDecoder cl(h->clLens);
    if (cl.oversubscribed) return false;
    std::vector<uint8_t> all;
    while (int(all.size()) < nlit + ndist) {
        const int s = cl.decode(br);
        if (s < 0 || br.overrun) return false;
        int rep = 1, val = s, extra = 0;
        if (s == 16) {
            if (all.empty()) return false;
            extra = int(br.bits(2));
            rep = 3 + extra;
            val = all.back();
        } else if (s == 17) {
            extra = int(br.bits(3));
            rep = 3 + extra;
            val = 0;
        } else if (s == 18) {
            extra = int(br.bits(7));
            rep = 11 + extra;
            val = 0;
        }
        h->runs.push_back({s, extra});
        if (int(all.size()) + rep > nlit + ndist) return false;
        all.insert(all.end(), size_t(rep), uint8_t(val));
    }
    h->litLens.assign(all.begin(), all.begin() + nlit);
    h->distLens.assign(all.begin() + nlit, all.end());
    return !br.overrun && all[256] != 0;
}

enum class InflateStatus { Ok, Truncated, BadData, TooLong };

// Decodes a whole raw Deflate stream (blocks until BFINAL) with the
// reference inflater. *usedBits receives the bits consumed.
inline InflateStatus inflate_raw(const uint8_t* src, size_t n, std::vector<uint8_t>* out,
                                 size_t maxOut = size_t(1) << 31, size_t* usedBits = nullptr) {
    ReferenceInflate r = reference_inflate(src, n, maxOut);
    *out = std::move(r.out);
    if (usedBits) *usedBits = size_t(r.endBit);
    static const InflateStatus kStatus[] = {InflateStatus::Ok, InflateStatus::Truncated,
                                            InflateStatus::BadData, InflateStatus::TooLong};
    return kStatus[int(r.outcome)];
}

}  // namespace vek::testref
