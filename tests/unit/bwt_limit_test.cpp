// The work limit of the budgeted forward transform: whether the limited
// method gives up must follow the comparison sort exactly (byte keys below
// depth 6, 4-byte keys from there, shell sort of small ranges and of ranges
// 14 bytes deep, each shell comparison charged the equal bytes it passes).
// A plain model of the seed classification and of that sort decides when the
// budget runs out; the library must agree on every block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Span {
    int lo, hi, depth;
};

class ModelSort {
  public:
    ModelSort(const Bytes& T, int n) : T_(T), n_(n) {}

    // Sorts rows[lo..hi] from `depth`; false when the budget ran out.
    bool sort(std::vector<int>& rows, int lo, int hi, int depth, long long& budget) {
        std::vector<Span> stack{{lo, hi, depth}};
        while (!stack.empty()) {
            const Span r = stack.back();
            stack.pop_back();
            if (r.depth >= n_) continue;
            if (r.hi - r.lo < 11 || r.depth >= 14) {
                if (!shell(rows, r, budget)) return false;
                continue;
            }
            const int step = r.depth < 6 ? 1 : 4;
            auto key = [&](int row) -> unsigned {
                const uint8_t* p = &T_[size_t(row + r.depth)];
                if (step == 1) return p[0];
                return unsigned(p[0]) << 24 | unsigned(p[1]) << 16 | unsigned(p[2]) << 8 | p[3];
            };
            unsigned ka = key(rows[r.lo]), kb = key(rows[(r.lo + r.hi) / 2]);
            const unsigned kc = key(rows[r.hi]);
            if (ka > kb) std::swap(ka, kb);
            const unsigned v = kb > kc ? std::max(ka, kc) : kb;
            int a = r.lo, b = r.lo, c = r.hi, d = r.hi;
            for (;;) {
                for (; b <= c && key(rows[b]) <= v; ++b)
                    if (key(rows[b]) == v) std::swap(rows[a++], rows[b]);
                for (; b <= c && key(rows[c]) >= v; --c)
                    if (key(rows[c]) == v) std::swap(rows[c], rows[d--]);
                if (b > c) break;
                std::swap(rows[b++], rows[c--]);
            }
            int s = std::min(a - r.lo, b - a);
            for (int i = 0; i < s; ++i) std::swap(rows[r.lo + i], rows[b - s + i]);
            s = std::min(d - c, r.hi - d);
            for (int i = 0; i < s; ++i) std::swap(rows[b + i], rows[r.hi - s + 1 + i]);
            const int lt = b - a, gt = d - c;
            if (lt == 0 && gt == 0) {
                stack.push_back({r.lo, r.hi, r.depth + step});
                continue;
            }
            const size_t base = stack.size();
            if (lt >= 2) stack.push_back({r.lo, r.lo + lt - 1, r.depth});
            if (r.hi - gt - (r.lo + lt) + 1 >= 2)
                stack.push_back({r.lo + lt, r.hi - gt, r.depth + step});
            if (gt >= 2) stack.push_back({r.hi - gt + 1, r.hi, r.depth});
            const size_t top = stack.size();
            auto span = [&](size_t i) { return stack[i].hi - stack[i].lo; };
            if (top - base >= 2) {
                if (span(base) < span(top - 1)) std::swap(stack[base], stack[top - 1]);
                for (size_t t = base; t + 1 < top; ++t)
                    if (span(t) < span(t + 1)) std::swap(stack[t], stack[t + 1]);
            }
        }
        return true;
    }

  private:
    // <0, 0, >0 for rotation x against y from `depth`; `passed` as charged.
    int compare(int x, int y, int depth, int& passed) const {
        const int len = n_ - depth;
        const uint8_t* p = &T_[size_t(x + depth)];
        const uint8_t* q = &T_[size_t(y + depth)];
        int o = 0;
        for (; o + 4 <= (len / 4) * 4; o += 4)
            if (std::memcmp(p + o, q + o, 4) != 0) {
                passed = o;
                return std::memcmp(p + o, q + o, 4);
            }
        for (; o < len; ++o)
            if (p[o] != q[o]) {
                passed = o;
                return p[o] < q[o] ? -1 : 1;
            }
        passed = len;
        return 0;
    }

    bool shell(std::vector<int>& rows, const Span& r, long long& budget) const {
        static const int kGaps[] = {1,      4,      10,      23,      57,      132,
                                    301,    701,    1750,    5250,    15750,   47250,
                                    141750, 425250, 1275750, 3827250, 11481750};
        const int count = r.hi - r.lo + 1;
        int g = -1;
        while (g + 1 < int(std::size(kGaps)) && kGaps[g + 1] < count) ++g;
        for (; g >= 0; --g) {
            const int h = kGaps[g];
            for (int i = r.lo + h; i <= r.hi; ++i) {
                const int v = rows[size_t(i)];
                int j = i;
                while (j - h >= r.lo) {
                    int passed = 0;
                    const int c = compare(v, rows[size_t(j - h)], r.depth, passed);
                    budget -= passed;
                    if (budget < 0) return false;
                    if (c >= 0) break;
                    rows[size_t(j)] = rows[size_t(j - h)];
                    j -= h;
                }
                rows[size_t(j)] = v;
            }
        }
        return true;
    }

