// Broadcasting a short period for overlapping match copies: shuffle masks
// that repeat the first d bytes over a 16-byte vector (d = 1..15), and the
// largest multiple of d within 16 bytes, the stride at which that one
// vector can be stored again and again. Shared by the LZ4, LZO1X and
// Deflate decoders.
#pragma once
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace vek::core {

struct RepeatPatterns {
    alignas(16) uint8_t mask[16][16];
    uint8_t stride[16];
};

constexpr RepeatPatterns make_repeat_patterns() {
    RepeatPatterns t{};
    for (int d = 1; d < 16; ++d) {
        for (int i = 0; i < 16; ++i) t.mask[d][i] = static_cast<uint8_t>(i % d);
        t.stride[d] = static_cast<uint8_t>(16 / d * d);
    }
    return t;
}

inline constexpr RepeatPatterns kRepeatPatterns = make_repeat_patterns();

// 16 bytes repeating the d bytes at src; reads src..src+15.
inline __m128i repeat16(const uint8_t* src, size_t d) {
    return _mm_shuffle_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)),
        _mm_load_si128(reinterpret_cast<const __m128i*>(kRepeatPatterns.mask[d])));
}

inline size_t repeat_stride(size_t d) {
    return kRepeatPatterns.stride[d];
}

}  // namespace vek::core
