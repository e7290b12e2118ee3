// Exported Deflate LZ77 stage: argument checks in their fixed order, the
// level dispatcher, the two engines, dictionary preload and hash update.
#include "deflate/lz77_internal.h"
#include "vekdc.h"

using vek::deflate::Lz77Call;

namespace {

bool bad_sizes(uint32_t win_size, uint32_t hash_size) {
    return win_size < 256 || win_size > 32768 || hash_size < 256 || hash_size > 65536;
}

// Checks shared by both engines: the pointers, then *ppSrc and the
// parameters, then the two sizes.
vekStatus check_common(const Lz77Call& c, const vekLZ77LevelParams* prm) {
    if (!c.ppSrc || !c.pSrcLen || !c.pSrcIdx || !c.pWindow || !c.pHashHead || !c.pHashPrev ||
        !c.pLitFreq || !c.pDistFreq || !c.pLitDst || !c.pDistDst || !c.pDstLen)
        return vekStatusNullPtrErr;
    if (!*c.ppSrc || !prm) return vekStatusNullPtrErr;
    if (bad_sizes(c.winSize, c.hashSize)) return vekStatusSizeErr;
    return vekStatusOk;
}

vekStatus run_fast(const Lz77Call& c, const vekLZ77LevelParams* prm, uint32_t flush) {
    const vekStatus st = check_common(c, prm);
    if (st != vekStatusOk) return st;
    if (prm->maxChain < 0) return vekStatusBadArgErr;
    if (prm->maxChain > 0 && (prm->goodLength < 4 || prm->niceLength < 4 || prm->lazyLength < 4))
        return vekStatusBadArgErr;
    vek::deflate::lz77_greedy(c, *prm, flush);
    return vekStatusOk;
}

vekStatus run_slow(const Lz77Call& c, const vekLZ77LevelParams* prm, uint32_t flush) {
    const vekStatus st = check_common(c, prm);
    if (st != vekStatusOk) return st;
    if (prm->maxChain < 1 || prm->goodLength < 4 || prm->niceLength < 4 || prm->lazyLength < 4)
        return vekStatusBadArgErr;
    vek::deflate::lz77_lazy(c, *prm, flush);
    return vekStatusOk;
}

}  // namespace

extern "C" {

VEKDC_API vekStatus veksDeflateLZ77_8u(const uint8_t** ppSrc, uint32_t* pSrcLen, uint32_t* pSrcIdx,
                                       const uint8_t* pWindow, uint32_t winSize, int32_t* pHashHead,
                                       int32_t* pHashPrev, uint32_t hashSize,
                                       vekDeflateFreqEntry pLitFreqTable[286],
                                       vekDeflateFreqEntry pDistFreqTable[30], uint8_t* pLitDst,
                                       uint16_t* pDistDst, uint32_t* pDstLen, int32_t comprLevel,
                                       uint32_t flush) {
    if (static_cast<uint32_t>(comprLevel) > 29) return vekStatusSizeErr;
    const vekLZ77LevelParams prm = vek::deflate::kLevelParams[comprLevel];
    const Lz77Call c{ppSrc,     pSrcLen,   pSrcIdx,  pWindow,       winSize,
                     pHashHead, pHashPrev, hashSize, pLitFreqTable, pDistFreqTable,
                     pLitDst,   pDistDst,  pDstLen};
    return comprLevel % 10 > 4 ? run_slow(c, &prm, flush) : run_fast(c, &prm, flush);
}

VEKDC_API vekStatus veksDeflateLZ77Fast_8u(const uint8_t** ppSrc, uint32_t* pSrcLen,
                                           uint32_t* pSrcIdx, const uint8_t* pWindow,
                                           uint32_t winSize, int32_t* pHashHead, int32_t* pHashPrev,
                                           uint32_t hashSize, vekDeflateFreqEntry* pLitFreqTable,
                                           vekDeflateFreqEntry* pDistFreqTable, uint8_t* pLitDst,
                                           uint16_t* pDistDst, uint32_t* pDstLen,
                                           const vekLZ77LevelParams* pParams, uint32_t flush) {
    const Lz77Call c{ppSrc,     pSrcLen,   pSrcIdx,  pWindow,       winSize,
                     pHashHead, pHashPrev, hashSize, pLitFreqTable, pDistFreqTable,
                     pLitDst,   pDistDst,  pDstLen};
    return run_fast(c, pParams, flush);
}

VEKDC_API vekStatus veksDeflateLZ77Slow_8u(const uint8_t** ppSrc, uint32_t* pSrcLen,
                                           uint32_t* pSrcIdx, const uint8_t* pWindow,
                                           uint32_t winSize, int32_t* pHashHead, int32_t* pHashPrev,
                                           uint32_t hashSize, vekDeflateFreqEntry* pLitFreqTable,
                                           vekDeflateFreqEntry* pDistFreqTable, uint8_t* pLitDst,
                                           uint16_t* pDistDst, uint32_t* pDstLen,
                                           const vekLZ77LevelParams* pParams, uint32_t flush) {
    const Lz77Call c{ppSrc,     pSrcLen,   pSrcIdx,  pWindow,       winSize,
                     pHashHead, pHashPrev, hashSize, pLitFreqTable, pDistFreqTable,
                     pLitDst,   pDistDst,  pDstLen};
    return run_slow(c, pParams, flush);
}

VEKDC_API vekStatus veksDeflateDictionarySet_8u(const uint8_t* pDict, uint32_t dictLen,
                                                int32_t* pHashHead, uint32_t hashSize,
                                                int32_t* pHashPrev, uint8_t* pWindow,
                                                uint32_t winSize, int32_t comprLevel) {
    if (!pDict || !pHashHead || !pHashPrev || !pWindow) return vekStatusNullPtrErr;
    if (bad_sizes(winSize, hashSize)) return vekStatusSizeErr;
    vek::deflate::dictionary_set(pDict, dictLen, pHashHead, hashSize, pHashPrev, pWindow, winSize,
                                 comprLevel);
    return vekStatusOk;
}

VEKDC_API vekStatus veksDeflateUpdateHash_8u(const uint8_t* pSrc, uint32_t srcIdx, uint32_t srcLen,
                                             int32_t* pHashHead, uint32_t hashSize,
                                             int32_t* pHashPrev, uint32_t winSize,
                                             int32_t comprLevel) {
    if (!pSrc || !pHashHead || !pHashPrev) return vekStatusNullPtrErr;
    if (bad_sizes(winSize, hashSize)) return vekStatusSizeErr;
    vek::deflate::update_hash(pSrc, srcIdx, srcLen, pHashHead, hashSize, pHashPrev, winSize,
                              comprLevel);
    return vekStatusOk;
}

}  // extern "C"
