// Burrows-Wheeler transform: every sorting method against a plain model (all
// rotations sorted), sizes, argument checks, the work limit, worst cases, inverse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "bwt/bwt_sort.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

using vek::testdata::kSanitized;

constexpr int kFwd = -1;  // veksBWTFwd_8u instead of a hint
constexpr int kAllMethods[] = {kFwd, vekBWTSortLimited, vekBWTSortUnlimited, vekBWTSortSuffix,
                               vekBWTSortAuto};
constexpr uint8_t kGuard = 0xA7;
constexpr size_t kGuardBytes = 64;

struct Result {
    vekStatus status = vekStatusErr;
    Bytes last;
    int32_t index = -1;
};

// Runs one forward transform with an exact-size work buffer and an exact
// destination, both followed by guard bytes that must survive.
Result forward(const Bytes& s, int method) {
    const int32_t n = int32_t(s.size());
    size_t size = 0;
    if (method == kFwd) {
        int32_t sz = 0;
        EXPECT_EQ(veksBWTFwdGetSize_8u(n, &sz), vekStatusOk);
        size = size_t(sz);
    } else {
        uint32_t sz = 0;
        EXPECT_EQ(veksBWTFwdGetBufSize_SelectSort_8u(uint32_t(n), &sz, method), vekStatusOk);
        size = sz;
    }
    Bytes buf(size + kGuardBytes, kGuard), dst(s.size() + kGuardBytes, kGuard);
    Result r;
    if (method == kFwd) {
        r.status = veksBWTFwd_8u(s.data(), dst.data(), n, &r.index, buf.data());
    } else {
        uint32_t idx = 0xFFFFFFFFu;
        r.status =
            veksBWTFwd_SelectSort_8u(s.data(), dst.data(), uint32_t(n), &idx, buf.data(), method);
        r.index = int32_t(idx);
    }
    for (size_t i = 0; i < kGuardBytes; ++i) {
        EXPECT_EQ(buf[size + i], kGuard) << "work buffer overrun";
        EXPECT_EQ(dst[s.size() + i], kGuard) << "destination overrun";
    }
    r.last.assign(dst.begin(), dst.begin() + n);
    return r;
}

Bytes inverse(const Bytes& last, int32_t index) {
    const int32_t n = int32_t(last.size());
    int32_t size = 0;
    EXPECT_EQ(veksBWTInvGetSize_8u(n, &size), vekStatusOk);
    Bytes buf(size_t(size) + kGuardBytes, kGuard), dst(last.size() + kGuardBytes, kGuard);
    // An odd buffer address: the work buffer needs no alignment.
    EXPECT_EQ(veksBWTInv_8u(last.data(), dst.data(), n, index, buf.data() + 1), vekStatusOk);
    for (size_t i = 1; i < kGuardBytes; ++i) EXPECT_EQ(buf[size_t(size) + i], kGuard);
    for (size_t i = 0; i < kGuardBytes; ++i) EXPECT_EQ(dst[last.size() + i], kGuard);
    dst.resize(last.size());
    return dst;
}

// Model: every rotation, sorted by plain comparison.
struct Model {
    Bytes last;
    std::vector<bool> primary_ok;  // rows whose rotation equals rotation 0
};

Model model(const Bytes& s) {
    const size_t n = s.size();
    Bytes t(s);
    t.insert(t.end(), s.begin(), s.end());
    std::vector<size_t> rot(n);
    std::iota(rot.begin(), rot.end(), 0);
    std::stable_sort(rot.begin(), rot.end(),
                     [&](size_t a, size_t b) { return std::memcmp(&t[a], &t[b], n) < 0; });
    Model m;
    for (size_t k = 0; k < n; ++k) {
        m.last.push_back(t[rot[k] + n - 1]);
        m.primary_ok.push_back(std::memcmp(&t[rot[k]], &t[0], n) == 0);
    }
    return m;
}

void expect_model(const Bytes& s, int method, const std::string& what) {
    const Model m = model(s);
    const Result r = forward(s, method);
    ASSERT_EQ(r.status, vekStatusOk) << what << " method " << method;
    ASSERT_EQ(r.last, m.last) << what << " method " << method;
    ASSERT_TRUE(r.index >= 0 && size_t(r.index) < s.size() && m.primary_ok[size_t(r.index)])
        << what << " method " << method << " index " << r.index;
}

