// The tool's merge of a chained engine's parse with the single-probe one:
// which parse wins between common boundaries, the item limit, and on whole
// inputs that the merged pairs still rebuild the input, are counted right,
// and code smaller where 3-byte matches abound.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "deflate_parse_merge.h"
#include "test_data.h"

namespace {

using vekdc::PairCosts;

struct Item {
    uint8_t lit;
    uint16_t dist;
    bool operator==(const Item& o) const { return lit == o.lit && dist == o.dist; }
};
Item L(char c) {
    return {static_cast<uint8_t>(c), 0};
}
Item M(int length, int distance) {
    return {static_cast<uint8_t>(length - 3), static_cast<uint16_t>(distance)};
}

std::vector<Item> merge(const std::vector<Item>& a, const std::vector<Item>& b,
                        const PairCosts& costs, uint32_t cap) {
    std::vector<uint8_t> al, bl, ol(cap + 8);
    std::vector<uint16_t> ad, bd, od(cap + 8);
    for (const Item& i : a) al.push_back(i.lit), ad.push_back(i.dist);
    for (const Item& i : b) bl.push_back(i.lit), bd.push_back(i.dist);
    const uint32_t n = vekdc::merge_parses(al.data(), ad.data(), static_cast<uint32_t>(a.size()),
                                           bl.data(), bd.data(), static_cast<uint32_t>(b.size()),
                                           costs, cap, ol.data(), od.data());
    std::vector<Item> out;
    for (uint32_t i = 0; i < n; ++i) out.push_back({ol[i], od[i]});
    return out;
}

// Rebuilds bytes from pairs after `history`.
std::vector<uint8_t> rebuild(std::vector<uint8_t> history, const uint8_t* lit, const uint16_t* dist,
                             size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (dist[i] == 0) {
            history.push_back(lit[i]);
            continue;
        }
        EXPECT_LE(dist[i], history.size());
        if (dist[i] > history.size()) return {};
        for (int k = 0; k < lit[i] + 3; ++k) history.push_back(history[history.size() - dist[i]]);
    }
    return history;
}

TEST(DeflateParseMerge, EachStretchBetweenCommonBoundariesTakesTheCheaperParse) {
    // "abcdabcxabcd": the 4-byte parse codes "abc" at 4 as literals and
    // "abcd" at 8 as one match; the 3-byte parse matches "abc" twice.
    const std::vector<Item> a = {L('a'), L('b'), L('c'), L('d'), L('a'),
                                 L('b'), L('c'), L('x'), M(4, 8)};
    const std::vector<Item> b = {L('a'), L('b'), L('c'), L('d'), M(3, 4), L('x'), M(3, 4), L('d')};
    // Literals a b c d x 4 times each, one length 3, one length 4, one
    // distance of code 3 (4) and one of code 5 (7..8, 1 extra bit): a
    // literal costs log2(23 / 4) bits, either length symbol log2(23), a
    // distance log2(3) (+1). So 3 literals (7.6) lose to M(3,4) (6.1),
    // and M(4,8) (7.1) beats M(3,4) plus a literal (8.6).
    uint32_t lit_count[286] = {}, dist_count[30] = {};
    for (char c : {'a', 'b', 'c', 'd', 'x'}) lit_count[static_cast<uint8_t>(c)] = 4;
    lit_count[257] = lit_count[258] = 1;
    dist_count[3] = dist_count[5] = 1;
    PairCosts costs;
    costs.fit(lit_count, dist_count);
    EXPECT_NEAR(costs.item('a', 0), 2.524, 1e-3);
    EXPECT_NEAR(costs.item(0, 4), 4.524 + 1.585, 1e-3);
    EXPECT_NEAR(costs.item(1, 8), 4.524 + 2.585, 1e-3);

    const std::vector<Item> want = {L('a'), L('b'), L('c'), L('d'), M(3, 4), L('x'), M(4, 8)};
    EXPECT_EQ(merge(a, b, costs, 9), want);
    // The order of the two parses does not matter.
    EXPECT_EQ(merge(b, a, costs, 9), want);

    // With matches unseen in the counts (a length symbol costs 13.3 bits,
    // a literal 2.3) literals win everywhere.
    uint32_t no_matches[286] = {}, no_dist[30] = {};
    for (char c : {'a', 'b', 'c', 'd', 'x'}) no_matches[static_cast<uint8_t>(c)] = 1000;
    costs.fit(no_matches, no_dist);
    const std::vector<Item> literals = {L('a'), L('b'), L('c'), L('d'), L('a'), L('b'),
                                        L('c'), L('x'), L('a'), L('b'), L('c'), L('d')};
    EXPECT_EQ(merge(a, literals, costs, 12), literals);
    EXPECT_EQ(merge(b, a, costs, 12), a);
}

