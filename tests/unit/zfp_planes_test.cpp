// ZFP decoder bit planes against a plain model that reads the block format one
// bit at a time: random streams shaped like blocks (few or many new
// coefficients per plane, short runs or runs longer than any register),
// decoded with plenty of room after them, must give the model's values and
// consume exactly the model's bits, block after block, in every mode.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/cpu.h"
#include "test_data.h"
#include "forced_cpu_services.h"
#include "zfp/zfp_internal.h"
#include "zfp_blocks.h"

namespace {

using vek::testdata::ZfpParams;

// Reads the block format one bit at a time and writes the stream it reads as
// it goes: each bit is drawn when first asked for, with a probability chosen
// by its role, so that the streams take the shapes real blocks take.
struct ModelStream {
    std::mt19937& rng;
    double group_one, run_one;  // chance of a 1 in a group test, in a run
    std::vector<uint8_t> bytes;
    uint64_t size = 0;  // bits written
    uint64_t pos = 0;   // bits read

    uint64_t draw(double one) { return std::uniform_real_distribution<double>(0, 1)(rng) < one; }
    void put(uint64_t b) {
        if (size % 8 == 0) bytes.push_back(0);
        bytes.back() |= uint8_t(b << (size % 8));
        ++size;
    }
    uint64_t bit(double one) {
        if (pos == size) put(draw(one));
        return (bytes[pos >> 3] >> (pos & 7)) & 1;
    }
    uint64_t next(double one) {
        const uint64_t b = bit(one);
        ++pos;
        return b;
    }
    void skip_to(uint64_t at) {
        while (size < at) put(draw(0.5));
        pos = at;
    }
};

// One block: the 64 values it decodes to (through the portable kernels, which
// have their own tests) after reading its bits from `r`.
void model_block(ModelStream& r, const ZfpParams& p, float* out) {
    const uint64_t start = r.pos;
    if (!r.next(0.95)) {
        std::memset(out, 0, 64 * sizeof(float));
        if (p.min_bits > 1) r.skip_to(start + p.min_bits);
        return;
    }
    // Exponents around the bounds of the accuracy modes.
    const int e_drawn = 100 + int(r.rng() % 60);
    int e = 0;
    for (int i = 0; i < 8; ++i) e |= static_cast<int>(r.next((e_drawn >> i) & 1)) << i;
    int64_t prec = int64_t(e) - 127 - p.min_exp + 8;
    if (prec > p.max_prec) prec = p.max_prec;
    const int kmin = prec >= 32 ? 0 : prec <= 0 ? 32 : 32 - static_cast<int>(prec);
    uint64_t planes[32] = {};
    int64_t bits = int64_t(p.max_bits) - 9;
    int n = 0;
    for (int k = 31; k >= kmin && bits > 0; --k) {
        const int m = static_cast<int>(n < bits ? n : bits);
        bits -= m;
        uint64_t x = 0;
        for (int i = 0; i < m; ++i) x |= r.next(0.5) << i;
        while (n < 64 && bits > 0) {
            --bits;
            if (!r.next(r.group_one)) break;
            while (n < 63 && bits > 0) {
                --bits;
                if (r.next(r.run_one)) break;
                ++n;
            }
            x |= uint64_t(1) << n;
            ++n;
        }
        planes[k] = x;
    }
    if (r.pos - start < uint64_t(int64_t(p.min_bits))) r.skip_to(start + p.min_bits);
    const int fe = e - 30;
    uint32_t fb = fe > 0 ? uint32_t(fe) << 23 : 0;
    float factor;
    std::memcpy(&factor, &fb, 4);
    int32_t iblock[64];
    float scratch[64];
    vek::zfp::portable_kernels().decode_values(planes, kmin, factor, iblock, scratch, out, 16, 64);
}

TEST(ZfpPlanes, FormatShapedStreamsFollowTheModel) {
    const int kBlocks = vek::testdata::kSanitized ? 60 : 400;
    const ZfpParams params[] = {{0, 4171, 64, -10740},    {0, 4171, 16, -10740},
                                {0, 4171, 64, -10},       {512, 512, 64, -10740},
                                {1024, 1024, 64, -10740}, {40, 700, 20, -6},
                                {0, 2400, 64, -10740},    {2560, 2560, 64, -10740}};
    // Group tests and runs: balanced, few new coefficients, long runs (past
    // any window), many coefficients at once, and rare long runs.
    const double shapes[][2] = {{0.5, 0.5}, {0.3, 0.125}, {0.5, 1.0 / 64},
                                {0.9, 0.3}, {0.2, 0.01},  {0.6, 0.05}};
    std::mt19937 rng(31);
    for (const auto& shape : shapes) {
        for (const ZfpParams& p : params) {
            ModelStream model{rng, shape[0], shape[1], {}};
            float values[64];
            for (int b = 0; b < kBlocks; ++b) model_block(model, p, values);
            // Random bytes after the stream: room for the unchecked reader.
            model.skip_to(model.size + 8 * 4096);
            const std::vector<uint8_t>& src = model.bytes;
            for (int path = 0; path < 2; ++path) {
                vek::core::testing::HiddenFeatures guard(path ? vek::core::kFeatureAvx2 : 0);
                vekZfpState_32f st;
                ASSERT_EQ(veksDecodeZfpInit_32f(src.data(), int32_t(src.size()), &st), vekStatusOk);
                ASSERT_EQ(veksDecodeZfpSet_32f(p.min_bits, p.max_bits, p.max_prec, p.min_exp, &st),
                          vekStatusOk);
                ModelStream replay{rng, 0, 0, src, 8 * src.size()};
                for (int b = 0; b < kBlocks; ++b) {
                    float want[64], got[64];
                    model_block(replay, p, want);
                    ASSERT_EQ(veksDecodeZfp444_32f(&st, got, 16, 64), vekStatusOk);
                    ASSERT_EQ(8 * (st.pCur - st.pStart) - st.bitCount, int64_t(replay.pos))
                        << shape[0] << " " << shape[1] << " " << p.max_bits << " block " << b;
                    ASSERT_EQ(std::memcmp(want, got, sizeof got), 0)
                        << shape[0] << " " << shape[1] << " " << p.max_bits << " block " << b;
                }
            }
        }
    }
}

}  // namespace
