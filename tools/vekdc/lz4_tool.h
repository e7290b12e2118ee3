// Build switches and constants shared by the tool's LZ4 frame format and its
// LZ4 benchmark rows.
#pragma once

#include <cstdint>

// VEKDC_TOOL_HAVE_LZ4HC: 1 when the library exports the high-compression
// encoder (veksEncodeLZ4HC_8u and its table functions). With 0 the tool
// builds against a library without it: compress levels above 1 are refused
// and the benchmark leaves out the LZ4HC rows. Set by the CMake option of the
// same name.
#ifndef VEKDC_TOOL_HAVE_LZ4HC
#define VEKDC_TOOL_HAVE_LZ4HC 1
#endif

namespace vekdc {

// Largest LZ4 block for n input bytes (an incompressible block grows by one
// length byte per 255 literals plus a token).
constexpr int64_t lz4_block_bound(int64_t n) {
    return n + n / 255 + 16;
}

// Matches reach back at most this far.
constexpr int32_t kLz4Window = 65536;

}  // namespace vekdc
