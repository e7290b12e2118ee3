// Exported Burrows-Wheeler transform functions: argument checks in their
// documented order, then the engines of src/bwt.
#include <climits>

#include "bwt/bwt_sort.h"
#include "vector/vector.h"
#include "vekdc.h"

using namespace vek;

namespace {

// The size formulas are evaluated in 32-bit arithmetic and the two terms
// compared as signed numbers, exactly as written.
int32_t two_stage_size(uint32_t len) {
    return int32_t(6u * len + 524484u);
}
int32_t doubling_size(uint32_t len) {
    return int32_t(18u * len + 80u);
}
int32_t larger_size(uint32_t len) {
    const int32_t a = two_stage_size(len), b = doubling_size(len);
    return a > b ? a : b;
}

}  // namespace

extern "C" {

VEKDC_API vekStatus veksBWTFwdGetSize_8u(int32_t len, int32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    *pSize = larger_size(uint32_t(len));
    return vekStatusOk;
}

VEKDC_API vekStatus veksBWTFwd_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len, int32_t* pIndex,
                                  uint8_t* pBuf) {
    if (!pSrc || !pDst || !pIndex || !pBuf) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    bwt::forward(pSrc, pDst, len, pIndex, pBuf, bwt::Method::kAuto);
    return vekStatusOk;
}

VEKDC_API vekStatus veksBWTFwdGetBufSize_SelectSort_8u(uint32_t len, uint32_t* pSize,
                                                       vekBWTSortHint hint) {
    if (!pSize) return vekStatusNullPtrErr;
    if (len == 0) return vekStatusSizeErr;
    switch (hint) {
        case vekBWTSortLimited:
        case vekBWTSortUnlimited:
            *pSize = uint32_t(two_stage_size(len));
            break;
        case vekBWTSortSuffix:
            *pSize = uint32_t(doubling_size(len));
            break;
        case vekBWTSortAuto:
            *pSize = uint32_t(larger_size(len));
            break;
        default:
            break;
    }
    return vekStatusOk;
}

VEKDC_API vekStatus veksBWTFwd_SelectSort_8u(const uint8_t* pSrc, uint8_t* pDst, uint32_t len,
                                             uint32_t* pIndex, uint8_t* pBuf, vekBWTSortHint hint) {
    if (!pSrc || !pDst || !pIndex || !pBuf) return vekStatusNullPtrErr;
    // Rows are signed 32-bit numbers: longer blocks cannot be indexed.
    if (len == 0 || len > uint32_t(INT32_MAX)) return vekStatusSizeErr;
    const int32_t n = int32_t(len);
    bwt::Method method;
    if (n < bwt::kShortBlock) {
        method = bwt::Method::kAuto;  // the short path, whatever the hint
    } else {
        switch (hint) {
            case vekBWTSortLimited:
                method = bwt::Method::kLimited;
                break;
            case vekBWTSortUnlimited:
                method = bwt::Method::kUnlimited;
                break;
            case vekBWTSortSuffix:
                method = bwt::Method::kDoubling;
                break;
            case vekBWTSortAuto:
                method = bwt::Method::kAuto;
                break;
            default:
                return vekStatusOk;
        }
    }
    int32_t index = 0;
    if (!bwt::forward(pSrc, pDst, n, &index, pBuf, method)) return vekStatusSortLimitReached;
    *pIndex = uint32_t(index);
    return vekStatusOk;
}

VEKDC_API vekStatus veksBWTInvGetSize_8u(int32_t len, int32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    *pSize = int32_t(4u * uint32_t(len) + 1024u);
    return vekStatusOk;
}

VEKDC_API vekStatus veksBWTInv_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len, int32_t index,
                                  uint8_t* pBuf) {
    if (!pSrc || !pDst || !pBuf) return vekStatusNullPtrErr;
    if (len < 1 || index < 0 || index >= len) return vekStatusSizeErr;
    if (len == 1) return vector::copy_8u(pSrc, pDst, 1);
    bwt::inverse(pSrc, pDst, len, index, pBuf);
    return vekStatusOk;
}

}  // extern "C"
