// ZFP coding of 4x4x4 single-precision blocks: the block stream, the state
// helpers and the per-block kernels shared by the encoder and the decoder.
//
// A block is turned into 32 "plane words" (bit j of plane word k is bit k of
// the j-th coefficient in sequency order) before its bits are written, and
// the decoder collects the same 32 words before it rebuilds the values. The
// kernels on either side of the plane words come in a portable and an AVX2
// form with identical results; the bit coding itself is shared.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::zfp {

inline constexpr uint32_t kStateId = 0x4B617398u;
inline constexpr int32_t kDefaultMinBits = 0;
inline constexpr int32_t kDefaultMaxBits = 4171;
inline constexpr int32_t kDefaultMaxPrec = 64;
inline constexpr int32_t kDefaultMinExp = -10740;

// Sequency order: coefficient j of the coded order is block element kPerm[j];
// kPermDecode is its inverse.
inline constexpr uint8_t kPerm[64] = {
    0,  1,  4,  16, 20, 17, 5,  2,  8,  32, 21, 6,  18, 24, 9,  33, 36, 3,  12, 48, 22, 25,
    37, 40, 34, 10, 7,  19, 28, 13, 49, 52, 41, 38, 26, 23, 29, 53, 11, 35, 44, 14, 50, 56,
    42, 27, 39, 45, 30, 54, 57, 60, 51, 15, 43, 46, 58, 61, 55, 31, 62, 59, 47, 63};

inline constexpr uint8_t kPermDecode[64] = {
    0,  1,  7,  17, 2,  6,  11, 26, 8,  14, 25, 38, 18, 29, 41, 53, 3,  5,  12, 27, 4,  10,
    20, 35, 13, 21, 34, 45, 28, 36, 48, 59, 9,  15, 24, 39, 16, 22, 33, 46, 23, 32, 44, 54,
    40, 47, 55, 62, 19, 30, 42, 52, 31, 37, 49, 58, 43, 50, 56, 61, 51, 57, 60, 63};

// Block kernels. Element (x, y, z) of a block lives at byte offset
// z * plane_step + y * step + 4x of the caller's array and at index
// x + 4y + 16z of the 64-value block.
struct BlockKernels {
    void (*gather)(const float* src, int32_t step, int32_t plane_step, float* block);
    // Scales the block by `scale` (a power of two) truncating to integers,
    // applies the forward lifting transform, converts to negabinary in
    // sequency order and writes plane words kmin..31 to planes[k].
    void (*encode_planes)(const float* block, float scale, int32_t* iblock, uint64_t* planes,
                          int kmin);
    // Inverse of encode_planes: planes below kmin count as zero. The
    // integers go to iblock, the values multiplied by `factor` to `block`
    // (the state's copy of the block) and to the destination block.
    void (*decode_values)(const uint64_t* planes, int kmin, float factor, int32_t* iblock,
                          float* block, float* dst, int32_t step, int32_t plane_step);
    void (*scatter)(const float* block, float* dst, int32_t step, int32_t plane_step);
};

const BlockKernels& portable_kernels();
const BlockKernels& avx2_kernels();
// The kernels the processor supports, fastest first.
const BlockKernels& best_kernels();

// State set-up shared by both directions.
void init_state(vekZfpState_32f* s, const uint8_t* buf, uintptr_t len);
vekStatus flush(vekZfpState_32f* s);

// Block coders; the arguments have been checked.
vekStatus encode_block(const float* src, int32_t step, int32_t plane_step, vekZfpState_32f* s,
                       const BlockKernels& k);
vekStatus decode_block(vekZfpState_32f* s, float* dst, int32_t step, int32_t plane_step,
                       const BlockKernels& k);

// float <-> bit pattern.
inline float float_from_bits(uint32_t b) {
    float f;
    __builtin_memcpy(&f, &b, 4);
    return f;
}
inline uint32_t bits_from_float(float f) {
    uint32_t b;
    __builtin_memcpy(&b, &f, 4);
    return b;
}

}  // namespace vek::zfp
