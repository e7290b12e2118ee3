// High-compression LZ4 encoder: hash chains over a history that persists in
// two caller tables, and a lookahead over up to three overlapping matches.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::lz4 {

// Head table: latest position per 15-bit hash. Chain table: for a position
// x, at x mod 65536, the position inserted before x with the same hash.
inline constexpr int32_t kHcHeadEntries = 32768;
inline constexpr int32_t kHcChainEntries = 65536;

// 0 and anything above 9 mean 9; negative values mean 1.
int32_t hc_normalize_level(int32_t level);

// The two engines. Each checks, in this order: src, src_len, dst, dst_len,
// tables, tables[0], tables[1] (vekStatusNullPtrErr); *src_len < 1
// (vekStatusSizeErr); src_idx < 0 (vekStatusBadArgErr). `level` must be
// normalised already. *dst_len is the capacity on entry and the block length
// on success; vekStatusDstTooSmall leaves both lengths untouched.
//
// Prefix mode: position x of the history lies at src - src_idx + x.
vekStatus encode_hc_prefix(const uint8_t* src, int32_t src_idx, int32_t* src_len, uint8_t* dst,
                           int32_t* dst_len, uint8_t** tables, int32_t level);
// Dictionary mode: position x < src_idx lies at dict + dict_len - src_idx + x
// and exists only when src_idx - x <= dict_len (dict_len >= 1).
vekStatus encode_hc_dict(const uint8_t* src, int32_t src_idx, int32_t* src_len, uint8_t* dst,
                         int32_t* dst_len, uint8_t** tables, const uint8_t* dict, int32_t dict_len,
                         int32_t level);

}  // namespace vek::lz4
