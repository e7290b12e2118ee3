// Plain, unoptimised transcription of the Deflate LZ77 stage's rules: every
// byte is fetched through one position-to-address function, compared one at
// a time, and every step is written out as the rule states it. The tests and
// the fuzzer require the library's engines to leave exactly the pairs,
// counters, hash tables and cursors this model leaves.
//
// The model expects arguments that pass the exported functions' checks. Its
// byte fetch aborts on any read outside the input or more than winSize bytes
// before it, so running the model also checks how far the rules read.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "vekdc.h"

namespace vek::testref::lz77model {

// One CRC-32C step (reflected polynomial 0x82F63B78, start 0, no inversion)
// over a 32-bit word, bit by bit.
inline uint32_t crc32c_word(uint32_t w) {
    uint32_t acc = w;
    for (int k = 0; k < 32; ++k) acc = (acc >> 1) ^ (0x82F63B78u & (0u - (acc & 1u)));
    return acc;
}

// Deflate code of a length 3..258 (0..28) and of a distance 1..32768 (0..29),
// computed from the RFC 1951 base tables.
inline int length_code(int len) {
    static const int base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    int c = 28;
    while (base[c] > len) --c;
    return c;
}
inline int distance_code(int d) {
    static const int base[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                 33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    int c = 29;
    while (base[c] > d) --c;
    return c;
}

// Level table, as listed: maxChain, goodLength, niceLength, lazyLength.
inline vekLZ77LevelParams level_params(int level) {
    static const vekLZ77LevelParams t[30] = {
        {0, 0, 0, 0},        {4, 8, 8, 8},        {4, 16, 16, 9},      {4, 16, 16, 12},
        {48, 32, 32, 16},    {32, 8, 32, 16},     {128, 8, 256, 16},   {144, 8, 256, 16},
        {192, 32, 258, 128}, {256, 32, 258, 258}, {0, 0, 0, 0},        {3, 7, 8, 258},
        {3, 8, 16, 258},     {5, 8, 16, 258},     {16, 32, 32, 258},   {24, 6, 32, 16},
        {120, 7, 256, 16},   {140, 7, 256, 16},   {192, 32, 258, 128}, {512, 32, 258, 258},
        {0, 0, 0, 0},        {4, 8, 8, 258},      {4, 16, 16, 258},    {4, 16, 16, 258},
        {16, 32, 32, 258},   {32, 8, 32, 16},     {128, 8, 256, 16},   {144, 8, 256, 16},
        {192, 32, 258, 128}, {512, 32, 258, 258}};
    return t[level];
}

// Everything one engine call works on. Positions are 64-bit here.
struct Call {
    const uint8_t** ppSrc;
    uint32_t* pSrcLen;
    uint32_t* pSrcIdx;
    const uint8_t* pWindow;
    uint32_t winSize;
    int32_t* head;
    int32_t* prev;
    uint32_t hashSize;
    vekDeflateFreqEntry* litFreq;
    vekDeflateFreqEntry* distFreq;
    uint8_t* litDst;
    uint16_t* distDst;
    uint32_t* pDstLen;

    // Fixed at the start of the call (after rebasing).
    int64_t srcIdx0 = 0, srcEnd = 0;
    const uint8_t* src = nullptr;
    uint32_t written = 0;

    int64_t wmask() const { return winSize - 1; }

    uint8_t byte(int64_t p) const {
        const int64_t off = p - srcIdx0;
        if (off >= static_cast<int64_t>(*pSrcLen) || off < -static_cast<int64_t>(winSize))
            std::abort();
        return off >= 0 ? src[off] : pWindow[off];
    }
    uint32_t crc_hash(int64_t p) const {
        const uint32_t w =
            byte(p) | byte(p + 1) << 8 | byte(p + 2) << 16 | uint32_t(byte(p + 3)) << 24;
        return crc32c_word(w) & (hashSize - 1);
    }
    // Step 1 of the CRC engines for position p; returns the old head.
    int64_t register_crc(int64_t p) {
        const uint32_t h = crc_hash(p);
        const int32_t cand = head[h];
        prev[p & wmask()] = cand;
        head[h] = static_cast<int32_t>(p);
        return cand;
    }
    // Byte-at-a-time match length of cand against p, at most cap.
    int64_t match_length(int64_t cand, int64_t p, int64_t cap) const {
        int64_t k = 0;
        while (k < cap && byte(cand + k) == byte(p + k)) ++k;
        return k;
    }
    bool four_equal(int64_t cand, int64_t p, int64_t at) const {
        for (int64_t k = 0; k < 4; ++k)
            if (byte(cand + at + k) != byte(p + at + k)) return false;
        return true;
    }
    bool room(uint32_t keep_free) const { return written + keep_free < *pDstLen; }
    void emit_literal(uint8_t b) {
        litDst[written] = b;
        distDst[written] = 0;
        ++written;
        litFreq[b].freq = static_cast<uint16_t>(litFreq[b].freq + 1);
    }
    void emit_match(int64_t len, int64_t dist) {
        litDst[written] = static_cast<uint8_t>(len - 3);
        distDst[written] = static_cast<uint16_t>(dist);
        ++written;
        vekDeflateFreqEntry& l = litFreq[257 + length_code(static_cast<int>(len))];
        l.freq = static_cast<uint16_t>(l.freq + 1);
        vekDeflateFreqEntry& d = distFreq[distance_code(static_cast<int>(dist))];
        d.freq = static_cast<uint16_t>(d.freq + 1);
    }
    // The last positions of a flushing call: literals; in the CRC engines
    // the prev slot becomes -winSize when it holds a value not below the
    // position or below srcIdx0.
    void final_literals(int64_t& pos, bool crc_engine) {
        while (pos < srcEnd && room(0)) {
            if (crc_engine) {
                int32_t& v = prev[pos & wmask()];
                if (v >= pos || v < srcIdx0) v = -static_cast<int32_t>(winSize);
            }
            emit_literal(byte(pos));
            ++pos;
        }
    }
    void finish(int64_t pos) {
        const int64_t consumed = pos - srcIdx0;
        *ppSrc += consumed;
        *pSrcLen -= static_cast<uint32_t>(consumed);
        *pSrcIdx = static_cast<uint32_t>(pos);
        *pDstLen -= written;
    }
};

inline void normalize(uint32_t shift, int32_t* table, uint32_t count) {
    for (uint32_t k = 0; k < count; ++k) {
        const int64_t e = std::max<int64_t>(table[k], -32768);
        table[k] = static_cast<int32_t>(std::max<int64_t>(e - shift, -32768));
    }
}

inline void rebase(Call& c, bool with_prev) {
    const uint32_t srcIdx = *c.pSrcIdx, srcLen = *c.pSrcLen;
    if (srcIdx + srcLen + c.winSize >= 0x7FFFFFFFu - srcLen && srcIdx > c.winSize) {
        const uint32_t shift = srcIdx - c.winSize;
        *c.pSrcIdx = c.winSize;
        normalize(shift, c.head, c.hashSize);
        if (with_prev) normalize(shift, c.prev, c.winSize);
    }
}

inline void start(Call& c) {
    c.srcIdx0 = *c.pSrcIdx;
    c.srcEnd = c.srcIdx0 + *c.pSrcLen;
    c.src = *c.ppSrc;
    c.written = 0;
}

// Single-probe search (maxChain 0).
inline void single_probe(Call& c, uint32_t flush) {
    start(c);
    const int64_t len = *c.pSrcLen;
    const uint32_t mask = c.hashSize - 1;
    uint32_t h = len >= 3 ? (uint32_t(c.byte(c.srcIdx0)) << 5) ^ c.byte(c.srcIdx0 + 1) : 0;
    int64_t pos = c.srcIdx0;
    auto one_position = [&c, &h, &pos, mask](int64_t cap) {
        h = ((h << 5) ^ c.byte(pos + 2)) & mask;
        const int64_t cand = c.head[h];
        c.head[h] = static_cast<int32_t>(pos);
        const int64_t d = pos - cand;
        int64_t L = 0;
        if (d >= 1 && d < c.winSize) L = c.match_length(cand, pos, cap);
        if (L >= 3) {
            c.emit_match(L, d);
            for (int64_t q = pos + 1; q < pos + L; ++q) {
                h = ((h << 5) ^ c.byte(q + 2)) & mask;
                c.head[h] = static_cast<int32_t>(q);
            }
            pos += L;
        } else {
            c.emit_literal(c.byte(pos));
            pos += 1;
        }
    };
    while (pos < c.srcIdx0 + len - 260 && c.room(0)) one_position(258);
    if (flush >= 2) {
        while (c.srcEnd - pos > 2 && c.room(0))
            one_position(std::min<int64_t>(c.srcEnd - pos - 2, 258));
        c.final_literals(pos, false);
    }
    c.finish(pos);
}

// Greedy engine (veksDeflateLZ77Fast_8u).
inline void fast(Call& c, const vekLZ77LevelParams& prm, uint32_t flush) {
    if (prm.maxChain == 0) {
        rebase(c, false);
        single_probe(c, flush);
        return;
    }
    rebase(c, true);
    start(c);
    int64_t end = c.srcEnd - 261;
    if (flush < 2 && end == c.srcIdx0) end += 1;
    int64_t pos = c.srcIdx0;
    auto one_position = [&c, &pos, &prm](int64_t cap, bool good_cut) {
        int64_t cand = c.register_crc(pos);
        int64_t best = 3, bestCand = 0, limit = prm.maxChain, count = 0;
        while (cand > pos - c.winSize && cand < pos && count < limit) {
            const int64_t next = c.prev[cand & c.wmask()];
            if (c.four_equal(cand, pos, best - 3)) {
                const int64_t L = c.match_length(cand, pos, cap);
                if (L > best) {
                    if (good_cut && best < 32 && L >= prm.goodLength && limit == prm.maxChain)
                        limit = prm.maxChain >> 2;
                    best = L;
                    bestCand = cand;
                    if (best >= prm.niceLength) break;
                }
            }
            cand = next;
            count += 1;
        }
        if (best < 4) {
            c.emit_literal(c.byte(pos));
            pos += 1;
            return;
        }
        const int64_t d = pos - bestCand;
        c.emit_match(best, d);
        int64_t from = 0;  // 0: register none
        if (d >= best && best <= prm.lazyLength) from = pos + 1;
        if (d < best && d <= prm.lazyLength) from = pos + std::max<int64_t>(best - d - 3, 1);
        if (from != 0)
            for (int64_t q = from; q <= pos + best - 1; ++q) c.register_crc(q);
        pos += best;
    };
    while (pos < end && c.room(0)) one_position(258, true);
    if (flush >= 2) {
        while (c.srcEnd - pos > 3 && c.room(0))
            one_position(std::min<int64_t>(c.srcEnd - pos - 3, 258), false);
        c.final_literals(pos, true);
    }
    c.finish(pos);
}

// Short-input path of the lazy engine.
inline void lazy_short(Call& c, const vekLZ77LevelParams& prm, uint32_t flush) {
    int64_t end = c.srcEnd - 261;
    int64_t maxLen = 258;
    if (flush < 2 && end == c.srcIdx0) {
        end += 1;
        maxLen = 257;
    }
    int64_t pos = c.srcIdx0;
    auto one_position = [&c, &pos, &prm](int64_t cap) {
        int64_t cand = c.register_crc(pos);
        int64_t best = 3, bestCand = 0, count = 0;
        while (cand > pos - c.winSize && cand < pos && count < prm.maxChain) {
            const int64_t next = c.prev[cand & c.wmask()];
            if (c.four_equal(cand, pos, best - 3)) {
                const int64_t L = c.match_length(cand, pos, cap);
                if (L > best) {
                    best = L;
                    bestCand = cand;
                    if (best >= cap) break;
                }
            }
            cand = next;
            count += 1;
        }
        if (best < 4) {
            c.emit_literal(c.byte(pos));
            pos += 1;
            return;
        }
        const int64_t d = pos - bestCand;
        c.emit_match(best, d);
        const int64_t from = d < best ? pos + std::max<int64_t>(best - d - 3, 1) : pos + 1;
        for (int64_t q = from; q <= pos + best - 1; ++q) c.register_crc(q);
        pos += best;
    };
    while (pos < end && c.room(0)) one_position(maxLen);
    if (flush >= 2) {
        while (c.srcEnd - pos > 3 && c.room(0))
            one_position(std::min<int64_t>(c.srcEnd - pos - 3, 258));
        c.final_literals(pos, true);
    }
    c.finish(pos);
}

// Lazy engine (veksDeflateLZ77Slow_8u).
inline void slow(Call& c, const vekLZ77LevelParams& prm, uint32_t flush) {
    rebase(c, true);
    start(c);
    const int64_t end = c.srcEnd - 261;
    if (*c.pDstLen < 2 || end <= c.srcIdx0) {
        lazy_short(c, prm, flush);
        return;
    }
    int64_t pos = c.srcIdx0;
    int64_t prevLen = 0, prevDist = 0;
    uint8_t prevByte = 0;
    auto one_position = [&c, &pos, &prm, &prevLen, &prevDist, &prevByte](int64_t cap) {
        int64_t cand = c.register_crc(pos);    // step 1
        int64_t cur = prevLen, curCand = pos;  // step 2
        if (prevLen < prm.lazyLength) {
            const int64_t limit = prevLen < prm.goodLength ? prm.maxChain : prm.maxChain >> 2;
            int64_t best = std::max<int64_t>(prevLen, 3), bestCand = pos, count = 0;
            while (cand > pos - c.winSize && cand < pos && count < limit) {
                const int64_t next = c.prev[cand & c.wmask()];
                if (c.four_equal(cand, pos, best - 3)) {
                    const int64_t L = c.match_length(cand, pos, cap);
                    if (L > best) {
                        best = L;
                        bestCand = cand;
                        if (best >= prm.niceLength) break;
                    }
                }
                cand = next;
                count += 1;
            }
            cur = best;
            curCand = bestCand;
        }
        if (prevLen > 1) {  // step 3
            if (prevLen < cur || prevLen < 4) {
                c.emit_literal(prevByte);
            } else {
                c.emit_match(prevLen, prevDist);
                const int64_t from = prevDist >= prevLen
                                         ? pos + 1
                                         : pos + std::max<int64_t>(prevLen - prevDist - 3, 1);
                for (int64_t q = from; q <= pos + prevLen - 2; ++q) c.register_crc(q);
                pos = pos + prevLen - 2;
                cur = 0;
            }
        }
        prevLen = cur;  // step 4
        prevDist = pos - curCand;
        prevByte = c.byte(pos);
        pos += 1;
    };
    while (pos < end && c.room(1)) one_position(258);
    bool tail_done = false;
    if (flush >= 2) {
        while (c.srcEnd - pos > 3 && c.room(1))
            one_position(std::min<int64_t>(c.srcEnd - pos - 3, 258));
        tail_done = c.srcEnd - pos <= 3;
    }
    if (prevLen >= 2) {
        if (prevLen < 4) {
            c.emit_literal(prevByte);
        } else {
            c.emit_match(prevLen, prevDist);
            for (int64_t q = pos + 1; q <= pos + prevLen - 2; ++q) c.register_crc(q);
            pos = pos - 1 + prevLen;
        }
    }
    if (tail_done) c.final_literals(pos, true);
    c.finish(pos);
}

inline Call make_call(const uint8_t** ppSrc, uint32_t* pSrcLen, uint32_t* pSrcIdx,
                      const uint8_t* pWindow, uint32_t winSize, int32_t* head, int32_t* prev,
                      uint32_t hashSize, vekDeflateFreqEntry* lit, vekDeflateFreqEntry* dist,
                      uint8_t* litDst, uint16_t* distDst, uint32_t* pDstLen) {
    return Call{ppSrc,    pSrcLen, pSrcIdx, pWindow, winSize, head,   prev,
                hashSize, lit,     dist,    litDst,  distDst, pDstLen};
}

// Level dispatcher: level mod 10 above 4 runs the lazy engine.
inline void level(Call& c, int lvl, uint32_t flush) {
    const vekLZ77LevelParams prm = level_params(lvl);
    if (lvl % 10 > 4)
        slow(c, prm, flush);
    else
        fast(c, prm, flush);
}

inline void dictionary_set(const uint8_t* dict, uint32_t dictLen, int32_t* head, uint32_t hashSize,
                           int32_t* prev, uint8_t* window, uint32_t winSize, int32_t level) {
    const uint32_t minLen = level != 0 ? 4 : 3;
    if (dictLen < minLen) return;
    const uint32_t n = std::min(dictLen, winSize);
    for (uint32_t k = 0; k < n; ++k) window[k] = dict[dictLen - n + k];
    if (n < 258) return;
    const uint32_t mask = hashSize - 1;
    if (level > 0) {
        for (uint32_t i = 0; i + 258 <= n; ++i) {
            const uint32_t w = window[i] | window[i + 1] << 8 | window[i + 2] << 16 |
                               uint32_t(window[i + 3]) << 24;
            const uint32_t h = crc32c_word(w) & mask;
            prev[i] = head[h];
            head[h] = static_cast<int32_t>(i);
        }
    } else {
        uint32_t h = (uint32_t(window[0]) << 5) ^ window[1];
        for (uint32_t i = 0; i + 258 <= n; ++i) {
            h = ((h << 5) ^ window[i + 2]) & mask;
            head[h] = static_cast<int32_t>(i);
        }
    }
}

inline void update_hash(const uint8_t* src, uint32_t srcIdx, uint32_t srcLen, int32_t* head,
                        uint32_t hashSize, int32_t* prev, uint32_t winSize, int32_t level) {
    const uint32_t minLen = level != 0 ? 4 : 3;
    if (srcLen < minLen) return;
    const uint32_t count = srcLen - minLen + 1;
    const uint32_t mask = hashSize - 1;
    if (level != 0) {
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t w =
                src[i] | src[i + 1] << 8 | src[i + 2] << 16 | uint32_t(src[i + 3]) << 24;
            const uint32_t h = crc32c_word(w) & mask;
            prev[(srcIdx + i) & (winSize - 1)] = head[h];
            head[h] = static_cast<int32_t>(srcIdx + i);
        }
    } else {
        uint32_t h = (uint32_t(src[0]) << 5) ^ src[1];
        for (uint32_t i = 0; i < count; ++i) {
            h = ((h << 5) ^ src[i + 2]) & mask;
            head[h] = static_cast<int32_t>(srcIdx + i);
        }
    }
}

}  // namespace vek::testref::lz77model
