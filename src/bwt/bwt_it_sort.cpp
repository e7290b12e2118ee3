// Ternary (multikey) quicksort of rotations with a shell-sort finish.
//
// Ranges are kept on a small explicit stack of (lo, hi, depth) entries,
// where `depth` bytes are known to be shared by every rotation of the range.
// With wide keys, partitioning looks at one byte while fewer than two are
// known equal and at the big-endian 64-bit word of the next eight bytes
// after that (one byte again where fewer than eight remain), so ranges
// advance eight bytes per level. Narrow keys take one byte below depth 6
// and a 4-byte word from there. Under a work budget, small ranges and ranges
// at depth 14 or more are finished by shell sort, which charges the budget
// the equal bytes each comparison passes; that is where long repeats cost,
// and running out is how a caller learns the block is too repetitive for
// this engine. Which ranges reach the shell sort at which depth depends on
// the keys, so a caller that reports exhaustion uses the narrow ones.
#include <algorithm>
#include <cstring>

#include "bwt/bwt_sort.h"
#include "core/load.h"

namespace vek::bwt {

namespace {

constexpr int kStackEntries = 40;
constexpr int32_t kShellRange = 11;      // ranges with hi - lo below this are shell-sorted
constexpr int32_t kShellDepth = 14;      // budgeted ranges this deep are shell-sorted
constexpr int32_t kKeyedShell = 32;      // shell sorts of ranges this small cache 8-byte keys
constexpr int32_t kAhead = 12;           // partition scans prefetch this many rows ahead
constexpr int32_t kWordDepth = 2;        // from here on wide keys are 8-byte words
constexpr int32_t kNarrowWordDepth = 6;  // from here on narrow keys are 4-byte words

constexpr int32_t kGaps[22] = {1,         4,         10,        23,        57,       132,
                               301,       701,       1750,      5250,      15750,    47250,
                               141750,    425250,    1275750,   3827250,   11481750, 34445250,
                               103335750, 310007250, 930021750, 2147483647};

struct Range {
    int32_t lo, hi, depth;
};

// Compares two rotations from offset `depth` over their remaining len bytes,
// in 4-byte words first, then byte by byte. *passed receives the equal bytes
// passed before the decision: the offset of the first unequal word in the
// word phase, of the first unequal byte in the byte phase, len if equal.
inline int compare_rotations(const uint8_t* pa, const uint8_t* pb, int32_t len, int32_t* passed) {
    const int32_t words = len & ~3;
    int32_t o = 0;
    for (; o + 8 <= words; o += 8) {
        const uint64_t x = load64(pa + o) ^ load64(pb + o);
        if (x) {
            const int32_t at = o + (__builtin_ctzll(x) >> 3);
            *passed = at & ~3;
            return pa[at] < pb[at] ? -1 : 1;
        }
    }
    if (o < words) {
        const uint32_t x = load32(pa + o) ^ load32(pb + o);
        if (x) {
            const int32_t at = o + (__builtin_ctz(x) >> 3);
            *passed = o;
            return pa[at] < pb[at] ? -1 : 1;
        }
        o += 4;
    }
    for (; o < len; ++o)
        if (pa[o] != pb[o]) {
            *passed = o;
            return pa[o] < pb[o] ? -1 : 1;
        }
    *passed = len;
    return 0;
}

// A rotation's first 8 bytes from the sort offset, cached beside its row
// for the shell sort of small ranges: most comparisons end inside them.
struct Keyed {
    uint64_t key;  // big-endian, so integer order is byte order
    int32_t row;
};

// The same comparison as compare_rotations, answered from the cached
// words when they differ (len >= 8, so they lie in the word phase).
inline int compare_keyed(const uint8_t* base, const Keyed& a, const Keyed& b, int32_t len,
                         int32_t* passed) {
    if (a.key != b.key) {
        *passed = (__builtin_clzll(a.key ^ b.key) >> 3) & ~3;
        return a.key < b.key ? -1 : 1;
    }
    const int c = compare_rotations(base + a.row + 8, base + b.row + 8, len - 8, passed);
    *passed += 8;
    return c;
}

// Gapped insertion sorts of items[0..count); false when the budget ran
// out (the items are then a permutation of the range, partly ordered).
template <typename Item, typename Compare>
bool gapped_insertion(Item* items, int32_t count, int64_t* budget, bool limited, Compare cmp) {
    int g = 0;
    while (kGaps[g + 1] < count) ++g;
    for (; g >= 0; --g) {
        const int32_t h = kGaps[g];
        for (int32_t i = h; i < count; ++i) {
            const Item v = items[i];
            int32_t j = i;
            while (j - h >= 0) {
                int32_t passed;
                const int c = cmp(v, items[j - h], &passed);
                if (limited) {
                    *budget -= passed;
                    if (*budget < 0) {
                        items[j] = v;
                        return false;
                    }
                }
                if (c >= 0) break;
                items[j] = items[j - h];
                j -= h;
            }
            items[j] = v;
        }
    }
    return true;
}

// Shell sort of rows[lo..hi]; false when the budget ran out.
bool shell_sort(const uint8_t* T, int32_t n, int32_t* rows, int32_t lo, int32_t hi, int32_t depth,
                int64_t* budget, bool limited) {
    const int32_t count = hi - lo + 1;
    if (count < 2) return true;
    const int32_t len = n - depth;
    const uint8_t* base = T + depth;
    if (count <= kKeyedShell && len >= 8) {
        // Gathering the words first lets their cache misses overlap.
        Keyed items[kKeyedShell];
        for (int32_t t = 0; t < count; ++t) {
            items[t].row = rows[lo + t];
            items[t].key = __builtin_bswap64(load64(base + items[t].row));
        }
        const bool done = gapped_insertion(items, count, budget, limited,
                                           [base, len](const Keyed& a, const Keyed& b, int32_t* p) {
                                               return compare_keyed(base, a, b, len, p);
                                           });
        for (int32_t t = 0; t < count; ++t) rows[lo + t] = items[t].row;
        return done;
    }
    return gapped_insertion(rows + lo, count, budget, limited,
                            [base, len](int32_t a, int32_t b, int32_t* p) {
                                return compare_rotations(base + a, base + b, len, p);
                            });
}

// Partition keys: one byte, or the big-endian word of the next 4 or 8 bytes.
template <int Bytes>
inline uint64_t key_of(const uint8_t* Td, int32_t row) {
    if constexpr (Bytes == 8) {
        return __builtin_bswap64(load64(Td + row));
    } else if constexpr (Bytes == 4) {
        return __builtin_bswap32(load32(Td + row));
    } else {
        return Td[row];
    }
}

inline void swap_block(int32_t* a, int32_t* b, int32_t count) {
    for (int32_t i = 0; i < count; ++i) std::swap(a[i], b[i]);
}

// Three-way partition of rows[lo..hi] around the median-of-three key, equal
// keys gathered at both ends and then swapped into the middle. On return
// the < range is [lo, *lt_end) and the > range is [*gt_start, hi].
template <int Bytes>
void partition(const uint8_t* Td, int32_t* rows, int32_t lo, int32_t hi, int32_t* lt_end,
               int32_t* gt_start) {
    uint64_t ka = key_of<Bytes>(Td, rows[lo]);
    uint64_t kb = key_of<Bytes>(Td, rows[lo + (hi - lo) / 2]);
    const uint64_t kc = key_of<Bytes>(Td, rows[hi]);
    if (ka > kb) std::swap(ka, kb);
    const uint64_t v = kb > kc ? std::max(ka, kc) : kb;

    int32_t a = lo, b = lo, c = hi, d = hi;
    for (;;) {
        // The keys are scattered over the block: fetch them ahead of the
        // scans so that the misses overlap.
        while (b <= c) {
            if (b + kAhead <= c) __builtin_prefetch(Td + rows[b + kAhead]);
            const uint64_t k = key_of<Bytes>(Td, rows[b]);
            if (k > v) break;
            if (k == v) std::swap(rows[a++], rows[b]);
            ++b;
        }
        while (b <= c) {
            if (c - kAhead >= b) __builtin_prefetch(Td + rows[c - kAhead]);
            const uint64_t k = key_of<Bytes>(Td, rows[c]);
            if (k < v) break;
            if (k == v) std::swap(rows[c], rows[d--]);
            --c;
        }
        if (b > c) break;
        std::swap(rows[b++], rows[c--]);
    }
    const int32_t s1 = std::min(a - lo, b - a);
    swap_block(rows + lo, rows + b - s1, s1);
    const int32_t s2 = std::min(d - c, hi - d);
    swap_block(rows + b, rows + hi - s2 + 1, s2);
    *lt_end = lo + (b - a);
    *gt_start = hi - (d - c) + 1;
}

inline int32_t span(const Range& r) {
    return r.hi - r.lo;
}

}  // namespace

void it_sort(const uint8_t* T, int32_t n, int32_t* rows, int32_t lo, int32_t hi, int32_t depth,
             int64_t* budget, SortKeys keys) {
    const bool limited = *budget >= 0;
    Range stack[kStackEntries];
    int sp = 0;
    stack[sp++] = {lo, hi, depth};
    while (sp > 0) {
        const Range r = stack[--sp];
        // Rotations equal over all n bytes may stand in any order.
        if (r.depth >= n) continue;
        // A round pushes up to three ranges; the smallest-first order keeps
        // the stack far from full, but a full one still ends sorted.
        if (r.hi - r.lo < kShellRange || (limited && r.depth >= kShellDepth) ||
            sp > kStackEntries - 3) {
            if (!shell_sort(T, n, rows, r.lo, r.hi, r.depth, budget, limited)) return;
            continue;
        }
        // Word keys only while the whole word lies inside the rotation.
        int32_t step = 1;
        if (keys == SortKeys::kWide) {
            if (r.depth >= kWordDepth && r.depth + 8 <= n) step = 8;
        } else if (r.depth >= kNarrowWordDepth && r.depth + 4 <= n) {
            step = 4;
        }
        int32_t lt_end, gt_start;
        if (step == 8)
            partition<8>(T + r.depth, rows, r.lo, r.hi, &lt_end, &gt_start);
        else if (step == 4)
            partition<4>(T + r.depth, rows, r.lo, r.hi, &lt_end, &gt_start);
        else
            partition<1>(T + r.depth, rows, r.lo, r.hi, &lt_end, &gt_start);

        if (lt_end == r.lo && gt_start == r.hi + 1) {
            stack[sp++] = {r.lo, r.hi, r.depth + step};
            continue;
        }
        const int base = sp;
        if (lt_end - r.lo >= 2) stack[sp++] = {r.lo, lt_end - 1, r.depth};
        if (gt_start - lt_end >= 2) stack[sp++] = {lt_end, gt_start - 1, r.depth + step};
        if (r.hi - gt_start + 1 >= 2) stack[sp++] = {gt_start, r.hi, r.depth};
        // Smallest range on top.
        if (sp - base >= 2) {
            if (span(stack[base]) < span(stack[sp - 1])) std::swap(stack[base], stack[sp - 1]);
            for (int t = base; t + 1 < sp; ++t)
                if (span(stack[t]) < span(stack[t + 1])) std::swap(stack[t], stack[t + 1]);
        }
    }
    if (!limited) *budget = -1;
}

}  // namespace vek::bwt
