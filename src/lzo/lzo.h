// LZO1X: the encoder state, the two matchers, the stream decoders and the
// chunked container.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::lzo {

// Matches reach back at most this far (the 16 <= t < 32 token's range).
inline constexpr uint32_t kMaxDistance = 49151;
inline constexpr uint32_t kStateBytes = 131096;

// The caller's vekLZOState_8u. The dictionary is scratch memory of one call:
// the single-probe matcher keeps 32768 input positions there and checks
// every one before use, the piecewise matcher keeps 16384 16-bit offsets in
// the first 32 KiB, all zero at the start of each piece, and a log of the
// entries it wrote in the next 16 KiB.
struct EncoderState {
    int32_t method;        // 0 (single probe) or 2 (piecewise)
    uint32_t reserved[4];  // kept for a chunked multi-threaded form; never written
    uint32_t pad;          // puts the dictionary on an 8-byte boundary
    uint32_t dict[32768];
};
static_assert(sizeof(EncoderState) == kStateBytes, "state size");

// Where a matcher left the stream: bytes written and the start of the
// literal run still pending (the caller writes it as the final run).
struct Progress {
    uint32_t written;
    uint32_t anchor;
};

// The matchers write tokens for src[0, n) into dst (capacity cap) up to the
// last match. They return false when a token would not fit; `*progress`
// then holds what was written before it.
bool encode_single_probe(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap, uint32_t* dict,
                         Progress* progress);
bool encode_piecewise(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap, uint16_t* table,
                      uint32_t* log_words, Progress* progress);

// The whole encoder behind veksEncodeLZO_8u (arguments already checked,
// srcLen >= 1, method 0 or 2).
vekStatus encode(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t* dst_len,
                 EncoderState* state);

// One LZO1X stream. The validating form checks every read, write and
// back-reference; the trusting form assumes a well-formed stream whose
// output fits *dst_len and checks only between tokens.
vekStatus decode_stream_safe(const uint8_t* src, uint32_t src_len, uint8_t* dst, uint32_t* dst_len);
vekStatus decode_stream_trusting(const uint8_t* src, uint32_t src_len, uint8_t* dst,
                                 uint32_t* dst_len);

// Entry logic shared by both decoders (arguments already checked): the
// end-marker-only stream, the chunked container, else one plain stream.
vekStatus decode(const uint8_t* src, uint32_t src_len, uint8_t* dst, uint32_t* dst_len,
                 bool trusting);

}  // namespace vek::lzo
