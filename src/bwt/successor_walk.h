// The output walk shared by the inverse transform and the bzip2 block
// decoder: from a primary row, follow n successor links and emit one byte
// per step.
//
// Both callers lay their links out as 32-bit words (unaligned, little
// endian): bits 8..31 the successor row, bits 0..7 a byte of the last
// column. They differ in which byte: the inverse transform stores the
// successor's byte (emitted on leaving a row), the block decoder the row's
// own byte (emitted on arriving at it). Either way the output is
//     p = index; for k in 0..n-1: p = successor(p); dst[k] = L[p]
// for any set of links forming a permutation of the rows, including one of
// several cycles (the walk then goes round its cycle again and again).
#pragma once

#include <cstdint>

namespace vek::bwt {

enum class LinkByte {
    kSuccessor,  // word of row r: successor(r) << 8 | L[successor(r)]
    kOwn,        // word of row r: successor(r) << 8 | L[r]
};

// Walks the n words at `links` from row `index` into dst[0..n). Blocks
// large enough to profit walk many chains at once; they use dst as room
// for their pieces and overwrite the links (dead once the walk is over).
void walk_successors(uint8_t* links, uint8_t* dst, int32_t n, uint32_t index, LinkByte kind);

// The same with at most `piece_limit` pieces of output room for the many
// chains; true when they finished, false when the walk fell back to one
// chain. (walk_successors never runs short; tests force the fallback.)
bool walk_successors_limited(uint8_t* links, uint8_t* dst, int32_t n, uint32_t index, LinkByte kind,
                             int32_t piece_limit);

// The inverse transform's walk straight from a last column L of few runs
// of equal bytes: inside a run the successor rows are consecutive, so a
// table of runs stands in for the links. Writes the n bytes of
//     p = index; for k in 0..n-1: p = successor(p); dst[k] = L[p]
// (successors by stable counting of L) and returns true; returns false,
// writing nothing of value, when L has too many runs or n is outside the
// range the many chains walk. `work` holds 4n bytes.
bool walk_column_runs(const uint8_t* L, uint8_t* dst, int32_t n, uint32_t index, uint8_t* work);

// The one-chain walk alone (tests compare the two).
void walk_successors_plain(const uint8_t* links, uint8_t* dst, int32_t n, uint32_t index,
                           LinkByte kind);

}  // namespace vek::bwt
