// The SSE4.2 CRC32 instruction over a 64-bit word (two 32-bit steps on i686).
#pragma once
#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include "core/load.h"

namespace vek::checksum {

inline uint32_t crc32c_u64(uint32_t r, uint64_t v) {
#if defined(__x86_64__)
    return static_cast<uint32_t>(_mm_crc32_u64(r, v));
#else
    r = _mm_crc32_u32(r, static_cast<uint32_t>(v));
    return _mm_crc32_u32(r, static_cast<uint32_t>(v >> 32));
#endif
}

}  // namespace vek::checksum
