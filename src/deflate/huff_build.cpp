// Huffman code lengths by repeated merging of the two lightest entries, with
// a growing bias on every frequency until the length limit is met, and
// canonical code assignment.
//
// Which of several equal-weight symbols ends up deeper is decided by the
// index sort of the vector primitives (not stable, fixed step by step) and by
// the insertion rule below; both shape the output format of the
// encoders, so neither may be replaced by a "better" equivalent.
//
// Two builders give the same lengths. The plain one follows the steps
// literally: a sorted list with insertions. The queue builder, for tables
// whose weights cannot overflow at any bias, works from two sorted
// sequences instead (see queue_attempt) and sorts only twice in all.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "deflate/huff.h"
#include "vector/vector.h"

namespace vek::deflate {
namespace {

constexpr int32_t kMaxBias = 4096;  // attempts: bias 0 .. kMaxBias - 1

// One attempt with a given bias. Returns the greatest length.
//
// Groups are the sets of symbols below one entry of the sorted list; they
// are kept as linked member lists (head/tail per group number, next per
// symbol), so a merge walks only the members it lengthens. The group number
// of a merged group is that of the entry at k + 1, as is its symbol.
uint32_t build_once(const uint32_t* freq, uint32_t* len, int32_t n, int32_t bias) {
    int32_t w[kMaxHuffSymbols], sym[kMaxHuffSymbols];
    int32_t group[kMaxHuffSymbols], head[kMaxHuffSymbols], tail[kMaxHuffSymbols],
        next[kMaxHuffSymbols];

    // Weights: frequency + bias, saturated; 0 becomes 1 so every symbol counts.
    vector::addc_32s_sfs(reinterpret_cast<const int32_t*>(freq), bias, w, n, 0);
    for (int32_t i = 0; i < n; ++i) {
        if (w[i] == 0) w[i] = 1;
        len[i] = 1;
        group[i] = head[i] = tail[i] = i;
        next[i] = -1;
    }
    vector::sort_index_ascend_32s_i(w, sym, n);

    for (int32_t k = 0; k + 2 < n; ++k) {
        const int32_t ga = group[sym[k]], gb = group[sym[k + 1]];
        // Group ga joins gb; every member of the joined group goes one deeper.
        next[tail[gb]] = head[ga];
        tail[gb] = tail[ga];
        for (int32_t s = head[gb]; s >= 0; s = next[s]) {
            group[s] = gb;
            ++len[s];
        }
        // Weights add with 32-bit wrap-around, as the counters would.
        const int32_t m =
            static_cast<int32_t>(static_cast<uint32_t>(w[k]) + static_cast<uint32_t>(w[k + 1]));
        const int32_t ms = sym[k + 1];
        // Slot k + 1 is free; the merged entry goes after every lighter entry
        // and before every entry of equal or greater weight. The entries
        // from k + 2 on stay in ascending order (each insertion keeps it),
        // so a binary search finds the place and one move opens it.
        const int32_t p = static_cast<int32_t>(std::lower_bound(w + k + 2, w + n, m) - w);
        const size_t moved = static_cast<size_t>(p - (k + 2));
        std::memmove(w + k + 1, w + k + 2, moved * sizeof(int32_t));
        std::memmove(sym + k + 1, sym + k + 2, moved * sizeof(int32_t));
        w[p - 1] = m;
        sym[p - 1] = ms;
    }

    uint32_t longest = 0;
    for (int32_t i = 0; i < n; ++i)
        if (len[i] > longest) longest = len[i];
    return longest;
}

// The queue builder, for tables whose weights and sums stay below 2^31 at
// every bias. There no sum wraps, so the sums come out in increasing order
// (each merge takes the two lightest entries), and a merged entry goes
// before every entry of its weight: the sorted list is the symbols' own
// entries ("leaves", never reordered) interleaved with the merged entries,
// those by weight and, within one weight, newest first. The lightest entry
// is then either the next leaf or the first merged entry, a merged one on a
// tie, and the merges form a tree whose depths are the lengths.
struct Leaves {
    int32_t w[kMaxHuffSymbols];    // sorted base weights
    int32_t sym[kMaxHuffSymbols];  // their symbols
};

// One attempt with sorted leaves of weights leaves.w + bias: writes each
// symbol's length and returns the greatest.
uint32_t queue_attempt(const Leaves& leaves, int32_t bias, int32_t n, uint32_t* lens) {
    if (n == 1) {
        lens[leaves.sym[0]] = 1;
        return 1;
    }
    // Entries: leaf j as j, the t-th merged entry as n + t.
    int32_t weight[2 * kMaxHuffSymbols], height[2 * kMaxHuffSymbols];
    int32_t kids[kMaxHuffSymbols][2];
    // Merged entries not yet taken, in list order, from qh to qt; those from
    // group on (or from qh, if later) share the newest weight.
    int32_t queue[kMaxHuffSymbols];
    int32_t qh = 0, qt = 0, group = 0, next_leaf = 0;
    for (int32_t j = 0; j < n; ++j) {
        weight[j] = leaves.w[j] + bias;
        height[j] = 0;
    }
    auto take = [&]() {
        if (qh < qt && (next_leaf == n || weight[queue[qh]] <= weight[next_leaf]))
            return queue[qh++];
        return next_leaf++;
    };
    for (int32_t t = 0; t + 2 < n; ++t) {
        const int32_t a = take(), b = take(), e = n + t;
        const int32_t m = weight[a] + weight[b];
        weight[e] = m;
        height[e] = std::max(height[a], height[b]) + 1;
        kids[t][0] = a;
        kids[t][1] = b;
        if (qt > qh && weight[queue[qt - 1]] == m) {
            // Ahead of the older entries of its weight.
            const int32_t at = std::max(group, qh);
            std::memmove(queue + at + 1, queue + at, size_t(qt - at) * sizeof(int32_t));
            queue[at] = e;
            group = at;
        } else {
            group = qt;
            queue[qt] = e;
        }
        ++qt;
    }
    // The last two entries are not merged; each starts at length 1.
    const int32_t r0 = take(), r1 = take();
    const uint32_t longest = static_cast<uint32_t>(std::max(height[r0], height[r1]) + 1);
    int32_t* const depth = height;  // heights are no longer needed
    depth[r0] = depth[r1] = 1;
    for (int32_t t = n - 3; t >= 0; --t) depth[kids[t][0]] = depth[kids[t][1]] = depth[n + t] + 1;
    for (int32_t j = 0; j < n; ++j) lens[leaves.sym[j]] = static_cast<uint32_t>(depth[j]);
    return longest;
}

// Whether no weight or sum can reach 2^31 at any bias.
bool queue_builder_fits(const uint32_t* freq, int32_t n) {
    uint64_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += freq[i];
    return sum + uint64_t(n) * kMaxBias <= uint64_t(INT32_MAX);
}

int32_t queue_build(const uint32_t* freq, uint32_t* len, int32_t n, uint32_t limit) {
    // The sort compares weights only, so every bias from 1 on sorts as the
    // plain frequencies do; at bias 0 the zero frequencies count as 1. Most
    // tables meet the limit at bias 0 and need the first sort only.
    Leaves leaves;
    bool zeros = false;
    for (int32_t i = 0; i < n; ++i) {
        zeros |= freq[i] == 0;
        leaves.w[i] = freq[i] == 0 ? 1 : static_cast<int32_t>(freq[i]);
    }
    vector::sort_index_ascend_32s_i(leaves.w, leaves.sym, n);
    if (queue_attempt(leaves, 0, n, len) <= limit) return 0;
    if (zeros) {
        for (int32_t i = 0; i < n; ++i) leaves.w[i] = static_cast<int32_t>(freq[i]);
        vector::sort_index_ascend_32s_i(leaves.w, leaves.sym, n);
    }
    for (int32_t bias = 1; bias < kMaxBias; ++bias)
        if (queue_attempt(leaves, bias, n, len) <= limit) return 0;
    return 1;
}

// Bit i of the result is bit len - 1 - i of `code`.
uint16_t reverse_bits(uint32_t code, uint32_t len) {
    if (len <= 16) {
        uint32_t x = code & 0xFFFFu;
        x = ((x & 0x5555u) << 1) | ((x >> 1) & 0x5555u);
        x = ((x & 0x3333u) << 2) | ((x >> 2) & 0x3333u);
        x = ((x & 0x0F0Fu) << 4) | ((x >> 4) & 0x0F0Fu);
        x = ((x & 0x00FFu) << 8) | (x >> 8);
        return static_cast<uint16_t>(x >> (16 - len));
    }
    uint32_t r = 0;
    for (uint32_t i = 0; i < len && i < 32; ++i) r = (r << 1) | ((code >> i) & 1u);
    return static_cast<uint16_t>(r);
}

}  // namespace

int32_t ownGenHuff1(const uint32_t* pFreq, uint32_t* pLen, int32_t n, int32_t maxLen) {
    if (n < 1) return 0;
    if (n > kMaxHuffSymbols) return 1;
    const uint32_t limit = maxLen < 0 ? 0u : static_cast<uint32_t>(maxLen);
    if (queue_builder_fits(pFreq, n)) return queue_build(pFreq, pLen, n, limit);
    uint32_t longest = 0;
    for (int32_t bias = 0; bias < kMaxBias; ++bias) {
        longest = build_once(pFreq, pLen, n, bias);
        if (longest <= limit) break;
    }
    return longest <= limit ? 0 : 1;
}

void assign_canonical_codes(vekDeflateHuffCode* codes, int32_t n) {
    // A failed build can give lengths up to n - 1.
    uint32_t count[kMaxHuffSymbols + 1] = {};
    uint32_t first[kMaxHuffSymbols + 1];
    uint32_t maxLen = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t l = codes[i].len;
        if (l > static_cast<uint32_t>(kMaxHuffSymbols)) continue;  // not a length any builder gives
        ++count[l];
        if (l > maxLen) maxLen = l;
    }
    count[0] = 0;
    uint32_t code = 0;
    for (uint32_t l = 1; l <= maxLen; ++l) {
        code = (code + count[l - 1]) << 1;
        first[l] = code;
    }
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t l = codes[i].len;
        if (l == 0 || l > static_cast<uint32_t>(kMaxHuffSymbols)) {
            codes[i].code = 0;
            continue;
        }
        codes[i].code = reverse_bits(first[l]++, l);
    }
}

}  // namespace vek::deflate
