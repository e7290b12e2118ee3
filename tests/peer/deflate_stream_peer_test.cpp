// Whole Deflate streams made only of the library's encoder stages: pairs
// from the LZ77 stage at every level (streamed through small pair buffers),
// code tables and a dynamic header from the table generator, the body from
// the pair writer, then the end-of-block code. zlib's raw inflate must give
// back the input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes inflate_raw(const Bytes& stream, size_t expect) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    Bytes out(expect + 64);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << (z.msg ? z.msg : "");
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
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

// One dynamic block from the pairs of one LZ77 call and their counts.
void write_block(BitSink& w, const uint8_t* lit, const uint16_t* dist, uint32_t items,
                 const vekDeflateFreqEntry* lf, const vekDeflateFreqEntry* df, bool final) {
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
    ASSERT_EQ(veksDeflateHuff_8u(lit, dist, items, &code, &bits, lc, dc, body.data(), &idx), vekStatusOk);
    w.out.insert(w.out.end(), body.begin(), body.begin() + idx);
    w.acc = code;
    w.n = bits;
    w.put(lc[256].code, lc[256].len);
}

Bytes compress(const Bytes& in, int level, uint32_t pairCap) {
    const uint32_t winSize = 32768, hashSize = 32768;
    std::vector<int32_t> head(hashSize, -int32_t(winSize)), prev(winSize, -int32_t(winSize));
    std::vector<uint8_t> lit(pairCap);
    std::vector<uint16_t> dist(pairCap);
    BitSink w;
    const uint8_t* p = in.data();
    uint32_t left = uint32_t(in.size()), idx = 0;
    static const uint8_t kEmpty[1] = {0};
    if (in.empty()) p = kEmpty;
    bool done = false;
    while (!done) {
        vekDeflateFreqEntry lf[286] = {}, df[30] = {};
        uint32_t room = pairCap;
        // The history lies right before the input in the same buffer.
        const uint8_t* window = p;
        EXPECT_EQ(veksDeflateLZ77_8u(&p, &left, &idx, window, winSize, head.data(), prev.data(), hashSize, lf,
                                     df, lit.data(), dist.data(), &room, level, 2),
                  vekStatusOk);
        done = left == 0;
        write_block(w, lit.data(), dist.data(), pairCap - room, lf, df, done);
    }
    if (w.n) w.put(0, 8 - w.n);
    return w.out;
}

TEST(DeflateStreamPeers, EveryLevelThroughTheLibraryStagesInflatesWithZlib) {
    using namespace vek::testdata;
    const std::vector<Bytes> inputs = {text_bytes(300000, 1), random_bytes(70000, 2), runs_bytes(200000, 3),
                                       text_bytes(5, 4), Bytes()};
    for (int level = 0; level < 30; ++level) {
        for (const Bytes& in : inputs) {
            for (uint32_t cap : {uint32_t(1000), uint32_t(1) << 20}) {
                SCOPED_TRACE(testing::Message() << "level " << level << " size " << in.size() << " pairs " << cap);
                const Bytes stream = compress(in, level, cap);
                ASSERT_EQ(inflate_raw(stream, in.size()), in);
            }
        }
    }
}

}  // namespace
