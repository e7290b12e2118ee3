// Checksums against zlib, libdeflate and ISA-L on every path: whole buffers,
// all short lengths at every alignment, and streams fed in pieces.
#include <gtest/gtest.h>
#include <isa-l/crc.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "checksum/checksum.h"
#include "core/cpu.h"
#include "forced_cpu_services.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using vek::core::testing::HiddenFeatures;
using namespace vek::core;

// Feature sets that select each path of the exported functions.
const uint64_t kHideSets[] = {0, kFeatureAvx512Vnni, kFeatureAvx512 | kFeatureVpclmul,
                              kFeatureAvx512 | kFeaturePclmul,
                              kFeatureAvx512 | kFeaturePclmul | kFeatureSse42 | kFeatureAvx2};

uint32_t our_crc32(const uint8_t* p, size_t n, uint32_t c) {
    EXPECT_EQ(veksCRC32_8u(p, static_cast<int32_t>(n), &c), vekStatusOk);
    return c;
}
uint32_t our_crc32c(const uint8_t* p, size_t n, uint32_t c) {
    EXPECT_EQ(veksCRC32C_8u(p, static_cast<uint32_t>(n), &c), vekStatusOk);
    return c;
}
uint32_t our_adler(const uint8_t* p, size_t n, uint32_t a) {
    EXPECT_EQ(veksAdler32_8u(p, static_cast<uint32_t>(n), &a), vekStatusOk);
    return a;
}

std::vector<std::vector<uint8_t>> corpus() {
    return {vek::testdata::random_bytes(5 << 20, 1), vek::testdata::text_bytes(1 << 20, 2),
            vek::testdata::runs_bytes(777777, 3), std::vector<uint8_t>(100000, 0xFF)};
}

TEST(ChecksumPeers, WholeBuffersMatchAllPeersOnEveryPath) {
    for (const auto& buf : corpus()) {
        const uint8_t* p = buf.data();
        const size_t n = buf.size();
        const uint32_t z_crc = static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
        const uint32_t z_adler = static_cast<uint32_t>(adler32(1, p, static_cast<uInt>(n)));
        ASSERT_EQ(libdeflate_crc32(0, p, n), z_crc);
        ASSERT_EQ(libdeflate_adler32(1, p, n), z_adler);
        ASSERT_EQ(crc32_gzip_refl(0, p, n), z_crc);
        const uint32_t isal_c =
            crc32_iscsi(const_cast<uint8_t*>(p), static_cast<int>(n), 0xFFFFFFFFu);
        for (uint64_t hide : kHideSets) {
            HiddenFeatures guard(hide);
            EXPECT_EQ(our_crc32(p, n, 0), z_crc) << "hide " << hide;
            EXPECT_EQ(our_adler(p, n, 1), z_adler) << "hide " << hide;
            EXPECT_EQ(our_crc32c(p, n, 0xFFFFFFFFu), isal_c) << "hide " << hide;
        }
    }
}

TEST(ChecksumPeers, ShortLengthsAtEveryAlignment) {
    const auto data = vek::testdata::random_bytes(400, 4);
    std::vector<uint8_t> buf(400 + 64);
    for (uint64_t hide : kHideSets) {
        HiddenFeatures guard(hide);
        for (size_t align = 0; align < 16; ++align) {
            uint8_t* base =
                buf.data() + (32 - reinterpret_cast<uintptr_t>(buf.data()) % 32) + align;
            std::memcpy(base, data.data(), 300);
            for (size_t len = 1; len <= 300; ++len) {
                ASSERT_EQ(our_crc32(base, len, 0), libdeflate_crc32(0, base, len));
                ASSERT_EQ(our_adler(base, len, 1), libdeflate_adler32(1, base, len));
                ASSERT_EQ(our_crc32c(base, len, 0xFFFFFFFFu),
                          crc32_iscsi(base, static_cast<int>(len), 0xFFFFFFFFu));
            }
        }
    }
}

TEST(ChecksumPeers, RandomPiecesAgreeWithPeerStreaming) {
    const auto buf = vek::testdata::text_bytes(3 << 20, 5);
    std::mt19937 rng(6);
    uint32_t c = 0, cc = 0xFFFFFFFFu, a = 1;
    uLong zc = crc32(0, nullptr, 0), za = adler32(0, nullptr, 0);
    uint32_t ic = 0xFFFFFFFFu;
    for (size_t pos = 0; pos < buf.size();) {
        const size_t n =
            std::min<size_t>(buf.size() - pos, rng() % 2 ? rng() % 100 + 1 : rng() % 300000 + 1);
        const uint8_t* p = buf.data() + pos;
        c = our_crc32(p, n, c);
        cc = our_crc32c(p, n, cc);
        a = our_adler(p, n, a);
        zc = crc32(zc, p, static_cast<uInt>(n));
        za = adler32(za, p, static_cast<uInt>(n));
        ic = crc32_iscsi(const_cast<uint8_t*>(p), static_cast<int>(n), ic);
        pos += n;
        ASSERT_EQ(c, zc);
        ASSERT_EQ(a, za);
        ASSERT_EQ(cc, ic);
    }
}

}  // namespace
