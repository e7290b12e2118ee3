// Streaming LZSS codec: exact streams (hand-derived and from the plain model
// in lzss_model.h), argument checks, flush and decoder edge cases, and round
// trips with the input and output cut into random pieces.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "lzss/lzss.h"
#include "lzss_model.h"
#include "null_args.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

constexpr size_t kScale = vek::testdata::kSanitized ? 8 : 1;

using Bytes = std::vector<uint8_t>;
using vek::testing::expect_each_null_refused;
using vek::testing::NullSlot;

// States are zeroed before their init so that the uncleared history areas
// are the same in every test (the decoding model assumes zeros).
std::unique_ptr<vekLZSSState> new_state() {
    auto s = std::make_unique<vekLZSSState>();
    std::memset(s.get(), 0, sizeof(vekLZSSState));
    return s;
}

// Sizes chosen per call: random in [1, max], or always max when fixed.
struct Sizer {
    std::mt19937 rng;
    size_t max;
    bool fixed;
    explicit Sizer(size_t max_size, uint32_t seed = 1) : rng(seed), max(max_size), fixed(false) {}
    static Sizer Fixed(size_t size) {
        Sizer s(size);
        s.fixed = true;
        return s;
    }
    int32_t next() { return static_cast<int32_t>(fixed ? max : 1 + rng() % max); }
};

std::vector<size_t> random_pieces(size_t total, size_t max_piece, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<size_t> pieces;
    while (total > 0) {
        const size_t p = std::min(total, 1 + rng() % max_piece);
        pieces.push_back(p);
        total -= p;
    }
    return pieces;
}

// One call writing into a fresh `cap`-byte chunk between guard bytes; what
// it wrote goes to `out`, and the pointer must have moved as the length says.
template <typename Call>
vekStatus into_chunk(int32_t cap, Bytes* out, Call&& call, int32_t* room_left = nullptr) {
    Bytes buf(static_cast<size_t>(cap) + 32, 0xA5);
    uint8_t* p = buf.data() + 16;
    int32_t room = cap;
    const vekStatus status = call(&p, &room);
    EXPECT_EQ(p - (buf.data() + 16), cap - room);
    for (int g = 0; g < 16; ++g) EXPECT_TRUE(buf[g] == 0xA5 && buf[buf.size() - 1 - g] == 0xA5);
    out->insert(out->end(), buf.data() + 16, p);
    if (room_left) *room_left = room;
    return status;
}

// Encodes `data` given in `pieces`, into destination chunks from `dst`;
// `prepare` may change the state after its init.
Bytes encode(const Bytes& data, const std::vector<size_t>& pieces, Sizer dst,
             const std::function<void(vekLZSSState*)>& prepare = {}) {
    auto st = new_state();
    EXPECT_EQ(veksEncodeLZSSInit_8u(st.get()), vekStatusOk);
    if (prepare) prepare(st.get());
    Bytes out;
    size_t at = 0;
    for (size_t piece : pieces) {
        uint8_t* src = const_cast<uint8_t*>(data.data()) + at;
        int32_t len = static_cast<int32_t>(piece);
        while (len > 0) {
            const vekStatus status = into_chunk(dst.next(), &out, [&](uint8_t** p, int32_t* n) {
                return veksEncodeLZSS_8u(&src, &len, p, n, st.get());
            });
            EXPECT_EQ(src, data.data() + at + piece - static_cast<size_t>(len));
            if (status != vekStatusDstTooSmall) {
                EXPECT_EQ(status, vekStatusOk);
                EXPECT_EQ(len, 0);
                break;
            }
        }
        at += piece;
    }
    for (int guard = 0; guard < 100; ++guard) {
        const vekStatus status = into_chunk(dst.next(), &out, [&](uint8_t** p, int32_t* n) {
            return veksEncodeLZSSFlush_8u(p, n, st.get());
        });
        if (status == vekStatusOk) break;
        EXPECT_EQ(status, vekStatusDstTooSmall);
    }
    return out;
}