// Independent check for blocks too large for the model: the column is a
// permutation of the block, it inverts to the block, and the rotation
// order it implies (rebuilt here from the successor rows) is ascending at
// sampled rows, compared directly on the doubled block.
void expect_valid(const Bytes& s, const Result& r, const std::string& what) {
    const size_t n = s.size();
    ASSERT_EQ(r.status, vekStatusOk) << what;
    ASSERT_EQ(r.last.size(), n);
    ASSERT_TRUE(r.index >= 0 && size_t(r.index) < n) << what;
    std::vector<size_t> count(256);
    for (uint8_t b : s) ++count[b];
    for (uint8_t b : r.last) --count[b];
    ASSERT_TRUE(std::all_of(count.begin(), count.end(), [](size_t c) { return c == 0; })) << what;
    ASSERT_TRUE(inverse(r.last, r.index) == s) << what;

    std::vector<size_t> first(256);
    for (size_t c = 0, sum = 0; c < 256; ++c) {
        first[c] = sum;
        sum += std::count(r.last.begin(), r.last.end(), uint8_t(c));
    }
    std::vector<uint32_t> succ(n), start(n);
    for (size_t i = 0; i < n; ++i) succ[first[r.last[i]]++] = uint32_t(i);
    // (A block made of repeats of a shorter unit closes this walk early;
    // expect_periodic covers those.)
    size_t p = size_t(r.index);
    for (size_t k = 0; k < n; ++k) {
        ASSERT_TRUE(k == 0 || p != size_t(r.index)) << what << ": periodic block";
        start[p] = uint32_t(k);
        p = succ[p];
    }
    Bytes t(s);
    t.insert(t.end(), s.begin(), s.end());
    const size_t stride = std::max<size_t>(1, n / 4000);
    for (size_t k = 0; k + 1 < n; k += stride)
        ASSERT_LE(std::memcmp(&t[start[k]], &t[start[k + 1]], n), 0) << what << " row " << k;
}

// A block of `copies` repeats of a primitive unit: its rotations are those
// of the unit, each `copies` times, so the column is the unit's column with
// every byte repeated and the primary index lies in the unit's row block.
void expect_periodic(const std::string& unit, size_t copies, const Result& r,
                     const std::string& what) {
    ASSERT_EQ(r.status, vekStatusOk) << what;
    const Model m = model(Bytes(unit.begin(), unit.end()));
    Bytes want;
    for (uint8_t b : m.last) want.insert(want.end(), copies, b);
    ASSERT_EQ(r.last, want) << what;
    const size_t row =
        size_t(std::find(m.primary_ok.begin(), m.primary_ok.end(), true) - m.primary_ok.begin());
    EXPECT_GE(size_t(r.index), row * copies) << what;
    EXPECT_LT(size_t(r.index), (row + 1) * copies) << what;
}

Bytes small_alphabet(size_t n, uint32_t seed, int symbols) {
    Bytes v = vek::testdata::random_bytes(n, seed);
    for (auto& b : v) b = uint8_t('a' + b % symbols);
    return v;
}

