// A small raw-Deflate writer for the inflater's tests: stored, fixed and
// dynamic blocks with code lengths chosen by the test, written from RFC 1951
// symbol by symbol. Tokens may also carry symbols no encoder would write
// (invalid literal/length symbols, distance codes 30 and 31, distances past
// the history), so that tests can build invalid streams on purpose. The
// bytes a stream stands for are computed from its tokens, independently of
// any decoder.
#pragma once
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "inflate_reference.h"

namespace vek::testwriter {

// RFC 1951's length and distance tables, shared with the reference inflater.
inline const auto& kLenBase = testref::inflate_detail::kRefLenBase;
inline const auto& kLenExtra = testref::inflate_detail::kRefLenExtra;
inline const auto& kDistBase = testref::inflate_detail::kRefDistBase;
inline const auto& kDistExtra = testref::inflate_detail::kRefDistExtra;

class BitWriter {
  public:
    void put(uint32_t v, int n) {  // n bits, least significant first
        for (int i = 0; i < n; ++i) {
            if (nbits_ % 8 == 0) bytes_.push_back(0);
            bytes_.back() |= uint8_t(((v >> i) & 1) << (nbits_ % 8));
            ++nbits_;
        }
    }
    void put_code(uint32_t code, int len) {  // a Huffman code, first bit most significant
        for (int i = len - 1; i >= 0; --i) put((code >> i) & 1, 1);
    }
    void align() {
        while (nbits_ % 8) put(0, 1);
    }
    uint64_t bits() const { return nbits_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    uint64_t nbits_ = 0;
};

// One coded item: a literal/length symbol with its extra bits and, for
// lengths, a distance symbol with its extra bits.
struct Token {
    int sym = 256;
    uint32_t symExtra = 0;
    int symExtraBits = 0;
    int dsym = -1;
    uint32_t distExtra = 0;
    int distExtraBits = 0;
    int len = 0;  // match length, 0 for literals and end of block
    uint32_t dist = 0;
};

inline Token literal(uint8_t b) {
    Token t;
    t.sym = b;
    return t;
}
inline Token end_of_block() {
    return Token{};
}
inline Token match(int len, uint32_t dist) {
    Token t;
    int c = 28;  // 258 has a code of its own
    if (len != 258)
        for (c = 27; kLenBase[c] > len;) --c;
    t.sym = 257 + c;
    t.symExtra = uint32_t(len - kLenBase[c]);
    t.symExtraBits = kLenExtra[c];
    int d = 29;
    while (kDistBase[d] > dist) --d;
    t.dsym = d;
    t.distExtra = dist - kDistBase[d];
    t.distExtraBits = kDistExtra[d];
    t.len = len;
    t.dist = dist;
    return t;
}

// Canonical codes of a length list (first bit most significant).
inline std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lens) {
    uint32_t count[16] = {}, next[16] = {};
    for (uint8_t l : lens) ++count[l];
    count[0] = 0;
    uint32_t code = 0;
    for (int b = 1; b < 16; ++b) {
        code = (code + count[b - 1]) << 1;
        next[b] = code;
    }
    std::vector<uint32_t> codes(lens.size());
    for (size_t i = 0; i < lens.size(); ++i)
        if (lens[i]) codes[i] = next[lens[i]]++;
    return codes;
}

// A complete code over the symbols flagged in `use` (a single symbol gets
// length 1), no length above maxLen, and with `deepest` > 0 one code of
// exactly that length. Leaves of a code tree are split at random.
inline std::vector<uint8_t> random_lengths(const std::vector<bool>& use, int maxLen, int deepest,
                                           std::mt19937& rng) {
    std::vector<int> syms;
    for (size_t i = 0; i < use.size(); ++i)
        if (use[i]) syms.push_back(int(i));
    std::vector<uint8_t> lens(use.size(), 0);
    if (syms.size() == 1) {
        lens[syms[0]] = 1;
        return lens;
    }
    std::vector<int> leaves{0};
    auto split = [&](size_t i) {
        const int d = leaves[i] + 1;
        leaves[i] = d;
        leaves.push_back(d);
    };
    if (deepest > 0)
        while (leaves.size() < syms.size() &&
               *std::max_element(leaves.begin(), leaves.end()) < deepest)
            split(size_t(std::max_element(leaves.begin(), leaves.end()) - leaves.begin()));
    while (leaves.size() < syms.size()) {
        std::vector<size_t> open;
        for (size_t i = 0; i < leaves.size(); ++i)
            if (leaves[i] < maxLen && (deepest <= 0 || leaves[i] < deepest)) open.push_back(i);
        if (open.empty()) break;  // more symbols than the lengths allow
        // Favour shallow leaves half of the time for varied shapes.
        size_t pick = open[rng() % open.size()];
        if (rng() % 2)
            for (size_t i : open)
                if (leaves[i] < leaves[pick]) pick = i;
        split(pick);
    }
    std::shuffle(syms.begin(), syms.end(), rng);
    for (size_t i = 0; i < leaves.size() && i < syms.size(); ++i)
        lens[syms[i]] = uint8_t(leaves[i]);
    return lens;
}

inline void write_tokens(BitWriter& w, const std::vector<Token>& tokens,
                         const std::vector<uint8_t>& litLens,
                         const std::vector<uint8_t>& distLens) {
    const std::vector<uint32_t> lc = canonical_codes(litLens), dc = canonical_codes(distLens);
    for (const Token& t : tokens) {
        w.put_code(lc[t.sym], litLens[t.sym]);
        w.put(t.symExtra, t.symExtraBits);
        if (t.dsym >= 0) {
            w.put_code(dc[t.dsym], distLens[t.dsym]);
            w.put(t.distExtra, t.distExtraBits);
        }
    }
}

inline void write_stored(BitWriter& w, const std::vector<uint8_t>& data, bool final) {
    w.put(final, 1);
    w.put(0, 2);
    w.align();
    w.put(uint32_t(data.size()), 16);
    w.put(uint32_t(data.size()) ^ 0xFFFF, 16);
    for (uint8_t b : data) w.put(b, 8);
}

inline std::vector<uint8_t> fixed_lit_lengths() {
    std::vector<uint8_t> l(288);
    for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return l;
}

// tokens should end with end_of_block() for a well-formed block.
inline void write_fixed(BitWriter& w, const std::vector<Token>& tokens, bool final) {
    w.put(final, 1);
    w.put(1, 2);
    write_tokens(w, tokens, fixed_lit_lengths(), std::vector<uint8_t>(32, 5));
}

// A dynamic block header for the given lengths (at most 286 and 30 of them
// are written), then the tokens. With rle the lengths use codes 16..18.
inline void write_dynamic(BitWriter& w, const std::vector<Token>& tokens,
                          const std::vector<uint8_t>& litLens, const std::vector<uint8_t>& distLens,
                          bool final, bool rle, std::mt19937& rng) {
    int nlit = 286, ndist = 30;
    while (nlit > 257 && litLens[nlit - 1] == 0) --nlit;
    while (ndist > 1 && distLens[ndist - 1] == 0) --ndist;
    std::vector<uint8_t> all(litLens.begin(), litLens.begin() + nlit);
    for (int i = 0; i < ndist; ++i) all.push_back(i < int(distLens.size()) ? distLens[i] : 0);
    struct Item {
        int sym, extra, bits;
    };
    std::vector<Item> items;
    for (size_t i = 0; i < all.size();) {
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == all[i]) ++run;
        if (rle && all[i] == 0 && run >= 11) {
            const int r = int(std::min<size_t>(run, 138));
            items.push_back({18, r - 11, 7});
            i += size_t(r);
        } else if (rle && all[i] == 0 && run >= 3) {
            const int r = int(std::min<size_t>(run, 10));
            items.push_back({17, r - 3, 3});
            i += size_t(r);
        } else if (rle && run >= 4) {
            items.push_back({all[i], 0, 0});
            const int r = int(std::min<size_t>(run - 1, 6));
            items.push_back({16, r - 3, 2});
            i += size_t(r) + 1;
        } else {
            items.push_back({all[i], 0, 0});
            ++i;
        }
    }
    std::vector<bool> used(19, false);
    for (const Item& it : items) used[it.sym] = true;
    if (std::count(used.begin(), used.end(), true) == 1)
        used[used[0] ? 1 : 0] = true;  // a complete code needs two
    const std::vector<uint8_t> cl = random_lengths(used, 7, 0, rng);
    static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                   11, 4,  12, 3, 13, 2, 14, 1, 15};
    int ncl = 19;
    while (ncl > 4 && cl[kOrder[ncl - 1]] == 0) --ncl;
    w.put(final, 1);
    w.put(2, 2);
    w.put(uint32_t(nlit - 257), 5);
    w.put(uint32_t(ndist - 1), 5);
    w.put(uint32_t(ncl - 4), 4);
    for (int i = 0; i < ncl; ++i) w.put(cl[kOrder[i]], 3);
    const std::vector<uint32_t> clc = canonical_codes(cl);
    for (const Item& it : items) {
        w.put_code(clc[it.sym], cl[it.sym]);
        w.put(uint32_t(it.extra), it.bits);
    }
    std::vector<uint8_t> dl(distLens);
    if (dl.size() < 30) dl.resize(30, 0);
    write_tokens(w, tokens, litLens, dl);
}