TEST(DeflateParseMerge, TheOtherParseIsTakenOnlyWhileEverythingStillFits) {
    const std::vector<Item> a = {L('a'), L('b'), L('c'), M(3, 3)};
    const std::vector<Item> b = {L('a'), L('b'), L('c'), L('a'), L('b'), L('c')};
    uint32_t lit_count[286] = {}, dist_count[30] = {};
    lit_count['a'] = lit_count['b'] = lit_count['c'] = 100;
    PairCosts costs;
    costs.fit(lit_count, dist_count);
    EXPECT_EQ(merge(a, b, costs, 4), a);
    EXPECT_EQ(merge(a, b, costs, 5), a);
    EXPECT_EQ(merge(a, b, costs, 6), b);
}

TEST(DeflateParseMerge, CountsAndCodedBits) {
    const uint8_t lit[5] = {'z', 0, 255, 7, 10};
    const uint16_t dist[5] = {0, 1, 32768, 257, 256};
    uint32_t lc[286] = {}, dc[30] = {};
    vekdc::count_pair_symbols(lit, dist, 5, lc, dc);
    // Lengths 3, 258, 10, 13 -> 257, 285, 264, 266; distances 1, 32768,
    // 257, 256 -> codes 0, 29, 16, 15.
    uint32_t want_l[286] = {}, want_d[30] = {};
    want_l['z'] = want_l[257] = want_l[285] = want_l[264] = want_l[266] = 1;
    want_d[0] = want_d[29] = want_d[16] = want_d[15] = 1;
    EXPECT_EQ(0, std::memcmp(lc, want_l, sizeof lc));
    EXPECT_EQ(0, std::memcmp(dc, want_d, sizeof dc));
    // Entropy 5 * log2(5) + 4 * 2, extra bits 0 + 0 + 0 + 1 (length 13)
    // and 0 + 13 + 7 + 6.
    EXPECT_NEAR(vekdc::coded_pair_bits(lc, dc), 5 * 2.321928 + 8 + 1 + 26, 1e-3);
}

