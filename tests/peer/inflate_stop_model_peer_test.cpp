// Raw Deflate streams from zlib, block by block through the inflater in
// random pieces, every call compared with the bit-by-bit stop model, the
// window holding the stream's earlier output; the blocks together must give
// back the original bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "deflate_block_header.h"
#include "inflate_stop_driver.h"
#include "test_data.h"

namespace {

using namespace vek::stopdriver;
using Bytes = std::vector<uint8_t>;

Bytes zlib_raw(const Bytes& in, int level, int strategy, int memLevel) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy), Z_OK);
    Bytes out(deflateBound(&z, in.size()) + 64);
    z.next_in = const_cast<uint8_t*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct BitReader {
    const Bytes& s;
    uint64_t pos = 0;  // in bits
    bool get(uint32_t n, uint32_t* v) {
        if (pos + n > 8 * s.size()) return false;
        *v = 0;
        for (uint32_t i = 0; i < n; ++i, ++pos) *v |= ((s[pos / 8] >> (pos % 8)) & 1u) << i;
        return true;
    }
};

// Decodes the whole stream: headers here, bodies through the driver.
Bytes decode_stream(const Bytes& s, std::mt19937& rng, Stats& stats) {
    Bytes out;
    BitReader br{s};
    for (uint32_t last = 0; !last;) {
        uint32_t type;
        if (!br.get(1, &last) || !br.get(2, &type)) break;
        if (type == 0) {
            br.pos = (br.pos + 7) / 8 * 8;
            uint32_t len = 0, nlen = 0;
            EXPECT_TRUE(br.get(16, &len) && br.get(16, &nlen));
            out.insert(out.end(), s.begin() + br.pos / 8, s.begin() + br.pos / 8 + len);
            br.pos += 8 * len;
            continue;
        }
        Case c;
        if (type == 1) {
            c.form = Form::kFixed;
            c.lit = fixed_lit();
            c.dist = Lens(32, 5);
        } else {
            uint16_t lens[vekdc::deflate_header::kMaxLengths];
            uint32_t nlit = 0, ndist = 0;
            auto bits = [&](uint32_t n, uint32_t* v) { return br.get(n, v); };
            EXPECT_EQ(vekdc::deflate_header::read_dynamic_lengths(bits, lens, &nlit, &ndist),
                      vekdc::deflate_header::Error::kNone);
            c.lit.assign(lens, lens + nlit);
            c.dist.assign(lens + nlit, lens + nlit + ndist);
            int mLit = 0, mDist = 0;
            for (uint8_t l : c.lit) mLit = std::max<int>(mLit, l);
            for (uint8_t l : c.dist) mDist = std::max<int>(mDist, l);
            // The builder's own choice, or the general form for any lengths.
            c.form = mLit <= 11 && mDist <= 10 && rng() % 2 ? Form::kShort : Form::kGeneral;
        }
        c.nLit = static_cast<uint32_t>(c.lit.size());
        c.nDist = static_cast<uint32_t>(c.dist.size());
        c.stream.assign(s.begin() + br.pos / 8, s.end());
        c.skipBits = br.pos % 8;
        c.madeUpSteps = false;
        c.winSize = 1u << (15 + rng() % 2);
        c.history.assign(out.end() - std::min<size_t>(out.size(), 32768), out.end());
        Driven d;
        drive(c, rng, stats, &d);
        if (testing::Test::HasFatalFailure() || !d.blockEnd) {
            ADD_FAILURE() << "block did not end";
            break;
        }
        out.insert(out.end(), d.out.begin(), d.out.end());
        br.pos = br.pos / 8 * 8 + d.endBit;
    }
    return out;
}

TEST(InflateStopModelPeer, ZlibStreamsCallByCall) {
    std::mt19937 rng(7);
    Stats stats;
    const size_t n = vek::testdata::kSanitized ? 6000 : 40000;
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_FILTERED};
    for (int round = 0; round < 40; ++round) {
        const size_t size = round % 4 == 0 ? rng() % 64 : rng() % n;
        Bytes data;
        switch (round % 3) {
            case 0:
                data = vek::testdata::text_bytes(size, round);
                break;
            case 1:
                data = vek::testdata::runs_bytes(size, round);
                break;
            default:
                data = vek::testdata::random_bytes(size, round);
                break;
        }
        const int level = 1 + rng() % 9, strategy = strategies[rng() % 5];
        const int memLevel = 1 + rng() % 9;  // small ones make many blocks
        const Bytes s = zlib_raw(data, level, strategy, memLevel);
        SCOPED_TRACE(testing::Message() << "round " << round << " size " << size << " level "
                                        << level << " strategy " << strategy);
        const Bytes got = decode_stream(s, rng, stats);
        if (HasFatalFailure()) return;
        ASSERT_EQ(got, data);
    }
    EXPECT_GT(stats.forms[0], 0u);
    EXPECT_GT(stats.forms[1], 0u);
    EXPECT_GT(stats.forms[2], 0u);
}

}  // namespace
