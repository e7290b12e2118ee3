// The successor walk shared by the inverse transform and the block decoder:
// the many-chain walk against a plain model of the one-chain walk, for both
// link layouts, on permutations of every cycle shape (one cycle, random,
// many short cycles, the primary row on a short cycle, fixed points), at
// sizes around the thresholds where the many-chain walk takes over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <set>
#include <vector>

#include "bwt/successor_walk.h"
#include "test_data.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vek::bwt::LinkByte;

using vek::testdata::kSanitized;

constexpr uint8_t kGuard = 0x5D;
constexpr size_t kGuardBytes = 32;

enum class Shape { kOneCycle, kRandom, kTriples, kShortPrimary, kFixed, kShift };

std::vector<uint32_t> permutation(size_t n, Shape shape, uint32_t index, std::mt19937& rng) {
    std::vector<uint32_t> succ(n);
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), rng);
    auto close_cycles = [&](size_t len) {
        for (size_t at = 0; at < n; at += len) {
            const size_t end = std::min(n, at + len);
            for (size_t i = at; i < end; ++i) succ[order[i]] = order[i + 1 < end ? i + 1 : at];
        }
    };
    switch (shape) {
        case Shape::kOneCycle:
            close_cycles(n);
            break;
        case Shape::kRandom:
            for (size_t i = 0; i < n; ++i) succ[i] = order[i];
            break;
        case Shape::kTriples:
            close_cycles(3);
            break;
        case Shape::kShortPrimary: {
            // The primary row on a cycle of 5, the rest on one long cycle.
            std::swap(*std::find(order.begin(), order.end(), index), order[0]);
            for (size_t i = 0; i < 5; ++i) succ[order[i]] = order[(i + 1) % 5];
            for (size_t i = 5; i < n; ++i) succ[order[i]] = order[i + 1 < n ? i + 1 : 5];
            break;
        }
        case Shape::kFixed:
            std::iota(succ.begin(), succ.end(), 0u);
            break;
        case Shape::kShift:
            // Row r to r + 1: every chain is as long as the next, so all
            // lanes want more room at the same time near the end.
            for (size_t i = 0; i < n; ++i) succ[i] = uint32_t((i + 1) % n);
            break;
    }
    return succ;
}

// The one-chain walk, written out plainly.
Bytes model_walk(const std::vector<uint32_t>& succ, const Bytes& L, uint32_t index) {
    Bytes out(L.size());
    uint32_t p = index;
    for (size_t k = 0; k < L.size(); ++k) {
        p = succ[p];
        out[k] = L[p];
    }
    return out;
}

Bytes links_of(const std::vector<uint32_t>& succ, const Bytes& L, LinkByte kind) {
    Bytes links(4 * L.size() + 1);  // one byte in: the walk must not need alignment
    for (size_t r = 0; r < L.size(); ++r) {
        const uint32_t w = succ[r] << 8 | (kind == LinkByte::kOwn ? L[r] : L[succ[r]]);
        std::memcpy(links.data() + 1 + 4 * r, &w, 4);
    }
    return links;
}

