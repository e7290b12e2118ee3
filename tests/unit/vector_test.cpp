// Vector primitives: argument order, edge cases, fills and copies at many
// lengths and alignments with guard bytes, both large-size store strategies
// (cache size forced), the bit copy and the index sort against plain models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "forced_cpu_services.h"
#include "vector/vector.h"
#include "vekdc.h"

namespace {

using namespace vek::vector;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr uint8_t kGuardByte = 0xA5;

uintptr_t addr(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

// Reports the given cache size to the library for the lifetime of the guard
// (negative: the query fails).
class ForcedCache {
  public:
    explicit ForcedCache(int32_t size) { vek::core::testing::force_cache_size(size); }
    ~ForcedCache() { vek::core::testing::force_cache_size(0); }
    ForcedCache(const ForcedCache&) = delete;
    ForcedCache& operator=(const ForcedCache&) = delete;
};

// A byte region of `bytes` at a chosen offset from an `align`-byte boundary,
// with guard bytes on both sides.
class Region {
  public:
    Region(size_t bytes, size_t offset, size_t align = 64)
        : buf_(bytes + offset + 2 * align + 64, kGuardByte), bytes_(bytes) {
        const uintptr_t base = (addr(buf_.data()) + 64 + align - 1) & ~uintptr_t(align - 1);
        p_ = buf_.data() + (base - addr(buf_.data())) + offset;
    }
    uint8_t* data() { return p_; }
    template <typename T>
    T* as() {
        return reinterpret_cast<T*>(p_);
    }
    bool guards_intact() const {
        const size_t begin = static_cast<size_t>(p_ - buf_.data());
        for (size_t k = 0; k < begin; ++k)
            if (buf_[k] != kGuardByte) return false;
        for (size_t k = begin + bytes_; k < buf_.size(); ++k)
            if (buf_[k] != kGuardByte) return false;
        return true;
    }

  private:
    std::vector<uint8_t> buf_;
    size_t bytes_;
    uint8_t* p_;
};

template <typename T>
bool all_equal(const uint8_t* p, size_t n, T val) {
    for (size_t k = 0; k < n; ++k) {
        T v;
        std::memcpy(&v, p + k * sizeof(T), sizeof(T));
        if (v != val) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Argument checks: pointers before lengths before particular checks, and a
// failing call writes nothing.

TEST(VectorChecks, FillsAndCopies) {
    int32_t a[4] = {7, 7, 7, 7};
    int16_t h[4] = {7, 7, 7, 7};
    uint8_t b[4] = {7, 7, 7, 7};
    const int32_t src32[4] = {1, 2, 3, 4};
    const uint8_t src8[4] = {1, 2, 3, 4};
    for (int32_t len : {0, -1, kMin}) {
        EXPECT_EQ(zero_32s(nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(zero_32s(a, len), vekStatusSizeErr);
        EXPECT_EQ(zero_16s(nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(zero_16s(h, len), vekStatusSizeErr);
        EXPECT_EQ(set_8u(1, nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(set_8u(1, b, len), vekStatusSizeErr);
        EXPECT_EQ(set_32s(1, nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(set_32s(1, a, len), vekStatusSizeErr);
        EXPECT_EQ(copy_8u(nullptr, b, len), vekStatusNullPtrErr);
        EXPECT_EQ(copy_8u(src8, nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(copy_8u(src8, b, len), vekStatusSizeErr);
        EXPECT_EQ(copy_32s(nullptr, a, len), vekStatusNullPtrErr);
        EXPECT_EQ(copy_32s(src32, nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(copy_32s(src32, a, len), vekStatusSizeErr);
        EXPECT_EQ(move_32s(nullptr, a, len), vekStatusNullPtrErr);
        EXPECT_EQ(move_32s(src32, nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(move_32s(src32, a, len), vekStatusSizeErr);
    }
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(a[k] == 7 && h[k] == 7 && b[k] == 7) << k;
}

TEST(VectorChecks, SearchClampShiftAdd) {
    int32_t a[4] = {5, 6, 7, 8};
    const float f[2] = {1.0f, -2.0f};
    int32_t out = 99, out2 = 99;
    float fout = 99.0f;
    for (int32_t len : {0, -1}) {
        EXPECT_EQ(max_32s(nullptr, len, &out), vekStatusNullPtrErr);
        EXPECT_EQ(max_32s(a, len, nullptr), vekStatusNullPtrErr);
        EXPECT_EQ(max_32s(a, len, &out), vekStatusSizeErr);
        EXPECT_EQ(minmax_32s(nullptr, len, &out, &out2), vekStatusNullPtrErr);
        EXPECT_EQ(minmax_32s(a, len, nullptr, &out2), vekStatusNullPtrErr);
        EXPECT_EQ(minmax_32s(a, len, &out, nullptr), vekStatusNullPtrErr);
        EXPECT_EQ(minmax_32s(a, len, &out, &out2), vekStatusSizeErr);
        EXPECT_EQ(maxabs_32f(nullptr, len, &fout), vekStatusNullPtrErr);
        EXPECT_EQ(maxabs_32f(f, len, nullptr), vekStatusNullPtrErr);
        EXPECT_EQ(maxabs_32f(f, len, &fout), vekStatusSizeErr);
        EXPECT_EQ(threshold_gt_32s_i(nullptr, len, 0), vekStatusNullPtrErr);
        EXPECT_EQ(threshold_gt_32s_i(a, len, 0), vekStatusSizeErr);
        EXPECT_EQ(addc_32s_sfs(nullptr, 1, a, len, 0), vekStatusNullPtrErr);
        EXPECT_EQ(addc_32s_sfs(a, 1, nullptr, len, 0), vekStatusNullPtrErr);
        EXPECT_EQ(addc_32s_sfs(a, 1, a, len, 0), vekStatusSizeErr);
        EXPECT_EQ(addc_32s_sfs(a, 1, a, len, 5), vekStatusSizeErr);
        // Shift: length before the sign of the shift.
        EXPECT_EQ(lshiftc_32s_i(-1, nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(lshiftc_32s_i(-1, a, len), vekStatusSizeErr);
        EXPECT_EQ(lshiftc_32s_i(3, a, len), vekStatusSizeErr);
        // Above 31 the zeroing primitive's checks apply.
        EXPECT_EQ(lshiftc_32s_i(32, nullptr, len), vekStatusNullPtrErr);
        EXPECT_EQ(lshiftc_32s_i(32, a, len), vekStatusSizeErr);
    }
    EXPECT_EQ(lshiftc_32s_i(kMin, a, 4), vekStatusShiftErr);
    EXPECT_TRUE(out == 99 && out2 == 99 && fout == 99.0f && a[0] == 5 && a[3] == 8);
}

TEST(VectorChecks, SortAndBitCopy) {
    int32_t v[3] = {3, 1, 2}, idx[3] = {-1, -1, -1};
    EXPECT_EQ(sort_index_ascend_32s_i(nullptr, idx, 0), vekStatusNullPtrErr);
    EXPECT_EQ(sort_index_ascend_32s_i(v, nullptr, 0), vekStatusNullPtrErr);
    EXPECT_EQ(sort_index_ascend_32s_i(v, idx, 0), vekStatusSizeErr);
    EXPECT_EQ(sort_index_ascend_32s_i(v, idx, -3), vekStatusSizeErr);
    EXPECT_TRUE(v[0] == 3 && idx[0] == -1);

    const uint8_t s[2] = {0xFF, 0xFF};
    uint8_t d[2] = {0, 0};
    EXPECT_EQ(copy_be_1u(nullptr, -1, d, 0, 0), vekStatusNullPtrErr);
    EXPECT_EQ(copy_be_1u(s, 0, nullptr, -1, 0), vekStatusNullPtrErr);
    EXPECT_EQ(copy_be_1u(s, 0, d, 0, 0), vekStatusSizeErr);
    EXPECT_EQ(copy_be_1u(s, 0, d, 0, -8), vekStatusSizeErr);
    EXPECT_EQ(copy_be_1u(s, -1, d, 0, 8), vekStatusSizeErr);
    EXPECT_EQ(copy_be_1u(s, 0, d, -8, 8), vekStatusSizeErr);
    EXPECT_TRUE(d[0] == 0 && d[1] == 0);
}

// ---------------------------------------------------------------------------
// Edge cases.

// Shifts above 31 zero the vector; the top bits of each lane fall off.
TEST(VectorEdge, ShiftMatchesUnsignedShift) {
    std::mt19937 rng(11);
    for (int32_t n = 1; n <= 40; ++n) {
        for (int32_t shift : {0, 1, 5, 17, 30, 31, 32, 33, 1000, kMax}) {
            std::vector<int32_t> a(n);
            for (auto& x : a) x = static_cast<int32_t>(rng());
            a[0] = kMin;
            std::vector<int32_t> want(a);
            for (auto& x : want)
                x = shift > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(x) << shift);
            ASSERT_EQ(lshiftc_32s_i(shift, a.data(), n), vekStatusOk);
            ASSERT_EQ(a, want) << "n=" << n << " shift=" << shift;
        }
    }
}

TEST(VectorEdge, BitCopyKeepsLowBitsOfFirstByte) {
    // 0xB5 = 1011'0101: from bit 3 upwards the bits read 0, 1, 1, 0, 1.
    const uint8_t src[2] = {0xB5, 0x00};
    uint8_t dst[2] = {0x3F, 0x5A};
    ASSERT_EQ(copy_be_1u(src, 3, dst, 5, 3), vekStatusOk);
    EXPECT_EQ(dst[0], 0xDF);  // low five bits 1'1111 kept; bits 5..7 = 0, 1, 1
    EXPECT_EQ(dst[1], 0x5A);
    // Five bits across the byte boundary: 0, 1, 1, 0, 1 into bits 5, 6, 7, 8, 9.
    uint8_t dst2[2] = {0x1F, 0xF0};
    ASSERT_EQ(copy_be_1u(src, 3, dst2, 5, 5), vekStatusOk);
    EXPECT_EQ(dst2[0], 0xDF);
    EXPECT_EQ(dst2[1], 0xF2);
    // Only the low three bits of an offset count.
    uint8_t dst3[2] = {0x1F, 0xF0};
    ASSERT_EQ(copy_be_1u(src, 3 + 8 * 7, dst3, 5 + 8 * 100, 5), vekStatusOk);
    EXPECT_EQ(dst3[0], 0xDF);
    EXPECT_EQ(dst3[1], 0xF2);
}

// ---------------------------------------------------------------------------
// Search, clamp and add against plain loops.

TEST(VectorArith, MaxAndMinMax) {
    std::mt19937 rng(5);
    for (int32_t n = 1; n <= 70; ++n) {
        for (int rep = 0; rep < 20; ++rep) {
            std::vector<int32_t> a(n);
            for (auto& x : a) x = static_cast<int32_t>(rng() % 2001) - 1000;
            // Put extremes at a chosen position to reach every lane and the tail.
            const int32_t at = static_cast<int32_t>(rng() % n);
            if (rep % 3 == 1) a[at] = kMax;
            if (rep % 3 == 2) a[at] = kMin;
            int32_t mx = 0, lo = 0, hi = 0;
            ASSERT_EQ(max_32s(a.data(), n, &mx), vekStatusOk);
            ASSERT_EQ(minmax_32s(a.data(), n, &lo, &hi), vekStatusOk);
            EXPECT_EQ(mx, *std::max_element(a.begin(), a.end()));
            EXPECT_EQ(lo, *std::min_element(a.begin(), a.end()));
            EXPECT_EQ(hi, mx);
        }
    }
}

uint32_t float_bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}
float bits_float(uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

TEST(VectorArith, MaxAbs) {
    std::mt19937 rng(6);
    std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
    for (int32_t n = 1; n <= 70; ++n) {
        for (int rep = 0; rep < 20; ++rep) {
            std::vector<float> a(n);
            for (auto& x : a) x = dist(rng);
            if (rep == 1) a[rng() % n] = -std::numeric_limits<float>::infinity();
            if (rep == 2) a[rng() % n] = -5000.0f;
            float want = 0.0f, got = -1.0f;
            for (float x : a) want = std::max(want, std::fabs(x));
            ASSERT_EQ(maxabs_32f(a.data(), n, &got), vekStatusOk);
            EXPECT_EQ(float_bits(got), float_bits(want)) << "n=" << n;
        }
    }
    // Sign of the result is always clear, zeros included.
    const float z[9] = {-0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -0.0f};
    float got = 1.0f;
    ASSERT_EQ(maxabs_32f(z, 9, &got), vekStatusOk);
    EXPECT_EQ(float_bits(got), 0u);
    // A NaN outranks infinity, in any position; among NaNs the largest
    // payload (sign cleared) wins.
    for (int32_t n : {1, 7, 8, 9, 33}) {
        for (int32_t at = 0; at < n; ++at) {
            std::vector<float> a(n, -std::numeric_limits<float>::infinity());
            a[at] = bits_float(0xFFC00123u);  // negative quiet NaN
            if (n > 1) a[(at + 1) % n] = bits_float(0x7FC00001u);
            ASSERT_EQ(maxabs_32f(a.data(), n, &got), vekStatusOk);
            EXPECT_EQ(float_bits(got), 0x7FC00123u) << "n=" << n << " at=" << at;
        }
    }
}

TEST(VectorArith, ThresholdGreaterThan) {
    std::mt19937 rng(7);
    for (int32_t n = 1; n <= 70; ++n) {
        for (int32_t level : {kMin, -3, 0, 50, kMax}) {
            std::vector<int32_t> a(n);
            for (auto& x : a) x = static_cast<int32_t>(rng());
            a[0] = kMax;
            a[n - 1] = kMin;
            std::vector<int32_t> want(a);
            for (auto& x : want)
                if (x > level) x = level;
            ASSERT_EQ(threshold_gt_32s_i(a.data(), n, level), vekStatusOk);
            ASSERT_EQ(a, want) << "n=" << n << " level=" << level;
        }
    }
}

// Reference: double holds the 33-bit sum times a power of two exactly, and
// nearbyint rounds ties to even. Factors beyond +-64 give the same result as
// +-64 (0, or saturation by the sign); factor 0 is the saturated sum.
int32_t ref_scaled_add(int32_t a, int32_t val, int32_t sf) {
    const int e = static_cast<int>(std::max(-64, std::min(64, sf)));
    const double x = std::ldexp(static_cast<double>(int64_t{a} + val), -e);
    if (x >= 2147483647.0) return kMax;
    if (x <= -2147483648.0) return kMin;
    return static_cast<int32_t>(std::nearbyint(x));
}

// Every length 1..40 for each factor (lanes and tails); odd lengths in place.
TEST(VectorArith, AddConstantScaled) {
    std::mt19937 rng(9);
    const int32_t factors[] = {0,  1,    2,  3,  5,  16,  31,  32,  33,  34,  35,
                               64, kMax, -1, -2, -5, -30, -31, -32, -40, kMin};
    const int32_t edge_values[] = {0,  1, -1, 2,    -2,   3,        -3,      5,
                                   -5, 6, -6, kMax, kMin, kMax - 1, kMin + 1};
    for (int32_t sf : factors) {
        for (int rep = 0; rep < 40; ++rep) {
            const int32_t n = 1 + rep;
            const int32_t val =
                rep < 15 ? edge_values[rep] : static_cast<int32_t>(rng() >> (rng() % 32));
            std::vector<int32_t> a(n), out(n);
            for (int32_t k = 0; k < n; ++k)
                a[k] = (rng() & 1) ? edge_values[rng() % 15]
                                   : static_cast<int32_t>(rng()) >> (rng() % 32);
            const std::vector<int32_t> in(a);
            int32_t* dst = n % 2 ? a.data() : out.data();
            ASSERT_EQ(addc_32s_sfs(a.data(), val, dst, n, sf), vekStatusOk);
            for (int32_t k = 0; k < n; ++k)
                ASSERT_EQ(dst[k], ref_scaled_add(in[k], val, sf))
                    << a[k] << " + " << val << " scaled by 2^-" << sf;
        }
    }
    // Ties go to even: (5 + 0) / 2 = 2.5 -> 2, (7 + 0) / 2 = 3.5 -> 4, -5 / 2 -> -2.
    const int32_t t[3] = {5, 7, -5};
    int32_t r[3];
    ASSERT_EQ(addc_32s_sfs(t, 0, r, 3, 1), vekStatusOk);
    EXPECT_EQ(r[0], 2);
    EXPECT_EQ(r[1], 4);
    EXPECT_EQ(r[2], -2);
    // The exact sum is scaled, not the saturated one.
    const int32_t big[1] = {kMax};
    ASSERT_EQ(addc_32s_sfs(big, kMax, r, 1, 1), vekStatusOk);
    EXPECT_EQ(r[0], kMax);  // (2^32 - 2) / 2 = 2^31 - 1
    ASSERT_EQ(addc_32s_sfs(big, 1, r, 1, 1), vekStatusOk);
    EXPECT_EQ(r[0], 1 << 30);  // 2^31 / 2
}

// ---------------------------------------------------------------------------
// Fills and copies at small sizes: every length 1..300 at many alignments.

// Fills n elements `off` bytes past a boundary over 0x77 bytes, then checks
// every element and the guard bytes.
template <typename T, typename Fill>
void check_fill(int32_t n, size_t off, T want, Fill fill) {
    Region r(size_t(n) * sizeof(T), off);
    std::memset(r.data(), 0x77, size_t(n) * sizeof(T));
    ASSERT_EQ(fill(r.as<T>(), n), vekStatusOk);
    ASSERT_TRUE(all_equal<T>(r.data(), size_t(n), want)) << n << "@" << off;
    ASSERT_TRUE(r.guards_intact()) << n << "@" << off;
}

vekStatus set_bytes(uint8_t* p, int32_t n) {
    return set_8u(0xE7, p, n);
}
vekStatus set_words(int32_t* p, int32_t n) {
    return set_32s(-0x12345679, p, n);
}

TEST(VectorFill, SmallAllLengthsAndAlignments) {
    for (int32_t n = 1; n <= 300; ++n) {
        for (size_t off = 0; off < 32; ++off) {
            check_fill<uint8_t>(n, off, 0xE7, set_bytes);
            if (off % 4 == 0) {
                check_fill<int32_t>(n, off, -0x12345679, set_words);
                check_fill<int32_t>(n, off, 0, zero_32s);
            }
            if (off % 2 == 0) check_fill<int16_t>(n, off, 0, zero_16s);
        }
    }
}

TEST(VectorCopy, SmallAllLengthsAndAlignments) {
    std::mt19937 rng(3);
    std::vector<uint8_t> src(4 * 300 + 64);
    for (auto& b : src) b = static_cast<uint8_t>(rng());
    for (int32_t n = 1; n <= 300; ++n) {
        for (size_t doff = 0; doff < 32; ++doff) {
            for (size_t soff : {size_t{0}, size_t{1}, size_t{4}, size_t{31}}) {
                Region r(n, doff);
                ASSERT_EQ(copy_8u(src.data() + soff, r.data(), n), vekStatusOk);
                ASSERT_EQ(std::memcmp(r.data(), src.data() + soff, n), 0)
                    << n << " " << doff << " " << soff;
                ASSERT_TRUE(r.guards_intact());
                if (doff % 4 == 0 && soff % 4 == 0) {
                    Region r32(n * 4, doff);
                    const auto* s32 = reinterpret_cast<const int32_t*>(src.data() + soff);
                    ASSERT_EQ(copy_32s(s32, r32.as<int32_t>(), n), vekStatusOk);
                    ASSERT_EQ(std::memcmp(r32.data(), s32, n * 4), 0);
                    ASSERT_TRUE(r32.guards_intact());
                }
            }
        }
    }
}

TEST(VectorCopy, MoveOverlapsBothWays) {
    std::mt19937 rng(12);
    const int32_t deltas[] = {-300, -100, -40, -17, -16, -9, -8, -7, -5, -3, -2,  -1, 0,
                              1,    2,    3,   5,   7,   8,  9,  16, 17, 40, 100, 300};
    std::vector<int32_t> pool(1200);
    for (int32_t n = 1; n <= 300; ++n) {
        for (int32_t delta : deltas) {
            for (int32_t base : {300, 301, 303, 307}) {
                for (auto& x : pool) x = static_cast<int32_t>(rng());
                std::vector<int32_t> want(pool);
                const std::vector<int32_t> s(pool.begin() + base, pool.begin() + base + n);
                std::copy(s.begin(), s.end(), want.begin() + base + delta);
                ASSERT_EQ(move_32s(pool.data() + base, pool.data() + base + delta, n), vekStatusOk);
                ASSERT_EQ(pool, want) << "n=" << n << " delta=" << delta << " base=" << base;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Large fills and copies: each store strategy is reached by forcing the
// reported cache size, and must write exactly the same bytes.

TEST(VectorLarge, FillsBothStrategies) {
    // 1 MiB: fills above 2 MiB stream. 64 MiB or a failing query: ordinary stores.
    for (int32_t cache : {1 << 20, 64 << 20, -1}) {
        ForcedCache fc(cache);
        SCOPED_TRACE(cache);
        for (int32_t n : {2097152, 2097152 + 1, 2097152 + 4096 + 45})
            for (size_t off : {0, 1, 33}) check_fill<uint8_t>(n, off, 0xE7, set_bytes);
        for (int32_t n : {524288, 524288 + 1, 524288 + 1000 + 3})
            for (size_t off : {0, 4, 36}) check_fill<int32_t>(n, off, -0x12345679, set_words);
    }
    // Zeroing above 2 MiB takes the string store, below it vector stores.
    for (int32_t n : {524288 - 1, 524288, 524288 + 1, 524288 + 77})
        for (size_t off : {0, 4, 12}) check_fill<int32_t>(n, off, 0, zero_32s);
    for (int32_t n : {1048576 - 1, 1048576 + 1, 1048576 + 33})
        check_fill<int16_t>(n, 2, 0, zero_16s);
}

struct CopyCase {
    size_t n, src_page_off, dst_page_off;
};

void check_copy(const CopyCase& c, bool words) {
    std::mt19937 rng(static_cast<uint32_t>(c.n + c.src_page_off * 7 + c.dst_page_off));
    Region s(c.n, c.src_page_off, 4096);
    for (size_t k = 0; k < c.n; ++k) s.data()[k] = static_cast<uint8_t>(rng() >> 24);
    Region d(c.n, c.dst_page_off, 4096);
    if (words) {
        ASSERT_EQ(copy_32s(s.as<int32_t>(), d.as<int32_t>(), static_cast<int32_t>(c.n / 4)),
                  vekStatusOk);
    } else {
        ASSERT_EQ(copy_8u(s.data(), d.data(), static_cast<int32_t>(c.n)), vekStatusOk);
    }
    ASSERT_EQ(std::memcmp(s.data(), d.data(), c.n), 0)
        << c.n << " bytes, page offsets " << c.src_page_off << " -> " << c.dst_page_off;
    ASSERT_TRUE(d.guards_intact());
}

TEST(VectorLarge, MediumCopyStrategies) {
    // Destination 0..159 bytes above the source within the page: blocks from
    // the end; any other placement: the string move; below 32 KiB: vectors.
    const CopyCase cases[] = {
        {32767, 0, 0},    {32768, 0, 0},     {32768, 0, 159},  {32768, 0, 160},
        {32769, 100, 99}, {50001, 3, 5},     {50001, 5, 3},    {50001, 1000, 1100},
        {65536, 64, 64},  {100003, 2000, 7}, {4194304, 0, 40}, {4194304, 17, 3000},
    };
    for (int32_t cache : {1 << 20, -1}) {  // no effect up to 4 MiB
        ForcedCache fc(cache);
        for (const auto& c : cases) check_copy(c, false);
    }
}

TEST(VectorLarge, BigCopyBothStrategies) {
    const size_t n = 4194304 + 4096 + 33;
    // 1 MiB: n >= half of it, so the copy streams. 64 MiB (n below half) or a
    // failing query: string move or blocks from the end, by page offsets.
    for (int32_t cache : {1 << 20, 64 << 20, -1}) {
        ForcedCache fc(cache);
        for (const auto& c :
             {CopyCase{n, 0, 0}, CopyCase{n, 7, 1}, CopyCase{n, 1, 100}, CopyCase{n, 300, 0}}) {
            check_copy(c, false);
        }
        check_copy(CopyCase{(n & ~size_t{3}), 0, 4}, true);
        check_copy(CopyCase{(n & ~size_t{3}), 4, 1024}, true);
    }
    // Exactly at the half-cache boundary the copy streams too.
    ForcedCache fc(static_cast<int32_t>(2 * n));
    check_copy(CopyCase{n, 9, 9}, false);
}

// ---------------------------------------------------------------------------
// Bit copy against a bit-at-a-time model.

void model_copy_bits(const uint8_t* s, int32_t soff, uint8_t* d, int32_t doff, int32_t len) {
    for (int32_t t = 0; t < len; ++t) {
        const int32_t sp = (soff & 7) + t, dp = (doff & 7) + t;
        const int bit = (s[sp / 8] >> (sp % 8)) & 1;
        d[dp / 8] = static_cast<uint8_t>((d[dp / 8] & ~(1 << (dp % 8))) | (bit << (dp % 8)));
    }
}

TEST(VectorBitCopy, RandomAgainstModel) {
    std::mt19937 rng(21);
    for (int rep = 0; rep < 20000; ++rep) {
        const int32_t soff = static_cast<int32_t>(rng() % 40);
        const int32_t doff = static_cast<int32_t>(rng() % 40);
        const int32_t len = 1 + static_cast<int32_t>(rep % 4 == 0 ? rng() % 2000 : rng() % 300);
        // Buffers hold exactly the bytes the field touches, so the sanitizer
        // build reports any read or write beyond them.
        std::vector<uint8_t> s(((soff & 7) + len + 7) / 8), d(((doff & 7) + len + 7) / 8);
        for (auto& b : s) b = static_cast<uint8_t>(rng());
        for (auto& b : d) b = static_cast<uint8_t>(rng());
        std::vector<uint8_t> want(d);
        model_copy_bits(s.data(), soff, want.data(), doff, len);
        ASSERT_EQ(copy_be_1u(s.data(), soff, d.data(), doff, len), vekStatusOk);
        ASSERT_EQ(d, want) << "soff=" << soff << " doff=" << doff << " len=" << len;
    }
}

// ---------------------------------------------------------------------------
// Index sort.

// A separate, deliberately plain model of the sort: (value, index) pairs that
// move as one, a growable list of pending ranges, one statement per rule.
struct Item {
    int32_t v, k;
};

void model_sort(std::vector<Item>& e) {
    const int n = static_cast<int>(e.size());
    if (n == 1) return;
    std::vector<std::pair<int, int>> pending;
    int lo = 0, hi = n - 1;
    for (;;) {
        while (hi - lo + 1 > 9) {
            const int count = hi - lo + 1;
            // Median of three.
            if (e[lo].v < e[lo + 1].v) std::swap(e[lo], e[lo + 1]);
            const int mid = lo + (count >> 1);
            const Item A = e[lo], M = e[mid], Z = e[hi];
            const Item low = M.v < A.v ? M : A, high = M.v < A.v ? A : M;
            e[lo] = (Z.v < low.v) ? Z : low;
            const Item m = (low.v <= Z.v) ? Z : low;
            e[mid] = m.v < high.v ? m : high;
            e[hi] = m.v < high.v ? high : m;
            const int32_t p = e[mid].v;
            // Partition.
            int i = lo + 1, j = hi;
            for (;;) {
                while (i < j && e[i].v <= p) ++i;
                while (j > i && p < e[j].v) --j;
                if (i == j) break;
                std::swap(e[i], e[j]);
            }
            // Parts: the left one without its trailing pivot-equal values.
            int L = i - 1;
            while (e[L].v == p && L > lo) --L;
            const int left = L - lo + 1, right = hi - i + 1;
            if (left < right) {
                if (left > 1) {
                    pending.push_back({i, hi});
                    hi = L;
                } else {
                    lo = i;
                }
            } else {
                if (right == 1) {
                    hi = L;
                } else {
                    pending.push_back({lo, L});
                    lo = i;
                }
            }
        }
        // Selection.
        while (hi > lo) {
            int c = lo;
            for (int k = lo; k <= hi; ++k)
                if (e[k].v >= e[c].v) c = k;
            std::swap(e[c], e[hi]);
            hi = hi - 1;
        }
        if (pending.empty()) return;
        lo = pending.back().first;
        hi = pending.back().second;
        pending.pop_back();
    }
}

// Sorts `values` both ways and checks order, the index permutation and the
// exact agreement with the model.
void check_sort(const std::vector<int32_t>& values) {
    const int32_t n = static_cast<int32_t>(values.size());
    std::vector<int32_t> a(values), idx(n, -1);
    ASSERT_EQ(sort_index_ascend_32s_i(a.data(), idx.data(), n), vekStatusOk);
    ASSERT_TRUE(std::is_sorted(a.begin(), a.end())) << "n=" << n;
    std::vector<bool> seen(n, false);
    for (int32_t k = 0; k < n; ++k) {
        ASSERT_TRUE(idx[k] >= 0 && idx[k] < n && !seen[idx[k]]) << "not a permutation, n=" << n;
        seen[idx[k]] = true;
        ASSERT_EQ(values[idx[k]], a[k]);
    }
    std::vector<Item> e(n);
    for (int32_t k = 0; k < n; ++k) e[k] = Item{values[k], k};
    model_sort(e);
    for (int32_t k = 0; k < n; ++k)
        ASSERT_EQ(idx[k], e[k].k) << "tie order differs at " << k << ", n=" << n;
}

// Traced by hand through the steps. The first takes the trimming of
// pivot-equal values and the single-element right part; the second swaps in
// the partition, pushes the left part and finishes both parts by selection.
TEST(VectorSort, HandTraced) {
    using V = std::vector<int32_t>;
    const struct {
        V in, sorted, idx;
    } traces[] = {{{2, 7, 2, 5, 2, 9, 2, 1, 7, 2},
                   {1, 2, 2, 2, 2, 2, 5, 7, 7, 9},
                   {7, 9, 0, 2, 6, 4, 3, 1, 8, 5}},
                  {{4, 1, 8, 3, 8, 0, 6, 2, 9, 4, 5, 3},
                   {0, 1, 2, 3, 3, 4, 4, 5, 6, 8, 8, 9},
                   {5, 1, 7, 11, 3, 9, 0, 10, 6, 4, 2, 8}}};
    for (const auto& t : traces) {
        V a(t.in), idx(t.in.size());
        ASSERT_EQ(sort_index_ascend_32s_i(a.data(), idx.data(), static_cast<int32_t>(a.size())),
                  vekStatusOk);
        EXPECT_EQ(a, t.sorted);
        EXPECT_EQ(idx, t.idx);
    }
    // The model agrees with both traces.
    check_sort({2, 7, 2, 5, 2, 9, 2, 1, 7, 2});
    check_sort({4, 1, 8, 3, 8, 0, 6, 2, 9, 4, 5, 3});
}

TEST(VectorSort, RandomSmallArraysWithTies) {
    std::mt19937 rng(31);
    const uint32_t ranges[] = {1, 2, 3, 4, 6, 10, 30, 1000};
    for (int rep = 0; rep < 6000; ++rep) {
        const int32_t n = 1 + static_cast<int32_t>(rng() % 200);
        const uint32_t range = ranges[rep % 8];
        const int32_t base = (rep % 5 == 0) ? kMin : (rep % 5 == 1 ? kMax - 1000 : -500);
        std::vector<int32_t> v(n);
        for (auto& x : v) x = base + static_cast<int32_t>(rng() % range);
        check_sort(v);
    }
    // Full-range values, extremes mixed in.
    for (int rep = 0; rep < 500; ++rep) {
        std::vector<int32_t> v(1 + rng() % 200);
        for (auto& x : v) x = static_cast<int32_t>(rng());
        v[rng() % v.size()] = kMin;
        v[rng() % v.size()] = kMax;
        check_sort(v);
    }
    // Presorted, reversed and constant runs at every length up to 200.
    for (int32_t n = 1; n <= 200; ++n) {
        std::vector<int32_t> up(n), down(n), same(n, 9);
        for (int32_t k = 0; k < n; ++k) up[k] = k / 3, down[k] = (n - k) / 2;
        check_sort(up);
        check_sort(down);
        check_sort(same);
    }
}

TEST(VectorSort, LargeArrays) {
    std::mt19937 rng(41);
    const int32_t n = 100000;
    for (uint32_t range : {4u, 1000u, 0u}) {
        std::vector<int32_t> v(n);
        for (auto& x : v)
            x = range ? static_cast<int32_t>(rng() % range) : static_cast<int32_t>(rng());
        check_sort(v);
    }
    std::vector<int32_t> v(n);
    for (int32_t k = 0; k < n; ++k) v[k] = k / 7;
    check_sort(v);
    for (int32_t k = 0; k < n; ++k) v[k] = (n - k) / 5;
    check_sort(v);
    check_sort(std::vector<int32_t>(n, -3));
}

}  // namespace
