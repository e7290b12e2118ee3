// Greedy engine with a chain limit of one and the window joined to the
// source: the search runs in stretches of pair items, each in a branching or
// a masked form chosen by how rich in literals the stretch before it was.
// Inputs alternating literal-rich and match-rich segments, split into calls
// at random, must leave exactly the model's pairs, counters, tables and
// cursors after every call, for the usual table sizes and for others.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "deflate_lz77_model.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

namespace model = vek::testref::lz77model;
using Bytes = std::vector<uint8_t>;

constexpr size_t kScale = vek::testdata::kSanitized ? 3 : 1;

struct Tables {
    std::vector<int32_t> head, prev;
    std::vector<vekDeflateFreqEntry> lit, dist;
    Tables(uint32_t ws, uint32_t hs)
        : head(hs, -static_cast<int32_t>(ws)),
          prev(ws, -static_cast<int32_t>(ws)),
          lit(286, vekDeflateFreqEntry{0, 0}),
          dist(30, vekDeflateFreqEntry{0, 0}) {}
};

// One call of the library and of the model from the same state; the source
// at `p` with its window right before it.
void call_both(Tables& t, uint32_t ws, uint32_t hs, const vekLZ77LevelParams& prm, const uint8_t* p,
               uint32_t len, uint32_t& idx, uint32_t cap, uint32_t flush, uint32_t* consumed) {
    Tables m = t;
    std::vector<uint8_t> lit(cap + 1, 0x5A), mlit(cap + 1, 0x5A);
    std::vector<uint16_t> dist(cap + 1, 0x5A5A), mdist(cap + 1, 0x5A5A);
    const uint8_t *src = p, *msrc = p;
    uint32_t n = len, mn = len, mi = idx, room = cap, mroom = cap;
    ASSERT_EQ(veksDeflateLZ77Fast_8u(&src, &n, &idx, p, ws, t.head.data(), t.prev.data(), hs,
                                     t.lit.data(), t.dist.data(), lit.data(), dist.data(), &room,
                                     &prm, flush),
              vekStatusOk);
    model::Call c =
        model::make_call(&msrc, &mn, &mi, p, ws, m.head.data(), m.prev.data(), hs, m.lit.data(),
                         m.dist.data(), mlit.data(), mdist.data(), &mroom);
    model::fast(c, prm, flush);
    ASSERT_EQ(src, msrc);
    ASSERT_EQ(n, mn);
    ASSERT_EQ(idx, mi);
    ASSERT_EQ(room, mroom);
    ASSERT_TRUE(lit == mlit) << "pair literals/lengths differ (guard element included)";
    ASSERT_TRUE(dist == mdist) << "pair distances differ (guard element included)";
    ASSERT_TRUE(t.head == m.head) << "head table differs";
    ASSERT_TRUE(t.prev == m.prev) << "prev table differs";
    for (size_t k = 0; k < t.lit.size(); ++k) ASSERT_EQ(t.lit[k].freq, m.lit[k].freq) << k;
    for (size_t k = 0; k < t.dist.size(); ++k) ASSERT_EQ(t.dist[k].freq, m.dist[k].freq) << k;
    *consumed = static_cast<uint32_t>(src - p);
}

// Segments of random bytes (all literals), text (mostly matches) and
// records of random fields with a repeated key (short matches among
// literals, the shape that makes the masked form run), in turn.
Bytes mixed_input(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < n) {
        const size_t seg = 1500 + rng() % 6000;
        Bytes part;
        switch (rng() % 3) {
            case 0:
                part = vek::testdata::random_bytes(seg, rng());
                break;
            case 1:
                part = vek::testdata::text_bytes(seg, rng());
                break;
            default:
                while (part.size() < seg) {
                    const uint8_t key[] = {0x7F, 0x01, 0x00, static_cast<uint8_t>(rng() % 3)};
                    part.insert(part.end(), key, key + 4);
                    for (int k = 0; k < 12; ++k) part.push_back(static_cast<uint8_t>(rng()));
                }
        }
        out.insert(out.end(), part.begin(), part.end());
    }
    out.resize(n);
    return out;
}

TEST(DeflateLZ77GreedySpeed, StretchesOfBothFormsMatchTheModel) {
    const Bytes data = mixed_input(120000 / kScale, 3);
    struct Sizes {
        uint32_t ws, hs;
    };
    uint32_t round = 0;
    for (const Sizes sz : {Sizes{32768, 65536}, Sizes{1024, 4096}}) {
        for (const int32_t lazy : {8, 4, 258}) {
            for (const bool small_calls : {false, true}) {
                SCOPED_TRACE(testing::Message() << sz.ws << " " << sz.hs << " lazy " << lazy
                                                << (small_calls ? " small calls" : ""));
                std::mt19937 rng(round++);
                const vekLZ77LevelParams prm{1, 16, 16, lazy};
                Tables t(sz.ws, sz.hs);
                uint32_t idx = 0;
                size_t pos = 0;
                while (pos < data.size()) {
                    const size_t left = data.size() - pos;
                    const size_t step =
                        small_calls ? 300 + rng() % 9000 : std::min<size_t>(left, 65536);
                    const uint32_t len = static_cast<uint32_t>(std::min(left, step));
                    const uint32_t flush = len == left ? 2 : 0;
                    // Room for a few stretches, or for fewer items than the call holds.
                    const uint32_t cap = small_calls ? 1 + rng() % 3000 : 4096;
                    uint32_t consumed = 0;
                    call_both(t, sz.ws, sz.hs, prm, data.data() + pos, len, idx, cap, flush,
                              &consumed);
                    if (HasFatalFailure()) return;
                    if (consumed == 0 && flush == 0) {
                        // Less than the look-ahead left in this call: the next one takes more.
                        ASSERT_LT(len, left);
                        continue;
                    }
                    pos += consumed;
                }
            }
        }
    }
}

// Tables holding anything at all (stale positions, positions ahead of the
// input, extremes) with the usual table sizes over literal-rich input: both
// forms read only inside the input and the window and agree with the model.
TEST(DeflateLZ77GreedySpeed, ArbitraryTableContentsInBothForms) {
    std::mt19937 rng(41);
    const uint32_t ws = 32768, hs = 65536;
    Bytes text = vek::testdata::text_bytes(40000, 5);
    const Bytes tail = mixed_input(30000 / kScale, 6);
    text.insert(text.end(), tail.begin(), tail.end());
    for (int round = 0; round < 12; ++round) {
        Tables t(ws, hs);
        const uint32_t idx0 = 40000 + rng() % 1000;
        for (auto* v : {&t.head, &t.prev}) {
            for (auto& x : *v) {
                const uint32_t kind = rng() % 6;
                x = static_cast<int32_t>(kind == 0   ? rng()
                                         : kind == 1 ? idx0 + rng() % 4000
                                                     : idx0 - 3 * ws + rng() % (3 * ws));
            }
        }
        const uint32_t len = static_cast<uint32_t>(tail.size()) - rng() % 500;
        uint32_t idx = idx0, consumed = 0;
        const vekLZ77LevelParams prm{1, 8, 8, static_cast<int32_t>(4 + round % 6)};
        call_both(t, ws, hs, prm, text.data() + 40000, len, idx, 1 + rng() % 20000, rng() % 3,
                  &consumed);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