Bytes encode_whole(const Bytes& data) {
    return encode(data, data.empty() ? std::vector<size_t>{} : std::vector<size_t>{data.size()},
                  Sizer::Fixed(data.size() * 9 / 8 + 16));
}

// Decodes `stream` given in `pieces` into destination chunks from `dst`.
// Every stop for a full destination must have read exactly the bytes a lazy
// reader would have.
Bytes decode(const Bytes& stream, const std::vector<size_t>& pieces, Sizer dst) {
    std::vector<vek::lzss_model::TokenEnd> ends;
    vek::lzss_model::decode(stream, &ends);
    auto st = new_state();
    EXPECT_EQ(veksDecodeLZSSInit_8u(st.get()), vekStatusOk);
    Bytes out;
    size_t at = 0;
    for (size_t piece : pieces) {
        uint8_t* src = const_cast<uint8_t*>(stream.data()) + at;
        int32_t len = static_cast<int32_t>(piece);
        for (;;) {
            const int32_t len_before = len;
            uint8_t* src_before = src;
            int32_t room = -1;
            auto call = [&](uint8_t** p, int32_t* n) {
                return veksDecodeLZSS_8u(&src, &len, p, n, st.get());
            };
            const vekStatus status = into_chunk(dst.next(), &out, call, &room);
            EXPECT_EQ(src - src_before, len_before - len);
            if (status == vekStatusOk) {
                EXPECT_EQ(len, 0);
                break;
            }
            EXPECT_EQ(status, vekStatusDstTooSmall);
            EXPECT_EQ(room, 0);
            const size_t read = at + piece - static_cast<size_t>(len);
            EXPECT_EQ(read, vek::lzss_model::lazy_bytes_read(ends, out.size(), at));
            if (out.size() > (size_t(1) << 28)) {
                ADD_FAILURE() << "decoder does not stop";
                break;
            }
        }
        at += piece;
    }
    return out;
}

Bytes decode_whole(const Bytes& stream, size_t expected) {
    return decode(stream, {stream.size()}, Sizer::Fixed(expected + 1));
}

const Bytes kTen(10, 'a');

// A caller's cursors for hand-driven calls on one state.
struct Cursor {
    vekLZSSState* st;
    uint8_t* src = nullptr;
    int32_t sl = 0;
    uint8_t* dst = nullptr;
    int32_t dl = 0;
    Cursor& from(const uint8_t* p, int32_t n) {
        src = const_cast<uint8_t*>(p);
        sl = n;
        return *this;
    }
    Cursor& to(uint8_t* p, int32_t n) {
        dst = p;
        dl = n;
        return *this;
    }
    vekStatus enc() { return veksEncodeLZSS_8u(&src, &sl, &dst, &dl, st); }
    vekStatus dec() { return veksDecodeLZSS_8u(&src, &sl, &dst, &dl, st); }
    vekStatus flush() { return veksEncodeLZSSFlush_8u(&dst, &dl, st); }
};

TEST(LZSSTables, HashTablesHoldTheListedValues) {
    const int16_t* t = vek::lzss::kRandVec;
    const int16_t listed[][2] = {{0, 0x499D},   {15, 0x2C4E},  {255, 0x57DE},
                                 {256, 0x5B6B}, {356, 0x391E}, {511, 0x2B67},
                                 {512, 0x5C40}, {712, 0x07C3}, {767, 0x3748}};
    for (const auto& e : listed) EXPECT_EQ(t[e[0]], e[1]) << e[0];
    for (int i = 0; i < 768; ++i) ASSERT_GE(t[i], 0) << i;
}

