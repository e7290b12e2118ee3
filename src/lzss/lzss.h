// Streaming LZSS codec: 9-bit literals (flag 1, byte) and 24-bit matches
// (flag 0, 15-bit distance, 8-bit length - 3) packed most significant bit
// first, over a 32 KB window. Both directions keep everything they need
// between calls in a vekLZSSState.
//
// Encoder state: area1 is the chain table (previous position with the same
// hash, indexed by position mod 32768), area2 the head table (latest position
// per hash), area3 a 64 KB copy of the stream history; pWindow + position
// addresses the window copy of a stream byte. Decoder state: the first
// 32 KB of area1 hold the last 32768 bytes produced.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::lzss {

constexpr int32_t kWindowSize = 32768;  // distances are below this
constexpr int32_t kMinMatch = 3;
constexpr int32_t kMaxMatch = 258;
constexpr int32_t kHashSize = 32768;
constexpr int32_t kEmptyEntry = -32768;  // at least kWindowSize behind any position
constexpr int32_t kEncoderWindowBytes = 65536;
constexpr int32_t kMaxCandidates = 16;
// The encoder shifts every stream position it keeps down by a multiple of
// kHashSize once a position reaches kRebaseAt, to just above kRebaseTo, so
// that positions never come near INT32_MAX however long a stream runs.
constexpr int32_t kRebaseAt = 1 << 30;
constexpr int32_t kRebaseTo = 1 << 20;

// Three tables of 256 values below 32768: T0, T1, T2 one after the other.
extern const int16_t kRandVec[768];

void encode_init(vekLZSSState* s);
// Arguments are checked by the caller: *src_len >= 1, *dst_len >= 1.
vekStatus encode(const uint8_t** src, int32_t* src_len, uint8_t** dst, int32_t* dst_len,
                 vekLZSSState* s);
// *dst_len >= 1.
vekStatus encode_flush(uint8_t** dst, int32_t* dst_len, vekLZSSState* s);

void decode_init(vekLZSSState* s);
// *dst_len >= 1; a negative *src_len counts as no input.
vekStatus decode(const uint8_t** src, int32_t* src_len, uint8_t** dst, int32_t* dst_len,
                 vekLZSSState* s);

}  // namespace vek::lzss
