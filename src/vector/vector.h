// Array primitives shared by the codecs: fill, copy, move, search, clamp,
// shift, saturating add, index sort and bit-field copy.
//
// They follow the library's status convention although they are not
// exported: pointers are checked first (vekStatusNullPtrErr), then the length
// (below 1 gives vekStatusSizeErr), then anything particular to the function.
// When a check fails nothing is written. Lengths count elements, not bytes.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::vector {

// Fills. Large fills stream past the caches (see fill_copy.cpp); the bytes
// written do not depend on the path taken.
vekStatus zero_32s(int32_t* dst, int32_t len);
vekStatus zero_16s(int16_t* dst, int32_t len);
vekStatus set_8u(uint8_t val, uint8_t* dst, int32_t len);
vekStatus set_32s(int32_t val, int32_t* dst, int32_t len);

// Copies; the buffers must not overlap.
vekStatus copy_8u(const uint8_t* src, uint8_t* dst, int32_t len);
vekStatus copy_32s(const int32_t* src, int32_t* dst, int32_t len);

// Copy that allows overlap: the result is as if the whole source were read
// before anything is written.
vekStatus move_32s(const int32_t* src, int32_t* dst, int32_t len);

// Signed extremes.
vekStatus max_32s(const int32_t* src, int32_t len, int32_t* max);
vekStatus minmax_32s(const int32_t* src, int32_t len, int32_t* min, int32_t* max);

// Largest magnitude: the element with the largest bit pattern once its sign
// bit is cleared, returned without its sign. For ordinary numbers this is the
// largest absolute value; a NaN ranks above infinity (and among NaNs the
// largest payload wins), so any NaN in the input makes the result a NaN.
vekStatus maxabs_32f(const float* src, int32_t len, float* max_abs);

// Every element above `level` becomes `level`.
vekStatus threshold_gt_32s_i(int32_t* src_dst, int32_t len, int32_t level);

// Left shift discarding the bits shifted out. A shift above 31 zeroes the
// array through zero_32s (whose checks then decide the status) before
// anything else is looked at; a negative shift gives vekStatusShiftErr.
vekStatus lshiftc_32s_i(int32_t shift, int32_t* src_dst, int32_t len);

// dst[i] = src[i] + val, saturated to the int32 range. With a nonzero
// scale factor the exact sum is first scaled by 2^-scale_factor (a negative
// factor multiplies) and rounded to nearest, ties to even, then saturated.
// The codecs only pass 0.
vekStatus addc_32s_sfs(const int32_t* src, int32_t val, int32_t* dst, int32_t len,
                       int32_t scale_factor);

// Sorts `src_dst` ascending in place and writes to `dst_idx` the original
// position of each sorted element. Not stable: the Huffman length builders
// rely on exactly where equal keys end up, so the algorithm is fixed step by
// step (see sort_index.cpp) and must not be replaced by another sort.
vekStatus sort_index_ascend_32s_i(int32_t* src_dst, int32_t* dst_idx, int32_t len);

// Copies `len` bits. Bits are numbered from the least significant bit of
// each byte upwards and run on into the following bytes; only the low three
// bits of each offset are used (the pointers address the byte holding the
// first bit). Destination bits outside the copied range keep their values.
// A negative offset gives vekStatusSizeErr.
vekStatus copy_be_1u(const uint8_t* src, int32_t src_bit_offset, uint8_t* dst,
                     int32_t dst_bit_offset, int32_t len);

}  // namespace vek::vector
