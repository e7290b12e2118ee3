// Forward Burrows-Wheeler transform: engine choice, the short path and the
// two-stage sort.
//
// The two-stage sort classifies every rotation cyclically: type A when it
// is greater than its successor rotation (T[i] > T[i+1], or equal bytes and
// a type A successor), type B otherwise. A type B rotation followed by a
// type A one is a seed. Only the seeds are sorted by comparison, inside
// their two-byte buckets; a right-to-left pass then induces the order of
// the remaining type B rotations and a left-to-right pass that of the
// type A rotations, emitting the last column as it goes.
#include <algorithm>
#include <cstring>

#include "bwt/bwt_sort.h"
#include "core/load.h"

namespace vek::bwt {

namespace {

constexpr int32_t kBuckets = 65536;
constexpr int32_t kBudgetSmallBlock = 99900;  // below: budget 100n, else 25n

inline uint8_t* align_up(uint8_t* p, uintptr_t to) {
    return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + to - 1) & ~(to - 1));
}

inline int64_t budget_for(int32_t n) {
    return n < kBudgetSmallBlock ? int64_t(100) * n : int64_t(25) * n;
}

uint8_t* doubled_block(const uint8_t* src, int32_t n, uint8_t* buf) {
    uint8_t* T = align_up(buf, 64);
    std::memcpy(T, src, size_t(n));
    std::memcpy(T + n, src, size_t(n));
    return T;
}

// Emits the last column from the sorted rotation starts.
void emit(const uint8_t* T, const int32_t* rows, int32_t n, uint8_t* dst, int32_t* index) {
    for (int32_t k = 0; k < n; ++k) {
        const int32_t r = rows[k];
        if (r == 0) *index = k;
        dst[k] = T[r + n - 1];
    }
}

// Blocks below kShortBlock bytes: one ternary sort of all rotations. The
// rows live on the stack, so this path also fits the doubling sort's
// smaller buffer for the tiniest blocks.
void short_path(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index, uint8_t* buf) {
    const uint8_t* T = doubled_block(src, n, buf);
    int32_t rows[kShortBlock];
    for (int32_t i = 0; i < n; ++i) rows[i] = i;
    int64_t unlimited = -1;
    it_sort(T, n, rows, 0, n - 1, 0, &unlimited);
    emit(T, rows, n, dst, index);
}

// Type of the rotation at p: decided by the first unequal pair of bytes at
// or after p (the block is known not to be one repeated byte).
bool type_a_at(const uint8_t* T, int32_t n, int32_t p) {
    for (int32_t k = p;; ++k) {
        if (k >= n) k -= n;
        if (T[k] != T[k + 1]) return T[k] > T[k + 1];
    }
}

inline uint32_t pair_at(const uint8_t* p) {
    return __builtin_bswap16(load16(p));
}

// Types and seeds of the positions p[0 .. count) (count <= 64; p[count]
// readable), given the type of the position after them: bit k of `seeds`
// marks a seed at p + k, first_a is the type of p[0].
struct SeedWord {
    uint64_t seeds;
    bool first_a;
};

// Byte-wise unsigned x > y and x == y of eight lanes, one bit per lane.
struct ByteMasks {
    uint64_t gt, eq;
};

inline uint64_t lane_bits(uint64_t high_bits) {
    // Gathers bit 7 of every byte into bits 0..7 (no two products collide).
    return ((high_bits >> 7) * 0x0102040810204080ull) >> 56;
}

inline ByteMasks compare_bytes(uint64_t x, uint64_t y) {
    constexpr uint64_t kHigh = 0x8080808080808080ull, kLow = ~kHigh;
    const uint64_t z = x ^ y;
    const uint64_t zero = ~(((z & kLow) + kLow) | z) & kHigh;
    // Bit 7 of each lane of (x | 80) - (y & 7F), which never borrows from
    // the next lane: the low seven bits of x are >= those of y.
    const uint64_t low_ge = (x | kHigh) - (y & kLow);
    const uint64_t gt = ((x & ~y) | (~z & low_ge)) & kHigh & ~zero;
    return {lane_bits(gt), lane_bits(zero)};
}

