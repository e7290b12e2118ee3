// Sources close to the largest 32-bit length, built from a small memory file
// mapped again and again (no gigabytes are allocated): the checked
// encoders' room arithmetic must not wrap for a literal run of ~2.1 GB.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "vekdc.h"

namespace {

constexpr size_t kPeriod = size_t{1} << 20;  // more than the largest offset apart
constexpr size_t kSpan = size_t{1} << 31;
constexpr size_t kZeros = size_t{4} << 20;  // the first source ends in 4 MiB of zeros

struct HugeSource {
    uint8_t* base = nullptr;
    bool ok = false;
    explicit HugeSource(size_t zeros) {
        void* r =
            mmap(nullptr, kSpan, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (r == MAP_FAILED) return;
        base = static_cast<uint8_t*>(r);
        const int fd = memfd_create("lz4_huge_period", 0);
        if (fd < 0 || ftruncate(fd, kPeriod) != 0) return;
        // Pseudo-random bytes: no four-byte word repeats within reach.
        std::vector<uint8_t> period(kPeriod);
        uint64_t x = 0x9E3779B97F4A7C15u;
        for (auto& b : period) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            b = static_cast<uint8_t>(x >> 24);
        }
        if (pwrite(fd, period.data(), kPeriod, 0) != static_cast<ssize_t>(kPeriod)) return;
        for (size_t at = 0; at < kSpan - zeros; at += kPeriod)
            if (mmap(base + at, kPeriod, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED)
                return;
        close(fd);
        if (zeros && mmap(base + kSpan - zeros, zeros, PROT_READ,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
            return;
        ok = true;
    }
    ~HugeSource() {
        if (base) munmap(base, kSpan);
    }
};

// A destination of `cap` bytes that ends at an inaccessible page.
struct GuardedDst {
    uint8_t* page = nullptr;
    size_t pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    explicit GuardedDst() {
        void* r =
            mmap(nullptr, 2 * pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (r == MAP_FAILED) return;
        page = static_cast<uint8_t*>(r);
        mprotect(page + pageSize, pageSize, PROT_NONE);
    }
    uint8_t* end() const { return page + pageSize; }
    ~GuardedDst() {
        if (page) munmap(page, 2 * pageSize);
    }
};

// The first match lies ~2.143e9 bytes in: its sequence needs more than
// INT32_MAX bytes, so with 1000 bytes of room it is dropped and the block
// is the longest literal-only sequence that fits: n + 1 + ext(n) <= 1000
// gives n = 995 (token 0xF0, 980 = 3 x 255 + 215).
void expect_literal_block(const uint8_t* src, const uint8_t* dst, int32_t srcLen, int32_t dstLen,
                          vekStatus st) {
    EXPECT_EQ(st, vekStatusDstTooSmall);
    EXPECT_EQ(srcLen, 995);
    ASSERT_EQ(dstLen, 1000);
    const uint8_t head[5] = {0xF0, 255, 255, 255, 215};
    EXPECT_EQ(std::memcmp(dst, head, 5), 0);
    EXPECT_EQ(std::memcmp(dst + 5, src, 995), 0);
}

// Both checked encoders (the history one with a fresh table, no history and
// a dictionary elsewhere runs the same engine) on the INT32_MAX-byte source
// made with `tail`, into 1000 bytes before an inaccessible page.
void encode_largest_source(size_t tail) {
    HugeSource s(tail);
    ASSERT_TRUE(s.ok);
    GuardedDst d;
    ASSERT_NE(d.page, nullptr);
    std::vector<uint8_t> table(16384);
    uint8_t* const dst = d.end() - 1000;

    int32_t srcLen = INT32_MAX, dstLen = 1000;
    vekStatus st = veksEncodeLZ4Safe_8u(s.base, &srcLen, dst, &dstLen, table.data());
    expect_literal_block(s.base, dst, srcLen, dstLen, st);

    const uint8_t dict[16] = {1, 2, 3};
    srcLen = INT32_MAX, dstLen = 1000;
    std::memset(d.page, 0, d.pageSize);
    st = veksEncodeLZ4DictSafe_8u(s.base, 0, &srcLen, dst, &dstLen, table.data(), dict, 16);
    expect_literal_block(s.base, dst, srcLen, dstLen, st);
}

TEST(Lz4HugeSource, CheckedEncodersDropASequenceLongerThanInt32) {
    if (sizeof(void*) < 8) GTEST_SKIP() << "needs a 2 GiB address range";
    encode_largest_source(kZeros);
}

// No match anywhere: the probes run on to the search limit, 44 bytes before
// INT32_MAX, with steps of ~8 KiB; the step past the last probe must not
// wrap the position. The block is again the 995 literals that fit.
TEST(Lz4HugeSource, ProbesRunToTheSearchLimitOfTheLargestSource) {
    if (sizeof(void*) < 8) GTEST_SKIP() << "needs a 2 GiB address range";
    encode_largest_source(0);
}

}  // namespace
