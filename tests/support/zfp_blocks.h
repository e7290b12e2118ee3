// 4x4x4 float blocks for the ZFP tests, and helpers that run the library's
// block coders over a list of blocks with one set of parameters.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "vekdc.h"

namespace vek::testdata {

struct ZfpBlock {
    float v[64];
};

struct ZfpParams {
    int32_t min_bits = 0, max_bits = 4171, max_prec = 64, min_exp = -10740;
};

inline float zfp_bits_to_float(uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}
inline uint32_t zfp_float_to_bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

// Independent values with random signs, exponents spread over [lo, hi].
inline ZfpBlock zfp_random_block(std::mt19937& rng, int lo = -20, int hi = 20) {
    ZfpBlock b;
    std::uniform_real_distribution<float> m(1.0f, 2.0f);
    for (float& x : b.v) {
        x = std::ldexp(m(rng), lo + int(rng() % unsigned(hi - lo + 1)));
        if (rng() & 1) x = -x;
    }
    return b;
}

// A smooth field sampled on the block's grid, at a random scale and offset.
inline ZfpBlock zfp_smooth_block(std::mt19937& rng) {
    ZfpBlock b;
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const float a = u(rng), c = u(rng), d = u(rng), scale = std::ldexp(1.0f, int(rng() % 40) - 20);
    const float x0 = 10 * u(rng), y0 = 10 * u(rng), z0 = 10 * u(rng);
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                b.v[x + 4 * y + 16 * z] =
                    scale *
                    (std::sin(0.3f * (x + x0) * (1 + a)) + std::cos(0.2f * (y + y0) * (1 + c)) +
                     0.5f * std::sin(0.25f * (z + z0) * (1 + d)) + 0.01f * a * (x + y) * z);
    return b;
}

// Blocks at the edges of the float range (largest finite, exponent
// extremes, zeros and a few nonzero values, mixed sign and magnitude);
// the largest magnitude of each stays at or above 2^-96.
inline ZfpBlock zfp_extreme_block(std::mt19937& rng) {
    ZfpBlock b;
    const int kind = int(rng() % 6);
    for (int i = 0; i < 64; ++i) {
        const uint32_t r = rng();
        float x = 0;
        switch (kind) {
            case 0:
                x = zfp_bits_to_float(0x7F7FFFFFu - (r & 0xFFFF));
                break;  // near FLT_MAX
            case 1:
                x = std::ldexp(1.0f + (r & 0xFF) / 256.0f, -96 + int(r % 6));
                break;
            case 2:
                x = (r % 7 == 0) ? std::ldexp(1.5f, int(r % 200) - 96) : 0.0f;
                break;
            case 3:
                x = zfp_bits_to_float(r & 0x807FFFFFu);
                break;  // subnormals
            case 4:
                x = std::ldexp(1.0f, 127) * ((r & 1) ? 1.99f : -1.0f);
                break;
            default:
                x = (i == 0) ? 1e30f : zfp_bits_to_float(r & 0x80FFFFFFu);
                break;
        }
        if (rng() & 1) x = -x;
        b.v[i] = x;
    }
    if (kind == 3) b.v[rng() % 64] = std::ldexp(1.0f, -96);  // keep emax in range
    return b;
}

inline std::vector<ZfpBlock> zfp_block_mix(uint32_t seed, int n) {
    std::mt19937 rng(seed);
    std::vector<ZfpBlock> blocks;
    for (int i = 0; i < n; ++i) {
        switch (i % 5) {
            case 0:
                blocks.push_back(zfp_random_block(rng));
                break;
            case 1:
                blocks.push_back(zfp_smooth_block(rng));
                break;
            case 2:
                blocks.push_back(zfp_extreme_block(rng));
                break;
            case 3:
                blocks.push_back(zfp_random_block(rng, -90, 120));
                break;
            default: {
                ZfpBlock b{};
                if (rng() % 3) b = zfp_smooth_block(rng);
                if (rng() % 2) std::memset(b.v, 0, sizeof b.v);  // all zero
                blocks.push_back(b);
            }
        }
    }
    return blocks;
}

// Encodes the blocks (contiguous) and flushes; returns the stream, or an
// empty vector when a call fails.
inline std::vector<uint8_t> zfp_encode(const std::vector<ZfpBlock>& blocks, const ZfpParams& p,
                                       size_t cap = 0) {
    if (cap == 0) cap = blocks.size() * 600 + 64;
    std::vector<uint8_t> out(cap);
    vekZfpState_32f st;
    if (veksEncodeZfpInit_32f(out.data(), int32_t(cap), &st) != vekStatusOk) return {};
    if (veksEncodeZfpSet_32f(p.min_bits, p.max_bits, p.max_prec, p.min_exp, &st) != vekStatusOk)
        return {};
    for (const ZfpBlock& b : blocks)
        if (veksEncodeZfp444_32f(b.v, 16, 64, &st) != vekStatusOk) return {};
    int32_t size = 0;
    if (veksEncodeZfpFlush_32f(&st) != vekStatusOk ||
        veksEncodeZfpGetCompressedSize_32f(&st, &size) != vekStatusOk)
        return {};
    out.resize(size_t(size));
    return out;
}

// Decodes `count` blocks; returns false when a call fails.
inline bool zfp_decode(const std::vector<uint8_t>& stream, const ZfpParams& p, size_t count,
                       std::vector<ZfpBlock>* out) {
    vekZfpState_32f st;
    out->assign(count, ZfpBlock{});
    if (veksDecodeZfpInit_32f(stream.data(), int32_t(stream.size()), &st) != vekStatusOk)
        return false;
    if (veksDecodeZfpSet_32f(p.min_bits, p.max_bits, p.max_prec, p.min_exp, &st) != vekStatusOk)
        return false;
    for (ZfpBlock& b : *out)
        if (veksDecodeZfp444_32f(&st, b.v, 16, 64) != vekStatusOk) return false;
    return true;
}

}  // namespace vek::testdata