Bytes periodic(const std::string& unit, size_t copies) {
    Bytes v;
    for (size_t i = 0; i < copies; ++i) v.insert(v.end(), unit.begin(), unit.end());
    return v;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes fibonacci(size_t n) {
    std::string a = "a", b = "ab";
    while (b.size() < n) {
        std::string c = b + a;
        a = std::move(b);
        b = std::move(c);
    }
    return Bytes(b.begin(), b.begin() + long(n));
}

TEST(BwtSizes, Formulas) {
    int32_t s = 0;
    EXPECT_EQ(veksBWTFwdGetSize_8u(1, &s), vekStatusOk);
    EXPECT_EQ(s, 524490);
    EXPECT_EQ(veksBWTFwdGetSize_8u(43700, &s), vekStatusOk);
    EXPECT_EQ(s, 6 * 43700 + 524484);
    EXPECT_EQ(veksBWTFwdGetSize_8u(43701, &s), vekStatusOk);
    EXPECT_EQ(s, 18 * 43701 + 80);
    EXPECT_EQ(veksBWTFwdGetSize_8u(900000, &s), vekStatusOk);
    EXPECT_EQ(s, 18 * 900000 + 80);

    for (uint32_t len : {1u, 99u, 43700u, 43701u, 1000000u}) {
        const uint32_t two = 6 * len + 524484, dbl = 18 * len + 80;
        const uint32_t want[4] = {two, two, dbl, std::max(two, dbl)};
        for (int hint = 0; hint < 4; ++hint) {
            uint32_t u = 0;
            EXPECT_EQ(veksBWTFwdGetBufSize_SelectSort_8u(len, &u, hint), vekStatusOk);
            EXPECT_EQ(u, want[hint]) << len << " hint " << hint;
        }
    }
    // The terms are compared as signed 32-bit numbers: once 18n + 80 wraps
    // negative the two-stage term wins.
    uint32_t u = 0;
    EXPECT_EQ(veksBWTFwdGetBufSize_SelectSort_8u(200000000u, &u, vekBWTSortAuto), vekStatusOk);
    EXPECT_EQ(u, 6u * 200000000u + 524484u);
    // An unknown hint leaves the size as it was.
    for (int hint : {4, -1, 100}) {
        u = 12345;
        EXPECT_EQ(veksBWTFwdGetBufSize_SelectSort_8u(10, &u, hint), vekStatusOk);
        EXPECT_EQ(u, 12345u);
    }
    EXPECT_EQ(veksBWTInvGetSize_8u(1, &s), vekStatusOk);
    EXPECT_EQ(s, 1028);
    EXPECT_EQ(veksBWTInvGetSize_8u(900000, &s), vekStatusOk);
    EXPECT_EQ(s, 3601024);
}

TEST(BwtSizes, ArgumentChecks) {
    int32_t s = 77;
    uint32_t u = 77;
    EXPECT_EQ(veksBWTFwdGetSize_8u(0, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwdGetSize_8u(0, &s), vekStatusSizeErr);
    EXPECT_EQ(veksBWTFwdGetSize_8u(-5, &s), vekStatusSizeErr);
    EXPECT_EQ(veksBWTFwdGetBufSize_SelectSort_8u(0, nullptr, 9), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwdGetBufSize_SelectSort_8u(0, &u, 9), vekStatusSizeErr);
    EXPECT_EQ(veksBWTInvGetSize_8u(0, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTInvGetSize_8u(0, &s), vekStatusSizeErr);
    EXPECT_EQ(s, 77);
    EXPECT_EQ(u, 77u);
}

TEST(BwtForward, ArgumentChecks) {
    uint8_t src[4] = {1, 2, 3, 4}, dst[4] = {9, 9, 9, 9};
    std::vector<uint8_t> buf(600000);
    int32_t idx = 55;
    uint32_t uidx = 55;
    EXPECT_EQ(veksBWTFwd_8u(nullptr, dst, 0, &idx, buf.data()), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwd_8u(src, nullptr, 4, &idx, buf.data()), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwd_8u(src, dst, 4, nullptr, buf.data()), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwd_8u(src, dst, 4, &idx, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwd_8u(src, dst, 0, &idx, buf.data()), vekStatusSizeErr);
    EXPECT_EQ(veksBWTFwd_8u(src, dst, -1, &idx, buf.data()), vekStatusSizeErr);
    EXPECT_EQ(veksBWTFwd_SelectSort_8u(nullptr, dst, 0, &uidx, buf.data(), 9), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwd_SelectSort_8u(src, nullptr, 4, &uidx, buf.data(), 0), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwd_SelectSort_8u(src, dst, 4, nullptr, buf.data(), 0), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwd_SelectSort_8u(src, dst, 4, &uidx, nullptr, 0), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTFwd_SelectSort_8u(src, dst, 0, &uidx, buf.data(), 9), vekStatusSizeErr);
    EXPECT_EQ(idx, 55);
    EXPECT_EQ(uidx, 55u);
    EXPECT_EQ(std::count(dst, dst + 4, 9), 4);

    // Unknown hints write nothing from 100 bytes on; shorter blocks take
    // the short path whatever the hint.
    Bytes big = vek::testdata::text_bytes(100, 3), out(100, 0xEE);
    EXPECT_EQ(veksBWTFwd_SelectSort_8u(big.data(), out.data(), 100, &uidx, buf.data(), 4),
              vekStatusOk);
    EXPECT_EQ(uidx, 55u);
    EXPECT_EQ(out, Bytes(100, 0xEE));
    const Bytes small = {'b', 'a', 'n', 'a', 'n', 'a'};
    EXPECT_EQ(veksBWTFwd_SelectSort_8u(small.data(), out.data(), 6, &uidx, buf.data(), 4),
              vekStatusOk);
    EXPECT_EQ(uidx, 3u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "nnbaaa");
}

TEST(BwtForward, HandDerived) {
    // Rotations of "banana": abanan, anaban, ananab, banana, nabana, nanaba.
    for (int m : kAllMethods) {
        const Result r = forward({'b', 'a', 'n', 'a', 'n', 'a'}, m);
        EXPECT_EQ(std::string(r.last.begin(), r.last.end()), "nnbaaa");
        EXPECT_EQ(r.index, 3);
        const Result one = forward({0x5C}, m);
        EXPECT_EQ(one.last, Bytes{0x5C});
        EXPECT_EQ(one.index, 0);
    }
}

TEST(BwtForward, EveryLengthUpTo300MatchesModel) {
    // Debug sanitizer builds take every third length.
    for (size_t n = 1; n <= 300; n += kSanitized ? 3 : 1) {
        Bytes runs = small_alphabet(n, uint32_t(n) + 3000, 3);  // runs of 1 to 24 bytes
        const Bytes lengths = vek::testdata::random_bytes(n, uint32_t(n) + 4000);
        for (size_t i = 0, len = 0; i < n; ++i, --len) {
            if (len == 0)
                len = 1 + lengths[i] % 24;
            else
                runs[i] = runs[i - 1];
        }
        const Bytes blocks[] = {vek::testdata::random_bytes(n, uint32_t(n)),
                                small_alphabet(n, uint32_t(n) + 1000, 2),
                                small_alphabet(n, uint32_t(n) + 2000, 3), runs};
        for (const Bytes& s : blocks)
            for (int m : kAllMethods) expect_model(s, m, "length " + std::to_string(n));
    }
}

TEST(BwtForward, ShortPathBoundary) {
    for (size_t n : {99, 100}) {
        for (const Bytes& s : {vek::testdata::text_bytes(n, 7), small_alphabet(n, 8, 2),
                               periodic("xyz", n / 3), Bytes(n, 'q')})
            for (int m : kAllMethods) expect_model(s, m, "boundary " + std::to_string(n));
    }
    // The short path sorts without a limit; from 100 bytes on the limited
    // sort meets the periodic block's fully equal rotations and gives up.
    for (int m : kAllMethods) {
        expect_model(periodic("xy", 49) + Bytes{'x'}, m, "99");
        if (m != vekBWTSortLimited) expect_model(periodic("xy", 50), m, "100");
    }
    EXPECT_EQ(forward(periodic("xy", 50), vekBWTSortLimited).status, vekStatusSortLimitReached);
}

TEST(BwtForward, OneRepeatedByte) {
    for (size_t n : {1, 2, 99, 100, 101, 5000, 100000}) {
        const Bytes s(n, 0xF0);
        for (int m : kAllMethods) {
            const Result r = forward(s, m);
            EXPECT_EQ(r.status, vekStatusOk);
            EXPECT_EQ(r.last, s);
            EXPECT_EQ(r.index, 0) << n << " method " << m;
        }
    }
}

TEST(BwtForward, PeriodicBlockExhaustsTheLimit) {
    const Bytes s = periodic("ab", 500);
    for (int method : {kFwd, int(vekBWTSortUnlimited), int(vekBWTSortSuffix), int(vekBWTSortAuto)})
        expect_model(s, method, "ab x 500");
    EXPECT_EQ(forward(s, vekBWTSortLimited).status, vekStatusSortLimitReached);
    // Other periods, some of whose rotations differ.
    for (const char* unit : {"abc", "abacaba", "zzzy", "mississippi"})
        for (int method : kAllMethods) {
            const Bytes p = periodic(unit, 1200 / std::strlen(unit));
            const Result r = forward(p, method);
            if (method == vekBWTSortLimited && r.status == vekStatusSortLimitReached) continue;
            expect_model(p, method, unit);
        }
}

// Source-code-like block: indented lines from a few templates with small
// numbers, so that many rotations share prefixes of tens of bytes and the
// runs left after the first 18 bytes are long.
Bytes source_like(size_t n, uint32_t seed) {
    static const char* const kLines[] = {
        "    if (count_of_items[%u] > limit) {\n",
        "        result_buffer[%u] = value_table[%u];\n",
        "    }\n",
        "    for (int index = 0; index < %u; ++index)\n",
        "        total += weights[index] * %u;\n",
        "static int helper_function_%u(const struct context *ctx);\n",
    };
    const Bytes r = vek::testdata::random_bytes(n, seed);
    Bytes out;
    char line[96];
    for (size_t i = 0; out.size() < n; i += 3) {
        const unsigned v = r[i % n] * 7u + r[(i + 1) % n] % 7, w = r[(i + 1) % n];
        const int len = std::snprintf(line, sizeof line, kLines[r[(i + 2) % n] % 6], v, w);
        out.insert(out.end(), line, line + len);
    }
    out.resize(n);
    return out;
}

// Every method gives the same column and index on large non-periodic blocks.
TEST(BwtForward, LargeBlocksEveryMethod) {
    struct Case {
        const char* name;
        Bytes data;
    };
    Bytes binary = vek::testdata::random_bytes(kSanitized ? 25000 : 600000, 5);
    for (size_t i = 0; i < binary.size(); ++i)  // structured: small deltas, zero runs
        binary[i] = (i % 64 < 20) ? 0 : uint8_t((binary[i] & 7) + (i & 0xF0));
    const Case cases[] = {{"text", vek::testdata::text_bytes(kSanitized ? 40000 : 500000, 11)},
                          {"random", vek::testdata::random_bytes(kSanitized ? 20000 : 300000, 12)},
                          {"runs", vek::testdata::runs_bytes(kSanitized ? 25000 : 500000, 13)},
                          {"binary", binary},
                          {"source", source_like(kSanitized ? 30000 : 300000, 15)}};
    for (const Case& c : cases) {
        const Result reference = forward(c.data, vekBWTSortSuffix);
        expect_valid(c.data, reference, c.name);
        for (int m : kAllMethods) {
            const Result r = forward(c.data, m);
            // When the limited method runs out is pinned by its own test
            // (the source-like block does).
            if (m == vekBWTSortLimited && r.status == vekStatusSortLimitReached) continue;
            ASSERT_EQ(r.status, vekStatusOk) << c.name << " method " << m;
            EXPECT_EQ(r.last, reference.last) << c.name << " method " << m;
            EXPECT_EQ(r.index, reference.index) << c.name << " method " << m;
        }
    }
}

TEST(BwtForward, RepetitiveWorstCases) {
    const size_t scale = kSanitized ? 1 : 16;
    Bytes repeats;  // a random 997-byte piece repeated, then a different tail
    const Bytes piece = vek::testdata::random_bytes(997, 21);
    for (size_t i = 0; i < 12 * scale; ++i)
        repeats.insert(repeats.end(), piece.begin(), piece.end());
    const Bytes tail = vek::testdata::random_bytes(300, 22);
    repeats.insert(repeats.end(), tail.begin(), tail.end());
    Bytes one_off(62500 * scale, 'a');  // a run with one different byte
    one_off[one_off.size() / 3] = 'b';
    const Bytes fib = fibonacci(15000 * scale);
    const Bytes fib_small = fibonacci(kSanitized ? 2000 : 5000);
    const Bytes exact = periodic("abcdefgh", 2500 * scale);

    const Bytes* const aperiodic[] = {&repeats, &one_off, &fib};
    for (int m : {kFwd, int(vekBWTSortSuffix), int(vekBWTSortAuto)}) {
        for (const Bytes* s : aperiodic)
            expect_valid(*s, forward(*s, m), "worst case size " + std::to_string(s->size()));
        expect_periodic("abcdefgh", 2500 * scale, forward(exact, m), "periodic");
    }
    // Without a limit the comparison sort pays for every shared byte, so it
    // gets blocks whose repeats cost it well under a second.
    for (const Bytes* s : {static_cast<const Bytes*>(&one_off), &fib_small})
        expect_valid(*s, forward(*s, vekBWTSortUnlimited), "unlimited");
    expect_model(fib_small, vekBWTSortUnlimited, "fibonacci");
    expect_model(fibonacci(1000), vekBWTSortSuffix, "fibonacci 1000");
    // The limited sort either finishes correctly or says it ran out.
    for (const Bytes* s : aperiodic) {
        const Result r = forward(*s, vekBWTSortLimited);
        if (r.status != vekStatusSortLimitReached) expect_valid(*s, r, "limited");
    }
    EXPECT_EQ(forward(fib, vekBWTSortLimited).status, vekStatusSortLimitReached);
    EXPECT_EQ(forward(exact, vekBWTSortLimited).status, vekStatusSortLimitReached);
}

TEST(BwtInverse, ArgumentChecksAndEdges) {
    uint8_t src[2] = {0x62, 0x61}, dst[2] = {0, 0};
    uint8_t buf[1032];
    EXPECT_EQ(veksBWTInv_8u(nullptr, dst, 0, 5, buf), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTInv_8u(src, nullptr, 2, 0, buf), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTInv_8u(src, dst, 2, 0, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksBWTInv_8u(src, dst, 0, 0, buf), vekStatusSizeErr);
    EXPECT_EQ(veksBWTInv_8u(src, dst, 2, 2, buf), vekStatusSizeErr);
    EXPECT_EQ(veksBWTInv_8u(src, dst, 2, -1, buf), vekStatusSizeErr);
    EXPECT_EQ(dst[0] | dst[1], 0);
    EXPECT_EQ(veksBWTInv_8u(src, dst, 2, 0, buf), vekStatusOk);
    EXPECT_EQ(dst[0], 0x61);
    EXPECT_EQ(dst[1], 0x62);
    EXPECT_EQ(veksBWTInv_8u(src, dst, 1, 0, buf), vekStatusOk);
    EXPECT_EQ(dst[0], 0x62);
    const std::string banana = "nnbaaa";
    EXPECT_EQ(inverse(Bytes(banana.begin(), banana.end()), 3),
              Bytes({'b', 'a', 'n', 'a', 'n', 'a'}));
}

TEST(BwtInverse, RoundTripsAndArbitraryColumns) {
    for (size_t n : {1, 2, 3, 17, 255, 4096, 70000, kSanitized ? 300000 : 2000000}) {
        for (const Bytes& s :
             {vek::testdata::random_bytes(n, uint32_t(n)), vek::testdata::text_bytes(n, 2),
              vek::testdata::runs_bytes(n, 3), Bytes(n, 0)}) {
            const Result r = forward(s, kFwd);
            ASSERT_EQ(inverse(r.last, r.index), s) << n;
        }
    }
    // Blocks of repeats have a successor cycle per repeat, which the walk
    // goes round again and again (also when several chains share the walk).
    for (size_t copies : {3, 9000}) {
        const Bytes s = periodic("walk cycles", copies);
        const Result r = forward(s, kFwd);
        ASSERT_EQ(inverse(r.last, r.index), s) << copies;
    }
    // Any column and index: the walk follows the successor rows exactly.
    for (size_t n : {2, 5, 64, 1000, 65535, 65536, 150001}) {
        Bytes L = vek::testdata::random_bytes(n, uint32_t(n) * 7);
        if (n > 100000) L = small_alphabet(n, 9, 3);
        std::vector<size_t> first(257);
        for (uint8_t b : L) ++first[b + 1];
        for (size_t c = 0; c < 256; ++c) first[c + 1] += first[c];
        std::vector<size_t> succ(n);
        for (size_t i = 0; i < n; ++i) succ[first[L[i]]++] = i;
        for (size_t index : {size_t(0), n / 2, n - 1}) {
            Bytes want;
            for (size_t k = 0, p = index; k < n; ++k) {
                p = succ[p];
                want.push_back(L[p]);
            }
            EXPECT_EQ(inverse(L, int32_t(index)), want) << n << " " << index;
        }
    }
}

// The comparison sort directly, on the doubled block of `s`.
struct Engine {
    Bytes T;
    explicit Engine(const std::string& s) : T(s.begin(), s.end()) {
        T.insert(T.end(), s.begin(), s.end());
    }
    int32_t n() const { return int32_t(T.size() / 2); }
    int64_t sort(std::vector<int32_t>& rows, int32_t depth, int64_t budget) const {
        vek::bwt::it_sort(T.data(), n(), rows.data(), 0, int32_t(rows.size()) - 1, depth, &budget);
        return budget;
    }
};

TEST(BwtEngines, ShellSortChargesEqualBytes) {
    // Rotations 0 ("abcdabce..") and 4 ("abcexyzw..") differ at byte 3:
    // the first unequal word is word 0, so nothing is charged.
    const Engine e("abcdabcexyzw");
    std::vector<int32_t> rows = {4, 0};
    EXPECT_EQ(e.sort(rows, 0, 0), 0);
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 4}));
    // Rotations 0 ("abcdabcdzq") and 4 ("abcdzqabcd") share one whole
    // word and differ in the second: 4 equal bytes are charged.
    const Engine f("abcdabcdzq");
    rows = {4, 0};
    EXPECT_EQ(f.sort(rows, 0, 10), 6);
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 4}));
    // A budget of 0 ends at the first comparison that passes an equal word.
    rows = {4, 0};
    EXPECT_LT(f.sort(rows, 0, 0), 0);
    std::vector<int32_t> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int32_t>{0, 4}));
    // Without a budget -1 comes back.
    rows = {4, 0};
    EXPECT_EQ(f.sort(rows, 0, -1), -1);
    EXPECT_EQ(rows, (std::vector<int32_t>{0, 4}));
    // Equal rotations are charged their whole length from the depth.
    const Engine g("abab");
    rows = {2, 0};
    EXPECT_EQ(g.sort(rows, 0, 100), 96);
}