TEST(LZSSApi, SizeAndArgumentChecksInOrder) {
    int32_t size = 0;
    EXPECT_EQ(veksLZSSGetSize_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksLZSSGetSize_8u(&size), vekStatusOk);
    EXPECT_EQ(size, static_cast<int32_t>(sizeof(vekLZSSState)));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(size, 327724);
    }
    EXPECT_EQ(veksEncodeLZSSInit_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeLZSSInit_8u(nullptr), vekStatusNullPtrErr);

    auto st = new_state();
    ASSERT_EQ(veksEncodeLZSSInit_8u(st.get()), vekStatusOk);
    uint8_t src_buf[4] = {1, 2, 3, 4}, dst_buf[8] = {};
    uint8_t* src = src_buf;
    uint8_t* dst = dst_buf;
    int32_t sl = 4, dl = 8, zero_s = 0, zero_d = 0;
    // Null pointers come before the destination and source lengths.
    expect_each_null_refused(5, [&](NullSlot z) {
        return veksEncodeLZSS_8u(z(&src, 0), z(&zero_s, 1), z(&dst, 2), z(&zero_d, 3),
                                 z(st.get(), 4));
    });
    // A zero destination wins over a zero source; neither changes anything.
    EXPECT_EQ(veksEncodeLZSS_8u(&src, &zero_s, &dst, &zero_d, st.get()), vekStatusDstTooSmall);
    EXPECT_EQ(veksEncodeLZSS_8u(&src, &sl, &dst, &zero_d, st.get()), vekStatusDstTooSmall);
    EXPECT_EQ(veksEncodeLZSS_8u(&src, &zero_s, &dst, &dl, st.get()), vekStatusOk);
    // Buffer pointers themselves are not checked when nothing is to be done.
    uint8_t* null_src = nullptr;
    EXPECT_EQ(veksEncodeLZSS_8u(&null_src, &zero_s, &dst, &dl, st.get()), vekStatusOk);
    EXPECT_EQ(src, src_buf);
    EXPECT_EQ(dst, dst_buf);
    EXPECT_EQ(sl, 4);
    EXPECT_EQ(dl, 8);
    EXPECT_EQ(st->position, 0);

    expect_each_null_refused(3, [&](NullSlot z) {
        return veksEncodeLZSSFlush_8u(z(&dst, 0), z(&zero_d, 1), z(st.get(), 2));
    });
    EXPECT_EQ(veksEncodeLZSSFlush_8u(&dst, &zero_d, st.get()), vekStatusSizeErr);
    int32_t neg = -1;
    EXPECT_EQ(veksEncodeLZSSFlush_8u(&dst, &neg, st.get()), vekStatusSizeErr);

    ASSERT_EQ(veksDecodeLZSSInit_8u(st.get()), vekStatusOk);
    expect_each_null_refused(5, [&](NullSlot z) {
        return veksDecodeLZSS_8u(z(&src, 0), z(&sl, 1), z(&dst, 2), z(&zero_d, 3), z(st.get(), 4));
    });
    EXPECT_EQ(veksDecodeLZSS_8u(&src, &sl, &dst, &zero_d, st.get()), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeLZSS_8u(&src, &sl, &dst, &neg, st.get()), vekStatusSizeErr);
    EXPECT_EQ(src, src_buf);
    EXPECT_EQ(sl, 4);

    // Negative lengths are left alone and nothing is written.
    ASSERT_EQ(veksEncodeLZSSInit_8u(st.get()), vekStatusOk);
    int32_t neg_s = -5, neg_d = -5;
    EXPECT_EQ(veksEncodeLZSS_8u(&src, &sl, &dst, &neg_d, st.get()), vekStatusDstTooSmall);
    EXPECT_EQ(veksEncodeLZSS_8u(&src, &neg_s, &dst, &dl, st.get()), vekStatusOk);
    EXPECT_EQ(dst, dst_buf);
    EXPECT_EQ(st->position, 0);
}

