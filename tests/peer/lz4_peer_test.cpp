// LZ4 blocks against liblz4 in both directions.
#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>

#include <vector>

#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> corpus() {
    using namespace vek::testdata;
    return {text_bytes(100000, 1),  random_bytes(70000, 2), runs_bytes(300000, 3),
            text_bytes(65535, 4),   Bytes(200000, 'a'),     random_bytes(10, 6),
            text_bytes(4 << 20, 8), runs_bytes(1, 9)};
}

Bytes lz4_decompress(const Bytes& block, size_t size) {
    Bytes out(size + 1);
    const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()),
                                      reinterpret_cast<char*>(out.data()), int(block.size()),
                                      int(out.size()));
    EXPECT_EQ(n, int(size));
    out.resize(n < 0 ? 0 : n);
    return out;
}

TEST(Lz4Peers, OurBlocksDecodeWithLiblz4) {
    alignas(64) uint8_t tab[16384];
    for (const Bytes& src : corpus()) {
        const int32_t n = int32_t(src.size());
        Bytes dst(LZ4_compressBound(n) + 64);
        int32_t dl = 0;
        ASSERT_EQ(veksEncodeLZ4_8u(src.data(), n, dst.data(), &dl, tab), vekStatusOk);
        EXPECT_EQ(lz4_decompress(Bytes(dst.begin(), dst.begin() + dl), src.size()), src);
        for (int32_t accel : {2, 8, 100}) {
            ASSERT_EQ(veksEncodeLZ4Fast_8u(src.data(), n, dst.data(), &dl, tab, accel),
                      vekStatusOk);
            EXPECT_EQ(lz4_decompress(Bytes(dst.begin(), dst.begin() + dl), src.size()), src)
                << accel;
        }
        for (int32_t cap : {n / 3 + 1, n / 2 + 1, int32_t(dst.size())}) {
            int32_t sl = n;
            dl = cap;
            const vekStatus st = veksEncodeLZ4Safe_8u(src.data(), &sl, dst.data(), &dl, tab);
            ASSERT_TRUE(st == vekStatusOk || st == vekStatusDstTooSmall);
            EXPECT_EQ(lz4_decompress(Bytes(dst.begin(), dst.begin() + dl), size_t(sl)),
                      Bytes(src.begin(), src.begin() + sl));
        }
    }
}

TEST(Lz4Peers, Liblz4BlocksDecodeWithOurs) {
    for (const Bytes& src : corpus()) {
        const int n = int(src.size());
        Bytes block(LZ4_compressBound(n));
        auto check = [&](int len, const char* what) {
            ASSERT_GT(len, 0) << what;
            Bytes out(src.size() + 16, 0xEE);
            int32_t dl = n;
            EXPECT_EQ(veksDecodeLZ4_8u(block.data(), len, out.data(), &dl), vekStatusOk) << what;
            EXPECT_EQ(dl, n) << what;
            EXPECT_EQ(Bytes(out.begin(), out.begin() + n), src) << what;
            EXPECT_EQ(out[n], 0xEE) << what;
        };
        const char* s = reinterpret_cast<const char*>(src.data());
        char* d = reinterpret_cast<char*>(block.data());
        check(LZ4_compress_default(s, d, n, int(block.size())), "default");
        for (int accel : {2, 8, 64})
            check(LZ4_compress_fast(s, d, n, int(block.size()), accel), "fast");
        // liblz4's slowest levels on the multi-megabyte input would dominate the run.
        for (int level : {3, 4, 9, 12})
            if (n < (1 << 20) || level == 4)
                check(LZ4_compress_HC(s, d, n, int(block.size()), level), "hc");
    }
}

