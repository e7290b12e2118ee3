// Exported high-compression LZ4 encoder: table sizing and clearing, and the
// choice between the prefix and dictionary engines.
#include "lz4/lz4_hc.h"
#include "vector/vector.h"
#include "vekdc.h"

using namespace vek::lz4;

extern "C" {

VEKDC_API vekStatus veksEncodeLZ4HCHashTableGetSize_8u(int32_t* pHashTableSize,
                                                       int32_t* pPrevTableSize) {
    if (!pHashTableSize || !pPrevTableSize) return vekStatusNullPtrErr;
    *pHashTableSize = kHcHeadEntries * 4;
    *pPrevTableSize = kHcChainEntries * 4;
    return vekStatusOk;
}

// The chain table is cleared only when the head table was.
VEKDC_API vekStatus veksEncodeLZ4HCHashTableInit_8u(uint8_t** ppHashTables) {
    if (!ppHashTables) return vekStatusNullPtrErr;
    vekStatus st =
        vek::vector::zero_32s(reinterpret_cast<int32_t*>(ppHashTables[0]), kHcHeadEntries);
    if (st == vekStatusOk)
        st = vek::vector::zero_32s(reinterpret_cast<int32_t*>(ppHashTables[1]), kHcChainEntries);
    return st;
}

// The mode is chosen before the engines check their arguments: a missing or
// empty dictionary, or one that lies right before the source as the whole
// history, is the prefix mode.
VEKDC_API vekStatus veksEncodeLZ4HC_8u(const uint8_t* pSrc, int32_t srcIdx, int32_t* pSrcLen,
                                       uint8_t* pDst, int32_t* pDstLen, uint8_t** ppHashTables,
                                       const uint8_t* pDict, int32_t dictLen, int32_t level) {
    level = hc_normalize_level(level);
    if (!pDict || dictLen == 0)
        return encode_hc_prefix(pSrc, srcIdx, pSrcLen, pDst, pDstLen, ppHashTables, level);
    if (dictLen < 0) return vekStatusSizeErr;
    if (srcIdx == dictLen && pDict + dictLen == pSrc)
        return encode_hc_prefix(pSrc, srcIdx, pSrcLen, pDst, pDstLen, ppHashTables, level);
    return encode_hc_dict(pSrc, srcIdx, pSrcLen, pDst, pDstLen, ppHashTables, pDict, dictLen,
                          level);
}

}  // extern "C"