inline SeedWord seed_word(const uint8_t* p, int32_t count, bool succ_a) {
    uint64_t gt = 0, eq = 0;
    if (count == 64) {
        for (int o = 0; o < 64; o += 8) {
            const ByteMasks m = compare_bytes(load64(p + o), load64(p + o + 1));
            gt |= m.gt << o;
            eq |= m.eq << o;
        }
    } else {
        for (int32_t k = 0; k < count; ++k) {
            gt |= uint64_t(p[k] > p[k + 1]) << k;
            eq |= uint64_t(p[k] == p[k + 1]) << k;
        }
    }
    // A position is type A when its pair is descending, or equal and the
    // next position is type A: a carry that moves down through runs of
    // equal pairs. The top position takes it from succ_a; the rest
    // spread in doubling steps.
    const uint64_t top = uint64_t(1) << (count - 1);
    uint64_t a = gt | (succ_a && (eq & top) ? top : 0);
    uint64_t run = eq & ~top;
    a |= run & (a >> 1);
    run &= run >> 1;
    a |= run & (a >> 2);
    run &= run >> 2;
    a |= run & (a >> 4);
    run &= run >> 4;
    a |= run & (a >> 8);
    run &= run >> 8;
    a |= run & (a >> 16);
    run &= run >> 16;
    a |= run & (a >> 32);
    const uint64_t next_a = (a >> 1) | (succ_a ? top : 0);
    const uint64_t valid = count == 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
    return {~a & next_a & valid, (a & 1) != 0};
}

// True when p[0 .. 64] is one repeated byte: none of its positions is a
// seed and all share the type of the position after them.
inline bool one_byte_run65(const uint8_t* p) {
    const uint64_t run = 0x0101010101010101ull * p[0];
    uint64_t diff = load64(p + 57) ^ run;
    for (int o = 0; o < 64; o += 8) diff |= load64(p + o) ^ run;
    return diff == 0;
}

// Seeds of a large bucket (kRadixMin or more), when the caller's buffer
// has room to spare: each seed's bytes 2..17 are gathered once as two
// big-endian words, so that one pass of scattered reads replaces the
// levels of the rotation sort that would each read them again. An LSD
// radix sort on the first word and a sort of each run of equal first
// words by the second, both in the spare memory, leave runs of seeds that
// share 18 bytes; these go on the same way, 16 gathered bytes per level.
constexpr int32_t kRadixMin = 64;
constexpr int32_t kKeyedDepth = 18;
constexpr size_t kSpareBytesPerSeed = 72;
constexpr int kWideStack = 64;
constexpr int32_t kInsertionRun = 16;  // runs this short are sorted by insertion
constexpr int32_t kRadixRun = 256;     // runs this long are sorted by radix

struct Spare {
    uint8_t* at = nullptr;
    size_t bytes = 0;
};

struct WideRange {
    int32_t lo, hi, depth;
};

struct KeyedRow {
    uint64_t key;  // bytes 10..17 of the rotation, big-endian
    int32_t row;
};

// LSD radix sort of items[0..count) by key; temp holds count items.
void radix_by_key(KeyedRow* items, int32_t count, KeyedRow* temp) {
    uint32_t hist[8][256] = {};
    for (int32_t t = 0; t < count; ++t)
        for (int d = 0; d < 8; ++d) ++hist[d][(items[t].key >> (8 * d)) & 0xFF];
    KeyedRow* from = items;
    KeyedRow* to = temp;
    for (int d = 0; d < 8; ++d) {
        uint32_t* h = hist[d];
        if (h[(items[0].key >> (8 * d)) & 0xFF] == uint32_t(count)) continue;  // shared
        uint32_t sum = 0;
        for (int c = 0; c < 256; ++c) {
            const uint32_t v = h[c];
            h[c] = sum;
            sum += v;
        }
        for (int32_t t = 0; t < count; ++t) to[h[(from[t].key >> (8 * d)) & 0xFF]++] = from[t];
        std::swap(from, to);
    }
    if (from != items) std::memcpy(items, from, size_t(count) * sizeof(KeyedRow));
}

