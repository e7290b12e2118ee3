// Deflate LZ77 stage: argument checks, hand-worked pair lists, look-ahead,
// flush, room, dictionary, hash update and rebasing edges, and exact
// agreement with the plain model over many inputs, levels and call splits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "deflate_lz77_model.h"
#include "null_args.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

namespace model = vek::testref::lz77model;
using Bytes = std::vector<uint8_t>;

// The sanitizer build runs without optimisation: smaller inputs there.
constexpr size_t kScale = vek::testdata::kSanitized ? 4 : 1;

constexpr uint16_t kUntouched = 0xB00F;  // upper half of every counter element

Bytes str(const char* s) {
    return Bytes(s, s + std::char_traits<char>::length(s));
}
Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 300 bytes whose 3- and 4-byte strings all differ from each other and
// from ASCII text: nothing in them matches.
Bytes filler(size_t n = 300) {
    Bytes f;
    for (size_t k = 0; f.size() < n; ++k) {
        f.push_back(static_cast<uint8_t>(0x80 | (k >> 7)));
        f.push_back(static_cast<uint8_t>(k & 0x7F));
    }
    f.resize(n);
    return f;
}

// Which function a run calls.
struct Mode {
    int level;  // 0..29: the dispatcher; -1 the greedy engine, -2 the lazy engine
    vekLZ77LevelParams prm;
    static Mode lv(int l) { return {l, model::level_params(l)}; }
    static Mode fast(vekLZ77LevelParams p) { return {-1, p}; }
    static Mode slow(vekLZ77LevelParams p) { return {-2, p}; }
    bool is_lazy() const { return level >= 0 ? level % 10 > 4 : level == -2; }
    bool is_single() const { return !is_lazy() && prm.maxChain == 0; }
};

// The caller's encoder state.
struct State {
    uint32_t winSize, hashSize;
    std::vector<int32_t> head, prev;
    std::vector<vekDeflateFreqEntry> lit, dist;
    explicit State(uint32_t w = 32768, uint32_t h = 32768)
        : winSize(w),
          hashSize(h),
          head(h, -static_cast<int32_t>(w)),
          prev(w, -static_cast<int32_t>(w)),
          lit(286, vekDeflateFreqEntry{0, kUntouched}),
          dist(30, vekDeflateFreqEntry{0, kUntouched}) {}
    // The 286 literal/length counters, then the 30 distance counters.
    std::vector<uint32_t> freqs() const {
        std::vector<uint32_t> f;
        for (const auto* t : {&lit, &dist})
            for (const vekDeflateFreqEntry& e : *t) f.push_back(e.freq);
        return f;
    }
};

struct Pair {
    uint8_t lit;
    uint16_t dist;
    bool operator==(const Pair& o) const { return lit == o.lit && dist == o.dist; }
};

struct Io {
    const uint8_t* src;
    uint32_t len;
    uint32_t idx;
    const uint8_t* win;
    uint32_t cap;
    uint32_t flush;
};

struct Result {
    vekStatus st;
    uint32_t consumed, srcLen, srcIdx, dstLen;
    std::vector<Pair> pairs;
};

// Runs the library (or the model) once. The pair arrays are exactly `cap`
// elements long (one guard element when cap is 0); elements past the items
// reported must keep their fill.
Result run(const Mode& m, State& s, const Io& io, bool use_model = false) {
    std::vector<uint8_t> lit(std::max<uint32_t>(io.cap, 1), 0x5A);
    std::vector<uint16_t> dist(lit.size(), 0x5A5A);
    const uint8_t* src = io.src;
    uint32_t len = io.len, idx = io.idx, dst = io.cap;
    Result r{vekStatusOk, 0, 0, 0, 0, {}};
    if (use_model) {
        model::Call c = model::make_call(&src, &len, &idx, io.win, s.winSize, s.head.data(),
                                         s.prev.data(), s.hashSize, s.lit.data(), s.dist.data(),
                                         lit.data(), dist.data(), &dst);
        if (m.level >= 0)
            model::level(c, m.level, io.flush);
        else if (m.level == -1)
            model::fast(c, m.prm, io.flush);
        else
            model::slow(c, m.prm, io.flush);
    } else if (m.level >= 0) {
        r.st = veksDeflateLZ77_8u(&src, &len, &idx, io.win, s.winSize, s.head.data(), s.prev.data(),
                                  s.hashSize, s.lit.data(), s.dist.data(), lit.data(), dist.data(),
                                  &dst, m.level, io.flush);
    } else {
        auto fn = m.level == -1 ? veksDeflateLZ77Fast_8u : veksDeflateLZ77Slow_8u;
        r.st = fn(&src, &len, &idx, io.win, s.winSize, s.head.data(), s.prev.data(), s.hashSize,
                  s.lit.data(), s.dist.data(), lit.data(), dist.data(), &dst, &m.prm, io.flush);
    }
    r.consumed = static_cast<uint32_t>(src - io.src);
    r.srcLen = len;
    r.srcIdx = idx;
    r.dstLen = dst;
    EXPECT_LE(dst, io.cap);
    const uint32_t n = io.cap - std::min(dst, io.cap);
    for (uint32_t k = 0; k < n; ++k) r.pairs.push_back({lit[k], dist[k]});
    for (size_t k = n; k < lit.size(); ++k) {
        EXPECT_EQ(lit[k], 0x5A) << "pair element " << k << " written past the items";
        EXPECT_EQ(dist[k], 0x5A5A) << "pair element " << k << " written past the items";
    }
    return r;
}

// Runs library and model from the same state; everything must agree.
Result run_both(const Mode& m, State& s, const Io& io) {
    State ms = s;
    const Result a = run(m, s, io);
    const Result b = run(m, ms, io, true);
    EXPECT_EQ(a.st, vekStatusOk);
    EXPECT_EQ(a.consumed, b.consumed);
    EXPECT_EQ(a.srcLen, b.srcLen);
    EXPECT_EQ(a.srcIdx, b.srcIdx);
    EXPECT_EQ(a.dstLen, b.dstLen);
    EXPECT_TRUE(a.pairs == b.pairs)
        << "pairs differ from the model (" << a.pairs.size() << " vs " << b.pairs.size() << ")";
    EXPECT_TRUE(s.head == ms.head) << "head table differs from the model";
    EXPECT_TRUE(s.prev == ms.prev) << "prev table differs from the model";
    EXPECT_TRUE(s.freqs() == ms.freqs()) << "counters differ from the model";
    return a;
}

