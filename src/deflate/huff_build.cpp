// Huffman code lengths by repeated merging of the two lightest entries, with
// a growing bias on every frequency until the length limit is met, and
// canonical code assignment.
//
// Which of several equal-weight symbols ends up deeper is decided by the
// index sort of the vector primitives (not stable, fixed step by step) and by
// the insertion rule below; both shape the output format of the
// encoders, so neither may be replaced by a "better" equivalent.
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

// Bit i of the result is bit len - 1 - i of `code`.
uint16_t reverse_bits(uint32_t code, uint32_t len) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < len && i < 32; ++i) r = (r << 1) | ((code >> i) & 1u);
    return static_cast<uint16_t>(r);
}

}  // namespace

int32_t ownGenHuff1(const uint32_t* pFreq, uint32_t* pLen, int32_t n, int32_t maxLen) {
    if (n < 1) return 0;
    if (n > kMaxHuffSymbols) return 1;
    const uint32_t limit = maxLen < 0 ? 0u : static_cast<uint32_t>(maxLen);
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
