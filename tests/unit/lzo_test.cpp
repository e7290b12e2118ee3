// LZO1X: exact streams from the matcher rules (hand-derived examples and the
// plain models), argument-check order, capacities at and around the stream
// length, round trips through both decoders, the validating decoder on cut
// and damaged streams against the grammar model, and the chunked container.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "lzo_model.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vek::testref::lzo_model_decode;

constexpr size_t kBig = vek::testdata::kSanitized ? 600000 : 3 << 20;
constexpr int kMutations = vek::testdata::kSanitized ? 500 : 1500;

struct State {
    explicit State(int32_t method) : mem(131096 / 8 + 1) {
        EXPECT_EQ(veksEncodeLZOInit_8u(method, 0, st()), vekStatusOk);
    }
    vekLZOState_8u* st() { return reinterpret_cast<vekLZOState_8u*>(mem.data()); }
    uint32_t* dict() { return reinterpret_cast<uint32_t*>(mem.data() + 3); }  // after 24 bytes
    std::vector<uint64_t> mem;
};

Bytes encode(const Bytes& src, State& s, vekStatus want = vekStatusOk) {
    Bytes dst(src.size() + src.size() / 16 + 64);
    uint32_t n = uint32_t(dst.size());
    EXPECT_EQ(veksEncodeLZO_8u(src.data(), uint32_t(src.size()), dst.data(), &n, s.st()), want);
    dst.resize(n);
    return dst;
}

Bytes encode(const Bytes& src, int32_t method) {
    State s(method);
    std::fill(s.dict(), s.dict() + 32768, 0u);
    return encode(src, s);
}

// Decodes into an exact-size heap buffer followed by guard bytes.
Bytes decode(const Bytes& stream, size_t size, bool safe, vekStatus want = vekStatusOk) {
    Bytes out(size + 16, 0xC3);
    uint32_t n = uint32_t(size);
    const vekStatus st =
        safe ? veksDecodeLZOSafe_8u(stream.data(), uint32_t(stream.size()), out.data(), &n)
             : veksDecodeLZO_8u(stream.data(), uint32_t(stream.size()), out.data(), &n);
    EXPECT_EQ(st, want);
    for (size_t k = size; k < out.size(); ++k) EXPECT_EQ(out[k], 0xC3) << "guard byte " << k;
    out.resize(st == vekStatusOk ? n : 0);
    return out;
}

std::vector<Bytes> corpus() {
    using namespace vek::testdata;
    Bytes mixed = text_bytes(150000, 11);
    const Bytes rnd = random_bytes(60000, 12);
    mixed.insert(mixed.begin() + 70000, rnd.begin(), rnd.end());
    // Far matches: a block repeated at distances around 16384 and 49151.
    Bytes far = random_bytes(70000, 13);
    std::copy(far.begin(), far.begin() + 300, far.begin() + 16384 + 50);
    std::copy(far.begin() + 1000, far.begin() + 1300, far.begin() + 1000 + 49151);
    std::copy(far.begin() + 2000, far.begin() + 2040, far.begin() + 2000 + 49152);
    return {text_bytes(100000, 1), random_bytes(70000, 2), runs_bytes(300000, 3),
            Bytes(200000, 'a'), random_bytes(14, 6), text_bytes(17, 7), text_bytes(18, 8),
            text_bytes(1000, 9), mixed, far, text_bytes(kBig, 10), runs_bytes(49152 * 3 + 7, 14),
            // Whole-input literal runs at the bounds of the wide copies.
            random_bytes(4095, 15), random_bytes(4096, 16), random_bytes((1 << 20) - 1, 17),
            random_bytes(1 << 20, 18)};
}

