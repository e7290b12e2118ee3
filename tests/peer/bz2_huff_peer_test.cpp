// The bzip2-format Huffman stages against libbz2, both ways: every block of
// streams libbz2 wrote (block sizes 1..9) is decoded with the library's
// context unpacker, Huffman decoder and block decoder, fed in random pieces,
// and checked with the block CRC; and streams whose blocks were coded by the
// library's encoder are decompressed by libbz2.
#include <bzlib.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bz2_huff_model.h"
#include "bz2_stream_reader.h"
#include "test_data.h"
#include "libbz2_oracle.h"
#include "vekdc.h"

namespace {

namespace model = vek::testing::bz2model;
using vek::testing::bz2::StreamReader;
using vek::testing::bz2::StreamWriter;
using Bytes = std::vector<uint8_t>;

constexpr size_t kScale = vek::testdata::kSanitized ? 8 : 1;

// Selectors of the largest block; the decoder state is sized for it.
constexpr int32_t kStateSymbols = 900100;

uint32_t crc_bz2(const Bytes& b) {
    uint32_t crc = 0;
    if (!b.empty()) {
        EXPECT_EQ(veksCRC32_BZ2_8u(b.data(), static_cast<int32_t>(b.size()), &crc), vekStatusOk);
    }
    return crc;
}

// Decodes a whole .bz2 stream with the library's stages; the source goes to
// the Huffman stages in random pieces of up to maxPiece bytes.
Bytes decode_stream(const Bytes& stream, uint32_t seed, size_t maxPiece) {
    std::mt19937 rng(seed);
    StreamReader rd(stream.data(), stream.size());
    int level = 0;
    EXPECT_TRUE(rd.stream_header(&level));
    const int32_t blockMax = level * 100000;
    int32_t size = 0;
    EXPECT_EQ(veksDecodeHuffGetSize_BZ2_8u16u(kStateSymbols, &size), vekStatusOk);
    Bytes stateMem(static_cast<size_t>(size));
    auto* st = reinterpret_cast<vekHuffDecState_BZ2*>(stateMem.data());
    EXPECT_EQ(veksDecodeBlockGetSize_BZ2_8u(static_cast<uint32_t>(blockMax), &size), vekStatusOk);
    Bytes work(static_cast<size_t>(size));
    std::vector<uint16_t> sym(static_cast<size_t>(blockMax) + 2);
    Bytes rle(static_cast<size_t>(blockMax));
    Bytes out;
    uint32_t combined = 0;
    for (;;) {
        StreamReader::Block blk;
        uint32_t streamCrc = 0;
        const StreamReader::Next nx = rd.next(&blk, &streamCrc);
        if (nx == StreamReader::Next::kEnd) {
            EXPECT_EQ(streamCrc, combined);
            break;
        }
        if (nx != StreamReader::Next::kBlock) {
            ADD_FAILURE() << "bad block header";
            return {};
        }
        EXPECT_FALSE(blk.randomised);
        uint32_t code;
        int32_t bits, left;
        const uint8_t* src;
        rd.to_library(&code, &bits, &src, &left);
        const uint8_t* end = src + left;
        auto piece = [&] {
            return static_cast<int32_t>(std::min<size_t>(end - src, 1 + rng() % maxPiece));
        };

        EXPECT_EQ(veksDecodeHuffInit_BZ2_8u16u(blk.dictSize + 2, st), vekStatusOk);
        vekStatus s = vekStatusSrcTooSmall;
        while (s == vekStatusSrcTooSmall && src < end) {
            int32_t n = piece();
            const uint8_t* p = src;
            s = veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &n, st);
            src = p;
        }
        if (s != vekStatusOk) {
            ADD_FAILURE() << "unpack status " << s;
            return {};
        }
        int32_t count = 0;
        for (;;) {
            int32_t n = piece();
            const uint8_t* p = src;
            int32_t room = static_cast<int32_t>(sym.size()) - count;
            s = veksDecodeHuff_BZ2_8u16u(&code, &bits, &p, &n, sym.data() + count, &room, st);
            src = p;
            count += room;
            if (s != vekStatusSrcTooSmall) break;
        }
        if (s != vekStatusOk) {
            ADD_FAILURE() << "decode status " << s;
            return {};
        }
        EXPECT_EQ(sym[static_cast<size_t>(count)],
                  blk.dictSize + 1);  // end-of-block stored, not counted
        rd.from_library(src, bits);

        int32_t n = blockMax;
        s = veksDecodeBlock_BZ2_16u8u(sym.data(), count, rle.data(), &n,
                                      static_cast<int32_t>(blk.primary), blk.dictSize, blk.inUse,
                                      work.data());
        if (s != vekStatusOk) {
            ADD_FAILURE() << "block status " << s;
            return {};
        }
        const Bytes block = vek::testref::model_rle_decode(Bytes(rle.begin(), rle.begin() + n));
        const uint32_t crc = crc_bz2(block);
        EXPECT_EQ(crc, blk.crc);
        combined = ((combined << 1) | (combined >> 31)) ^ crc;
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

TEST(Bz2HuffPeer, DecodesLibbz2StreamsAtEveryBlockSize) {
    const Bytes text = vek::testdata::text_bytes(260000 / kScale, 1);
    const Bytes rnd = vek::testdata::random_bytes(40000 / kScale, 2);
    const Bytes runs = vek::testdata::runs_bytes(300000 / kScale, 3);
    uint32_t seed = 10;
    for (int level = 1; level <= 9; ++level) {
        const Bytes& in = level % 3 == 1 ? text : level % 3 == 2 ? rnd : runs;
        const Bytes stream = vek::testing::libbz2_compress(in, level);
        ASSERT_EQ(decode_stream(stream, seed++, level % 2 ? 1u << 20 : 5), in) << "level " << level;
    }
    for (const Bytes& in : {Bytes{'a'}, Bytes(100000 / kScale, 'r'), Bytes(2, 0xFF)}) {
        const Bytes stream = vek::testing::libbz2_compress(in, 9);
        ASSERT_EQ(decode_stream(stream, seed++, 3), in);
    }
    Bytes all(256 * 40);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    ASSERT_EQ(decode_stream(vek::testing::libbz2_compress(all, 2), seed++, 1 << 20), all);
}

// A .bz2 stream whose blocks run through the plain forward stages and then
// the library's Huffman encoder.
Bytes encode_stream(const Bytes& in, size_t blockBytes) {
    StreamWriter w;
    w.stream_header(9);
    uint32_t combined = 0;
    for (size_t at = 0; at < in.size(); at += blockBytes) {
        const Bytes block(in.begin() + static_cast<long>(at),
                          in.begin() + static_cast<long>(std::min(in.size(), at + blockBytes)));
        const uint32_t crc = crc_bz2(block);
        combined = ((combined << 1) | (combined >> 31)) ^ crc;
        uint8_t inUse[256];
        int primary = 0;
        std::vector<uint16_t> sym;
        const int alpha = model::block_symbols(block, &sym, inUse, &primary);
        std::vector<uint32_t> freq(static_cast<size_t>(alpha), 0);
        for (uint16_t s : sym) ++freq[s];

        w.block_header(crc, static_cast<uint32_t>(primary), inUse);
        int32_t size = 0;
        EXPECT_EQ(veksEncodeHuffGetSize_BZ2_16u8u(static_cast<int32_t>(sym.size()), &size),
                  vekStatusOk);
        Bytes stateMem(static_cast<size_t>(size));
        auto* st = reinterpret_cast<vekHuffEncState_BZ2*>(stateMem.data());
        EXPECT_EQ(veksEncodeHuffInit_BZ2_16u8u(alpha, freq.data(), sym.data(),
                                               static_cast<int32_t>(sym.size()), st),
                  vekStatusOk);
        const size_t base = w.out.size();
        w.out.resize(base + sym.size() * 3 + 8192);
        int32_t n = static_cast<int32_t>(w.out.size() - base);
        EXPECT_EQ(
            veksPackHuffContext_BZ2_16u8u(&w.code, &w.codeLenBits, w.out.data() + base, &n, st),
            vekStatusOk);
        size_t used = base + static_cast<size_t>(n);
        const uint16_t* p = sym.data();
        int32_t left = static_cast<int32_t>(sym.size());
        n = static_cast<int32_t>(w.out.size() - used);
        EXPECT_EQ(veksEncodeHuff_BZ2_16u8u(&w.code, &w.codeLenBits, &p, &left, w.out.data() + used,
                                           &n, st),
                  vekStatusOk);
        w.out.resize(used + static_cast<size_t>(n));
    }
    w.end(combined);
    return w.out;
}

TEST(Bz2HuffPeer, Libbz2DecodesBlocksCodedByTheLibrary) {
    std::vector<Bytes> inputs = {vek::testdata::text_bytes(120000 / kScale, 21),
                                 vek::testdata::random_bytes(50000 / kScale, 22),
                                 vek::testdata::runs_bytes(150000 / kScale, 23), Bytes{'x'},
                                 Bytes(3000, 0)};
    Bytes all(256 * 12);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    inputs.push_back(all);
    for (const Bytes& in : inputs) {
        for (size_t blockBytes : {size_t{40000}, size_t{777}}) {
            if (blockBytes == 777 && in.size() > 20000) continue;
            const Bytes stream = encode_stream(in, blockBytes);
            ASSERT_EQ(vek::testing::libbz2_decompress(stream, in.size()), in)
                << in.size() << " / " << blockBytes;
            // And the library reads back its own stream.
            ASSERT_EQ(decode_stream(stream, 99, 7), in);
        }
    }
}

}  // namespace
