// Fastest Deflate: the forms of the shared main loop against a plain model
// of the match rule. The statistics pass with its window right before the
// input (the batched form); the encoders' main loops with the longest codes
// a table may hold, so that every item, and two literals in a row, bring the
// most bits the accumulator must take; and with the window in a buffer of
// its own, where the loop changes form after the call's first winSize
// positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "deflate_huff_codes.h"
#include "deflate_lz77_model.h"
#include "deflate_reference_inflate.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace lz = vek::testref::lz77model;
namespace ref = vek::testref;

constexpr size_t kScale = vek::testdata::kSanitized ? 4 : 1;

// Text, random bytes, runs longer than the longest match, 4-byte tokens
// (most matches exactly 4 bytes) and a period just above 256 (long matches
// at long-code distances), each stretch several times.
Bytes mixed_input(uint32_t seed) {
    using namespace vek::testdata;
    std::mt19937 rng(seed);
    Bytes in;
    auto add = [&](const Bytes& b) { in.insert(in.end(), b.begin(), b.end()); };
    for (uint32_t k = 0; k < 2; ++k) {
        add(text_bytes(24000 / kScale, seed + k));
        add(random_bytes(9000 / kScale, seed + 10 + k));
        add(runs_bytes(6000 / kScale, seed + 20 + k));
        in.insert(in.end(), 700 + 300 * k, uint8_t('a' + k));
        for (size_t i = 0; i < 3000 / kScale; ++i) {
            const uint32_t t = rng() % 48;
            in.insert(in.end(), {uint8_t(4 * t), uint8_t(t * 7 + 1), uint8_t(t ^ 0x55), 9});
        }
        for (size_t i = 0; i < 9000 / kScale; ++i)
            in.push_back(uint8_t(i % (rng() % 50 ? 300 : 301) % 253));
    }
    return in;
}

// The match rule over the whole stream: head table only, one probe a position.
struct Model {
    const Bytes& all;
    uint32_t winSize, hashSize;
    std::vector<int32_t> head;

    uint32_t hash(uint32_t p) const {
        const uint32_t w = all[p] | all[p + 1] << 8 | all[p + 2] << 16 | uint32_t(all[p + 3]) << 24;
        return lz::crc32c_word(w) & (hashSize - 1);
    }
    // The item at p (length 0 for a literal) and its distance; registers
    // p and, after a match, p + 1..p + 3.
    uint32_t item(uint32_t p, uint32_t end, uint32_t cap, uint32_t* dist) {
        const uint32_t h = hash(p);
        const int64_t cand = head[h];
        head[h] = int32_t(p);
        const int64_t d = int64_t(p) - cand;
        uint32_t len = 0;
        if (d > 0 && d < int64_t(winSize) &&
            std::equal(all.begin() + cand, all.begin() + cand + 4, all.begin() + p)) {
            len = 4;
            while (len < cap && all[size_t(cand + len)] == all[p + len]) ++len;
            for (uint32_t q = p + 1; q <= p + 3; ++q)
                if (q + 4 <= end) head[hash(q)] = int32_t(q);
        }
        *dist = uint32_t(d);
        return len;
    }
};

TEST(DeflateFastestSpeed, StatisticsWithTheWindowBeforeTheInput) {
    const Bytes in = mixed_input(3);
    std::mt19937 rng(4);
    const uint32_t configs[][2] = {{32768, 65536}, {32768, 4096}, {4096, 65536}, {256, 256}};
    for (const auto& cfg : configs) {
        const uint32_t winSize = cfg[0], hashSize = cfg[1];
        SCOPED_TRACE(testing::Message() << "window " << winSize << " hash " << hashSize);
        Model m{in, winSize, hashSize, std::vector<int32_t>(hashSize, -int32_t(winSize))};
        std::vector<int32_t> head = m.head;
        std::vector<uint32_t> ls(286, 1), ds(30, 2), mls = ls, mds = ds;
        uint32_t pos = 0;
        for (int call = 0; pos < in.size() && call < 1000; ++call) {
            const uint32_t left = uint32_t(in.size()) - pos;
            const uint32_t len =
                std::min<uint32_t>(left, rng() % 4 ? 1 + rng() % 30000 : rng() % 300);
            const uint32_t flush = len == left ? 2 : rng() % 2;
            // The model: items while more than 258 bytes are left; with a
            // final flush one more item, then literals.
            const uint32_t end = pos + len;
            uint32_t p = pos, dist = 0;
            auto count = [&](uint32_t cap) {
                const uint32_t l = m.item(p, end, cap, &dist);
                if (l == 0) {
                    ++mls[in[p++]];
                } else {
                    ++mls[size_t(257 + lz::length_code(int(l)))];
                    ++mds[size_t(lz::distance_code(int(dist)))];
                    p += l;
                }
            };
            while (int64_t(p) < int64_t(end) - 258) count(258);
            if (flush >= 2) {
                if (end - p > 3) count(std::min(end - p, 258u));
                for (; p < end; ++p) ++mls[in[p]];
            }
            // The library, with the window and the input in one buffer.
            const uint8_t* src = in.data() + pos;
            uint32_t srcLen = len, srcIdx = pos;
            ASSERT_EQ(
                veksDeflateLZ77FastestGetStat_8u(&src, &srcLen, &srcIdx, src, winSize, head.data(),
                                                 hashSize, ls.data(), ds.data(), flush),
                vekStatusOk);
            ASSERT_EQ(srcIdx, p) << "call at " << pos << " len " << len;
            ASSERT_EQ(src, in.data() + p);
            ASSERT_EQ(srcLen, end - p);
            ASSERT_EQ(ls, mls) << "call at " << pos;
            ASSERT_EQ(ds, mds) << "call at " << pos;
            ASSERT_EQ(head, m.head) << "call at " << pos;
            pos = p;
        }
        EXPECT_EQ(pos, in.size());
    }
}

