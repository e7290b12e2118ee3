// Whole .bz2 streams through the tool's container code against libbz2: our
// streams (every level, varied data, input fed in random pieces) decompress
// with libbz2 to the input; libbz2's streams at every block size decode with
// the container, through the fused block decoder and through the separate
// stages, with the input arriving in random small pieces; damaged streams
// are refused with the problem named.
#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bz2_container.h"
#include "bz2_stream_reader.h"
#include "test_data.h"
#include "libbz2_oracle.h"
#include "vekdc.h"

namespace {

using vek::testing::libbz2_compress;
using vek::testing::libbz2_decompress;

namespace bz2 = vekdc::bz2;
using Bytes = std::vector<uint8_t>;

constexpr size_t kScale = vek::testdata::kSanitized ? 8 : 1;

// Hands out the input in pieces of random size between 1 and maxPiece.
class RandomPieces : public bz2::ByteSource {
  public:
    RandomPieces(const Bytes& data, size_t maxPiece, uint32_t seed)
        : data_(data), max_(maxPiece), rng_(seed) {}
    size_t get(uint8_t* dst, size_t cap) override {
        const size_t k = std::min({cap, data_.size() - at_, 1 + rng_() % max_});
        std::copy_n(data_.begin() + static_cast<long>(at_), k, dst);
        at_ += k;
        return k;
    }

  private:
    const Bytes& data_;
    size_t max_;
    std::mt19937 rng_;
    size_t at_ = 0;
};

Bytes decode(const Bytes& stream, bz2::BlockPath path, size_t maxPiece, uint32_t seed,
             uint64_t* blocks = nullptr) {
    Bytes out;
    bz2::VectorSink sink(&out);
    RandomPieces src(stream, maxPiece, seed);
    bz2::Decoder dec(path);
    dec.run(src, sink);
    if (blocks) *blocks = dec.blocks();
    return out;
}

// Compresses with the input cut at random points.
Bytes encode_in_pieces(const Bytes& in, int level, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    bz2::VectorSink sink(&out);
    bz2::Encoder enc(level);
    for (size_t at = 0; at < in.size();) {
        const size_t k = std::min<size_t>(in.size() - at, 1 + rng() % 70000);
        enc.write(in.data() + at, k, sink);
        at += k;
    }
    enc.finish(sink);
    return out;
}

// Bytes without any run of two: the run-length stage passes them unchanged.
Bytes runless_bytes(size_t n) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + (i >> 11) * 3 + 1);
    return v;
}

using vek::testing::bz2::StreamReader;

// Reads the stream header and the first block's symbols (end-of-block
// included) with the library's Huffman decoder, leaving `rd` after the block.
std::vector<uint16_t> first_block(StreamReader& rd, StreamReader::Block* blk) {
    int level = 0;
    uint32_t combined = 0;
    EXPECT_TRUE(rd.stream_header(&level));
    EXPECT_EQ(rd.next(blk, &combined), StreamReader::Next::kBlock);
    int32_t size = 0;
    EXPECT_EQ(veksDecodeHuffGetSize_BZ2_8u16u(18002 * 50, &size), vekStatusOk);
    Bytes state(static_cast<size_t>(size));
    auto* st = reinterpret_cast<vekHuffDecState_BZ2*>(state.data());
    EXPECT_EQ(veksDecodeHuffInit_BZ2_8u16u(blk->dictSize + 2, st), vekStatusOk);
    uint32_t code;
    int32_t bits, left;
    const uint8_t* src;
    rd.to_library(&code, &bits, &src, &left);
    EXPECT_EQ(veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &src, &left, st), vekStatusOk);
    std::vector<uint16_t> sym(1 << 16);
    int32_t n = static_cast<int32_t>(sym.size());
    EXPECT_EQ(veksDecodeHuff_BZ2_8u16u(&code, &bits, &src, &left, sym.data(), &n, st), vekStatusOk);
    sym.resize(static_cast<size_t>(n) + 1);
    rd.from_library(src, bits);
    return sym;
}

std::string error_of(const Bytes& stream, bz2::BlockPath path = bz2::BlockPath::kFused) {
    try {
        bz2::decompress(stream.data(), stream.size(), path);
    } catch (const bz2::Bz2Error& e) {
        return e.what();
    }
    return "no error";
}

