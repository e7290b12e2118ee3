// Exported ZFP functions: state size, initialisation, parameters, stream
// sizes, flush and the block coders. The decoder's configuration functions
// are the encoder's under their own names.
#include <cstring>

#include "vekdc.h"
#include "zfp/zfp_internal.h"

using namespace vek;

namespace {

bool bad_id(const vekZfpState_32f* s) {
    return s->idCtx != zfp::kStateId;
}

vekStatus state_size(int32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    *pSize = static_cast<int32_t>(sizeof(vekZfpState_32f));
    return vekStatusOk;
}

vekStatus init(const uint8_t* buf, int32_t len, vekZfpState_32f* s) {
    if (!s || !buf) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    zfp::init_state(s, buf, static_cast<uintptr_t>(len));
    return vekStatusOk;
}

// Lengths beyond the address space wrap with it (the end pointer then lies
// below the start and the stream has no room).
vekStatus init_long(const uint8_t* buf, int64_t len, vekZfpState_32f* s) {
    if (!s || !buf) return vekStatusNullPtrErr;
    if (len == 0) return vekStatusSizeErr;
    zfp::init_state(s, buf, static_cast<uintptr_t>(static_cast<uint64_t>(len)));
    return vekStatusOk;
}

vekStatus set(int32_t minBits, int32_t maxBits, int32_t maxPrec, int32_t minExp,
              vekZfpState_32f* s) {
    if (!s) return vekStatusNullPtrErr;
    if (bad_id(s)) return vekStatusContextMismatchErr;
    s->minBits = minBits;
    s->maxBits = maxBits;
    s->maxPrec = maxPrec;
    s->minExp = minExp;
    return vekStatusOk;
}

// minExp is the unbiased exponent field of the tolerance (floor(log2) for a
// normal number); zero, negative and NaN tolerances mean "all planes".
vekStatus set_accuracy(double maxError, vekZfpState_32f* s) {
    if (!s) return vekStatusNullPtrErr;
    if (bad_id(s)) return vekStatusContextMismatchErr;
    if (maxError > 0) {
        uint64_t b;
        std::memcpy(&b, &maxError, 8);
        s->minExp = static_cast<int32_t>((b >> 52) & 0x7FF) - 1023;
    } else {
        s->minExp = zfp::kDefaultMinExp;
    }
    return vekStatusOk;
}

// pCur - pStart as addresses, so that a 32-bit build reports streams of
// 2 GiB and more in full through the 64-bit queries.
int64_t bytes_done(const vekZfpState_32f* s) {
    const uintptr_t cur = reinterpret_cast<uintptr_t>(s->pCur);
    const uintptr_t start = reinterpret_cast<uintptr_t>(s->pStart);
    return cur >= start ? static_cast<int64_t>(cur - start) : -static_cast<int64_t>(start - cur);
}

vekStatus size32(const vekZfpState_32f* s, int32_t* pSize) {
    if (!s || !pSize) return vekStatusNullPtrErr;
    if (bad_id(s)) return vekStatusContextMismatchErr;
    *pSize = static_cast<int32_t>(bytes_done(s));
    return vekStatusOk;
}

vekStatus size64(const vekZfpState_32f* s, int64_t* pSize) {
    if (!s || !pSize) return vekStatusNullPtrErr;
    if (bad_id(s)) return vekStatusContextMismatchErr;
    *pSize = bytes_done(s);
    return vekStatusOk;
}

}  // namespace

