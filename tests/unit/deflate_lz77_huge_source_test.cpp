// LZ77 engines over a source of more than 2 GiB (a read-only mapping of
// zeros: no memory is allocated for it) with the window in a buffer of its
// own: source offsets past INT32_MAX must still address the source, not
// land far before the window. (A 32-bit build runs them where its address
// space has room for the mapping.)
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <vector>

#include "test_data.h"
#include "vekdc.h"

namespace {

constexpr size_t kSpan = (size_t{1} << 31) + (size_t{1} << 25);

struct ZeroSource {
    uint8_t* base = nullptr;
    ZeroSource() {
        void* r =
            mmap(nullptr, kSpan, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (r != MAP_FAILED) base = static_cast<uint8_t*>(r);
    }
    ~ZeroSource() {
        if (base) munmap(base, kSpan);
    }
};

// Items of a zero run: a literal at position 0 (the fresh tables hold
// nothing usable), then matches of 258 bytes at distance 1 up to the room.
// More items than fit in 2^31 bytes of them.
constexpr uint32_t kItems = 8400000;
static_assert(uint64_t{258} * (kItems - 2) > (uint64_t{1} << 31), "the run must pass INT32_MAX");

// Runs one call with room for kItems items; `lazy`: the engine keeps one
// element free for its pending item, so it writes one item fewer.
void expect_zero_run(bool lazy, int32_t level, const vekLZ77LevelParams* prm) {
    ZeroSource s;
    if (!s.base) GTEST_SKIP() << "no room for a 2 GiB mapping";
    const uint32_t winSize = 32768, hashSize = 65536;
    std::vector<uint8_t> window(winSize), lit(kItems);
    std::vector<uint16_t> dist(kItems);
    std::vector<int32_t> head(hashSize, -int32_t(winSize)), prev(winSize, -int32_t(winSize));
    std::vector<vekDeflateFreqEntry> lf(286), df(30);
    const uint8_t* src = s.base;
    uint32_t srcLen = uint32_t(kSpan), srcIdx = 0, dstLen = kItems;
    const vekStatus st =
        prm ? veksDeflateLZ77Fast_8u(&src, &srcLen, &srcIdx, window.data() + winSize, winSize,
                                     head.data(), prev.data(), hashSize, lf.data(), df.data(),
                                     lit.data(), dist.data(), &dstLen, prm, 0)
            : veksDeflateLZ77_8u(&src, &srcLen, &srcIdx, window.data() + winSize, winSize,
                                 head.data(), prev.data(), hashSize, lf.data(), df.data(),
                                 lit.data(), dist.data(), &dstLen, level, 0);
    ASSERT_EQ(st, vekStatusOk);
    const uint32_t items = lazy ? kItems - 1 : kItems;
    const uint32_t consumed = 1 + 258 * (items - 1);
    EXPECT_EQ(dstLen, kItems - items);
    EXPECT_EQ(srcIdx, consumed);
    EXPECT_EQ(src, s.base + consumed);
    EXPECT_EQ(srcLen, uint32_t(kSpan) - consumed);
    EXPECT_EQ(lit[0], 0);
    EXPECT_EQ(dist[0], 0);
    uint32_t bad = 0;
    for (uint32_t k = 1; k < items; ++k) bad += lit[k] != 255 || dist[k] != 1;
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(lf[0].freq, 1);
    EXPECT_EQ(lf[285].freq, uint16_t(items - 1));  // counters wrap at 16 bits
    EXPECT_EQ(df[0].freq, uint16_t(items - 1));
}

TEST(DeflateLz77HugeSource, GreedyChainWalkPastInt32Max) {
    expect_zero_run(false, 1, nullptr);
}

TEST(DeflateLz77HugeSource, GreedyOneCandidatePastInt32Max) {
    const vekLZ77LevelParams one{1, 4, 4, 8};
    expect_zero_run(false, 0, &one);
}

TEST(DeflateLz77HugeSource, LazyPastInt32Max) {
    expect_zero_run(true, 5, nullptr);
}

// The single-probe search registers every position a match covers: 2^31
// table writes, too slow without optimisation.
TEST(DeflateLz77HugeSource, SingleProbePastInt32Max) {
    if (vek::testdata::kSanitized) GTEST_SKIP() << "too slow in the sanitizer build";
    expect_zero_run(false, 0, nullptr);
}

}  // namespace