TEST(Bz2PipelinePeer, EmptyInputIsTheBareStreamRecord) {
    const Bytes expect = {'B', 'Z', 'h', '9', 0x17, 0x72, 0x45, 0x38, 0x50, 0x90, 0, 0, 0, 0};
    EXPECT_EQ(bz2::compress(nullptr, 0), expect);
    EXPECT_EQ(libbz2_compress(Bytes{}, 9), expect);
    const Bytes one = bz2::compress(nullptr, 0, 1);
    EXPECT_EQ(one[3], '1');
    EXPECT_TRUE(bz2::decompress(expect.data(), expect.size()).empty());
}

// "123456789" worked by hand: no runs; its rotations sort in rotation
// order, so the last column is 9 1 2 .. 8 with primary index 0; on the
// dictionary '1'..'9' that is 8 0 1 .. 7, whose move-to-front ranks are
// 8 1 2 3 4 5 6 7 8, coded as symbols 9 2 3 .. 9 and end-of-block 10. Both
// the block CRC and the combined CRC are the CRC's check value 0xFC891918.
TEST(Bz2PipelinePeer, FieldsOfAOneBlockStreamAreExact) {
    const Bytes in = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const Bytes stream = bz2::compress(in.data(), in.size(), 7);
    EXPECT_EQ(stream[3], '7');
    StreamReader rd(stream.data(), stream.size());
    StreamReader::Block blk;
    EXPECT_EQ(first_block(rd, &blk), (std::vector<uint16_t>{9, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(blk.crc, 0xFC891918u);
    EXPECT_FALSE(blk.randomised);
    EXPECT_EQ(blk.primary, 0u);
    EXPECT_EQ(blk.dictSize, 9);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(blk.inUse[v], v >= '1' && v <= '9') << v;
    uint32_t combined = 0;
    ASSERT_EQ(rd.next(&blk, &combined), StreamReader::Next::kEnd);
    EXPECT_EQ(combined, 0xFC891918u);
    EXPECT_LT(rd.bits_left(), 8u);  // only the padding of the last byte
    uint32_t pad = 1;
    EXPECT_TRUE(rd.get(static_cast<int>(rd.bits_left()), &pad));
    EXPECT_EQ(pad, 0u);
}

TEST(Bz2PipelinePeer, Libbz2DecodesOurStreamsAtEveryLevel) {
    const size_t n = 250000 / kScale;
    const std::vector<Bytes> inputs = {vek::testdata::text_bytes(n, 1),
                                       vek::testdata::random_bytes(n / 2, 2),
                                       vek::testdata::runs_bytes(n, 3), runless_bytes(n)};
    for (int level = 1; level <= 9; ++level) {
        const Bytes& in = inputs[static_cast<size_t>(level) % inputs.size()];
        const Bytes stream = encode_in_pieces(in, level, static_cast<uint32_t>(level));
        ASSERT_EQ(stream[3], '0' + level);
        ASSERT_EQ(libbz2_decompress(stream, in.size()), in) << "level " << level;
        // Splitting the input does not change the stream.
        ASSERT_EQ(bz2::compress(in.data(), in.size(), level), stream) << "level " << level;
    }
    const std::vector<Bytes> small = {Bytes{'a'},          Bytes{0, 0},           Bytes(4, 'x'),
                                      Bytes(5, 'x'),       Bytes(259, 'q'),       Bytes(260, 'q'),
                                      Bytes(100000, 0xFF), runless_bytes(256 * 3)};
    for (const Bytes& in : small) {
        const Bytes stream = bz2::compress(in.data(), in.size(), 9);
        ASSERT_EQ(libbz2_decompress(stream, in.size()), in) << in.size();
    }
}

TEST(Bz2PipelinePeer, BlocksFillToTheLevelsSizeAndRunsCrossThem) {
    // 99981 bytes of run-length output per block at level 1: two blocks hold
    // exactly twice that, one byte more needs a third.
    for (size_t extra : {size_t{0}, size_t{1}}) {
        const Bytes in = runless_bytes(2 * 99981 + extra);
        const Bytes stream = bz2::compress(in.data(), in.size(), 1);
        uint64_t blocks = 0;
        ASSERT_EQ(decode(stream, bz2::BlockPath::kFused, 1 << 20, 5, &blocks), in);
        EXPECT_EQ(blocks, 2 + extra);
        ASSERT_EQ(libbz2_decompress(stream, in.size()), in);
    }
    // Long runs whose encoded form ends exactly at, or one byte around, the
    // block limit: the open run is closed in the old block and the next
    // block starts afresh.
    for (size_t lead : {size_t{99975}, size_t{99976}, size_t{99977}, size_t{99978}}) {
        Bytes in = runless_bytes(lead);
        in.insert(in.end(), 1000, 'r');
        in.insert(in.end(), 7, 's');
        const Bytes stream = bz2::compress(in.data(), in.size(), 1);
        ASSERT_EQ(libbz2_decompress(stream, in.size()), in) << lead;
        ASSERT_EQ(bz2::decompress(stream.data(), stream.size()), in) << lead;
    }
}

TEST(Bz2PipelinePeer, LongRunsCloseAt255BytesAsBzip2Writes) {
    // Runs of 255 bytes and longer, a run that restarts with the same byte
    // right after a full one, and runs of 4 to 259 around the limits: the
    // whole stream equals libbz2's, so runs are cut where bzip2 cuts them.
    // The block's transform index, in-use map and coded symbols (which
    // follow from its run-length output) equal libbz2's; the Huffman
    // tables may differ.
    Bytes in;
    for (int len : {300, 255, 256, 259, 260, 4, 510, 1000, 3, 254})
        in.insert(in.end(), static_cast<size_t>(len), static_cast<uint8_t>('a' + len % 7));
    in.insert(in.end(), 255 + 4, 'z');
    const Bytes ours = bz2::compress(in.data(), in.size(), 9), theirs = libbz2_compress(in, 9);
    StreamReader ro(ours.data(), ours.size()), rt(theirs.data(), theirs.size());
    StreamReader::Block bo, bt;
    EXPECT_EQ(first_block(ro, &bo), first_block(rt, &bt));
    EXPECT_EQ(bo.primary, bt.primary);
    EXPECT_TRUE(std::equal(bo.inUse, bo.inUse + 256, bt.inUse));
    // Run-heavy data: within half a percent of libbz2's size.
    // (Full size under the sanitizers too: smaller outputs are dominated
    // by the coding tables.)
    const Bytes runs = vek::testdata::runs_bytes(600000, 21);
    const Bytes z = bz2::compress(runs.data(), runs.size(), 9);
    ASSERT_EQ(libbz2_decompress(z, runs.size()), runs);
    const Bytes zref = libbz2_compress(runs, 9);
    EXPECT_LT(std::abs(static_cast<double>(z.size()) / static_cast<double>(zref.size()) - 1),
              0.005);
}

TEST(Bz2PipelinePeer, SeveralMegabytesRoundTripBothWays) {
    Bytes in = vek::testdata::text_bytes(1200000 / kScale, 7);
    const Bytes rnd = vek::testdata::random_bytes(600000 / kScale, 8);
    const Bytes runs = vek::testdata::runs_bytes(700000 / kScale, 9);
    in.insert(in.end(), rnd.begin(), rnd.end());
    in.insert(in.end(), runs.begin(), runs.end());
    const Bytes ours = bz2::compress(in.data(), in.size(), 9);
    ASSERT_EQ(libbz2_decompress(ours, in.size()), in);
    ASSERT_EQ(decode(ours, bz2::BlockPath::kFused, 1 << 16, 11), in);
    const Bytes theirs = libbz2_compress(in, 9);
    ASSERT_EQ(decode(theirs, bz2::BlockPath::kFused, 1 << 16, 12), in);
    // The same data at the same block size comes out within half a percent
    // of libbz2's size.
    EXPECT_LT(std::abs(static_cast<double>(ours.size()) / static_cast<double>(theirs.size()) - 1),
              0.005);
}

TEST(Bz2PipelinePeer, Libbz2StreamsDecodeThroughBothBlockPathsInSmallPieces) {
    const Bytes text = vek::testdata::text_bytes(230000 / kScale, 21);
    const Bytes rnd = vek::testdata::random_bytes(60000 / kScale, 22);
    const Bytes runs = vek::testdata::runs_bytes(260000 / kScale, 23);
    uint32_t seed = 30;
    for (int level = 1; level <= 9; ++level) {
        const Bytes& in = level % 3 == 1 ? text : level % 3 == 2 ? rnd : runs;
        const Bytes stream = libbz2_compress(in, level);
        for (bz2::BlockPath path : {bz2::BlockPath::kFused, bz2::BlockPath::kStages}) {
            const size_t piece = level % 2 ? 7 : 1 << 20;
            ASSERT_EQ(decode(stream, path, piece, seed++), in) << "level " << level;
        }
    }
    for (const Bytes& in :
         {Bytes{'z'}, Bytes(3, 0), Bytes(70000 / kScale, 'k'), runless_bytes(1000)}) {
        const Bytes stream = libbz2_compress(in, 9);
        for (bz2::BlockPath path : {bz2::BlockPath::kFused, bz2::BlockPath::kStages})
            ASSERT_EQ(decode(stream, path, 1, seed++), in) << in.size();
    }
}

TEST(Bz2PipelinePeer, ConcatenatedStreamsDecodeToTheirConcatenation) {
    const Bytes a = vek::testdata::text_bytes(40000, 31);
    const Bytes b = vek::testdata::runs_bytes(30000, 32);
    Bytes streams = bz2::compress(a.data(), a.size(), 3);
    const Bytes theirs = libbz2_compress(b, 1);
    streams.insert(streams.end(), theirs.begin(), theirs.end());
    const Bytes empty = bz2::compress(nullptr, 0, 9);
    streams.insert(streams.end(), empty.begin(), empty.end());
    streams.insert(streams.end(), theirs.begin(), theirs.end());
    Bytes expect = a;
    expect.insert(expect.end(), b.begin(), b.end());
    expect.insert(expect.end(), b.begin(), b.end());
    bz2::Decoder dec;
    Bytes out;
    bz2::VectorSink sink(&out);
    RandomPieces src(streams, 5, 33);
    dec.run(src, sink);
    EXPECT_EQ(out, expect);
    EXPECT_EQ(dec.streams(), 4u);
}

TEST(Bz2PipelinePeer, DamagedStreamsAreRefusedWithTheProblemNamed) {
    const Bytes in = vek::testdata::text_bytes(150000, 41);
    const Bytes good = bz2::compress(in.data(), in.size(), 1);  // two blocks
    auto with = [&](size_t at, uint8_t x) {
        Bytes b = good;
        b[at] ^= x;
        return b;
    };
    EXPECT_NE(error_of(with(10, 0x01)).find("block 1 CRC mismatch"), std::string::npos);
    EXPECT_NE(error_of(with(13, 0x80), bz2::BlockPath::kStages).find("CRC mismatch"),
              std::string::npos);
    EXPECT_NE(error_of(with(14, 0x80)).find("randomised"), std::string::npos);
    EXPECT_NE(error_of(with(4, 0x01)).find("bad block magic"), std::string::npos);
    EXPECT_NE(error_of(with(good.size() - 1, 0xFF)).find("combined CRC mismatch"),
              std::string::npos);
    EXPECT_NE(error_of(with(3, 0x01)).find("block size digit"), std::string::npos);  // '1' -> '0'
    EXPECT_NE(error_of(with(0, 0x20)).find("'BZh'"), std::string::npos);
    for (size_t cut :
         {size_t{2}, size_t{4}, size_t{20}, good.size() / 2, good.size() - 5, good.size() - 1}) {
        const Bytes b(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_NE(error_of(b).find("truncated"), std::string::npos) << cut;
    }
    // A block larger than the header's size allows, also after a stream
    // whose larger blocks the decoder's buffers were sized for.
    const Bytes big = runless_bytes(150000);
    Bytes as1 = bz2::compress(big.data(), big.size(), 9);
    as1[3] = '1';
    for (bz2::BlockPath path : {bz2::BlockPath::kFused, bz2::BlockPath::kStages}) {
        EXPECT_NE(error_of(as1, path).find("block size"), std::string::npos);
        Bytes both = bz2::compress(big.data(), big.size(), 9);
        both.insert(both.end(), as1.begin(), as1.end());
        EXPECT_NE(error_of(both, path).find("block size"), std::string::npos);
    }
    Bytes trailing = good;
    trailing.push_back('x');
    EXPECT_NE(error_of(trailing).find("trailing garbage"), std::string::npos);
    EXPECT_NE(error_of(Bytes{}).find("empty input"), std::string::npos);
    // Damage anywhere in the coded data is caught by one check or another.
    std::mt19937 rng(42);
    for (int i = 0; i < 40; ++i) {
        const size_t at = 4 + rng() % (good.size() - 5);  // not the last byte: it has padding
        EXPECT_NE(error_of(with(at, static_cast<uint8_t>(1 + rng() % 255))), "no error") << at;
    }
}

}  // namespace