// Sorts a run of seeds with equal first words by their second words.
void sort_by_second_word(KeyedRow* items, int32_t count, KeyedRow* temp) {
    if (count >= kRadixRun) {
        radix_by_key(items, count, temp);
        return;
    }
    if (count > kInsertionRun) {
        std::sort(items, items + count,
                  [](const KeyedRow& x, const KeyedRow& y) { return x.key < y.key; });
        return;
    }
    for (int32_t i = 1; i < count; ++i) {
        const KeyedRow v = items[i];
        int32_t j = i;
        for (; j > 0 && items[j - 1].key > v.key; --j) items[j] = items[j - 1];
        items[j] = v;
    }
}

// A rotation's 16 bytes from the sort offset, for runs that share a long
// prefix.
struct WideRow {
    uint64_t hi, lo;  // big-endian
    int32_t row;
};

// Sorts rows[lo..hi], which share their first `depth` bytes, 16 bytes
// per level from keys gathered into `wide` (even for two rows, one
// gather beats the rotation sort's scattered word loads); each row left
// in a run of equal keys is charged the 16 bytes it passed, as a
// comparison would be. Runs near the end of the rotations (and past a
// full stack) go to the rotation sort. False when a budget given
// non-negative ran out.
bool sort_run_wide(const uint8_t* T, int32_t n, int32_t* rows, int32_t lo, int32_t hi,
                   int32_t depth, WideRow* wide, int64_t* budget) {
    const bool limited = *budget >= 0;
    WideRange stack[kWideStack];
    int sp = 0;
    stack[sp++] = {lo, hi, depth};
    while (sp > 0) {
        const WideRange r = stack[--sp];
        const int32_t count = r.hi - r.lo + 1;
        if (r.depth + 16 > n) {
            it_sort(T, n, rows, r.lo, r.hi, r.depth, budget);
            if (limited && *budget < 0) return false;
            continue;
        }
        const int32_t* in = rows + r.lo;
        for (int32_t t = 0; t < count; ++t) {
            if (t + 16 < count) {
                __builtin_prefetch(T + in[t + 16] + r.depth);
                __builtin_prefetch(T + in[t + 16] + r.depth + 15);
            }
            const uint8_t* p = T + in[t] + r.depth;
            wide[t] = {__builtin_bswap64(load64(p)), __builtin_bswap64(load64(p + 8)), in[t]};
        }
        std::sort(wide, wide + count, [](const WideRow& x, const WideRow& y) {
            return x.hi != y.hi ? x.hi < y.hi : x.lo < y.lo;
        });
        for (int32_t t = 0; t < count; ++t) rows[r.lo + t] = wide[t].row;
        for (int32_t a = 0; a < count;) {
            int32_t e = a + 1;
            while (e < count && wide[e].hi == wide[a].hi && wide[e].lo == wide[a].lo) ++e;
            if (e - a >= 2) {
                if (limited) {
                    *budget -= int64_t(16) * (e - a);
                    if (*budget < 0) return false;
                }
                if (sp < kWideStack) {
                    stack[sp++] = {r.lo + a, r.lo + e - 1, r.depth + 16};
                } else {
                    it_sort(T, n, rows, r.lo + a, r.lo + e - 1, r.depth + 16, budget);
                    if (limited && *budget < 0) return false;
                }
            }
            a = e;
        }
    }
    return true;
}

