// Run-length stage of the block-sorting compressor and the symbol
// dictionary: a run of 4..259 equal bytes b is written b b b b (count - 4).
// Both directions keep their progress in a vekRLEState_BZ2 so that input
// and output may arrive in pieces.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::bwt {

// Encodes from *src (*src_len bytes) into dst (*dst_len bytes of room).
// On return *src has advanced past the bytes consumed, *src_len holds the
// bytes left and *dst_len the bytes written. A run still open when the
// source ends stays in the state (the flush closes it).
void rle_encode(const uint8_t** src, int32_t* src_len, uint8_t* dst, int32_t* dst_len,
                vekRLEState_BZ2* state);

// Byte-at-a-time twin of rle_encode, the model the fast loop must match.
void rle_encode_portable(const uint8_t** src, int32_t* src_len, uint8_t* dst, int32_t* dst_len,
                         vekRLEState_BZ2* state);

// Writes the count byte of an open run (runLength >= 4); returns the bytes
// written (0 or 1). dst must have room for one byte.
int32_t rle_encode_flush(uint8_t* dst, vekRLEState_BZ2* state);

// Decodes; both pointers advance and both lengths shrink by what was
// consumed and written. Returns vekStatusOk or vekStatusDstTooSmall.
vekStatus rle_decode(const uint8_t** src, int32_t* src_len, uint8_t** dst, int32_t* dst_len,
                     vekRLEState_BZ2* state);

// Writes the copies still owed, as many as fit.
vekStatus rle_decode_flush(vekRLEState_BZ2* state, uint8_t** dst, int32_t* dst_len);

// Copies the encoder's in-use table; a forward byte copy when the areas overlap.
void rle_in_use_table(uint8_t* in_use, const vekRLEState_BZ2* state);

// In-place alphabet compaction and its inverse. expand returns
// vekStatusBadDataErr (nothing written) when the table does not hold
// size_dictionary symbols.
int32_t reduce_dictionary(const uint8_t* in_use, uint8_t* data, int32_t len);
vekStatus expand_dictionary(const uint8_t* in_use, uint8_t* data, int32_t len,
                            int32_t size_dictionary);

}  // namespace vek::bwt
