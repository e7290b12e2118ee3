// Checksums: fixed values, argument checks, every processor path against a
// bytewise reference at all alignments, and streaming in pieces.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "checksum/checksum.h"
#include "checksum/crc_tables.h"
#include "core/cpu.h"
#include "forced_cpu_services.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using namespace vek::checksum;
using vek::core::get_feature;
using PathFn = uint32_t (*)(const uint8_t*, size_t, uint32_t);

// Bit-at-a-time definitions, independent of every table.
uint32_t ref_crc32(const uint8_t* p, size_t n, uint32_t crc) {
    uint32_t r = ~crc;
    while (n--) {
        r ^= *p++;
        for (int i = 0; i < 8; ++i) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1u)));
    }
    return ~r;
}
uint32_t ref_crc32c(const uint8_t* p, size_t n, uint32_t r) {
    while (n--) {
        r ^= *p++;
        for (int i = 0; i < 8; ++i) r = (r >> 1) ^ (0x82F63B78u & (0u - (r & 1u)));
    }
    return r;
}
uint32_t ref_bz2(const uint8_t* p, size_t n, uint32_t crc) {
    uint32_t r = ~crc;
    while (n--) {
        r ^= uint32_t(*p++) << 24;
        for (int i = 0; i < 8; ++i) r = (r << 1) ^ (0x04C11DB7u & (0u - (r >> 31)));
    }
    return ~r;
}
uint32_t ref_adler(const uint8_t* p, size_t n, uint32_t a) {
    uint32_t s1 = (a & 0xFFFF) % 65521, s2 = (a >> 16) % 65521;
    while (n--) {
        s1 = (s1 + *p++) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    return s1 | (s2 << 16);
}

struct Path {
    const char* name;
    PathFn fn;
    uint64_t needs;  // features the path requires
    PathFn ref;
};

const Path kPaths[] = {
    {"crc32_table", crc32_table, 0, ref_crc32},
    {"crc32_clmul", crc32_clmul, vek::core::kFeaturePclmul, ref_crc32},
    {"crc32_vpclmul512", crc32_vpclmul512, vek::core::kFeatureAvx512Clmul, ref_crc32},
    {"crc32", crc32, 0, ref_crc32},
    {"crc32c_table", crc32c_table, 0, ref_crc32c},
    {"crc32c_sse42", crc32c_sse42, vek::core::kFeatureSse42, ref_crc32c},
    {"crc32c_sse42_clmul", crc32c_sse42_clmul, vek::core::kFeatureSse42 | vek::core::kFeaturePclmul,
     ref_crc32c},
    {"crc32c_vpclmul512", crc32c_vpclmul512,
     vek::core::kFeatureAvx512Clmul | vek::core::kFeatureSse42, ref_crc32c},
    {"crc32c", crc32c, 0, ref_crc32c},
    {"adler32_scalar", adler32_scalar, 0, ref_adler},
    {"adler32_avx2", adler32_avx2, vek::core::kFeatureAvx2, ref_adler},
    {"adler32_avx512", adler32_avx512, vek::core::kFeatureAvx512, ref_adler},
    {"adler32_avx512_vnni", adler32_avx512_vnni,
     vek::core::kFeatureAvx512 | vek::core::kFeatureAvx512Vnni, ref_adler},
    {"adler32", adler32, 0, ref_adler},
    {"crc32_bz2_table", crc32_bz2_table, 0, ref_bz2},
    {"crc32_bz2_clmul", crc32_bz2_clmul, vek::core::kFeaturePclmul, ref_bz2},
    {"crc32_bz2", crc32_bz2, 0, ref_bz2},
};

class ChecksumPath : public ::testing::TestWithParam<Path> {
  protected:
    void SetUp() override {
        if (GetParam().needs && !get_feature(GetParam().needs))
            GTEST_SKIP() << "processor lacks " << GetParam().name;
    }
};

TEST_P(ChecksumPath, AllLengthsToThreeHundredAtSixteenAlignments) {
    const Path& path = GetParam();
    const auto data = vek::testdata::random_bytes(300 + 64, 11);
    for (size_t align = 0; align < 16; ++align) {
        // Start from a 64-aligned base so the alignment is the true address offset.
        std::vector<uint8_t> buf(300 + 128);
        uint8_t* base = buf.data() + (64 - reinterpret_cast<uintptr_t>(buf.data()) % 64) + align;
        std::memcpy(base, data.data(), 300);
        for (size_t len = 1; len <= 300; ++len) {
            const uint32_t seed = 0x12345678u * static_cast<uint32_t>(len);
            const uint32_t init =
                path.ref == ref_adler ? (seed % 65521) | ((seed >> 16) % 65521) << 16 : seed;
            ASSERT_EQ(path.fn(base, len, init), path.ref(base, len, init))
                << path.name << " len " << len << " align " << align;
        }
    }
}

TEST_P(ChecksumPath, BlockBoundaryLengths) {
    const Path& path = GetParam();
    const auto data = vek::testdata::random_bytes(20000 + 16, 12);
    for (size_t len :
         {23,   24,   25,   63,   64,   65,    215,   216,   217,   255,   256,  257,  431,
          432,  863,  864,  865,  1727, 1728,  1729,  3071,  3072,  3073,  3095, 3096, 3097,
          5535, 5536, 5537, 5552, 5553, 11072, 11073, 16383, 16384, 16385, 19999}) {
        for (size_t off : {0, 1, 7, 13}) {
            ASSERT_EQ(path.fn(data.data() + off, len, 0x0001FFF0u),
                      path.ref(data.data() + off, len, 0x0001FFF0u))
                << path.name << " len " << len << " off " << off;
        }
    }
}

TEST_P(ChecksumPath, AllOnesNeverOverflow) {
    const Path& path = GetParam();
    const std::vector<uint8_t> ff(100000, 0xFF);
    // From the start value, from both halves at their largest, and from
    // halves not yet reduced (a caller's value is taken as it is), also
    // behind the single bytes that align the source.
    for (uint32_t init : {1u, 0xFFF0FFF0u, 0xFFFFFFFFu})
        for (size_t off : {0, 1, 15})
            for (size_t len : {5536, 5537, 5551, 5552, 100000 - 15})
                ASSERT_EQ(path.fn(ff.data() + off, len, init), path.ref(ff.data() + off, len, init))
                    << len << " " << off << " " << init;
}

TEST_P(ChecksumPath, MultiMegabyteInRandomPiecesEqualsOneCall) {
    const Path& path = GetParam();
    const auto data = vek::testdata::text_bytes(3 << 20, 13);
    const uint32_t whole = path.fn(data.data(), data.size(), 1);
    ASSERT_EQ(whole, path.ref(data.data(), data.size(), 1));
    std::mt19937 rng(14);
    uint32_t v = 1;
    for (size_t pos = 0; pos < data.size();) {
        size_t n = rng() % 3 == 0 ? rng() % 64 + 1 : rng() % 200000 + 1;
        n = std::min(n, data.size() - pos);
        v = path.fn(data.data() + pos, n, v);
        pos += n;
    }
    EXPECT_EQ(v, whole);
}

INSTANTIATE_TEST_SUITE_P(Paths, ChecksumPath, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

const uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Checksums, CheckValuesOfNineDigits) {
    uint32_t c = 0;
    ASSERT_EQ(veksCRC32_8u(kDigits, 9, &c), vekStatusOk);
    EXPECT_EQ(c, 0xCBF43926u);
    c = 0xFFFFFFFFu;
    ASSERT_EQ(veksCRC32C_8u(kDigits, 9, &c), vekStatusOk);
    EXPECT_EQ(c, 0x1CF96D7Cu);
    EXPECT_EQ(~c, 0xE3069283u);
    c = 1;
    ASSERT_EQ(veksAdler32_8u(kDigits, 9, &c), vekStatusOk);
    EXPECT_EQ(c, 0x091E01DEu);
    c = 0;
    ASSERT_EQ(veksCRC32_BZ2_8u(kDigits, 9, &c), vekStatusOk);
    EXPECT_EQ(c, 0xFC891918u);
}

// Null pointers come before lengths; a failing call leaves the value alone.
TEST(Checksums, ArgumentChecksInOrder) {
    uint32_t c = 0xDEADBEEFu;
    EXPECT_EQ(veksCRC32_8u(nullptr, 0, &c), vekStatusNullPtrErr);
    EXPECT_EQ(veksCRC32_8u(kDigits, 0, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksCRC32C_8u(nullptr, 0, &c), vekStatusNullPtrErr);
    EXPECT_EQ(veksCRC32C_8u(kDigits, 1, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksCRC32_BZ2_8u(nullptr, -1, &c), vekStatusNullPtrErr);
    EXPECT_EQ(veksCRC32_BZ2_8u(kDigits, 0, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksAdler32_8u(nullptr, 0, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksAdler32_8u(kDigits, 9, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksCRC32_8u(kDigits, 0, &c), vekStatusSizeErr);
    EXPECT_EQ(veksCRC32_8u(kDigits, -5, &c), vekStatusSizeErr);
    EXPECT_EQ(veksCRC32C_8u(kDigits, 0, &c), vekStatusSizeErr);
    EXPECT_EQ(veksCRC32_BZ2_8u(kDigits, 0, &c), vekStatusSizeErr);
    EXPECT_EQ(veksCRC32_BZ2_8u(kDigits, INT32_MIN, &c), vekStatusSizeErr);
    EXPECT_EQ(c, 0xDEADBEEFu);
}

TEST(Checksums, AdlerStartValueAndUncheckedLength) {
    uint32_t a = 0x12345678u;
    EXPECT_EQ(veksAdler32_8u(nullptr, 100, &a), vekStatusOk);
    EXPECT_EQ(a, 1u);
    a = 0x091E01DEu;
    EXPECT_EQ(veksAdler32_8u(kDigits, 0, &a), vekStatusOk);
    EXPECT_EQ(a, 0x091E01DEu);
    // Not positive as a signed number: nothing is read, both halves reduced.
    a = 0xFFFFFFFFu;
    EXPECT_EQ(veksAdler32_8u(kDigits, 0x80000000u, &a), vekStatusOk);
    EXPECT_EQ(a, (0xFFFFu % 65521) | ((0xFFFFu % 65521) << 16));
}

// The exported functions choose their path per call: hiding features must
// change only the speed, never the value.
TEST(Checksums, EveryFeatureCombinationGivesTheSameValues) {
    using namespace vek::core;
    const auto data = vek::testdata::random_bytes(70001, 15);
    uint32_t want[4] = {0, 0xFFFFFFFFu, 1, 0};
    ASSERT_EQ(veksCRC32_8u(data.data(), 70001, &want[0]), vekStatusOk);
    ASSERT_EQ(veksCRC32C_8u(data.data(), 70001, &want[1]), vekStatusOk);
    ASSERT_EQ(veksAdler32_8u(data.data(), 70001, &want[2]), vekStatusOk);
    ASSERT_EQ(veksCRC32_BZ2_8u(data.data(), 70001, &want[3]), vekStatusOk);
    EXPECT_EQ(want[0], ref_crc32(data.data(), 70001, 0));
    EXPECT_EQ(want[1], ref_crc32c(data.data(), 70001, 0xFFFFFFFFu));
    EXPECT_EQ(want[2], ref_adler(data.data(), 70001, 1));
    EXPECT_EQ(want[3], ref_bz2(data.data(), 70001, 0));
    const uint64_t bits[] = {kFeatureSse42,  kFeaturePclmul,  kFeatureAvx2,
                             kFeatureAvx512, kFeatureVpclmul, kFeatureAvx512Vnni};
    for (unsigned subset = 0; subset < 64; ++subset) {
        uint64_t hidden = 0;
        for (int b = 0; b < 6; ++b)
            if (subset & (1u << b)) hidden |= bits[b];
        vek::core::testing::HiddenFeatures guard(hidden);
        EXPECT_EQ(get_feature(kFeaturePclmul) != 0,
                  !(hidden & kFeaturePclmul) && (detect_features() & kFeaturePclmul));
        uint32_t got[4] = {0, 0xFFFFFFFFu, 1, 0};
        veksCRC32_8u(data.data(), 70001, &got[0]);
        veksCRC32C_8u(data.data(), 70001, &got[1]);
        veksAdler32_8u(data.data(), 70001, &got[2]);
        veksCRC32_BZ2_8u(data.data(), 70001, &got[3]);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(got[i], want[i]) << "hidden " << hidden << " fn " << i;
    }
}

}  // namespace