// Appends the bytes the pairs stand for to `out`; every distance must lie
// within the window and the bytes produced so far.
void replay(const std::vector<Pair>& pairs, Bytes& out, uint32_t win_size) {
    for (const Pair& p : pairs) {
        if (p.dist == 0) {
            out.push_back(p.lit);
            continue;
        }
        ASSERT_LE(p.dist, out.size());
        ASSERT_LT(p.dist, win_size);
        const size_t from = out.size() - p.dist;
        for (size_t k = 0; k < p.lit + 3u; ++k) out.push_back(out[from + k]);
    }
}

// Counters recomputed from pairs (modulo 2^16, as the counters wrap).
void expect_counts(const State& s, const std::vector<Pair>& pairs) {
    std::vector<uint32_t> want(316);
    for (const Pair& p : pairs) {
        if (p.dist == 0) {
            ++want[p.lit];
        } else {
            ++want[257 + model::length_code(p.lit + 3)];
            ++want[286 + model::distance_code(p.dist)];
        }
    }
    for (auto& w : want) w &= 0xFFFF;
    EXPECT_EQ(s.freqs(), want);
    for (const auto* t : {&s.lit, &s.dist})
        for (const vekDeflateFreqEntry& e : *t) EXPECT_EQ(e.len, kUntouched);
}

// One call with all the input and room, from a fresh state.
Result once(const Mode& m, const Bytes& in, uint32_t flush, State& s, uint32_t cap = 0) {
    const uint32_t n = static_cast<uint32_t>(in.size());
    return run_both(m, s, {in.data(), n, 0, in.data(), cap ? cap : n + 8, flush});
}

// Streams `data` through a run of calls, as a caller would.
// max_cap 0: room for everything; max_step 0: all input at once; contiguous:
// window right before the source in one buffer; start: position of the first
// byte; dict: preloaded through veksDeflateDictionarySet_8u.
struct StreamOpts {
    uint32_t seed, max_cap;
    size_t max_step;
    bool contiguous, with_model;
    uint32_t start;
    Bytes dict;
    StreamOpts(uint32_t seed_ = 1, uint32_t cap = 0, size_t step = 0, bool contig = true,
               bool model = true, uint32_t start_ = 0, Bytes dict_ = {})
        : seed(seed_),
          max_cap(cap),
          max_step(step),
          contiguous(contig),
          with_model(model),
          start(start_),
          dict(std::move(dict_)) {}
};

void stream(const Mode& m, const Bytes& data, State& s, const StreamOpts& o) {
    std::mt19937 rng(o.seed);
    const size_t n = data.size();
    const size_t dn = std::min<size_t>(o.dict.size(), s.winSize);
    // all = dictionary tail + data: position start + k is all[k].
    Bytes all(o.dict.end() - static_cast<std::ptrdiff_t>(dn), o.dict.end());
    all.insert(all.end(), data.begin(), data.end());
    uint32_t idx = o.start;
    if (!o.dict.empty()) {
        Bytes win(s.winSize);
        ASSERT_EQ(veksDeflateDictionarySet_8u(o.dict.data(), static_cast<uint32_t>(o.dict.size()),
                                              s.head.data(), s.hashSize, s.prev.data(), win.data(),
                                              s.winSize, m.level >= 0 ? m.level : 1),
                  vekStatusOk);
        ASSERT_TRUE(
            std::equal(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(dn), win.begin()));
        idx = static_cast<uint32_t>(dn);
    }
    const std::vector<int32_t> prev_at_start = s.prev;
    std::vector<Pair> pairs;
    Bytes out(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(dn));  // bytes rebuilt so far
    out.reserve(all.size());
    size_t done = 0, avail = 0;
    bool grow = true;
    while (done < n) {
        if (avail < n && (grow || rng() % 2))
            avail = std::min(n, avail + (o.max_step ? 1 + rng() % o.max_step : n));
        const uint32_t flush = avail == n ? (rng() % 3 ? 2 : 0xFFFFFFFFu) : rng() % 2;
        const uint32_t cap =
            o.max_cap ? 1 + rng() % o.max_cap : static_cast<uint32_t>(avail - done + 8);
        const size_t h = std::min<size_t>(dn + done, s.winSize);  // history bytes kept
        std::unique_ptr<uint8_t[]> src_copy, win_copy;
        const uint8_t *src, *win;
        if (o.contiguous) {
            src = win = all.data() + dn + done;
        } else {
            // Exact-size heap buffers: the source, and only the history that
            // exists (one spare byte when none, so the pointer is not null).
            src_copy.reset(new uint8_t[avail - done]);
            std::copy(data.begin() + static_cast<std::ptrdiff_t>(done),
                      data.begin() + static_cast<std::ptrdiff_t>(avail), src_copy.get());
            win_copy.reset(new uint8_t[std::max<size_t>(h, 1)]);
            std::copy(all.begin() + static_cast<std::ptrdiff_t>(dn + done - h),
                      all.begin() + static_cast<std::ptrdiff_t>(dn + done), win_copy.get());
            src = src_copy.get();
            win = win_copy.get() + h;
        }
        const Io io{src, static_cast<uint32_t>(avail - done), idx, win, cap, flush};
        const Result r = o.with_model ? run_both(m, s, io) : run(m, s, io);
        ASSERT_EQ(r.st, vekStatusOk);
        ASSERT_EQ(r.consumed + r.srcLen, io.len);
        ASSERT_TRUE(r.srcIdx == idx + r.consumed || r.srcIdx == s.winSize + r.consumed)
            << "position cursor";
        // The call's pairs stand for exactly the bytes it consumed.
        replay(r.pairs, out, s.winSize);
        ASSERT_EQ(out.size(), dn + done + r.consumed);
        ASSERT_TRUE(std::equal(out.begin() + static_cast<std::ptrdiff_t>(dn + done), out.end(),
                               data.begin() + static_cast<std::ptrdiff_t>(done)))
            << "pairs rebuild other bytes, call at " << done;
        // A flushing call stops early only for want of room (the lazy engine
        // keeps one element for its pending item).
        ASSERT_TRUE(flush < 2 || r.pairs.size() + 1 >= cap || r.srcLen == 0) << "flush left input";
        for (const Pair& p : r.pairs)
            ASSERT_TRUE(m.is_single() || p.dist == 0 || p.lit > 0) << "match shorter than 4";
        pairs.insert(pairs.end(), r.pairs.begin(), r.pairs.end());
        done += r.consumed;
        idx = r.srcIdx;
        // Only a call that keeps its look-ahead may consume nothing.
        ASSERT_TRUE(r.consumed > 0 || avail < n) << "a flushing call made no progress";
        grow = r.consumed == 0;
    }
    expect_counts(s, pairs);
    EXPECT_TRUE(!m.is_single() || s.prev == prev_at_start) << "single-probe search wrote prev";
}

