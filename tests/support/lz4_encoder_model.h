// Plain, unoptimised transcription of the single-pass LZ4 encoders' rules:
// byte-at-a-time comparisons, no wide copies. Tests and fuzzers require the
// library's encoders to produce exactly these blocks.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

namespace vek::testref {

namespace lz4model {

inline uint32_t crc32c_step32(uint32_t acc, uint32_t data) {
    acc ^= data;
    for (int i = 0; i < 32; ++i) acc = (acc >> 1) ^ (0x82F63B78u & (0u - (acc & 1u)));
    return acc;
}
inline uint32_t word(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t hash(const uint8_t* p, uint32_t mask) {
    return crc32c_step32(p[4], word(p)) & mask;
}

inline void put_len(std::vector<uint8_t>& out, int32_t v) {
    for (; v >= 255; v -= 255) out.push_back(255);
    out.push_back(uint8_t(v));
}
inline int32_t ext(int32_t x) {
    return x < 15 ? 0 : x < 270 ? 1 : (x - 15) / 255 + 1;
}

inline void put_sequence(std::vector<uint8_t>& out, const uint8_t* lit, int32_t L, int32_t ml,
                         int32_t d) {
    out.push_back(uint8_t((L < 15 ? L : 15) << 4 | (ml - 4 < 15 ? ml - 4 : 15)));
    if (L >= 15) put_len(out, L - 15);
    out.insert(out.end(), lit, lit + L);
    out.push_back(uint8_t(d));
    out.push_back(uint8_t(d >> 8));
    if (ml - 4 >= 15) put_len(out, ml - 19);
}
inline void put_last(std::vector<uint8_t>& out, const uint8_t* lit, int32_t L) {
    out.push_back(uint8_t((L < 15 ? L : 15) << 4));
    if (L >= 15) put_len(out, L - 15);
    out.insert(out.end(), lit, lit + L);
}

// The table as positions, with the layout's entry count and mask.
struct Table {
    std::vector<int32_t> e;
    uint32_t mask;
    bool wide;  // 32-bit layout: distance test
};

}  // namespace lz4model

// History of the history encoders: none (block encoders), a prefix of
// srcIdx bytes in memory before src, or a separate dictionary.
struct Lz4History {
    enum Kind { kNone, kPrefix, kDict } kind = kNone;
    int32_t srcIdx = 0;
    const uint8_t* dict = nullptr;
    int32_t dictLen = 0;
    std::vector<int32_t>* table = nullptr;  // persistent 4096-entry table (history kinds)
    bool prefixUnchecked = false;           // first phase counted in history positions
};

// Unchecked (capacity < 0) or checked encoder. Returns the block; *covered
// receives the source bytes it encodes.
inline std::vector<uint8_t> lz4_model_encode(const uint8_t* src, int32_t n, int32_t capacity,
                                             int32_t* covered, const Lz4History& h = Lz4History()) {
    using namespace lz4model;
    const bool checked = capacity >= 0;
    Table t{std::vector<int32_t>(4096, 0), 0xFFF, n >= 65536 || h.kind != Lz4History::kNone};
    std::vector<int32_t>& e = h.table ? *h.table : t.e;
    const int32_t base = h.srcIdx;
    const int32_t searchLimit = n - 44;
    std::vector<uint8_t> out;
    int32_t anchor = 0, q = 0;
    int64_t cpos = 0;  // candidate as an index relative to src (negative: history)
    bool inDict = false;
    // Byte at candidate index x (relative to src); dictionary bytes when x < 0 in dict mode.
    auto at = [&](int64_t x, bool dictCand) -> uint8_t {
        if (dictCand) return h.dict[h.dictLen + x];
        return src[x];
    };
    auto ok = [&](int32_t p, int32_t entry) {
        if (t.wide && base + p - entry > 65535) return false;
        const int64_t x = int64_t(entry) - base;  // relative to src
        bool d = false;
        if (h.kind == Lz4History::kDict && x < 0) {
            if (-x > h.dictLen || -x < 8) return false;
            d = true;
        }
        for (int j = 0; j < 4; ++j)
            if (at(x + j, d) != src[p + j]) return false;
        q = p;
        cpos = x;
        inDict = d;
        return true;
    };
    auto probe = [&](int32_t p) {
        const uint32_t hh = hash(src + p, t.mask);
        const int32_t entry = e[hh];
        e[hh] = base + p;
        return ok(p, entry);
    };
    auto length = [&]() {
        int32_t M = n - q - 12;
        if (inDict && -cpos < M) M = int32_t(-cpos);
        int32_t ml = 0;
        while (ml < M && src[q + ml] == at(cpos + ml, inDict)) ++ml;
        return ml;
    };
    auto emit = [&](int32_t ml) {
        const int32_t L = q - anchor;
        if (checked && !(int32_t(out.size()) + L + 3 + ext(L) + ext(ml) < capacity - 8))
            return false;
        put_sequence(out, src + anchor, L, ml, int32_t(q - cpos));
        anchor = q + ml;
        return true;
    };
    // First match: positions 1..16 (1..63 in the wide layout) singly, then
    // from 17 with k = 16 and step k >> 4 (from 64 with k = 64, step k >> 6).
    bool found = false;
    {
        const int32_t single = h.prefixUnchecked ? 63 - base : t.wide ? 63 : 16;
        const int shift = t.wide ? 6 : 4;
        int32_t p = 1;
        for (; p <= single && p < searchLimit && !found; ++p) found = probe(p);
        for (int32_t k = t.wide ? 64 : 16; !found && p < searchLimit; ++k) {
            found = probe(p);
            p += k >> shift;
        }
    }
    if (found && emit(length())) {
        int32_t lastRun = q;
        for (;;) {
            int32_t p = anchor;
            found = false;
            if (lastRun < 64) {
                for (int i = 0; i < 16 && !found; ++i, p += 3) {
                    if (p >= searchLimit) break;
                    uint32_t hs[3];
                    int32_t es[3];
                    for (int j = 0; j < 3; ++j) hs[j] = hash(src + p + j, t.mask), es[j] = e[hs[j]];
                    for (int j = 0; j < 3; ++j) e[hs[j]] = base + p + j;
                    for (int j = 0; j < 3 && !found; ++j) found = ok(p + j, es[j]);
                    if (found) break;
                }
            }
            if (!found && p < searchLimit) {
                for (int32_t k = 128; p < searchLimit; ++k) {
                    if (probe(p)) {
                        found = true;
                        break;
                    }
                    p += k >> 6;
                }
            }
            if (!found) break;
            int32_t ml = length();
            // Backwards: not past src for source candidates, not past the
            // dictionary's start for dictionary ones, never for prefix ones.
            const int64_t floor = inDict ? -int64_t(h.dictLen) : (cpos < 0 ? cpos : 0);
            while (cpos > floor && q > anchor && src[q - 1] == at(cpos - 1, inDict))
                --q, --cpos, ++ml;
            lastRun = q - anchor;
            if (!emit(ml)) break;
        }
    }
    int32_t L = n - anchor;
    if (checked) {
        const int32_t avail = capacity - int32_t(out.size());
        if (L >= avail) L = avail - 1;
        while (L + 1 + ext(L) > avail) --L;
    }
    put_last(out, src + anchor, L);
    *covered = anchor + L;
    return out;
}

// Accelerated encoder, acceleration >= 2; *tableOut receives the final table.
inline std::vector<uint8_t> lz4_model_encode_fast(const uint8_t* src, int32_t n, int32_t a,
                                                  std::vector<int32_t>* tableOut = nullptr) {
    using namespace lz4model;
    const bool wide = n >= 65536;
    Table t{std::vector<int32_t>(wide ? 4096 : 8192, 0), wide ? 0xFFFu : 0x1FFFu, wide};
    const int32_t searchLimit = n - 44;
    std::vector<uint8_t> out;
    int32_t anchor = 0, q = 0, c = 0;
    auto probe = [&](int32_t p) {
        const uint32_t h = hash(src + p, t.mask);
        const int32_t e = t.e[h];
        t.e[h] = p;
        if ((wide && p - e > 65535) || word(src + e) != word(src + p)) return false;
        q = p;
        c = e;
        return true;
    };
    auto search = [&]() {
        int32_t p = anchor + 2, s = a, k = 64 * a;
        while (p + 3 * s < searchLimit) {
            for (int j = 0; j < 4; ++j)
                if (probe(p + j * s)) return true;
            p += 4 * s;
            k += 4;
            s = k >> 6;
        }
        if (wide) return false;
        while (p < searchLimit) {
            if (probe(p)) return true;
            ++k;
            p += s;
            s = k >> 6;
        }
        return false;
    };
    if (1 < searchLimit) {
        t.e[hash(src + 1, t.mask)] = 1;
        bool found = word(src + 1) == word(src);
        if (found)
            q = 1, c = 0;
        else
            found = search();
        while (found) {
            int32_t ml = 0;
            while (ml < n - q - 5 && src[q + ml] == src[c + ml]) ++ml;
            while (c > 0 && q > anchor && src[q - 1] == src[c - 1]) --q, --c, ++ml;
            put_sequence(out, src + anchor, q - anchor, ml, q - c);
            anchor = q + ml;
            if (anchor + 1 >= searchLimit) break;
            t.e[hash(src + anchor - 2, t.mask)] = anchor - 2;
            found = probe(anchor) || probe(anchor + 1) || search();
        }
    }
    put_last(out, src + anchor, n - anchor);
    if (tableOut) *tableOut = t.e;
    return out;
}

}  // namespace vek::testref
