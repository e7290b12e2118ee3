// Exported Deflate pair writer: pointer checks, then the internal writer.
#include "deflate/huff.h"
#include "vekdc.h"

extern "C" {

VEKDC_API vekStatus veksDeflateHuff_8u(const uint8_t* pLitSrc, const uint16_t* pDistSrc,
                                       uint32_t srcLen, uint16_t* pCode, uint32_t* pCodeLenBits,
                                       const vekDeflateHuffCode pLitHuffCodes[286],
                                       const vekDeflateHuffCode pDistHuffCodes[30], uint8_t* pDst,
                                       uint32_t* pDstIdx) {
    if (!pLitSrc || !pDistSrc || !pCode || !pCodeLenBits || !pLitHuffCodes || !pDistHuffCodes ||
        !pDst || !pDstIdx)
        return vekStatusNullPtrErr;
    // srcLen is not checked: 0 only settles the pending bits.
    vek::deflate::huff_write_pairs(pLitSrc, pDistSrc, srcLen, pCode, pCodeLenBits, pLitHuffCodes,
                                   pDistHuffCodes, pDst, pDstIdx);
    return vekStatusOk;
}

}  // extern "C"
