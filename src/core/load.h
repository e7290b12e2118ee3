// Unaligned little-endian loads (x86 is little-endian; memcpy compiles to
// one move).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vek {

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Copies exactly n < 16 bytes between non-overlapping buffers: two
// overlapping 8- or 4-byte moves, bytes one by one below 4.
inline void copy_under16(uint8_t* dst, const uint8_t* src, size_t n) {
    if (n >= 8) {
        const uint64_t a = load64(src), b = load64(src + n - 8);
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + n - 8, &b, 8);
    } else if (n >= 4) {
        const uint32_t a = load32(src), b = load32(src + n - 4);
        std::memcpy(dst, &a, 4);
        std::memcpy(dst + n - 4, &b, 4);
    } else {
        for (size_t i = 0; i < n; ++i) dst[i] = src[i];
    }
}

}  // namespace vek
