// Exported bzip2-format Huffman encoder, decoder and block decoder: argument
// checks in their documented order, then the internal stages.
#include "bwt/huff_bz2.h"
#include "vekdc.h"

using namespace vek;

namespace {

constexpr uint32_t kMaxBlock = 1u << 24;  // links are 24 bits wide

int64_t groups_of(int32_t len) { return (static_cast<int64_t>(len) + bwt::kBz2GroupSize - 1) / bwt::kBz2GroupSize; }

}  // namespace

extern "C" {

VEKDC_API vekStatus veksEncodeHuffGetSize_BZ2_16u8u(int32_t len, int32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    *pSize = static_cast<int32_t>(groups_of(len) * 2 + bwt::kBz2EncFixedBytes);
    return vekStatusOk;
}

VEKDC_API vekStatus veksEncodeHuffInit_BZ2_16u8u(int32_t alphaSize, const uint32_t* pFreq,
                                                 const uint16_t* pSrc, int32_t len,
                                                 vekHuffEncState_BZ2* pState) {
    if (!pFreq || !pSrc || !pState) return vekStatusNullPtrErr;
    if (alphaSize < 1 || len < 1) return vekStatusSizeErr;
    if (alphaSize > bwt::kBz2MaxAlpha) return vekStatusSizeErr;
    return bwt::bz2_encode_init(alphaSize, pFreq, pSrc, len, pState);
}

VEKDC_API vekStatus veksPackHuffContext_BZ2_16u8u(uint32_t* pCode, int32_t* pCodeLenBits,
                                                  uint8_t* pDst, int32_t* pDstLen,
                                                  vekHuffEncState_BZ2* pState) {
    if (!pCode || !pCodeLenBits || !pDst || !pDstLen) return vekStatusNullPtrErr;
    if (!pState) return vekStatusNullPtrErr;
    if (*pDstLen < 1) return vekStatusSizeErr;
    return bwt::bz2_pack_context(pCode, pCodeLenBits, pDst, pDstLen, pState);
}

VEKDC_API vekStatus veksEncodeHuff_BZ2_16u8u(uint32_t* pCode, int32_t* pCodeLenBits,
                                             const uint16_t** ppSrc, int32_t* pSrcLen,
                                             uint8_t* pDst, int32_t* pDstLen,
                                             vekHuffEncState_BZ2* pState) {
    if (!pCode || !pCodeLenBits || !ppSrc || !pSrcLen) return vekStatusNullPtrErr;
    if (!*ppSrc || !pDst || !pDstLen || !pState) return vekStatusNullPtrErr;
    if (*pDstLen < 1) return vekStatusSizeErr;
    return bwt::bz2_encode_symbols(pCode, pCodeLenBits, ppSrc, pSrcLen, pDst, pDstLen, pState);
}

VEKDC_API vekStatus veksDecodeHuffGetSize_BZ2_8u16u(int32_t len, int32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    *pSize = static_cast<int32_t>(groups_of(len) + bwt::kBz2DecFixedBytes);
    return vekStatusOk;
}

VEKDC_API vekStatus veksDecodeHuffInit_BZ2_8u16u(int32_t alphaSize, vekHuffDecState_BZ2* pState) {
    if (!pState) return vekStatusNullPtrErr;
    if (alphaSize < 1) return vekStatusSizeErr;
    if (alphaSize > bwt::kBz2MaxAlpha) return vekStatusSizeErr;
    bwt::bz2_decode_init(alphaSize, pState);
    return vekStatusOk;
}

VEKDC_API vekStatus veksUnpackHuffContext_BZ2_8u16u(uint32_t* pCode, int32_t* pCodeLenBits,
                                                    const uint8_t** ppSrc, int32_t* pSrcLen,
                                                    vekHuffDecState_BZ2* pState) {
    if (!pCode || !ppSrc || !pSrcLen || !pState || !pCodeLenBits) return vekStatusNullPtrErr;
    if (!*ppSrc) return vekStatusNullPtrErr;
    if (*pSrcLen < 1) return vekStatusSizeErr;
    if (pState->unpackPhase < 0 || pState->unpackPhase > 2) return vekStatusBadDataErr;
    return bwt::bz2_unpack_context(pCode, pCodeLenBits, ppSrc, pSrcLen, pState);
}

VEKDC_API vekStatus veksDecodeHuff_BZ2_8u16u(uint32_t* pCode, int32_t* pCodeLenBits,
                                             const uint8_t** ppSrc, int32_t* pSrcLen,
                                             uint16_t* pDst, int32_t* pDstLen,
                                             vekHuffDecState_BZ2* pState) {
    if (!pCode || !pCodeLenBits || !ppSrc || !pSrcLen) return vekStatusNullPtrErr;
    if (!*ppSrc || !pDst || !pDstLen || !pState) return vekStatusNullPtrErr;
    if (*pDstLen < 1) return vekStatusSizeErr;
    return bwt::bz2_decode_symbols(pCode, pCodeLenBits, ppSrc, pSrcLen, pDst, pDstLen, pState);
}

VEKDC_API vekStatus veksDecodeBlockGetSize_BZ2_8u(uint32_t blockSize, int32_t* pSize) {
    if (!pSize) return vekStatusNullPtrErr;
    if (blockSize >= kMaxBlock) return vekStatusSizeErr;
    *pSize = static_cast<int32_t>(4 * blockSize);
    return vekStatusOk;
}

VEKDC_API vekStatus veksDecodeBlock_BZ2_16u8u(const uint16_t* pSrc, int32_t srcLen, uint8_t* pDst,
                                              int32_t* pDstLen, int32_t index, int32_t dictSize,
                                              const uint8_t inUse[256], uint8_t* pBuf) {
    if (!pSrc || !pDst || !pDstLen || !inUse || !pBuf) return vekStatusNullPtrErr;
    if (srcLen < 1) return vekStatusSizeErr;
    if (static_cast<uint32_t>(*pDstLen) >= kMaxBlock || index < 0 || index >= *pDstLen ||
        static_cast<uint32_t>(dictSize) >= 257u)
        return vekStatusSizeErr;
    return bwt::bz2_decode_block(pSrc, srcLen, pDst, pDstLen, index, dictSize, inUse, pBuf);
}

}  // extern "C"
