// Exported LZ4 block encoders and decoders: argument checks in their
// documented order (some encoders clear their hash table before checking the
// other pointers), then the internal engines.
#include <cstdint>

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

// Entries left by earlier calls may not point at or past the new source:
// all are cleared when there is no history, else bounded to `bound`.
vekStatus bound_table(uint8_t* pHashTable, int32_t srcIdx, int32_t bound) {
    if (srcIdx < 1) return vector::zero_32s(reinterpret_cast<int32_t*>(pHashTable), 4096);
    return vector::threshold_gt_32s_i(reinterpret_cast<int32_t*>(pHashTable), 4096, bound);
}

// Table entries are 32-bit positions: a call whose source would reach past
// INT32_MAX is encoded in a coordinate shifted down to end there (the same
// history bytes; entries left by earlier calls are bounded anew). `bound` is
// the checked encoders' bounding rule: entries above srcIdx, not srcIdx - 1.
int32_t representable_idx(uint8_t* pHashTable, int32_t srcIdx, int32_t srcLen, bool checked) {
    if (srcLen <= INT32_MAX - srcIdx) return srcIdx;
    const int32_t idx = INT32_MAX - srcLen;
    bound_table(pHashTable, idx, checked ? idx : idx - 1);
    return idx;
}

// Prefix-mode encoders: the history is the srcIdx bytes before pSrc.
vekStatus encode_prefix(const uint8_t* pSrc, int32_t srcIdx, int32_t srcLen, uint8_t* pDst,
                        int32_t* pDstLen, uint8_t* pHashTable) {
    if (!pSrc || !pDst || !pDstLen || !pHashTable) return vekStatusNullPtrErr;
    if (srcLen < 1) return vekStatusSizeErr;
    if (srcIdx < 0) return vekStatusBadArgErr;
    srcIdx = representable_idx(pHashTable, srcIdx, srcLen, false);
    *pDstLen = lz4::encode_history(pSrc, srcIdx, &srcLen, pDst, 0, pHashTable, nullptr, 0, false);
    return vekStatusOk;
}

vekStatus encode_history_checked(const uint8_t* pSrc, int32_t srcIdx, int32_t* pSrcLen,
                                 uint8_t* pDst, int32_t* pDstLen, uint8_t* pHashTable,
                                 const uint8_t* pDict, int32_t dictLen) {
    const int32_t srcLen = *pSrcLen;
    *pDstLen = lz4::encode_history(pSrc, srcIdx, pSrcLen, pDst, *pDstLen, pHashTable, pDict,
                                   dictLen, true);
    return *pSrcLen == srcLen ? vekStatusOk : vekStatusDstTooSmall;
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

VEKDC_API vekStatus veksEncodeLZ4DictHashTableInit_8u(uint8_t* pHashTable, int32_t srcLen) {
    if (!pHashTable) return vekStatusNullPtrErr;
    if (srcLen < 1) return vekStatusSizeErr;
    return vector::zero_32s(reinterpret_cast<int32_t*>(pHashTable), 4096);
}

VEKDC_API vekStatus veksEncodeLZ4LoadDict_8u(uint8_t* pHashTable, const uint8_t* pDict,
                                             int32_t dictLen) {
    if (!pDict || !pHashTable) return vekStatusNullPtrErr;
    if (dictLen < 1) return vekStatusSizeErr;
    int32_t* const t = reinterpret_cast<int32_t*>(pHashTable);
    for (int32_t k = 0; dictLen - k > 8; k += 3) t[lz4::hash5(pDict + k, 0xFFF)] = k;
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeLZ4Dict_8u(const uint8_t* pSrc, int32_t srcIdx, int32_t srcLen,
                                         uint8_t* pDst, int32_t* pDstLen, uint8_t* pHashTable,
                                         const uint8_t* pDict, int32_t dictLen) {
    const vekStatus st = bound_table(pHashTable, srcIdx, srcIdx - 1);
    if (st != vekStatusOk) return st;
    if (!pDict || dictLen == 0)
        return encode_prefix(pSrc, srcIdx, srcLen, pDst, pDstLen, pHashTable);
    if (dictLen < 0) return vekStatusSizeErr;
    if (srcIdx == dictLen && pDict + dictLen == pSrc)
        return encode_prefix(pSrc, srcIdx, srcLen, pDst, pDstLen, pHashTable);
    if (!pSrc || !pDst || !pDstLen || !pHashTable) return vekStatusNullPtrErr;
    if (srcLen < 1) return vekStatusSizeErr;
    if (srcIdx < 0) return vekStatusBadArgErr;
    srcIdx = representable_idx(pHashTable, srcIdx, srcLen, false);
    *pDstLen =
        lz4::encode_history(pSrc, srcIdx, &srcLen, pDst, 0, pHashTable, pDict, dictLen, false);
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeLZ4DictSafe_8u(const uint8_t* pSrc, int32_t srcIdx, int32_t* pSrcLen,
                                             uint8_t* pDst, int32_t* pDstLen, uint8_t* pHashTable,
                                             const uint8_t* pDict, int32_t dictLen) {
    const vekStatus st = bound_table(pHashTable, srcIdx, srcIdx);
    if (st != vekStatusOk) return st;
    const bool prefix =
        !pDict || dictLen == 0 || (dictLen > 0 && srcIdx == dictLen && pDict + dictLen == pSrc);
    if (!prefix && dictLen < 0) return vekStatusSizeErr;
    if (!pSrc || !pDst || !pSrcLen || !pDstLen || !pHashTable) return vekStatusNullPtrErr;
    if (*pSrcLen < 1 || *pDstLen < 1) return vekStatusSizeErr;
    if (srcIdx < 0) return vekStatusBadArgErr;
    srcIdx = representable_idx(pHashTable, srcIdx, *pSrcLen, true);
    if (prefix)
        return encode_history_checked(pSrc, srcIdx, pSrcLen, pDst, pDstLen, pHashTable, nullptr, 0);
    return encode_history_checked(pSrc, srcIdx, pSrcLen, pDst, pDstLen, pHashTable, pDict, dictLen);
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