// liblz4's streaming compression with a shared history decodes with our
// dictionary decoder, block by block, with the previous blocks as prefix.
TEST(Lz4Peers, Liblz4StreamingDecodesWithOurDictionaryDecoder) {
    const Bytes src = vek::testdata::text_bytes(1 << 20, 30);
    const Bytes dict = vek::testdata::text_bytes(30000, 31);
    const int blockSize = 64 << 10;
    Bytes block(LZ4_compressBound(blockSize));
    // Output goes to one buffer whose first dictLen addresses stand for the
    // dictionary (never touched), followed by the blocks in order.
    LZ4_stream_t* stream = LZ4_createStream();
    LZ4_loadDict(stream, reinterpret_cast<const char*>(dict.data()), int(dict.size()));
    Bytes all(dict.size() + src.size());
    for (size_t pos = 0; pos < src.size(); pos += blockSize) {
        const int n = int(std::min<size_t>(blockSize, src.size() - pos));
        const int len = LZ4_compress_fast_continue(
            stream, reinterpret_cast<const char*>(src.data() + pos),
            reinterpret_cast<char*>(block.data()), n, int(block.size()), 1);
        int32_t sl = len, dl = n;
        ASSERT_EQ(veksDecodeLZ4Dict_8u(block.data(), &sl, all.data(), int32_t(dict.size() + pos),
                                       &dl, dict.data(), int32_t(dict.size())),
                  vekStatusOk);
        ASSERT_EQ(dl, n);
        ASSERT_EQ(sl, len);
    }
    LZ4_freeStream(stream);
    EXPECT_EQ(Bytes(all.begin() + dict.size(), all.end()), src);
    EXPECT_EQ(Bytes(all.begin(), all.begin() + dict.size()), Bytes(dict.size(), 0));
}

// Our history encoders' streams decode with liblz4's dictionary decoder,
// given the dictionary followed by all earlier blocks as history.
TEST(Lz4Peers, OurLinkedBlocksDecodeWithLiblz4) {
    const Bytes dict = vek::testdata::text_bytes(40000, 40);
    const Bytes src = vek::testdata::text_bytes(600000, 41);
    for (bool separate : {false, true}) {
        for (bool checked : {false, true}) {
            Bytes all(dict);
            all.insert(all.end(), src.begin(), src.end());
            alignas(64) int32_t table[4096];
            uint8_t* t = reinterpret_cast<uint8_t*>(table);
            ASSERT_EQ(veksEncodeLZ4DictHashTableInit_8u(t, 1), vekStatusOk);
            ASSERT_EQ(veksEncodeLZ4LoadDict_8u(t, dict.data(), int32_t(dict.size())), vekStatusOk);
            const Bytes dictCopy(dict);
            const size_t bs = 50000;
            for (size_t pos = 0; pos < src.size(); pos += bs) {
                const int32_t n = int32_t(std::min(bs, src.size() - pos));
                const int32_t idx = int32_t(dict.size() + pos);
                Bytes block(LZ4_compressBound(n) + 64);
                int32_t dl = int32_t(block.size()), sl = n;
                const uint8_t* d = separate ? dictCopy.data() : nullptr;
                const int32_t dlen = separate ? int32_t(dict.size()) : 0;
                const vekStatus st = checked
                                         ? veksEncodeLZ4DictSafe_8u(all.data() + idx, idx, &sl,
                                                                    block.data(), &dl, t, d, dlen)
                                         : veksEncodeLZ4Dict_8u(all.data() + idx, idx, n,
                                                                block.data(), &dl, t, d, dlen);
                ASSERT_EQ(st, vekStatusOk);
                Bytes out(n);
                const int got =
                    LZ4_decompress_safe_usingDict(reinterpret_cast<const char*>(block.data()),
                                                  reinterpret_cast<char*>(out.data()), dl, n,
                                                  reinterpret_cast<const char*>(all.data()), idx);
                ASSERT_EQ(got, n) << "separate " << separate << " checked " << checked << " pos "
                                  << pos;
                ASSERT_EQ(out, Bytes(src.begin() + pos, src.begin() + pos + n));
            }
        }
    }
}

}  // namespace
