// Drives one block body through veksInflate_8u in random pieces and
// compares every call with the stop model (inflate_stop_model.h): status,
// mode, cursors, counts, held bits, saved step, output bytes, guard bytes
// past the output space, and the state record's other words.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "deflate/inflate.h"
#include "inflate_stop_model.h"
#include "test_data.h"
#include "vekdc.h"

// Checks: test assertions, or an abort in fuzz targets.
#ifdef VEKDC_STOP_DRIVER_ABORTS
#include <cstdio>
#include <cstdlib>
#define STOP_EQ(a, b)                                                                           \
    do {                                                                                        \
        if (!((a) == (b))) {                                                                    \
            std::fprintf(stderr, "inflate stop model: %s != %s (line %d)\n", #a, #b, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)
#define STOP_TRACE(x)
#else
#include <gtest/gtest.h>
#define STOP_EQ(a, b) ASSERT_EQ(a, b)
#define STOP_TRACE(x) SCOPED_TRACE(testing::Message() << x)
#endif

namespace vek::stopdriver {

using namespace vek::stopmodel;
using Lens = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xA5;

inline Lens fixed_lit() {
    Lens l(288);
    for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return l;
}

enum class Form { kFixed, kGeneral, kShort };

struct Case {
    Form form;
    Lens lit, dist;
    uint32_t nLit, nDist;
    std::vector<uint8_t> stream;
    uint32_t skipBits;  // junk bits before the body in the first byte
    uint32_t winSize;   // 0: no window
    // Bytes before the body that its distances may reach (the window's
    // first contents, newest last); random history when empty.
    std::vector<uint8_t> history;
    bool madeUpSteps = true;  // resume now and then from a made-up saved step
};

// What the decoder produced and, at the end of block, where it stopped.
struct Driven {
    bool blockEnd = false;
    uint64_t endBit = 0;  // bits of the stream before the bits left unread
    std::vector<uint8_t> out;
};

inline bool setup_state(const Case& c, vekInflateState* st) {
    if (c.form == Form::kFixed) {
        st->tableType = vekInflateTableFixed;
        return true;
    }
    const int mLit = c.lit.empty() ? 0 : *std::max_element(c.lit.begin(), c.lit.end());
    const int mDist = c.dist.empty() ? 0 : *std::max_element(c.dist.begin(), c.dist.end());
    if (c.form == Form::kGeneral && mLit <= 11 && mDist <= 10) {
        // The general form also for lengths the builder would give the
        // short form.
        std::memset(st->tables, 0, sizeof(st->tables));
        st->tableType = vekInflateTableGeneral;
        return vek::deflate::build_general_table(c.lit.data(), c.nLit, c.dist.data(), c.nDist,
                                                 st->tables);
    }
    std::vector<uint16_t> lens(c.lit.begin(), c.lit.end());
    lens.insert(lens.end(), c.dist.begin(), c.dist.end());
    const vekStatus s = veksInflateBuildHuffTable(lens.data(), c.nLit, c.nDist, st);
    return s == vekStatusOk && st->tableType == (c.form == Form::kShort ? vekInflateTableShort
                                                                        : vekInflateTableGeneral);
}

// A complete prefix code over n leaves (n >= 2) with lengths up to maxLen:
// leaves split at random, deep ones favoured when `deep`.
inline Lens random_lengths(std::mt19937& rng, const std::vector<int>& syms, size_t alphabet,
                           int maxLen, bool deep) {
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

// A window (none, a power of two, or an odd size) and codes for a case: the
// fixed ones, or random complete sets (a single code of length 1 now and
// then), in the general or, where their lengths allow, the short form.
inline void choose_codes(std::mt19937& rng, Case& c) {
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
}

struct Stats {
    size_t calls = 0, ends[3] = {}, errors[5] = {}, steps[7] = {}, forms[3] = {}, bigCalls = 0;
};

// Decodes one case in random pieces, comparing every call with the model.
inline void drive(const Case& c, std::mt19937& rng, Stats& stats, Driven* res = nullptr) {
    auto st = std::make_unique<vekInflateState>();
    std::memset(st.get(), 0, sizeof(vekInflateState));
    STOP_EQ(setup_state(c, st.get()), true);
    ++stats.forms[static_cast<int>(c.form)];
    const Code lit(c.lit), dist(c.dist);

    const uint32_t winSize = c.winSize;
    std::vector<uint8_t> window = vek::testdata::random_bytes(winSize, rng());
    uint32_t winIdx = winSize ? rng() % (winSize + 1) : 0;
    for (size_t k = 1; winSize && k <= std::min<size_t>(c.history.size(), winSize); ++k)
        window[(winIdx + winSize - k) % winSize] = c.history[c.history.size() - k];
    st->pWindow = winSize ? window.data() : nullptr;
    st->winSize = winSize ? winSize : rng() % 3;

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
        // Now and then a saved step the caller made up: any step number,
        // lengths and distances of any size, junk above the extra-bit count.
        if (c.madeUpSteps && mode == vekInflateModeResume && rng() % 32 == 0) {
            st->step = static_cast<int32_t>(rng() % 9);
            st->pendingValue = rng() % 2 ? rng() % 300 : rng() % 70000;
            st->pendingExtra = static_cast<uint32_t>(rng());
            st->pendingDist = rng() % 2 ? rng() % 40000 : static_cast<uint32_t>(rng());
            saved = {static_cast<uint32_t>(st->step), st->pendingValue, st->pendingExtra & 15,
                     st->pendingDist};
        }
        // Words the call may not change: all but the saved step.
        vekInflateState before;
        std::memcpy(&before, st.get(), sizeof(before));

        std::fill(outA.begin() + dstIdx, outA.end(), kGuard);  // earlier calls' scratch
        // The input piece in a buffer of its own size, so that a read past it
        // shows under the address sanitizer.
        std::unique_ptr<uint8_t[]> piece(new uint8_t[srcLen]);
        std::copy(c.stream.begin() + pos, c.stream.begin() + pos + srcLen, piece.get());
        const uint8_t* src = piece.get();
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

        STOP_TRACE("call " << call << " srcLen " << srcLen << " dstLen " << dstLen << " bits "
                           << nbits << " mode " << mode << " pos " << pos);
        STOP_EQ(got, want.status);
        if (got == vekStatusOk) {
            STOP_EQ(md, want.mode);
        } else {
            STOP_EQ(md, mode);
        }
        STOP_EQ(src - piece.get(), io.src - (c.stream.data() + pos));
        STOP_EQ(sl, io.srcLen);
        STOP_EQ(cl, io.nbits);
        const uint32_t mask = io.nbits ? ~uint32_t{0} >> (32 - io.nbits) : 0;
        STOP_EQ(cd & mask, static_cast<uint32_t>(io.bits) & mask);
        STOP_EQ(dst, outA.data() + dstIdx + io.out);
        STOP_EQ(dl, dstLen - io.out);
        // The output up to where the call stopped; past the space given,
        // the guard bytes. (Bytes in the space past the stop are free.)
        const size_t end = dstIdx + io.out;
        const bool sameOutput = std::equal(outA.begin(), outA.begin() + end, outM.begin());
        STOP_EQ(sameOutput, true);
        const bool guardKept = std::all_of(outA.begin() + dstIdx + dstLen, outA.end(),
                                           [](uint8_t b) { return b == kGuard; });
        STOP_EQ(guardKept, true);
        if (got == vekStatusOk && md == vekInflateModeResume) {
            STOP_EQ(static_cast<uint32_t>(st->step), want.saved.step);
            STOP_EQ(st->pendingValue, want.saved.value);
            STOP_EQ(st->pendingExtra & 15, want.saved.extra);
            STOP_EQ(st->pendingDist, want.saved.dist);
            ++stats.steps[want.saved.step];
            saved = want.saved;
            std::memcpy(&before.step, &st->step, 4 * sizeof(uint32_t));
        }
        STOP_EQ(std::memcmp(&before, st.get(), sizeof(before)), 0);  // only the saved step moves

        if (got != vekStatusOk) {
            ++stats.errors[want.error];
            return;
        }
        ++stats.ends[md];
        if (res) res->out.insert(res->out.end(), outA.begin() + dstIdx, outA.begin() + end);
        if (md == vekInflateModeBlockEnd) {
            if (res) {
                res->blockEnd = true;
                res->endBit = 8 * (pos + srcLen - io.srcLen) - io.nbits;
            }
            return;
        }
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
    const bool endedWithinCalls = false;
    STOP_EQ(endedWithinCalls, true);
}

}  // namespace vek::stopdriver