TEST(LZSSInit, StatesStartAsDescribed) {
    auto st = new_state();
    std::memset(st.get(), 0x77, sizeof(vekLZSSState));
    ASSERT_EQ(veksEncodeLZSSInit_8u(st.get()), vekStatusOk);
    EXPECT_EQ(st->pHashRand, vek::lzss::kRandVec);
    EXPECT_EQ(st->pPrev, st->area1);
    EXPECT_EQ(st->pHead, st->area2);
    EXPECT_EQ(st->pWindowBase, st->area3);
    EXPECT_EQ(st->pWindow, st->area3);
    EXPECT_EQ(st->position | st->bitCount | st->matchOffset | st->matchRemain, 0);
    EXPECT_EQ(st->bitBufHi | st->bitBufLo, 0u);
    for (int i = 0; i < 32768; ++i) {
        ASSERT_EQ(st->area1[i], -32768);
        ASSERT_EQ(st->area2[i], -32768);
    }
    EXPECT_EQ(st->area3[100], 0x77);  // the window is not cleared

    std::memset(st.get(), 0x77, sizeof(vekLZSSState));
    ASSERT_EQ(veksDecodeLZSSInit_8u(st.get()), vekStatusOk);
    EXPECT_EQ(st->pHashRand, nullptr);
    EXPECT_EQ(st->pPrev, nullptr);
    EXPECT_EQ(st->pHead, nullptr);
    EXPECT_EQ(st->pWindowBase, reinterpret_cast<uint8_t*>(st->area1));
    EXPECT_EQ(st->bitCount | st->matchOffset | st->matchRemain, 0);
    EXPECT_EQ(st->bitBufHi | st->bitBufLo, 0u);
    EXPECT_EQ(st->position, 0x77777777);  // encoder fields are not touched
    EXPECT_EQ(reinterpret_cast<uintptr_t>(st->pWindow) & 0xFFFF, 0x7777u);
}

TEST(LZSSEncode, TenEqualBytes) {
    // literal 'a' | match distance 1 length 7 | literal 'a' | literal 'a':
    // 1 01100001 | 0 000000000000001 00000100 | 1 01100001 | 1 01100001
    const Bytes expected = {0xB0, 0x80, 0x00, 0x82, 0x58, 0x6C, 0x20};
    auto st = new_state();
    ASSERT_EQ(veksEncodeLZSSInit_8u(st.get()), vekStatusOk);
    uint8_t out[16];
    std::memset(out, 0xEE, sizeof out);
    Cursor c{st.get()};
    EXPECT_EQ(c.from(kTen.data(), 10).to(out, 16).enc(), vekStatusOk);
    EXPECT_TRUE(c.sl == 0 && c.src == kTen.data() + 10 && c.dst == out + 6 && c.dl == 10);
    EXPECT_EQ(st->bitCount, 3);
    EXPECT_EQ(st->position, 10);
    EXPECT_EQ(c.flush(), vekStatusOk);
    EXPECT_EQ(c.dst - out, 7);
    EXPECT_EQ(Bytes(out, out + 7), expected);
    EXPECT_EQ(st->bitCount, 3);  // a completed flush leaves the count as it was
    EXPECT_EQ(vek::lzss_model::encode(kTen, {10}, vek::lzss::kRandVec), expected);
    EXPECT_EQ(decode_whole(expected, 10), kTen);

    // Six bytes of room fill exactly with the last literal: the whole input
    // is consumed and the call still reports a full destination.
    ASSERT_EQ(veksEncodeLZSSInit_8u(st.get()), vekStatusOk);
    EXPECT_EQ(c.from(kTen.data(), 10).to(out, 6).enc(), vekStatusDstTooSmall);
    EXPECT_TRUE(c.sl == 0 && c.dl == 0 && st->bitCount == 3);
    c.dl = 4;
    EXPECT_EQ(c.flush(), vekStatusOk);
    EXPECT_EQ(Bytes(out, c.dst), expected);
}