// 40-byte records of counters, slowly changing values and small fields,
// like the tool's binary bench item.
std::vector<uint8_t> records(size_t n, uint32_t seed) {
    std::vector<uint8_t> out;
    uint32_t x = seed, seq = 0, stamp = 1600000000u, level = 5000;
    auto rnd = [&x](uint32_t k) {
        x = x * 1103515245u + 12345u;
        return (x >> 8) % k;
    };
    auto put = [&out](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    while (out.size() < n) {
        out.insert(out.end(), {'R', 'E', 'C', static_cast<uint8_t>('0' + rnd(4))});
        put(seq++, 4);
        put(stamp += rnd(16), 4);
        put(level += rnd(61) - 30, 4);
        for (int s = 0; s < 3; ++s) put(0x3F000000u | rnd(1 << 20), 4);
        put(rnd(8) == 0 ? 0x8001 : 1, 2);
        put(1000 + rnd(12), 2);
        put(0, 4);
        put(0, 4);
    }
    out.resize(n);
    return out;
}

struct MergeRun {
    double main_bits = 0, merged_bits = 0;
};

// Runs the lazy engine and the merger over `data` in calls of `call`
// bytes, checking each call's merged pairs and counts.
void run_merge(const std::vector<uint8_t>& data, size_t call, MergeRun& run) {
    constexpr uint32_t kWin = 32768, kCap = 32768;
    std::vector<uint8_t> buf(kWin + data.size());
    std::memcpy(buf.data() + kWin, data.data(), data.size());
    std::vector<int32_t> head(65536, -int32_t(kWin)), prev(kWin, -int32_t(kWin));
    vekdc::SingleProbeMerger merger(call, 0.005);
    const vekLZ77LevelParams params = {1024, 8, 128, 258};
    uint32_t idx = 0;
    size_t pos = 0;
    std::vector<uint8_t> lit(kCap);
    std::vector<uint16_t> dist(kCap);
    while (pos < data.size()) {
        const uint8_t* start = buf.data() + kWin + pos;
        const uint8_t* src = start;
        uint32_t left = static_cast<uint32_t>(std::min(call, data.size() - pos)), room = kCap;
        vekDeflateFreqEntry lf[286] = {}, df[30] = {};
        ASSERT_EQ(vekStatusOk, veksDeflateLZ77Slow_8u(&src, &left, &idx, start, kWin, head.data(),
                                                      prev.data(), 65536, lf, df, lit.data(),
                                                      dist.data(), &room, &params, 2));
        const uint32_t made = kCap - room;
        const uint32_t used = static_cast<uint32_t>(src - start);
        uint32_t main_l[286], main_d[30];
        for (int i = 0; i < 286; ++i) main_l[i] = lf[i].freq;
        for (int i = 0; i < 30; ++i) main_d[i] = df[i].freq;
        const uint32_t n = merger.merge(start, used, lit.data(), dist.data(), made, kCap, lf, df);
        ASSERT_LE(n, kCap);
        // The pairs still rebuild exactly this call's input.
        const std::vector<uint8_t> history(data.begin(),
                                           data.begin() + static_cast<ptrdiff_t>(pos));
        const std::vector<uint8_t> got = rebuild(history, lit.data(), dist.data(), n);
        ASSERT_EQ(got.size(), pos + used);
        ASSERT_EQ(0, std::memcmp(got.data() + pos, start, used));
        // The counts are those of the pairs now there.
        uint32_t lc[286] = {}, dc[30] = {};
        vekdc::count_pair_symbols(lit.data(), dist.data(), n, lc, dc);
        for (int i = 0; i < 286; ++i) ASSERT_EQ(lc[i], lf[i].freq) << i;
        for (int i = 0; i < 30; ++i) ASSERT_EQ(dc[i], df[i].freq) << i;
        run.main_bits += vekdc::coded_pair_bits(main_l, main_d);
        run.merged_bits += vekdc::coded_pair_bits(lc, dc);
        pos += used;
    }
}

TEST(DeflateParseMerge, MergedPairsRebuildTheInputAndPayOnRecords) {
    constexpr size_t kSize = vek::testdata::kSanitized ? 200000 : 300000;
    // Calls of 16 KiB, and of 48 KiB, which the merger first tries on a
    // part only.
    for (size_t call : {16384, 49152}) {
        MergeRun rec;
        run_merge(records(kSize, 7), call, rec);
        EXPECT_LT(rec.merged_bits, 0.97 * rec.main_bits) << call;
    }
    // Text and random bytes: not larger, whatever is merged (a tried part is
    // judged alone, so the whole call may differ by a rounding).
    for (const std::vector<uint8_t>& data :
         {vek::testdata::text_bytes(kSize, 3), vek::testdata::random_bytes(kSize / 4, 4)}) {
        MergeRun r;
        run_merge(data, 20000, r);
        EXPECT_LE(r.merged_bits, r.main_bits * (1 + 1e-5));
    }
    // Short calls, down to a few bytes.
    MergeRun small;
    run_merge(records(3000, 9), 97, small);
    EXPECT_LE(small.merged_bits, small.main_bits * (1 + 1e-5));
}

}  // namespace