// Sorts rows[lo..lo+m) (the seeds of one bucket) completely, the rotation
// sort finishing runs that share 18 bytes under *budget. False when a
// budget given non-negative ran out.
bool sort_bucket_keyed(const uint8_t* T, int32_t n, int32_t* rows, int32_t lo, int32_t m,
                       const Spare& spare, int64_t* budget) {
    int32_t* const seeds = rows + lo;
    // The gathered words stay in gathering order; the radix passes move
    // only the 4-byte positions into them (scattered 4-byte stores cost
    // less than 12-byte ones, and the words fit in cache).
    uint64_t* const first = reinterpret_cast<uint64_t*>(spare.at);  // in sorted order
    uint64_t* const keys = first + m;
    uint64_t* const second = keys + m;
    KeyedRow* const items = reinterpret_cast<KeyedRow*>(second + m);
    uint32_t* order = reinterpret_cast<uint32_t*>(items + m);
    uint32_t* order2 = order + m;
    WideRow* const wide = reinterpret_cast<WideRow*>(order2 + m);

    uint32_t hist[8][256] = {};
    for (int32_t t = 0; t < m; ++t) {
        if (t + 32 < m) {
            __builtin_prefetch(T + seeds[t + 32] + 2);
            __builtin_prefetch(T + seeds[t + 32] + 17);
        }
        const uint8_t* p = T + seeds[t] + 2;
        const uint64_t k = __builtin_bswap64(load64(p));
        keys[t] = k;
        second[t] = __builtin_bswap64(load64(p + 8));
        order[t] = uint32_t(t);
        for (int d = 0; d < 8; ++d) ++hist[d][(k >> (8 * d)) & 0xFF];
    }
    for (int d = 0; d < 8; ++d) {
        uint32_t* h = hist[d];
        // A digit that all keys share orders nothing.
        if (h[(keys[0] >> (8 * d)) & 0xFF] == uint32_t(m)) continue;
        uint32_t sum = 0;
        for (int c = 0; c < 256; ++c) {
            const uint32_t v = h[c];
            h[c] = sum;
            sum += v;
        }
        for (int32_t t = 0; t < m; ++t) {
            const uint32_t o = order[t];
            const uint32_t at = h[(keys[o] >> (8 * d)) & 0xFF]++;
            order2[at] = o;
        }
        std::swap(order, order2);
    }
    for (int32_t t = 0; t < m; ++t) first[t] = keys[order[t]];
    for (int32_t t = 0; t < m; ++t) items[t] = {second[order[t]], seeds[order[t]]};
    for (int32_t a = 0; a < m;) {
        int32_t e = a + 1;
        while (e < m && first[e] == first[a]) ++e;
        // The wide keys' room (24 bytes a seed) is free until the runs below.
        if (e - a >= 2) sort_by_second_word(items + a, e - a, reinterpret_cast<KeyedRow*>(wide));
        a = e;
    }
    for (int32_t t = 0; t < m; ++t) seeds[t] = items[t].row;
    for (int32_t a = 0; a < m;) {
        int32_t e = a + 1;
        while (e < m && first[e] == first[a] && items[e].key == items[a].key) ++e;
        if (e - a >= 2) {
            if (!sort_run_wide(T, n, rows, lo + a, lo + e - 1, kKeyedDepth, wide, budget))
                return false;
        }
        a = e;
    }
    return true;
}