TEST(SuccessorWalk, ManyChainsEqualTheOneChainWalk) {
    std::mt19937 rng(97);
    // The largest size is the last one with room for the start marks.
    const size_t largest = kSanitized ? 300007 : size_t{1} << 23;
    for (size_t n : {size_t{1}, size_t{2}, size_t{1000}, size_t{65535}, size_t{65536},
                     size_t{65537}, largest}) {
        for (Shape shape : {Shape::kOneCycle, Shape::kRandom, Shape::kTriples, Shape::kShortPrimary,
                            Shape::kFixed, Shape::kShift}) {
            if (n < 5 && shape == Shape::kShortPrimary) continue;
            if (n > 70000 && (shape == Shape::kFixed || shape == Shape::kShift)) continue;
            if (n == (size_t{1} << 23) && shape != Shape::kShortPrimary) continue;
            Bytes L(n);
            // Few byte values: wrong rows would likely still give a wrong byte.
            for (auto& b : L) b = uint8_t(rng() % 7 + 'a');
            std::vector<uint32_t> indices = {uint32_t(0), uint32_t(n - 1), uint32_t(rng() % n)};
            if (n > 70000) indices.resize(1);
            for (uint32_t index : indices) {
                const std::vector<uint32_t> succ = permutation(n, shape, index, rng);
                const Bytes want = model_walk(succ, L, index);
                for (LinkByte kind : {LinkByte::kOwn, LinkByte::kSuccessor}) {
                    Bytes links = links_of(succ, L, kind);
                    Bytes plain(n);
                    vek::bwt::walk_successors_plain(links.data() + 1, plain.data(), int32_t(n),
                                                    index, kind);
                    ASSERT_EQ(plain, want) << n << " " << int(shape) << " " << index;
                    // The destination is exactly n bytes between guards; the
                    // many chains run (and finish) from 64 KiB to 8 MiB.
                    Bytes dst(n + 2 * kGuardBytes, kGuard);
                    const bool many = vek::bwt::walk_successors_limited(
                        links.data() + 1, dst.data() + kGuardBytes, int32_t(n), index, kind,
                        1 << 30);
                    ASSERT_EQ(many, n >= 65536 && n <= (size_t{1} << 23)) << n;
                    ASSERT_TRUE(std::equal(want.begin(), want.end(), dst.begin() + kGuardBytes))
                        << n << " " << int(shape) << " " << index << " " << int(kind);
                    for (size_t k = 0; k < kGuardBytes; ++k) {
                        ASSERT_EQ(dst[k], kGuard);
                        ASSERT_EQ(dst[n + kGuardBytes + k], kGuard);
                    }
                }
            }
        }
    }
}

// A one-cycle block where a lane out of room takes half of another lane's
// piece while the lanes gather for a batch: the other lane's room must be
// read after the split. (This permutation caught a walk that read it
// before and let the two lanes write the same bytes; a bzip2 block of this
// project's sources met the same fault.)
TEST(SuccessorWalk, RoomTakenWhileLanesGather) {
    std::mt19937 rng(54);
    const size_t n = 65536 + rng() % 200000;
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<uint32_t> succ(n);
    for (size_t i = 0; i < n; ++i) succ[order[i]] = order[(i + 1) % n];
    Bytes L(n);
    for (auto& b : L) b = uint8_t(rng() % 7 + 'a');
    const uint32_t index = uint32_t(rng() % n);
    const Bytes want = model_walk(succ, L, index);
    for (LinkByte kind : {LinkByte::kOwn, LinkByte::kSuccessor}) {
        Bytes links = links_of(succ, L, kind);
        Bytes dst(n);
        vek::bwt::walk_successors(links.data() + 1, dst.data(), int32_t(n), index, kind);
        ASSERT_EQ(dst, want) << int(kind);
    }
}

// Output room too short for the many chains: they give up, the start marks
// come off and one chain walks instead, with the same result.
TEST(SuccessorWalk, FallsBackToOneChainWhenRoomRunsShort) {
    std::mt19937 rng(98);
    const size_t n = 100000;
    Bytes L(n);
    for (auto& b : L) b = uint8_t(rng());
    for (Shape shape : {Shape::kOneCycle, Shape::kTriples}) {
        const uint32_t index = uint32_t(rng() % n);
        const std::vector<uint32_t> succ = permutation(n, shape, index, rng);
        const Bytes want = model_walk(succ, L, index);
        for (int32_t limit : {16, 48, 60}) {
            for (LinkByte kind : {LinkByte::kOwn, LinkByte::kSuccessor}) {
                Bytes links = links_of(succ, L, kind);
                Bytes dst(n);
                const bool many = vek::bwt::walk_successors_limited(links.data() + 1, dst.data(),
                                                                    int32_t(n), index, kind, limit);
                if (limit == 16 && shape == Shape::kOneCycle) {
                    // 16 first pieces cannot hold the n bytes of one cycle
                    // (cycles of three without a start are never walked).
                    EXPECT_FALSE(many);
                }
                ASSERT_EQ(dst, want) << limit << " " << int(shape);
            }
        }
    }
}

