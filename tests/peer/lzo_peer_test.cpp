// LZO1X streams against liblzo2 in both directions: ours (every method, also
// written through the bounds-testing path) decode with
// lzo1x_decompress_safe, and the streams of lzo1x_1, lzo1x_1_15 and
// lzo1x_999 decode with both of our decoders.
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <vector>

#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kBig = vek::testdata::kSanitized ? 700000 : 4 << 20;

std::vector<Bytes> corpus() {
    using namespace vek::testdata;
    Bytes far = random_bytes(120000, 5);
    for (size_t d : {2048u, 2049u, 16384u, 16385u, 40000u, 49151u})
        std::copy(far.begin() + 100, far.begin() + 180, far.begin() + 100 + d + 500);
    return {
        text_bytes(100000, 1), random_bytes(70000, 2), runs_bytes(300000, 3), Bytes(200000, 'a'),
        random_bytes(10, 6),   text_bytes(14, 7),      text_bytes(kBig, 8),   far,
        runs_bytes(1, 9),      text_bytes(240, 10)};
}

class LzoPeers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(lzo_init(), LZO_E_OK); }
};

Bytes peer_decompress(const Bytes& stream, size_t size) {
    Bytes out(size + 64);
    lzo_uint n = out.size();
    EXPECT_EQ(lzo1x_decompress_safe(stream.data(), stream.size(), out.data(), &n, nullptr),
              LZO_E_OK);
    out.resize(n);
    return out;
}

TEST_F(LzoPeers, OurStreamsDecodeWithLiblzo2) {
    std::vector<uint64_t> state(131096 / 8 + 1);
    auto* st = reinterpret_cast<vekLZOState_8u*>(state.data());
    for (const Bytes& src : corpus()) {
        for (int32_t method : {0, 1, 2}) {
            ASSERT_EQ(veksEncodeLZOInit_8u(method, 0, st), vekStatusOk);
            // Room for the unchecked form, and exactly the stream (the
            // bounds-testing form).
            Bytes dst(src.size() + src.size() / 64 + 64);
            uint32_t n = uint32_t(dst.size());
            ASSERT_EQ(veksEncodeLZO_8u(src.data(), uint32_t(src.size()), dst.data(), &n, st),
                      vekStatusOk);
            dst.resize(n);
            EXPECT_EQ(peer_decompress(dst, src.size()), src) << method << " " << src.size();
            Bytes exact(n);
            uint32_t m = n;
            ASSERT_EQ(veksEncodeLZO_8u(src.data(), uint32_t(src.size()), exact.data(), &m, st),
                      vekStatusOk);
            EXPECT_EQ(peer_decompress(exact, src.size()), src) << method << " exact";
        }
    }
}

TEST_F(LzoPeers, Liblzo2StreamsDecodeWithOurs) {
    std::vector<uint8_t> wrk(LZO1X_999_MEM_COMPRESS);
    using Compress = int (*)(const lzo_bytep, lzo_uint, lzo_bytep, lzo_uintp, lzo_voidp);
    const std::pair<const char*, Compress> peers[] = {{"lzo1x_1", lzo1x_1_compress},
                                                      {"lzo1x_1_15", lzo1x_1_15_compress},
                                                      {"lzo1x_999", lzo1x_999_compress}};
    for (const Bytes& src : corpus()) {
        for (const auto& [name, fn] : peers) {
            if (std::string(name) == "lzo1x_999" && src.size() > 1000000) continue;  // slow
            Bytes z(src.size() + src.size() / 16 + 64 + 3);
            lzo_uint zn = z.size();
            ASSERT_EQ(fn(src.data(), src.size(), z.data(), &zn, wrk.data()), LZO_E_OK) << name;
            z.resize(zn);
            for (bool safe : {true, false}) {
                Bytes out(src.size() + 8, 0x3C);
                uint32_t n = uint32_t(src.size());
                const vekStatus st =
                    safe ? veksDecodeLZOSafe_8u(z.data(), uint32_t(zn), out.data(), &n)
                         : veksDecodeLZO_8u(z.data(), uint32_t(zn), out.data(), &n);
                ASSERT_EQ(st, vekStatusOk) << name << " " << src.size() << " safe " << safe;
                ASSERT_EQ(n, src.size());
                EXPECT_TRUE(std::equal(src.begin(), src.end(), out.begin())) << name;
                for (size_t k = src.size(); k < out.size(); ++k) ASSERT_EQ(out[k], 0x3C);
            }
            // One byte short of room: refused.
            if (!src.empty()) {
                Bytes out(src.size());
                uint32_t n = uint32_t(src.size() - 1);
                EXPECT_EQ(veksDecodeLZOSafe_8u(z.data(), uint32_t(zn), out.data(), &n),
                          vekStatusCorruptStreamErr);
            }
        }
    }
}

}  // namespace