TEST(LZSSEncode, ShortCallsAreLiteralsOnly) {
    // Ten bytes in calls of two bytes: every byte is among the last two of
    // its call, so no match can form.
    const Bytes stream = encode(kTen, {2, 2, 2, 2, 2}, Sizer(64));
    ASSERT_EQ(stream.size(), 12u);  // 90 bits
    EXPECT_EQ(stream, vek::lzss_model::encode(kTen, {2, 2, 2, 2, 2}, vek::lzss::kRandVec));
    EXPECT_EQ(stream[0], 0xB0);
    EXPECT_EQ(decode_whole(stream, 10), kTen);
    // A match may start in an earlier call's bytes and run on into the new
    // ones: four literals, then in the second call a match of distance 3
    // and length 4 (bytes 1..4 against 4..7) and two literals.
    const Bytes two = encode(kTen, {4, 6}, Sizer(64));
    EXPECT_EQ(two, vek::lzss_model::encode(kTen, {4, 6}, vek::lzss::kRandVec));
    ASSERT_EQ(two.size(), 10u);  // 78 bits
    EXPECT_EQ(two[4], 0x10);     // 0001 ending the 4th literal, match flag 0, distance 000...
    EXPECT_EQ(decode_whole(two, 10), kTen);
}

TEST(LZSSFlush, PendingBitsAcrossSeveralCalls) {
    auto st = new_state();
    ASSERT_EQ(veksEncodeLZSSInit_8u(st.get()), vekStatusOk);
    uint8_t out[8], b;
    Cursor c{st.get()};
    EXPECT_EQ(c.to(out, 8).flush(), vekStatusOk);  // nothing pending
    EXPECT_EQ(c.dst, out);

    // x, y, a match of 6 and two literals (60 bits) through one-byte
    // destinations: the first call stops after the first literal with one
    // bit waiting, later ones before any token while whole bytes wait.
    const Bytes data = {'x', 'y', 'x', 'y', 'x', 'y', 'x', 'y', 'z', 'z'};
    EXPECT_EQ(c.from(data.data(), 10).to(out, 1).enc(), vekStatusDstTooSmall);
    EXPECT_TRUE(c.sl == 9 && st->bitCount == 1);
    Bytes stream(out, c.dst);
    // Resume with 1-byte buffers, then flush the rest one byte per call.
    while (c.sl > 0) {
        const vekStatus status = c.to(&b, 1).enc();
        stream.insert(stream.end(), &b, c.dst);
        if (status == vekStatusOk) break;
    }
    int flush_calls = 0;
    for (;; ++flush_calls) {
        const int32_t before = st->bitCount;
        const vekStatus status = c.to(&b, 1).flush();
        stream.insert(stream.end(), &b, c.dst);
        if (status == vekStatusOk) {
            EXPECT_TRUE(c.dst == &b && st->bitCount == before);
            EXPECT_LE(before, 0);  // all bytes out; the count went below zero
            break;
        }
        EXPECT_EQ(st->bitCount, before - 8);
    }
    EXPECT_GE(flush_calls, 1);  // at least one flush stopped for room
    EXPECT_EQ(stream, vek::lzss_model::encode(data, {10}, vek::lzss::kRandVec));
    EXPECT_EQ(decode_whole(stream, data.size()), data);

    // The last byte of a flush filling the destination exactly still
    // reports a full destination; the next flush has nothing left.
    ASSERT_EQ(veksEncodeLZSSInit_8u(st.get()), vekStatusOk);
    ASSERT_EQ(c.from(kTen.data(), 10).to(out, 8).enc(), vekStatusOk);
    c.dl = 1;
    EXPECT_EQ(c.flush(), vekStatusDstTooSmall);
    EXPECT_EQ(st->bitCount, -5);
    c.dl = 1;
    uint8_t* const d0 = c.dst;
    EXPECT_EQ(c.flush(), vekStatusOk);
    EXPECT_EQ(c.dst, d0);
    EXPECT_EQ(out[6], 0x20);
}

