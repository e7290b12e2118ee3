// Exported block-sorting stages around the transform: the run-length stage
// with its symbol dictionary, move-to-front and zero-run coding. Arguments
// are checked in their documented order before anything is written.
#include "bwt/mtf.h"
#include "bwt/rle_bz2.h"
#include "bwt/zero_run.h"
#include "vekdc.h"

using namespace vek;

namespace {

constexpr int32_t kMtfStateBytes = 256;

}  // namespace

extern "C" {

VEKDC_API vekStatus veksRLEGetSize_BZ2_8u(int32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    *pSize = static_cast<int32_t>(sizeof(vekRLEState_BZ2));
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeRLEInit_BZ2_8u(vekRLEState_BZ2* pState) {
    if (!pState) return vekStatusNullPtrErr;
    for (auto& b : pState->inUse) b = 0;
    pState->lastByte = -1;
    pState->runLength = 0;
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeRLE_BZ2_8u(const uint8_t** ppSrc, int32_t* pSrcLen, uint8_t* pDst,
                                         int32_t* pDstLen, vekRLEState_BZ2* pState) {
    if (!ppSrc || !pDst || !pSrcLen || !pDstLen) return vekStatusNullPtrErr;
    if (!*ppSrc || !pState) return vekStatusNullPtrErr;
    if (*pSrcLen < 1 || *pDstLen < 1) return vekStatusSizeErr;
    bwt::rle_encode(ppSrc, pSrcLen, pDst, pDstLen, pState);
    return *pSrcLen > 0 ? vekStatusDstTooSmall : vekStatusOk;
}

VEKDC_API vekStatus veksEncodeRLEFlush_BZ2_8u(uint8_t* pDst, int32_t* pDstLen,
                                              vekRLEState_BZ2* pState) {
    if (!pDst || !pDstLen || !pState) return vekStatusNullPtrErr;
    if (*pDstLen < 1) return vekStatusSizeErr;
    *pDstLen = bwt::rle_encode_flush(pDst, pState);
    return vekStatusOk;
}

VEKDC_API vekStatus veksRLEGetInUseTable_8u(uint8_t inUse[256], const vekRLEState_BZ2* pState) {
    if (!inUse || !pState) return vekStatusNullPtrErr;
    bwt::rle_in_use_table(inUse, pState);
    return vekStatusOk;
}

VEKDC_API vekStatus veksDecodeRLEStateInit_BZ2_8u(vekRLEState_BZ2* pState) {
    if (!pState) return vekStatusNullPtrErr;
    pState->lastByte = -1;
    pState->runLength = 0;
    return vekStatusOk;
}

VEKDC_API vekStatus veksDecodeRLEState_BZ2_8u(const uint8_t** ppSrc, int32_t* pSrcLen,
                                              uint8_t** ppDst, int32_t* pDstLen,
                                              vekRLEState_BZ2* pState) {
    if (!ppSrc || !pSrcLen || !ppDst || !pDstLen) return vekStatusNullPtrErr;
    if (!*ppSrc) return vekStatusNullPtrErr;
    if (!*ppDst || !pState) return vekStatusNullPtrErr;
    if (*pSrcLen < 1 || *pDstLen < 1) return vekStatusSizeErr;
    return bwt::rle_decode(ppSrc, pSrcLen, ppDst, pDstLen, pState);
}

VEKDC_API vekStatus veksDecodeRLEStateFlush_BZ2_8u(vekRLEState_BZ2* pState, uint8_t** ppDst,
                                                   int32_t* pDstLen) {
    if (!pState || !ppDst || !pDstLen || !*ppDst) return vekStatusNullPtrErr;
    return bwt::rle_decode_flush(pState, ppDst, pDstLen);
}

VEKDC_API vekStatus veksReduceDictionary_8u_I(const uint8_t inUse[256], uint8_t* pSrcDst,
                                              int32_t len, int32_t* pSizeDictionary) {
    if (!inUse || !pSrcDst || !pSizeDictionary) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    *pSizeDictionary = bwt::reduce_dictionary(inUse, pSrcDst, len);
    return vekStatusOk;
}

VEKDC_API vekStatus veksExpandDictionary_8u_I(const uint8_t inUse[256], uint8_t* pSrcDst,
                                              int32_t len, int32_t sizeDictionary) {
    if (!inUse || !pSrcDst) return vekStatusNullPtrErr;
    if (len < 1 || sizeDictionary < 1) return vekStatusSizeErr;
    return bwt::expand_dictionary(inUse, pSrcDst, len, sizeDictionary);
}

VEKDC_API vekStatus veksMTFGetSize_8u(int32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    *pSize = kMtfStateBytes;
    return vekStatusOk;
}

VEKDC_API vekStatus veksMTFInit_8u(vekMTFState_8u* pState) {
    if (!pState) return vekStatusNullPtrErr;
    bwt::mtf_init(reinterpret_cast<uint8_t*>(pState));
    return vekStatusOk;
}

VEKDC_API vekStatus veksMTFFwd_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len,
                                  vekMTFState_8u* pState) {
    if (!pSrc || !pDst || !pState) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    bwt::mtf_forward(pSrc, pDst, len, reinterpret_cast<uint8_t*>(pState));
    return vekStatusOk;
}

VEKDC_API vekStatus veksMTFInv_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len,
                                  vekMTFState_8u* pState) {
    if (!pSrc || !pDst || !pState) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    bwt::mtf_inverse(pSrc, pDst, len, reinterpret_cast<uint8_t*>(pState));
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeZ1Z2_BZ2_8u16u(const uint8_t** ppSrc, int32_t* pSrcLen,
                                             uint16_t* pDst, int32_t* pDstLen,
                                             uint32_t* pFreqTable) {
    if (!ppSrc || !pDst || !pSrcLen || !pDstLen) return vekStatusNullPtrErr;
    if (!*ppSrc || !pFreqTable) return vekStatusNullPtrErr;
    if (*pSrcLen < 1 || *pDstLen < 1) return vekStatusSizeErr;
    bwt::zero_run_encode(ppSrc, pSrcLen, pDst, pDstLen, pFreqTable);
    return *pSrcLen > 0 ? vekStatusDstTooSmall : vekStatusOk;
}

VEKDC_API vekStatus veksDecodeZ1Z2_BZ2_16u8u(const uint16_t** ppSrc, int32_t* pSrcLen,
                                             uint8_t* pDst, int32_t* pDstLen) {
    if (!ppSrc || !pDst || !pSrcLen || !pDstLen) return vekStatusNullPtrErr;
    if (!*ppSrc) return vekStatusNullPtrErr;
    if (*pSrcLen < 1 || *pDstLen < 1) return vekStatusSizeErr;
    return bwt::zero_run_decode(ppSrc, pSrcLen, pDst, pDstLen);
}

}  // extern "C"
