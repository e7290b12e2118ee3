// Burrows-Wheeler transform: the rotation sorting engines, the forward
// transform that drives them and the inverse.
//
// Rotations are read through the doubled block T (T[i] = T[i + n] = S[i]),
// so rotation r from offset d is the byte run T[r + d .. r + n - 1].
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::bwt {

// Blocks shorter than this are sorted whole by the ternary sort.
constexpr int32_t kShortBlock = 100;

// Ternary (multikey) quicksort of rows[lo..hi], whose rotations all share
// their first `depth` bytes, with a shell-sort finish for small ranges.
// A non-negative *budget limits the bytes passed by shell-sort comparisons:
// ranges reaching depth 14 are shell-sorted, and once the budget turns
// negative the sort stops with the rows only partly ordered. A negative
// *budget on entry sorts completely and leaves -1.
//
// Where a budget ends the sort, the keys decide how much it costs: kNarrow
// partitions on one byte below depth 6 and on 4-byte words from there, which
// is the charge the limited method reports against; kWide moves 8 bytes per
// level from depth 2 and serves where only the finished order counts.
enum class SortKeys { kWide, kNarrow };
void it_sort(const uint8_t* T, int32_t n, int32_t* rows, int32_t lo, int32_t hi, int32_t depth,
             int64_t* budget, SortKeys keys = SortKeys::kWide);

// Complete transform by prefix doubling on rotations; `work` holds 4 * n
// 32-bit entries. Its running time does not depend on repetitiveness.
void doubling_transform(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index, int32_t* work);

// Complete transform by induced suffix sorting of the block's least
// rotation (or of its root, for a block that repeats a shorter one), in
// linear time; `work` holds induced_work_bytes(n) bytes, any alignment.
// Equal rotations (repeating blocks only) may sit in another order than the
// doubling sort leaves them in.
void induced_transform(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index, uint8_t* work);
int64_t induced_work_bytes(int64_t n);

// Work-buffer sizes of the forward transform.
int64_t fwd_two_stage_bytes(int64_t n);  // 6n + 524484
int64_t fwd_doubling_bytes(int64_t n);   // 18n + 80

// How the forward transform of blocks of kShortBlock bytes or more sorts.
enum class Method {
    kLimited,    // two-stage sort under the budget; stops when it runs out
    kUnlimited,  // two-stage sort without a budget
    kDoubling,   // the complete suffix sort only (induced, or prefix doubling)
    kAuto,       // two-stage sort under the budget, else the complete sort
};

// Forward transform of n >= 1 bytes: writes n bytes to dst and the primary
// index. Returns false only for kLimited when the budget ran out (dst and
// *index are then not a transform).
bool forward(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index, uint8_t* buf,
             Method method);

// Inverse transform of the last column L (n >= 2 bytes) with primary index
// `index` (0 <= index < n) into dst; `work` is 4n + 1024 bytes, any alignment.
void inverse(const uint8_t* L, uint8_t* dst, int32_t n, int32_t index, uint8_t* work);

}  // namespace vek::bwt