TEST(LZSSEncode, MatchesTheModelOnVariedInputsAndSplits) {
    using namespace vek::testdata;
    const size_t n = 300000 / kScale;
    std::vector<Bytes> inputs = {text_bytes(n, 1), random_bytes(n / 4, 2), runs_bytes(n, 3),
                                 Bytes(n, 0)};
    // Binary-like: records with small counters and repeated fields.
    Bytes records;
    for (uint32_t i = 0; records.size() < n; ++i) {
        const uint8_t rec[12] = {
            0x7F,           'E', 'L', 'F',           uint8_t(i), uint8_t(i >> 8), 0, 0,
            uint8_t(i * 7), 1,   0,   uint8_t(i % 3)};
        records.insert(records.end(), rec, rec + 12);
    }
    inputs.push_back(records);
    // Repeats far apart: distances near the window limit.
    Bytes far = random_bytes(40000, 9);
    far.insert(far.end(), far.begin(), far.begin() + 30000);
    inputs.push_back(far);

    uint32_t seed = 10;
    for (const Bytes& data : inputs) {
        const std::vector<std::vector<size_t>> splits = {{data.size()},
                                                         random_pieces(data.size(), 70000, seed),
                                                         random_pieces(data.size(), 600, seed + 1)};
        for (const auto& pieces : splits) {
            const Bytes expected = vek::lzss_model::encode(data, pieces, vek::lzss::kRandVec);
            EXPECT_EQ(encode(data, pieces, Sizer(1 << 20, seed)), expected);
            EXPECT_EQ(encode(data, pieces, Sizer(40, seed + 2)), expected);  // often 1 byte
            EXPECT_EQ(
                decode(expected, random_pieces(expected.size(), 5000, seed), Sizer(7000, seed)),
                data);
            ++seed;
        }
    }
}

// A stream depends only on differences of positions: a state that starts
// far into the position range writes what a fresh one writes, also when its
// positions pass the point where the encoder rebases them (inside a call and
// between calls) or start right below INT32_MAX, with the window mapped at
// the start position or left for the encoder to remap.
TEST(LZSSEncode, StreamsStartingHighInThePositionRange) {
    using namespace vek::testdata;
    Bytes data = text_bytes(150000 / kScale, 71);
    const Bytes runs = runs_bytes(50000 / kScale, 72);
    data.insert(data.end(), runs.begin(), runs.end());
    // Calls of one or two bytes hash nothing but still move the position.
    const Bytes head(data.begin(), data.begin() + 3000);
    const std::vector<std::pair<const Bytes*, std::vector<size_t>>> cases = {
        {&data, {data.size()}},
        {&data, random_pieces(data.size(), 30000, 73)},
        {&head, random_pieces(head.size(), 2, 75)}};
    const int32_t starts[] = {vek::lzss::kRebaseAt - static_cast<int32_t>(data.size() / 2),
                              vek::lzss::kRebaseAt - 1,
                              vek::lzss::kRebaseAt,
                              INT32_MAX - 100000,
                              INT32_MAX - 2,
                              INT32_MAX};
    for (const auto& [input, pieces] : cases) {
        const Bytes expected = vek::lzss_model::encode(*input, pieces, vek::lzss::kRandVec);
        for (const int32_t start : starts) {
            for (const bool mapped : {false, true}) {
                const Bytes stream =
                    encode(*input, pieces, Sizer(pieces.size() > 100 ? 64 : 1 << 16, 74),
                           [&](vekLZSSState* st) {
                               st->position = start;
                               if (mapped)
                                   st->pWindow = reinterpret_cast<uint8_t*>(
                                       reinterpret_cast<uintptr_t>(st->area3) - uintptr_t(start));
                           });
                EXPECT_TRUE(stream == expected)
                    << "start " << start << ", mapped " << mapped << ", calls " << pieces.size();
            }
        }
    }
}

