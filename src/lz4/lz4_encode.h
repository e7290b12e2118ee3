// Internal interface of the LZ4 block encoders and decoders.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::lz4 {

// Single-pass encoders over a cleared table (the caller has cleared it with
// the layout that srcLen selects). Return the block length.
int32_t encode_block(const uint8_t* src, int32_t srcLen, uint8_t* dst, uint8_t* table);
// Checked: *srcLen in = source length, out = bytes covered; returns the
// block length.
int32_t encode_block_checked(const uint8_t* src, int32_t* srcLen, uint8_t* dst, int32_t dstCap,
                             uint8_t* table);
// History encoders (32-bit table of history positions). dict null: the
// history is the srcIdx bytes right before src. Checked: *srcLen in/out and
// dstCap as for encode_block_checked; unchecked: *srcLen is left alone.
int32_t encode_history(const uint8_t* src, int32_t srcIdx, int32_t* srcLen, uint8_t* dst,
                       int32_t dstCap, uint8_t* table, const uint8_t* dict, int32_t dictLen,
                       bool checked);
int32_t encode_block_fast(const uint8_t* src, int32_t srcLen, uint8_t* dst, uint8_t* table,
                          int32_t acceleration);

// Decoders; arguments already checked.
vekStatus decode_block(const uint8_t* src, int32_t* srcLen, uint8_t* dst, int32_t* dstLen);
vekStatus decode_block_dict(const uint8_t* src, int32_t* srcLen, uint8_t* dst, int32_t dstIdx,
                            int32_t* dstLen, const uint8_t* dict, int32_t dictLen);

}  // namespace vek::lz4