std::vector<std::pair<std::string, Bytes>> inputs(size_t n, uint32_t seed) {
    Bytes bin;
    std::mt19937 rng(seed);
    for (uint32_t v = 0; bin.size() < n; v += 1 + rng() % 3) {
        const uint32_t w = rng() % 8 ? v : static_cast<uint32_t>(rng());
        for (int k = 0; k < 4; ++k) bin.push_back(static_cast<uint8_t>(w >> (8 * k)));
    }
    bin.resize(n);
    Bytes mix = vek::testdata::text_bytes(n / 2, seed);
    mix = cat(mix, vek::testdata::runs_bytes(n / 4, seed + 1));
    mix = cat(mix, vek::testdata::random_bytes(n - mix.size(), seed + 2));
    return {{"text", vek::testdata::text_bytes(n, seed)},
            {"random", vek::testdata::random_bytes(n, seed)},
            {"runs", vek::testdata::runs_bytes(n, seed)},
            {"binary", bin},
            {"mixed", mix}};
}

// ---------------------------------------------------------------- checks

enum Fn { kLevel, kFast, kSlow };

struct Args {
    Bytes data = Bytes(400, 'a');
    const uint8_t* src = data.data();
    uint32_t len = 400, idx = 0, dst = 16, winSize = 32768, hashSize = 32768;
    std::vector<int32_t> head = std::vector<int32_t>(65536, -32768),
                         prev = std::vector<int32_t>(32768, -32768);
    std::vector<vekDeflateFreqEntry> lit = std::vector<vekDeflateFreqEntry>(286),
                                     dist = std::vector<vekDeflateFreqEntry>(30);
    Bytes litd = Bytes(16);
    std::vector<uint16_t> distd = std::vector<uint16_t>(16);
    vekLZ77LevelParams prm{8, 8, 8, 8};

    // Slots 0..10 are the pointer arguments in order, 11 is *ppSrc, 12 pParams.
    vekStatus call(Fn fn, vek::testing::NullSlot z = {-1}, int32_t level = 1) {
        if (z.is(11)) src = nullptr;
        if (fn == kLevel)
            return veksDeflateLZ77_8u(z(&src, 0), z(&len, 1), z(&idx, 2), z(data.data(), 3),
                                      winSize, z(head.data(), 4), z(prev.data(), 5), hashSize,
                                      z(lit.data(), 6), z(dist.data(), 7), z(litd.data(), 8),
                                      z(distd.data(), 9), z(&dst, 10), level, 2);
        auto f = fn == kFast ? veksDeflateLZ77Fast_8u : veksDeflateLZ77Slow_8u;
        return f(z(&src, 0), z(&len, 1), z(&idx, 2), z(data.data(), 3), winSize, z(head.data(), 4),
                 z(prev.data(), 5), hashSize, z(lit.data(), 6), z(dist.data(), 7),
                 z(litd.data(), 8), z(distd.data(), 9), z(&dst, 10), z(&prm, 12), 2);
    }
    // Nothing changed by a failed call.
    void expect_untouched() const {
        EXPECT_EQ(src, data.data());
        EXPECT_EQ(len, 400u);
        EXPECT_EQ(idx, 0u);
        EXPECT_EQ(dst, 16u);
        EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](int32_t v) { return v == -32768; }));
        EXPECT_TRUE(std::all_of(prev.begin(), prev.end(), [](int32_t v) { return v == -32768; }));
        EXPECT_TRUE(
            std::all_of(lit.begin(), lit.end(), [](vekDeflateFreqEntry e) { return e.freq == 0; }));
        EXPECT_TRUE(std::all_of(litd.begin(), litd.end(), [](uint8_t b) { return b == 0; }));
    }
};

