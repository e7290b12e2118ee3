// Inflate: argument checks in their documented order, the table builder's
// code-set rules and form choice, both table layouts read back through a
// brute-force reading of the documented layout, and hand-made block bodies
// with known bits: the built-in fixed table, output space of zero and
// exactly enough, input cut at and inside symbols with the saved steps,
// history from the output buffer and the circular window, invalid codes and
// distances, and tables damaged by the caller.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "inflate_test_util.h"

namespace {

using namespace vek::testwriter;
using namespace vek::inflatetest;
namespace vd = vek::deflate;

// ---------------------------------------------------------------- checks

TEST(Inflate, BuildChecksComeInTheirOrder) {
    State st;
    const State before;
    std::vector<uint16_t> bad(400, 0);  // no literal/length code at all
    EXPECT_EQ(veksInflateBuildHuffTable(nullptr, 300, 40, st.get()), vekStatusNullPtrErr);
    EXPECT_EQ(veksInflateBuildHuffTable(bad.data(), 300, 40, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksInflateBuildHuffTable(bad.data(), 289, 0, st.get()), vekStatusSizeErr);
    EXPECT_EQ(veksInflateBuildHuffTable(bad.data(), 257, 31, st.get()), vekStatusSizeErr);
    EXPECT_EQ(veksInflateBuildHuffTable(bad.data(), 288, 30, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(veksInflateBuildHuffTable(bad.data(), 0, 0, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(std::memcmp(st.get(), before.p.get(), sizeof(vekInflateState)), 0);
}

TEST(Inflate, DecodeChecksComeInTheirOrder) {
    State st;
    st->tableType = vekInflateTableFixed;
    st->winSize = 8;
    const Bytes src = fixed_body({literal('a'), end_of_block()});
    Bytes dst(4, 0xEE);
    const State before;
    std::memcpy(before.p.get(), st.get(), sizeof(vekInflateState));
    const uint8_t* s = src.data();
    uint32_t sl = uint32_t(src.size()), code = 0, bits = 0, dl = 4;
    uint8_t* d = dst.data();
    vekInflateMode mode = 7;
    auto call = [&](const uint8_t** ps, uint32_t* psl, uint32_t* pc, uint32_t* pb, uint32_t winIdx,
                    uint8_t** pd, uint32_t* pdl, vekInflateMode* pm, vekInflateState* pst) {
        return veksInflate_8u(ps, psl, pc, pb, winIdx, pd, pdl, 0, pm, pst);
    };
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(call(k == 0 ? nullptr : &s, k == 1 ? nullptr : &sl, k == 2 ? nullptr : &code,
                       k == 3 ? nullptr : &bits, 0, k == 4 ? nullptr : &d, k == 5 ? nullptr : &dl,
                       k == 6 ? nullptr : &mode, k == 7 ? nullptr : st.get()),
                  vekStatusNullPtrErr)
            << k;
    // Null buffers come before the sizes, the sizes before the table type.
    const uint8_t* ns = nullptr;
    uint8_t* nd = nullptr;
    bits = 33;
    st->tableType = 9;
    EXPECT_EQ(call(&ns, &sl, &code, &bits, 99, &d, &dl, &mode, st.get()), vekStatusNullPtrErr);
    EXPECT_EQ(call(&s, &sl, &code, &bits, 99, &nd, &dl, &mode, st.get()), vekStatusNullPtrErr);
    EXPECT_EQ(call(&s, &sl, &code, &bits, 0, &d, &dl, &mode, st.get()), vekStatusSizeErr);
    bits = 0;
    EXPECT_EQ(call(&s, &sl, &code, &bits, 9, &d, &dl, &mode, st.get()), vekStatusSizeErr);
    st->tableType = vekInflateTableShort;
    EXPECT_EQ(call(&s, &sl, &code, &bits, 9, &d, &dl, &mode, st.get()), vekStatusSizeErr);
    for (int32_t t : {3, -1, 9}) {
        st->tableType = t;
        EXPECT_EQ(call(&s, &sl, &code, &bits, 8, &d, &dl, &mode, st.get()), vekStatusSrcDataErr)
            << t;
    }
    // Nothing was written by any of them.
    st->tableType = vekInflateTableFixed;
    EXPECT_EQ(std::memcmp(st.get(), before.p.get(), sizeof(vekInflateState)), 0);
    EXPECT_TRUE(s == src.data() && sl == src.size() && code == 0 && bits == 0 && d == dst.data() &&
                dl == 4);
    EXPECT_EQ(mode, 7);
    EXPECT_EQ(dst, Bytes(4, 0xEE));
    // winIdx equal to winSize is allowed.
    EXPECT_EQ(call(&s, &sl, &code, &bits, 8, &d, &dl, &mode, st.get()), vekStatusOk);
    EXPECT_EQ(mode, vekInflateModeBlockEnd);
    EXPECT_EQ(dst[0], 'a');
}

// ------------------------------------------------------------ code sets

TEST(Inflate, CodeSetRules) {
    State st;
    auto lit = [](std::initializer_list<std::pair<int, int>> codes) {
        Bytes l(257, 0);
        for (auto [s, n] : codes) l[s] = uint8_t(n);
        return l;
    };
    const Bytes twoDist = {1, 1};
    // A single literal/length code of length 1 is accepted; of length 2 not.
    EXPECT_EQ(build(lit({{256, 1}}), {}, st.get()), vekStatusOk);
    EXPECT_EQ(st->tableType, vekInflateTableShort);
    EXPECT_EQ(st->maxLitLen, 1u);
    EXPECT_EQ(st->maxDistLen, 0u);
    EXPECT_EQ(build(lit({{256, 2}}), {}, st.get()), vekStatusSrcDataErr);
    // Two codes of length 1 plus any other: over-subscribed.
    EXPECT_EQ(build(lit({{0, 1}, {256, 1}}), {}, st.get()), vekStatusOk);
    EXPECT_EQ(build(lit({{0, 1}, {256, 1}, {7, 15}}), {}, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(build(lit({{0, 1}, {256, 1}, {7, 1}}), {}, st.get()), vekStatusSrcDataErr);
    // Incomplete sets of more than one code.
    EXPECT_EQ(build(lit({{0, 1}, {256, 2}}), {}, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(build(lit({{0, 1}, {256, 2}, {5, 3}}), {}, st.get()), vekStatusSrcDataErr);
    // Distance sets: empty, a single code of length 1, complete: accepted.
    const Bytes ok = lit({{0, 1}, {256, 1}});
    EXPECT_EQ(build(ok, Bytes(30, 0), st.get()), vekStatusOk);
    EXPECT_EQ(build(ok, {0, 0, 0, 1}, st.get()), vekStatusOk);
    EXPECT_EQ(build(ok, twoDist, st.get()), vekStatusOk);
    EXPECT_EQ(build(ok, {0, 2}, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(build(ok, {1, 2}, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(build(ok, {1, 1, 1}, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(build(ok, {1, 2, 2, 15}, st.get()), vekStatusSrcDataErr);
    // Lengths above 15 are invalid data, in either alphabet.
    EXPECT_EQ(build(lit({{0, 1}, {256, 16}}), {}, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(build(ok, {1, 16}, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(build(ok, {1, 0, 0, 17}, st.get()), vekStatusSrcDataErr);
    // A failed build leaves the record as it was.
    ASSERT_EQ(build(ok, twoDist, st.get()), vekStatusOk);
    State copy;
    std::memcpy(copy.get(), st.get(), sizeof(vekInflateState));
    EXPECT_EQ(build(lit({{0, 1}, {256, 1}, {9, 2}}), twoDist, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(build(ok, {1, 2}, st.get()), vekStatusSrcDataErr);
    EXPECT_EQ(std::memcmp(copy.get(), st.get(), sizeof(vekInflateState)), 0);
}

TEST(Inflate, FormFollowsTheLongestCodes) {
    std::mt19937 rng(5);
    State st;
    std::vector<bool> all(286, true), dists(30, true);
    // Depth 11/10 allowed in the short form, 12/11 needs the general one.
    for (int litDeep : {0, 11, 12, 15})
        for (int distDeep : {0, 10, 11, 15}) {
            const Bytes lit = random_lengths(all, 15, litDeep ? litDeep : 9, rng);
            const Bytes dist = random_lengths(dists, 15, distDeep ? distDeep : 5, rng);
            const uint32_t ml = *std::max_element(lit.begin(), lit.end());
            const uint32_t md = *std::max_element(dist.begin(), dist.end());
            st->tableType = 9;
            st->maxLitLen = st->maxDistLen = 77;
            ASSERT_EQ(build(lit, dist, st.get()), vekStatusOk);
            if (ml <= 11 && md <= 10) {
                EXPECT_EQ(st->tableType, vekInflateTableShort);
                EXPECT_EQ(st->maxLitLen, ml);
                EXPECT_EQ(st->maxDistLen, md);
            } else {
                EXPECT_EQ(st->tableType, vekInflateTableGeneral);
                EXPECT_EQ(st->maxLitLen, 77u);
            }
        }
    // The short form needs the end-of-block symbol's slot; the general form
    // takes fewer lengths.
    std::vector<bool> few(256, true);
    const Bytes shortSet = random_lengths(few, 9, 0, rng);
    EXPECT_EQ(build(shortSet, {1, 1}, st.get()), vekStatusSrcDataErr);
    const Bytes longSet = random_lengths(few, 15, 13, rng);
    EXPECT_EQ(build(longSet, {1, 1}, st.get()), vekStatusOk);
    EXPECT_EQ(st->tableType, vekInflateTableGeneral);
}

// ------------------------------------------------------------ layouts

uint32_t reversed(uint32_t v, int n) {
    uint32_t r = 0;
    for (int i = 0; i < n; ++i) r |= ((v >> i) & 1) << (n - 1 - i);
    return r;
}

// Reads the general layout back against the documented rules: every
// first-level entry, every second-level block and what it holds.
::testing::AssertionResult matches_general_layout(const uint8_t* t, const Bytes& lit,
                                                  const Bytes& dist) {
    for (int half = 0; half < 2; ++half) {
        const bool isLit = half == 0;
        const Bytes& lens = isLit ? lit : dist;
        const std::vector<uint32_t> codes = canonical_codes(lens);
        const int flag1 = isLit ? vd::kLitFlag : vd::kDistFlag,
                  flag2 = isLit ? vd::kLitFlag2 : vd::kDistFlag2;
        const int area = isLit ? vd::kLitSecondLevel : vd::kDistSecondLevel;
        auto value1 = [&](int i) -> uint32_t {
            return isLit ? t[vd::kLitValue + i]
                         : uint32_t(t[vd::kDistValue + 2 * i] | t[vd::kDistValue + 2 * i + 1] << 8);
        };
        auto value2 = [&](int i) -> uint32_t {
            return isLit
                       ? t[vd::kLitValue2 + i]
                       : uint32_t(t[vd::kDistValue2 + 2 * i] | t[vd::kDistValue2 + 2 * i + 1] << 8);
        };
        // What a symbol decodes to: flag kind bits and value, extra bits.
        auto kind = [&](int s, uint32_t* flag, uint32_t* value, uint32_t* extra) {
            *extra = 0;
            if (!isLit) {
                *flag = s < 30 ? uint32_t(kDistExtra[s]) << 4 : 0;
                *value = s < 30 ? kDistBase[s] : 0;
                *extra = s < 30 ? kDistExtra[s] : 0;
            } else if (s < 256) {
                *flag = 0, *value = uint32_t(s);
            } else if (s == 256) {
                *flag = 0x60, *value = 0;
            } else if (s < 286) {
                *flag = 0x80 | uint32_t(kLenExtra[s - 257]) << 4, *value = kLenBase[s - 257] - 3u;
                *extra = kLenExtra[s - 257];
            } else {
                *flag = 0x70, *value = 0;
            }
        };
        std::vector<bool> taken(size_t(area), false);
        for (int i = 0; i < 1024; ++i) {
            int shortSym = -1, longest = 0;
            for (size_t s = 0; s < lens.size(); ++s) {
                const int n = lens[s];
                if (!n) continue;
                const uint32_t r = reversed(codes[s], n);
                if (n <= 10 && r == (uint32_t(i) & ((1u << n) - 1))) shortSym = int(s);
                if (n > 10 && (r & 1023) == uint32_t(i)) longest = std::max(longest, n);
            }
            const uint32_t f = t[flag1 + i], v = value1(i);
            uint32_t ef, ev, ex;
            if (shortSym >= 0) {
                const uint32_t n = lens[shortSym];
                kind(shortSym, &ef, &ev, &ex);
                const bool invalidDist = !isLit && shortSym >= 30;
                if (invalidDist) {
                    ef = 0;
                } else if (ex && n + ex <= 10) {
                    ef = (isLit ? 0x80 : 0) | (n + ex);
                    ev += (uint32_t(i) >> n) & ((1u << ex) - 1);
                } else {
                    ef |= n;
                }
                if (f != ef || v != ev)
                    return ::testing::AssertionFailure()
                           << (isLit ? "lit" : "dist") << " entry " << i << ": flag " << f
                           << " value " << v << ", expected " << ef << " " << ev;
            } else if (longest) {
                if (f != uint32_t(longest))
                    return ::testing::AssertionFailure() << "pointer flag at " << i;
                const uint32_t start = isLit ? 2 * v : v, size = 1u << (longest - 10);
                if (start + size > uint32_t(area))
                    return ::testing::AssertionFailure() << "block outside at " << i;
                for (uint32_t j = start; j < start + size; ++j) {
                    if (taken[j]) return ::testing::AssertionFailure() << "blocks overlap at " << i;
                    taken[j] = true;
                }
                for (size_t s = 0; s < lens.size(); ++s) {
                    const uint32_t n = lens[s];
                    if (n <= 10 || (reversed(codes[s], int(n)) & 1023) != uint32_t(i)) continue;
                    kind(int(s), &ef, &ev, &ex);
                    if (!isLit && s >= 30)
                        ef = ev = 0;
                    else
                        ef |= n;
                    // Bits after the first 10, first one most significant.
                    const uint32_t lo =
                        start + ((codes[s] & ((1u << (n - 10)) - 1)) << (longest - n));
                    for (uint32_t j = lo; j < lo + (1u << (longest - n)); ++j)
                        if (t[flag2 + j] != ef || value2(int(j)) != ev)
                            return ::testing::AssertionFailure() << "second level of symbol " << s;
                }
            } else if (f != (isLit ? 0x71u : 0u) || (!isLit && v != 0)) {
                return ::testing::AssertionFailure()
                       << "unassigned entry " << i << " has flag " << f;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(Inflate, BuiltInFixedTableIsTheGeneralFormOfTheFixedCodes) {
    EXPECT_TRUE(
        matches_general_layout(vd::kFixedHuffTable.data(), fixed_lit_lengths(), Bytes(32, 5)));
    // The second-level areas are unused.
    for (int i = vd::kLitValue2; i < vd::kLitFlag; ++i) ASSERT_EQ(vd::kFixedHuffTable[i], 0) << i;
    for (int i = vd::kLitFlag2; i < vd::kDistValue; ++i) ASSERT_EQ(vd::kFixedHuffTable[i], 0) << i;
    for (int i = vd::kDistValue2; i < vd::kDistFlag; ++i) ASSERT_EQ(vd::kFixedHuffTable[i], 0) << i;
    for (int i = vd::kDistFlag2; i < vd::kInflateTableBytes; ++i)
        ASSERT_EQ(vd::kFixedHuffTable[i], 0) << i;
}

TEST(Inflate, GeneralTablesFollowTheLayout) {
    std::mt19937 rng(11);
    State st;
    for (int round = 0; round < 60; ++round) {
        Bytes lit, dist;
        random_code_set(rng, BlockKind::kDynamicGeneral, lit, dist);
        if (round % 3 == 0) lit.resize(288, 0);  // 288 lengths, the last two unused
        if (round % 6 == 0) {                    // a complete set over all 288 symbols
            std::vector<bool> every(288, true);
            lit = random_lengths(every, 15, 12 + round % 4, rng);
        }
        ASSERT_EQ(build(lit, dist, st.get()), vekStatusOk) << round;
        ASSERT_EQ(st->tableType, vekInflateTableGeneral);
        ASSERT_TRUE(matches_general_layout(st->tables, lit, dist)) << round;
    }
    // Sets the builder would store in the short form, through the general
    // builder: single codes, empty distance sets, 11-bit literal codes.
    for (int round = 0; round < 40; ++round) {
        Bytes lit, dist;
        random_code_set(rng, BlockKind::kDynamicShort, lit, dist);
        if (round == 0) lit.assign(257, 0), lit[256] = 1;
        uint8_t t[vd::kInflateTableBytes];
        ASSERT_TRUE(vd::build_general_table(lit.data(), uint32_t(lit.size()), dist.data(),
                                            uint32_t(dist.size()), t));
        ASSERT_TRUE(matches_general_layout(t, lit, dist)) << round;
    }
}

// Lengths with the given numbers of 11- to 15-bit codes, the rest of the
// code space filled with as few codes of at most 10 bits as possible; the
// lengths go to `n` symbols in a shuffled order. Empty if they do not fit.
Bytes long_code_set(const int (&longCounts)[5], size_t n, std::mt19937& rng) {
    uint32_t units = 0, count = 0;  // code space in units of 2^-15
    for (int k = 0; k < 5; ++k)
        units += uint32_t(longCounts[k]) << (4 - k), count += uint32_t(longCounts[k]);
    if (units % 32 || units > 32768) return {};
    const uint32_t slots = (32768 - units) / 32;  // 10-bit slots left
    Bytes lens;
    for (int b = 0; b < 10; ++b)
        if (slots & (1u << b)) lens.push_back(uint8_t(10 - b));
    for (int k = 0; k < 5; ++k) lens.insert(lens.end(), size_t(longCounts[k]), uint8_t(11 + k));
    if (lens.size() > n) return {};
    lens.resize(n, 0);
    std::shuffle(lens.begin(), lens.end(), rng);
    return lens;
}

// Canonical codes put the long codes in order of length, so at most a few
// 10-bit prefixes mix lengths: the second-level areas hold any complete set.
TEST(Inflate, SecondLevelAreasHoldCodeSetsWithManyLongCodes) {
    std::mt19937 rng(3);
    State st;
    const int litSets[][5] = {{1, 1, 1, 1, 2},       {0, 0, 0, 0, 256}, {1, 0, 0, 0, 272},
                              {100, 50, 25, 12, 20}, {3, 3, 3, 3, 6},   {0, 1, 1, 1, 242},
                              {31, 31, 31, 31, 30},  {140, 0, 0, 0, 0}, {0, 0, 1, 3, 246},
                              {1, 1, 3, 7, 238}};
    const int distSets[][5] = {
        {1, 1, 1, 1, 2}, {0, 2, 3, 1, 2}, {0, 1, 2, 7, 2}, {0, 0, 4, 4, 8}, {2, 2, 2, 2, 4}};
    int built = 0;
    for (const auto& ls : litSets)
        for (const auto& ds : distSets) {
            const Bytes lit = long_code_set(ls, 286, rng), dist = long_code_set(ds, 30, rng);
            if (lit.empty() || dist.empty()) continue;
            ASSERT_EQ(build(lit, dist, st.get()), vekStatusOk);
            ASSERT_EQ(st->tableType, vekInflateTableGeneral);
            ASSERT_TRUE(matches_general_layout(st->tables, lit, dist));
            ++built;
        }
    EXPECT_EQ(built, 50);
}

// ------------------------------------------------------------ decoding

TEST(Inflate, FixedBlockEndsWithItsBitsLeftInCode) {
    const std::vector<Token> t = {literal('a'), literal('b'), literal('c'),
                                  match(5, 3),  literal('z'), end_of_block()};
    for (size_t trailing : {0, 2, 40}) {  // 40: the fast loop takes the symbols
        uint64_t bodyBits;
        Bytes src = fixed_body(t, &bodyBits, 0x16, 5);
        for (size_t i = 0; i < trailing; ++i) src.push_back(uint8_t(0x3C + i));
        State st;
        st->tableType = vekInflateTableFixed;
        Bytes out(16, 0);
        Call c;
        c.src = src.data(), c.srcLen = uint32_t(src.size());
        c.dst = out.data(), c.dstLen = 16;
        ASSERT_EQ(c.run(st.get()), vekStatusOk);
        EXPECT_EQ(c.mode, vekInflateModeBlockEnd);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 9),
                  Bytes({'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'z'}));
        EXPECT_EQ(c.dstLen, 7u);
        EXPECT_EQ(c.src + c.srcLen, src.data() + src.size());
        // The bits given back are exactly the stream's bits after the block.
        const uint64_t used = uint64_t(c.src - src.data()) * 8 - c.bits;
        EXPECT_EQ(used, bodyBits);
        const std::vector<uint8_t> all = bits_of(src, src.size() * 8);
        for (uint32_t i = 0; i < c.bits; ++i) EXPECT_EQ((c.code >> i) & 1, all[used + i]) << i;
    }
}

TEST(Inflate, ZeroOutputSpaceLeavesTheFirstSymbolPending) {
    State st;
    st->tableType = vekInflateTableFixed;
    const Bytes src = fixed_body({literal('Q'), literal('R'), end_of_block()});
    Bytes out(4, 0);
    Call c;
    c.src = src.data(), c.srcLen = uint32_t(src.size()), c.dst = out.data(), c.dstLen = 0;
    ASSERT_EQ(c.run(st.get()), vekStatusOk);
    EXPECT_EQ(c.mode, vekInflateModeResume);
    EXPECT_EQ(st->step, 6);
    EXPECT_EQ(st->pendingValue, uint32_t('Q'));
    EXPECT_EQ(c.dst, out.data());
    c.dstLen = 1;
    ASSERT_EQ(c.run(st.get()), vekStatusOk);  // Q out, R decoded and pending
    EXPECT_EQ(c.mode, vekInflateModeResume);
    EXPECT_EQ(st->step, 6);
    EXPECT_EQ(st->pendingValue, uint32_t('R'));
    c.dstLen = 1;  // exactly enough: the same call decodes the end of block
    ASSERT_EQ(c.run(st.get()), vekStatusOk);
    EXPECT_EQ(c.mode, vekInflateModeBlockEnd);
    EXPECT_EQ(c.dstLen, 0u);
    EXPECT_EQ(out[0], 'Q');
    EXPECT_EQ(out[1], 'R');

    // A match first, its history in the output buffer.
    Bytes buf = {'x', 'y', 'z', 0, 0, 0, 0, 0};
    const Bytes m = fixed_body({match(4, 3), literal('!'), end_of_block()});
    Call d;
    d.src = m.data(), d.srcLen = uint32_t(m.size()), d.dst = buf.data() + 3, d.dstLen = 0,
    d.dstIdx = 3;
    ASSERT_EQ(d.run(st.get()), vekStatusOk);
    EXPECT_EQ(d.mode, vekInflateModeResume);
    EXPECT_EQ(st->step, 5);
    EXPECT_EQ(st->pendingValue, 4u);
    EXPECT_EQ(st->pendingDist, 3u);
    d.dstLen = 2;
    ASSERT_EQ(d.run(st.get()), vekStatusOk);
    EXPECT_EQ(d.mode, vekInflateModeResume);
    EXPECT_EQ(st->step, 5);
    EXPECT_EQ(st->pendingValue, 2u);
    d.dstIdx = 5, d.dstLen = 3;
    ASSERT_EQ(d.run(st.get()), vekStatusOk);
    EXPECT_EQ(d.mode, vekInflateModeBlockEnd);
    EXPECT_EQ(buf, Bytes({'x', 'y', 'z', 'x', 'y', 'z', 'x', '!'}));
}

TEST(Inflate, InputCutAtAByteAlignedSymbolStartGivesMode1) {
    State st;
    st->tableType = vekInflateTableFixed;
    // 8-bit literals, then a 9-bit one: bytes 0 and 1 end at symbol starts.
    const Bytes src = fixed_body({literal('a'), literal('b'), literal(200), end_of_block()});
    Bytes out(8, 0);
    Call c;
    c.src = src.data(), c.srcLen = 1, c.dst = out.data(), c.dstLen = 8;
    ASSERT_EQ(c.run(st.get()), vekStatusOk);
    EXPECT_EQ(c.mode, vekInflateModeSymbol);
    EXPECT_EQ(c.bits, 0u);
    EXPECT_EQ(c.dstLen, 7u);
    c.srcLen = 2;  // 'b' and 7 bits of the 9-bit literal
    ASSERT_EQ(c.run(st.get()), vekStatusOk);
    EXPECT_EQ(c.mode, vekInflateModeSymbol);
    EXPECT_EQ(c.bits, 8u);
    EXPECT_EQ(c.dstLen, 6u);
    c.srcLen = uint32_t(src.data() + src.size() - c.src);
    ASSERT_EQ(c.run(st.get()), vekStatusOk);
    EXPECT_EQ(c.mode, vekInflateModeBlockEnd);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), Bytes({'a', 'b', 200}));
}

// A match with unmerged extra bits on both codes (length 70: code 277 and 4
// extra bits; distance 200: code 15 and 6 extra bits) cut at every bit.
TEST(Inflate, StepsAreSavedAtEveryBit) {
    State st;
    st->tableType = vekInflateTableFixed;
    Bytes history(300);
    for (size_t i = 0; i < history.size(); ++i) history[i] = uint8_t(i * 7 + 1);
    const std::vector<Token> t = {match(70, 200), end_of_block()};
    uint64_t n;
    const Bytes src = fixed_body(t, &n);
    ASSERT_EQ(n, 29u);
    Bytes want = history;
    ASSERT_TRUE(expand(t, want));
    const std::vector<uint8_t> bits = bits_of(src, n);
    for (size_t k = 0; k <= n; ++k) {
        const Fed f = feed_bits(
            bits, st.get(), {k}, [] { return 1000u; }, history);
        ASSERT_EQ(f.status, vekStatusOk);
        EXPECT_TRUE(f.ended) << k;
        EXPECT_EQ(f.out, want) << k;
        EXPECT_EQ(f.used, n);
        // The first call's end: what it saved.
        const std::vector<int> first = f.modes;
        ASSERT_FALSE(first.empty());
        const int want = (k < 7 || (k >= 22 && k < 29)) ? vekInflateModeSymbol
                         : k < 29                       ? vekInflateModeResume
                                                        : vekInflateModeBlockEnd;
        EXPECT_EQ(first[0], want) << k;
    }
    // The saved values themselves.
    const uint32_t code = uint32_t(pack(bits, 0, 29)[0] | pack(bits, 0, 29)[1] << 8 |
                                   pack(bits, 0, 29)[2] << 16 | pack(bits, 0, 29)[3] << 24);
    struct Expect {
        uint32_t k;
        int32_t step;
        uint32_t value, extra, dist;
    };
    for (const Expect& e :
         {Expect{8, 2, 67, 4, 0}, Expect{12, 3, 70, 0, 0}, Expect{20, 4, 70, 6, 193}}) {
        Bytes out(400);
        Call c;
        const uint8_t dummy = 0;
        c.src = &dummy, c.srcLen = 0, c.code = code & ((1u << e.k) - 1), c.bits = e.k;
        c.dst = out.data() + 300, c.dstLen = 100, c.dstIdx = 300;
        ASSERT_EQ(c.run(st.get()), vekStatusOk);
        EXPECT_EQ(c.mode, vekInflateModeResume);
        EXPECT_EQ(st->step, e.step) << e.k;
        EXPECT_EQ(st->pendingValue, e.value) << e.k;
        EXPECT_EQ(st->pendingExtra & 15, e.extra) << e.k;
        if (e.step == 4) {
            EXPECT_EQ(st->pendingDist, e.dist);
        }
        const uint32_t left = e.k - (e.step == 2 ? 7 : e.step == 3 ? 11 : 16);
        EXPECT_EQ(c.bits, left);
    }
}

TEST(Inflate, AllThirtyTwoBitsOfCodeAreUsed) {
    State st;
    st->tableType = vekInflateTableFixed;
    const Bytes src = fixed_body({literal('w'), literal('x'), literal('y'), literal('z')});
    Bytes out(8, 0);
    Call c;
    const uint8_t dummy = 0;
    c.src = &dummy, c.srcLen = 0,
    c.code = uint32_t(src[0] | src[1] << 8 | src[2] << 16 | uint32_t(src[3]) << 24);
    c.bits = 32, c.dst = out.data(), c.dstLen = 8;
    ASSERT_EQ(c.run(st.get()), vekStatusOk);
    EXPECT_EQ(c.mode, vekInflateModeSymbol);
    EXPECT_EQ(c.bits, 0u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), Bytes({'w', 'x', 'y', 'z'}));
}

}  // namespace