// The bytes that tokens stand for, appended to out (history = dict ++ out).
// Returns false at a distance past the history.
inline bool expand(const std::vector<Token>& tokens, std::vector<uint8_t>& out,
                   const std::vector<uint8_t>& dict = {}) {
    for (const Token& t : tokens) {
        if (t.sym < 256) {
            out.push_back(uint8_t(t.sym));
        } else if (t.len) {
            if (t.dist > out.size() + dict.size()) return false;
            for (int i = 0; i < t.len; ++i) {
                const size_t at = out.size() + dict.size() - t.dist;
                out.push_back(at < dict.size() ? dict[at] : out[at - dict.size()]);
            }
        }
    }
    return true;
}

// Random well-formed streams with their expected bytes.
enum class BlockKind { kStored, kFixed, kDynamicShort, kDynamicGeneral };

// Random tokens over the given lengths (symbols without a code are never
// used), ending with end_of_block(). `history` bytes precede the block;
// distances stay within it and within maxDist.
inline std::vector<Token> random_tokens(std::mt19937& rng, const std::vector<uint8_t>& litLens,
                                        const std::vector<uint8_t>& distLens, size_t count,
                                        size_t history, int matchPercent, uint32_t maxDist) {
    std::vector<int> lits, lens, dists;
    for (int s = 0; s < 256; ++s)
        if (litLens[s]) lits.push_back(s);
    for (int s = 257; s < 286 && s < int(litLens.size()); ++s)
        if (litLens[s]) lens.push_back(s);
    for (int s = 0; s < 30 && s < int(distLens.size()); ++s)
        if (distLens[s]) dists.push_back(s);
    std::vector<Token> out;
    const size_t few = 1 + rng() % 6;  // a small alphabet now and then: text-like runs
    for (size_t i = 0; i < count; ++i) {
        if (!lens.empty() && !dists.empty() && int(rng() % 100) < matchPercent) {
            const int ls = lens[rng() % lens.size()], c = ls - 257;
            const int len = kLenBase[c] + int(kLenExtra[c] ? rng() % (1u << kLenExtra[c]) : 0);
            std::vector<int> fit;
            for (int d : dists)
                if (kDistBase[d] <= history && kDistBase[d] <= maxDist) fit.push_back(d);
            if (!fit.empty()) {
                const int d = fit[rng() % fit.size()];
                const uint64_t room = std::min<uint64_t>(history, maxDist) - kDistBase[d];
                const uint64_t span = std::min<uint64_t>(room, (1u << kDistExtra[d]) - 1);
                Token t = match(len, kDistBase[d] + uint32_t(rng() % (span + 1)));
                t.sym = ls;  // keep the chosen symbol even where another codes the same length
                t.symExtra = uint32_t(len - kLenBase[c]);
                t.symExtraBits = kLenExtra[c];
                t.dsym = d;
                t.distExtra = t.dist - kDistBase[d];
                t.distExtraBits = kDistExtra[d];
                out.push_back(t);
                history += size_t(len);
                continue;
            }
        }
        if (lits.empty()) continue;
        const size_t pick =
            rng() % 4 == 0 ? rng() % lits.size() : rng() % std::min(few, lits.size());
        out.push_back(literal(uint8_t(lits[pick])));
        ++history;
    }
    out.push_back(end_of_block());
    return out;
}

