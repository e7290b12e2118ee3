// Exported LZO1X encoder and decoders: argument checks in their documented
// order, then the internal engines.
#include "lzo/lzo.h"
#include "vekdc.h"

using namespace vek;

extern "C" {

VEKDC_API vekStatus veksEncodeLZOGetSize(int32_t method, uint32_t /*maxInputLen*/,
                                         uint32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    if (method < 0 || method > 2) {
        *pSize = 0;
        return vekStatusBadArgErr;
    }
    *pSize = lzo::kStateBytes;
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeLZOInit_8u(int32_t method, uint32_t /*maxInputLen*/,
                                         vekLZOState_8u* pState) {
    if (!pState) return vekStatusNullPtrErr;
    auto* state = reinterpret_cast<lzo::EncoderState*>(pState);
    if (method == 1) {  // the same matcher as method 0
        state->method = 0;
        return vekStatusOk;
    }
    if (method & ~2) return vekStatusBadArgErr;
    state->method = method;
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeLZO_8u(const uint8_t* pSrc, uint32_t srcLen, uint8_t* pDst,
                                     uint32_t* pDstLen, vekLZOState_8u* pState) {
    if (!pState || !pSrc || !pDst || !pDstLen) return vekStatusNullPtrErr;
    if (srcLen == 0) {
        *pDstLen = 0;
        return vekStatusOk;
    }
    auto* state = reinterpret_cast<lzo::EncoderState*>(pState);
    if (state->method != 0 && state->method != 2) return vekStatusBadArgErr;
    return lzo::encode(pSrc, srcLen, pDst, pDstLen, state);
}

// Trusting: the stream must be well formed and its output must fit *pDstLen
// (checks are made only between tokens). Containers are always validated.
VEKDC_API vekStatus veksDecodeLZO_8u(const uint8_t* pSrc, uint32_t srcLen, uint8_t* pDst,
                                     uint32_t* pDstLen) {
    if (!pSrc || !pDst || !pDstLen) return vekStatusNullPtrErr;
    return lzo::decode(pSrc, srcLen, pDst, pDstLen, true);
}

VEKDC_API vekStatus veksDecodeLZOSafe_8u(const uint8_t* pSrc, uint32_t srcLen, uint8_t* pDst,
                                         uint32_t* pDstLen) {
    if (!pSrc || !pDst || !pDstLen) return vekStatusNullPtrErr;
    return lzo::decode(pSrc, srcLen, pDst, pDstLen, false);
}

}  // extern "C"
