// Index sort: a quicksort with median-of-three pivots that finishes ranges of
// at most 9 elements by selection. It is not stable, and the Huffman length
// builders depend on exactly where equal keys end up (that decides which of
// several equal-weight symbols receives the longer code). Every comparison,
// assignment and range choice below is therefore fixed; "improving" any of
// them changes the codes the compressors emit.
//
// Values and indices always move together: a slot is written as a pair.
#include <cstdint>

#include "vector.h"

namespace vek::vector {
namespace {

// Ranges of at most this many elements are finished by selection.
constexpr int32_t kSelectionMax = 9;

// The partition always continues with the smaller part and pushes the larger
// one, so while k ranges are pending the current range holds at most n / 2^k
// elements, and a push needs a current range of at least 10. With n below
// 2^31 that allows at most 28 pending ranges; 64 leaves a wide margin and
// costs 512 bytes of stack.
constexpr int kStackDepth = 64;

struct Range {
    int32_t lo, hi;
};

struct Sorter {
    int32_t* a;
    int32_t* idx;

    void swap(int32_t x, int32_t y) {
        const int32_t v = a[x], k = idx[x];
        a[x] = a[y];
        idx[x] = idx[y];
        a[y] = v;
        idx[y] = k;
    }

    // Median of three over a[lo], a[mid], a[hi] after ordering the first two
    // descending. Leaves the smallest in a[lo] and the pivot in a[mid], and
    // returns the pivot value.
    int32_t median_of_three(int32_t lo, int32_t hi) {
        if (a[lo] < a[lo + 1]) swap(lo, lo + 1);
        const int32_t mid = lo + ((hi - lo + 1) >> 1);
        // low/high: the first and middle values in order, M taken as low only
        // when strictly smaller.
        int32_t low_v = a[lo], low_i = idx[lo], high_v = a[mid], high_i = idx[mid];
        if (high_v < low_v) {
            low_v = a[mid], low_i = idx[mid];
            high_v = a[lo], high_i = idx[lo];
        }
        const int32_t z_v = a[hi], z_i = idx[hi];
        int32_t m_v, m_i;
        if (z_v < low_v) {
            a[lo] = z_v, idx[lo] = z_i;
            m_v = low_v, m_i = low_i;
        } else {
            a[lo] = low_v, idx[lo] = low_i;
            m_v = z_v, m_i = z_i;
        }
        if (m_v < high_v) {
            a[mid] = m_v, idx[mid] = m_i;
            a[hi] = high_v, idx[hi] = high_i;
        } else {
            a[mid] = high_v, idx[mid] = high_i;
            a[hi] = m_v, idx[hi] = m_i;
        }
        return a[mid];
    }

    // Repeatedly moves the largest value of [lo, hi] to hi; on ties the later
    // position is taken.
    void selection(int32_t lo, int32_t hi) {
        for (; hi > lo; --hi) {
            int32_t best = lo;
            for (int32_t k = lo + 1; k <= hi; ++k)
                if (a[k] >= a[best]) best = k;
            swap(best, hi);
        }
    }

    void run(int32_t n) {
        Range stack[kStackDepth];
        int depth = 0;
        int32_t lo = 0, hi = n - 1;
        for (;;) {
            while (hi - lo + 1 > kSelectionMax) {
                const int32_t p = median_of_three(lo, hi);

                // a[lo] is already no larger than the pivot, so the scan starts
                // one above it. i stops at a value above the pivot, j at one not
                // above it; i never passes j.
                int32_t i = lo + 1, j = hi;
                for (;;) {
                    if (i < j)
                        while (a[i] <= p && i < j) ++i;
                    if (i < j)
                        while (p < a[j] && j > i) --j;
                    if (i == j) break;
                    swap(i, j);
                }

                // Right part [i, hi]; left part [lo, left_hi]. Pivot-equal values
                // just left of i are final and drop out of the left part.
                int32_t left_hi = i - 1;
                if (a[left_hi] == p)
                    while (a[left_hi] == p && left_hi > lo) --left_hi;

                const int32_t left_n = left_hi - lo + 1, right_n = hi - i + 1;
                if (left_n < right_n) {
                    if (left_n > 1) {
                        stack[depth++] = Range{i, hi};
                        hi = left_hi;
                    } else {
                        lo = i;
                    }
                } else if (right_n == 1) {
                    hi = left_hi;
                } else {
                    stack[depth++] = Range{lo, left_hi};
                    lo = i;
                }
            }
            selection(lo, hi);
            if (depth == 0) return;
            --depth;
            lo = stack[depth].lo;
            hi = stack[depth].hi;
        }
    }
};

}  // namespace

vekStatus sort_index_ascend_32s_i(int32_t* src_dst, int32_t* dst_idx, int32_t len) {
    if (src_dst == nullptr || dst_idx == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    if (len == 1) {
        dst_idx[0] = 0;
        return vekStatusOk;
    }
    for (int32_t k = 0; k < len; ++k) dst_idx[k] = k;
    Sorter{src_dst, dst_idx}.run(len);
    return vekStatusOk;
}

}  // namespace vek::vector
