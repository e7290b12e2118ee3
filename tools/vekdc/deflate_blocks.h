// The block-level parts of the tool's Deflate writer, kept apart from the
// encoder's buffering and engine calls: optimal length-limited code lengths
// and canonical codes, the fixed codes, a bit buffer, stored blocks, the
// dynamic block header and the size estimate that decides block splits.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "deflate_encoder.h"
#include "vekdc.h"

namespace vekdc::deflate_blocks {

constexpr size_t kMaxStored = 65535;  // bytes of one stored block
constexpr int kLitSymbols = 286;      // literal/length alphabet in use (0..285)
constexpr int kDistSymbols = 30;
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;

constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code-length code lengths are sent.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// --- code tables ----------------------------------------------------------------

// Optimal prefix code lengths of at most `limit` bits (package-merge) for
// the n symbols of `freq`; symbols of frequency 0 get no code. At least two
// symbols always get one (a lone symbol, or none, is given a partner of
// frequency 0), so every code is complete.
inline void build_lengths(const uint32_t* freq, int n, int limit, uint8_t* len) {
    std::fill(len, len + n, uint8_t(0));
    struct Leaf {
        uint64_t weight;
        int symbol;
    };
    Leaf leaves[kLitSymbols];
    int count = 0;
    for (int i = 0; i < n; ++i)
        if (freq[i] != 0) leaves[count++] = {freq[i], i};
    if (count < 2) {
        // One code of a single bit each for the used symbol and a partner.
        const int used = count == 1 ? leaves[0].symbol : 0;
        len[used] = 1;
        len[used == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(leaves, leaves + count, [](const Leaf& a, const Leaf& b) {
        return a.weight != b.weight ? a.weight < b.weight : a.symbol < b.symbol;
    });

    // A plain Huffman code first (two queues over the sorted leaves): it is
    // optimal among all prefix codes, so when it keeps within the limit it
    // costs exactly what the package-merge code below would, in a fraction
    // of the time.
    {
        const int internal = count - 1;
        uint64_t node_weight[kLitSymbols];
        int leaf_parent[kLitSymbols], node_parent[kLitSymbols];
        int leaf = 0, node = 0;
        const auto take = [&](int k) {  // the lighter of the next leaf and node
            const bool from_leaf =
                leaf < count && (node >= k || leaves[leaf].weight <= node_weight[node]);
            if (from_leaf) {
                leaf_parent[leaf] = k;
                return leaves[leaf++].weight;
            }
            node_parent[node] = k;
            return node_weight[node++];
        };
        for (int k = 0; k < internal; ++k) {
            const uint64_t a = take(k);
            node_weight[k] = a + take(k);
        }
        // Depths: every node's parent was made after it.
        int depth[kLitSymbols];
        depth[internal - 1] = 0;
        for (int k = internal - 2; k >= 0; --k) depth[k] = depth[node_parent[k]] + 1;
        int longest = 0;
        for (int i = 0; i < count; ++i) longest = std::max(longest, depth[leaf_parent[i]] + 1);
        if (longest <= limit) {
            for (int i = 0; i < count; ++i)
                len[leaves[i].symbol] = static_cast<uint8_t>(depth[leaf_parent[i]] + 1);
            return;
        }
    }

    // Level 1 holds the leaves; level k merges the leaves with the pairs
    // ("packages") of level k-1. is_package[k][i] tells what item i of
    // level k is.
    constexpr int kMaxItems = 2 * kLitSymbols;
    uint8_t is_package[kMaxCodeBits + 1][kMaxItems];
    uint64_t weights[2][kMaxItems];
    const size_t leaf_count = static_cast<size_t>(count);
    size_t items = leaf_count;
    for (size_t i = 0; i < leaf_count; ++i) {
        weights[1][i] = leaves[i].weight;
        is_package[1][i] = 0;
    }
    for (int k = 2; k <= limit; ++k) {
        const uint64_t* level = weights[(k - 1) & 1];
        uint64_t* next = weights[k & 1];
        uint8_t* kinds = is_package[k];
        const size_t packages = items / 2;
        size_t leaf = 0, pkg = 0, n_next = 0;
        while (leaf < leaf_count || pkg < packages) {
            const uint64_t package = pkg < packages ? level[2 * pkg] + level[2 * pkg + 1] : 0;
            if (pkg == packages || (leaf < leaf_count && leaves[leaf].weight <= package)) {
                next[n_next] = leaves[leaf++].weight;
                kinds[n_next++] = 0;
            } else {
                next[n_next] = package;
                kinds[n_next++] = 1;
                ++pkg;
            }
        }
        items = n_next;
    }
    // The 2n-2 lightest items of the last level make the code; every leaf
    // found in them (directly or inside packages, level by level) adds one
    // bit to its symbol's length. Leaves are taken lightest first.
    size_t take = 2 * leaf_count - 2;
    for (int k = limit; k >= 1 && take > 0; --k) {
        size_t leaves_taken = 0;
        for (size_t i = 0; i < take; ++i) leaves_taken += is_package[k][i] == 0;
        for (size_t i = 0; i < leaves_taken; ++i) ++len[leaves[i].symbol];
        take = 2 * (take - leaves_taken);
    }
}

// Canonical codes for the lengths, bit-reversed for least-significant-bit-
// first output as the pair writer expects.
inline void assign_codes(const uint8_t* len, int n, vekDeflateHuffCode* codes) {
    uint32_t count[kMaxCodeBits + 1] = {};
    for (int i = 0; i < n; ++i) ++count[len[i]];
    count[0] = 0;
    uint32_t next[kMaxCodeBits + 2] = {};
    uint32_t code = 0;
    for (int b = 1; b <= kMaxCodeBits; ++b) {
        code = (code + count[b - 1]) << 1;
        next[b] = code;
    }
    for (int i = 0; i < n; ++i) {
        const int l = len[i];
        uint32_t reversed = 0;
        if (l > 0) {
            uint32_t c = next[l]++;
            for (int k = 0; k < l; ++k, c >>= 1) reversed = reversed << 1 | (c & 1);
        }
        codes[i].code = static_cast<uint16_t>(reversed);
        codes[i].len = static_cast<uint16_t>(l);
    }
}

struct FixedCodes {
    uint8_t lit_len[kLitSymbols];
    uint8_t dist_len[kDistSymbols];
    vekDeflateHuffCode lit[kLitSymbols];
    vekDeflateHuffCode dist[kDistSymbols];
    FixedCodes() {
        // The fixed literal/length code covers 288 symbols; 286 and 287
        // never occur, and leaving them out does not change the others.
        uint8_t all[288];
        for (int i = 0; i < 288; ++i) all[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        vekDeflateHuffCode all_codes[288];
        assign_codes(all, 288, all_codes);
        std::memcpy(lit_len, all, sizeof lit_len);
        std::memcpy(lit, all_codes, sizeof lit);
        std::fill(dist_len, dist_len + kDistSymbols, uint8_t(5));
        assign_codes(dist_len, kDistSymbols, dist);
    }
};

inline const FixedCodes& fixed_codes() {
    static const FixedCodes codes;
    return codes;
}

// --- bit output -----------------------------------------------------------------

// Whole bytes in a growing buffer plus up to 31 pending bits, least
// significant bit first.
class BitOut {
  public:
    BitOut() : buf_(size_t(1) << 20) {}

    void reserve(size_t extra) {
        if (size_ + extra > buf_.size()) buf_.resize(std::max(buf_.size() * 2, size_ + extra));
    }
    // n <= 32 bits of v, v < 2^n.
    void put(uint32_t v, unsigned n) {
        acc_ |= uint64_t(v) << bits_;
        bits_ += n;
        if (bits_ >= 32) {
            reserve(4);
            for (int i = 0; i < 4; ++i)
                buf_[size_ + static_cast<size_t>(i)] = uint8_t(acc_ >> (8 * i));
            size_ += 4;
            acc_ >>= 32;
            bits_ -= 32;
        }
    }
    // Moves whole bytes out of the accumulator: fewer than 8 bits stay.
    void flush_bytes() {
        reserve(4);
        while (bits_ >= 8) {
            buf_[size_++] = uint8_t(acc_);
            acc_ >>= 8;
            bits_ -= 8;
        }
    }
    void align() {
        flush_bytes();
        if (bits_ > 0) put(0, 8 - bits_);
        flush_bytes();
    }
    // Raw bytes after align().
    void bytes(const uint8_t* p, size_t n) {
        reserve(n);
        std::memcpy(buf_.data() + size_, p, n);
        size_ += n;
    }

    // Direct access for the library's writers: after flush_bytes(), the
    // pending bits and the free space behind the whole bytes.
    uint8_t* tail(size_t room) {
        reserve(room);
        return buf_.data() + size_;
    }
    size_t room() const { return buf_.size() - size_; }
    void advance(size_t n) { size_ += n; }
    uint32_t pending() const { return static_cast<uint32_t>(acc_); }
    unsigned pending_bits() const { return bits_; }
    void set_pending(uint32_t v, unsigned n) {
        acc_ = v & ((uint64_t(1) << n) - 1);
        bits_ = n;
    }

    uint64_t bit_count() const { return uint64_t(size_) * 8 + bits_; }
    struct Mark {
        size_t size;
        uint64_t acc;
        unsigned bits;
    };
    Mark mark() const { return {size_, acc_, bits_}; }
    void rewind(const Mark& m) {
        size_ = m.size;
        acc_ = m.acc;
        bits_ = m.bits;
    }

    void drain(DeflateSink& sink) {
        if (size_ > 0) sink.put(buf_.data(), size_);
        size_ = 0;
    }
    void clear() {
        size_ = 0;
        acc_ = 0;
        bits_ = 0;
    }

  private:
    std::vector<uint8_t> buf_;
    size_t size_ = 0;
    uint64_t acc_ = 0;
    unsigned bits_ = 0;
};

// Bits of `n` input bytes as stored blocks when the stream is at bit offset
// `bits` within a byte.
inline uint64_t stored_cost(unsigned bits, size_t n) {
    uint64_t cost = 0;
    unsigned at = bits;
    do {
        const size_t k = std::min(n, kMaxStored);
        const unsigned pad = (8 - (at + 3) % 8) % 8;
        cost += 3 + pad + 32 + 8 * uint64_t(k);
        at = 0;
        n -= k;
    } while (n > 0);
    return cost;
}

inline void write_stored(BitOut& out, const uint8_t* p, size_t n, bool final) {
    do {
        const size_t k = std::min(n, kMaxStored);
        out.put(final && k == n ? 1 : 0, 1);
        out.put(0, 2);
        out.align();
        out.put(static_cast<uint32_t>(k) | static_cast<uint32_t>(~k & 0xFFFF) << 16, 32);
        out.flush_bytes();
        out.bytes(p, k);
        p += k;
        n -= k;
    } while (n > 0);
}

// --- dynamic block header ---------------------------------------------------------

struct CodeLengthItem {
    uint8_t symbol;  // 0..18
    uint8_t extra;   // value of the repeat count bits
};
constexpr uint8_t kCodeLengthExtraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0, 0, 0, 0, 0, 0, 2, 3, 7};

// A dynamic header: the trimmed counts, the run-length coded lengths and
// the code that codes them.
struct DynamicHeader {
    int hlit = 0, hdist = 0, hclen = 0;
    std::vector<CodeLengthItem> items;
    uint8_t cl_len[19] = {};
    vekDeflateHuffCode cl_code[19] = {};
    uint64_t bits = 0;

    void build(const uint8_t* lit_len, const uint8_t* dist_len) {
        hlit = kLitSymbols;
        while (hlit > 257 && lit_len[hlit - 1] == 0) --hlit;
        hdist = kDistSymbols;
        while (hdist > 1 && dist_len[hdist - 1] == 0) --hdist;
        // One sequence: repeats may run on from the literal/length lengths
        // into the distance lengths.
        uint8_t seq[kLitSymbols + kDistSymbols];
        std::memcpy(seq, lit_len, static_cast<size_t>(hlit));
        std::memcpy(seq + hlit, dist_len, static_cast<size_t>(hdist));
        const int n = hlit + hdist;
        items.clear();
        for (int i = 0; i < n;) {
            const uint8_t v = seq[i];
            int run = 1;
            while (i + run < n && seq[i + run] == v) ++run;
            i += run;
            if (v == 0) {
                while (run >= 11) {
                    const int k = std::min(run, 138);
                    items.push_back({18, static_cast<uint8_t>(k - 11)});
                    run -= k;
                }
                if (run >= 3) {
                    items.push_back({17, static_cast<uint8_t>(run - 3)});
                    run = 0;
                }
            } else {
                items.push_back({v, 0});
                --run;
                while (run >= 3) {
                    const int k = std::min(run, 6);
                    items.push_back({16, static_cast<uint8_t>(k - 3)});
                    run -= k;
                }
            }
            for (; run > 0; --run) items.push_back({v, 0});
        }
        uint32_t freq[19] = {};
        for (const CodeLengthItem& it : items) ++freq[it.symbol];
        build_lengths(freq, 19, kMaxCodeLengthBits, cl_len);
        assign_codes(cl_len, 19, cl_code);
        hclen = 19;
        while (hclen > 4 && cl_len[kCodeLengthOrder[hclen - 1]] == 0) --hclen;
        bits = 5 + 5 + 4 + 3 * uint64_t(hclen);
        for (const CodeLengthItem& it : items)
            bits += cl_len[it.symbol] + kCodeLengthExtraBits[it.symbol];
    }

    // Everything after BFINAL and BTYPE.
    void write(BitOut& out) const {
        out.put(static_cast<uint32_t>(hlit - 257), 5);
        out.put(static_cast<uint32_t>(hdist - 1), 5);
        out.put(static_cast<uint32_t>(hclen - 4), 4);
        for (int k = 0; k < hclen; ++k) out.put(cl_len[kCodeLengthOrder[k]], 3);
        for (const CodeLengthItem& it : items) {
            out.put(cl_code[it.symbol].code, cl_code[it.symbol].len);
            if (kCodeLengthExtraBits[it.symbol]) out.put(it.extra, kCodeLengthExtraBits[it.symbol]);
        }
    }
};

// --- block splitting -----------------------------------------------------------

// log2 of integers, from a table for small values (exact to about 1e-7)
// and by shifting for larger ones (relative error below 2^-12).
class Log2Table {
  public:
    Log2Table() {
        t_[0] = 0;
        for (uint32_t i = 1; i < kSize; ++i) t_[i] = static_cast<float>(std::log2(double(i)));
    }
    float operator()(uint32_t x) const {
        if (x < kSize) return t_[x];
        int shift = 0;
        while ((x >> shift) >= kSize) ++shift;
        return t_[x >> shift] + static_cast<float>(shift);
    }

  private:
    static constexpr uint32_t kSize = 8192;
    float t_[kSize];
};

inline const Log2Table& log2_table() {
    static const Log2Table t;
    return t;
}

// Estimated bits of a dynamic block with these symbol counts: the entropy
// of its symbols and a rough header cost. Extra bits are left out: they are
// the same however the pairs are divided into blocks.
inline double estimate_block_bits(const uint32_t* lit, const uint32_t* dist) {
    const Log2Table& lg = log2_table();
    double sum_flogf = 0;
    uint32_t total = 0, used = 0;
    for (int i = 0; i < kLitSymbols; ++i) {
        const uint32_t f = lit[i];
        if (f == 0) continue;
        sum_flogf += double(f) * lg(f);
        total += f;
        ++used;
    }
    double bits = total > 0 ? double(total) * lg(total) - sum_flogf : 0;
    sum_flogf = 0;
    total = 0;
    for (int i = 0; i < kDistSymbols; ++i) {
        const uint32_t f = dist[i];
        if (f == 0) continue;
        sum_flogf += double(f) * lg(f);
        total += f;
        ++used;
    }
    bits += total > 0 ? double(total) * lg(total) - sum_flogf : 0;
    return bits + 70 + 4.0 * used;
}

}  // namespace vekdc::deflate_blocks
