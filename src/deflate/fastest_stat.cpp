// Statistics pass of the fastest encoder and the code tables built from it.
#include "deflate/deflate_tables.h"
#include "deflate/fastest.h"
#include "deflate/fastest_main_loop.h"
#include "deflate/huff.h"

namespace vek::deflate {

namespace {

// The statistics pass's sink for the main loops (fastest_main_loop.h): every
// item counts its symbols; there is no output.
struct CountSink {
    uint32_t* lit;
    uint32_t* dist;

    bool room(ptrdiff_t) const { return true; }
    void literal(uint32_t b) { ++lit[b]; }
    void match(uint32_t len, uint32_t d) {
        ++lit[257 + kLitCodeTable[len - 3]];
        ++dist[kLitCodeTable[d <= 256 ? 255 + d : 512 + ((d - 1) >> 7)]];
    }
    void put(uint8_t*) {}
};

}  // namespace

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

    CountSink sink{litStat, distStat};
    off = fastest::run_main(m, sink, static_cast<int64_t>(srcLen) - 258, s.pWindow == src, off);

    if (flush >= kFlushFinal) {
        if (srcLen - off > 3) {
            const uint32_t cap = srcLen - off < 258 ? srcLen - off : 258;
            uint32_t h;
            int64_t cand;
            const uint32_t len = m.probe(off, cap, &h, &cand);
            m.head[h] = static_cast<int32_t>(srcIdx + off);
            if (len == 0) {
                sink.literal(src[off]);
                off += 1;
            } else {
                sink.match(len, static_cast<uint32_t>(static_cast<int64_t>(srcIdx) + off - cand));
                m.insert_after_match(off);
                off += len;
            }
        }
        for (; off < srcLen; ++off) sink.literal(src[off]);
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