bool two_stage(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index, uint8_t* buf,
               int64_t budget, SortKeys keys, Spare spare = Spare()) {
    uint8_t* const T = doubled_block(src, n, buf);
    uint8_t* const P = align_up(T + 2 * size_t(n), 64);
    uint32_t* const next = reinterpret_cast<uint32_t*>(P);            // 65536 entries
    uint32_t* const start = reinterpret_cast<uint32_t*>(P + 262144);  // 65537 entries
    int32_t* const rows = reinterpret_cast<int32_t*>(align_up(P + 524292, 64));

    // 1-2. Pair counts, bucket starts.
    std::memset(start, 0, (kBuckets + 1) * sizeof(uint32_t));
    // Repeats of one pair are counted in a register: incrementing the same
    // counter in memory row after row would wait on each previous store.
    // Inside a run of one byte, eight positions are passed per step.
    uint32_t pair = pair_at(T), repeats = 0;
    for (int32_t i = 0; i < n;) {
        const uint32_t p = pair_at(T + i++);
        if (p != pair) {
            start[pair] += repeats;
            pair = p;
            repeats = 1;
            continue;
        }
        ++repeats;
        if ((p >> 8) != (p & 0xFF)) continue;
        // T[i] is the run's byte; pairs i..i+7 repeat it if T[i+1..i+8] do.
        const uint64_t run = 0x0101010101010101ull * (p & 0xFF);
        while (i + 8 <= n && load64(T + i + 1) == run) {
            repeats += 8;
            i += 8;
        }
    }
    start[pair] += repeats;
    int32_t first = 0;
    while (start[first] == 0) ++first;
    if (start[first] == uint32_t(n)) {  // one repeated byte: no seeds
        std::memcpy(dst, src, size_t(n));
        *index = 0;
        return true;
    }
    int32_t last = kBuckets - 1;
    while (start[last] == 0) --last;
    const int32_t cmin = first >> 8, cmax = last >> 8;
    uint32_t sum = 0;
    for (int32_t b = 0; b < kBuckets; ++b) {
        const uint32_t c = start[b];
        start[b] = sum;
        sum += c;
    }
    start[kBuckets] = uint32_t(n);
    std::memcpy(next, start, kBuckets * sizeof(uint32_t));

    // 3. Seeds, appended to the front of their buckets, from the top down.
    bool succ_a = type_a_at(T, n, 0);
    for (int32_t hi = n; hi > 0;) {
        const int32_t base = hi >= 64 ? hi - 64 : 0;
        const int32_t count = hi - base;
        uint64_t seeds;
        if (count == 64 && one_byte_run65(T + base)) {
            seeds = 0;  // one type throughout, that of the successor
        } else {
            const SeedWord w = seed_word(T + base, count, succ_a);
            seeds = w.seeds;
            succ_a = w.first_a;
        }
        while (seeds) {
            const int k = 63 - __builtin_clzll(seeds);
            seeds ^= uint64_t(1) << k;
            const int32_t i = base + k;
            rows[next[pair_at(T + i)]++] = i;
        }
        hi = base;
    }

    // 4. Seeds sorted inside each bucket (c0, c1 > c0), one budget for all.
    for (int32_t c0 = cmin; c0 < cmax; ++c0) {
        for (int32_t c1 = c0 + 1; c1 <= cmax; ++c1) {
            const uint32_t b = uint32_t(c0) << 8 | uint32_t(c1);
            const int32_t lo = int32_t(start[b]), m = int32_t(next[b]) - lo;
            if (m < 2) continue;
            const bool was_limited = budget >= 0;
            if (m >= kRadixMin && size_t(m) * kSpareBytesPerSeed <= spare.bytes) {
                if (!sort_bucket_keyed(T, n, rows, lo, m, spare, &budget)) return false;
                continue;
            }
            it_sort(T, n, rows, lo, lo + m - 1, 2, &budget, keys);
            if (was_limited && budget < 0) return false;
        }
    }

    // 5. Right to left: the other type B rotations, each placed at the back
    // of its bucket (T[j], c0). Placements into (c0, c0) lower the bound of
    // the walk itself, so it is re-read after each row.
    // The bound is kept in a register (runs of c0 move it on every row).
    for (int32_t c0 = cmax - 1; c0 >= cmin; --c0) {
        const uint32_t bound = uint32_t(c0) << 8 | uint32_t(c0 + 1);
        int32_t back = int32_t(start[bound]);
        for (int32_t k = int32_t(start[uint32_t(c0 + 1) << 8]) - 1; k >= back; --k) {
            const int32_t i = rows[k];
            const int32_t j = i ? i - 1 : n - 1;
            const uint32_t cj = T[j];
            if (cj == uint32_t(c0))
                rows[--back] = j;
            else if (cj < uint32_t(c0))
                rows[--start[cj << 8 | uint32_t(c0 + 1)]] = j;
        }
        start[bound] = uint32_t(back);
    }

    // 6. Left to right: type A rotations fill each first-byte group from
    // its front, in order, before the scan reaches them; the last column
    // is written on the way. For T[j] == c in the type B part of a group
    // the placement lands on a row already emitted and changes nothing.
    // The group's own front is kept in a register for the same reason.
    for (int32_t c = cmin; c <= cmax; ++c) {
        const int32_t end = int32_t(start[uint32_t(c + 1) << 8]);
        uint32_t front = next[uint32_t(c) << 8];
        for (int32_t k = int32_t(start[uint32_t(c) << 8]); k < end; ++k) {
            const int32_t i = rows[k];
            int32_t j = i - 1;
            if (i == 0) {
                *index = k;
                j = n - 1;
            }
            const uint32_t cj = T[j];
            dst[k] = uint8_t(cj);
            if (cj == uint32_t(c))
                rows[front++] = j;
            else if (cj > uint32_t(c))
                rows[next[cj << 8]++] = j;
        }
        next[uint32_t(c) << 8] = front;
    }
    return true;
}

