// Deflate LZ77 stage: the level table, the two search engines (greedy with
// its single-probe variant, and lazy), dictionary preload, hash update and
// the rebasing of the hash tables.
//
// The caller owns every piece of state: the stream position of the first
// source byte, the history window before pWindow, the head and prev tables of
// positions, the pair arrays and the symbol counters. Exported entry points
// check the arguments (src/export/deflate_lz77_api.cpp); the functions here
// assume checked arguments.
#pragma once
#include <cstdint>

#include "deflate/rebase.h"
#include "vekdc.h"

namespace vek::deflate {

// Look-ahead kept back without flush: an item starts only where more than
// this many bytes remain (single-probe search: one byte less).
inline constexpr uint32_t kLookAhead = 261;
inline constexpr uint32_t kMaxMatch = 258;

// Parameters of compression levels 0..29; level mod 10 above 4 selects the
// lazy engine, maxChain 0 the single-probe search.
extern const vekLZ77LevelParams kLevelParams[30];

// Arguments of one engine call, already checked.
struct Lz77Call {
    const uint8_t** ppSrc;
    uint32_t* pSrcLen;
    uint32_t* pSrcIdx;
    const uint8_t* pWindow;
    uint32_t winSize;
    int32_t* pHashHead;
    int32_t* pHashPrev;
    uint32_t hashSize;
    vekDeflateFreqEntry* pLitFreq;
    vekDeflateFreqEntry* pDistFreq;
    uint8_t* pLitDst;
    uint16_t* pDistDst;
    uint32_t* pDstLen;
};

// Greedy engine; maxChain 0 runs the single-probe search. Rebases first.
void lz77_greedy(const Lz77Call& c, const vekLZ77LevelParams& prm, uint32_t flush);
// Single-probe search (shift-xor hash, head table only), after rebasing.
void lz77_single(const Lz77Call& c, uint32_t flush);
// Lazy engine (maxChain >= 1, the three lengths >= 4). Rebases first.
void lz77_lazy(const Lz77Call& c, const vekLZ77LevelParams& prm, uint32_t flush);

// Moves positions near 2^31 down: when the call's positions come close to
// the top of the signed range, *pSrcIdx becomes winSize and the head table
// (and the prev table when `with_prev`) is shifted to match.
void rebase(const Lz77Call& c, bool with_prev);

void dictionary_set(const uint8_t* dict, uint32_t dict_len, int32_t* head, uint32_t hash_size,
                    int32_t* prev, uint8_t* window, uint32_t win_size, int32_t level);
void update_hash(const uint8_t* src, uint32_t src_idx, uint32_t src_len, int32_t* head,
                 uint32_t hash_size, int32_t* prev, uint32_t win_size, int32_t level);

}  // namespace vek::deflate
