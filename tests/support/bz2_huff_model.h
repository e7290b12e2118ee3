// Plain models of the bzip2-format block stages for the tests: the Huffman
// table fitting and bit layout of the encoder, and the forward and inverse
// block stages (run-length, rotation sort, move-to-front, zero runs,
// dictionary). Written for clarity, not speed; independent of src/bwt.
#pragma once
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "bz2_stage_models.h"
#include "vector/vector.h"

namespace vek::testing::bz2model {

using Bits = std::vector<uint8_t>;  // one 0/1 value per bit, first bit first

inline void put_bits(Bits& b, uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>((v >> i) & 1u));
}

inline std::vector<uint8_t> bits_to_bytes(const Bits& b) {
    std::vector<uint8_t> out((b.size() + 7) / 8, 0);
    for (size_t i = 0; i < b.size(); ++i)
        if (b[i]) out[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
    return out;
}

inline int table_count(int len) {
    return len < 200 ? 2 : len < 600 ? 3 : len < 1200 ? 4 : len < 2400 ? 5 : 6;
}

// Code lengths by the merge of the two lightest list entries; a merged node
// goes after every entry of weight not above its own. Depth over 17 is
// repaired by lifting leaf pairs and splitting the deepest leaf at 16 or above.
inline std::vector<int> code_lengths(const std::vector<uint32_t>& counts) {
    const int n = static_cast<int>(counts.size());
    if (n == 1) return {1};
    std::vector<int32_t> w(n), order(n);
    for (int i = 0; i < n; ++i) w[i] = counts[i] ? static_cast<int32_t>(counts[i]) : 1;
    vek::vector::sort_index_ascend_32s_i(w.data(), order.data(), n);
    struct Entry {
        int64_t weight;
        std::vector<int> leaves;
    };
    std::vector<Entry> list;
    for (int i = 0; i < n; ++i) list.push_back({w[i], {order[i]}});
    std::vector<int> depth(n, 0);
    while (list.size() > 1) {
        Entry merged{list[0].weight + list[1].weight, list[0].leaves};
        merged.leaves.insert(merged.leaves.end(), list[1].leaves.begin(), list[1].leaves.end());
        for (int s : merged.leaves) ++depth[s];
        list.erase(list.begin(), list.begin() + 2);
        size_t pos = 0;
        while (pos < list.size() && list[pos].weight <= merged.weight) ++pos;
        list.insert(list.begin() + static_cast<long>(pos), merged);
    }
    const int maxDepth = *std::max_element(depth.begin(), depth.end());
    if (maxDepth <= 17) return depth;
    std::vector<int> perLevel(maxDepth + 1, 0);
    for (int d : depth) ++perLevel[d];
    int jmin = 17;
    for (int d = maxDepth; d >= 18; --d) {
        const int c = perLevel[d];
        for (int r = 0; r < (c + 1) / 2; ++r) {
            int j = 16;
            while (perLevel[j] == 0) --j;
            perLevel[j] -= 1;
            perLevel[j + 1] += 2;
            perLevel[d - 1] += 1;
            jmin = std::min(jmin, j);
        }
        perLevel[d] = 0;
    }
    std::vector<int> out = depth;
    size_t k = 0;
    for (int level = 17; level >= jmin; --level)
        for (int c = 0; c < perLevel[level]; ++c) out[order[k++]] = level;
    return out;
}

inline std::vector<uint32_t> canonical_codes(const std::vector<int>& len) {
    std::vector<uint32_t> codes(len.size(), 0);
    uint32_t code = 0;
    for (int l = 1; l <= 32; ++l) {
        for (size_t s = 0; s < len.size(); ++s)
            if (len[s] == l) codes[s] = code++;
        code <<= 1;
    }
    return codes;
}

struct Tables {
    int nGroups = 0;
    std::vector<std::vector<int>> lengths;     // [table][symbol], 258 wide
    std::vector<std::vector<uint32_t>> codes;  // [table][symbol]
    std::vector<int> selectors;
};

inline Tables fit_tables(int alphaSize, const std::vector<uint32_t>& freq,
                         const std::vector<uint16_t>& src) {
    const int len = static_cast<int>(src.size());
    Tables t;
    t.nGroups = table_count(len);
    t.lengths.assign(t.nGroups, std::vector<int>(258, 15));
    t.codes.assign(t.nGroups, std::vector<uint32_t>(258, 0));

    // Initial split into ranges of about equal count.
    int64_t remaining = len, total = 0;
    int parts = t.nGroups, range = 0;
    int64_t target = remaining / parts;
    for (int s = 0; s < alphaSize; ++s) {
        const int table = t.nGroups - 1 - range;
        t.lengths[table][s] = 0;
        total += freq[s];
        if (total >= target) {
            if (parts == 1) break;
            if (total != static_cast<int64_t>(freq[s]) && range % 2 == 1) {
                t.lengths[table][s] = 15;
                total -= freq[s];
                --s;
            }
            remaining -= total;
            --parts;
            target = remaining / parts;
            total = 0;
            ++range;
        }
    }

    for (int round = 0; round < 4; ++round) {
        std::vector<std::vector<uint32_t>> counts(t.nGroups, std::vector<uint32_t>(alphaSize, 0));
        t.selectors.clear();
        for (int start = 0; start < len; start += 50) {
            const int end = std::min(len, start + 50);
            int best = 0, bestCost = 1 << 30;
            for (int tb = 0; tb < t.nGroups; ++tb) {
                int cost = 0;
                for (int i = start; i < end; ++i) cost += t.lengths[tb][src[i]];
                if (cost < bestCost) best = tb, bestCost = cost;
            }
            t.selectors.push_back(best);
            for (int i = start; i < end; ++i) ++counts[best][src[i]];
        }
        for (int tb = 0; tb < t.nGroups; ++tb) {
            const std::vector<int> l = code_lengths(counts[tb]);
            const std::vector<uint32_t> c = canonical_codes(l);
            for (int s = 0; s < alphaSize; ++s) t.lengths[tb][s] = l[s], t.codes[tb][s] = c[s];
        }
    }
    return t;
}

// The packed context: counts, unary move-to-front selector ranks, and the
// delta-coded lengths of each table.
inline Bits pack_context(const Tables& t, int alphaSize) {
    Bits b;
    put_bits(b, static_cast<uint32_t>(t.nGroups), 3);
    put_bits(b, static_cast<uint32_t>(t.selectors.size()), 15);
    std::vector<int> list = {0, 1, 2, 3, 4, 5};
    for (int s : t.selectors) {
        const int r = static_cast<int>(std::find(list.begin(), list.end(), s) - list.begin());
        for (int i = 0; i < r; ++i) b.push_back(1);
        b.push_back(0);
        list.erase(list.begin() + r);
        list.insert(list.begin(), s);
    }
    for (int tb = 0; tb < t.nGroups; ++tb) {
        int c = t.lengths[tb][0];
        put_bits(b, static_cast<uint32_t>(c), 5);
        for (int s = 0; s < alphaSize; ++s) {
            while (c < t.lengths[tb][s]) put_bits(b, 2, 2), ++c;
            while (c > t.lengths[tb][s]) put_bits(b, 3, 2), --c;
            b.push_back(0);
        }
    }
    return b;
}

inline Bits code_symbols(const Tables& t, const std::vector<uint16_t>& src) {
    Bits b;
    for (size_t i = 0; i < src.size(); ++i) {
        const int tb = t.selectors[i / 50];
        put_bits(b, t.codes[tb][src[i]], t.lengths[tb][src[i]]);
    }
    return b;
}

// ---- block stages ----

// Rotation sort by prefix doubling; equal rotations stay in index order.
inline std::vector<uint8_t> bwt_forward(const std::vector<uint8_t>& s, int* primary) {
    const size_t n = s.size();
    std::vector<size_t> rot(n), rank(n), tmp(n);
    for (size_t i = 0; i < n; ++i) rot[i] = i, rank[i] = s[i];
    for (size_t k = 1;; k <<= 1) {
        auto key = [&](size_t i) { return std::make_pair(rank[i], rank[(i + k) % n]); };
        std::stable_sort(rot.begin(), rot.end(),
                         [&](size_t a, size_t b) { return key(a) < key(b); });
        tmp[rot[0]] = 0;
        for (size_t r = 1; r < n; ++r)
            tmp[rot[r]] = tmp[rot[r - 1]] + (key(rot[r - 1]) < key(rot[r]) ? 1 : 0);
        rank = tmp;
        if (rank[rot[n - 1]] == n - 1 || k >= n) break;
    }
    std::vector<uint8_t> last(n);
    for (size_t r = 0; r < n; ++r) {
        last[r] = s[(rot[r] + n - 1) % n];
        if (rot[r] == 0) *primary = static_cast<int>(r);
    }
    return last;
}

inline std::vector<uint8_t> bwt_inverse(const std::vector<uint8_t>& last, int primary) {
    const size_t n = last.size();
    std::vector<size_t> start(257, 0), next(n);
    for (uint8_t b : last) ++start[b + 1];
    for (int b = 0; b < 256; ++b) start[b + 1] += start[b];
    for (size_t i = 0; i < n; ++i) next[start[last[i]]++] = i;
    std::vector<uint8_t> out(n);
    size_t p = static_cast<size_t>(primary);
    for (size_t k = 0; k < n; ++k) {
        p = next[p];
        out[k] = last[p];
    }
    return out;
}

// Values whose table byte is 1..127 (a signed byte above zero).
inline std::vector<uint8_t> in_use_list(const uint8_t* inUse) {
    std::vector<uint8_t> list;
    for (int v = 0; v < 256; ++v)
        if (inUse[v] >= 1 && inUse[v] <= 127) list.push_back(static_cast<uint8_t>(v));
    return list;
}

// Dictionary reduction, move-to-front and zero runs of one transformed
// block; returns the symbols without end-of-block.
inline std::vector<uint16_t> mtf_zero_runs(const std::vector<uint8_t>& last, const uint8_t* inUse) {
    std::vector<uint8_t> map(256, 0);
    const std::vector<uint8_t> list = in_use_list(inUse);
    for (size_t k = 0; k < list.size(); ++k) map[list[k]] = static_cast<uint8_t>(k);
    std::vector<uint8_t> mtf(256);
    std::iota(mtf.begin(), mtf.end(), 0);
    std::vector<uint16_t> out;
    uint32_t zeros = 0;
    auto flush = [&] {
        while (zeros > 0) {
            out.push_back(static_cast<uint16_t>((zeros - 1) & 1));
            zeros = (zeros - 1) >> 1;
        }
    };
    for (uint8_t byte : last) {
        const uint8_t v = map[byte];
        const size_t r = static_cast<size_t>(std::find(mtf.begin(), mtf.end(), v) - mtf.begin());
        mtf.erase(mtf.begin() + static_cast<long>(r));
        mtf.insert(mtf.begin(), v);
        if (r == 0) {
            ++zeros;
            continue;
        }
        flush();
        out.push_back(static_cast<uint16_t>(r + 1));
    }
    flush();
    return out;
}

// The inverse of mtf_zero_runs followed by the inverse rotation sort; an
// empty result for symbols that do not describe a block of at most `limit` bytes.
inline std::vector<uint8_t> decode_block(const std::vector<uint16_t>& sym, const uint8_t* inUse,
                                         int primary, size_t limit = size_t{1} << 24) {
    const std::vector<uint8_t> list = in_use_list(inUse);
    std::vector<uint8_t> mtf(256);
    std::iota(mtf.begin(), mtf.end(), 0);
    std::vector<uint8_t> last;
    size_t i = 0;
    while (i < sym.size()) {
        if (sym[i] < 2) {
            uint64_t run = 0, weight = 1;
            for (; i < sym.size() && sym[i] < 2; ++i, weight <<= 1) {
                run += (sym[i] + 1u) * weight;
                if (run > limit) return {};
            }
            if (mtf[0] >= list.size() || last.size() + run > limit) return {};
            last.insert(last.end(), run, list[mtf[0]]);
            continue;
        }
        const size_t r = sym[i++] - 1u;
        if (r >= list.size() || last.size() == limit) return {};
        const uint8_t v = mtf[r];
        mtf.erase(mtf.begin() + static_cast<long>(r));
        mtf.insert(mtf.begin(), v);
        last.push_back(list[v]);
    }
    if (last.empty() || primary < 0 || static_cast<size_t>(primary) >= last.size()) return {};
    return bwt_inverse(last, primary);
}

// Symbols of one block through the forward stages (run-length stage,
// rotation sort, move-to-front, zero runs), end-of-block appended; returns
// the alphabet size and, when asked, the in-use table and primary index.
inline int block_symbols(const std::vector<uint8_t>& data, std::vector<uint16_t>* sym,
                         uint8_t* inUse = nullptr, int* primary = nullptr) {
    const std::vector<uint8_t> r = vek::testref::model_rle_encode(data);
    uint8_t used[256] = {};
    for (uint8_t b : r) used[b] = 1;
    int first = 0;
    *sym = mtf_zero_runs(bwt_forward(r, &first), used);
    const int alphaSize = static_cast<int>(in_use_list(used).size()) + 2;
    sym->push_back(static_cast<uint16_t>(alphaSize - 1));
    if (inUse) std::copy(used, used + 256, inUse);
    if (primary) *primary = first;
    return alphaSize;
}

}  // namespace vek::testing::bz2model
