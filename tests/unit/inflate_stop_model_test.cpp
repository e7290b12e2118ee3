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

// A complete prefix code over n leaves (n >= 2) with lengths up to maxLen:
// leaves split at random, deep ones favoured when `deep`.
Lens random_lengths(std::mt19937& rng, const std::vector<int>& syms, size_t alphabet, int maxLen,
                    bool deep) {
    Lens lens(alphabet, 0);
    if (syms.size() == 1) {
        lens[syms[0]] = 1;  // the one allowed incomplete set
        return lens;
    }
    std::vector<int> depth{0};
    while (depth.size() < syms.size()) {
        std::vector<size_t> cand;
        for (size_t i = 0; i < depth.size(); ++i)
            if (depth[i] < maxLen) cand.push_back(i);
        size_t pick = cand[rng() % cand.size()];
        if (deep && rng() % 2) {
            for (size_t i : cand)
                if (depth[i] > depth[pick]) pick = i;
        }
        const int dd = depth[pick] + 1;
        depth[pick] = dd;
        depth.push_back(dd);
    }
    std::vector<int> s(syms);
    std::shuffle(s.begin(), s.end(), rng);
    for (size_t i = 0; i < s.size(); ++i) lens[s[i]] = static_cast<uint8_t>(depth[i]);
    return lens;
}

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
    // Window: absent, or a power of two filled with history.
    const uint32_t wk = rng() % 5;
    c.winSize = wk == 0 ? 0 : 1u << (wk == 1 ? rng() % 6 : 5 + rng() % 11);
    if (wk && rng() % 4 == 0) c.winSize = 1 + rng() % 5000;
    const uint32_t kind = rng() % 8;
    if (kind == 0) {
        c.form = Form::kFixed;
        c.lit = fixed_lit();
        c.dist = Lens(32, 5);
        c.nLit = 288;
        c.nDist = 32;
    } else {
        // Used literal/length symbols: the end of block always, then a few
        // or many others; 286 and 287 now and then (invalid symbols).
        std::vector<int> ls{256};
        const uint32_t want = rng() % 3 == 0 ? 1 + rng() % 8 : 1 + rng() % 286;
        for (uint32_t i = 0; i < want; ++i) {
            const int s = rng() % 16 == 0 ? 286 + rng() % 2 : static_cast<int>(rng() % 286);
            if (std::find(ls.begin(), ls.end(), s) == ls.end()) ls.push_back(s);
        }
        if (rng() % 16 == 0) ls = {static_cast<int>(rng() % 2 ? 256 : rng() % 256)};
        const int maxLit = rng() % 2 ? 15 : 9 + rng() % 3;
        c.lit = random_lengths(rng, ls, 288, maxLit, rng() % 2);
        int top = 0;
        for (size_t s = 0; s < c.lit.size(); ++s)
            if (c.lit[s]) top = static_cast<int>(s);
        c.nLit = std::max<uint32_t>(top + 1, rng() % 2 ? 257 : 257 + rng() % 32);
        c.nLit = std::min<uint32_t>(c.nLit, 288);
        std::vector<int> ds;
        const uint32_t dk = rng() % 8;
        const uint32_t nd = dk == 0 ? 0 : dk == 1 ? 1 : 2 + rng() % 29;
        while (ds.size() < nd) {
            const int s = static_cast<int>(rng() % 30);
            if (std::find(ds.begin(), ds.end(), s) == ds.end()) ds.push_back(s);
        }
        c.dist = ds.empty()
                     ? Lens(30, 0)
                     : random_lengths(rng, ds, 30, rng() % 2 ? 15 : 5 + rng() % 6, rng() % 2);
        c.nDist = rng() % 2 ? 30 : 0;
        for (size_t s = 0; s < 30; ++s)
            if (c.dist[s]) c.nDist = std::max<uint32_t>(c.nDist, static_cast<uint32_t>(s + 1));
        c.lit.resize(c.nLit);
        c.dist.resize(c.nDist);
        const int mLit = *std::max_element(c.lit.begin(), c.lit.end());
        const int mDist = c.dist.empty() ? 0 : *std::max_element(c.dist.begin(), c.dist.end());
        const bool shortOk = mLit <= 11 && mDist <= 10;
        c.form = shortOk && rng() % 2 ? Form::kShort : Form::kGeneral;
    }
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

// Sets up the state record of a case; false if the builder refuses the set
// (only sets the model generator should not make).
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
    for (int e = 1; e <= 3; ++e) EXPECT_GT(stats.errors[e], 0u) << "error kind " << e;
    for (int f = 0; f < 3; ++f) EXPECT_GT(stats.forms[f], 0u) << "form " << f;
    EXPECT_GT(stats.bigCalls, 0u);
    for (int s = 2; s <= 6; ++s) EXPECT_GT(stats.steps[s], 0u) << "step " << s;
}

}  // namespace