// Lengths for a dynamic block: short-form sets keep literal/length codes to
// 11 bits and distance codes to 10; general-form sets have a literal/length
// code of 12 or more bits or a distance code of 11 or more.
inline void random_code_set(std::mt19937& rng, BlockKind kind, std::vector<uint8_t>& lit,
                            std::vector<uint8_t>& dist) {
    for (;;) {
        std::vector<bool> useLit(286, false), useDist(30, false);
        useLit[256] = true;
        const int nl = 1 + int(rng() % 256);
        for (int i = 0; i < nl; ++i) useLit[rng() % 256] = true;
        const int lenPercent = int(rng() % 101);
        for (int s = 257; s < 286; ++s) useLit[s] = int(rng() % 100) < lenPercent;
        const int shape = int(rng() % 10);
        if (shape == 0) {
            // no distance codes
        } else if (shape == 1) {
            useDist[rng() % 30] = true;
        } else {
            const int distPercent = 10 + int(rng() % 91);
            for (int s = 0; s < 30; ++s) useDist[s] = int(rng() % 100) < distPercent;
        }
        if (kind == BlockKind::kDynamicShort) {
            lit = random_lengths(useLit, 11, rng() % 3 == 0 ? 11 : 0, rng);
            dist = random_lengths(useDist, 10, rng() % 3 == 0 ? 10 : 0, rng);
        } else if (rng() % 2) {
            lit = random_lengths(useLit, 15, 12 + int(rng() % 4), rng);
            dist = random_lengths(useDist, 15, 0, rng);
        } else {
            lit = random_lengths(useLit, 15, 0, rng);
            dist = random_lengths(useDist, 15, 11 + int(rng() % 5), rng);
        }
        if (!lit[256]) continue;
        const int maxLit = *std::max_element(lit.begin(), lit.end());
        const int maxDist = *std::max_element(dist.begin(), dist.end());
        const bool isShort = maxLit <= 11 && maxDist <= 10;
        if (isShort == (kind == BlockKind::kDynamicShort)) return;
    }
}