    const Bytes& T_;
    int n_;
};

// True when the budgeted seed sort of block s (at least 100 bytes, not one
// repeated byte) runs out of its budget.
bool model_runs_out(const Bytes& s) {
    const int n = int(s.size());
    Bytes T(s);
    T.insert(T.end(), s.begin(), s.end());
    T.insert(T.end(), 8, 0);  // keys near the end of the copy stay in the vector
    // Types, cyclically: start from a position whose pair is unequal.
    std::vector<bool> typeA(size_t(n), false);
    int p = 0;
    while (T[size_t(p)] == T[size_t(p + 1)]) ++p;
    for (int k = 0; k < n; ++k) {
        const int i = ((p - k) % n + n) % n;
        typeA[size_t(i)] = T[size_t(i)] != T[size_t(i + 1)] ? T[size_t(i)] > T[size_t(i + 1)]
                                                            : bool(typeA[size_t((i + 1) % n)]);
    }
    std::vector<std::vector<int>> bucket(65536);
    for (int i = n - 1; i >= 0; --i)
        if (!typeA[size_t(i)] && typeA[size_t((i + 1) % n)])
            bucket[size_t(T[size_t(i)] * 256 + T[size_t(i + 1)])].push_back(i);
    ModelSort sorter(T, n);
    long long budget = n < 99900 ? 100LL * n : 25LL * n;
    for (int b = 0; b < 65536; ++b) {
        std::vector<int>& rows = bucket[size_t(b)];
        if (rows.size() < 2) continue;
        if (!sorter.sort(rows, 0, int(rows.size()) - 1, 2, budget)) return true;
    }
    return false;
}

vekStatus limited_status(const Bytes& s) {
    uint32_t size = 0;
    EXPECT_EQ(veksBWTFwdGetBufSize_SelectSort_8u(uint32_t(s.size()), &size, vekBWTSortLimited),
              vekStatusOk);
    Bytes buf(size), dst(s.size());
    uint32_t index = 0;
    return veksBWTFwd_SelectSort_8u(s.data(), dst.data(), uint32_t(s.size()), &index, buf.data(),
                                    vekBWTSortLimited);
}

// A motif repeated, with a fraction of its bytes replaced at random: the
// more noise, the less the comparison sort has to pass.
Bytes noisy_repeat(const char* motif, size_t n, unsigned noise_per_mille, uint32_t seed) {
    const Bytes r = vek::testdata::random_bytes(2 * n, seed);
    const size_t m = std::strlen(motif);
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = uint8_t(motif[i % m]);
        if ((r[2 * i] * 256u + r[2 * i + 1]) % 1000 < noise_per_mille)
            out[i] = uint8_t('a' + r[i] % 4);
    }
    return out;
}

TEST(BwtLimit, RunsOutExactlyWhenTheSeedSortDoes) {
    int outs = 0, fits = 0;
    const char* const motifs[] = {"ab", "abc", "abcabd", "abacabad", "the quick brown fox "};
    for (const char* motif : motifs)
        for (size_t n : {100u, 240u, 700u, 2000u})
            for (unsigned noise : {0u, 5u, 20u, 60u, 150u})
                for (uint32_t seed = 1; seed <= 3; ++seed) {
                    const Bytes s = noisy_repeat(motif, n, noise, seed);
                    if (std::all_of(s.begin(), s.end(), [&](uint8_t b) { return b == s[0]; }))
                        continue;
                    const bool out = model_runs_out(s);
                    (out ? outs : fits) += 1;
                    EXPECT_EQ(limited_status(s), out ? vekStatusSortLimitReached : vekStatusOk)
                        << motif << " n=" << n << " noise=" << noise << " seed=" << seed;
                }
    // Both outcomes occur, so the comparison decides something.
    EXPECT_GT(outs, 0);
    EXPECT_GT(fits, 0);
}

TEST(BwtLimit, BudgetShrinksAtTheLargeBlockSize) {
    // 100 bytes of budget per byte below 99900 bytes, 25 from there on: one
    // more byte of a moderately repetitive block makes the sort run out.
    int flips = 0;
    for (unsigned noise : {40u, 80u, 150u}) {
        bool out[2];
        for (int k = 0; k < 2; ++k) {
            const Bytes s = noisy_repeat("the quick brown fox ", size_t(99899 + k), noise, 7);
            out[k] = model_runs_out(s);
            EXPECT_EQ(limited_status(s), out[k] ? vekStatusSortLimitReached : vekStatusOk)
                << noise << " " << 99899 + k;
        }
        flips += !out[0] && out[1];
    }
    EXPECT_GT(flips, 0);
}

}  // namespace
