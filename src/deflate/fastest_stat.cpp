// Statistics pass of the fastest encoder and the code tables built from it.
#include "deflate/deflate_tables.h"
#include "deflate/fastest.h"
#include "deflate/fastest_match.h"
#include "deflate/huff.h"

namespace vek::deflate {

// Counts the items the encoder's match rule gives, up to the last 258 bytes
// of the input; with a final flush, one more item and then literals to the
// end. The counters are never cleared here, and positions are not rebased.
void fastest_get_stat(const FastestStream& s, uint32_t* litStat, uint32_t* distStat,
                      uint32_t flush) {
    const uint32_t srcLen = *s.pSrcLen, srcIdx = *s.pSrcIdx;
    const fastest::MatchRule m{*s.ppSrc,    s.pWindow,      srcIdx,   srcLen,
                               s.pHashHead, s.hashSize - 1, s.winSize};
    const uint8_t* src = *s.ppSrc;
    uint32_t off = 0;

    auto count_item = [&](uint32_t cap) {
        uint32_t h;
        int64_t cand;
        const uint32_t len = m.probe(off, cap, &h, &cand);
        m.head[h] = static_cast<int32_t>(srcIdx + off);
        if (len == 0) {
            ++litStat[src[off]];
            off += 1;
            return;
        }
        ++litStat[257 + length_code(len)];
        ++distStat[dist_code(static_cast<uint32_t>(static_cast<int64_t>(srcIdx) + off - cand))];
        m.insert_after_match(off);
        off += len;
    };

    const int64_t mainEnd = static_cast<int64_t>(srcLen) - 258;
    while (static_cast<int64_t>(off) < mainEnd) count_item(258);

    if (flush >= kFlushFinal) {
        if (srcLen - off > 3) count_item(srcLen - off < 258 ? srcLen - off : 258);
        for (; off < srcLen; ++off) ++litStat[src[off]];
    }

    *s.ppSrc += off;
    *s.pSrcLen -= off;
    *s.pSrcIdx = srcIdx + off;
}

// Lengths limited to 15 (literal/length) and 9 (distance), canonical codes.
// Both tables are written even when a limit is not met.
vekStatus fastest_gen_huff_table(const uint32_t* litStat, const uint32_t* distStat,
                                 vekDeflateHuffCode* litCodes, vekDeflateHuffCode* distCodes) {
    uint32_t litLen[kNumLitLen], distLen[kNumDist];
    const int32_t litFail = ownGenHuff1(litStat, litLen, kNumLitLen, 15);
    const int32_t distFail = ownGenHuff1(distStat, distLen, kNumDist, 9);
    for (int i = 0; i < kNumLitLen; ++i) litCodes[i].len = static_cast<uint16_t>(litLen[i]);
    for (int i = 0; i < kNumDist; ++i) distCodes[i].len = static_cast<uint16_t>(distLen[i]);
    assign_canonical_codes(litCodes, kNumLitLen);
    assign_canonical_codes(distCodes, kNumDist);
    return litFail || distFail ? vekStatusErr : vekStatusOk;
}

}  // namespace vek::deflate
