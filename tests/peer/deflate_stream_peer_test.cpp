// Whole Deflate streams made only of the library's encoder stages: pairs
// from the LZ77 stage at every level (streamed through small pair buffers,
// over input that grows call by call, with any window and hash table size,
// optionally after a preset dictionary), code tables and a dynamic header
// from the table generator, the body from the pair writer in random pieces,
// then the end-of-block code. zlib's raw inflate must give back the input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "test_data.h"
#include "vekdc.h"
#include "zlib_oracle.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The sanitizer build runs without optimisation: smaller inputs there.
constexpr size_t kScale = vek::testdata::kSanitized ? 4 : 1;

Bytes inflate_raw(const Bytes& stream, size_t expect, const Bytes& dict = {}) {
    const auto z =
        vek::testing::zlib_inflate_once(stream.data(), stream.size(), -15, expect + 64, dict);
    EXPECT_EQ(z.rc, Z_STREAM_END) << z.msg;
    EXPECT_EQ(z.used, stream.size());  // nothing after the final block's last byte
    return z.out;
}

// LSB-first bit sink around the library's pending-bit convention.
struct BitSink {
    Bytes out;
    uint32_t acc = 0, n = 0;
    void put(uint32_t v, uint32_t bits) {
        acc |= v << n;
        n += bits;
        while (n >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            n -= 8;
        }
    }
};

// One dynamic block from the pairs of one LZ77 call and their counts; the
// pair writer gets the pending bits and the pairs in random pieces.
void write_block(BitSink& w, const uint8_t* lit, const uint16_t* dist, uint32_t items,
                 const vekDeflateFreqEntry* lf, const vekDeflateFreqEntry* df, bool final,
                 std::mt19937& rng) {
    uint32_t ls[286], ds[30];
    for (int i = 0; i < 286; ++i) ls[i] = lf[i].freq;
    for (int i = 0; i < 30; ++i) ds[i] = df[i].freq;
    ls[256] = 1;  // end of block
    vekDeflateHuffCode lc[286], dc[30];
    ASSERT_EQ(veksDeflateLZ77FastestGenHuffTable_8u(ls, ds, lc, dc), vekStatusOk);
    uint8_t header[400];
    uint32_t hlen = 0, hbits = 0;
    ASSERT_EQ(veksDeflateLZ77FastestGenHeader_8u(lc, dc, header, &hlen, &hbits), vekStatusOk);
    // The header starts with BFINAL = 1 and BTYPE = 2; clear BFINAL for an
    // inner block.
    if (!final) header[0] &= 0xFE;
    for (uint32_t b = 0; b < hbits; ++b) w.put((header[b >> 3] >> (b & 7)) & 1u, 1);
    uint16_t code = uint16_t(w.acc);
    uint32_t bits = w.n, idx = 0;
    Bytes body(size_t(items) * 8 + 64);
    for (uint32_t i = 0; i < items || i == 0;) {
        const uint32_t n = std::min(items - i, uint32_t(rng() % 2 ? rng() % 100 : rng() % 6000));
        ASSERT_EQ(veksDeflateHuff_8u(lit + i, dist + i, n, &code, &bits, lc, dc, body.data(), &idx),
                  vekStatusOk);
        i += n;
        if (items == 0) break;
    }
    w.out.insert(w.out.end(), body.begin(), body.begin() + idx);
    w.acc = code;
    w.n = bits;
    w.put(lc[256].code, lc[256].len);
}

struct Options {
    uint32_t winSize = 32768, hashSize = 32768, pairCap = 1 << 20;
    bool grow = false;  // input arrives in random pieces; only the last call flushes
    Bytes dict;         // preloaded through veksDeflateDictionarySet_8u
};

// One block per LZ77 call that produced pairs.
Bytes compress(const Bytes& in, int level, const Options& o, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    std::vector<int32_t> head(o.hashSize, -int32_t(o.winSize)),
        prev(o.winSize, -int32_t(o.winSize));
    // History (dictionary tail) and input in one buffer: the window lies
    // right before the source.
    const size_t dn = std::min<size_t>(o.dict.size(), o.winSize);
    Bytes all(o.winSize);
    uint32_t idx = 0;
    if (!o.dict.empty()) {
        EXPECT_EQ(
            veksDeflateDictionarySet_8u(o.dict.data(), uint32_t(o.dict.size()), head.data(),
                                        o.hashSize, prev.data(), all.data(), o.winSize, level),
            vekStatusOk);
        idx = uint32_t(dn);
    }
    all.resize(dn);
    all.insert(all.end(), in.begin(), in.end());
    all.push_back(0);  // keeps the source pointer valid for an empty input
    std::vector<uint8_t> lit(o.pairCap);
    std::vector<uint16_t> dist(o.pairCap);
    BitSink w;
    size_t done = 0, avail = 0;
    for (bool last = false; !last;) {
        avail = o.grow ? std::min(in.size(), avail + 1 + rng() % 100000) : in.size();
        vekDeflateFreqEntry lf[286] = {}, df[30] = {};
        const uint8_t* p = all.data() + dn + done;
        uint32_t left = uint32_t(avail - done), room = o.pairCap;
        const uint32_t flush = avail == in.size() ? 2 : 0;
        EXPECT_EQ(
            veksDeflateLZ77_8u(&p, &left, &idx, p, o.winSize, head.data(), prev.data(), o.hashSize,
                               lf, df, lit.data(), dist.data(), &room, level, flush),
            vekStatusOk);
        done = size_t(p - (all.data() + dn));
        last = done == in.size();
        if (room == o.pairCap && !last) continue;
        write_block(w, lit.data(), dist.data(), o.pairCap - room, lf, df, last, rng);
    }
    if (w.n) w.put(0, 8 - w.n);
    return w.out;
}

