// Exported streaming LZSS encoder and decoder: argument checks in their
// documented order, then the codec in src/lzss.
#include "lzss/lzss.h"
#include "vekdc.h"

using namespace vek;

extern "C" {

VEKDC_API vekStatus veksLZSSGetSize_8u(int32_t* pLZSSStateSize) {
    if (!pLZSSStateSize) return vekStatusNullPtrErr;
    *pLZSSStateSize = static_cast<int32_t>(sizeof(vekLZSSState));
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeLZSSInit_8u(vekLZSSState* pLZSSState) {
    if (!pLZSSState) return vekStatusNullPtrErr;
    lzss::encode_init(pLZSSState);
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeLZSS_8u(uint8_t** ppSrc, int32_t* pSrcLen, uint8_t** ppDst,
                                      int32_t* pDstLen, vekLZSSState* pLZSSState) {
    if (!ppSrc || !pSrcLen || !ppDst || !pDstLen || !pLZSSState) return vekStatusNullPtrErr;
    // A full (or negative) destination is reported before the source is looked at.
    if (*pDstLen <= 0) return vekStatusDstTooSmall;
    if (*pSrcLen <= 0) return vekStatusOk;
    const uint8_t* src = *ppSrc;
    const vekStatus st = lzss::encode(&src, pSrcLen, ppDst, pDstLen, pLZSSState);
    *ppSrc = const_cast<uint8_t*>(src);
    return st;
}

VEKDC_API vekStatus veksEncodeLZSSFlush_8u(uint8_t** ppDst, int32_t* pDstLen,
                                           vekLZSSState* pLZSSState) {
    if (!ppDst || !pDstLen || !pLZSSState) return vekStatusNullPtrErr;
    if (*pDstLen < 1) return vekStatusSizeErr;
    return lzss::encode_flush(ppDst, pDstLen, pLZSSState);
}

VEKDC_API vekStatus veksDecodeLZSSInit_8u(vekLZSSState* pLZSSState) {
    if (!pLZSSState) return vekStatusNullPtrErr;
    lzss::decode_init(pLZSSState);
    return vekStatusOk;
}

VEKDC_API vekStatus veksDecodeLZSS_8u(uint8_t** ppSrc, int32_t* pSrcLen, uint8_t** ppDst,
                                      int32_t* pDstLen, vekLZSSState* pLZSSState) {
    if (!ppSrc || !pSrcLen || !ppDst || !pDstLen || !pLZSSState) return vekStatusNullPtrErr;
    if (*pDstLen < 1) return vekStatusSizeErr;
    const uint8_t* src = *ppSrc;
    const vekStatus st = lzss::decode(&src, pSrcLen, ppDst, pDstLen, pLZSSState);
    *ppSrc = const_cast<uint8_t*>(src);
    return st;
}

}  // extern "C"