// The dispatcher's level first; then each pointer alone while a size and a
// parameter are wrong too; then the sizes, then the parameter values.
TEST(DeflateLZ77Args, ChecksInOrder) {
    for (int32_t l : {30, 31, -1, -30, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(veksDeflateLZ77_8u(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, l, 0),
                  vekStatusSizeErr)
            << l;
        Args a;
        EXPECT_EQ(a.call(kLevel, {-1}, l), vekStatusSizeErr);
        a.expect_untouched();
    }
    const struct {
        Fn fn;
        int32_t level;
    } fns[] = {{kLevel, 0},  {kLevel, 4}, {kLevel, 5}, {kLevel, 19},
               {kLevel, 29}, {kFast, 0},  {kSlow, 0}};
    for (const auto& f : fns) {
        SCOPED_TRACE(testing::Message() << "function " << f.fn << " level " << f.level);
        for (int k = 0; k < (f.fn == kLevel ? 12 : 13); ++k) {
            Args a;
            a.winSize = 100;
            a.prm = {-1, 0, 0, 0};
            EXPECT_EQ(a.call(f.fn, {k}, f.level), vekStatusNullPtrErr) << "pointer " << k;
            if (k == 11) a.src = a.data.data();
            a.expect_untouched();
        }
        for (uint32_t bad : {0u, 255u, 32769u, 65536u, 65537u, 0x80000000u}) {
            for (bool win : {true, false}) {
                if (win ? bad > 65536 : bad == 32769 || bad == 65536) continue;
                Args a;
                (win ? a.winSize : a.hashSize) = bad;
                a.prm = {-1, 0, 0, 0};
                EXPECT_EQ(a.call(f.fn, {-1}, f.level), vekStatusSizeErr) << win << " " << bad;
                a.expect_untouched();
            }
        }
        for (uint32_t ws : {256u, 32768u}) {
            for (uint32_t hs : {256u, 65536u}) {
                Args a;
                a.winSize = ws;
                a.hashSize = hs;
                a.prev.assign(ws, -32768);
                EXPECT_EQ(a.call(f.fn, {-1}, f.level), vekStatusOk) << ws << " " << hs;
            }
        }
    }
    // maxChain 0 makes the greedy engine ignore the three lengths; the lazy one needs 1.
    const struct {
        vekLZ77LevelParams prm;
        vekStatus fast, slow;
    } cases[] = {
        {{-1, 8, 8, 8}, vekStatusBadArgErr, vekStatusBadArgErr},
        {{INT32_MIN, 0, 0, 0}, vekStatusBadArgErr, vekStatusBadArgErr},
        {{1, 3, 8, 8}, vekStatusBadArgErr, vekStatusBadArgErr},
        {{1, 8, 3, 8}, vekStatusBadArgErr, vekStatusBadArgErr},
        {{1, 8, 8, 3}, vekStatusBadArgErr, vekStatusBadArgErr},
        {{5, -4, 4, 4}, vekStatusBadArgErr, vekStatusBadArgErr},
        {{0, 8, 8, 8}, vekStatusOk, vekStatusBadArgErr},
        {{0, -5, 0, 1}, vekStatusOk, vekStatusBadArgErr},
        {{1, 4, 4, 4}, vekStatusOk, vekStatusOk},
    };
    for (const auto& c : cases) {
        for (Fn fn : {kFast, kSlow}) {
            Args a;
            a.prm = c.prm;
            const vekStatus want = fn == kFast ? c.fast : c.slow;
            EXPECT_EQ(a.call(fn), want) << fn << " " << c.prm.maxChain << " " << c.prm.goodLength;
            if (want != vekStatusOk) a.expect_untouched();
        }
    }
}

TEST(DeflateLZ77Args, DictionaryAndUpdate) {
    Bytes d(300, 'x'), w(32768);
    std::vector<int32_t> head(32768, -32768), prev(32768, -32768);
    // Pointers first (with every size wrong too), then the sizes.
    vek::testing::expect_each_null_refused(4, [&](vek::testing::NullSlot z) {
        return veksDeflateDictionarySet_8u(z(d.data(), 0), 300, z(head.data(), 1), 0,
                                           z(prev.data(), 2), z(w.data(), 3), 0, 1);
    });
    vek::testing::expect_each_null_refused(3, [&](vek::testing::NullSlot z) {
        return veksDeflateUpdateHash_8u(z(d.data(), 0), 0, 300, z(head.data(), 1), 0,
                                        z(prev.data(), 2), 0, 1);
    });
    for (auto [ws, hs] : {std::pair{255u, 32768u}, std::pair{32769u, 32768u},
                          std::pair{256u, 65537u}, std::pair{256u, 128u}}) {
        EXPECT_EQ(veksDeflateDictionarySet_8u(d.data(), 300, head.data(), hs, prev.data(), w.data(),
                                              ws, 1),
                  vekStatusSizeErr);
        EXPECT_EQ(veksDeflateUpdateHash_8u(d.data(), 0, 300, head.data(), hs, prev.data(), ws, 1),
                  vekStatusSizeErr);
    }
    EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](int32_t v) { return v == -32768; }));
    EXPECT_TRUE(std::all_of(prev.begin(), prev.end(), [](int32_t v) { return v == -32768; }));
    EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](uint8_t v) { return v == 0; }));
}

// ---------------------------------------------------------- hand-worked

