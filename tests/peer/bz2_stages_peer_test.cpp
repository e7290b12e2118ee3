// The run-length stage against libbz2: a .bz2 block header carries the set
// of byte values that its run-length output uses (the 16 x 16 bit map), and
// the block CRC over the original bytes. For data whose runs stay within
// 255 bytes, where both encoders split runs alike, our in-use table must
// equal that map, and our bzip2 CRC the block CRC.
#include <bzlib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "bz2_stream_reader.h"
#include "test_data.h"
#include "libbz2_oracle.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

using vek::testing::bz2::StreamReader;

// The first block header of a stream.
StreamReader::Block first_block(const Bytes& stream) {
    StreamReader rd(stream.data(), stream.size());
    StreamReader::Block blk;
    int level = 0;
    uint32_t combined = 0;
    EXPECT_TRUE(rd.stream_header(&level));
    EXPECT_EQ(rd.next(&blk, &combined), StreamReader::Next::kBlock);
    EXPECT_FALSE(blk.randomised);
    return blk;
}

Bytes our_in_use(const Bytes& in) {
    vekRLEState_BZ2 st;
    EXPECT_EQ(veksEncodeRLEInit_BZ2_8u(&st), vekStatusOk);
    Bytes out(in.size() + in.size() / 4 + 8);
    const uint8_t* p = in.data();
    int32_t sl = int32_t(in.size()), dl = int32_t(out.size());
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, out.data(), &dl, &st), vekStatusOk);
    int32_t fl = 1;
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(out.data() + dl, &fl, &st), vekStatusOk);
    Bytes tab(256);
    EXPECT_EQ(veksRLEGetInUseTable_8u(tab.data(), &st), vekStatusOk);
    return tab;
}

// Runs of 1..max_run bytes over a few values, neighbours differing.
Bytes runs_upto(size_t n, size_t max_run, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes v;
    uint8_t value = 0;
    while (v.size() < n) {
        value = uint8_t(value + 37 * (1 + rng() % 6));
        v.insert(v.end(), 1 + rng() % max_run, value);
    }
    v.resize(n);
    return v;
}

TEST(RleBz2Peer, InUseTableAndBlockCrcMatchLibbz2) {
    std::vector<Bytes> inputs = {vek::testdata::text_bytes(200000, 1),
                                 vek::testdata::random_bytes(100000, 2),
                                 runs_upto(300000, 255, 3),
                                 runs_upto(50000, 9, 4),
                                 Bytes(255, 'z'),
                                 Bytes(4, 0),
                                 Bytes{1, 2, 3}};
    // Every run length from 1 to 255 once, each with its own value.
    Bytes lengths;
    for (size_t k = 1; k <= 255; ++k) lengths.insert(lengths.end(), k, uint8_t(k * 3));
    inputs.push_back(lengths);
    for (const Bytes& in : inputs) {
        const StreamReader::Block h = first_block(vek::testing::libbz2_compress(in, 9, 30));
        EXPECT_EQ(our_in_use(in), Bytes(h.inUse, h.inUse + 256)) << in.size();
        uint32_t crc = 0;
        ASSERT_EQ(veksCRC32_BZ2_8u(in.data(), int32_t(in.size()), &crc), vekStatusOk);
        EXPECT_EQ(crc, h.crc);
    }
}

}  // namespace
