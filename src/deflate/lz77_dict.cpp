// LZ77 table maintenance: the level table, rebasing of positions near 2^31,
// dictionary preload and the registration of bytes encoded elsewhere.
#include <algorithm>
#include <cstring>

#include "deflate/lz77_hash.h"
#include "deflate/lz77_internal.h"
#include "vector/vector.h"

namespace vek::deflate {

// maxChain, goodLength, niceLength, lazyLength.
const vekLZ77LevelParams kLevelParams[30] = {
    {0, 0, 0, 0},    {4, 8, 8, 8},      {4, 16, 16, 9},    {4, 16, 16, 12},     {48, 32, 32, 16},
    {32, 8, 32, 16}, {128, 8, 256, 16}, {144, 8, 256, 16}, {192, 32, 258, 128}, {256, 32, 258, 258},
    {0, 0, 0, 0},    {3, 7, 8, 258},    {3, 8, 16, 258},   {5, 8, 16, 258},     {16, 32, 32, 258},
    {24, 6, 32, 16}, {120, 7, 256, 16}, {140, 7, 256, 16}, {192, 32, 258, 128}, {512, 32, 258, 258},
    {0, 0, 0, 0},    {4, 8, 8, 258},    {4, 16, 16, 258},  {4, 16, 16, 258},    {16, 32, 32, 258},
    {32, 8, 32, 16}, {128, 8, 256, 16}, {144, 8, 256, 16}, {192, 32, 258, 128}, {512, 32, 258, 258},
};

// max(max(e, -32768) - shift, -32768) equals max(e, shift - 32768) - shift
// whenever shift - 32768 fits in 32 signed bits (the intermediate then never
// leaves the 32-bit range); for larger shifts every entry ends at -32768.
// Written so that the loop vectorises.
void normalize(uint32_t shift, int32_t* table, uint32_t count) {
    if (shift > 0x7FFFFFFFu + 32768u) {
        std::fill(table, table + count, -32768);
        return;
    }
    const auto low = static_cast<int32_t>(shift - 32768u);
    for (uint32_t k = 0; k < count; ++k)
        table[k] = static_cast<int32_t>(static_cast<uint32_t>(std::max(table[k], low)) - shift);
}

void rebase_positions(uint32_t* srcIdx, uint32_t srcLen, uint32_t winSize, int32_t* head,
                      uint32_t hashSize, int32_t* prev) {
    const uint32_t idx = *srcIdx;
    if (!(idx + srcLen + winSize >= 0x7FFFFFFFu - srcLen && idx > winSize)) return;
    const uint32_t shift = idx - winSize;
    *srcIdx = winSize;
    normalize(shift, head, hashSize);
    if (prev) normalize(shift, prev, winSize);
}

void rebase(const Lz77Call& c, bool with_prev) {
    rebase_positions(c.pSrcIdx, *c.pSrcLen, c.winSize, c.pHashHead, c.hashSize,
                     with_prev ? c.pHashPrev : nullptr);
}

namespace {

// Registers `count` positions first..first+count-1 whose bytes start at p:
// by the CRC hash into both tables (prev slot: position AND wmask), or by the
// shift-xor hash into the head table only.
void register_positions(const uint8_t* p, uint32_t first, uint32_t count, int32_t* head,
                        uint32_t hash_size, int32_t* prev, uint32_t wmask, bool crc) {
    const uint32_t hmask = hash_size - 1;
    if (crc) {
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t h = lz77::crc_hash(p + i, hmask);
            prev[(first + i) & wmask] = head[h];
            head[h] = static_cast<int32_t>(first + i);
        }
        return;
    }
    uint32_t h = lz77::shift_xor_seed(p);
    for (uint32_t i = 0; i < count; ++i) {
        h = lz77::shift_xor_step(h, p[i + 2], hmask);
        head[h] = static_cast<int32_t>(first + i);
    }
}

}  // namespace

void dictionary_set(const uint8_t* dict, uint32_t dict_len, int32_t* head, uint32_t hash_size,
                    int32_t* prev, uint8_t* window, uint32_t win_size, int32_t level) {
    const uint32_t min_len = level != 0 ? 4 : 3;
    if (dict_len < min_len) return;
    const uint32_t n = std::min(dict_len, win_size);
    const uint8_t* const tail = dict + (dict_len - n);
    if (tail + n <= window || window + n <= tail) {
        vek::vector::copy_8u(tail, window, static_cast<int32_t>(n));
    } else if (tail != window) {
        std::memmove(window, tail, n);
    }
    if (n < kMaxMatch) return;
    // Dictionary position i goes to prev slot i (i < n <= winSize).
    register_positions(window, 0, n - kMaxMatch + 1, head, hash_size, prev, ~0u, level > 0);
}

void update_hash(const uint8_t* src, uint32_t src_idx, uint32_t src_len, int32_t* head,
                 uint32_t hash_size, int32_t* prev, uint32_t win_size, int32_t level) {
    const uint32_t min_len = level != 0 ? 4 : 3;
    if (src_len < min_len) return;
    register_positions(src, src_idx, src_len - min_len + 1, head, hash_size, prev, win_size - 1,
                       level != 0);
}

}  // namespace vek::deflate