TEST(LZSSEncode, TinyInputs) {
    std::mt19937 rng(3);
    for (size_t n = 1; n <= 40; ++n) {
        Bytes data(n);
        for (auto& b : data) b = static_cast<uint8_t>("ab"[rng() % 2]);
        const Bytes expected = vek::lzss_model::encode(data, {n}, vek::lzss::kRandVec);
        const Bytes stream = encode(data, {n}, Sizer::Fixed(1));
        EXPECT_EQ(stream, expected) << n;
        EXPECT_EQ(decode(stream, {stream.size()}, Sizer::Fixed(1)), data) << n;
    }
    EXPECT_TRUE(encode({}, {}, Sizer(4)).empty());
}

TEST(LZSSEncode, DamagedStatesStayInBounds) {
    // States whose fields and tables hold anything at all (a decoder state,
    // random bytes): the encoder reads and writes only its areas and the
    // caller's buffers, and every match it finds is real, so the stream
    // still decodes (the pending bits are the caller's, cleared here).
    const Bytes data = vek::testdata::text_bytes(100000 / kScale, 31);
    for (int variant = 0; variant < 3; ++variant) {
        auto st = new_state();
        if (variant == 0) {
            ASSERT_EQ(veksDecodeLZSSInit_8u(st.get()), vekStatusOk);
        } else {
            const Bytes noise = vek::testdata::random_bytes(sizeof(vekLZSSState), 40 + variant);
            std::memcpy(st.get(), noise.data(), noise.size());
            if (variant == 2) st->position = INT32_MAX - 1000;
        }
        st->bitCount = 0;
        Bytes stream;
        uint8_t* src = const_cast<uint8_t*>(data.data());
        int32_t left = static_cast<int32_t>(data.size());
        while (left > 0) {
            int32_t piece = std::min<int32_t>(left, 7000);
            left -= piece;
            ASSERT_EQ(into_chunk(20000, &stream,
                                 [&](uint8_t** p, int32_t* n) {
                                     return veksEncodeLZSS_8u(&src, &piece, p, n, st.get());
                                 }),
                      vekStatusOk);
        }
        uint8_t tail[8];
        uint8_t* dst = tail;
        int32_t room = 8;
        ASSERT_EQ(veksEncodeLZSSFlush_8u(&dst, &room, st.get()), vekStatusOk);
        stream.insert(stream.end(), tail, dst);
        EXPECT_EQ(decode_whole(stream, data.size()), data) << variant;
        EXPECT_LT(stream.size(), data.size() / 2) << variant;
    }
}

TEST(LZSSDecode, DamagedStatesStayInBounds) {
    const Bytes stream = vek::testdata::random_bytes(3000, 50);
    for (uint32_t seed = 0; seed < 20; ++seed) {
        auto st = new_state();
        const Bytes noise = vek::testdata::random_bytes(sizeof(vekLZSSState), 60 + seed);
        std::memcpy(st.get(), noise.data(), noise.size());
        if (seed % 2) st->matchRemain = static_cast<int32_t>(seed * 100);
        uint8_t* src = const_cast<uint8_t*>(stream.data());
        int32_t len = static_cast<int32_t>(stream.size());
        Bytes out;
        for (int call = 0; call < 50; ++call) {
            const vekStatus status = into_chunk(500, &out, [&](uint8_t** p, int32_t* n) {
                return veksDecodeLZSS_8u(&src, &len, p, n, st.get());
            });
            ASSERT_TRUE(status == vekStatusOk || status == vekStatusDstTooSmall);
            EXPECT_GE(len, 0);
            if (status == vekStatusOk) break;
        }
    }
}

