// Portable block kernels: gather and scatter, scaling, the lifting
// transforms, negabinary conversion and the plane words, one element at a
// time. The AVX2 kernels must give the same bits.
#include <cstring>

#include "zfp/zfp_internal.h"

namespace vek::zfp {

namespace {

constexpr uint32_t kNega = 0xAAAAAAAAu;

// Arithmetic shift right of a 32-bit pattern.
inline uint32_t asr(uint32_t v, int s) {
    return static_cast<uint32_t>(static_cast<int32_t>(v) >> s);
}

// Truncation toward zero as the vector conversion does it: out-of-range
// values and NaNs give INT32_MIN.
inline int32_t truncate(float v) {
    if (v >= -2147483648.0f && v < 2147483648.0f) return static_cast<int32_t>(v);
    return INT32_MIN;
}

// All arithmetic wraps modulo 2^32.
void forward_lift(uint32_t* p, int s) {
    uint32_t x = p[0], y = p[s], z = p[2 * s], w = p[3 * s];
    x += w;
    x = asr(x, 1);
    w -= x;
    z += y;
    z = asr(z, 1);
    y -= z;
    x += z;
    x = asr(x, 1);
    z -= x;
    w += y;
    w = asr(w, 1);
    y -= w;
    w += asr(y, 1);
    y -= asr(w, 1);
    p[0] = x;
    p[s] = y;
    p[2 * s] = z;
    p[3 * s] = w;
}

void inverse_lift(uint32_t* p, int s) {
    uint32_t x = p[0], y = p[s], z = p[2 * s], w = p[3 * s];
    y += asr(w, 1);
    w -= asr(y, 1);
    y += w;
    w <<= 1;
    w -= y;
    z += x;
    x <<= 1;
    x -= z;
    y += z;
    z <<= 1;
    z -= y;
    w += x;
    x <<= 1;
    x -= w;
    p[0] = x;
    p[s] = y;
    p[2 * s] = z;
    p[3 * s] = w;
}

const uint8_t* element(const float* base, int32_t step, int32_t plane_step, int y, int z) {
    return reinterpret_cast<const uint8_t*>(base) + static_cast<intptr_t>(z) * plane_step +
           static_cast<intptr_t>(y) * step;
}

void gather(const float* src, int32_t step, int32_t plane_step, float* block) {
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; ++y)
            std::memcpy(block + 16 * z + 4 * y, element(src, step, plane_step, y, z), 16);
}

void scatter(const float* block, float* dst, int32_t step, int32_t plane_step) {
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; ++y)
            std::memcpy(const_cast<uint8_t*>(element(dst, step, plane_step, y, z)),
                        block + 16 * z + 4 * y, 16);
}

void encode_planes(const float* block, float scale, int32_t* iblock, uint64_t* planes, int kmin) {
    uint32_t v[64];
    for (int i = 0; i < 64; ++i) v[i] = static_cast<uint32_t>(truncate(block[i] * scale));
    for (int i = 0; i < 16; ++i) forward_lift(v + 4 * i, 1);  // x
    for (int z = 0; z < 4; ++z)
        for (int x = 0; x < 4; ++x) forward_lift(v + 16 * z + x, 4);  // y
    for (int i = 0; i < 16; ++i) forward_lift(v + i, 16);             // z
    std::memcpy(iblock, v, sizeof v);
    uint32_t u[64];
    for (int j = 0; j < 64; ++j) u[j] = (v[kPerm[j]] + kNega) ^ kNega;
    for (int k = kmin; k < 32; ++k) {
        uint64_t w = 0;
        for (int j = 0; j < 64; ++j) w |= static_cast<uint64_t>((u[j] >> k) & 1) << j;
        planes[k] = w;
    }
}

void decode_values(const uint64_t* planes, int kmin, float factor, int32_t* iblock, float* block,
                   float* dst, int32_t step, int32_t plane_step) {
    uint32_t u[64] = {};
    for (int k = kmin; k < 32; ++k)
        for (int j = 0; j < 64; ++j) u[j] |= static_cast<uint32_t>((planes[k] >> j) & 1) << k;
    uint32_t v[64];
    for (int i = 0; i < 64; ++i) v[i] = (u[kPermDecode[i]] ^ kNega) - kNega;
    for (int i = 0; i < 16; ++i) inverse_lift(v + i, 16);  // z
    for (int z = 0; z < 4; ++z)
        for (int x = 0; x < 4; ++x) inverse_lift(v + 16 * z + x, 4);  // y
    for (int i = 0; i < 16; ++i) inverse_lift(v + 4 * i, 1);          // x
    std::memcpy(iblock, v, sizeof v);
    for (int i = 0; i < 64; ++i) {
        const float f = static_cast<float>(static_cast<int32_t>(v[i]));
        block[i] = f * factor;
    }
    scatter(block, dst, step, plane_step);
}

}  // namespace

const BlockKernels& portable_kernels() {
    static const BlockKernels k = {gather, encode_planes, decode_values, scatter};
    return k;
}

}  // namespace vek::zfp
