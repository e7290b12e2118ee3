// Table fitting of the bzip2-format Huffman encoder: the table count, the
// initial split of the alphabet, four rounds of group selection and length
// rebuilding, the length builder with its depth repair, canonical codes.
//
// Which of several equal-weight symbols ends up deeper is decided by the
// index sort of the vector primitives and by the insertion rule of the
// merge; both shape the emitted stream and must not be "improved".
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "bwt/huff_bz2.h"
#include "vector/vector.h"

namespace vek::bwt {
namespace {

constexpr uint8_t kInitialLength = 15;
constexpr int32_t kRounds = 4;

// Longest depth the merge can produce for 258 leaves is 257.
constexpr int32_t kMaxDepth = kBz2MaxAlpha;

// Initial lengths: every symbol 15, then consecutive symbol ranges of about
// equal total count get length 0 in one table each (the first range in the
// last table). Every second range gives its last symbol to the next range
// when the range holds other counted symbols too.
void initial_split(const uint32_t* freq, int32_t alphaSize, int32_t len, int32_t nGroups,
                   uint8_t (*lengths)[kBz2MaxAlpha]) {
    int64_t remaining = len;
    int32_t parts = nGroups;
    int64_t target = remaining / parts;
    int64_t total = 0;
    int32_t range = 0;
    bool odd = false;
    for (int32_t s = 0; s < alphaSize; ++s) {
        uint8_t* table = lengths[nGroups - 1 - range];
        table[s] = 0;
        total += freq[s];
        if (total < target) continue;
        if (parts == 1) return;
        if (total != static_cast<int64_t>(freq[s]) && odd) {
            table[s] = kInitialLength;
            total -= freq[s];
            --s;  // the symbol opens the next range
        }
        remaining -= total;
        --parts;
        target = remaining / parts;
        total = 0;
        ++range;
        odd = !odd;
    }
}

// One round of group selection: the table of least total length per group
// of 50 symbols (lowest table on ties), and the symbol counts per table.
void select_groups(const uint16_t* src, int32_t len, int32_t nGroups,
                   const uint8_t (*lengths)[kBz2MaxAlpha], uint8_t* selectors,
                   uint32_t (*counts)[kBz2MaxAlpha]) {
    // Per symbol one row of eight 16-bit lengths; unused lanes cost the most
    // so that they never win.
    alignas(16) uint16_t rows[kBz2MaxAlpha][8];
    for (int32_t s = 0; s < kBz2MaxAlpha; ++s)
        for (int32_t t = 0; t < 8; ++t) rows[s][t] = t < nGroups ? lengths[t][s] : 0x0FFF;
    std::memset(counts, 0, sizeof(uint32_t) * kBz2MaxTables * kBz2MaxAlpha);

    int32_t g = 0;
    for (int32_t start = 0; start < len; start += kBz2GroupSize, ++g) {
        const int32_t end = len - start < kBz2GroupSize ? len : start + kBz2GroupSize;
        __m128i cost = _mm_setzero_si128();
        int32_t i = start;
        if (end - start == kBz2GroupSize) {
#pragma GCC unroll 50
            for (int32_t k = 0; k < kBz2GroupSize; ++k)
                cost = _mm_adds_epu16(cost, _mm_load_si128(reinterpret_cast<const __m128i*>(rows[src[start + k]])));
            i = end;
        }
        for (; i < end; ++i)
            cost = _mm_adds_epu16(cost, _mm_load_si128(reinterpret_cast<const __m128i*>(rows[src[i]])));
        // Lowest cost, lowest lane on ties.
        const uint32_t best = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_minpos_epu16(cost))) >> 16;
        selectors[g] = static_cast<uint8_t>(best);
        uint32_t* c = counts[best];
        for (i = start; i < end; ++i) ++c[src[i]];
    }
}

}  // namespace

int32_t bz2_table_count(int32_t len) {
    if (len < 200) return 2;
    if (len < 600) return 3;
    if (len < 1200) return 4;
    if (len < 2400) return 5;
    return 6;
}

