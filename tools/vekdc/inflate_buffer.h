// One-shot decoding of a raw Deflate stream held wholly in memory into one
// output buffer: the way a caller with both buffers at hand uses the
// library's inflater. The output written so far is the history (dstIdx), so
// no window is needed and nothing is copied twice.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vekdc {

struct InflateBufferResult {
    enum Status { kOk, kTruncated, kCorrupt, kOutputFull } status;
    size_t in_used;  // stream bytes up to the end of the final block (kOk)
    size_t out_len;  // bytes decoded
};

InflateBufferResult inflate_buffer(const uint8_t* src, size_t n, uint8_t* dst, size_t cap);

}  // namespace vekdc