Bytes sample(size_t n, uint32_t seed) {
    using namespace vek::testdata;
    Bytes v = text_bytes(n / 2, seed);
    for (const Bytes& b : {runs_bytes(n / 4, seed + 1), random_bytes(n / 8, seed + 2)})
        v.insert(v.end(), b.begin(), b.end());
    const Bytes t = text_bytes(n - v.size(), seed + 3);
    v.insert(v.end(), t.begin(), t.end());
    return v;
}

TEST(DeflateStreamPeers, EveryLevelThroughTheLibraryStagesInflatesWithZlib) {
    using namespace vek::testdata;
    const std::vector<Bytes> inputs = {
        text_bytes(300000 / kScale, 1), random_bytes(70000, 2), runs_bytes(200000 / kScale, 3),
        sample(300000 / kScale, 1),     text_bytes(5, 4),       Bytes()};
    // Small pair buffers, one block per call, or input growing call by call;
    // each input meets each way at every third level.
    for (int level = 0; level < 30; level += int(kScale)) {
        for (size_t k = 0; k < inputs.size(); ++k) {
            const Bytes& in = inputs[k];
            const int variant = int((size_t(level) + k) % 3);
            SCOPED_TRACE(testing::Message()
                         << "level " << level << " size " << in.size() << " variant " << variant);
            Options o;
            o.pairCap = variant == 0 ? 1000 : variant == 1 ? 1 << 20 : 20000;
            o.grow = variant == 2;
            const Bytes stream = compress(in, level, o, uint32_t(level));
            ASSERT_EQ(inflate_raw(stream, in.size()), in);
            if (in.size() > 100000) {
                EXPECT_LT(stream.size(), in.size());
            }
        }
    }
}

TEST(DeflateStreamPeers, SmallWindowsTablesAndInputs) {
    const Bytes data = sample(120000 / kScale, 2);
    const uint32_t sizes[][2] = {{256, 256}, {1024, 65536}, {4096, 1024}, {32768, 256}};
    for (const auto& ws : sizes) {
        for (int level : {0, 1, 4, 5, 9, 10, 14, 19, 20, 24, 29}) {
            Options o;
            o.winSize = ws[0], o.hashSize = ws[1], o.pairCap = 777, o.grow = true;
            EXPECT_EQ(inflate_raw(compress(data, level, o, 9), data.size()), data)
                << level << " " << ws[0] << " " << ws[1];
        }
    }
    for (size_t n : {1, 2, 3, 4, 17, 258, 261, 262, 600}) {
        const Bytes in = vek::testdata::text_bytes(n, uint32_t(n));
        for (int level = 0; level < 30; ++level) {
            Options o;
            o.pairCap = 64, o.grow = true;
            EXPECT_EQ(inflate_raw(compress(in, level, o, 3), in.size()), in) << level << " " << n;
        }
    }
}

TEST(DeflateStreamPeers, PresetDictionary) {
    const Bytes text = vek::testdata::text_bytes(90000, 4);
    const Bytes dict(text.begin(), text.begin() + 40000), data(text.begin() + 40000, text.end());
    for (int level : {0, 2, 6, 10, 13, 17, 20, 29}) {
        Options o;
        o.pairCap = 5000, o.grow = true;
        const Bytes plain = compress(data, level, o, 5);
        o.dict = dict;
        const Bytes z = compress(data, level, o, 5);
        // zlib takes the same last 32768 bytes of the dictionary.
        EXPECT_EQ(inflate_raw(z, data.size(), dict), data) << level;
        // Levels 10 and 20 preload by the CRC hash but search by the
        // shift-xor hash, so their dictionary positions are not found.
        if (level % 10 == 0 && level != 0) continue;
        EXPECT_LT(z.size(), plain.size()) << "the dictionary was of no use at level " << level;
    }
}

}  // namespace
