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
#include "inflate_stop_model.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using namespace vek::stopmodel;
using Lens = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xA5;

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

enum class Form { kFixed, kGeneral, kShort };

struct Case {
    Form form;
    Lens lit, dist;
    uint32_t nLit, nDist;
    std::vector<uint8_t> stream;
    uint32_t skipBits;  // junk bits before the body in the first byte
    uint32_t winSize;   // 0: no window
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

Lens fixed_lit() {
    Lens l(288);
    for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return l;
}

Case make_case(std::mt19937& rng, size_t items) {
    Case c;
    // Window: absent, or a power of two filled with history.
    const uint32_t wk = rng() % 5;
    c.winSize = wk == 0 ? 0 : 1u << (wk == 1 ? rng() % 6 : 5 + rng() % 11);
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
bool setup_state(const Case& c, vekInflateState* st) {
    if (c.form == Form::kFixed) {
        st->tableType = vekInflateTableFixed;
        return true;
    }
    if (c.form == Form::kGeneral) {
        // The general form for any lengths, also those the builder would
        // give the short form.
        std::memset(st->tables, 0, sizeof(st->tables));
        st->tableType = vekInflateTableGeneral;
        return vek::deflate::build_general_table(c.lit.data(), c.nLit, c.dist.data(), c.nDist,
                                                 st->tables);
    }
    std::vector<uint16_t> lens(c.lit.begin(), c.lit.end());
    lens.insert(lens.end(), c.dist.begin(), c.dist.end());
    const vekStatus s = veksInflateBuildHuffTable(lens.data(), c.nLit, c.nDist, st);
    EXPECT_EQ(s, vekStatusOk);
    EXPECT_EQ(st->tableType, vekInflateTableShort);
    return s == vekStatusOk;
}

struct Stats {
    size_t calls = 0, ends[3] = {}, errors[4] = {}, steps[7] = {}, forms[3] = {}, bigCalls = 0;
};

// Decodes one case in random pieces, comparing every call with the model.
void drive(const Case& c, std::mt19937& rng, Stats& stats) {
    auto st = std::make_unique<vekInflateState>();
    std::memset(st.get(), 0, sizeof(vekInflateState));
    ASSERT_TRUE(setup_state(c, st.get()));
    ++stats.forms[static_cast<int>(c.form)];
    const Code lit(c.lit), dist(c.dist);

    const uint32_t winSize = c.winSize;
    std::vector<uint8_t> window = vek::testdata::random_bytes(winSize, rng());
    st->pWindow = winSize ? window.data() : nullptr;
    st->winSize = winSize ? winSize : rng() % 3;
    uint32_t winIdx = winSize ? rng() % (winSize + 1) : 0;

    const size_t cap = rng() % 4 ? 1024 + rng() % 4096 : 20000;
    std::vector<uint8_t> outA(cap + 64, kGuard), outM(cap + 64, kGuard);
    uint32_t dstIdx = 0;

    // The first bytes of the stream go in as held bits, less the junk bits.
    // (At least the first byte when it holds junk bits.)
    const uint32_t preBytes = std::min<uint32_t>(std::max<uint32_t>(rng() % 5, c.skipBits ? 1 : 0),
                                                 static_cast<uint32_t>(c.stream.size()));
    uint64_t held = 0;
    for (uint32_t i = 0; i < preBytes; ++i) held |= uint64_t{c.stream[i]} << (8 * i);
    uint32_t nbits = 8 * preBytes;
    if (nbits >= c.skipBits) {
        held >>= c.skipBits;
        nbits -= c.skipBits;
    } else {
        held = nbits = 0;
    }
    size_t pos = preBytes;
    uint32_t code = static_cast<uint32_t>(held);
    vekInflateMode mode = static_cast<vekInflateMode>(rng() % 2);
    Saved saved;
    int idle = 0;

    for (int call = 0; call < 100000; ++call) {
        // Flush the output into the window now and then (or restart the
        // buffer without a window: older distances then become invalid).
        if (dstIdx > cap - 300 || (dstIdx && winSize && rng() % 16 == 0)) {
            if (winSize) {
                for (uint32_t i = 0; i < dstIdx; ++i) {
                    window[winIdx % winSize] = outA[i];
                    winIdx = winIdx % winSize + 1;
                }
                if (winIdx == winSize && rng() % 2) winIdx = 0;
            }
            std::fill(outA.begin(), outA.end(), kGuard);
            std::fill(outM.begin(), outM.end(), kGuard);
            dstIdx = 0;
        }
        const size_t inLeft = c.stream.size() - pos;
        uint32_t srcLen;
        switch (rng() % 4) {
            case 0:
                srcLen = rng() % 3;
                break;
            case 1:
                srcLen = rng() % 20;
                break;
            case 2:
                srcLen = rng() % 100;
                break;
            default:
                srcLen = static_cast<uint32_t>(inLeft);
                break;
        }
        srcLen = static_cast<uint32_t>(std::min<size_t>(srcLen, inLeft));
        uint32_t dstLen;
        switch (rng() % 4) {
            case 0:
                dstLen = rng() % 3;
                break;
            case 1:
                dstLen = rng() % 40;
                break;
            case 2:
                dstLen = rng() % 400;
                break;
            default:
                dstLen = static_cast<uint32_t>(cap - dstIdx);
                break;
        }
        dstLen = std::min<uint32_t>(dstLen, static_cast<uint32_t>(cap - dstIdx));
        // Junk above the held bits must not matter.
        const uint32_t junk = nbits < 32 ? static_cast<uint32_t>(rng()) << nbits : 0;
        if (mode != vekInflateModeResume && rng() % 8 == 0) mode = static_cast<vekInflateMode>(3);
        // Words the call may not change: all but the saved step.
        vekInflateState before;
        std::memcpy(&before, st.get(), sizeof(before));

        std::fill(outA.begin() + dstIdx, outA.end(), kGuard);  // earlier calls' scratch
        const uint8_t* src = c.stream.data() + pos;
        uint32_t sl = srcLen, cd = code | junk, cl = nbits, dl = dstLen;
        uint8_t* dst = outA.data() + dstIdx;
        vekInflateMode md = mode;
        const vekStatus got =
            veksInflate_8u(&src, &sl, &cd, &cl, winIdx, &dst, &dl, dstIdx, &md, st.get());

        Io io{c.stream.data() + pos,
              srcLen,
              code,
              nbits,
              outM.data(),
              dstIdx,
              0,
              dstLen,
              winSize ? window.data() : nullptr,
              st->winSize,
              winIdx};
        const Result want = run(lit, dist, io, mode, saved);
        ++stats.calls;
        // Calls long enough for the decoder's widest loop.
        if (srcLen >= 2048 && dstLen >= 8192) ++stats.bigCalls;

        SCOPED_TRACE(testing::Message()
                     << "call " << call << " srcLen " << srcLen << " dstLen " << dstLen << " bits "
                     << nbits << " mode " << mode << " pos " << pos);
        ASSERT_EQ(got, want.status);
        if (got == vekStatusOk) {
            ASSERT_EQ(md, want.mode);
        } else {
            ASSERT_EQ(md, mode);
        }
        ASSERT_EQ(src, io.src);
        ASSERT_EQ(sl, io.srcLen);
        ASSERT_EQ(cl, io.nbits);
        const uint32_t mask = io.nbits ? ~uint32_t{0} >> (32 - io.nbits) : 0;
        ASSERT_EQ(cd & mask, static_cast<uint32_t>(io.bits) & mask);
        ASSERT_EQ(dst, outA.data() + dstIdx + io.out);
        ASSERT_EQ(dl, dstLen - io.out);
        // The output up to where the call stopped; past the space given,
        // the guard bytes. (Bytes in the space past the stop are free.)
        const size_t end = dstIdx + io.out;
        ASSERT_TRUE(std::equal(outA.begin(), outA.begin() + end, outM.begin())) << "output differs";
        ASSERT_TRUE(std::all_of(outA.begin() + dstIdx + dstLen, outA.end(), [](uint8_t b) {
            return b == kGuard;
        })) << "write past the output space";
        if (got == vekStatusOk && md == vekInflateModeResume) {
            ASSERT_EQ(static_cast<uint32_t>(st->step), want.saved.step);
            ASSERT_EQ(st->pendingValue, want.saved.value);
            ASSERT_EQ(st->pendingExtra & 15, want.saved.extra);
            ASSERT_EQ(st->pendingDist, want.saved.dist);
            ++stats.steps[want.saved.step];
            saved = want.saved;
            std::memcpy(&before.step, &st->step, 4 * sizeof(uint32_t));
        }
        ASSERT_EQ(std::memcmp(&before, st.get(), sizeof(before)), 0) << "state record changed";

        if (got != vekStatusOk) {
            ++stats.errors[want.error];
            return;
        }
        ++stats.ends[md];
        if (md == vekInflateModeBlockEnd) return;
        pos += srcLen - io.srcLen;
        code = static_cast<uint32_t>(io.bits);
        nbits = io.nbits;
        dstIdx += io.out;
        mode = md;
        // A cut stream: stop once every byte is in and nothing moves.
        const bool moved = io.out || io.srcLen != srcLen;
        idle = moved ? 0 : idle + 1;
        if (pos == c.stream.size() && idle > 4) return;
    }
    FAIL() << "no end after many calls";
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
    for (int e = 1; e <= 3; ++e) EXPECT_GT(stats.errors[e], 0u) << "error kind " << e;
    for (int f = 0; f < 3; ++f) EXPECT_GT(stats.forms[f], 0u) << "form " << f;
    EXPECT_GT(stats.bigCalls, 0u);
    for (int s = 2; s <= 6; ++s) EXPECT_GT(stats.steps[s], 0u) << "step " << s;
}

}  // namespace
