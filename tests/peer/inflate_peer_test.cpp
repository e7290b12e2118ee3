// Raw Deflate streams written by zlib (every level and strategy, flushes),
// libdeflate (every level) and ISA-L (every level) decode back to their
// input through the stream parser: all at once, with the input in pieces
// of 1 to 7 bytes, and with the output drained in pieces of 0 to a few
// bytes through dstIdx, winIdx and a 32 KiB circular window; also with
// every dynamic block decoded by the general table form.
#include <gtest/gtest.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "deflate/inflate.h"
#include "deflate_stream_parser.h"
#include "test_data.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vek::testinflate::DriveOptions;
using vek::testinflate::DriveResult;
using vek::testinflate::Outcome;

struct Input {
    std::string name;
    Bytes data;
};

// Structured binary: little records with counters, floats and padding.
Bytes binary_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes v;
    uint32_t counter = 0;
    while (v.size() < n) {
        const uint32_t rec[4] = {counter++, uint32_t(rng() % 1000),
                                 0x3F800000u + uint32_t(rng() & 0xFFFF), 0};
        const uint8_t* p = reinterpret_cast<const uint8_t*>(rec);
        v.insert(v.end(), p, p + 16);
    }
    v.resize(n);
    return v;
}

// The sanitizer build runs without optimisation: the large inputs shrink there.
constexpr size_t kLarge = vek::testdata::kSanitized ? 1u << 16 : 1u << 20;
constexpr int kLevelStep = vek::testdata::kSanitized ? 4 : 1;  // and fewer levels

const std::vector<Input>& inputs() {
    using namespace vek::testdata;
    static const std::vector<Input> in = {{"text", text_bytes(120000, 1)},
                                          {"binary", binary_bytes(90000, 2)},
                                          {"random", random_bytes(70000, 3)},
                                          {"runs", runs_bytes(200000, 4)},
                                          {"zeros", Bytes(100000, 0)},
                                          {"tiny0", {}},
                                          {"tiny1", {'x'}},
                                          {"tiny5", {'a', 'b', 'a', 'b', 'a'}},
                                          {"tiny40", text_bytes(40, 5)},
                                          {"large-text", text_bytes(2 * kLarge, 6)},
                                          {"large-mixed", [] {
                                               Bytes v = binary_bytes(kLarge, 7);
                                               const Bytes r = random_bytes(kLarge / 2, 8),
                                                           t = runs_bytes(kLarge / 2, 9);
                                               v.insert(v.end(), r.begin(), r.end());
                                               v.insert(v.end(), t.begin(), t.end());
                                               return v;
                                           }()}};
    return in;
}

Bytes zlib_raw(const Bytes& src, int level, int strategy, int memLevel = 8,
               uint32_t flushSeed = 0) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy), Z_OK);
    Bytes out(deflateBound(&z, uLong(src.size())) + 1024 + src.size() / 8);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    std::mt19937 rng(flushSeed);
    size_t pos = 0;
    // With a flush seed the input goes in pieces, each ended by a sync or
    // full flush (empty stored blocks in the stream) or by none.
    while (pos < src.size()) {
        const size_t n =
            flushSeed ? std::min<size_t>(src.size() - pos, 1 + rng() % 20000) : src.size();
        z.next_in = const_cast<Bytef*>(src.data() + pos);
        z.avail_in = uInt(n);
        const int fl = flushSeed ? (rng() % 3 == 0 ? Z_FULL_FLUSH
                                    : rng() % 2    ? Z_SYNC_FLUSH
                                                   : Z_NO_FLUSH)
                                 : Z_NO_FLUSH;
        EXPECT_EQ(deflate(&z, fl), Z_OK);
        pos += n;
    }
    z.avail_in = 0;
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes libdeflate_raw(const Bytes& src, int level) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    EXPECT_NE(c, nullptr);
    Bytes out(libdeflate_deflate_compress_bound(c, src.size()) + 16);
    const size_t n = libdeflate_deflate_compress(c, src.data(), src.size(), out.data(), out.size());
    libdeflate_free_compressor(c);
    EXPECT_GT(n, 0u);
    out.resize(n);
    return out;
}

Bytes isal_raw(const Bytes& src, int level) {
    static const uint32_t kLevelBuf[4] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT,
                                          ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
    std::unique_ptr<isal_zstream> s(new isal_zstream());
    isal_deflate_init(s.get());
    Bytes levelBuf(kLevelBuf[level] + 64);
    Bytes out(src.size() + src.size() / 8 + 1024);
    s->level = uint32_t(level);
    s->level_buf = levelBuf.data();
    s->level_buf_size = uint32_t(levelBuf.size());
    s->gzip_flag = IGZIP_DEFLATE;
    s->end_of_stream = 1;
    s->flush = NO_FLUSH;
    s->next_in = const_cast<uint8_t*>(src.data());
    s->avail_in = uint32_t(src.size());
    s->next_out = out.data();
    s->avail_out = uint32_t(out.size());
    // The stream ends when the encoder says so; it may stop earlier on
    // its own between calls.
    for (int calls = 0; s->internal_state.state != ZSTATE_END && calls < 1000; ++calls) {
        if (s->avail_out == 0) {
            const size_t done = out.size();
            out.resize(2 * done);
            s->next_out = out.data() + done;
            s->avail_out = uint32_t(out.size() - done);
        }
        EXPECT_EQ(isal_deflate(s.get()), COMP_OK);
    }
    EXPECT_EQ(s->internal_state.state, ZSTATE_END);
    EXPECT_EQ(s->avail_in, 0u);
    out.resize(s->total_out);
    return out;
}