int32_t* doubling_work(uint8_t* buf, int32_t n) {
    return reinterpret_cast<int32_t*>(align_up(align_up(buf, 64) + 2 * size_t(n), 4));
}

// The transform without a budget in a buffer of 18n + 80 bytes: by induced
// sorting (linear time) where its arrays fit, which is from 102 bytes
// on, else by prefix doubling. Both give the same column; blocks that
// repeat a shorter block may get another of their equal rows as index.
void complete_transform(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index, uint8_t* buf) {
    if (induced_work_bytes(n) <= 18 * int64_t(n) + 80)
        induced_transform(src, dst, n, index, buf);
    else
        doubling_transform(src, dst, n, index, doubling_work(buf, n));
}

}  // namespace

int64_t fwd_two_stage_bytes(int64_t n) {
    return 6 * n + 524484;
}

int64_t fwd_doubling_bytes(int64_t n) {
    return 18 * n + 80;
}

bool forward(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index, uint8_t* buf,
             Method method) {
    if (n < kShortBlock) {
        short_path(src, dst, n, index, buf);
        return true;
    }
    switch (method) {
        case Method::kDoubling:
            complete_transform(src, dst, n, index, buf);
            return true;
        case Method::kUnlimited:
            two_stage(src, dst, n, index, buf, -1, SortKeys::kWide);
            return true;
        case Method::kLimited:
            // The caller is told when the budget runs out, so it is charged
            // exactly as the narrow-key sort spends it.
            return two_stage(src, dst, n, index, buf, budget_for(n), SortKeys::kNarrow);
        case Method::kAuto: {
            // This method's buffer also holds the doubling sort's arrays:
            // beyond the two-stage layout lies room for the gathered keys of
            // large buckets. Their sort charges the budget per level of 16
            // equal bytes instead of per comparison; exhausting it only
            // decides the fallback, which gives the same transform.
            // The size functions evaluate their formulas in 32-bit
            // arithmetic; only what they report is known to be there.
            const int64_t reported =
                std::max(int32_t(6u * uint32_t(n) + 524484u), int32_t(18u * uint32_t(n) + 80u));
            Spare spare;
            uint8_t* const P = align_up(align_up(buf, 64) + 2 * size_t(n), 64);
            spare.at = align_up(P + 524352 + 4 * size_t(n), 64);
            if (reported > 0 && buf + reported > spare.at)
                spare.bytes = size_t(buf + reported - spare.at);
            if (two_stage(src, dst, n, index, buf, budget_for(n), SortKeys::kWide, spare))
                return true;
            // Past the point where 18n + 80 wraps, the reported size has no
            // room for the doubling arrays: finish without a limit instead.
            if (fwd_doubling_bytes(n) > reported)
                two_stage(src, dst, n, index, buf, -1, SortKeys::kWide);
            else
                complete_transform(src, dst, n, index, buf);
            return true;
        }
    }
    return true;
}

}  // namespace vek::bwt