struct TestStream {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> expected;
};

// Blocks of the given kinds (the last one final), each with about `tokens`
// symbols; matches may reach into dict (the history before the stream).
inline TestStream random_stream(std::mt19937& rng, const std::vector<BlockKind>& kinds,
                                size_t tokens, const std::vector<uint8_t>& dict = {},
                                int matchPercent = 40, uint32_t maxDist = 32768) {
    BitWriter w;
    TestStream ts;
    for (size_t b = 0; b < kinds.size(); ++b) {
        const bool final = b + 1 == kinds.size();
        const size_t history = dict.size() + ts.expected.size();
        std::vector<Token> t;
        if (kinds[b] == BlockKind::kStored) {
            std::vector<uint8_t> data(rng() % (tokens + 1));
            for (auto& x : data) x = uint8_t(rng());
            write_stored(w, data, final);
            ts.expected.insert(ts.expected.end(), data.begin(), data.end());
            continue;
        }
        if (kinds[b] == BlockKind::kFixed) {
            std::vector<uint8_t> fl = fixed_lit_lengths();
            fl[286] = fl[287] = 0;
            std::vector<uint8_t> fd(30, 5);
            t = random_tokens(rng, fl, fd, tokens, history, matchPercent, maxDist);
            write_fixed(w, t, final);
        } else {
            std::vector<uint8_t> lit, dist;
            random_code_set(rng, kinds[b], lit, dist);
            t = random_tokens(rng, lit, dist, tokens, history, matchPercent, maxDist);
            write_dynamic(w, t, lit, dist, final, rng() % 2, rng);
        }
        expand(t, ts.expected, dict);
    }
    ts.bytes = w.bytes();
    return ts;
}

}  // namespace vek::testwriter
