// ZFP encoder against a plain model that writes the block format one bit at a
// time, straight from the block rules (maximum, exponent, precision, scaling,
// lifting, negabinary, group tests, budget and padding), under parameter
// combinations the peer library cannot be asked for: budgets below the
// header, minBits above maxBits, negative and zero precisions, exponent
// bounds at the ends of the range. Streams of several blocks, so each block
// starts at a different bit of the word, on both kernel sets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "core/cpu.h"
#include "forced_cpu_services.h"
#include "zfp_blocks.h"

namespace {

using vek::testdata::ZfpBlock;
using vek::testdata::ZfpParams;

constexpr uint8_t kOrder[64] = {0,  1,  4,  16, 20, 17, 5,  2,  8,  32, 21, 6,  18, 24, 9,  33,
                                36, 3,  12, 48, 22, 25, 37, 40, 34, 10, 7,  19, 28, 13, 49, 52,
                                41, 38, 26, 23, 29, 53, 11, 35, 44, 14, 50, 56, 42, 27, 39, 45,
                                30, 54, 57, 60, 51, 15, 43, 46, 58, 61, 55, 31, 62, 59, 47, 63};

struct Bits {
    std::vector<uint8_t> b;
    void put(uint64_t v, int64_t n) {
        for (int64_t i = 0; i < n; ++i) b.push_back(i < 64 ? (v >> i) & 1 : 0);
    }
};

void lift(int32_t* q, int s) {
    auto add = [](int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); };
    auto sub = [](int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); };
    int32_t p0 = q[0], p1 = q[s], p2 = q[2 * s], p3 = q[3 * s];
    p0 = add(p0, p3) >> 1, p3 = sub(p3, p0);
    p2 = add(p2, p1) >> 1, p1 = sub(p1, p2);
    p0 = add(p0, p2) >> 1, p2 = sub(p2, p0);
    p3 = add(p3, p1) >> 1, p1 = sub(p1, p3);
    p3 = add(p3, p1 >> 1), p1 = sub(p1, p3 >> 1);
    q[0] = p0, q[s] = p1, q[2 * s] = p2, q[3 * s] = p3;
}

void model_block(const float* f, const ZfpParams& p, Bits& w) {
    float maxabs = 0;
    for (int i = 0; i < 64; ++i) maxabs = std::max(maxabs, std::fabs(f[i]));
    const int emax = maxabs > 0 ? int(vek::testdata::zfp_float_to_bits(maxabs) >> 23) - 126 : -127;
    const int64_t prec =
        std::min<int64_t>(p.max_prec, std::max<int64_t>(0, int64_t(emax) - p.min_exp + 8));
    if (prec == 0 || emax == -127) {
        w.put(0, 1);
        if (p.min_bits > 1) w.put(0, p.min_bits - 1);
        return;
    }
    w.put(uint64_t(2 * emax + 255), 9);
    const float s = std::ldexp(1.0f, std::min(157 - emax, 254) - 127);
    int32_t v[64];
    for (int i = 0; i < 64; ++i) v[i] = int32_t(f[i] * s);  // finite blocks: always in range
    for (int i = 0; i < 16; ++i) lift(v + 4 * i, 1);
    for (int z = 0; z < 4; ++z)
        for (int x = 0; x < 4; ++x) lift(v + 16 * z + x, 4);
    for (int i = 0; i < 16; ++i) lift(v + i, 16);
    uint32_t u[64];
    for (int j = 0; j < 64; ++j) u[j] = (uint32_t(v[kOrder[j]]) + 0xAAAAAAAAu) ^ 0xAAAAAAAAu;
    int64_t bits = int64_t(p.max_bits) - 9, used = 0;
    int n = 0;
    for (int64_t k = 31; bits > 0 && k >= std::max<int64_t>(0, 32 - prec); --k) {
        uint64_t x = 0;
        for (int j = 0; j < 64; ++j) x |= uint64_t(u[j] >> k & 1) << j;
        const int64_t m = std::min<int64_t>(n, bits);
        for (int64_t i = 0; i < m; ++i, x >>= 1) w.put(x & 1, 1);
        bits -= m, used += m;
        while (n < 64 && bits > 0) {
            --bits, ++used;
            w.put(x != 0, 1);
            if (!x) break;
            while (n < 63 && bits > 0) {
                --bits, ++used;
                w.put(x & 1, 1);
                if (x & 1) break;
                x >>= 1, ++n;
            }
            x >>= 1, ++n;
        }
    }
    if (used < int64_t(p.min_bits) - 9) w.put(0, int64_t(p.min_bits) - 9 - used);
}

TEST(ZfpEncode, UnusualParametersFollowAPlainModel) {
    const std::vector<ZfpBlock> blocks = vek::testdata::zfp_block_mix(41, 30);
    std::mt19937 rng(42);
    const int32_t picks[][8] = {{-3, 0, 1, 2, 9, 10, 200, 900},
                                {-1, 0, 3, 9, 10, 11, 77, 640},
                                {INT32_MIN, -4, -1, 0, 1, 2, 31, 33},
                                {INT32_MIN, -10740, -200, -40, -8, 0, 17, INT32_MAX}};
    for (int iter = 0; iter < 60; ++iter) {
        const ZfpParams p{picks[0][rng() % 8], picks[1][rng() % 8], picks[2][rng() % 8],
                          picks[3][rng() % 8]};
        SCOPED_TRACE(testing::Message()
                     << p.min_bits << " " << p.max_bits << " " << p.max_prec << " " << p.min_exp);
        Bits model;
        std::vector<int64_t> ends;
        for (const ZfpBlock& b : blocks) {
            model_block(b.v, p, model);
            ends.push_back(int64_t(model.b.size()));
        }
        std::vector<uint8_t> want((model.b.size() + 7) / 8);
        for (size_t i = 0; i < model.b.size(); ++i) want[i / 8] |= uint8_t(model.b[i] << (i % 8));
        for (uint64_t hide : {uint64_t(0), vek::core::kFeatureAvx2 | vek::core::kFeatureAvx512}) {
            vek::core::testing::HiddenFeatures guard(hide);
            std::vector<uint8_t> buf(want.size() + 16, 0x5C);
            vekZfpState_32f s;
            ASSERT_EQ(veksEncodeZfpInit_32f(buf.data(), int32_t(buf.size()), &s), vekStatusOk);
            ASSERT_EQ(veksEncodeZfpSet_32f(p.min_bits, p.max_bits, p.max_prec, p.min_exp, &s),
                      vekStatusOk);
            for (size_t i = 0; i < blocks.size(); ++i) {
                ASSERT_EQ(veksEncodeZfp444_32f(blocks[i].v, 16, 64, &s), vekStatusOk) << i;
                int64_t at = -1;
                ASSERT_EQ(veksEncodeZfpGetCompressedBitSize_32f(&s, &at), vekStatusOk);
                ASSERT_EQ(at, ends[i]) << "block " << i << " hidden " << hide;
            }
            ASSERT_EQ(veksEncodeZfpFlush_32f(&s), vekStatusOk);
            buf.resize(want.size());
            ASSERT_EQ(buf, want) << "hidden " << hide;
        }
    }
}

}  // namespace