TEST(LzoEncode, ArgumentChecksInOrder) {
    uint32_t size = 7;
    EXPECT_EQ(veksEncodeLZOGetSize(0, 0, nullptr), vekStatusNullPtrErr);
    for (int32_t m : {0, 1, 2}) {
        size = 0;
        EXPECT_EQ(veksEncodeLZOGetSize(m, 100, &size), vekStatusOk);
        EXPECT_EQ(size, 131096u);
    }
    for (int32_t m : {3, -1, 4, 6}) {
        size = 7;
        EXPECT_EQ(veksEncodeLZOGetSize(m, 0, &size), vekStatusBadArgErr);
        EXPECT_EQ(size, 0u);
    }
    State s(0);
    int32_t word = 0;
    EXPECT_EQ(veksEncodeLZOInit_8u(0, 0, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZOInit_8u(1, 0, s.st()), vekStatusOk);
    std::memcpy(&word, s.mem.data(), 4);
    EXPECT_EQ(word, 0);
    EXPECT_EQ(veksEncodeLZOInit_8u(2, 0, s.st()), vekStatusOk);
    std::memcpy(&word, s.mem.data(), 4);
    EXPECT_EQ(word, 2);
    for (int32_t m : {3, 4, -2, 6}) {
        EXPECT_EQ(veksEncodeLZOInit_8u(m, 0, s.st()), vekStatusBadArgErr);
        std::memcpy(&word, s.mem.data(), 4);
        EXPECT_EQ(word, 2) << "a refused init writes nothing";
    }

    const Bytes src = vek::testdata::text_bytes(100, 1);
    Bytes dst(200);
    uint32_t n = 200;
    EXPECT_EQ(veksEncodeLZO_8u(src.data(), 100, dst.data(), &n, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZO_8u(nullptr, 100, dst.data(), &n, s.st()), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZO_8u(src.data(), 100, nullptr, &n, s.st()), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZO_8u(src.data(), 100, dst.data(), nullptr, s.st()), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZO_8u(nullptr, 0, dst.data(), &n, s.st()), vekStatusNullPtrErr);
    // srcLen 0 is checked before the method word and writes no end marker.
    const int32_t bad = 5;
    std::memcpy(s.mem.data(), &bad, 4);
    dst[0] = 0xAB;
    EXPECT_EQ(veksEncodeLZO_8u(src.data(), 0, dst.data(), &n, s.st()), vekStatusOk);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(dst[0], 0xAB);
    n = 200;
    EXPECT_EQ(veksEncodeLZO_8u(src.data(), 100, dst.data(), &n, s.st()), vekStatusBadArgErr);
    EXPECT_EQ(n, 200u);
    EXPECT_EQ(dst[0], 0xAB);
}

TEST(LzoEncode, HandDerivedStreams) {
    // 13 bytes: one literal run of 13 + 17 = 30, the bytes, the end marker.
    const Bytes thirteen = vek::testdata::text_bytes(13, 3);
    Bytes want13 = {30};
    want13.insert(want13.end(), thirteen.begin(), thirteen.end());
    want13.insert(want13.end(), {0x11, 0, 0});
    for (int32_t m : {0, 1, 2}) EXPECT_EQ(encode(thirteen, m), want13) << m;

    // 100 zero bytes, zeroed dictionary: 5 literals (position 4 finds the
    // empty entry, 5 finds 4), length 82 at distance 1, 13 literals.
    Bytes want = {0x02, 0, 0, 0, 0, 0, 0x20, 0x31, 0x00, 0x00, 0x0A};
    want.insert(want.end(), 13, 0);
    want.insert(want.end(), {0x11, 0, 0});
    EXPECT_EQ(encode(Bytes(100, 0), 0), want);
    EXPECT_EQ(encode(Bytes(100, 0), 1), want);

    // Method 2 on the same input: the first probe is at 5, whose candidate is
    // the piece start (distance 5), and the match runs to the piece end: 5
    // literals, then length 95 (0x20 and the zero run of 95 - 33 = 62) with
    // the word (5 - 1) << 2, no final literals.
    const Bytes want2 = {0x02, 0, 0, 0, 0, 0, 0x20, 0x3E, 0x10, 0x00, 0x11, 0, 0};
    EXPECT_EQ(encode(Bytes(100, 0), 2), want2);
    // A token that does not fit: method 0 leaves *pDstLen at the capacity,
    // method 2 reports the bytes written (none); a tail that does not fit:
    // both report the stream up to the last match (10 bytes).
    for (int32_t m : {0, 2}) {
        for (uint32_t cap : {5u, 9u, 10u, 12u}) {
            State s(m);
            std::fill(s.dict(), s.dict() + 32768, 0u);
            const Bytes src(100, 0);
            Bytes dst(cap + 1, 0x5A);
            uint32_t n = cap;
            EXPECT_EQ(veksEncodeLZO_8u(src.data(), 100, dst.data(), &n, s.st()),
                      vekStatusDstTooSmall);
            EXPECT_EQ(n, cap < 10 ? (m == 0 ? cap : 0u) : 10u) << m << " " << cap;
            EXPECT_EQ(dst[cap], 0x5A);
        }
    }

    // Long literal-only streams: L + 17 up to 238, then 0x00 and the
    // zero-run of L - 18.
    for (size_t L : {1u, 3u, 238u, 239u, 273u, 274u, 528u, 529u}) {
        const Bytes r = vek::testdata::random_bytes(L, uint32_t(L));
        Bytes w;
        if (L <= 238) {
            w.push_back(uint8_t(L + 17));
        } else {
            w.push_back(0);
            for (size_t v = L - 18;; v -= 255) {
                if (v <= 255) {
                    w.push_back(uint8_t(v));
                    break;
                }
                w.push_back(0);
            }
        }
        w.insert(w.end(), r.begin(), r.end());
        w.insert(w.end(), {0x11, 0, 0});
        EXPECT_EQ(encode(r, 0), w) << L;
        EXPECT_EQ(encode(r, 2), w) << L;
    }
}

TEST(LzoEncode, StreamsEqualTheMatcherModels) {
    State s0(0), s1(1), s2(2);
    std::fill(s0.dict(), s0.dict() + 32768, 0u);
    std::fill(s1.dict(), s1.dict() + 32768, 0u);
    std::vector<uint32_t> dict(32768, 0);
    for (const Bytes& src : corpus()) {
        // The single-probe dictionary carries over from call to call.
        const Bytes m0 = vek::testref::lzo_model_method0(src, dict);
        EXPECT_EQ(encode(src, s0), m0) << src.size();
        EXPECT_EQ(encode(src, s1), m0) << src.size();
        EXPECT_EQ(encode(src, s2), vek::testref::lzo_model_method2(src)) << src.size();
    }
}

TEST(LzoEncode, MethodTwoSkipsAndRestartsPieces) {
    // Random data with a planted repeat far into the piece: found only if
    // the accelerating skip happens to land on it, so compare with the model
    // over many seeds; also text after random (the busy-piece rule).
    for (uint32_t seed = 0; seed < 20; ++seed) {
        Bytes src = vek::testdata::random_bytes(49152 * 2 + 5000, seed);
        const Bytes text = vek::testdata::text_bytes(60000, seed);
        src.insert(src.end(), text.begin(), text.end());
        std::copy(src.begin() + 100, src.begin() + 400, src.begin() + 30000 + seed * 97);
        EXPECT_EQ(encode(src, 2), vek::testref::lzo_model_method2(src)) << seed;
    }
}

TEST(LzoEncode, EveryCapacityNearTheStreamLength) {
    for (int32_t method : {0, 2}) {
        for (const Bytes& src :
             {vek::testdata::text_bytes(20000, 21), vek::testdata::random_bytes(3000, 22),
              vek::testdata::runs_bytes(70000, 23), Bytes(50, 'q')}) {
            const Bytes full = encode(src, method);
            const uint32_t len = uint32_t(full.size());
            std::vector<uint32_t> caps;
            for (uint32_t c = len > 40 ? len - 40 : 0; c <= len + 40; ++c) caps.push_back(c);
            for (uint32_t c = 0; c < len; c += 1 + len / 50) caps.push_back(c);
            caps.push_back(uint32_t(src.size() + 16 + src.size() / 128));  // the unchecked bound
            State s(method);
            for (uint32_t cap : caps) {
                std::fill(s.dict(), s.dict() + 32768, 0u);
                Bytes dst(cap + 8, 0x5A);
                uint32_t n = cap;
                const vekStatus st =
                    veksEncodeLZO_8u(src.data(), uint32_t(src.size()), dst.data(), &n, s.st());
                for (size_t k = cap; k < dst.size(); ++k) ASSERT_EQ(dst[k], 0x5A) << cap;
                if (cap >= len) {
                    ASSERT_EQ(st, vekStatusOk) << cap;
                    ASSERT_EQ(n, len);
                    ASSERT_TRUE(std::equal(full.begin(), full.end(), dst.begin())) << cap;
                } else {
                    ASSERT_EQ(st, vekStatusDstTooSmall) << method << " cap " << cap;
                    ASSERT_LE(n, cap);
                    // What was written is the stream's start, up to the
                    // trailing-literal bits of the last match.
                    if (n < cap || method == 2) {
                        const size_t cmp = n >= 2 ? n - 2 : 0;
                        ASSERT_TRUE(std::equal(dst.begin(), dst.begin() + cmp, full.begin()))
                            << cap;
                    }
                }
            }
        }
    }
}

TEST(LzoDecode, ArgumentChecksAndShortcuts) {
    const Bytes stream = {0x11, 0, 0};
    Bytes out(10, 0x77);
    uint32_t n = 10;
    for (bool safe : {true, false}) {
        auto dec = safe ? veksDecodeLZOSafe_8u : veksDecodeLZO_8u;
        EXPECT_EQ(dec(nullptr, 3, out.data(), &n), vekStatusNullPtrErr);
        EXPECT_EQ(dec(stream.data(), 3, nullptr, &n), vekStatusNullPtrErr);
        EXPECT_EQ(dec(stream.data(), 3, out.data(), nullptr), vekStatusNullPtrErr);
        EXPECT_EQ(n, 10u);
        // Garbage with srcLen 0, and the end marker alone, decode to nothing.
        const uint8_t garbage[4] = {0xFF, 0x00, 0x13, 0x99};
        EXPECT_EQ(dec(garbage, 0, out.data(), &n), vekStatusOk);
        EXPECT_EQ(n, 0u);
        n = 0;
        EXPECT_EQ(dec(stream.data(), 3, out.data(), &n), vekStatusOk);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(out[0], 0x77);
        n = 10;
    }
}

TEST(LzoDecode, RoundTripsThroughBothDecoders) {
    for (int32_t method : {0, 2}) {
        for (const Bytes& src : corpus()) {
            const Bytes z = encode(src, method);
            EXPECT_EQ(decode(z, src.size(), true), src) << method << " " << src.size();
            EXPECT_EQ(decode(z, src.size(), false), src) << method << " " << src.size();
            // Capacity one short: the validating decoder refuses.
            decode(z, src.size() - 1, true, vekStatusCorruptStreamErr);
        }
    }
}

// Streams written by hand: every token form, including those our encoder
// never writes (three-byte and two-byte matches, a first run of 1..3).
TEST(LzoDecode, HandWrittenTokens) {
    struct Case {
        Bytes stream;
        Bytes want;
    };
    Bytes sixty_a(61, 'a');
    const std::vector<Case> cases = {
        // 'a', then length 60 at distance 1: 0x20, zero run of 60 - 33, word 0.
        {{18, 'a', 0x20, 27, 0, 0, 0x11, 0, 0}, sixty_a},
        // First run of 2 ("xy") then a two-byte match (length 2, distance 2),
        // its low bits giving one trailing literal 'z'.
        {{19, 'x', 'y', 0x05, 0x00, 'z', 0x11, 0, 0}, {'x', 'y', 'x', 'y', 'z'}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode(c.stream, c.want.size(), true), c.want);
        EXPECT_EQ(decode(c.stream, c.want.size(), false), c.want);
        EXPECT_EQ(lzo_model_decode(c.stream.data(), c.stream.size(), c.want.size()).out, c.want);
    }
    // Three-byte match right after a literal run: 2100 literals (0x00, zero
    // run of 2082 = 8 * 255 + 42), then t = 4, n = 0: distance 2049 + 1.
    Bytes lits = vek::testdata::random_bytes(2100, 31);
    Bytes s(9, 0);  // t = 0 and eight 0x00 of the zero run
    s.push_back(42);
    s.insert(s.end(), lits.begin(), lits.end());
    s.insert(s.end(), {0x04, 0x00, 0x11, 0, 0});
    Bytes want = lits;
    for (int k = 0; k < 3; ++k) want.push_back(want[want.size() - 2050]);
    EXPECT_EQ(decode(s, want.size(), true), want);
    EXPECT_EQ(decode(s, want.size(), false), want);
    // A first byte of 0x55 whose third byte is not 0x55 ^ N: a plain
    // 68-byte literal run.
    Bytes plain = {0x55};
    const Bytes r = vek::testdata::random_bytes(68, 32);
    plain.insert(plain.end(), r.begin(), r.end());
    plain[2] = uint8_t(plain[1] ^ 0x55 ^ 1);
    plain.insert(plain.end(), {0x11, 0, 0});
    EXPECT_EQ(decode(plain, 68, true), Bytes(plain.begin() + 1, plain.begin() + 69));
    // Input used up right after a token: fine; inside one: refused.
    EXPECT_EQ(decode({18, 'a', 0x20, 27, 0, 0}, 61, true), sixty_a);
    decode({18, 'a', 0x20, 27, 0}, 61, true, vekStatusCorruptStreamErr);
    decode({18, 'a', 0x20, 0, 0, 0}, 400, true, vekStatusCorruptStreamErr);  // inside the zero run
    // A first match reaching before the output start.
    decode({18, 'a', 0x20 | 3, 4, 0, 0x11, 0, 0}, 100, true, vekStatusCorruptStreamErr);
    decode({0x40, 0x00, 0x11, 0, 0}, 100, true, vekStatusCorruptStreamErr);
}

// Zero-run extensions long enough that a length passes 2^32: 16843009 zero
// bytes count 255 * 16843009 = 2^32 - 1, so with a final byte of 1 each
// length is 2^32 plus its form's base (and one), far beyond input and
// capacity; a 32-bit sum would wrap to a small length that fits both.
TEST(LzoDecode, LengthExtensionsBeyond32Bits) {
    auto cat = [](Bytes s, const Bytes& more) {
        s.insert(s.end(), more.begin(), more.end());
        return s;
    };
    auto extension = [] {
        Bytes e(16843009, 0);
        e.push_back(1);
        return e;
    };
    const Bytes marker = {0x11, 0, 0};
    // A literal run of 2^32 + 18 (t = 0) followed by 18 bytes.
    const Bytes lit = cat(cat(cat({0}, extension()), Bytes(18, 'x')), marker);
    // 'a', then a near match (t = 32) of 2^32 + 33 at distance 1.
    const Bytes near = cat(cat(cat({18, 'a', 0x20}, extension()), {0, 0}), marker);
    // 16400 literals (t = 0, 64 zeros, 62: 18 + 64 * 255 + 62), then a far
    // match (t = 16) of 2^32 + 9 at distance 16385.
    Bytes head(65, 0);
    head.push_back(62);
    head = cat(cat(head, vek::testdata::random_bytes(16400, 33)), {0x10});
    const Bytes far = cat(cat(cat(head, extension()), {4, 0}), marker);
    for (const Bytes* stream : {&lit, &near, &far})
        decode(*stream, 20000, true, vekStatusCorruptStreamErr);
    // Without the zero bytes the far match has length 9 + 1, which the
    // prefix supports: only the extension's length is at fault above.
    Bytes ok = head;
    ok.insert(ok.end(), {1, 4, 0});
    ok = cat(ok, marker);
    EXPECT_EQ(decode(ok, 16410, true).size(), 16410u);
}

// Every prefix and random damage of valid streams: status and bytes equal
// the grammar model; exact-size buffers with guards catch stray accesses.
TEST(LzoDecode, CutAndDamagedStreamsMatchTheModel) {
    std::mt19937 rng(77);
    const std::vector<Bytes> srcs = {vek::testdata::text_bytes(3000, 41),
                                     vek::testdata::runs_bytes(4000, 42),
                                     vek::testdata::random_bytes(300, 43), Bytes(700, 0)};
    for (const Bytes& src : srcs) {
        for (int32_t method : {0, 2}) {
            const Bytes z = encode(src, method);
            auto check = [&](const Bytes& in, size_t cap) {
                const auto want = lzo_model_decode(in.data(), in.size(), cap);
                Bytes heap_in(in);  // exact size
                Bytes out(cap + 8, 0xE1);
                uint32_t n = uint32_t(cap);
                const vekStatus st =
                    veksDecodeLZOSafe_8u(heap_in.data(), uint32_t(heap_in.size()), out.data(), &n);
                // A damaged stream may turn into a container or the bare end
                // marker; those have their own tests.
                if (in.size() >= 3 &&
                    (in[0] == 0x55 || (in[0] == 0x11 && in[1] == 0 && in[2] == 0)))
                    return;
                ASSERT_EQ(st, want.status) << in.size();
                for (size_t k = cap; k < out.size(); ++k) ASSERT_EQ(out[k], 0xE1);
                if (st == vekStatusOk) {
                    ASSERT_EQ(n, want.out.size());
                    ASSERT_TRUE(std::equal(want.out.begin(), want.out.end(), out.begin()));
                } else {
                    ASSERT_EQ(n, uint32_t(cap)) << "an error leaves *pDstLen alone";
                }
            };
            for (size_t len = 1; len <= z.size(); ++len)
                check(Bytes(z.begin(), z.begin() + len), src.size());
            for (int k = 0; k < kMutations; ++k) {
                Bytes m = z;
                const int flips = 1 + int(rng() % 4);
                for (int f = 0; f < flips; ++f) m[rng() % m.size()] = uint8_t(rng());
                check(m, src.size() - (rng() % 3 == 0 ? rng() % 50 : 0));
            }
        }
    }
}

// Chunked container of N streams: header, sizes of chunks 0..N-2, chunks.
Bytes container(const Bytes& src, uint32_t chunks, int32_t method) {
    const uint32_t T = uint32_t(src.size());
    Bytes c = {0x55,
               uint8_t(chunks),
               uint8_t(chunks ^ 0x55),
               uint8_t(T),
               uint8_t(T >> 8),
               uint8_t(T >> 16),
               uint8_t(T >> 24)};
    std::vector<Bytes> parts;
    for (uint32_t i = 0; i < chunks; ++i) {
        const size_t at = size_t(i) * (T / chunks);
        const size_t len = T / chunks + (i + 1 == chunks ? T % chunks : 0);
        Bytes piece(src.begin() + at, src.begin() + at + len);
        parts.push_back(len ? encode(piece, method) : Bytes{0x11, 0, 0});
        if (i + 1 < chunks)
            for (int b = 0; b < 4; ++b) c.push_back(uint8_t(parts.back().size() >> (8 * b)));
    }
    for (const Bytes& p : parts) c.insert(c.end(), p.begin(), p.end());
    return c;
}

TEST(LzoDecode, Containers) {
    const Bytes src = vek::testdata::text_bytes(40000, 51);
    for (uint32_t n = 2; n <= 32; ++n) {
        const Bytes c = container(src, n, n % 2 ? 0 : 2);
        EXPECT_EQ(decode(c, src.size(), true), src) << n;
        EXPECT_EQ(decode(c, src.size(), false), src) << n;
    }
    // N = 3, T = 10: chunks of 3, 3 and 4 bytes.
    const Bytes ten = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const Bytes c3 = container(ten, 3, 0);
    EXPECT_EQ(c3.size(), 7u + 8u + 7 + 7 + 8);  // header, two sizes, 1+3+3, 1+3+3, 1+4+3
    EXPECT_EQ(decode(c3, 10, true), ten);

    // N = 1 has no size list: the first word of the stream stands in for the
    // size of chunk 0, which then seldom ends in an end marker. Such input
    // is decoded as a plain stream (a 68-byte literal run first).
    const Bytes one = container(src, 1, 0);
    const auto plain = lzo_model_decode(one.data(), one.size(), src.size());
    const Bytes got = decode(one, src.size(), true, plain.status);
    if (plain.status == vekStatusOk) {
        EXPECT_EQ(got, plain.out);
    }

    // A damaged chunk fails the call but the others are still decoded;
    // *pDstLen stays.
    Bytes bad = container(src, 4, 2);
    const size_t chunk1 = 3 + 16 + (bad[7] | bad[8] << 8 | bad[9] << 16);
    bad[chunk1 + 1] ^= 0x40;
    bad[chunk1 + 2] = 0xFF;
    Bytes out(src.size(), 0);
    uint32_t n = uint32_t(src.size());
    EXPECT_EQ(veksDecodeLZOSafe_8u(bad.data(), uint32_t(bad.size()), out.data(), &n),
              vekStatusCorruptStreamErr);
    EXPECT_EQ(n, src.size());
    const size_t q = src.size() / 4;
    EXPECT_TRUE(std::equal(out.begin() + 3 * q, out.end(), src.begin() + 3 * q))
        << "last chunk decoded";
    // A total beyond the capacity: chunks that do not fit fail.
    Bytes small(src.size() / 2);
    n = uint32_t(small.size());
    EXPECT_EQ(veksDecodeLZOSafe_8u(bad.data(), uint32_t(bad.size()), small.data(), &n),
              vekStatusCorruptStreamErr);
    // Listed sizes past the input.
    Bytes cut = container(src, 3, 0);
    cut[8] = 0xFF;
    cut[9] = 0xFF;
    cut[10] = 0x7F;
    n = uint32_t(src.size());
    EXPECT_EQ(veksDecodeLZOSafe_8u(cut.data(), uint32_t(cut.size()), out.data(), &n),
              vekStatusCorruptStreamErr);
}

// Inputs that start like a container but fail one header test are one
// plain stream: 0x55 is then a first run of 68 literals (bytes 1..68),
// followed here by the end marker. Each input passes every other test.
TEST(LzoDecode, ContainerLookalikesArePlainStreams) {
    auto lookalike = [](uint8_t n, uint8_t check, uint32_t s0, size_t marker) {
        Bytes b(1 + 68, 'L');
        b[0] = 0x55, b[1] = n, b[2] = check;
        for (int k = 0; k < 4; ++k) b[7 + k] = uint8_t(s0 >> (8 * k));
        b[marker] = 0x11, b[marker + 1] = 0, b[marker + 2] = 0;
        b.insert(b.end(), {0x11, 0, 0});
        return b;
    };
    const Bytes cases[] = {
        lookalike(2, 0x00, 4, 12),        // N XOR 0x55 wrong (0x57 expected)
        lookalike(0, 0x55, 12, 12),       // N = 0
        lookalike(33, 33 ^ 0x55, 4, 12),  // N = 33
        lookalike(2, 0x57, 4, 13),        // chunk 0 does not end in an end marker
        lookalike(2, 0x57, 66, 12),       // chunk 0 would end past the input
    };
    for (const Bytes& in : cases) {
        const Bytes want(in.begin() + 1, in.begin() + 69);
        for (bool safe : {true, false}) EXPECT_EQ(decode(in, 68, safe), want) << int(in[1]);
    }
}

}  // namespace
