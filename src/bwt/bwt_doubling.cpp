// Forward transform by prefix doubling on rotations.
//
// Rows start grouped by their first byte. Each round sorts every unsorted
// group by the rank of the rotation h bytes further on, which orders the
// group by its first 2h bytes, and splits it into subgroups of equal key.
// Ranks are the first row of a rotation's group and are updated in place
// during a round (a refined rank never contradicts the coarser order).
// Runs of sorted rows are kept as one negative length at the run's first
// row so that later rounds skip them. The running time is O(n log n) on
// any block, however repetitive.
#include <algorithm>
#include <cstring>

#include "bwt/bwt_sort.h"

namespace vek::bwt {

namespace {

constexpr int32_t kSmallSort = 9;

inline void swap_pair(int32_t* keys, int32_t* rows, int32_t a, int32_t b) {
    std::swap(keys[a], keys[b]);
    std::swap(rows[a], rows[b]);
}

inline int32_t median3(const int32_t* keys, int32_t a, int32_t b, int32_t c) {
    const int32_t x = keys[a], y = keys[b], z = keys[c];
    return std::max(std::min(x, y), std::min(std::max(x, y), z));
}

// Heap sort of the pairs of [lo, hi] by key: the guaranteed O(m log m)
// finish for ranges whose pivots keep splitting badly.
void heap_sort_by_key(int32_t* keys, int32_t* rows, int32_t lo, int32_t hi) {
    int32_t* const k = keys + lo;
    int32_t* const r = rows + lo;
    const int32_t m = hi - lo + 1;
    auto sift = [&](int32_t at, int32_t size) {
        for (;;) {
            int32_t child = 2 * at + 1;
            if (child >= size) return;
            if (child + 1 < size && k[child + 1] > k[child]) ++child;
            if (k[child] <= k[at]) return;
            swap_pair(k, r, at, child);
            at = child;
        }
    };
    for (int32_t i = m / 2 - 1; i >= 0; --i) sift(i, m);
    for (int32_t end = m - 1; end > 0; --end) {
        swap_pair(k, r, 0, end);
        sift(0, end);
    }
}

// Sorts the pairs (keys[i], rows[i]) of [lo, hi] by key: three-way
// quicksort around a median-of-three (ninther for large ranges) pivot, the
// larger side kept on a stack and the smaller side sorted next (so the
// stack stays within log2 of the count), insertion sort for small ranges,
// heap sort for a range that has been split too many times.
void sort_by_key(int32_t* keys, int32_t* rows, int32_t lo, int32_t hi) {
    struct Span {
        int32_t lo, hi, splits;
    } stack[64];
    int sp = 0;
    int32_t splits = 0;
    int32_t limit = 2;
    for (int32_t m = hi - lo + 1; m > 1; m >>= 1) limit += 2;
    for (;;) {
        while (hi - lo + 1 >= kSmallSort) {
            if (++splits > limit) {
                heap_sort_by_key(keys, rows, lo, hi);
                lo = hi;
                break;
            }
            const int32_t mid = lo + (hi - lo) / 2;
            int32_t v;
            if (hi - lo >= 64) {
                const int32_t e = (hi - lo) / 8;
                const int32_t a = median3(keys, lo, lo + e, lo + 2 * e);
                const int32_t b = median3(keys, mid - e, mid, mid + e);
                const int32_t c = median3(keys, hi - 2 * e, hi - e, hi);
                v = std::max(std::min(a, b), std::min(std::max(a, b), c));
            } else {
                v = median3(keys, lo, mid, hi);
            }
            int32_t lt = lo, i = lo, gt = hi;
            while (i <= gt) {
                const int32_t k = keys[i];
                if (k < v) {
                    swap_pair(keys, rows, i++, lt++);
                } else if (k > v) {
                    swap_pair(keys, rows, i, gt--);
                } else {
                    ++i;
                }
            }
            // [lo, lt) < v, [lt, gt] == v, (gt, hi] > v
            if (lt - lo < hi - gt) {
                if (hi - gt > 1) stack[sp++] = {gt + 1, hi, splits};
                hi = lt - 1;
            } else {
                if (lt - lo > 1) stack[sp++] = {lo, lt - 1, splits};
                lo = gt + 1;
            }
        }
        for (int32_t i = lo + 1; i <= hi; ++i) {
            const int32_t k = keys[i], r = rows[i];
            int32_t j = i;
            for (; j > lo && keys[j - 1] > k; --j) {
                keys[j] = keys[j - 1];
                rows[j] = rows[j - 1];
            }
            keys[j] = k;
            rows[j] = r;
        }
        if (sp == 0) return;
        --sp;
        lo = stack[sp].lo;
        hi = stack[sp].hi;
        splits = stack[sp].splits;
    }
}

}  // namespace

void doubling_transform(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index,
                        int32_t* work) {
    int32_t* const sa = work;            // rotation in each row
    int32_t* const group = work + n;     // group length (or -run length) at a group's first row
    int32_t* const rank = work + 2 * n;  // first row of each rotation's group
    int32_t* const keys = work + 3 * n;  // sort keys of the group being sorted

    int32_t count[256] = {};
    for (int32_t i = 0; i < n; ++i) ++count[src[i]];
    int32_t start[256];
    int32_t distinct = 0;
    for (int32_t c = 0, sum = 0; c < 256; ++c) {
        start[c] = sum;
        if (count[c]) {
            group[sum] = count[c];
            ++distinct;
        }
        sum += count[c];
    }
    if (distinct < 2) {
        std::memcpy(dst, src, size_t(n));
        *index = 0;
        return;
    }
    for (int32_t i = 0; i < n; ++i) rank[i] = start[src[i]];
    for (int32_t i = 0; i < n; ++i) sa[start[src[i]]++] = i;

    // After the round with step h the rows are ordered by 2h bytes; once
    // 2h >= n whatever is still grouped is equal over all n bytes.
    // A round that splits no group ends the sort: the grouping by 2h bytes
    // then equals the one by h bytes, so every longer prefix keeps it too,
    // and what is still grouped is equal over all n bytes (periodic blocks).
    bool split = true;
    for (int64_t h = 1; h < n && split; h *= 2) {
        if (group[0] == -n) break;
        split = false;
        int32_t k = 0;
        int32_t run = -1;  // first row of the sorted run being extended
        while (k < n) {
            const int32_t len = group[k];
            if (len < 0 || len == 1) {
                if (run < 0) run = k;
                k += len < 0 ? -len : 1;
                group[run] = -(k - run);
                continue;
            }
            const int32_t end = k + len;
            for (int32_t t = k; t < end; ++t) {
                int64_t p = sa[t] + h;
                if (p >= n) p -= n;
                keys[t] = rank[p];
            }
            sort_by_key(keys, sa, k, end - 1);
            if (keys[k] == keys[end - 1]) {  // one key: the group stays whole
                run = -1;
                k = end;
                continue;
            }
            split = true;
            for (int32_t a = k; a < end;) {
                int32_t b = a + 1;
                while (b < end && keys[b] == keys[a]) ++b;
                for (int32_t t = a; t < b; ++t) rank[sa[t]] = a;
                if (b - a == 1) {
                    if (run < 0) run = a;
                    group[run] = -(b - run);
                } else {
                    group[a] = b - a;
                    run = -1;
                }
                a = b;
            }
            k = end;
        }
    }

    for (int32_t k = 0; k < n; ++k) {
        const int32_t r = sa[k];
        if (r == 0) {
            *index = k;
            dst[k] = src[n - 1];
        } else {
            dst[k] = src[r - 1];
        }
    }
}

}  // namespace vek::bwt
