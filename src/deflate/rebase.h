// Rebasing of stream positions, shared by the LZ77 engines and the fastest
// encoder: when a call's positions come close to the top of the signed
// 32-bit range, *srcIdx becomes winSize and the hash tables keep each
// entry's distance to it, none going below -32768.
#pragma once
#include <cstdint>

namespace vek::deflate {

// Every entry e of table[0, count) becomes max(max(e, -32768) - shift, -32768).
void normalize(uint32_t shift, int32_t* table, uint32_t count);

// Rebases when srcIdx + srcLen + winSize >= 0x7FFFFFFF - srcLen (unsigned)
// and srcIdx > winSize. `prev` (winSize entries) may be null.
void rebase_positions(uint32_t* srcIdx, uint32_t srcLen, uint32_t winSize, int32_t* head,
                      uint32_t hashSize, int32_t* prev);

}  // namespace vek::deflate
