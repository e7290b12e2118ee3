// The inflater against a plain bit-by-bit model of where each call stops:
// generated block bodies in fixed, general and short tables (valid ones,
// with flipped bits, cut short), decoded in calls with random small input
// and output pieces, a window flushed now and then, and after every call
// the status, mode, cursors, counts, held bits, saved step, output bytes and
// the guard bytes after the output space compared with the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "deflate/inflate.h"
#include "inflate_stop_driver.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using namespace vek::stopmodel;
using namespace vek::stopdriver;
using Lens = std::vector<uint8_t>;

struct BitOut {
    std::vector<uint8_t> b;
    uint64_t n = 0;
    void put(uint32_t v, uint32_t k) {
        for (uint32_t i = 0; i < k; ++i, ++n) {
            if (n % 8 == 0) b.push_back(0);
            b.back() |= static_cast<uint8_t>(((v >> i) & 1) << (n % 8));
        }
    }
    void code(const Code& c, int sym) {  // first code bit first
        for (int i = c.len[sym] - 1; i >= 0; --i) put((c.code[sym] >> i) & 1, 1);
    }
};

// A body in the given codes: literals and matches of used symbols, the
// distances mostly within `reach` (occasionally anywhere), then the end
// of block and some bits of what would follow.
std::vector<uint8_t> make_body(std::mt19937& rng, const Code& lit, const Code& dist, size_t items,
                               uint32_t reachFloor, uint32_t skipBits) {
    std::vector<int> lits, lens, dists;
    for (int s = 0; s < 256; ++s)
        if (lit.len[s]) lits.push_back(s);
    for (int s = 257; s < 286 && s < static_cast<int>(lit.len.size()); ++s)
        if (lit.len[s]) lens.push_back(s);
    for (int s = 0; s < 30 && s < static_cast<int>(dist.len.size()); ++s)
        if (dist.len[s]) dists.push_back(s);
    BitOut w;
    w.put(rng(), skipBits);
    uint64_t produced = 0;
    const uint32_t runBias = rng() % 4;
    for (size_t i = 0; i < items; ++i) {
        const bool match =
            !lens.empty() && !dists.empty() && (lits.empty() || rng() % 4 <= runBias);
        if (!match) {
            if (lits.empty()) break;
            w.code(lit, lits[rng() % lits.size()]);
            ++produced;
            continue;
        }
        const int ls = lens[rng() % lens.size()];
        const uint64_t reach = std::max<uint64_t>(produced, reachFloor);
        std::vector<int> ok;
        for (int s : dists)
            if (kDistBase[s] <= reach || rng() % 64 == 0) ok.push_back(s);
        if (ok.empty()) {
            if (lits.empty()) break;
            w.code(lit, lits[rng() % lits.size()]);
            ++produced;
            continue;
        }
        const int ds = ok[rng() % ok.size()];
        const uint32_t lex = kLenExtra[ls - 257], dex = kDistExtra[ds];
        const uint32_t lv = lex ? rng() & ((1u << lex) - 1) : 0;
        uint32_t dv = dex ? rng() & ((1u << dex) - 1) : 0;
        if (kDistBase[ds] + dv > reach && rng() % 8)
            dv = static_cast<uint32_t>(
                std::min<uint64_t>(dv, reach >= kDistBase[ds] ? reach - kDistBase[ds] : 0));
        w.code(lit, ls);
        w.put(lv, lex);
        w.code(dist, ds);
        w.put(dv, dex);
        produced += kLenBase[ls - 257] + lv;
    }
    w.code(lit, 256);
    w.put(rng(), rng() % 20);
    return w.b;
}

Case make_case(std::mt19937& rng, size_t items) {
    Case c;
    choose_codes(rng, c);
    c.skipBits = rng() % 8;
    c.stream = make_body(rng, Code(c.lit), Code(c.dist), items, c.winSize, c.skipBits);
    // Damage: flipped bits, or a cut.
    const uint32_t dmg = rng() % 4;
    if (dmg == 1) {
        for (uint32_t i = 1 + rng() % 3; i > 0; --i)
            c.stream[rng() % c.stream.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    } else if (dmg == 2) {
        c.stream.resize(rng() % (c.stream.size() + 1));
    }
    return c;
}

TEST(InflateStopModel, EveryCallMatchesTheModel) {
    std::mt19937 rng(20261207);
    Stats stats;
    const int rounds = vek::testdata::kSanitized ? 200 : 3000;
    for (int r = 0; r < rounds; ++r) {
        const size_t items = r % 10 == 0 ? 2000 + rng() % 3000 : rng() % 200;
        const Case c = make_case(rng, items);
        SCOPED_TRACE(testing::Message() << "round " << r << " form " << static_cast<int>(c.form)
                                        << " bytes " << c.stream.size());
        drive(c, rng, stats);
        if (HasFatalFailure()) return;
    }
    // The stops the model is about all happened.
    EXPECT_GT(stats.ends[vekInflateModeBlockEnd], 0u);
    EXPECT_GT(stats.ends[vekInflateModeSymbol], 0u);
    for (int e = 1; e <= 4; ++e) EXPECT_GT(stats.errors[e], 0u) << "error kind " << e;
    for (int f = 0; f < 3; ++f) EXPECT_GT(stats.forms[f], 0u) << "form " << f;
    EXPECT_GT(stats.bigCalls, 0u);
    for (int s = 2; s <= 6; ++s) EXPECT_GT(stats.steps[s], 0u) << "step " << s;
}

}  // namespace
