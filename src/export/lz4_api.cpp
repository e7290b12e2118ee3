// Exported LZ4 block encoders and decoders: argument checks in their
// documented order (some encoders clear their hash table before checking the
// other pointers), then the internal engines.
#include "lz4/lz4_common.h"
#include "lz4/lz4_encode.h"
#include "vector/vector.h"
#include "vekdc.h"

using namespace vek;

namespace {

// Clears the single-pass table in the layout that srcLen selects.
vekStatus clear_table(uint8_t* table, int32_t srcLen) {
    if (srcLen < 65536) return vector::zero_16s(reinterpret_cast<int16_t*>(table), 4096);
    return vector::zero_32s(reinterpret_cast<int32_t*>(table), 4096);
}

}  // namespace

extern "C" {

VEKDC_API vekStatus veksEncodeLZ4HashTableGetSize_8u(int32_t* pHashTableSize) {
    if (!pHashTableSize) return vekStatusNullPtrErr;
    *pHashTableSize = lz4::kHashTableBytes;
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeLZ4HashTableInit_8u(uint8_t* pHashTable, int32_t srcLen) {
    if (!pHashTable) return vekStatusNullPtrErr;
    if (srcLen < 1) return vekStatusSizeErr;
    return clear_table(pHashTable, srcLen);
}

VEKDC_API vekStatus veksEncodeLZ4_8u(const uint8_t* pSrc, int32_t srcLen, uint8_t* pDst,
                                     int32_t* pDstLen, uint8_t* pHashTable) {
    const vekStatus st = clear_table(pHashTable, srcLen);
    if (st != vekStatusOk) return st;
    if (!pSrc || !pDst || !pDstLen || !pHashTable) return vekStatusNullPtrErr;
    if (srcLen < 1) return vekStatusSizeErr;
    *pDstLen = lz4::encode_block(pSrc, srcLen, pDst, pHashTable);
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeLZ4Safe_8u(const uint8_t* pSrc, int32_t* pSrcLen, uint8_t* pDst,
                                         int32_t* pDstLen, uint8_t* pHashTable) {
    if (!pSrcLen) return vekStatusNullPtrErr;
    const int32_t srcLen = *pSrcLen;
    const vekStatus st = clear_table(pHashTable, srcLen);
    if (st != vekStatusOk) return st;
    if (!pSrc || !pDst || !pDstLen || !pHashTable) return vekStatusNullPtrErr;
    if (srcLen < 1 || *pDstLen < 1) return vekStatusSizeErr;
    *pDstLen = lz4::encode_block_checked(pSrc, pSrcLen, pDst, *pDstLen, pHashTable);
    return *pSrcLen == srcLen ? vekStatusOk : vekStatusDstTooSmall;
}

VEKDC_API vekStatus veksEncodeLZ4Fast_8u(const uint8_t* pSrc, int32_t srcLen, uint8_t* pDst,
                                         int32_t* pDstLen, uint8_t* pHashTable,
                                         int32_t acceleration) {
    if (acceleration == 1) return veksEncodeLZ4_8u(pSrc, srcLen, pDst, pDstLen, pHashTable);
    if (!pSrc || !pDst || !pDstLen || !pHashTable) return vekStatusNullPtrErr;
    vekStatus st;
    if (srcLen < 65536) {
        if (srcLen < 1) return vekStatusSizeErr;
        if (acceleration < 1) return vekStatusAccelFactorErr;
        st = vector::zero_16s(reinterpret_cast<int16_t*>(pHashTable), 8192);
    } else {
        if (acceleration < 1) return vekStatusAccelFactorErr;
        st = vector::zero_32s(reinterpret_cast<int32_t*>(pHashTable), 4096);
    }
    if (st != vekStatusOk) return st;
    *pDstLen = lz4::encode_block_fast(pSrc, srcLen, pDst, pHashTable, acceleration);
    return vekStatusOk;
}

VEKDC_API vekStatus veksDecodeLZ4_8u(const uint8_t* pSrc, int32_t srcLen, uint8_t* pDst,
                                     int32_t* pDstLen) {
    if (!pSrc || !pDst || !pDstLen) return vekStatusNullPtrErr;
    if (srcLen < 1 || *pDstLen < 1) return vekStatusSizeErr;
    return lz4::decode_block(pSrc, &srcLen, pDst, pDstLen);
}

VEKDC_API vekStatus veksDecodeLZ4Dict_8u(const uint8_t* pSrc, int32_t* pSrcLen, uint8_t* pDst,
                                         int32_t dstIdx, int32_t* pDstLen, const uint8_t* pDict,
                                         int32_t dictLen) {
    if (!pDict || dictLen == 0) {
        // Exactly the plain decoder on the output window.
        if (!pSrc || !pSrcLen || !pDst || !pDstLen) return vekStatusNullPtrErr;
        if (*pSrcLen < 1 || *pDstLen < 1) return vekStatusSizeErr;
        return lz4::decode_block(pSrc, pSrcLen, pDst + dstIdx, pDstLen);
    }
    if (!pSrc || !pSrcLen || !pDst || !pDstLen) return vekStatusNullPtrErr;
    if (*pSrcLen < 1 || *pDstLen < 1 || dictLen < 0) return vekStatusSizeErr;
    return lz4::decode_block_dict(pSrc, pSrcLen, pDst, dstIdx, pDstLen, pDict, dictLen);
}

}  // extern "C"
