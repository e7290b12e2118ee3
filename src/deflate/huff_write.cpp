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
// length code with its extra bits into one value, then write each pair as
// one value (chosen without a branch between literal and match) through a
// 64-bit accumulator that stores 8 bytes after every pair, until the last
// pairs, which make at least 64 more bits, go the careful way. Both give the
// same bytes.
#include <cstring>

#include "deflate/deflate_tables.h"
#include "deflate/huff.h"

namespace vek::deflate {
namespace {

// Extra bits by length - 3: (number of extra bits << 8) | extra value.
struct ExtTables {
    uint16_t lit[256];
};
constexpr ExtTables make_ext_tables() {
    ExtTables t{};
    for (int L = 0; L < 256; ++L) {
        const int c = kLitCodeTable[L];
        t.lit[L] = static_cast<uint16_t>(kLengthExtra[c] << 8 | (L + 3 - kLengthBase[c]));
    }
    return t;
}
constexpr ExtTables kExt = make_ext_tables();

// Distance code by any 16-bit distance, 32 (an empty entry of the merged
// tables) for 0, the distance of a literal: one lookup without telling
// short and long distances apart. Distances above 32768 are not Deflate
// distances and get the codes the ordinary route gives them.
struct DistCodes {
    uint8_t code[65536];
};
constexpr DistCodes make_dist_codes() {
    DistCodes t{};
    t.code[0] = 32;
    for (uint32_t d = 1; d < 65536; ++d)
        t.code[d] = d <= 256 ? kLitCodeTable[255 + d] : kLitCodeTable[512 + (((d - 1) >> 7) & 255)];
    return t;
}
constexpr DistCodes kDistCodes = make_dist_codes();

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

// Merged tables of one call: each literal, each length - 3 with its code and
// extra bits, and per distance code its code, bit counts, base and mask.
struct Merged {
    struct Sym {
        uint32_t v;  // code bits, then extra bits
        uint32_t n;  // their count
    };
    struct DistSym {
        uint32_t code;
        uint8_t len, total;  // code bits; code plus extra bits
        uint16_t base;
        uint32_t mask;  // of the extra value
    };
    Sym sym[512];      // literals, then lengths - 3
    DistSym dist[33];  // 32: empty, for literals

    Merged(const vekDeflateHuffCode* litCodes, const vekDeflateHuffCode* distCodes) {
        for (int i = 0; i < 256; ++i) {
            sym[i] = {code_bits(litCodes[i]), code_len(litCodes[i])};
            const vekDeflateHuffCode lc = litCodes[257 + kLitCodeTable[i]];
            sym[256 + i] = {code_bits(lc) | static_cast<uint32_t>(kExt.lit[i] & 0xFF)
                                                << code_len(lc),
                            code_len(lc) + (kExt.lit[i] >> 8)};
        }
        dist[32] = {0, 0, 0, 0, 0};
        for (int c = 0; c < 32; ++c) {
            const int k = c < 30 ? c : 29;  // 30 and 31 are never looked up
            const vekDeflateHuffCode dc = distCodes[k];
            dist[c] = {code_bits(dc), static_cast<uint8_t>(code_len(dc)),
                       static_cast<uint8_t>(code_len(dc) + kDistExtra[k]), kDistBase[k],
                       (1u << kDistExtra[k]) - 1u};
        }
    }

    // Bits of one pair (at most 16 + 5 + 16 + 13 = 50) and their count,
    // without a branch: literal and match differ only in selected values.
    inline uint64_t pair(uint32_t b, uint32_t d, uint32_t* count) const {
        // (Indices and masks rather than choices: compilers keep them free
        // of branches.)
        const uint32_t match = d != 0;
        const Sym& s = sym[b | match << 8];
        const DistSym& ds = dist[kDistCodes.code[d]];
        const uint64_t dv = ds.code | static_cast<uint64_t>((d - ds.base) & ds.mask) << ds.len;
        *count = s.n + ds.total;
        return s.v | dv << s.n;
    }
};

void write_fast(const uint8_t* lit, const uint16_t* dist, uint32_t count, BitSink<uint64_t>& s,
                const vekDeflateHuffCode* litCodes, const vekDeflateHuffCode* distCodes) {
    const Merged m(litCodes, distCodes);
    // The pairs before `split` go through a branch-free loop that stores 8
    // bytes after every pair, whole or not; the pairs from `split` on make
    // at least 64 more bits, so every byte of those stores past the last
    // complete one is written again with its final value.
    uint32_t split = count, tail_bits = 0;
    while (split > 0 && tail_bits < 64) {
        --split;
        uint32_t k;
        m.pair(lit[split], dist[split], &k);
        tail_bits += k;
    }
    if (tail_bits < 64) split = 0;
    uint32_t i = 0;
    if (split > 0) {
        uint8_t* out = s.dst + s.idx;
        uint64_t acc = s.acc;
        uint32_t bits = s.n;
        // Up to 16 pending bits: settle whole bytes first so that a pair's 50
        // bits always fit next to the 7 or fewer left.
        std::memcpy(out, &acc, 8);
        out += bits >> 3;
        acc >>= bits & 56;
        bits &= 7;
        for (; i < split; ++i) {
            uint32_t k;
            acc |= m.pair(lit[i], dist[i], &k) << bits;
            bits += k;
            std::memcpy(out, &acc, 8);
            out += bits >> 3;
            acc >>= bits & 56;
            bits &= 7;
        }
        s.idx = static_cast<uint32_t>(out - s.dst);
        s.acc = acc;
        s.n = bits;
    }
    for (; i < count; ++i) {
        uint32_t k;
        const uint64_t v = m.pair(lit[i], dist[i], &k);
        s.put(v, k);
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