// Bit string, least significant bit first.
struct Bits {
    std::vector<uint8_t> b;
    void put(uint32_t v, uint32_t k) {
        for (uint32_t i = 0; i < k; ++i) b.push_back(uint8_t((v >> i) & 1u));
    }
    uint32_t at(size_t byte) const {
        uint32_t v = 0;
        for (size_t i = 0; i < 8; ++i) v |= uint32_t(b[byte * 8 + i]) << i;
        return v;
    }
};

using Codes = std::vector<vekDeflateHuffCode>;

// A stream's state between main-loop calls: the library's and the model's
// head tables, the position and the pending bits.
struct MainLoopStream {
    const Bytes& in;
    uint32_t winSize;
    Model m;
    std::vector<int32_t> head;
    uint32_t pos = 1, pending = 5;
    uint16_t code = 0x13;

    MainLoopStream(const Bytes& all, uint32_t win)
        : in(all),
          winSize(win),
          m{all, win, 65536, std::vector<int32_t>(65536, -int32_t(win))},
          head(m.head) {}

    // One call without flush of `len` bytes and `room` bytes of output,
    // against the model: items while more than 258 input bytes (fixed codes:
    // 274) and more than 8 bytes of room are left; the dynamic encoder's
    // output advances by the whole bytes after every item, the fixed one's by
    // 4 bytes whenever 32 bits are complete; then the whole bytes that fit.
    // lit and dist null: the fixed codes. `joined`: the window right before
    // the input in one buffer, else window and input in buffers of their own.
    void call(uint32_t len, uint32_t room, const Codes* lit, const Codes* dist, bool joined) {
        const bool fixed = lit == nullptr;
        static const Codes kFixedLit = [] {
            std::vector<uint32_t> l(288);
            for (int i = 0; i < 288; ++i)
                l[size_t(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
            return vek::testsupport::canonical(l);
        }();
        static const Codes kFixedDist = vek::testsupport::canonical(std::vector<uint32_t>(30, 5));
        const Codes& lc = fixed ? kFixedLit : *lit;
        const Codes& dc = fixed ? kFixedDist : *dist;
        auto put = [](Bits& b, const vekDeflateHuffCode& c) {
            b.put(c.code & ((1u << c.len) - 1u), c.len);
        };
        const uint32_t dstIdx = len % 37, dstLen = dstIdx + room;
        Bits b;
        b.put(code, pending);
        size_t stored = 0;  // the fixed encoder's whole bytes out
        uint32_t p = pos, d = 0;
        while (int64_t(p) < int64_t(pos + len) - (fixed ? 274 : 258) &&
               dstIdx + (fixed ? stored : b.b.size() / 8) < dstLen - 8) {
            const uint32_t l = m.item(p, pos + len, 258, &d);
            if (l == 0) {
                put(b, lc[in[p++]]);
            } else {
                const int lcode = lz::length_code(int(l)), dcode = lz::distance_code(int(d));
                put(b, lc[size_t(257 + lcode)]);
                b.put(l - ref::kRefLengthBase[lcode], ref::kRefLengthExtra[lcode]);
                put(b, dc[size_t(dcode)]);
                b.put(d - ref::kRefDistBase[dcode], ref::kRefDistExtra[dcode]);
                p += l;
            }
            if (b.b.size() >= stored * 8 + 32) stored += 4;
        }
        const size_t whole = std::min<size_t>(b.b.size() / 8, room);

        const uint32_t hist = std::min(pos, winSize);
        Bytes win(in.begin() + (pos - hist), in.begin() + pos),
            chunk(in.begin() + pos, in.begin() + pos + len);
        const uint8_t* src = joined ? in.data() + pos : chunk.data();
        const uint8_t* window = joined ? src : win.data() + hist;
        Bytes dst(room + 32, 0xA5);
        uint32_t srcLen = len, srcIdx = pos, bits = pending, idx = dstIdx;
        uint16_t pc = code;
        ASSERT_EQ(veksDeflateLZ77FastestPrecompHeader_8u(
                      &src, &srcLen, &srcIdx, window, winSize, head.data(), 65536, &pc, &bits,
                      dst.data(), dstLen, &idx, fixed ? nullptr : lit->data(),
                      fixed ? nullptr : dist->data(), nullptr, 0, 0),
                  vekStatusOk);
        ASSERT_EQ(srcIdx, p) << "call at " << pos << " len " << len << " room " << room;
        ASSERT_EQ(idx - dstIdx, whole);
        for (size_t i = 0; i < whole; ++i) ASSERT_EQ(dst[i], b.at(i)) << "byte " << i;
        ASSERT_EQ(bits, b.b.size() - whole * 8);
        for (uint32_t i = 0; i < bits; ++i) ASSERT_EQ((pc >> i) & 1u, b.b[whole * 8 + i]);
        const size_t clean = fixed ? whole : room;  // the fixed encoder writes only whole bytes
        for (size_t i = clean; i < dst.size(); ++i) ASSERT_EQ(dst[i], 0xA5) << "at " << i;
        ASSERT_EQ(head, m.head);
        pending = bits;
        code = pc;
        pos = p;
    }
};

// Main-loop calls of the dynamic encoder with the window right before the
// input and codes of up to 16 bits, extra bits and all: an item brings up to
// 50 bits, two literals 32.
TEST(DeflateFastestSpeed, LongestCodesInTheMainLoop) {
    const Bytes in = mixed_input(5);
    std::mt19937 rng(6);
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(testing::Message() << "variant " << variant);
        Codes lit(286), dist(30);
        for (auto& c : lit) c = {uint16_t(rng()), uint16_t(variant == 0 ? 16 : 12 + rng() % 5)};
        for (auto& c : dist) c = {uint16_t(rng()), uint16_t(variant == 2 ? 1 + rng() % 16 : 16)};
        MainLoopStream s(in, 32768);
        while (in.size() - s.pos > 300 && !testing::Test::HasFatalFailure()) {
            const uint32_t len =
                std::min<uint32_t>(uint32_t(in.size()) - s.pos, 300 + rng() % 20000);
            s.call(len, rng() % 3 ? 1 + rng() % 400 : 2 * len + 100, &lit, &dist, true);
        }
    }
}

// With the window in a buffer of its own, the call's first winSize
// positions take the split form and the rest the joined one: calls that end
// on either side of that point, matches across it, and rooms that run out
// on either side, for both encoders.
TEST(DeflateFastestSpeed, SeparateWindowHandsOverAfterWinSizePositions) {
    const Bytes in = mixed_input(7);
    std::mt19937 rng(8);
    Codes lit(286), dist(30);
    for (auto& c : lit) c = {uint16_t(rng()), uint16_t(5 + rng() % 11)};
    for (auto& c : dist) c = {uint16_t(rng()), uint16_t(2 + rng() % 8)};
    for (uint32_t winSize : {256u, 3000u, 32768u}) {
        for (bool fixed : {false, true}) {
            SCOPED_TRACE(testing::Message() << "window " << winSize << " fixed " << fixed);
            MainLoopStream s(in, winSize);
            while (in.size() - s.pos > winSize + 600 && !testing::Test::HasFatalFailure()) {
                // Lengths and rooms near the hand-over, or anywhere.
                const uint32_t len = rng() % 2 ? winSize + 270 + rng() % 20 : 300 + rng() % 40000;
                const uint32_t room =
                    rng() % 2 ? winSize / 4 + rng() % (winSize / 2) : 2 * len + 50;
                s.call(std::min<uint32_t>(len, uint32_t(in.size()) - s.pos), room,
                       fixed ? nullptr : &lit, fixed ? nullptr : &dist, false);
            }
        }
    }
}

}  // namespace
