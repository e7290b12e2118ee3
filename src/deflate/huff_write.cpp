// Pair writer: literal/length/distance pairs into Deflate bits, least
// significant bit first, with caller code tables.
//
// Bits gather in an accumulator; when a value does not fit into its free
// bits, the full accumulator word goes out little-endian and the accumulator
// restarts with the rest of the value. At the end the whole bytes go out one
// at a time (the fast path first stores 4 of them at once when it can), so
// the destination receives exactly the completed bytes and nothing past
// them. Short calls use a 32-bit accumulator and look every piece up
// separately; calls of kHuffFastPathPairs pairs and more first merge each
// length code with its extra bits (and each short distance code with its
// extra bits) into one value, then write through a 64-bit accumulator. Both
// give the same bytes.
#include <cstring>

#include "deflate/deflate_tables.h"
#include "deflate/huff.h"

namespace vek::deflate {
namespace {

// Extra bits by length - 3 and by distance - 1 (distances 1..256):
// (number of extra bits << 8) | extra value.
struct ExtTables {
    uint16_t lit[256];
    uint16_t dist[256];
};
constexpr ExtTables make_ext_tables() {
    ExtTables t{};
    for (int L = 0; L < 256; ++L) {
        const int c = kLitCodeTable[L];
        t.lit[L] = static_cast<uint16_t>(kLengthExtra[c] << 8 | (L + 3 - kLengthBase[c]));
    }
    for (int d = 1; d <= 256; ++d) {
        const int c = kLitCodeTable[255 + d];
        t.dist[d - 1] = static_cast<uint16_t>(kDistExtra[c] << 8 | (d - kDistBase[c]));
    }
    return t;
}
constexpr ExtTables kExt = make_ext_tables();

// Distance code of any 16-bit distance 1..65535; distances above 32768 are
// not Deflate distances and only need to stay inside the table.
inline uint32_t any_dist_code(uint32_t d) {
    return d <= 256 ? kLitCodeTable[255 + d] : kLitCodeTable[512 + (((d - 1) >> 7) & 255)];
}
// Extra value of distance d for code c, cut to its bit count.
inline uint32_t dist_extra(uint32_t d, uint32_t c) {
    return (d - kDistBase[c]) & ((1u << kDistExtra[c]) - 1u);
}

template <class Word>
struct BitSink {
    static constexpr uint32_t kBits = sizeof(Word) * 8;
    uint8_t* dst;
    uint32_t idx;
    Word acc;
    uint32_t n;

    // Appends the low k bits of v (v has no bits above them).
    inline void put(Word v, uint32_t k) {
        if (k == 0) return;
        if (n + k <= kBits) {
            acc |= v << n;
            n += k;
            return;
        }
        const uint32_t room = kBits - n;  // below kBits, since n >= 1 here
        if (room != 0) acc |= v << n;
        std::memcpy(dst + idx, &acc, sizeof(Word));
        idx += sizeof(Word);
        acc = v >> room;
        n = k - room;
    }
};

void flush_bytes(uint8_t* dst, uint32_t* idx, uint64_t* acc, uint32_t* n) {
    while (*n >= 8) {
        dst[(*idx)++] = static_cast<uint8_t>(*acc);
        *acc >>= 8;
        *n -= 8;
    }
}

void write_ordinary(const uint8_t* lit, const uint16_t* dist, uint32_t count, BitSink<uint32_t>& s,
                    const vekDeflateHuffCode* litCodes, const vekDeflateHuffCode* distCodes) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t b = lit[i], d = dist[i];
        if (d == 0) {
            s.put(code_bits(litCodes[b]), code_len(litCodes[b]));
            continue;
        }
        const uint32_t c = kLitCodeTable[b];
        s.put(code_bits(litCodes[257 + c]), code_len(litCodes[257 + c]));
        if (kLengthExtra[c] != 0) s.put(b + 3 - kLengthBase[c], kLengthExtra[c]);
        const uint32_t dc = any_dist_code(d);
        s.put(code_bits(distCodes[dc]), code_len(distCodes[dc]));
        if (kDistExtra[dc] != 0) s.put(dist_extra(d, dc), kDistExtra[dc]);
    }
}

void write_fast(const uint8_t* lit, const uint16_t* dist, uint32_t count, BitSink<uint64_t>& s,
                const vekDeflateHuffCode* litCodes, const vekDeflateHuffCode* distCodes) {
    // Merged values and their bit counts: literals, length code + extra bits
    // by length - 3, distance code + extra bits by distance - 1 (1..256).
    uint32_t litV[256], lenV[256], distV[256];
    uint8_t litN[256], lenN[256], distN[256];
    for (int i = 0; i < 256; ++i) {
        litV[i] = code_bits(litCodes[i]);
        litN[i] = static_cast<uint8_t>(code_len(litCodes[i]));
        const vekDeflateHuffCode lc = litCodes[257 + kLitCodeTable[i]];
        lenV[i] = code_bits(lc) | static_cast<uint32_t>(kExt.lit[i] & 0xFF) << code_len(lc);
        lenN[i] = static_cast<uint8_t>(code_len(lc) + (kExt.lit[i] >> 8));
        const vekDeflateHuffCode dc = distCodes[kLitCodeTable[256 + i]];
        distV[i] = code_bits(dc) | static_cast<uint32_t>(kExt.dist[i] & 0xFF) << code_len(dc);
        distN[i] = static_cast<uint8_t>(code_len(dc) + (kExt.dist[i] >> 8));
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t b = lit[i], d = dist[i];
        if (d == 0) {
            s.put(litV[b], litN[b]);
        } else {
            s.put(lenV[b], lenN[b]);
            if (d <= 256) {
                s.put(distV[d - 1], distN[d - 1]);
            } else {
                const uint32_t c = any_dist_code(d);
                const uint32_t cl = code_len(distCodes[c]);
                s.put(code_bits(distCodes[c]) | static_cast<uint64_t>(dist_extra(d, c)) << cl,
                      cl + kDistExtra[c]);
            }
        }
    }
}

}  // namespace

void huff_write_pairs(const uint8_t* lit, const uint16_t* dist, uint32_t n, uint16_t* pCode,
                      uint32_t* pCodeLenBits, const vekDeflateHuffCode* litCodes,
                      const vekDeflateHuffCode* distCodes, uint8_t* dst, uint32_t* pDstIdx) {
    // Up to 16 pending bits are valid; bits above the count are not taken.
    const uint32_t pending = *pCodeLenBits > 16 ? 16u : *pCodeLenBits;
    const uint32_t seed = static_cast<uint32_t>(*pCode) & ((1u << pending) - 1u);
    uint64_t acc;
    uint32_t bits, idx;
    if (n < kHuffFastPathPairs) {
        BitSink<uint32_t> s{dst, *pDstIdx, seed, pending};
        write_ordinary(lit, dist, n, s, litCodes, distCodes);
        acc = s.acc, bits = s.n, idx = s.idx;
    } else {
        BitSink<uint64_t> s{dst, *pDstIdx, seed, pending};
        write_fast(lit, dist, n, s, litCodes, distCodes);
        acc = s.acc, bits = s.n, idx = s.idx;
        if (bits >= 32) {
            const uint32_t word = static_cast<uint32_t>(acc);
            std::memcpy(dst + idx, &word, 4);
            idx += 4;
            acc >>= 32;
            bits -= 32;
        }
    }
    flush_bytes(dst, &idx, &acc, &bits);
    *pCode = static_cast<uint16_t>(acc);
    *pCodeLenBits = bits;
    *pDstIdx = idx;
}

}  // namespace vek::deflate