// Successor rows of a last column by stable counting, as the inverse
// transform defines them.
std::vector<uint32_t> column_successors(const Bytes& L) {
    std::vector<uint32_t> first(257);
    for (uint8_t b : L) ++first[b + 1u];
    for (size_t c = 0; c < 256; ++c) first[c + 1] += first[c];
    std::vector<uint32_t> succ(L.size());
    for (size_t i = 0; i < L.size(); ++i) succ[first[L[i]]++] = uint32_t(i);
    return succ;
}

// A column of `runs` runs of equal bytes (neighbours differ) of random
// lengths, from a few byte values.
Bytes column_of_runs(size_t n, size_t runs, std::mt19937& rng) {
    std::set<size_t> inner;
    while (inner.size() + 1 < runs) inner.insert(1 + rng() % (n - 1));
    std::vector<size_t> cuts = {0};
    cuts.insert(cuts.end(), inner.begin(), inner.end());
    cuts.push_back(n);
    Bytes L(n);
    uint8_t b = 'a';
    for (size_t r = 0; r + 1 < cuts.size(); ++r) {
        const uint8_t prev = b;
        while (b == prev && r > 0) b = uint8_t('a' + rng() % 5);
        std::fill(L.begin() + std::ptrdiff_t(cuts[r]), L.begin() + std::ptrdiff_t(cuts[r + 1]), b);
    }
    return L;
}

// The walk from the runs of a column: the plain walk's bytes whenever the
// column has at most one run per 32 rows and the block is in the many-chain
// range, on columns of one run (all rows fixed points), of two runs, of
// runs at the limit, and on a column of long runs whose successors form
// many cycles; nothing outside the destination is touched.
TEST(SuccessorWalk, ColumnRunsEqualTheOneChainWalk) {
    std::mt19937 rng(99);
    const size_t large = kSanitized ? 200003 : 3000017;
    struct Case {
        size_t n, runs;
        bool walks;
    };
    const Case cases[] = {{65535, 5, false},           {65536, 1, true},     {65536, 2, true},
                          {65536, 2048, true},         {65536, 2049, false}, {100003, 3125, true},
                          {100003, 3126, false},       {large, 1, true},     {large, 997, true},
                          {size_t{1} << 16, 700, true}};
    for (const Case& c : cases) {
        const Bytes L = column_of_runs(c.n, c.runs, rng);
        const std::vector<uint32_t> succ = column_successors(L);
        for (uint32_t index : {uint32_t(0), uint32_t(c.n - 1), uint32_t(rng() % c.n)}) {
            const Bytes want = model_walk(succ, L, index);
            Bytes work(4 * c.n + 1);  // used from byte 1: no alignment needed
            Bytes dst(c.n + 2 * kGuardBytes, kGuard);
            const bool walked = vek::bwt::walk_column_runs(L.data(), dst.data() + kGuardBytes,
                                                           int32_t(c.n), index, work.data() + 1);
            ASSERT_EQ(walked, c.walks) << c.n << " " << c.runs;
            for (size_t k = 0; k < kGuardBytes; ++k) {
                ASSERT_EQ(dst[k], kGuard);
                ASSERT_EQ(dst[c.n + kGuardBytes + k], kGuard);
            }
            if (walked) {
                ASSERT_TRUE(std::equal(want.begin(), want.end(), dst.begin() + kGuardBytes))
                    << c.n << " " << c.runs << " " << index;
            }
        }
    }
}

}  // namespace
