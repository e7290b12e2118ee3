// Inflate over whole streams and hostile data: history from the circular
// window (wrapping, running on into the output buffer, absent), invalid
// codes and distances in both table forms, tables damaged by the caller,
// the general and short forms against each other at every split, and
// random multi-block streams from the test writer decoded through the
// stream parser in pieces and compared with their expected bytes and with
// the reference inflater, also after random damage.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "deflate_stream_parser.h"
#include "test_data.h"
#include "inflate_reference.h"
#include "inflate_test_util.h"

namespace {

using namespace vek::testwriter;
using namespace vek::inflatetest;
using vek::testinflate::DriveOptions;
using vek::testinflate::DriveResult;
using vek::testinflate::inflate_stream;
using vek::testinflate::Outcome;
using vek::testref::check_against_reference;
using vek::testref::reference_inflate;
namespace vd = vek::deflate;

// The sanitizer build runs without optimisation: fewer rounds there.
constexpr int kSlow = vek::testdata::kSanitized ? 12 : 1;

std::vector<Token> with_literals(std::vector<Token> t, size_t n) {
    for (size_t i = 0; i < n; ++i) t.push_back(literal(uint8_t('a' + i % 26)));
    t.push_back(end_of_block());
    return t;
}

// The window in the order of its bytes' age, oldest first.
Bytes window_history(const Bytes& win, uint32_t winIdx) {
    Bytes h(win.size());
    for (size_t i = 0; i < win.size(); ++i) h[i] = win[(winIdx + i) % win.size()];
    return h;
}

struct WindowRun {
    vekStatus status;
    vekInflateMode mode;
    Bytes out;
};

// One fixed-code body decoded after `history` in the output buffer, with an
// optional window; the window must come back untouched.
WindowRun run_with_window(const std::vector<Token>& t, const Bytes& history, const Bytes* win,
                          uint32_t winIdx) {
    State st;
    st->tableType = vekInflateTableFixed;
    Bytes w = win ? *win : Bytes();
    if (win) st->pWindow = w.data(), st->winSize = uint32_t(w.size());
    const Bytes src = fixed_body(t);
    Bytes buf(history.size() + 1000, 0);
    std::copy(history.begin(), history.end(), buf.begin());
    Call c;
    c.src = src.data(), c.srcLen = uint32_t(src.size()), c.winIdx = winIdx;
    c.dst = buf.data() + history.size(), c.dstLen = 1000, c.dstIdx = uint32_t(history.size());
    c.mode = 5;  // any value but 2 starts at a symbol
    WindowRun r{c.run(st.get()), c.mode, Bytes(buf.data(), c.dst)};
    if (win) {
        EXPECT_EQ(w, *win) << "window written";
    }
    return r;
}

TEST(InflateStream, MatchesReachIntoTheWindow) {
    Bytes win(16);
    for (size_t i = 0; i < 16; ++i) win[i] = uint8_t('A' + i);
    const Bytes hist = {'x', 'y', 'z'};
    struct Case {
        uint32_t winIdx, dist;
        int len;
    };
    // Inside the window, wrapping past its index 0, the whole window
    // (winIdx == winSize), running on into the output buffer, longest match.
    const Case cases[] = {{10, 7, 10}, {2, 8, 12},   {16, 19, 20}, {0, 19, 40},
                          {5, 4, 3},   {7, 16, 258}, {1, 18, 258}};
    for (const Case& k : cases)
        for (size_t literalsAfter : {size_t(0), size_t(40)}) {  // step machine / fast loop
            const std::vector<Token> t = with_literals({match(k.len, k.dist)}, literalsAfter);
            Bytes want = hist;
            ASSERT_TRUE(expand(t, want, window_history(win, k.winIdx % 16)));
            const WindowRun r = run_with_window(t, hist, &win, k.winIdx);
            ASSERT_EQ(r.status, vekStatusOk) << k.winIdx << " " << k.dist;
            EXPECT_EQ(r.mode, vekInflateModeBlockEnd);
            EXPECT_EQ(r.out, want) << k.winIdx << " " << k.dist << " " << literalsAfter;
        }
}

TEST(InflateStream, DistancesPastTheHistoryAreInvalid) {
    Bytes win(16, 'w');
    const Bytes hist = {'x', 'y', 'z'};
    for (size_t literalsAfter : {size_t(0), size_t(40)}) {
        // With a window the history is dstIdx + winSize bytes.
        EXPECT_EQ(
            run_with_window(with_literals({match(5, 19)}, literalsAfter), hist, &win, 4).status,
            vekStatusOk);
        WindowRun r = run_with_window(with_literals({literal('q'), match(5, 21)}, literalsAfter),
                                      hist, &win, 4);
        EXPECT_EQ(r.status, vekStatusSrcDataErr);
        EXPECT_EQ(r.mode, 5);
        EXPECT_EQ(r.out, Bytes({'x', 'y', 'z', 'q'}));
        // Without one, matches must stay inside the output buffer.
        r = run_with_window(with_literals({match(4, 3)}, literalsAfter), hist, nullptr, 0);
        EXPECT_EQ(r.status, vekStatusOk);
        EXPECT_EQ(r.out.size(), 7 + literalsAfter);
        r = run_with_window(with_literals({literal('q'), match(4, 5)}, literalsAfter), hist,
                            nullptr, 0);
        EXPECT_EQ(r.status, vekStatusSrcDataErr);
        EXPECT_EQ(r.mode, 5);
        EXPECT_EQ(r.out, Bytes({'x', 'y', 'z', 'q'}));
        r = run_with_window(with_literals({match(3, 1)}, literalsAfter), {}, nullptr, 0);
        EXPECT_EQ(r.status, vekStatusSrcDataErr);
        EXPECT_TRUE(r.out.empty());
        // A window of size 0 holds nothing.
        Bytes none;
        r = run_with_window(with_literals({literal('q'), match(3, 5)}, literalsAfter), hist, &none,
                            0);
        EXPECT_EQ(r.status, vekStatusSrcDataErr);
    }
}

// ------------------------------------------------------ invalid codes

// A body decoded with the given table set up in st; the symbols' output
// before the invalid one must be there and *pMode untouched.
void expect_invalid(vekInflateState* st, const Bytes& src, const Bytes& before, const char* what) {
    for (size_t tail : {size_t(2), size_t(40)}) {
        Bytes in = src;
        in.resize(src.size() + tail, 0x5A);
        Bytes out(1000);
        Call c;
        c.src = in.data(), c.srcLen = uint32_t(in.size()), c.dst = out.data(), c.dstLen = 1000,
        c.mode = 1;
        EXPECT_EQ(c.run(st), vekStatusSrcDataErr) << what;
        EXPECT_EQ(c.mode, 1) << what;
        EXPECT_EQ(Bytes(out.data(), c.dst), before) << what;
        EXPECT_LE(c.bits, 32u);
    }
}

TEST(InflateStream, InvalidCodesInTheFixedTable) {
    State st;
    st->tableType = vekInflateTableFixed;
    for (int sym : {286, 287}) {
        std::vector<Token> t = {literal('a'), literal('b')};
        Token bad;
        bad.sym = sym;
        t.push_back(bad);
        expect_invalid(st.get(), fixed_body(t), {'a', 'b'}, "literal/length 286/287");
    }
    for (int dsym : {30, 31}) {
        std::vector<Token> t = {literal('a'), match(3, 1)};
        t.back().dsym = dsym, t.back().distExtraBits = 0;
        expect_invalid(st.get(), fixed_body(t), {'a'}, "distance 30/31");
    }
}

// Both forms of the same lengths: the short one through the API, the
// general one through its builder.
void for_both_forms(const Bytes& lit, const Bytes& dist,
                    const std::function<void(vekInflateState*)>& f) {
    State s;
    ASSERT_EQ(build(lit, dist, s.get()), vekStatusOk);
    ASSERT_EQ(s->tableType, vekInflateTableShort);
    f(s.get());
    State g;
    ASSERT_TRUE(vd::build_general_table(lit.data(), uint32_t(lit.size()), dist.data(),
                                        uint32_t(dist.size()), g->tables));
    g->tableType = vekInflateTableGeneral;
    f(g.get());
}

TEST(InflateStream, InvalidCodesInBothForms) {
    // A single code of length 1: its other bit pattern is invalid.
    Bytes lit(257, 0);
    lit[256] = 1;
    for_both_forms(lit, {}, [&](vekInflateState* st) {
        expect_invalid(st, Bytes{0x01}, {}, "unassigned 1-bit code");
        Bytes out(4);
        Call c;
        const Bytes ok = {0x00};
        c.src = ok.data(), c.srcLen = 1, c.dst = out.data(), c.dstLen = 4;
        EXPECT_EQ(c.run(st), vekStatusOk);
        EXPECT_EQ(c.mode, vekInflateModeBlockEnd);
        EXPECT_EQ(c.bits, 7u);
    });
    // An empty distance set: blocks without matches decode, a match not.
    std::mt19937 rng(2);
    std::vector<bool> use(286, false);
    for (int s : {int('a'), int('b'), 256, 257, 260, 270}) use[size_t(s)] = true;
    lit = random_lengths(use, 11, 0, rng);
    for_both_forms(lit, Bytes(30, 0), [&](vekInflateState* st) {
        const Bytes noMatch = body({literal('a'), literal('b'), end_of_block()}, lit, {});
        Bytes out(4);
        Call c;
        c.src = noMatch.data(), c.srcLen = uint32_t(noMatch.size()), c.dst = out.data(),
        c.dstLen = 4;
        EXPECT_EQ(c.run(st), vekStatusOk);
        EXPECT_EQ(c.mode, vekInflateModeBlockEnd);
        std::vector<Token> t = {literal('b'), match(3, 1)};  // symbol 257
        t.back().dsym = 0;
        expect_invalid(st, body(t, lit, Bytes{1}), {'b'}, "empty distance set");
    });
    // Cut at every bit, the forms stop alike around the invalid distance.
    {
        std::vector<Token> t = {literal('b'), match(3, 1)};
        t.back().dsym = 0;
        BitWriter w;
        write_tokens(w, t, lit, Bytes(32, 1));
        w.put(0x3FF, 10);
        const std::vector<uint8_t> bits = bits_of(w.bytes(), w.bits());
        for (size_t k = 0; k <= bits.size(); ++k) {
            Fed fed[2];
            for_both_forms(lit, Bytes(30, 0), [&](vekInflateState* st) {
                fed[st->tableType == vekInflateTableShort ? 0 : 1] =
                    feed_bits(std::vector<uint8_t>(bits.begin(), bits.begin() + long(k)), st, {},
                              [] { return 9u; });
            });
            EXPECT_EQ(fed[0].status, fed[1].status) << k;
            EXPECT_EQ(fed[0].modes, fed[1].modes) << k;
            EXPECT_EQ(fed[0].used, fed[1].used) << k;
            // An unassigned distance code is rejected once 10 bits are at hand.
            EXPECT_EQ(fed[0].status, k + 1 >= bits.size() ? vekStatusSrcDataErr : vekStatusOk) << k;
        }
    }
    // Symbols 286 and 287 given lengths: part of the code, invalid to use.
    std::vector<bool> all(288, true);
    lit = random_lengths(all, 11, 0, rng);
    const Bytes dist = random_lengths(std::vector<bool>(30, true), 10, 0, rng);
    for (int sym : {286, 287})
        for_both_forms(lit, dist, [&](vekInflateState* st) {
            Token bad;
            bad.sym = sym;
            expect_invalid(st, body({literal('z'), bad}, lit, dist), {'z'}, "286/287 with lengths");
        });
}

// Caller-damaged state records: any table bytes, form, lengths or saved
// step must give vekStatusOk or vekStatusSrcDataErr and stay inside the
// buffers (exact-size heap blocks, so the sanitizer build would notice).
TEST(InflateStream, DamagedTablesStayInsideTheBuffers) {
    std::mt19937 rng(99);
    for (int round = 0; round < 3000; ++round) {
        State st;
        for (auto& b : st->tables) b = uint8_t(rng());
        if (round % 4 == 0)  // plausible flags with random values
            for (int i = vd::kLitFlag; i < vd::kDistValue; ++i)
                st->tables[i] = uint8_t(rng() % 16 | (rng() % 2) << 7);
        st->tableType = int32_t(1 + rng() % 2);
        st->maxLitLen = rng() % 4 ? 1 + rng() % 11 : rng() % 20;
        st->maxDistLen = rng() % 4 ? rng() % 11 : rng() % 20;
        st->step = int32_t(rng() % 8);
        st->pendingValue = rng() % 2 ? rng() % 300 : uint32_t(rng());
        st->pendingExtra = uint32_t(rng());
        st->pendingDist = rng() % 2 ? rng() % 40000 : uint32_t(rng());
        const size_t winSize = rng() % 3 ? 1 + rng() % 300 : 0;
        std::unique_ptr<uint8_t[]> win(new uint8_t[winSize]);
        if (winSize || rng() % 2) st->pWindow = win.get(), st->winSize = uint32_t(winSize);
        // Every tenth round has the input and room of the packed fast loop.
        const bool big = round % 10 == 0;
        const size_t inLen = big ? 2048 + rng() % 2048 : rng() % 64, hist = rng() % 64,
                     room = big ? 8192 + rng() % 8192 : rng() % 600;
        std::unique_ptr<uint8_t[]> in(new uint8_t[inLen]), out(new uint8_t[hist + room]);
        for (size_t i = 0; i < inLen; ++i) in[i] = uint8_t(rng());
        Call c;
        c.src = in.get(), c.srcLen = uint32_t(inLen), c.code = uint32_t(rng()), c.bits = rng() % 33;
        c.winIdx = st->winSize ? uint32_t(rng() % (st->winSize + 1)) : 0;
        c.dst = out.get() + hist, c.dstLen = uint32_t(room), c.dstIdx = uint32_t(hist);
        c.mode = int32_t(rng() % 3);
        const vekStatus s = c.run(st.get());
        ASSERT_TRUE(s == vekStatusOk || s == vekStatusSrcDataErr) << round;
        ASSERT_TRUE(c.src >= in.get() && c.src + c.srcLen == in.get() + inLen) << round;
        ASSERT_TRUE(c.dst >= out.get() + hist && c.dst + c.dstLen == out.get() + hist + room)
            << round;
        ASSERT_LE(c.bits, 32u);
    }
}

// ------------------------------------------- forms and splits agree

// Random bodies over lengths the short form takes, decoded by both forms
// with their input cut at random bits and random output space (0 and 1
// included): the same bytes, modes and bits used at every step, and the
// bytes the tokens stand for.
TEST(InflateStream, ShortAndGeneralFormsAgreeAtEverySplit) {
    std::mt19937 rng(7);
    for (int round = 0; round < 100 / (2 * kSlow - 1); ++round) {
        Bytes lit, dist;
        random_code_set(rng, BlockKind::kDynamicShort, lit, dist);
        Bytes history(rng() % 3000);
        for (auto& b : history) b = uint8_t(rng() % 4);
        const std::vector<Token> t =
            random_tokens(rng, lit, dist, 1 + rng() % 400, history.size(), 50, 32768);
        Bytes want = history;
        ASSERT_TRUE(expand(t, want));
        const Bytes src = body(t, lit, dist);
        BitWriter w;
        dist.resize(32, 0);
        write_tokens(w, t, lit, dist);
        const std::vector<uint8_t> bits = bits_of(src, w.bits());
        std::vector<size_t> cuts;
        const int ncuts = int(rng() % 40);
        for (int i = 0; i < ncuts; ++i) cuts.push_back(rng() % (bits.size() + 1));
        std::sort(cuts.begin(), cuts.end());
        if (round % 5 == 0) cuts.clear();  // whole calls: the fast loop's turn
        const uint32_t seed = rng(), maxPiece = round % 3 == 0 ? 100000 : 1 + rng() % 8;
        Fed fed[2];
        // Both forms on the same bits and pieces: the same to the bit and the
        // mode where they stop.
        auto run_both = [&](const std::vector<uint8_t>& in) {
            for_both_forms(lit, Bytes(dist.begin(), dist.begin() + 30), [&](vekInflateState* st) {
                std::mt19937 pieces(seed);
                const int form = st->tableType == vekInflateTableShort ? 0 : 1;
                fed[form] = feed_bits(
                    in, st, cuts, [&] { return uint32_t(pieces() % (maxPiece + 1)); }, history);
            });
            EXPECT_EQ(fed[1].status, fed[0].status) << round;
            EXPECT_EQ(fed[1].out, fed[0].out) << round;
            EXPECT_EQ(fed[1].modes, fed[0].modes) << round;
            EXPECT_EQ(fed[1].used, fed[0].used) << round;
        };
        run_both(bits);
        ASSERT_EQ(fed[0].status, vekStatusOk) << round;
        EXPECT_TRUE(fed[0].ended) << round;
        EXPECT_EQ(fed[0].out, want) << round;
        EXPECT_EQ(fed[0].used, bits.size()) << round;
        // The same body damaged.
        for (int damage = 0; damage < 3; ++damage) {
            std::vector<uint8_t> bad = bits;
            for (int i = 0, n = 1 + int(rng() % 3); i < n; ++i) bad[rng() % bad.size()] ^= 1;
            if (rng() % 2) bad.resize(rng() % (bad.size() + 1));
            for (auto& c : cuts) c = std::min(c, bad.size());
            run_both(bad);
        }
    }
}

// Random streams decoded whole, with the input in pieces of 1 to 7 bytes
// (exact-size blocks, bits carried in *pCode), and with the output in
// pieces of 0 to a few bytes through dstIdx, a circular window and new
// output buffers at random moments: always the expected bytes, the same
// block ends as the reference, the bits of the whole stream used.
TEST(InflateStream, RandomStreamsDecodeTheSameInAnyPieces) {
    std::mt19937 rng(2024);
    const BlockKind kinds[] = {BlockKind::kStored, BlockKind::kFixed, BlockKind::kDynamicShort,
                               BlockKind::kDynamicGeneral};
    for (int round = 0; round < 60 / kSlow; ++round) {
        std::vector<BlockKind> k(1 + rng() % 5);
        for (auto& x : k) x = kinds[rng() % 4];
        const bool useDict = round % 3 == 1;
        Bytes dict(useDict ? 32768 : 0);
        for (auto& b : dict) b = uint8_t(rng() % 7);
        const TestStream ts = random_stream(rng, k, 50 + rng() % 2000, dict, int(rng() % 80));
        const auto ref = reference_inflate(ts.bytes.data(), ts.bytes.size(), ts.expected.size(),
                                           dict.data(), dict.size());
        ASSERT_EQ(ref.outcome, vek::testref::InflateOutcome::kOk) << round;
        ASSERT_EQ(ref.out, ts.expected) << round;
        for (int config = 0; config < 4; ++config) {
            DriveOptions o;
            o.outLimit = ts.expected.size();
            o.seed = rng();
            o.useWindow = useDict || config >= 2;
            o.windowInit = useDict ? dict.data() : nullptr;
            if (config == 1 || config == 3)
                o.maxInPiece = 1 + rng() % 7, o.exactInput = true, o.preloadBits = true;
            if (config >= 2) {
                o.chunkSize = 1 + rng() % 3000;
                o.maxOutPiece = rng() % 2 ? 1 + rng() % 4 : 1 + rng() % 300;
                o.randomDrain = true;
                o.paranoid = round % 4 == 0;
                o.winSize = 32768;
            }
            const DriveResult d = inflate_stream(ts.bytes.data(), ts.bytes.size(), o);
            ASSERT_EQ(check_against_reference(d, ref), "") << round << " config " << config;
            EXPECT_EQ(d.endBit, ref.endBit);
            // Mode 0 once per block with a coded body, and only as the last
            // mode of that block.
            size_t coded = 0, zeros = 0;
            for (BlockKind x : k) coded += x != BlockKind::kStored;
            for (int m : d.modes) zeros += m == 0;
            EXPECT_EQ(zeros, coded);
            if (config == 0) {
                EXPECT_EQ(d.calls, coded);
            }
        }
    }
}

// Damaged streams (flipped bits, overwritten or dropped bytes, cut short)
// and plain noise: the library agrees with the reference up to where either
// stops, never breaks its contract, and invalid data is vekStatusSrcDataErr.
TEST(InflateStream, DamagedStreamsAgreeWithTheReference) {
    std::mt19937 rng(77);
    const BlockKind kinds[] = {BlockKind::kStored, BlockKind::kFixed, BlockKind::kDynamicShort,
                               BlockKind::kDynamicGeneral};
    size_t errors = 0;
    for (int round = 0; round < 400 / kSlow; ++round) {
        std::vector<BlockKind> k(1 + rng() % 3);
        for (auto& x : k) x = kinds[rng() % 4];
        TestStream ts = random_stream(rng, k, 10 + rng() % 300);
        Bytes s = ts.bytes;
        const int how = int(rng() % 5);
        if (how == 0 || s.empty()) {
            s.resize(rng() % 200);
            for (auto& b : s) b = uint8_t(rng());
        } else if (how == 1) {
            for (int i = 0, n = 1 + int(rng() % 4); i < n; ++i)
                s[rng() % s.size()] ^= uint8_t(1u << (rng() % 8));
        } else if (how == 2) {
            s[rng() % s.size()] = uint8_t(rng());
        } else if (how == 3) {
            s.erase(s.begin() + long(rng() % s.size()));
        } else {
            s.resize(rng() % s.size());
        }
        const size_t limit = rng() % 4 ? 100000 : rng() % 500;
        const auto ref = reference_inflate(s.data(), s.size(), limit);
        errors += ref.outcome == vek::testref::InflateOutcome::kDataError;
        for (int config = 0; config < 3; ++config) {
            DriveOptions o;
            o.outLimit = limit;
            o.seed = rng();
            o.exactInput = true;
            if (config == 1) o.maxInPiece = 1 + rng() % 7, o.preloadBits = true;
            if (config == 2) {
                o.useWindow = true, o.winSize = 32768, o.chunkSize = 1 + rng() % 700;
                o.maxOutPiece = 1 + rng() % 9, o.randomDrain = true;
                // The window starts as zeros: the reference sees them as history.
            }
            const DriveResult d = inflate_stream(s.data(), s.size(), o);
            if (config == 2) {
                const Bytes zeros(32768, 0);
                const auto refw =
                    reference_inflate(s.data(), s.size(), limit, zeros.data(), zeros.size());
                ASSERT_EQ(check_against_reference(d, refw), "") << round;
            } else {
                ASSERT_EQ(check_against_reference(d, ref), "") << round << " config " << config;
            }
        }
    }
    EXPECT_GT(errors, 100u / kSlow);  // the damage did reach the decoder's checks
}

}  // namespace