void bz2_code_lengths(const uint32_t* counts, int32_t n, uint8_t* lengths) {
    if (n == 1) {  // a lone symbol still needs one bit to be decodable
        lengths[0] = 1;
        return;
    }
    int32_t w[kBz2MaxAlpha], sorted[kBz2MaxAlpha];
    for (int32_t i = 0; i < n; ++i)
        w[i] = counts[i] == 0 ? 1 : (counts[i] > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(counts[i]));
    vector::sort_index_ascend_32s_i(w, sorted, n);

    // The sorted list holds entries (weight, group); a group is the set of
    // leaves below an entry, kept as a linked member list.
    int64_t weight[kBz2MaxAlpha];
    int32_t group[kBz2MaxAlpha], head[kBz2MaxAlpha], tail[kBz2MaxAlpha], next[kBz2MaxAlpha];
    int32_t depth[kBz2MaxAlpha];
    for (int32_t k = 0; k < n; ++k) {
        weight[k] = w[k];
        group[k] = sorted[k];
    }
    for (int32_t s = 0; s < n; ++s) {
        head[s] = tail[s] = s;
        next[s] = -1;
        depth[s] = 0;
    }
    for (int32_t k = 0; k + 1 < n; ++k) {
        const int32_t ga = group[k], gb = group[k + 1];
        next[tail[gb]] = head[ga];
        tail[gb] = tail[ga];
        for (int32_t s = head[gb]; s >= 0; s = next[s]) ++depth[s];
        // The node goes after every entry not heavier than it.
        const int64_t m = weight[k] + weight[k + 1];
        int32_t p = k + 2;
        for (; p < n && weight[p] <= m; ++p) {
            weight[p - 1] = weight[p];
            group[p - 1] = group[p];
        }
        weight[p - 1] = m;
        group[p - 1] = gb;
    }

    int32_t count[kMaxDepth + 1] = {};
    int32_t maxDepth = 0;
    for (int32_t s = 0; s < n; ++s) {
        ++count[depth[s]];
        if (depth[s] > maxDepth) maxDepth = depth[s];
        lengths[s] = static_cast<uint8_t>(depth[s] > 255 ? 255 : depth[s]);
    }
    if (maxDepth <= kBz2MaxCodeLen) return;

    // Depth repair: the leaves below level 17 rise a pair at a time; each
    // pair's place is paid for by splitting the deepest leaf above level 17.
    int32_t jmin = kBz2MaxCodeLen;
    for (int32_t d = maxDepth; d > kBz2MaxCodeLen; --d) {
        const int32_t steps = (count[d] + 1) / 2;
        for (int32_t r = 0; r < steps; ++r) {
            int32_t j = kBz2MaxCodeLen - 1;
            while (j > 0 && count[j] == 0) --j;
            if (j == 0) break;  // unreachable for a complete tree of at most 258 leaves
            --count[j];
            count[j + 1] += 2;
            ++count[d - 1];
            if (j < jmin) jmin = j;
        }
        count[d] = 0;
    }
    // The lightest symbols take the levels from 17 up to jmin; the heaviest
    // keep their depth.
    int32_t k = 0;
    for (int32_t level = kBz2MaxCodeLen; level >= jmin; --level)
        for (int32_t c = count[level]; c > 0 && k < n; --c) lengths[sorted[k++]] = static_cast<uint8_t>(level);
}

void bz2_canonical_codes(const uint8_t* lengths, int32_t n, uint32_t* codes) {
    uint32_t count[33] = {};
    for (int32_t s = 0; s < n; ++s)
        if (lengths[s] <= 32) ++count[lengths[s]];
    count[0] = 0;
    uint32_t next[33];
    uint32_t code = 0;
    next[0] = 0;
    for (int32_t l = 1; l <= 32; ++l) {
        code = (code + count[l - 1]) << 1;
        next[l] = code;
    }
    for (int32_t s = 0; s < n; ++s) {
        const uint32_t l = lengths[s];
        codes[s] = (l == 0 || l > 32) ? 0 : next[l]++;
    }
}

vekStatus bz2_encode_init(int32_t alphaSize, const uint32_t* freq, const uint16_t* src, int32_t len,
                          vekHuffEncState_BZ2* state) {
    for (int32_t i = 0; i < len; ++i)
        if (src[i] >= alphaSize) return vekStatusBadDataErr;

    uint8_t* selectors = reinterpret_cast<uint8_t*>(state) + kBz2EncFixedBytes;
    const int32_t nGroups = bz2_table_count(len);
    state->alphaSize = alphaSize;
    state->nSelectors = (len + kBz2GroupSize - 1) / kBz2GroupSize;
    state->nGroups = nGroups;
    state->pCodes = &state->codes[0][0];
    state->pLengths = &state->lengths[0][0];
    state->pSelectors = selectors;
    std::memset(state->codes, 0, sizeof(state->codes));
    std::memset(state->lengths, 0, sizeof(state->lengths));
    std::memset(state->lengths, kInitialLength, sizeof(state->lengths[0]) * nGroups);

    initial_split(freq, alphaSize, len, nGroups, state->lengths);

    uint32_t counts[kBz2MaxTables][kBz2MaxAlpha];
    for (int32_t round = 0; round < kRounds; ++round) {
        select_groups(src, len, nGroups, state->lengths, selectors, counts);
        for (int32_t t = 0; t < nGroups; ++t) {
            bz2_code_lengths(counts[t], alphaSize, state->lengths[t]);
            bz2_canonical_codes(state->lengths[t], alphaSize, state->codes[t]);
        }
    }
    return vekStatusOk;
}

}  // namespace vek::bwt
