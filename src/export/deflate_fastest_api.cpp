// Exported fastest Deflate: statistics, code tables, dynamic header and the
// two encoders. Each checks its arguments in the documented order, then
// calls the internal engine.
#include "deflate/fastest.h"
#include "vekdc.h"

using namespace vek::deflate;

namespace {

bool window_sizes_ok(uint32_t winSize, uint32_t hashSize) {
    return winSize >= 256 && winSize <= 32768 && hashSize >= 256 && hashSize <= 65536;
}

vekStatus fixed_encoder(const uint8_t** ppSrc, uint32_t* pSrcLen, uint32_t* pSrcIdx,
                        const uint8_t* pWindow, uint32_t winSize, int32_t* pHashHead,
                        uint32_t hashSize, uint16_t* pCode, uint32_t* pCodeLenBits, uint8_t* pDst,
                        uint32_t dstLen, uint32_t* pDstIdx, uint32_t flush) {
    if (!ppSrc || !pSrcLen || !pSrcIdx || !pWindow || !pHashHead || !pCode || !pCodeLenBits ||
        !pDst || !pDstIdx)
        return vekStatusNullPtrErr;
    if (!*ppSrc) return vekStatusNullPtrErr;
    if (!window_sizes_ok(winSize, hashSize) || *pDstIdx >= dstLen) return vekStatusSizeErr;
    return ownsDeflateLZ77FastestFixHuffman_8u(
        FastestStream{ppSrc, pSrcLen, pSrcIdx, pWindow, winSize, pHashHead, hashSize},
        FastestDest{pCode, pCodeLenBits, pDst, dstLen, pDstIdx}, flush);
}

}  // namespace

extern "C" {

VEKDC_API vekStatus veksDeflateLZ77FastestGetStat_8u(const uint8_t** ppSrc, uint32_t* pSrcLen,
                                                     uint32_t* pSrcIdx, const uint8_t* pWindow,
                                                     uint32_t winSize, int32_t* pHashHead,
                                                     uint32_t hashSize, uint32_t pLitStat[286],
                                                     uint32_t pDistStat[30], uint32_t flush) {
    if (!ppSrc || !pSrcLen || !pSrcIdx || !pWindow || !pHashHead) return vekStatusNullPtrErr;
    if (!*ppSrc || !pLitStat || !pDistStat) return vekStatusNullPtrErr;
    if (!window_sizes_ok(winSize, hashSize)) return vekStatusSizeErr;
    fastest_get_stat(FastestStream{ppSrc, pSrcLen, pSrcIdx, pWindow, winSize, pHashHead, hashSize},
                     pLitStat, pDistStat, flush);
    return vekStatusOk;
}

VEKDC_API vekStatus veksDeflateLZ77FastestGenHuffTable_8u(const uint32_t pLitStat[286],
                                                          const uint32_t pDistStat[30],
                                                          vekDeflateHuffCode pLitCodes[286],
                                                          vekDeflateHuffCode pDistCodes[30]) {
    if (!pLitStat || !pDistStat || !pLitCodes || !pDistCodes) return vekStatusNullPtrErr;
    return fastest_gen_huff_table(pLitStat, pDistStat, pLitCodes, pDistCodes);
}

VEKDC_API vekStatus veksDeflateLZ77FastestGenHeader_8u(const vekDeflateHuffCode pLitCodes[286],
                                                       const vekDeflateHuffCode pDistCodes[30],
                                                       uint8_t* pHeader, uint32_t* pHeaderLen,
                                                       uint32_t* pHeaderLenBits) {
    if (!pLitCodes || !pDistCodes || !pHeader || !pHeaderLen || !pHeaderLenBits)
        return vekStatusNullPtrErr;
    ownsDeflateLZ77FastestGenHeader_8u(pLitCodes, pDistCodes, pHeader, pHeaderLen, pHeaderLenBits);
    return vekStatusOk;
}

VEKDC_API vekStatus veksDeflateLZ77FastestPrecompHeader_8u(
    const uint8_t** ppSrc, uint32_t* pSrcLen, uint32_t* pSrcIdx, const uint8_t* pWindow,
    uint32_t winSize, int32_t* pHashHead, uint32_t hashSize, uint16_t* pCode,
    uint32_t* pCodeLenBits, uint8_t* pDst, uint32_t dstLen, uint32_t* pDstIdx,
    const vekDeflateHuffCode* pLitCodes, const vekDeflateHuffCode* pDistCodes,
    const uint8_t* pHeader, int32_t headerLenBits, uint32_t flush) {
    // No code tables at all: the fixed codes (header arguments ignored).
    if (!pLitCodes && !pDistCodes)
        return fixed_encoder(ppSrc, pSrcLen, pSrcIdx, pWindow, winSize, pHashHead, hashSize, pCode,
                             pCodeLenBits, pDst, dstLen, pDstIdx, flush);
    if (!ppSrc || !pSrcLen || !pSrcIdx || !pWindow || !pHashHead || !pCode || !pCodeLenBits ||
        !pDst || !pDstIdx)
        return vekStatusNullPtrErr;
    if (!*ppSrc || !pLitCodes || !pDistCodes) return vekStatusNullPtrErr;
    if (!window_sizes_ok(winSize, hashSize) || dstLen <= *pDstIdx) return vekStatusSizeErr;
    if (pHeader) {
        if (headerLenBits < 1) return vekStatusSizeErr;
        // The placed header must fit the room after *pDstIdx (with *pDstIdx
        // 0 this is the room of the whole destination).
        if (*pSrcIdx == 0 &&
            fastest_header_room(*pCodeLenBits, headerLenBits) > int64_t(dstLen) - *pDstIdx)
            return vekStatusSizeErr;
    } else if (*pSrcIdx == 0) {
        return vekStatusNullPtrErr;
    }
    return fastest_encode_dynamic(
        FastestStream{ppSrc, pSrcLen, pSrcIdx, pWindow, winSize, pHashHead, hashSize},
        FastestDest{pCode, pCodeLenBits, pDst, dstLen, pDstIdx},
        FastestDynamic{pLitCodes, pDistCodes, pHeader, headerLenBits}, flush);
}

VEKDC_API vekStatus veksDeflateLZ77Fastest_8u(const uint8_t** ppSrc, uint32_t* pSrcLen,
                                              uint32_t* pSrcIdx, const uint8_t* pWindow,
                                              uint32_t winSize, int32_t* pHashHead,
                                              uint32_t hashSize, uint16_t* pCode,
                                              uint32_t* pCodeLenBits, uint8_t* pDst,
                                              uint32_t dstLen, uint32_t* pDstIdx, uint32_t flush) {
    return fixed_encoder(ppSrc, pSrcLen, pSrcIdx, pWindow, winSize, pHashHead, hashSize, pCode,
                         pCodeLenBits, pDst, dstLen, pDstIdx, flush);
}

}  // extern "C"
