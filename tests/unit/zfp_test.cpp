// ZFP state, block encoder and block decoder: argument checks in order, the
// identifier word, defaults and sizes, hand-derived streams, fixed-rate
// sizes, buffer ends with guard bytes, hostile streams, accuracy of the
// modes, and the AVX2 kernels against the portable ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "core/cpu.h"
#include "forced_cpu_services.h"
#include "zfp_blocks.h"

namespace {

using namespace vek::testdata;
using Bytes = std::vector<uint8_t>;
constexpr uint8_t kGuard = 0xA5;

vekZfpState_32f fresh(uint8_t* buf, int32_t len) {
    vekZfpState_32f st;
    EXPECT_EQ(veksEncodeZfpInit_32f(buf, len, &st), vekStatusOk);
    return st;
}

int64_t bit_size(const vekZfpState_32f& st) {
    int64_t n = -1;
    EXPECT_EQ(veksEncodeZfpGetCompressedBitSize_32f(&st, &n), vekStatusOk);
    return n;
}

vekStatus set_params(const ZfpParams& p, vekZfpState_32f* st, bool encoder) {
    return (encoder ? veksEncodeZfpSet_32f : veksDecodeZfpSet_32f)(p.min_bits, p.max_bits,
                                                                   p.max_prec, p.min_exp, st);
}

// Bits the decoder has consumed so far.
int64_t bits_read(const vekZfpState_32f& st) {
    return 8 * (st.pCur - st.pStart) - st.bitCount;
}

TEST(ZfpState, SizesDefaultsAndChecks) {
    int32_t size = 0;
    EXPECT_EQ(veksEncodeZfpGetStateSize_32f(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZfpGetStateSize_32f(nullptr), vekStatusNullPtrErr);
    ASSERT_EQ(veksEncodeZfpGetStateSize_32f(&size), vekStatusOk);
    EXPECT_EQ(size, sizeof(void*) == 4 ? 560 : 568);
    size = 0;
    ASSERT_EQ(veksDecodeZfpGetStateSize_32f(&size), vekStatusOk);
    EXPECT_EQ(size_t(size), sizeof(vekZfpState_32f));

    uint8_t buf[64];
    vekZfpState_32f st, before;
    std::memset(&st, 0x5A, sizeof st);
    before = st;
    // Pointers first, then the length; nothing written on failure.
    EXPECT_EQ(veksEncodeZfpInit_32f(nullptr, 0, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZfpInit_32f(buf, 0, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZfpInit_32f(buf, 0, &st), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeZfpInit_32f(buf, -5, &st), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeZfpInitLong_32f(buf, 0, &st), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeZfpInit_32f(nullptr, 0, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZfpInit_32f(buf, 0, &st), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeZfpInitLong_32f(buf, 0, &st), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeZfpInitLong_32f(nullptr, 0, &st), vekStatusNullPtrErr);
    EXPECT_EQ(std::memcmp(&st, &before, sizeof st), 0);

    for (int variant = 0; variant < 4; ++variant) {
        std::memset(&st, 0x5A, sizeof st);
        vekStatus s = variant == 0   ? veksEncodeZfpInit_32f(buf, 64, &st)
                      : variant == 1 ? veksEncodeZfpInitLong_32f(buf, 64, &st)
                      : variant == 2 ? veksDecodeZfpInit_32f(buf, 64, &st)
                                     : veksDecodeZfpInitLong_32f(buf, 64, &st);
        ASSERT_EQ(s, vekStatusOk);
        EXPECT_EQ(std::make_tuple(st.idCtx, st.minBits, st.maxBits, st.maxPrec, st.minExp,
                                  st.bitCount, st.bitBuffer),
                  std::make_tuple(0x4B617398u, 0, 4171, 64, -10740, 0, uint64_t{0}))
            << variant;
        EXPECT_TRUE(st.pCur == buf && st.pStart == buf && st.pEnd == buf + 64) << variant;
    }
    // The 64-bit initialisers refuse only a length of 0; a negative one
    // wraps like an address and leaves a stream with no room.
    uint8_t guard[16];
    std::memset(guard, kGuard, sizeof guard);
    const float zeros[64] = {};
    for (int variant = 0; variant < 2; ++variant) {
        ASSERT_EQ(variant ? veksDecodeZfpInitLong_32f(guard + 8, -1, &st)
                          : veksEncodeZfpInitLong_32f(guard + 8, -1, &st),
                  vekStatusOk);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(st.pEnd), reinterpret_cast<uintptr_t>(guard + 7));
    }
    float out[64];
    EXPECT_EQ(veksDecodeZfp444_32f(&st, out, 16, 64), vekStatusOutOfRangeErr);
    ASSERT_EQ(veksEncodeZfp444_32f(zeros, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOutOfRangeErr);
    for (uint8_t b : guard) EXPECT_EQ(b, kGuard);

    ASSERT_EQ(veksEncodeZfpInit_32f(buf, 64, &st), vekStatusOk);
    EXPECT_EQ(veksEncodeZfpSet_32f(7, 900, 12, -3, &st), vekStatusOk);
    EXPECT_EQ(std::make_tuple(st.minBits, st.maxBits, st.maxPrec, st.minExp),
              std::make_tuple(7, 900, 12, -3));
    // Stored unchecked.
    EXPECT_EQ(veksDecodeZfpSet_32f(-1, -2, -3, INT32_MIN, &st), vekStatusOk);
    EXPECT_EQ(st.minExp, INT32_MIN);
    EXPECT_EQ(veksEncodeZfpSet_32f(0, 0, 0, 0, nullptr), vekStatusNullPtrErr);
}

// InitLong exists for streams of 2 GiB and more, also in the 32-bit build:
// positions past 2^31 bytes are room and sizes, never negative. Only the
// first bytes are touched here.
TEST(ZfpState, LongStreamsBeyondTwoGigabytes) {
    const int64_t len = int64_t(0x80000010);
    Bytes buf(64, 0);
    float ones[64];
    for (float& v : ones) v = 1.0f;
    vekZfpState_32f st;
    ASSERT_EQ(veksEncodeZfpInitLong_32f(buf.data(), len, &st), vekStatusOk);
    ASSERT_EQ(veksEncodeZfp444_32f(ones, 16, 64, &st), vekStatusOk);
    ASSERT_EQ(veksEncodeZfp444_32f(ones, 16, 64, &st), vekStatusOk);  // 146 bits: 2 words
    EXPECT_EQ(st.pCur, buf.data() + 16);
    ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
    EXPECT_EQ(st.pCur, buf.data() + 24);

    vekZfpState_32f ds;
    ASSERT_EQ(veksDecodeZfpInitLong_32f(buf.data(), len, &ds), vekStatusOk);
    float out[64];
    for (int b = 0; b < 2; ++b) {
        ASSERT_EQ(veksDecodeZfp444_32f(&ds, out, 16, 64), vekStatusOk) << b;
        for (float v : out) ASSERT_EQ(v, 1.0f);
    }
    EXPECT_EQ(bits_read(ds), 146);

    // Sizes of a stream 2^31 + 8 bytes long (the state is only read).
    st.pCur = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(st.pStart) + 0x80000008u);
    st.bitCount = 5;
    int64_t n64 = 0;
    ASSERT_EQ(veksEncodeZfpGetCompressedSizeLong_32f(&st, &n64), vekStatusOk);
    EXPECT_EQ(n64, int64_t(0x80000008));
    ASSERT_EQ(veksEncodeZfpGetCompressedBitSize_32f(&st, &n64), vekStatusOk);
    EXPECT_EQ(n64, 8 * int64_t(0x80000008) + 5);
    ASSERT_EQ(veksDecodeZfpGetDecompressedSizeLong_32f(&st, &n64), vekStatusOk);
    EXPECT_EQ(n64, int64_t(0x80000008));
}

TEST(ZfpState, AccuracyExponent) {
    uint8_t buf[8];
    vekZfpState_32f st = fresh(buf, 8);
    struct Case {
        double tol;
        int32_t exp;
    };
    const Case cases[] = {{0.001, -10},
                          {1.0, 0},
                          {3.0, 1},
                          {0.75, -1},
                          {1e10, 33},
                          {0.0, -10740},
                          {-1.0, -10740},
                          {std::nan(""), -10740},
                          {-std::numeric_limits<double>::infinity(), -10740},
                          {std::numeric_limits<double>::denorm_min(), -1023}};
    for (const Case& c : cases) {
        ASSERT_EQ(veksEncodeZfpSet_32f(3, 4, 5, 99, &st), vekStatusOk);
        ASSERT_EQ(veksEncodeZfpSetAccuracy_32f(c.tol, &st), vekStatusOk);
        EXPECT_EQ(st.minExp, c.exp) << c.tol;
        EXPECT_TRUE(st.minBits == 3 && st.maxBits == 4 && st.maxPrec == 5);
        ASSERT_EQ(veksDecodeZfpSetAccuracy_32f(c.tol, &st), vekStatusOk);
        EXPECT_EQ(st.minExp, c.exp) << c.tol;
    }
    EXPECT_EQ(veksEncodeZfpSetAccuracy_32f(1.0, nullptr), vekStatusNullPtrErr);
}

// Once the identifier word is overwritten every function but the
// initialisers and the size queries refuses the state and leaves it alone.
TEST(ZfpState, ClobberedIdentifierIsRefused) {
    uint8_t buf[64];
    float block[64] = {};
    vekZfpState_32f st = fresh(buf, 64);
    st.idCtx ^= 1;
    const vekZfpState_32f before = st;
    int32_t s32;
    int64_t s64;
    EXPECT_EQ(veksEncodeZfpSet_32f(0, 1, 2, 3, &st), vekStatusContextMismatchErr);
    EXPECT_EQ(veksDecodeZfpSet_32f(0, 1, 2, 3, &st), vekStatusContextMismatchErr);
    EXPECT_EQ(veksEncodeZfpSetAccuracy_32f(1.0, &st), vekStatusContextMismatchErr);
    EXPECT_EQ(veksDecodeZfpSetAccuracy_32f(1.0, &st), vekStatusContextMismatchErr);
    EXPECT_EQ(veksEncodeZfpGetCompressedSize_32f(&st, &s32), vekStatusContextMismatchErr);
    EXPECT_EQ(veksEncodeZfpGetCompressedSizeLong_32f(&st, &s64), vekStatusContextMismatchErr);
    EXPECT_EQ(veksEncodeZfpGetCompressedBitSize_32f(&st, &s64), vekStatusContextMismatchErr);
    EXPECT_EQ(veksDecodeZfpGetDecompressedSize_32f(&st, &s32), vekStatusContextMismatchErr);
    EXPECT_EQ(veksDecodeZfpGetDecompressedSizeLong_32f(&st, &s64), vekStatusContextMismatchErr);
    EXPECT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusContextMismatchErr);
    EXPECT_EQ(veksEncodeZfp444_32f(block, 16, 64, &st), vekStatusContextMismatchErr);
    EXPECT_EQ(veksDecodeZfp444_32f(&st, block, 16, 64), vekStatusContextMismatchErr);
    EXPECT_EQ(std::memcmp(&st, &before, sizeof st), 0);
    // Null pointers are reported before the identifier.
    EXPECT_EQ(veksEncodeZfpGetCompressedSize_32f(&st, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZfpGetCompressedSizeLong_32f(nullptr, &s64), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZfpGetCompressedBitSize_32f(&st, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZfpGetDecompressedSize_32f(nullptr, &s32), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZfpGetDecompressedSizeLong_32f(&st, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZfpFlush_32f(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZfp444_32f(nullptr, 16, 64, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZfp444_32f(block, 16, 64, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZfp444_32f(&st, nullptr, 16, 64), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZfp444_32f(nullptr, block, 16, 64), vekStatusNullPtrErr);
    // Init repairs it.
    ASSERT_EQ(veksEncodeZfpInit_32f(buf, 64, &st), vekStatusOk);
    EXPECT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
}

TEST(ZfpState, FlushAndBitSizes) {
    const float zeros[64] = {};
    for (int room : {64, 8, 3}) {
        Bytes buf(room + 4, kGuard);
        vekZfpState_32f st = fresh(buf.data(), room);
        EXPECT_EQ(bit_size(st), 0);
        ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);  // nothing pending
        EXPECT_EQ(st.pCur, buf.data());
        EXPECT_EQ(buf[0], kGuard);
        ASSERT_EQ(veksEncodeZfp444_32f(zeros, 16, 64, &st), vekStatusOk);
        EXPECT_EQ(bit_size(st), 1);
        ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
        int32_t n = -1;
        int64_t n64 = -1;
        ASSERT_EQ(veksEncodeZfpGetCompressedSize_32f(&st, &n), vekStatusOk);
        ASSERT_EQ(veksEncodeZfpGetCompressedSizeLong_32f(&st, &n64), vekStatusOk);
        const int want = room >= 8 ? 8 : 1;
        EXPECT_EQ(n, want);
        EXPECT_EQ(n64, want);
        for (int i = 0; i < want; ++i) EXPECT_EQ(buf[i], 0) << i;
        for (size_t i = want; i < buf.size(); ++i) EXPECT_EQ(buf[i], kGuard) << i;
        EXPECT_EQ(st.bitCount, 0);
    }
}

// Hand-derived streams.
TEST(ZfpEncode, KnownBlocks) {
    uint8_t buf[64];
    // 64 zeros: one 0 bit; with minBits 64, 64 zero bits.
    const float zeros[64] = {};
    vekZfpState_32f st = fresh(buf, 64);
    ASSERT_EQ(veksEncodeZfp444_32f(zeros, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 1);
    EXPECT_EQ(st.bitBuffer, 0u);
    std::memset(buf, 0xFF, sizeof buf);
    st = fresh(buf, 64);
    ASSERT_EQ(veksEncodeZfpSet_32f(64, 4171, 64, -10740, &st), vekStatusOk);
    ASSERT_EQ(veksEncodeZfp444_32f(zeros, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 64);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(buf[i], 0);

    // 64 copies of 1.0: emax 1, header 257; the integers 2^29 transform to a
    // lone first coefficient 2^29, negabinary 0x60000000 (bits 30 and 29).
    // Plane 31: group test 0. Plane 30: group 1, coefficient 0 is 1, group
    // 0. Plane 29: verbatim 1, group 0. Planes 28..0: verbatim 0, group 0.
    float ones[64];
    for (float& v : ones) v = 1.0f;
    st = fresh(buf, 64);
    ASSERT_EQ(veksEncodeZfp444_32f(ones, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 9 + 1 + 3 + 2 + 29 * 2);
    uint64_t word;
    std::memcpy(&word, buf, 8);
    EXPECT_EQ(word, 0x2D01u);  // bits 0, 8 (header), 10, 11, 13
    EXPECT_EQ(st.bitCount, 9);
    EXPECT_EQ(st.bitBuffer, 0u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(st.fBlock[i], 1.0f);
    EXPECT_EQ(st.iBlock[0], 1 << 29);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(st.iBlock[i], 0);
    ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
    std::vector<ZfpBlock> out;
    ASSERT_TRUE(zfp_decode(Bytes(buf, buf + 16), ZfpParams{}, 1, &out));
    for (float v : out[0].v) EXPECT_EQ(v, 1.0f);

    // One plane only: header and the first group test.
    st = fresh(buf, 64);
    ASSERT_EQ(veksEncodeZfpSet_32f(0, 4171, 1, -10740, &st), vekStatusOk);
    ASSERT_EQ(veksEncodeZfp444_32f(ones, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 10);
    // maxBits 9 codes the header alone, and padding fills up to minBits.
    st = fresh(buf, 64);
    ASSERT_EQ(veksEncodeZfpSet_32f(30, 9, 64, -10740, &st), vekStatusOk);
    ASSERT_EQ(veksEncodeZfp444_32f(ones, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 30);
    EXPECT_EQ(st.bitBuffer, 0x101u);
    // Largest magnitude below 2^(minExp - 8): prec 0, coded as all-zero.
    float small[64];
    for (float& v : small) v = 0.0038f;  // emax -8
    st = fresh(buf, 64);
    ASSERT_EQ(veksEncodeZfpSetAccuracy_32f(1.0, &st), vekStatusOk);  // minExp 0
    ASSERT_EQ(veksEncodeZfp444_32f(small, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 1);
    small[5] = 0.0039063f;  // just above 2^-8: emax -7, one plane
    ASSERT_EQ(veksEncodeZfp444_32f(small, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 1 + 9 + 1);
    EXPECT_EQ(st.bitBuffer >> 1 & 0x1FF, uint64_t(2 * -7 + 255));
}

// Only a precision of exactly 0 (or an all-zero block) makes the short
// all-zero code; a negative maxPrec still writes the header, codes no plane
// and pads, and the decoder reads it back as zeros.
TEST(ZfpEncode, NegativePrecisionKeepsTheHeader) {
    float ones[64];
    for (float& v : ones) v = 1.0f;
    uint8_t buf[64];
    for (int32_t min_bits : {0, 20}) {
        for (int32_t max_prec : {0, -1, -40}) {
            vekZfpState_32f st = fresh(buf, 64);
            ASSERT_EQ(veksEncodeZfpSet_32f(min_bits, 4171, max_prec, -10740, &st), vekStatusOk);
            ASSERT_EQ(veksEncodeZfp444_32f(ones, 16, 64, &st), vekStatusOk);
            const int64_t want =
                max_prec == 0 ? (min_bits > 1 ? min_bits : 1) : (min_bits > 9 ? min_bits : 9);
            EXPECT_EQ(bit_size(st), want) << min_bits << " " << max_prec;
            EXPECT_EQ(st.bitBuffer, max_prec == 0 ? 0u : 0x101u);  // 2 * 1 + 255
            ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);

            vekZfpState_32f ds;
            ASSERT_EQ(veksDecodeZfpInit_32f(buf, 8, &ds), vekStatusOk);
            ASSERT_EQ(veksDecodeZfpSet_32f(min_bits, 4171, max_prec, -10740, &ds), vekStatusOk);
            float out[64];
            std::fill(out, out + 64, 7.0f);
            ASSERT_EQ(veksDecodeZfp444_32f(&ds, out, 16, 64), vekStatusOk);
            EXPECT_EQ(bits_read(ds), want);
            for (float v : out) ASSERT_EQ(zfp_float_to_bits(v), 0u);
        }
    }
}

// The two ends of the exponent range, derived by hand.
TEST(ZfpEncode, ExtremeExponents) {
    uint8_t buf[64];
    float out[64];
    // 64 copies of the largest subnormal: emax -126 (header 3), scale capped
    // at 2^127, so every integer is 1 (1.99 truncated); the transform leaves a
    // lone first coefficient 1. Planes 31..1 are one 0 group bit each; plane 0
    // is group 1, coefficient 0 is 1, group 0. The factor is +0.0.
    float sub[64];
    for (float& v : sub) v = zfp_bits_to_float(0x007FFFFFu);
    vekZfpState_32f st = fresh(buf, 64);
    ASSERT_EQ(veksEncodeZfp444_32f(sub, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 9 + 31 + 3);
    EXPECT_EQ(st.bitBuffer, 3u | uint64_t(3) << 40);
    EXPECT_EQ(st.iBlock[0], 1);
    ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
    vekZfpState_32f ds;
    ASSERT_EQ(veksDecodeZfpInit_32f(buf, 8, &ds), vekStatusOk);
    std::fill(out, out + 64, 7.0f);
    ASSERT_EQ(veksDecodeZfp444_32f(&ds, out, 16, 64), vekStatusOk);
    EXPECT_EQ(bits_read(ds), 43);
    for (float v : out) ASSERT_EQ(zfp_float_to_bits(v), 0u);

    // 64 copies of the largest finite value: emax 128 (header 511), scale
    // 2^-98, integers 2^30 - 64, negabinary 0x400000C0 (bits 30, 7, 6).
    // Plane 31: group 0; plane 30: group 1, 1, group 0; planes 29..0: the
    // verbatim bit and group 0. 73 bits, and the value comes back exactly.
    float big[64];
    for (float& v : big) v = std::numeric_limits<float>::max();
    st = fresh(buf, 64);
    ASSERT_EQ(veksEncodeZfp444_32f(big, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(bit_size(st), 73);
    uint64_t word;
    std::memcpy(&word, buf, 8);
    EXPECT_EQ(word, 0x1FFu | 3u << 10 | uint64_t(5) << 57);
    EXPECT_EQ(st.bitBuffer, 0u);
    ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
    ASSERT_EQ(veksDecodeZfpInit_32f(buf, 16, &ds), vekStatusOk);
    ASSERT_EQ(veksDecodeZfp444_32f(&ds, out, 16, 64), vekStatusOk);
    EXPECT_EQ(bits_read(ds), 73);
    for (float v : out) ASSERT_EQ(v, std::numeric_limits<float>::max());
}

TEST(ZfpEncode, FixedRateBlocksHaveExactSize) {
    const std::vector<ZfpBlock> blocks = zfp_block_mix(11, 40);
    for (int rate : {1, 2, 5, 9, 16, 32, 40}) {
        const int bits = 64 * rate;
        Bytes buf(blocks.size() * bits / 8 + 16);
        vekZfpState_32f st = fresh(buf.data(), int32_t(buf.size()));
        ASSERT_EQ(veksEncodeZfpSet_32f(bits, bits, 64, -10740, &st), vekStatusOk);
        for (size_t i = 0; i < blocks.size(); ++i) {
            ASSERT_EQ(veksEncodeZfp444_32f(blocks[i].v, 16, 64, &st), vekStatusOk);
            ASSERT_EQ(bit_size(st), int64_t(bits) * int64_t(i + 1)) << rate;
        }
        ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
        vekZfpState_32f ds;
        ASSERT_EQ(veksDecodeZfpInit_32f(buf.data(), int32_t(blocks.size() * bits / 8), &ds),
                  vekStatusOk);
        ASSERT_EQ(veksDecodeZfpSet_32f(bits, bits, 64, -10740, &ds), vekStatusOk);
        float out[64];
        for (size_t i = 0; i < blocks.size(); ++i) {
            ASSERT_EQ(veksDecodeZfp444_32f(&ds, out, 16, 64), vekStatusOk);
            ASSERT_EQ(bits_read(ds), int64_t(bits) * int64_t(i + 1)) << rate;
        }
        EXPECT_EQ(veksDecodeZfp444_32f(&ds, out, 16, 64), vekStatusOutOfRangeErr);
    }
}

// A stream buffer of 8k + 3 bytes: the encoder never stores past it, the
// word that would cross the end fails, and Flush places the last bytes.
TEST(ZfpEncode, BufferEndWithGuards) {
    const std::vector<ZfpBlock> blocks = zfp_block_mix(12, 30);
    const Bytes full = zfp_encode(blocks, ZfpParams{});
    for (int k : {0, 1, 2, 7, 40}) {
        const int len = 8 * k + 3;
        Bytes buf(len + 16, kGuard);
        vekZfpState_32f st = fresh(buf.data(), len);
        vekStatus s = vekStatusOk;
        for (const ZfpBlock& b : blocks)
            if ((s = veksEncodeZfp444_32f(b.v, 16, 64, &st)) != vekStatusOk) break;
        ASSERT_EQ(s, vekStatusOutOfRangeErr);
        EXPECT_EQ(st.pCur, buf.data() + 8 * k);
        // A caller that goes on anyway is refused and changes nothing.
        const vekZfpState_32f failed = st;
        EXPECT_EQ(veksEncodeZfp444_32f(blocks[1].v, 16, 64, &st), vekStatusOutOfRangeErr);
        EXPECT_EQ(st.bitCount, failed.bitCount);
        EXPECT_EQ(st.bitBuffer, failed.bitBuffer);
        EXPECT_EQ(st.pCur, failed.pCur);
        EXPECT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOutOfRangeErr);
        EXPECT_EQ(st.pCur, buf.data() + len);
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + len, full.begin()));
        for (size_t i = len; i < buf.size(); ++i) ASSERT_EQ(buf[i], kGuard);
    }
    // A block of 148 bits fits 19 bytes: two words, then three single bytes.
    ZfpParams p{148, 148, 64, -10740};
    const Bytes ref = zfp_encode({blocks[0]}, p);
    Bytes buf(19 + 8, kGuard);
    vekZfpState_32f st = fresh(buf.data(), 19);
    ASSERT_EQ(veksEncodeZfpSet_32f(148, 148, 64, -10740, &st), vekStatusOk);
    ASSERT_EQ(veksEncodeZfp444_32f(blocks[0].v, 16, 64, &st), vekStatusOk);
    ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
    EXPECT_EQ(st.pCur, buf.data() + 19);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 19, ref.begin()));
    for (size_t i = 19; i < buf.size(); ++i) EXPECT_EQ(buf[i], kGuard);
    // ... and decodes from exactly those 19 bytes.
    std::vector<ZfpBlock> a, b;
    ASSERT_TRUE(zfp_decode(Bytes(buf.begin(), buf.begin() + 19), p, 1, &a));
    ASSERT_TRUE(zfp_decode(ref, p, 1, &b));
    EXPECT_EQ(std::memcmp(a[0].v, b[0].v, 256), 0);
}

TEST(ZfpDecode, StreamEnd) {
    // One 0 bit: 64 zeros, reader one bit (or minBits) further on.
    const uint8_t zero_byte[1] = {0};
    float out[64];
    for (int32_t min_bits : {0, 1, 8, 9}) {
        vekZfpState_32f st;
        ASSERT_EQ(veksDecodeZfpInit_32f(zero_byte, 1, &st), vekStatusOk);
        ASSERT_EQ(veksDecodeZfpSet_32f(min_bits, 4171, 64, -10740, &st), vekStatusOk);
        std::fill(out, out + 64, 7.0f);
        const vekStatus s = veksDecodeZfp444_32f(&st, out, 16, 64);
        for (float v : out) ASSERT_EQ(zfp_float_to_bits(v), 0u);  // written first
        if (min_bits <= 8) {
            ASSERT_EQ(s, vekStatusOk);
            EXPECT_EQ(bits_read(st), min_bits > 1 ? min_bits : 1);
            int32_t n = 0;
            ASSERT_EQ(veksDecodeZfpGetDecompressedSize_32f(&st, &n), vekStatusOk);
            EXPECT_EQ(n, 1);
        } else {
            EXPECT_EQ(s, vekStatusOutOfRangeErr);  // the padding runs past the end
        }
    }
    // Every cut of a real stream fails at the block it cuts, leaving that
    // block's destination untouched; earlier blocks decode unchanged.
    const std::vector<ZfpBlock> blocks = zfp_block_mix(13, 6);
    const Bytes full = zfp_encode(blocks, ZfpParams{});
    std::vector<ZfpBlock> ref;
    ASSERT_TRUE(zfp_decode(full, ZfpParams{}, blocks.size(), &ref));
    for (size_t cut = 1; cut < full.size(); cut += 3) {
        vekZfpState_32f st;
        ASSERT_EQ(veksDecodeZfpInit_32f(full.data(), int32_t(cut), &st), vekStatusOk);
        size_t i = 0;
        vekStatus s = vekStatusOk;
        for (; i < blocks.size(); ++i) {
            std::fill(out, out + 64, 7.0f);
            if ((s = veksDecodeZfp444_32f(&st, out, 16, 64)) != vekStatusOk) break;
            ASSERT_EQ(std::memcmp(out, ref[i].v, 256), 0);
        }
        if (i < blocks.size()) {
            EXPECT_EQ(s, vekStatusOutOfRangeErr);
            if (zfp_float_to_bits(ref[i].v[0]) || i == 0) {
                bool untouched = true;
                for (float v : out) untouched &= v == 7.0f;
                EXPECT_TRUE(untouched || (ref[i].v[0] == 0.0f)) << cut;
            }
        }
        EXPECT_LE(st.pCur, full.data() + cut);
    }
}

// Any bytes under any parameters decode without leaving the buffers (the
// sanitizers watch the reads; guards watch the strided destination), and
// both kernel sets agree.
TEST(ZfpDecode, HostileStreams) {
    std::mt19937 rng(14);
    for (int iter = 0; iter < 300; ++iter) {
        const size_t len = 1 + rng() % 300;
        Bytes src(len);
        for (auto& b : src) b = uint8_t(rng() & (iter % 3 ? 0xFF : 0x81));
        const ZfpParams p{int32_t(rng() % 400) - 50, int32_t(rng() % 3000) - 50,
                          int32_t(rng() % 70) - 3, int32_t(rng() % 400) - 200};
        std::vector<float> dst[2];
        vekStatus st_out[2];
        for (int path = 0; path < 2; ++path) {
            vek::core::testing::HiddenFeatures guard(path ? vek::core::kFeatureAvx2 : 0);
            dst[path].assign(6 * 4 * 4 * 2 + 16, -1.0f);  // step 6 floats, plane 24 floats
            vekZfpState_32f st;
            ASSERT_EQ(veksDecodeZfpInit_32f(src.data(), int32_t(len), &st), vekStatusOk);
            ASSERT_EQ(set_params(p, &st, false), vekStatusOk);
            vekStatus s = vekStatusOk;
            for (int b = 0; b < 4 && s == vekStatusOk; ++b)
                s = veksDecodeZfp444_32f(&st, dst[path].data() + 8, 24, 96);
            st_out[path] = s;
            EXPECT_TRUE(s == vekStatusOk || s == vekStatusOutOfRangeErr);
            EXPECT_GE(st.pCur, src.data());
            EXPECT_LE(st.pCur, src.data() + len);
            for (size_t i = 0; i < dst[path].size(); ++i) {
                const size_t o = i - 8;
                const bool inside = i >= 8 && o / 24 < 4 && o % 24 / 6 < 4 && o % 6 < 4;
                if (!inside) {
                    ASSERT_EQ(dst[path][i], -1.0f) << i;
                }
            }
        }
        EXPECT_EQ(st_out[0], st_out[1]);
        EXPECT_EQ(std::memcmp(dst[0].data(), dst[1].data(), dst[0].size() * 4), 0);
    }
}

// Far from the end of its buffer the decoder reads without end checks; near
// the end it checks every load. The same stream decoded from a buffer that
// ends with it and from one with plenty of room after it must give the same
// values and leave the state the same after every block (until the tight
// buffer's last few bytes, which are loaded one at a time).
TEST(ZfpDecode, ReadersAgreeOnStateAndValues) {
    const std::vector<ZfpBlock> blocks = zfp_block_mix(18, 40);
    for (const ZfpParams& p : std::vector<ZfpParams>{
             ZfpParams{}, {300, 300, 64, -10740}, {0, 4171, 9, -10740}, {40, 700, 20, -6}}) {
        const Bytes stream = zfp_encode(blocks, p);
        Bytes roomy = stream;
        roomy.resize(stream.size() + 4096, 0);
        vekZfpState_32f a, b;
        ASSERT_EQ(veksDecodeZfpInit_32f(stream.data(), int32_t(stream.size()), &a), vekStatusOk);
        ASSERT_EQ(veksDecodeZfpInit_32f(roomy.data(), int32_t(roomy.size()), &b), vekStatusOk);
        ASSERT_EQ(set_params(p, &a, false), vekStatusOk);
        ASSERT_EQ(set_params(p, &b, false), vekStatusOk);
        float va[64], vb[64];
        for (size_t i = 0; i < blocks.size(); ++i) {
            ASSERT_EQ(veksDecodeZfp444_32f(&a, va, 16, 64), vekStatusOk);
            ASSERT_EQ(veksDecodeZfp444_32f(&b, vb, 16, 64), vekStatusOk);
            ASSERT_EQ(std::memcmp(va, vb, sizeof va), 0) << i;
            if (a.pEnd - a.pCur >= 8) {
                ASSERT_EQ(a.pCur - a.pStart, b.pCur - b.pStart) << i;
                ASSERT_EQ(a.bitCount, b.bitCount) << i;
                ASSERT_EQ(a.bitBuffer, b.bitBuffer) << i;
            }
            ASSERT_EQ(bits_read(a), bits_read(b)) << i;
        }
    }
}

// Both kernel sets, strided and unaligned sources, NaNs and infinities
// included: the same streams and the same decoded bits.
TEST(ZfpKernels, PortableAndAvx2Agree) {
    if (!vek::core::get_feature(vek::core::kFeatureAvx2)) GTEST_SKIP() << "no AVX2";
    std::vector<ZfpBlock> blocks = zfp_block_mix(15, 50);
    std::mt19937 rng(16);
    for (int i = 0; i < 6; ++i) {
        ZfpBlock b = zfp_random_block(rng);
        b.v[rng() % 64] = i % 2 ? std::numeric_limits<float>::infinity() : std::nanf("");
        blocks.push_back(b);
    }
    // A strided copy: rows 7 floats apart plus one byte, planes 33 floats.
    const int32_t step = 7 * 4 + 1, plane = 33 * 4 + 2;
    Bytes strided(4 * plane + 64);
    const std::vector<ZfpParams> modes = {ZfpParams{},
                                          {256, 256, 64, -10740},
                                          {0, 4171, 12, -10740},
                                          {0, 4171, 64, -3},
                                          {50, 200, 30, -20}};
    for (const ZfpParams& p : modes) {
        Bytes stream[2];
        std::vector<ZfpBlock> dec[2];
        for (int path = 0; path < 2; ++path) {
            vek::core::testing::HiddenFeatures guard(path ? vek::core::kFeatureAvx2 : 0);
            stream[path].assign(blocks.size() * 600, 0);
            vekZfpState_32f st = fresh(stream[path].data(), int32_t(stream[path].size()));
            ASSERT_EQ(set_params(p, &st, true), vekStatusOk);
            for (const ZfpBlock& b : blocks) {
                for (int z = 0; z < 4; ++z)
                    for (int y = 0; y < 4; ++y)
                        std::memcpy(&strided[1 + z * plane + y * step], &b.v[16 * z + 4 * y], 16);
                ASSERT_EQ(veksEncodeZfp444_32f(reinterpret_cast<const float*>(&strided[1]), step,
                                               plane, &st),
                          vekStatusOk);
            }
            ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
            stream[path].resize(size_t(st.pCur - st.pStart));
            ASSERT_TRUE(zfp_decode(stream[path], p, blocks.size(), &dec[path]));
        }
        EXPECT_EQ(stream[0], stream[1]);
        for (size_t i = 0; i < blocks.size(); ++i)
            ASSERT_EQ(std::memcmp(dec[0][i].v, dec[1][i].v, 256), 0) << i;

        // The encoder leaves the same state on both paths after every block.
        {
            Bytes sbuf[2];
            vekZfpState_32f es[2];
            for (int path = 0; path < 2; ++path) {
                sbuf[path].assign(blocks.size() * 600, 0);
                // All-zero blocks leave iBlock alone: start both alike.
                std::memset(&es[path], 0xC3, sizeof es[path]);
                ASSERT_EQ(
                    veksEncodeZfpInit_32f(sbuf[path].data(), int32_t(sbuf[path].size()), &es[path]),
                    vekStatusOk);
                ASSERT_EQ(set_params(p, &es[path], true), vekStatusOk);
            }
            for (size_t i = 0; i < blocks.size(); ++i) {
                for (int path = 0; path < 2; ++path) {
                    vek::core::testing::HiddenFeatures guard(path ? vek::core::kFeatureAvx2 : 0);
                    ASSERT_EQ(veksEncodeZfp444_32f(blocks[i].v, 16, 64, &es[path]), vekStatusOk);
                }
                ASSERT_EQ(es[0].bitBuffer, es[1].bitBuffer) << i;
                ASSERT_EQ(es[0].bitCount, es[1].bitCount) << i;
                ASSERT_EQ(es[0].pCur - es[0].pStart, es[1].pCur - es[1].pStart) << i;
                ASSERT_EQ(std::memcmp(es[0].fBlock, es[1].fBlock, sizeof es[0].fBlock), 0) << i;
                ASSERT_EQ(std::memcmp(es[0].iBlock, es[1].iBlock, sizeof es[0].iBlock), 0) << i;
            }
        }

        // The decoder leaves the same state on both paths after every block,
        // whatever its working arrays held before: the block's values and
        // integers, the reader's position and word. (The first block is not
        // all-zero in any of these modes, so every field is written by then.)
        vekZfpState_32f ds[2];
        for (int path = 0; path < 2; ++path) {
            std::memset(&ds[path], path ? 0x3C : 0xC3, sizeof ds[path]);
            ASSERT_EQ(veksDecodeZfpInit_32f(stream[0].data(), int32_t(stream[0].size()), &ds[path]),
                      vekStatusOk);
            ASSERT_EQ(set_params(p, &ds[path], false), vekStatusOk);
        }
        for (size_t i = 0; i < blocks.size(); ++i) {
            float out[2][64];
            for (int path = 0; path < 2; ++path) {
                vek::core::testing::HiddenFeatures guard(path ? vek::core::kFeatureAvx2 : 0);
                ASSERT_EQ(veksDecodeZfp444_32f(&ds[path], out[path], 16, 64), vekStatusOk);
            }
            // Every field (not the i686 tail padding).
            const size_t used = offsetof(vekZfpState_32f, iBlock) + sizeof ds[0].iBlock;
            ASSERT_EQ(std::memcmp(&ds[0], &ds[1], used), 0) << i;
            ASSERT_EQ(std::memcmp(ds[0].fBlock, out[0], sizeof out[0]), 0) << i;
        }
    }
}

// Under any parameters, unusual ones included (negative or tiny budgets,
// minBits above maxBits, negative or huge precisions, extreme exponents), the
// decoder consumes exactly the bits the encoder wrote for each block, and a
// block the encoder coded as all-zero decodes to +0.0. (Finite values only:
// an infinity or NaN gives emax 129, which the 8-bit exponent field cannot
// hold, so outside the default minExp the two sides count planes
// differently for such a block.)
TEST(ZfpRoundTrip, AnyParametersKeepBothSidesInStep) {
    const std::vector<ZfpBlock> blocks = zfp_block_mix(21, 25);
    std::mt19937 rng(22);
    const int32_t picks[][8] = {{-20, 0, 1, 8, 9, 10, 64, 3000},
                                {-5, 0, 5, 9, 10, 40, 600, 4171},
                                {INT32_MIN, -7, -1, 0, 1, 13, 32, 64},
                                {INT32_MIN, -10740, -150, -30, 0, 20, 120, 300}};
    for (int iter = 0; iter < 40; ++iter) {
        const ZfpParams p{picks[0][rng() % 8], picks[1][rng() % 8], picks[2][rng() % 8],
                          picks[3][rng() % 8]};
        SCOPED_TRACE(testing::Message()
                     << p.min_bits << " " << p.max_bits << " " << p.max_prec << " " << p.min_exp);
        Bytes buf(blocks.size() * 600 + 8);
        vekZfpState_32f es = fresh(buf.data(), int32_t(buf.size()));
        ASSERT_EQ(set_params(p, &es, true), vekStatusOk);
        std::vector<int64_t> ends;
        for (const ZfpBlock& b : blocks) {
            ASSERT_EQ(veksEncodeZfp444_32f(b.v, 16, 64, &es), vekStatusOk);
            ends.push_back(bit_size(es));
        }
        ASSERT_EQ(veksEncodeZfpFlush_32f(&es), vekStatusOk);
        vekZfpState_32f ds;
        ASSERT_EQ(veksDecodeZfpInit_32f(buf.data(), int32_t(es.pCur - es.pStart), &ds),
                  vekStatusOk);
        ASSERT_EQ(set_params(p, &ds, false), vekStatusOk);
        int64_t start = 0;
        for (size_t i = 0; i < blocks.size(); ++i) {
            float out[64];
            ASSERT_EQ(veksDecodeZfp444_32f(&ds, out, 16, 64), vekStatusOk) << i;
            ASSERT_EQ(bits_read(ds), ends[i]) << i;
            // The first bit of each block is its nonzero flag.
            if (!(buf[start >> 3] >> (start & 7) & 1)) {
                for (float v : out) ASSERT_EQ(zfp_float_to_bits(v), 0u) << i;
            }
            start = ends[i];
        }
    }
}

double max_error(const std::vector<ZfpBlock>& a, const std::vector<ZfpBlock>& b) {
    double e = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int j = 0; j < 64; ++j) e = std::max(e, std::fabs(double(a[i].v[j]) - b[i].v[j]));
    return e;
}

TEST(ZfpRoundTrip, Accuracy) {
    std::mt19937 rng(17);
    std::vector<ZfpBlock> smooth, random;
    for (int i = 0; i < 40; ++i) {
        // Magnitudes up to 4, so that float spacing stays below the tolerances.
        ZfpBlock b = zfp_smooth_block(rng);
        float m = 0;
        for (float v : b.v) m = std::max(m, std::fabs(v));
        for (float& v : b.v) v = v / m * 3.9f;
        smooth.push_back(b);
        random.push_back(zfp_random_block(rng, -10, 6));
    }
    // Fixed accuracy: every value within the tolerance.
    for (double tol : {1e-4, 1e-2, 0.3, 10.0}) {
        for (const auto* set : {&smooth, &random}) {
            Bytes buf(set->size() * 600);
            vekZfpState_32f st = fresh(buf.data(), int32_t(buf.size()));
            ASSERT_EQ(veksEncodeZfpSetAccuracy_32f(tol, &st), vekStatusOk);
            for (const ZfpBlock& b : *set)
                ASSERT_EQ(veksEncodeZfp444_32f(b.v, 16, 64, &st), vekStatusOk);
            ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
            buf.resize(size_t(st.pCur - st.pStart));
            std::vector<ZfpBlock> out;
            ASSERT_TRUE(zfp_decode(buf, {0, 4171, 64, st.minExp}, set->size(), &out));
            EXPECT_LE(max_error(*set, out), tol) << tol;
        }
    }
    // Fixed precision: the error shrinks as planes are added.
    double last = 1e30;
    for (int prec : {4, 8, 12, 16, 20, 24}) {
        const ZfpParams p{0, 4171, prec, -10740};
        std::vector<ZfpBlock> out;
        ASSERT_TRUE(zfp_decode(zfp_encode(random, p), p, random.size(), &out));
        const double e = max_error(random, out);
        EXPECT_LT(e, last / 4) << prec;
        last = e;
    }
    // All planes on smooth data: within a few units of the quantum
    // 2^(emax - 30) (truncation plus the inverse transform's rounding), plus
    // the final rounding to float.
    std::vector<ZfpBlock> out;
    ASSERT_TRUE(zfp_decode(zfp_encode(smooth, ZfpParams{}), ZfpParams{}, smooth.size(), &out));
    for (size_t i = 0; i < smooth.size(); ++i) {
        float m = 0;
        for (float v : smooth[i].v) m = std::max(m, std::fabs(v));
        int e;
        std::frexp(m, &e);
        for (int j = 0; j < 64; ++j)
            ASSERT_LE(std::fabs(double(out[i].v[j]) - smooth[i].v[j]),
                      std::ldexp(8.0, e - 30) + std::ldexp(1.0, e - 24))
                << i << " " << j;
    }
    // A block below 2^-97 decodes to zeros.
    ZfpBlock tiny;
    for (float& v : tiny.v) v = std::ldexp(1.0f, -100);
    ASSERT_TRUE(zfp_decode(zfp_encode({tiny}, ZfpParams{}), ZfpParams{}, 1, &out));
    for (float v : out[0].v) EXPECT_EQ(zfp_float_to_bits(v), 0u);
}

}  // namespace
