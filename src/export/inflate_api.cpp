// Exported inflater: argument checks in their documented order, then the
// table builder or the decoder of the state's table form.
#include "deflate/inflate.h"
#include "vekdc.h"

using namespace vek;

extern "C" {

VEKDC_API vekStatus veksInflateBuildHuffTable(const uint16_t* pCodeLens, uint32_t nLitCodeLens,
                                              uint32_t nDistCodeLens, vekInflateState* pState) {
    if (!pCodeLens || !pState) return vekStatusNullPtrErr;
    if (nLitCodeLens > 288 || nDistCodeLens > 30) return vekStatusSizeErr;
    return deflate::build_huff_table(pCodeLens, nLitCodeLens, nDistCodeLens, pState);
}

VEKDC_API vekStatus veksInflate_8u(const uint8_t** ppSrc, uint32_t* pSrcLen, uint32_t* pCode,
                                   uint32_t* pCodeLenBits, uint32_t winIdx, uint8_t** ppDst,
                                   uint32_t* pDstLen, uint32_t dstIdx, vekInflateMode* pMode,
                                   vekInflateState* pState) {
    if (!ppSrc || !pSrcLen || !pCode || !pCodeLenBits || !ppDst || !pDstLen || !pMode || !pState)
        return vekStatusNullPtrErr;
    if (!*ppSrc) return vekStatusNullPtrErr;
    if (!*ppDst) return vekStatusNullPtrErr;
    if (*pCodeLenBits > 32) return vekStatusSizeErr;
    if (pState->winSize < winIdx) return vekStatusSizeErr;
    const int32_t type = pState->tableType;
    if (type != vekInflateTableShort && type != vekInflateTableFixed &&
        type != vekInflateTableGeneral)
        return vekStatusSrcDataErr;

    deflate::InflateIo io;
    io.in = *ppSrc;
    io.inEnd = *ppSrc + *pSrcLen;
    io.nbits = *pCodeLenBits;
    io.bits = io.nbits ? *pCode & (~uint32_t{0} >> (32 - io.nbits)) : 0;
    io.out = io.out0 = *ppDst;
    io.outEnd = *ppDst + *pDstLen;
    io.dstIdx = dstIdx;
    io.win = pState->pWindow;
    io.winSize = pState->winSize;
    io.winIdx = winIdx;

    vekStatus st;
    if (type == vekInflateTableShort) {
        st = deflate::inflate_short(io, pState, pMode);
    } else {
        const uint8_t* tables =
            type == vekInflateTableFixed ? deflate::kFixedHuffTable.data() : pState->tables;
        st = deflate::inflate_general(io, tables, pState, pMode);
    }
    *ppSrc = io.in;
    *pSrcLen = static_cast<uint32_t>(io.inEnd - io.in);
    *pCode = static_cast<uint32_t>(io.bits);
    *pCodeLenBits = io.nbits;
    *ppDst = io.out;
    *pDstLen = static_cast<uint32_t>(io.outEnd - io.out);
    return st;
}

}  // extern "C"
