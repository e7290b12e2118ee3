// The packed tables of the inflater's second fast loop: the AVX2 and the
// portable builder give the same words for any table bytes (and the
// dispatch takes the portable one without AVX2), every packed entry
// decodes as the state's own lookups read one symbol after the other, and
// damaged tables with long input and output stay inside the buffers;
// long streams with a window, in output buffers long enough for the packed
// loop, decode as the reference inflater does.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "core/cpu.h"
#include "deflate/inflate_lookup.h"
#include "deflate_stream_parser.h"
#include "forced_cpu_services.h"
#include "inflate_reference.h"
#include "inflate_test_util.h"
#include "test_data.h"

namespace {

using namespace vek::testwriter;
using namespace vek::inflatetest;
namespace vd = vek::deflate;

constexpr uint32_t kLitMask = (1u << vd::kPackedLitBits) - 1;
constexpr uint32_t kDistMask = (1u << vd::kPackedDistBits) - 1;

// Tables of every kind: valid short and general forms, the fixed table,
// random bytes in either form.
struct Tables {
    State st;
    const uint8_t* general = nullptr;  // set for the general form
};

void make_tables(std::mt19937& rng, int kind, Tables& t) {
    Bytes lit, dist;
    switch (kind) {
        case 0:
        case 1:
            random_code_set(rng, kind == 0 ? BlockKind::kDynamicShort : BlockKind::kDynamicGeneral,
                            lit, dist);
            ASSERT_EQ(build(lit, dist, t.st.get()), vekStatusOk);
            break;
        case 2:
            t.st->tableType = vekInflateTableFixed;
            break;
        default:
            for (auto& b : t.st->tables) b = uint8_t(rng());
            if (rng() % 2)  // plausible flags
                for (int i = vd::kLitFlag; i < vd::kDistValue; ++i)
                    t.st->tables[i] = uint8_t(rng() % 16 | (rng() % 2) << 7 |
                                              (rng() % 4 == 0 ? rng() % 8 << 4 : 0));
            t.st->tableType = int32_t(1 + rng() % 2);
            t.st->maxLitLen = 1 + rng() % 11;
            t.st->maxDistLen = rng() % 11;
    }
    if (t.st->tableType == vekInflateTableFixed) t.general = vd::kFixedHuffTable.data();
    if (t.st->tableType == vekInflateTableGeneral) t.general = t.st->tables;
}

template <class F>
void with_lookup(Tables& t, F f) {
    if (t.general)
        f(vd::GeneralLookup(t.general));
    else
        f(vd::ShortLookup(t.st->tables, t.st->maxLitLen, t.st->maxDistLen));
}

TEST(InflatePacked, BuildersAgreeOnAnyTables) {
    std::mt19937 rng(31);
    const bool avx2 = vek::core::get_feature(vek::core::kFeatureAvx2);
    for (int round = 0; round < 400; ++round) {
        Tables t;
        make_tables(rng, round % 5, t);
        with_lookup(t, [&](const auto& tab) {
            std::unique_ptr<vd::PackedTables> a(new vd::PackedTables), b(new vd::PackedTables);
            std::memset(a.get(), 0xA5, sizeof *a);
            std::memset(b.get(), 0x5A, sizeof *b);
            vd::build_packed_tables_portable(tab, *a);
            if (avx2) {
                vd::build_packed_tables_avx2(tab, *b);
                ASSERT_EQ(std::memcmp(a.get(), b.get(), sizeof *a), 0) << round;
            }
            std::memset(b.get(), 0x5A, sizeof *b);
            vek::core::testing::HiddenFeatures hide(vek::core::kFeatureAvx2);
            vd::build_packed_tables(tab, *b);
            ASSERT_EQ(std::memcmp(a.get(), b.get(), sizeof *a), 0) << round;
        });
    }
}

// One literal/length symbol as the state's lookup reads it.
struct Symbol {
    bool literal = false, length = false;
    uint32_t value = 0;  // literal, or the whole length
    uint32_t code = 0;   // code bits (with merged extra bits)
    uint32_t bits = 0;   // all bits, extra bits included
};
template <class Lookup>
Symbol read_symbol(const Lookup& tab, uint64_t bb) {
    const vd::LitEntry e = tab.lit(bb);
    Symbol s;
    s.code = s.bits = e.flag & 15;
    if (e.flag < 16) {
        s.literal = true;
        s.value = e.value;
    } else if (e.flag & vd::kFlagLength) {
        s.length = true;
        const uint32_t lex = (e.flag >> 4) & 7;
        s.value = e.value + 3 + (uint32_t(bb >> s.code) & ((1u << lex) - 1));
        s.bits += lex;
    }
    return s;
}

// Valid tables: each entry is one or two symbols read in turn by the
// state's lookup, joined whenever the second code ends within the packed
// bits; each distance entry is the lookup's distance code.
TEST(InflatePacked, EntriesDecodeAsTheStateLookups) {
    std::mt19937 rng(5);
    std::mt19937_64 bitsRng(6);
    int joined = 0, slow = 0;
    for (int round = 0; round < 60; ++round) {
        Tables t;
        make_tables(rng, round % 3, t);
        with_lookup(t, [&](const auto& tab) {
            std::unique_ptr<vd::PackedTables> pt(new vd::PackedTables);
            vd::build_packed_tables(tab, *pt);
            for (int k = 0; k < 4000; ++k) {
                const uint64_t bb = bitsRng();
                const uint32_t e = pt->lit[bb & kLitMask];
                const Symbol a = read_symbol(tab, bb);
                if (e == vd::kPackedSlow) {
                    ++slow;
                    EXPECT_TRUE(!(a.literal || a.length) || a.code > vd::kPackedLitBits);
                    continue;
                }
                const uint32_t nlit = vd::packed_literals(e), total = e & 255,
                               shift = (e >> 8) & 15;
                const uint32_t extra = (uint32_t(bb) & ((1u << total) - 1)) >> shift;
                if (nlit == 0) {
                    ASSERT_TRUE(a.length && (e & vd::kPackedHasLength));
                    EXPECT_EQ((e >> 24) + 3 + extra, a.value);
                    EXPECT_EQ(total, a.bits);
                    continue;
                }
                ASSERT_TRUE(a.literal);
                EXPECT_EQ((e >> 16) & 255, a.value);
                const Symbol b = read_symbol(tab, bb >> a.bits);
                const bool fits = (b.literal || b.length) && a.code + b.code <= vd::kPackedLitBits;
                if (nlit == 1 && !(e & vd::kPackedHasLength)) {
                    EXPECT_EQ(total, a.bits);
                    EXPECT_FALSE(fits);
                    continue;
                }
                ++joined;
                ASSERT_TRUE(fits);
                EXPECT_EQ(total, a.bits + b.bits);
                if (nlit == 2) {
                    ASSERT_TRUE(b.literal);
                    EXPECT_EQ(e >> 24, b.value);
                } else {
                    ASSERT_TRUE(b.length && (e & vd::kPackedHasLength));
                    EXPECT_EQ((e >> 24) + 3 + extra, b.value);
                }
            }
            for (int k = 0; k < 1000; ++k) {
                const uint64_t bb = bitsRng();
                const uint32_t d = pt->dist[bb & kDistMask];
                const vd::DistEntry g = tab.dist(bb);
                const uint32_t n = g.flag & 15, ex = g.flag >> 4;
                if (d == 0) {
                    EXPECT_TRUE(n == 0 || n > vd::kPackedDistBits);
                    continue;
                }
                EXPECT_EQ(d & 255, n + ex);
                EXPECT_EQ((d >> 8) & 15, n);
                EXPECT_EQ(d >> 16, g.value);
            }
        });
    }
    EXPECT_GT(joined, 10000);
    EXPECT_GT(slow, 0);
}

// Any table bytes, with input and output long enough for the packed loop:
// the status is one of the two and the call stays inside its exact-size
// buffers (the sanitizer build checks every access).
TEST(InflatePacked, DamagedTablesWithLongBuffersStayInside) {
    std::mt19937 rng(77);
    const int rounds = vek::testdata::kSanitized ? 60 : 300;
    for (int round = 0; round < rounds; ++round) {
        Tables t;
        make_tables(rng, 3 + round % 2, t);
        t.st->tableType = int32_t(1 + round % 2);
        const size_t inLen = vd::kPackedMinInput + rng() % 3000, hist = rng() % 300;
        const size_t room = vd::kPackedMinOutput + rng() % 20000;
        std::unique_ptr<uint8_t[]> in(new uint8_t[inLen]), out(new uint8_t[hist + room]);
        for (size_t i = 0; i < inLen; ++i) in[i] = uint8_t(rng());
        Call c;
        c.src = in.get(), c.srcLen = uint32_t(inLen);
        c.dst = out.get() + hist, c.dstLen = uint32_t(room), c.dstIdx = uint32_t(hist);
        const vekStatus s = c.run(t.st.get());
        ASSERT_TRUE(s == vekStatusOk || s == vekStatusSrcDataErr) << round;
        ASSERT_TRUE(c.src >= in.get() && c.src + c.srcLen == in.get() + inLen) << round;
        ASSERT_TRUE(c.dst >= out.get() + hist && c.dst + c.dstLen == out.get() + hist + room)
            << round;
    }
}

// Matches reaching back across output buffers of 9..40 KiB into a 32 KiB
// circular window (the stream starts after a preset window): the packed
// loop leaves its hot part for each window match and comes back.
TEST(InflatePacked, LongStreamsWithAWindowInBigBuffers) {
    std::mt19937 rng(12);
    const int rounds = vek::testdata::kSanitized ? 2 : 6;
    for (int round = 0; round < rounds; ++round) {
        const std::vector<BlockKind> kinds = {BlockKind::kDynamicGeneral, BlockKind::kFixed,
                                              BlockKind::kDynamicShort};
        Bytes dict(32768);
        for (auto& b : dict) b = uint8_t(rng() % 7);
        const TestStream ts = random_stream(rng, kinds, 8000, dict, 70);
        const auto ref = vek::testref::reference_inflate(
            ts.bytes.data(), ts.bytes.size(), ts.expected.size(), dict.data(), dict.size());
        ASSERT_EQ(ref.out, ts.expected) << round;
        vek::testinflate::DriveOptions o;
        o.outLimit = ts.expected.size();
        o.useWindow = true;
        o.winSize = 32768;
        o.windowInit = dict.data();
        o.chunkSize = 9000 + rng() % 32000;
        o.seed = rng();
        const vek::testinflate::DriveResult d =
            vek::testinflate::inflate_stream(ts.bytes.data(), ts.bytes.size(), o);
        ASSERT_EQ(vek::testref::check_against_reference(d, ref), "") << round;
    }
}

}  // namespace
