// The fastest encoder over a source of 2^32 - 1 bytes (zeros mapped
// read-only, no memory allocated for them) that ends at an inaccessible
// page: in the flush tail, registering the positions after a match that
// ends the input must not read past its last byte, although the offsets
// then come within 4 of 2^32.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_data.h"
#include "vekdc.h"

namespace {

// A source of the largest length a call takes, whose last byte is the last
// one before a PROT_NONE page; all zeros but for its last `tail` bytes.
struct LargestSource {
    static constexpr size_t kLen = 0xFFFFFFFFu;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    uint8_t* map = nullptr;
    size_t mapLen = 0;
    uint8_t* src = nullptr;

    explicit LargestSource(const std::vector<uint8_t>& tail) {
        if (sizeof(void*) < 8) return;
        mapLen = kLen + 1 + page;  // the source rounded up to pages, then the guard
        void* r =
            mmap(nullptr, mapLen, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (r == MAP_FAILED) return;
        map = static_cast<uint8_t*>(r);
        src = map + 1;  // so that src + kLen is the guard page
        uint8_t* const last = map + (kLen + 1 - page);
        if (mprotect(map, kLen + 1 - page, PROT_READ) != 0 ||
            mprotect(last, page, PROT_READ | PROT_WRITE) != 0)
            src = nullptr;
        else
            std::memcpy(src + kLen - tail.size(), tail.data(), tail.size());
    }
    ~LargestSource() {
        if (map) munmap(map, mapLen);
    }
};

TEST(DeflateFastestHugeSource, FlushTailEndsAtTheLastByteOfTheLargestSource) {
    if (vek::testdata::kSanitized)
        GTEST_SKIP() << "4 GiB of input: too slow in the sanitizer build";
    // The last 300 bytes: random ones (literals), then the 4 bytes found 100
    // bytes before the end, a match of 4 that ends the input.
    std::mt19937 rng(3);
    std::vector<uint8_t> tail(300);
    for (auto& b : tail) b = uint8_t(rng());
    std::memcpy(&tail[296], &tail[200], 4);
    LargestSource s(tail);
    if (!s.src) GTEST_SKIP() << "no room for a 4 GiB mapping";
    const uint32_t winSize = 32768, hashSize = 65536;
    std::vector<int32_t> head(hashSize, -int32_t(winSize));
    std::vector<uint8_t> dst(48u << 20);
    const uint8_t* src = s.src;
    uint32_t srcLen = uint32_t(s.kLen), srcIdx = 0, bits = 0, dstIdx = 0;
    uint16_t code = 0;
    ASSERT_EQ(
        veksDeflateLZ77Fastest_8u(&src, &srcLen, &srcIdx, s.src, winSize, head.data(), hashSize,
                                  &code, &bits, dst.data(), uint32_t(dst.size()), &dstIdx, 2),
        vekStatusOk);
    EXPECT_EQ(srcLen, 0u);
    EXPECT_EQ(srcIdx, uint32_t(s.kLen));
    EXPECT_EQ(src, s.src + s.kLen);
    // The last item is the match of 4 at distance 96: symbol 258 (fixed
    // code 0000010), distance code 12 (01100) and its 5 extra bits, 31.
    const uint64_t total = uint64_t(dstIdx) * 8 + bits;
    ASSERT_GE(total, 17u);
    auto bit = [&](uint64_t k) {
        return k < uint64_t(dstIdx) * 8 ? (dst[size_t(k / 8)] >> (k % 8)) & 1
                                        : (code >> (k - uint64_t(dstIdx) * 8)) & 1;
    };
    std::string last;
    for (uint64_t k = total - 17; k < total; ++k) last += char('0' + bit(k));
    EXPECT_EQ(last,
              "0000010"
              "01100"
              "11111");
}

}  // namespace