TEST(BwtEngines, EqualRotationsStayInTheirRange) {
    // Periodic text: every rotation starting with 'a' equals every other;
    // deep ranges (unlimited and limited) end as a permutation of the input.
    std::string s;
    for (int i = 0; i < 300; ++i) s += "abcab";
    const Engine e(s);
    for (int64_t budget : {int64_t(-1), int64_t(1) << 40}) {
        std::vector<int32_t> rows;
        for (int32_t i = 0; i < e.n(); i += 5) rows.push_back(i);
        for (int32_t i = 3; i < e.n(); i += 5) rows.push_back(i);
        std::vector<int32_t> before = rows;
        e.sort(rows, 2, budget);
        std::sort(rows.begin(), rows.end());
        std::sort(before.begin(), before.end());
        EXPECT_EQ(rows, before);
    }
}

// The two complete engines on blocks from small alphabets (many of them
// nearly or exactly repeating, with least rotations anywhere): the same
// column always, and the same index unless the block repeats a shorter one.
TEST(BwtEngines, InducedSortingAgreesWithDoubling) {
    uint32_t seed = 1;
    for (int32_t n : {130, 131, 257, 1000, 4099}) {
        for (int symbols = 1; symbols <= 4; ++symbols) {
            for (int kind = 0; kind < 3; ++kind) {
                Bytes s = small_alphabet(size_t(n), ++seed, symbols);
                if (kind == 1) {  // a power of a short random root
                    const size_t root = 1 + seed % 7;
                    for (size_t i = root; i < s.size(); ++i) s[i] = s[i - root];
                    s.resize(s.size() - s.size() % root);
                } else if (kind == 2) {  // a power with one byte changed
                    for (size_t i = 5; i < s.size(); ++i) s[i] = s[i - 5];
                    s[s.size() / 2] = 'z';
                }
                const int32_t m = int32_t(s.size());
                ASSERT_GE(vek::bwt::induced_work_bytes(m), 0);
                std::vector<uint8_t> work(size_t(vek::bwt::induced_work_bytes(m)));
                std::vector<int32_t> dwork(4 * size_t(m));
                Bytes a(s.size()), b(s.size());
                int32_t ia = -1, ib = -1;
                vek::bwt::induced_transform(s.data(), a.data(), m, &ia, work.data());
                vek::bwt::doubling_transform(s.data(), b.data(), m, &ib, dwork.data());
                const std::string what = "n " + std::to_string(m) + " symbols " +
                                         std::to_string(symbols) + " kind " + std::to_string(kind);
                ASSERT_EQ(a, b) << what;
                if (kind != 1) {
                    ASSERT_EQ(ia, ib) << what;
                }
                ASSERT_TRUE(inverse(a, ia) == s) << what;
            }
        }
    }
}

}  // namespace