std::vector<Pair> lits(const Bytes& b) {
    std::vector<Pair> v;
    for (uint8_t c : b) v.push_back({c, 0});
    return v;
}
std::vector<Pair> operator+(std::vector<Pair> a, const std::vector<Pair>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<Pair> mt(int len, int dist) {
    return {Pair{static_cast<uint8_t>(len - 3), static_cast<uint16_t>(dist)}};
}
uint32_t hash4(const Bytes& b, size_t i, uint32_t hash_size = 32768) {
    return model::crc32c_word(b[i] | b[i + 1] << 8 | b[i + 2] << 16 | uint32_t(b[i + 3]) << 24) &
           (hash_size - 1);
}
// The item that starts at byte `offset`.
Pair item_at(const std::vector<Pair>& pairs, size_t offset) {
    size_t at = 0;
    for (const Pair& p : pairs) {
        if (at == offset) return p;
        at += p.dist ? p.lit + 3u : 1u;
    }
    ADD_FAILURE() << "no item starts at " << offset;
    return {0, 0};
}

// "abcdabcdabcdX" with flush at level 1: four literals; at position 4 the
// candidate 0 matches 8 bytes, but no match may reach into the last 3 bytes,
// so the length is 13 - 4 - 3 = 6; then the last 3 bytes as literals. The
// match overlaps itself (distance 4 < 6 <= lazyLength), so positions
// 4 + max(6 - 4 - 3, 1) = 5 to 9 are registered; 10 to 12 are not.
// At level 0 (3-byte hash) the match may run to 2 bytes before the end.
TEST(DeflateLZ77Hand, FlushTails) {
    const Bytes in = str("abcdabcdabcdX");
    State s;
    const Result r = once(Mode::lv(1), in, 2, s, 20);
    EXPECT_TRUE(r.pairs == lits(str("abcd")) + mt(6, 4) + lits(str("cdX")));
    EXPECT_EQ(r.consumed, 13u);
    EXPECT_EQ(r.srcIdx, 13u);
    EXPECT_EQ(r.dstLen, 20u - 8u);
    // "abcd" at 0, 4, 8; "bcda" at 1, 5; "bcdX" at 9 only; 10..12 not registered.
    EXPECT_TRUE(s.head[hash4(in, 0)] == 8 && s.head[hash4(in, 1)] == 5 &&
                s.head[hash4(in, 9)] == 9);
    const int32_t prev[13] = {-32768, -32768, -32768, -32768, 0,      1,     -32768,
                              -32768, 4,      -32768, -32768, -32768, -32768};
    for (int q : {0, 4, 5, 8, 9, 10, 11, 12}) EXPECT_EQ(s.prev[q], prev[q]) << q;
    for (int32_t v : s.head) EXPECT_LT(v, 10);
    EXPECT_EQ(s.lit[257 + 3].freq, 1);  // length 6
    EXPECT_EQ(s.dist[3].freq, 1);       // distance 4
    EXPECT_EQ(s.lit['c'].freq, 2);
    EXPECT_EQ(s.lit['X'].freq, 1);
    State z;
    z.prev.assign(z.prev.size(), 0x13572468);
    const Result r0 = once(Mode::lv(0), in, 2, z, 20);
    EXPECT_TRUE(r0.pairs == lits(str("abcd")) + mt(7, 4) + lits(str("dX")));
    EXPECT_TRUE(
        std::all_of(z.prev.begin(), z.prev.end(), [](int32_t v) { return v == 0x13572468; }));
}

// At position 16 "abcd" matches 4 bytes at 0; at 17 "bcdefghijk" matches 10
// bytes at 5. The greedy level takes the 4 and then "efghijk" (7 at 8); the
// lazy level emits 'a' as a literal and takes the 10.
TEST(DeflateLZ77Hand, LazyDefersToLongerMatch) {
    const Bytes head = str("abcdQbcdefghijkR"), f = filler();
    const Bytes in = cat(cat(head, str("abcdefghijk")), f);
    State g, z, z2;
    EXPECT_TRUE(once(Mode::lv(1), in, 2, g).pairs == lits(head) + mt(4, 16) + mt(7, 12) + lits(f));
    EXPECT_TRUE(once(Mode::lv(5), in, 2, z).pairs ==
                lits(head) + lits(str("a")) + mt(10, 12) + lits(f));
    EXPECT_EQ(once(Mode::lv(25), in, 0, z2).consumed, in.size() - 261);  // the look-ahead stays
}

// The chain cut looks at the best length before the candidate measured. At
// C the chain holds B35 (35 bytes in common), then B50 (50), then A (100).
// goodLength 8: B35's 35 >= 8 comes while the best is still 3, so the limit
// drops to 4 >> 2 = 1 and the walk ends with 35. goodLength 36: B35 does not
// cut; B50's 50 >= 36 comes with a best of 35 (not below 32), so the walk
// goes on to A.
TEST(DeflateLZ77Hand, GreedyChainCut) {
    const Bytes f = filler(120);
    const auto piece = [&f](size_t n, char end) {
        return cat(Bytes(f.begin(), f.begin() + n), Bytes(1, end));
    };
    const Bytes in =
        cat(cat(cat(cat(piece(100, '#'), piece(50, '%')), piece(35, '$')), piece(100, '&')),
            vek::testdata::text_bytes(300, 2));
    const size_t b50 = 101, b35 = 152, c = 188;
    State s1, s2;
    const Result r1 = once(Mode::fast({4, 8, 258, 258}), in, 2, s1);
    EXPECT_TRUE(item_at(r1.pairs, b50) == mt(50, 101)[0]);
    EXPECT_TRUE(item_at(r1.pairs, b35) == mt(35, static_cast<int>(b35 - b50))[0]);
    EXPECT_TRUE(item_at(r1.pairs, c) == mt(35, static_cast<int>(c - b35))[0]);
    const Result r2 = once(Mode::fast({4, 36, 258, 258}), in, 2, s2);
    EXPECT_TRUE(item_at(r2.pairs, c) == mt(100, static_cast<int>(c))[0]);
}

// The last 3 positions of a flushing call are not registered; their prev
// slots become -winSize when they hold a position not before them or one
// from before the call, and keep positions in between.
TEST(DeflateLZ77Hand, FinalPositionsMarkPrevSlots) {
    for (int l : {1, 5, 29}) {
        for (size_t n : {3, 5, 400}) {
            State s(32768, 256);
            const uint32_t idx = 1000, last = idx + static_cast<uint32_t>(n) - 3;
            // Slot of `last`: itself, then one after it; of last + 1: earlier
            // positions of this call (kept); of last + 2: from before the call.
            const int32_t preset[2][3] = {{int32_t(last), int32_t(last), int32_t(idx - 1)},
                                          {int32_t(last + 1), int32_t(idx), -5}};
            for (const auto& pr : preset) {
                for (int k = 0; k < 3; ++k) s.prev[last + k] = pr[k];
                const Bytes in = vek::testdata::random_bytes(n, static_cast<uint32_t>(n));
                Bytes buf(2000, 0);
                std::copy(in.begin(), in.end(), buf.begin() + 1000);
                const uint8_t* p = buf.data() + 1000;
                const Result r = run_both(Mode::lv(l), s, {p, uint32_t(n), idx, p, 500, 2});
                ASSERT_EQ(r.consumed, n);
                EXPECT_EQ(s.prev[last], -32768) << l << " " << n;
                EXPECT_EQ(s.prev[last + 1], pr[1]) << l << " " << n;
                EXPECT_EQ(s.prev[last + 2], -32768) << l << " " << n;
            }
        }
    }
}

// The single-probe levels take 3-byte matches (every other level refuses
// them: the stream checks require 4 bytes there) and leave prev alone.
TEST(DeflateLZ77Hand, ThreeByteMatchesAtSingleProbeLevels) {
    const Bytes in = cat(str("abcXabcYabcZ"), filler());
    for (int l : {0, 10, 20}) {
        State s;
        s.prev.assign(s.prev.size(), 0x13572468);
        EXPECT_TRUE(once(Mode::lv(l), in, 2, s).pairs == lits(str("abcX")) + mt(3, 4) +
                                                             lits(str("Y")) + mt(3, 4) +
                                                             lits(str("Z")) + lits(filler()))
            << l;
        EXPECT_TRUE(
            std::all_of(s.prev.begin(), s.prev.end(), [](int32_t v) { return v == 0x13572468; }));
    }
}

// ------------------------------------------------------------ edge cases

// Items start where more than 261 (260) bytes remain, and at the first of
// exactly 261 in the CRC engines. The text's first bytes repeat nothing.
TEST(DeflateLZ77Edge, LookAheadWithoutFlush) {
    const Bytes text = vek::testdata::text_bytes(600, 7);
    for (int l = 0; l < 30; ++l) {
        for (uint32_t flush : {0u, 1u}) {
            for (size_t n : {0, 1, 3, 100, 259, 260, 261, 262, 263}) {
                State s;
                const Bytes in(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
                const uint8_t* p = in.empty() ? text.data() : in.data();
                const Result r = run_both(Mode::lv(l), s, {p, uint32_t(n), 0, p, 600, flush});
                const size_t keep = l % 10 == 0 ? 260 : 261;
                const size_t items = n > keep ? n - keep : (n == 261 ? 1 : 0);
                EXPECT_EQ(r.consumed, items) << l << " " << n;
                EXPECT_TRUE(r.pairs == lits(Bytes(in.begin(), in.begin() + ptrdiff_t(items))));
            }
        }
    }
}

// Exactly 261 bytes left without flush: the greedy engine encodes the first
// position with matches up to 258, the lazy short-input path up to 257. The
// 261 bytes end their buffer: nothing past them is read (the chain-1 loop
// looks ahead for the next position's hash).
TEST(DeflateLZ77Edge, ExactLookAheadMatchLength) {
    const Bytes run(3000, 'a');
    for (int l : {1, 4, 5, 9, 19, 21, 29, 30, 31}) {
        const Mode m = l < 30 ? Mode::lv(l) : Mode::fast({1, 16, 16, l == 30 ? 5 : 8});
        const bool lazy = l < 30 && l % 10 > 4;
        State s;
        const Result first = run_both(m, s, {run.data(), 1000, 0, run.data(), 2000, 0});
        ASSERT_GT(first.consumed, 0u);
        const Bytes exact(run.begin(), run.begin() + first.consumed + 261);
        const uint8_t* p = exact.data() + first.consumed;
        const Result r = run_both(m, s, {p, 261, first.srcIdx, p, 10, 0});
        ASSERT_EQ(r.pairs.size(), 1u);
        EXPECT_EQ(r.pairs[0].lit + 3, lazy ? 257 : 258) << l;
        EXPECT_EQ(r.consumed, lazy ? 257u : 258u);
    }
}

// With room for one item the lazy engine takes the short-input path: one
// greedy item whose walk ignores niceLength. The newest "abcd" candidate
// (at 11) gives 4 bytes, the older one (at 0) 10; niceLength 4 would stop
// at the first. With no room nothing is produced.
TEST(DeflateLZ77Edge, LazyWithRoomForOneItem) {
    const Bytes a = cat(str("abcdefghijKabcdZ"), filler(262));
    const Bytes all = cat(cat(a, str("abcdefghijY")), filler(300));
    const vekLZ77LevelParams prm{16, 4, 4, 4};
    State s;
    const Result r1 = run_both(
        Mode::slow(prm), s, {all.data(), static_cast<uint32_t>(a.size()), 0, all.data(), 1000, 2});
    ASSERT_EQ(r1.consumed, a.size());
    const uint8_t* p = all.data() + a.size();
    const uint32_t n = static_cast<uint32_t>(all.size() - a.size());
    State t = s;
    const Result r = run_both(Mode::slow(prm), s, {p, n, r1.srcIdx, p, 1, 0});
    ASSERT_EQ(r.pairs.size(), 1u);
    EXPECT_TRUE(r.pairs == mt(10, static_cast<int>(a.size())));
    EXPECT_EQ(r.consumed, 10u);
    // The same call with room for two stops at the newest candidate.
    const Result r2 = run_both(Mode::slow(prm), t, {p, n, r1.srcIdx, p, 2, 0});
    ASSERT_GE(r2.pairs.size(), 1u);
    EXPECT_TRUE(r2.pairs == mt(4, static_cast<int>(a.size() - 11)));
    for (uint32_t cap : {0u, 1u}) {
        for (uint32_t flush : {0u, 2u}) {
            State u;
            const Bytes big = vek::testdata::text_bytes(5000, cap);
            EXPECT_EQ(run_both(Mode::lv(26), u, {big.data(), 5000, 0, big.data(), cap, flush})
                          .pairs.size(),
                      cap);
        }
    }
}

TEST(DeflateLZ77Edge, DictionaryPreload) {
    const Bytes dict = vek::testdata::text_bytes(40000, 11);
    for (int32_t level : {-3, 0, 1, 5, 10, 20, 29}) {
        for (uint32_t n : {0u, 2u, 3u, 4u, 100u, 257u, 258u, 259u, 4000u, 32768u, 40000u}) {
            for (uint32_t ws : {256u, 1000u, 4096u, 32768u}) {
                State s(ws, 4096), m(ws, 4096);
                s.prev.assign(ws, 0x0BADBEEF);
                m.prev = s.prev;
                Bytes w(ws, 0xEE), mw(ws, 0xEE);
                ASSERT_EQ(veksDeflateDictionarySet_8u(dict.data(), n, s.head.data(), 4096,
                                                      s.prev.data(), w.data(), ws, level),
                          vekStatusOk);
                model::dictionary_set(dict.data(), n, m.head.data(), 4096, m.prev.data(), mw.data(),
                                      ws, level);
                SCOPED_TRACE(testing::Message() << level << " " << n << " " << ws);
                EXPECT_TRUE(w == mw);
                EXPECT_TRUE(s.head == m.head);
                EXPECT_TRUE(s.prev == m.prev);
                // The last min(n, winSize) bytes, at the start of the window.
                const uint32_t k = n < (level != 0 ? 4u : 3u) ? 0 : std::min(n, ws);
                EXPECT_TRUE(std::equal(w.begin(), w.begin() + k, dict.begin() + (n - k)));
                EXPECT_TRUE(
                    std::all_of(w.begin() + k, w.end(), [](uint8_t b) { return b == 0xEE; }));
            }
        }
    }
    // 258 bytes at level 1: only position 0 is registered.
    State s;
    Bytes w(32768);
    ASSERT_EQ(veksDeflateDictionarySet_8u(dict.data(), 258, s.head.data(), 32768, s.prev.data(),
                                          w.data(), 32768, 1),
              vekStatusOk);
    EXPECT_EQ(s.head[hash4(dict, 0)], 0);
    EXPECT_EQ(std::count(s.head.begin(), s.head.end(), -32768), 32767);
}

// A stream that starts from a dictionary: matches reach into it.
TEST(DeflateLZ77Edge, DictionaryThenStream) {
    const Bytes text = vek::testdata::text_bytes(60000, 12);
    const Bytes dict(text.begin(), text.begin() + 20000), data(text.begin() + 20000, text.end());
    for (int l : {0, 3, 10, 13, 20, 25, 29}) {
        State s;
        stream(Mode::lv(l), data, s, {uint32_t(l), 3000, 5000, l % 2 == 0, true, 0, dict});
    }
}

TEST(DeflateLZ77Edge, UpdateHash) {
    const Bytes src = vek::testdata::text_bytes(3000, 13);
    for (int32_t level : {-7, -1, 0, 1, 10, 29}) {
        for (uint32_t n : {0u, 2u, 3u, 4u, 5u, 1000u, 3000u}) {
            for (uint32_t idx : {0u, 77u, 40000u}) {
                State s(1024, 512), m(1024, 512);
                s.prev.assign(1024, 0x0BADBEEF);
                m.prev = s.prev;
                ASSERT_EQ(veksDeflateUpdateHash_8u(src.data(), idx, n, s.head.data(), 512,
                                                   s.prev.data(), 1024, level),
                          vekStatusOk);
                model::update_hash(src.data(), idx, n, m.head.data(), 512, m.prev.data(), 1024,
                                   level);
                EXPECT_TRUE(s.head == m.head) << level << " " << n;
                EXPECT_TRUE(s.prev == m.prev) << level << " " << n;
                // The newest registration of the last position with 4 bytes.
                if (n >= 4 && level != 0) {
                    EXPECT_EQ(s.head[hash4(src, n - 4, 512)], int32_t(idx + n - 4));
                }
            }
        }
    }
    // Bytes the caller sends some other way (say as a stored block) are
    // registered with veksDeflateUpdateHash_8u; later calls may refer to them.
    const Bytes data = vek::testdata::text_bytes(30000, 14);
    for (int l : {0, 1, 5, 10, 14, 29}) {
        State s;
        Bytes out;
        const uint8_t* p = data.data();
        const Result r1 = run_both(Mode::lv(l), s, {p, 10000, 0, p, 20000, 2});
        ASSERT_EQ(r1.consumed, 10000u);
        replay(r1.pairs, out, s.winSize);
        ASSERT_EQ(veksDeflateUpdateHash_8u(p + 10000, 10000, 5000, s.head.data(), s.hashSize,
                                           s.prev.data(), s.winSize, l),
                  vekStatusOk);
        out.insert(out.end(), p + 10000, p + 15000);
        const Result r2 = run_both(Mode::lv(l), s, {p + 15000, 15000, 15000, p + 15000, 20000, 2});
        ASSERT_EQ(r2.consumed, 15000u);
        replay(r2.pairs, out, s.winSize);
        EXPECT_TRUE(out == data) << l;
    }
}

// A call from position srcIdx with srcLen bytes rebases when
// srcIdx + srcLen + winSize >= 0x7FFFFFFF - srcLen (32-bit) and srcIdx > winSize.
TEST(DeflateLZ77Edge, Rebasing) {
    std::mt19937 rng(99);
    const int32_t special[] = {INT32_MIN, -40000, -32769, -32768,    -32767,    -1,
                               0,         1,      32767,  INT32_MAX, 0x7FFFF000};
    for (uint32_t ws : {256u, 32768u}) {
        for (uint32_t idx : {0x7FFFFFFFu - ws, 0x7FFFFFFFu - ws - 1, 0x7FFFFFFFu - 1, 0x80000000u,
                             0x80008000u + ws, 0x80008001u + ws, 0x90000000u, 0xFFFF0000u,
                             0xFFFFFF00u, ws + 1, ws}) {
            for (int l : {0, 1, 5}) {
                State s(ws, 256);
                for (auto* t : {&s.head, &s.prev})
                    for (auto& v : *t)
                        v = rng() % 4 ? special[rng() % 11] : static_cast<int32_t>(rng());
                const Bytes dummy(4);
                const Result r =
                    run_both(Mode::lv(l), s, {dummy.data(), 0, idx, dummy.data(), 4, 0});
                const bool rebased = idx + ws >= 0x7FFFFFFFu && idx > ws;
                EXPECT_EQ(r.srcIdx, rebased ? ws : idx);
                for (int32_t v : s.head) EXPECT_TRUE(!rebased || v >= -32768);
            }
        }
    }
    // The source length counts twice.
    State s, t;
    const Bytes data = vek::testdata::text_bytes(5000, 1);
    const uint32_t idx = 0x7FFFFFFFu - 32768 - 2 * 5000;
    const Result r = run_both(Mode::lv(6), s, {data.data(), 5000, idx, data.data(), 6000, 0});
    EXPECT_EQ(r.srcIdx, 32768u + r.consumed);
    const Result q = run_both(Mode::lv(6), t, {data.data(), 5000, idx - 1, data.data(), 6000, 0});
    EXPECT_EQ(q.srcIdx, idx - 1 + q.consumed);
}

TEST(DeflateLZ77Edge, StreamAcrossRebase) {
    const Bytes data = vek::testdata::text_bytes(400000 / kScale, 21);
    for (int l : {0, 2, 6, 14, 27}) {
        State s;
        stream(Mode::lv(l), data, s,
               {uint32_t(l), 0, 70000 / kScale, l % 2 == 1, false,
                uint32_t(0x7FFFFFFFu - 32768 - 200000 / kScale)});
        for (int32_t v : s.head) EXPECT_GE(v, -32768);
        for (int32_t v : s.prev) EXPECT_GE(v, -32768);
    }
}

// Positions wrapping past 2^32 (a start near 2^32 with a sum that wraps too,
// so no rebase): the same pairs, counters and cursors as the same bytes from
// position 0, the tables holding the same positions moved by the start
// (the -winSize marks of the last positions excepted), whether the window
// lies right before the input or in a buffer of its own.
TEST(DeflateLZ77Edge, PositionsWrappingPast2To32) {
    const uint32_t n = 3000, start = 0xFFFFF800u;
    const Bytes in = cat(vek::testdata::text_bytes(2000, 5), filler(1000));
    ASSERT_EQ(in.size(), n);
    const Bytes joined = cat(Bytes(32768, 0), in);
    const Bytes win(32768, 0);
    for (const Mode& m : {Mode::lv(0), Mode::lv(1), Mode::lv(5), Mode::fast({1, 4, 4, 8})}) {
        for (uint32_t flush : {0u, 2u}) {
            // Stale entries 40000 positions back, unusable at every position.
            State s0;
            for (auto* t : {&s0.head, &s0.prev}) std::fill(t->begin(), t->end(), -40000);
            const Result want = run_both(m, s0, {in.data(), n, 0, in.data(), n, flush});
            for (const bool split : {true, false}) {
                SCOPED_TRACE(testing::Message() << "level " << m.level << " flush " << flush
                                                << (split ? " split" : " joined"));
                State s;
                for (auto* t : {&s.head, &s.prev})
                    std::fill(t->begin(), t->end(), int32_t(start - 40000));
                const uint8_t* src = split ? in.data() : joined.data() + 32768;
                const Result r =
                    run(m, s, {src, n, start, split ? win.data() + 32768 : src, n, flush});
                EXPECT_EQ(r.st, vekStatusOk);
                EXPECT_EQ(r.consumed, want.consumed);
                EXPECT_EQ(r.srcIdx, start + want.consumed);
                EXPECT_EQ(r.dstLen, want.dstLen);
                EXPECT_TRUE(r.pairs == want.pairs);
                EXPECT_TRUE(s.freqs() == s0.freqs());
                // (Prev slots are found by position: moved by the start too.)
                for (int k = 0; k < 2; ++k) {
                    const auto& t = k ? s.prev : s.head;
                    const auto& t0 = k ? s0.prev : s0.head;
                    const size_t turn = k ? start % t.size() : 0;
                    size_t moved = 0;
                    for (size_t i = 0; i < t.size(); ++i)
                        moved += t[(i + turn) % t.size()] ==
                                 (t0[i] == -32768 ? -32768 : int32_t(uint32_t(t0[i]) + start));
                    EXPECT_EQ(moved, t.size()) << (k ? "prev" : "head");
                }
            }
        }
    }
}

// ------------------------------------------------------ against the model

// Every level, in one call with all input and room (every fourth run) or in
// calls of random size, room and flush; then tiny inputs of two letters.
TEST(DeflateLZ77Model, EveryLevelStreaming) {
    uint32_t seed = 1;
    for (const auto& [name, in] : inputs(9000 / kScale, 4)) {
        for (int l = 0; l < 30; ++l, ++seed) {
            SCOPED_TRACE(name + " level " + std::to_string(l));
            const uint32_t wins[] = {32768, 4096, 1024};
            State s(wins[seed % 3], 1u << (8 + seed % 9));
            const bool whole = seed % 4 == 0;
            stream(Mode::lv(l), in, s,
                   {seed, whole ? 0 : 8 + seed % 300, whole ? 0 : 200 + seed * 7 % 2000,
                    seed % 3 != 0});
        }
    }
    std::mt19937 rng(5);
    for (int l = 0; l < 30; ++l) {
        for (size_t n = 1; n < 20; ++n) {
            Bytes in(n);
            for (auto& b : in) b = static_cast<uint8_t>('a' + rng() % 2);
            State s(1024, 512);
            stream(Mode::lv(l), in, s, {uint32_t(n * 31 + l), 3, 4, n % 2 == 0});
        }
    }
}

// Paths of their own: the single-probe levels with the full 32 KiB tables a
// stream encoder uses, and a chain limit of one with settings that matter
// there and settings that do not; window joined to the source or apart.
TEST(DeflateLZ77Model, SingleProbeAndOneCandidatePaths) {
    uint32_t seed = 7;
    for (const auto& [name, in] : inputs(40000 / kScale, 12)) {
        for (int l : {0, 10, 20}) {
            for (bool contiguous : {true, false}) {
                SCOPED_TRACE(name + " level " + std::to_string(l));
                State s;
                stream(
                    Mode::lv(l), in, s,
                    {seed, seed % 2 ? 0 : 100 + seed % 2000, 300 + seed * 13 % 9000, contiguous});
                ++seed;
            }
        }
    }
    const vekLZ77LevelParams prms[] = {
        {1, 4, 4, 4}, {1, 16, 16, 5}, {1, 8, 258, 258}, {1, 300, 4, 9}};
    uint32_t round = 0;
    for (const vekLZ77LevelParams& prm : prms) {
        for (const auto& [name, in] : inputs(9000 / kScale, 5)) {
            SCOPED_TRACE(name + " lazy " + std::to_string(prm.lazyLength));
            State s(round % 3 == 0 ? 1024 : 32768, round % 2 ? 4096 : 65536);
            stream(Mode::fast(prm), in, s,
                   {round, round % 5 == 0 ? 37u : 0u, round % 4 < 2 ? 700u : 0u, round % 2 == 0});
            ++round;
        }
    }
}

// Caller-chosen parameters and table sizes, powers of two or not.
TEST(DeflateLZ77Model, ChosenParametersAndSizes) {
    std::mt19937 rng(17);
    const auto ins = inputs(6000 / kScale, 8);
    const uint32_t wins[] = {256, 1000, 4096, 32768}, hashes[] = {256, 3000, 4096, 65536};
    for (uint32_t round = 0; round < 48; ++round) {
        const bool lazy = round % 2 == 1;
        const auto pick = [&rng]() {
            return static_cast<int32_t>(rng() % 3 ? 4 + rng() % 40 : 4 + rng() % 400);
        };
        vekLZ77LevelParams prm{
            static_cast<int32_t>(rng() % 4 == 0 ? (lazy ? 1 : 0) : 1 + rng() % 64), pick(), pick(),
            pick()};
        State s(wins[rng() % 4], hashes[rng() % 4]);
        const uint32_t cap = rng() % 2 ? 1 + rng() % 50 : 0;
        const size_t step = rng() % 2 ? 1 + rng() % 3000 : 0;
        SCOPED_TRACE("round " + std::to_string(round));
        stream(lazy ? Mode::slow(prm) : Mode::fast(prm), ins[round % ins.size()].second, s,
               {round, cap, step, rng() % 2 == 1});
    }
}

// Tables holding anything at all (stale positions, positions ahead of the
// input, extremes): the engines still agree with the model, read only
// inside the input and the window, and every pair stays valid. The last
// rounds run a chain limit of one.
TEST(DeflateLZ77Model, ArbitraryTableContents) {
    std::mt19937 rng(23);
    const Bytes text = vek::testdata::text_bytes(60000, 24);
    for (int round = 0; round < 110; ++round) {
        const uint32_t ws = round % 4 == 0 ? 1024 : 32768;
        State s(ws, 4096);
        const uint32_t idx = 40000 + rng() % 1000;
        for (auto* t : {&s.head, &s.prev}) {
            for (auto& v : *t) {
                const uint32_t kind = rng() % 6;
                v = static_cast<int32_t>(kind == 0   ? rng()
                                         : kind == 1 ? idx + rng() % 4000  // at or ahead of input
                                                     : idx - 3 * ws + rng() % (3 * ws));
            }
        }
        const uint32_t n = 300 + rng() % 3000;
        const uint8_t* p = text.data() + 40000;
        const uint32_t cap = 1 + rng() % 4000, flush = rng() % 3;
        const Mode m = round < 90 ? Mode::lv(round % 30) : Mode::fast({1, 8, 8, 4 + round % 7});
        const Result r = run_both(m, s, {p, n, idx, p, cap, flush});
        Bytes out(text.begin(), text.begin() + 40000);
        replay(r.pairs, out, ws);
        ASSERT_EQ(out.size(), 40000 + r.consumed);
        EXPECT_TRUE(std::equal(out.begin() + 40000, out.end(), p)) << "round " << round;
    }
}

TEST(DeflateLZ77RoundTrip, MultiMegabyteAllLevels) {
    const size_t n = (2u << 20) / (kScale * kScale);
    Bytes in = vek::testdata::text_bytes(n / 4, 31);
    in = cat(in, vek::testdata::runs_bytes(n / 4, 32));
    in = cat(in, vek::testdata::random_bytes(n / 4, 33));
    in = cat(in, inputs(n / 4, 34)[3].second);  // binary
    for (int l = 0; l < 30; ++l) {
        SCOPED_TRACE("level " + std::to_string(l));
        State s;
        stream(Mode::lv(l), in, s, {uint32_t(l), 65536, 300000, l % 3 != 0, false});
    }
}

}  // namespace
