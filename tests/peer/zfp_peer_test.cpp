// ZFP blocks against libzfp, block by block: our streams equal libzfp's block
// encoder output for the same parameters, libzfp decodes our streams to the
// values our decoder gives, and where the two differ by design a test says
// why.
#include <gtest/gtest.h>
#include <zfp.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "forced_cpu_services.h"
#include "core/cpu.h"
#include "zfp_blocks.h"

namespace {

using namespace vek::testdata;
using Bytes = std::vector<uint8_t>;

// libzfp's name for "no limit" differs from ours; both mean that no 3-D
// float block is ever cut.
uint peer_max_bits(int32_t ours) {
    return ours == 4171 ? ZFP_MAX_BITS : uint(ours);
}
int peer_min_exp(int32_t ours) {
    return ours == -10740 ? ZFP_MIN_EXP : ours;
}

struct Peer {
    Bytes buf;
    bitstream* bs = nullptr;
    zfp_stream* zs = nullptr;
    Peer(size_t cap, const ZfpParams& p) : buf(cap + 8) {
        bs = stream_open(buf.data(), buf.size());
        zs = zfp_stream_open(bs);
        EXPECT_TRUE(zfp_stream_set_params(zs, uint(p.min_bits), peer_max_bits(p.max_bits),
                                          uint(p.max_prec), peer_min_exp(p.min_exp)));
    }
    Peer(const Bytes& stream, const ZfpParams& p) : Peer(stream.size(), p) {
        std::memcpy(buf.data(), stream.data(), stream.size());
    }
    ~Peer() {
        zfp_stream_close(zs);
        stream_close(bs);
    }
    Bytes encode(const std::vector<ZfpBlock>& blocks) {
        for (const ZfpBlock& b : blocks) zfp_encode_block_float_3(zs, b.v);
        zfp_stream_flush(zs);
        return Bytes(buf.begin(), buf.begin() + zfp_stream_compressed_size(zs));
    }
    std::vector<ZfpBlock> decode(size_t count) {
        std::vector<ZfpBlock> out(count);
        zfp_stream_rewind(zs);
        for (ZfpBlock& b : out) zfp_decode_block_float_3(zs, b.v);
        return out;
    }
};

std::vector<ZfpParams> all_modes() {
    std::vector<ZfpParams> modes;
    modes.push_back(ZfpParams{});  // all planes
    // Fixed rates; the odd ones straddle word boundaries in many ways.
    for (int r : {1, 2, 3, 7, 8, 11, 13, 16, 21, 32}) modes.push_back({64 * r, 64 * r, 64, -10740});
    for (int prec : {1, 2, 5, 8, 16, 24, 31, 32}) modes.push_back({0, 4171, prec, -10740});
    for (int e : {-30, -10, 0, 5}) modes.push_back({0, 4171, 64, e});  // accuracy 2^e
    modes.push_back({100, 500, 20, -5});                               // expert mix
    modes.push_back({0, 9, 64, -10740});                               // header only
    modes.push_back({0, 40, 64, -10740});                              // tiny budget
    return modes;
}

// Debian's libzfp writes its stream in bytes, we in 64-bit little-endian
// words, which lay the bits out identically; only the flush differs, ours
// filling the last word with zeros.
void expect_same_stream(const Bytes& ours, const Bytes& theirs) {
    ASSERT_EQ(ours.size(), (theirs.size() + 7) / 8 * 8);
    ASSERT_EQ(Bytes(ours.begin(), ours.begin() + theirs.size()), theirs);
    for (size_t i = theirs.size(); i < ours.size(); ++i) ASSERT_EQ(ours[i], 0) << i;
}

void expect_same_values(const std::vector<ZfpBlock>& a, const std::vector<ZfpBlock>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        for (int j = 0; j < 64; ++j)
            ASSERT_EQ(zfp_float_to_bits(a[i].v[j]), zfp_float_to_bits(b[i].v[j]))
                << "block " << i << " value " << j;
}

void check_both_directions(const std::vector<ZfpBlock>& blocks) {
    for (const ZfpParams& p : all_modes()) {
        SCOPED_TRACE(testing::Message() << "params " << p.min_bits << " " << p.max_bits << " "
                                        << p.max_prec << " " << p.min_exp);
        const Bytes ours = zfp_encode(blocks, p);
        ASSERT_FALSE(ours.empty());
        Peer enc(blocks.size() * 600 + 64, p);
        expect_same_stream(ours, enc.encode(blocks));
        std::vector<ZfpBlock> mine;
        ASSERT_TRUE(zfp_decode(ours, p, blocks.size(), &mine));
        Peer dec(ours, p);
        expect_same_values(mine, dec.decode(blocks.size()));
    }
}

TEST(ZfpPeers, StreamsMatchLibzfpInEveryMode) {
    check_both_directions(zfp_block_mix(1, 60));
    std::mt19937 rng(2);
    std::vector<ZfpBlock> random, smooth, extreme;
    for (int i = 0; i < 20; ++i) {
        random.push_back(zfp_random_block(rng, -60, 60));
        smooth.push_back(zfp_smooth_block(rng));
        extreme.push_back(zfp_extreme_block(rng));
    }
    check_both_directions(random);
    check_both_directions(smooth);
    check_both_directions(extreme);
}

TEST(ZfpPeers, PortableKernelsMatchLibzfpToo) {
    vek::core::testing::HiddenFeatures guard(vek::core::kFeatureAvx2);
    check_both_directions(zfp_block_mix(3, 25));
}

// Our accuracy setting derives the same minimum exponent as libzfp's.
TEST(ZfpPeers, AccuracyModeMatchesLibzfp) {
    const std::vector<ZfpBlock> blocks = zfp_block_mix(4, 30);
    for (double tol : {1e-3, 0.5, 1.0, 3.0, 1e-7, 123.0}) {
        Bytes buf(blocks.size() * 600);
        vekZfpState_32f st;
        ASSERT_EQ(veksEncodeZfpInit_32f(buf.data(), int32_t(buf.size()), &st), vekStatusOk);
        ASSERT_EQ(veksEncodeZfpSetAccuracy_32f(tol, &st), vekStatusOk);
        for (const ZfpBlock& b : blocks)
            ASSERT_EQ(veksEncodeZfp444_32f(b.v, 16, 64, &st), vekStatusOk);
        ASSERT_EQ(veksEncodeZfpFlush_32f(&st), vekStatusOk);
        int32_t size = 0;
        ASSERT_EQ(veksEncodeZfpGetCompressedSize_32f(&st, &size), vekStatusOk);

        Bytes pbuf(buf.size() + 8);
        bitstream* bs = stream_open(pbuf.data(), pbuf.size());
        zfp_stream* zs = zfp_stream_open(bs);
        zfp_stream_set_accuracy(zs, tol);
        for (const ZfpBlock& b : blocks) zfp_encode_block_float_3(zs, b.v);
        zfp_stream_flush(zs);
        expect_same_stream(Bytes(buf.begin(), buf.begin() + size),
                           Bytes(pbuf.begin(), pbuf.begin() + zfp_stream_compressed_size(zs)));
        zfp_stream_close(zs);
        stream_close(bs);
    }
}

// Blocks whose largest magnitude is below 2^-96 are where the formats part
// by design. Our scale factor's exponent is capped (2^127 at most) so the
// encoder still produces in-range integers, where libzfp's 2^(30 - emax)
// overflows to infinity for emax <= -98; and our decoder's factor has a
// biased exponent floored at zero, so such blocks decode to zeros where
// libzfp rebuilds subnormal values. Both sides still agree on the header.
TEST(ZfpPeers, TinyBlocksDifferByDesign) {
    ZfpBlock b;
    for (int i = 0; i < 64; ++i) b.v[i] = std::ldexp(1.0f + i / 64.0f, -100);  // emax = -99
    const ZfpParams p{};
    const Bytes ours = zfp_encode({b}, p);
    Peer enc(1000, p);
    const Bytes theirs = enc.encode({b});
    ASSERT_GE(ours.size(), 2u);
    ASSERT_GE(theirs.size(), 2u);
    // Same 9-bit header: 2 * emax + 255.
    EXPECT_EQ((ours[0] | ours[1] << 8) & 0x1FF, 2 * -99 + 255);
    EXPECT_EQ((theirs[0] | theirs[1] << 8) & 0x1FF, 2 * -99 + 255);
    EXPECT_NE(ours, theirs);
    // Our integers are the values times 2^127, well inside 30 bits.
    vekZfpState_32f st;
    Bytes buf(600);
    ASSERT_EQ(veksEncodeZfpInit_32f(buf.data(), 600, &st), vekStatusOk);
    ASSERT_EQ(veksEncodeZfp444_32f(b.v, 16, 64, &st), vekStatusOk);
    EXPECT_EQ(st.fBlock[0], b.v[0]);
    // Before the transform the block held 2^27 .. 2^28 (1 + i/64) * 2^27; the
    // transform's first coefficient is their mean, within that range.
    EXPECT_GT(st.iBlock[0], 1 << 27);
    EXPECT_LT(st.iBlock[0], 1 << 28);
    // Decoding our stream: zeros here, tiny nonzero subnormals in libzfp.
    std::vector<ZfpBlock> mine;
    ASSERT_TRUE(zfp_decode(ours, p, 1, &mine));
    for (float v : mine[0].v) EXPECT_EQ(zfp_float_to_bits(v), 0u);
    Peer dec(ours, p);
    const std::vector<ZfpBlock> peer = dec.decode(1);
    int nonzero = 0;
    for (float v : peer[0].v) nonzero += v != 0.0f;
    EXPECT_GT(nonzero, 0);
}

}  // namespace