// Rebuilds every dynamic block's table in the general form.
void to_general(const uint16_t* lens, uint32_t nLit, uint32_t nDist, vekInflateState* st, void*) {
    uint8_t lit[288], dist[30];
    for (uint32_t i = 0; i < nLit; ++i) lit[i] = uint8_t(lens[i]);
    for (uint32_t i = 0; i < nDist; ++i) dist[i] = uint8_t(lens[nLit + i]);
    ASSERT_TRUE(vek::deflate::build_general_table(lit, nLit, dist, nDist, st->tables));
    st->tableType = vekInflateTableGeneral;
}

// Decodes `stream` in every way and expects `want` each time, with the same
// block ends and the stream's last byte reached. Streams of more than 100 kB
// take the whole-input way and one other, chosen by the seed.
void expect_decodes(const Bytes& stream, const Bytes& want, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<vek::testinflate::StreamBlockEnd> blocks;
    for (int config = 0; config < 4; ++config) {
        if (want.size() > 100000 && config != 0 && config != int(1 + seed % 3)) continue;
        DriveOptions o;
        o.outLimit = want.size();
        o.seed = rng();
        if (config == 1)
            o.maxInPiece = 7, o.preloadBits = true, o.exactInput = want.size() < 300000;
        if (config == 2) {
            o.useWindow = true;
            o.winSize = 32768;
            o.chunkSize = 1 + rng() % 70000;
            o.maxOutPiece = rng() % 2 ? 1 + rng() % 8 : 1 + rng() % 2000;
            o.randomDrain = true;
        }
        if (config == 3) o.afterBuild = to_general, o.maxInPiece = rng() % 2 ? 0 : 1 + rng() % 64;
        const DriveResult d = vek::testinflate::inflate_stream(stream.data(), stream.size(), o);
        ASSERT_EQ(d.outcome, Outcome::kOk) << "config " << config << ": " << d.broken;
        ASSERT_TRUE(d.out == want) << "config " << config;
        EXPECT_LE(d.endBit, stream.size() * 8);
        EXPECT_GT(d.endBit + 8, stream.size() * 8);
        if (config == 0) blocks = d.blocks;
        ASSERT_EQ(d.blocks.size(), blocks.size());
        for (size_t i = 0; i < blocks.size(); ++i)
            ASSERT_TRUE(d.blocks[i].bit == blocks[i].bit && d.blocks[i].out == blocks[i].out) << i;
    }
}

TEST(InflatePeers, ZlibEveryLevel) {
    for (const Input& in : inputs())
        for (int level = 0; level <= 9; level += kLevelStep) {
            if (in.data.size() > 300000 && level % 8 != 1) continue;
            SCOPED_TRACE(in.name + " zlib level " + std::to_string(level));
            expect_decodes(zlib_raw(in.data, level, Z_DEFAULT_STRATEGY), in.data, uint32_t(level));
        }
}

TEST(InflatePeers, ZlibStrategies) {
    for (const Input& in : inputs())
        for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
            for (int level : {1, 6, 9}) {
                if ((in.data.size() > 300000 || kLevelStep > 1) && level != 6) continue;
                SCOPED_TRACE(in.name + " zlib strategy " + std::to_string(strategy) + " level " +
                             std::to_string(level));
                expect_decodes(zlib_raw(in.data, level, strategy), in.data,
                               uint32_t(strategy * 16 + level));
            }
}

TEST(InflatePeers, ZlibFlushesAndSmallMemory) {
    for (const Input& in : inputs()) {
        if (in.data.size() > 300000) continue;
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(in.name + " zlib flushes " + std::to_string(seed));
            expect_decodes(zlib_raw(in.data, int(seed * 3), Z_DEFAULT_STRATEGY, 8, seed), in.data,
                           seed);
        }
        SCOPED_TRACE(in.name + " zlib memLevel 1");  // many small blocks
        expect_decodes(zlib_raw(in.data, 6, Z_DEFAULT_STRATEGY, 1), in.data, 99);
    }
}

TEST(InflatePeers, LibdeflateEveryLevel) {
    for (const Input& in : inputs())
        for (int level = 0; level <= 12; level += kLevelStep) {
            if (in.data.size() > 300000 && level % 6 != 1) continue;
            SCOPED_TRACE(in.name + " libdeflate level " + std::to_string(level));
            expect_decodes(libdeflate_raw(in.data, level), in.data, uint32_t(100 + level));
        }
}

TEST(InflatePeers, IsalEveryLevel) {
    for (const Input& in : inputs())
        for (int level = 0; level <= 3; ++level) {
            SCOPED_TRACE(in.name + " isa-l level " + std::to_string(level));
            expect_decodes(isal_raw(in.data, level), in.data, uint32_t(200 + level));
        }
}

}  // namespace