TEST(LZSSDecode, OneBytePerCallAndOneByteDestinations) {
    const Bytes data = vek::testdata::runs_bytes(12000 / kScale, 7);
    const Bytes stream = encode_whole(data);
    std::vector<size_t> ones(stream.size(), 1);
    EXPECT_EQ(decode(stream, ones, Sizer::Fixed(100000)), data);
    EXPECT_EQ(decode(stream, {stream.size()}, Sizer::Fixed(1)), data);
    EXPECT_EQ(decode(stream, ones, Sizer::Fixed(1)), data);

    // A cut-off match continues through matchOffset and matchRemain.
    auto st = new_state();
    ASSERT_EQ(veksDecodeLZSSInit_8u(st.get()), vekStatusOk);
    const Bytes ten = encode_whole(kTen);
    uint8_t out[10];
    Cursor c{st.get()};
    EXPECT_EQ(c.from(ten.data(), int32_t(ten.size())).to(out, 3).dec(), vekStatusDstTooSmall);
    EXPECT_TRUE(st->matchOffset == 1 && st->matchRemain == 5);
    EXPECT_EQ(c.sl, 7 - 5);  // the match token ends in byte 4; nothing more was taken
    c.dl = 5;
    EXPECT_EQ(c.dec(), vekStatusDstTooSmall);
    EXPECT_EQ(st->matchRemain, 0);
    c.dl = 2;
    EXPECT_EQ(c.dec(), vekStatusDstTooSmall);
    EXPECT_EQ(Bytes(out, out + 10), kTen);
    c.dl = 1;
    uint8_t* const d0 = c.dst;
    EXPECT_EQ(c.dec(), vekStatusOk);  // 5 fill bits
    EXPECT_TRUE(c.dst == d0 && c.sl == 0);
}

TEST(LZSSDecode, FillBitsAndIncompleteTokensWait) {
    auto st = new_state();
    ASSERT_EQ(veksDecodeLZSSInit_8u(st.get()), vekStatusOk);
    // 1 0110000 | 1 : a literal split over two calls.
    const uint8_t a = 0xB0, b = 0x80;
    uint8_t out[4];
    Cursor c{st.get()};
    EXPECT_EQ(c.from(&a, 1).to(out, 4).dec(), vekStatusOk);
    EXPECT_TRUE(c.dst == out && c.sl == 0 && st->bitCount == 8);
    EXPECT_EQ(c.from(&b, 1).dec(), vekStatusOk);
    EXPECT_TRUE(c.dst == out + 1 && out[0] == 'a');
    EXPECT_EQ(st->bitCount, 7);  // the zero fill of a flush decodes to nothing
    c.sl = 0;
    EXPECT_EQ(c.dec(), vekStatusOk);
    EXPECT_EQ(c.dst, out + 1);
}

TEST(LZSSDecode, ArbitraryBitsMatchTheModel) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        Bytes stream = vek::testdata::random_bytes(1 + rng() % 3000, 100 + round);
        if (round % 2) {
            // Mostly matches with short distances: long overlapping copies.
            for (size_t i = 0; i + 3 <= stream.size(); i += 3) {
                stream[i] = static_cast<uint8_t>(rng() % 2);
                stream[i + 1] = static_cast<uint8_t>(rng() % 256);
            }
        }
        const Bytes expected = vek::lzss_model::decode(stream);
        EXPECT_EQ(decode(stream, random_pieces(stream.size(), 50, round), Sizer(300, round)),
                  expected);
        EXPECT_EQ(decode(stream, {stream.size()}, Sizer::Fixed(expected.size() + 1)), expected);
    }
}

TEST(LZSSRoundTrip, MultiMegabyteStreams) {
    using namespace vek::testdata;
    const size_t n = (6u << 20) / kScale;
    Bytes data = text_bytes(n / 2, 21);
    const Bytes rnd = random_bytes(n / 4, 22);
    const Bytes runs = runs_bytes(n / 4, 23);
    data.insert(data.end(), rnd.begin(), rnd.end());
    data.insert(data.end(), runs.begin(), runs.end());
    const auto pieces = random_pieces(data.size(), 1 << 20, 24);
    const Bytes stream = encode(data, pieces, Sizer(1 << 18, 25));
    EXPECT_LT(stream.size(), data.size() * 3 / 4);
    EXPECT_EQ(decode(stream, random_pieces(stream.size(), 1 << 19, 26), Sizer(1 << 18, 27)), data);
}

}  // namespace
