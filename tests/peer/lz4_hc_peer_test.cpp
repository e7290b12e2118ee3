// High-compression LZ4 encoder against liblz4: every block we write decodes
// with liblz4's bounds-checked decoders, alone, as a prefix-mode stream and
// as a dictionary-mode stream. (Ratios next to liblz4's own encoder are the
// benchmark's business: our blocks are fixed byte for byte by the model
// tests.)
#include <gtest/gtest.h>
#include <lz4.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The sanitizer build runs without optimisation: less data there.
constexpr size_t kSlow = vek::testdata::kSanitized ? 8 : 1;

struct Tables {
    std::vector<int32_t> head = std::vector<int32_t>(32768), chain = std::vector<int32_t>(65536);
    uint8_t* ptr[2] = {reinterpret_cast<uint8_t*>(head.data()),
                       reinterpret_cast<uint8_t*>(chain.data())};
    Tables() { EXPECT_EQ(veksEncodeLZ4HCHashTableInit_8u(ptr), vekStatusOk); }
};

Bytes enc(const uint8_t* src, size_t src_idx, size_t n, Tables& t, int level,
          const uint8_t* dict = nullptr, size_t dict_len = 0) {
    Bytes out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(n))));
    int32_t sl = static_cast<int32_t>(n), dl = static_cast<int32_t>(out.size());
    EXPECT_EQ(veksEncodeLZ4HC_8u(src, static_cast<int32_t>(src_idx), &sl, out.data(), &dl, t.ptr,
                                 dict, static_cast<int32_t>(dict_len), level),
              vekStatusOk);
    out.resize(static_cast<size_t>(dl));
    return out;
}

const char* cc(const Bytes& b) {
    return reinterpret_cast<const char*>(b.data());
}
char* cc(uint8_t* p) {
    return reinterpret_cast<char*>(p);
}

struct Input {
    std::string name;
    Bytes data;
};

std::vector<Input> inputs() {
    Bytes binary;
    for (uint32_t i = 0; i < 25000;
         ++i) {  // 8-byte records: slow counter, small fields, rare noise
        const uint32_t v = i % 97 == 0 ? i * 2654435761u >> 16 : (i % 5) * 3;
        binary.insert(binary.end(), {uint8_t(i / 16), uint8_t(i / 4096), uint8_t(i % 4), 0,
                                     uint8_t(v), uint8_t(v >> 8), 0xAB, 0});
    }
    Bytes big = vek::testdata::text_bytes(1200000 / kSlow, 11);
    const Bytes runs = vek::testdata::runs_bytes(600000 / kSlow, 12),
                rnd = vek::testdata::random_bytes(400000 / kSlow, 13);
    big.insert(big.end(), runs.begin(), runs.end());
    big.insert(big.end(), rnd.begin(), rnd.end());
    const Bytes again(big.begin() + 1000, big.begin() + 300000 / kSlow);
    big.insert(big.end(), again.begin(), again.end());
    return {{"tiny", vek::testdata::text_bytes(40, 1)},
            {"text64k", vek::testdata::text_bytes(65536, 2)},
            {"text", vek::testdata::text_bytes(300000 / kSlow, 3)},
            {"random", vek::testdata::random_bytes(100000 / kSlow, 4)},
            {"runs", vek::testdata::runs_bytes(200000 / kSlow, 5)},
            {"binary", binary},
            {"zeros", Bytes(100000, 0)},
            {"multi-MB", big}};
}

TEST(LZ4HCPeer, SingleBlocksDecodeWithLiblz4) {
    for (const auto& in : inputs()) {
        for (int level = 1; level <= 9; ++level) {
            if (in.name == "multi-MB" && level % 4 != 1) continue;
            Tables t;
            const Bytes blk = enc(in.data.data(), 0, in.data.size(), t, level);
            Bytes out(in.data.size());
            const int got =
                LZ4_decompress_safe(cc(blk), cc(out.data()), static_cast<int>(blk.size()),
                                    static_cast<int>(out.size()));
            ASSERT_EQ(got, static_cast<int>(in.data.size())) << in.name << " level " << level;
            ASSERT_TRUE(out == in.data) << in.name << " level " << level;
        }
    }
}

const size_t kSizes[] = {70000, 1, 15, 4096, 65536, 300, 131072, 14, 20000};

// Prefix mode: one buffer, srcIdx counting the history; liblz4 sees the
// output decoded so far right before the block.
TEST(LZ4HCPeer, PrefixStreamsDecodeWithLiblz4) {
    for (const auto& in : inputs()) {
        for (int level : {1, 4, 9}) {
            Tables t;
            Bytes out(in.data.size());
            for (size_t off = 0, k = 0; off < in.data.size(); ++k) {
                const size_t n = std::min(kSizes[k % 9], in.data.size() - off);
                const Bytes blk = enc(in.data.data() + off, off, n, t, level);
                const size_t dict = std::min<size_t>(off, 65536);
                const int got = LZ4_decompress_safe_usingDict(
                    cc(blk), cc(out.data() + off), static_cast<int>(blk.size()),
                    static_cast<int>(n), cc(out.data() + off - dict), static_cast<int>(dict));
                ASSERT_EQ(got, static_cast<int>(n))
                    << in.name << " level " << level << " at " << off;
                off += n;
            }
            ASSERT_TRUE(out == in.data) << in.name << " level " << level;
        }
    }
}

// Dictionary mode: a preset dictionary entered by a first call, then every
// block in a buffer of its own with the previous block as its dictionary;
// liblz4 decodes into a separate buffer with the same dictionary.
TEST(LZ4HCPeer, DictionaryStreamsDecodeWithLiblz4) {
    const Bytes preset = vek::testdata::text_bytes(30000, 20);
    for (const auto& in : inputs()) {
        for (int level : {1, 5, 9}) {
            Tables t;
            enc(preset.data(), 0, preset.size(), t, level);
            Bytes dict = preset;
            size_t idx = preset.size();
            for (size_t off = 0, k = 0; off < in.data.size(); ++k) {
                const size_t n = std::min(kSizes[k % 9], in.data.size() - off);
                const Bytes src(in.data.begin() + static_cast<std::ptrdiff_t>(off),
                                in.data.begin() + static_cast<std::ptrdiff_t>(off + n));
                const Bytes blk = enc(src.data(), idx, n, t, level, dict.data(), dict.size());
                Bytes out(n);
                const int got = LZ4_decompress_safe_usingDict(
                    cc(blk), cc(out.data()), static_cast<int>(blk.size()), static_cast<int>(n),
                    cc(dict), static_cast<int>(dict.size()));
                ASSERT_EQ(got, static_cast<int>(n))
                    << in.name << " level " << level << " at " << off;
                ASSERT_TRUE(out == src) << in.name << " level " << level << " at " << off;
                dict = src;
                idx += n;
                off += n;
            }
        }
    }
}

}  // namespace