extern "C" {

VEKDC_API vekStatus veksEncodeZfpGetStateSize_32f(int32_t* pSize) {
    return state_size(pSize);
}

VEKDC_API vekStatus veksEncodeZfpInit_32f(uint8_t* pDst, int32_t dstLen, vekZfpState_32f* pState) {
    return init(pDst, dstLen, pState);
}

VEKDC_API vekStatus veksEncodeZfpInitLong_32f(uint8_t* pDst, int64_t dstLen,
                                              vekZfpState_32f* pState) {
    return init_long(pDst, dstLen, pState);
}

VEKDC_API vekStatus veksEncodeZfpSet_32f(int32_t minBits, int32_t maxBits, int32_t maxPrec,
                                         int32_t minExp, vekZfpState_32f* pState) {
    return set(minBits, maxBits, maxPrec, minExp, pState);
}

VEKDC_API vekStatus veksEncodeZfpSetAccuracy_32f(double maxError, vekZfpState_32f* pState) {
    return set_accuracy(maxError, pState);
}

VEKDC_API vekStatus veksEncodeZfpGetCompressedSize_32f(const vekZfpState_32f* pState,
                                                       int32_t* pSize) {
    return size32(pState, pSize);
}

VEKDC_API vekStatus veksEncodeZfpGetCompressedSizeLong_32f(const vekZfpState_32f* pState,
                                                           int64_t* pSize) {
    return size64(pState, pSize);
}

// Computed in 64 bits, so long streams do not wrap.
VEKDC_API vekStatus veksEncodeZfpGetCompressedBitSize_32f(const vekZfpState_32f* pState,
                                                          int64_t* pSize) {
    if (!pState || !pSize) return vekStatusNullPtrErr;
    if (bad_id(pState)) return vekStatusContextMismatchErr;
    *pSize = pState->bitCount + 8 * bytes_done(pState);
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeZfpFlush_32f(vekZfpState_32f* pState) {
    if (!pState) return vekStatusNullPtrErr;
    if (bad_id(pState)) return vekStatusContextMismatchErr;
    return zfp::flush(pState);
}

VEKDC_API vekStatus veksDecodeZfpGetStateSize_32f(int32_t* pSize) {
    return state_size(pSize);
}

VEKDC_API vekStatus veksDecodeZfpInit_32f(const uint8_t* pSrc, int32_t srcLen,
                                          vekZfpState_32f* pState) {
    return init(pSrc, srcLen, pState);
}

VEKDC_API vekStatus veksDecodeZfpInitLong_32f(const uint8_t* pSrc, int64_t srcLen,
                                              vekZfpState_32f* pState) {
    return init_long(pSrc, srcLen, pState);
}

VEKDC_API vekStatus veksDecodeZfpSet_32f(int32_t minBits, int32_t maxBits, int32_t maxPrec,
                                         int32_t minExp, vekZfpState_32f* pState) {
    return set(minBits, maxBits, maxPrec, minExp, pState);
}

VEKDC_API vekStatus veksDecodeZfpSetAccuracy_32f(double maxError, vekZfpState_32f* pState) {
    return set_accuracy(maxError, pState);
}

VEKDC_API vekStatus veksDecodeZfpGetDecompressedSize_32f(const vekZfpState_32f* pState,
                                                         int32_t* pSize) {
    return size32(pState, pSize);
}

VEKDC_API vekStatus veksDecodeZfpGetDecompressedSizeLong_32f(const vekZfpState_32f* pState,
                                                             int64_t* pSize) {
    return size64(pState, pSize);
}

VEKDC_API vekStatus veksEncodeZfp444_32f(const float* pSrc, int32_t srcStep, int32_t srcPlaneStep,
                                         vekZfpState_32f* pState) {
    if (!pSrc || !pState) return vekStatusNullPtrErr;
    if (bad_id(pState)) return vekStatusContextMismatchErr;
    return zfp::encode_block(pSrc, srcStep, srcPlaneStep, pState, zfp::best_kernels());
}

VEKDC_API vekStatus veksDecodeZfp444_32f(vekZfpState_32f* pState, float* pDst, int32_t dstStep,
                                         int32_t dstPlaneStep) {
    if (!pDst || !pState) return vekStatusNullPtrErr;
    if (bad_id(pState)) return vekStatusContextMismatchErr;
    return zfp::decode_block(pState, pDst, dstStep, dstPlaneStep, zfp::best_kernels());
}

}  // extern "C"
