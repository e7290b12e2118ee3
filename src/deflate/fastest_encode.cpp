// The fastest encoders: the match rule of fastest_match.h with codes written
// straight to the destination, the fixed codes of RFC 1951 or a caller's
// dynamic set (whose header is placed at the start of the stream).
//
// Each item costs at most two merged lookups (a length code with its extra
// bits, and a short distance code with its extra bits, or a long distance
// code and its extra bits), gathered in a 64-bit accumulator. The main loops
// keep more than 8 bytes of room so they store whole words without checking
// each byte: the dynamic encoder stores 8 bytes after every item and keeps
// the 0..7 bits past the last whole byte, the fixed one stores a 32-bit word
// whenever 32 bits are complete. The flush tail and the final literals are
// written byte by byte, an item only when all of its whole bytes fit.
//
// Where the window lies right before the input (the usual layout), the main
// loop probes four positions before it chooses their items, so that the
// table and window loads of neighbouring positions overlap in time.
#include <algorithm>
#include <cstring>

#include "deflate/deflate_tables.h"
#include "deflate/fastest.h"
#include "deflate/fastest_match.h"
#include "deflate/huff.h"
#include "deflate/rebase.h"
#include "vector/vector.h"

namespace vek::deflate {
namespace {

// Codes of one code set, merged with extra bits where the index fixes them.
struct ItemCodes {
    uint32_t litV[256];   // literal codes
    uint32_t lenV[256];   // by length - 3: length code | extra << code length
    uint32_t distV[256];  // by distance - 1 (1..256): distance code | extra << code length
    uint32_t dcV[30];     // distance codes alone, for distances above 256
    uint8_t litN[256], lenN[256], distN[256], dcN[30];
    // Distances above 256 by (distance - 1) >> 7: the code less its base
    // distance shifted past the code, so that adding distance << farShift
    // gives the code with its extra bits; farN the bits of both.
    uint64_t farBias[256];
    uint8_t farShift[256], farN[256];
    // Length codes by length - 3 with their extra bits, the bit count in
    // the top byte.
    uint32_t lenE[256];
    // Every distance d (1..32767) by index d - 1 up to 256, above that by
    // 256 + ((d - 1) >> 7): the low 32 bits plus d shifted left by bits
    // 32..39 give the code with its extra bits (modulo 2^32); bits 40..47
    // hold their bit count.
    uint64_t distE[512];
};

constexpr ItemCodes make_item_codes(const vekDeflateHuffCode* lit, const vekDeflateHuffCode* dist) {
    ItemCodes t{};
    for (int i = 0; i < 256; ++i) {
        t.litV[i] = code_bits(lit[i]);
        t.litN[i] = static_cast<uint8_t>(code_len(lit[i]));
        const int lc = kLitCodeTable[i];
        const vekDeflateHuffCode l = lit[257 + lc];
        t.lenV[i] = code_bits(l) | static_cast<uint32_t>(i + 3 - kLengthBase[lc]) << code_len(l);
        t.lenN[i] = static_cast<uint8_t>(code_len(l) + kLengthExtra[lc]);
        const int dc = kLitCodeTable[256 + i];
        const vekDeflateHuffCode d = dist[dc];
        t.distV[i] = code_bits(d) | static_cast<uint32_t>(i + 1 - kDistBase[dc]) << code_len(d);
        t.distN[i] = static_cast<uint8_t>(code_len(d) + kDistExtra[dc]);
    }
    for (int c = 0; c < kNumDist; ++c) {
        t.dcV[c] = code_bits(dist[c]);
        t.dcN[c] = static_cast<uint8_t>(code_len(dist[c]));
    }
    for (int i = 2; i < 256; ++i) {
        const int c = kLitCodeTable[512 + i];
        t.farBias[i] = t.dcV[c] - (static_cast<uint64_t>(kDistBase[c]) << t.dcN[c]);
        t.farShift[i] = t.dcN[c];
        t.farN[i] = static_cast<uint8_t>(t.dcN[c] + kDistExtra[c]);
    }
    for (int i = 0; i < 256; ++i) t.lenE[i] = t.lenV[i] | uint32_t(t.lenN[i]) << 24;
    for (int i = 0; i < 512; ++i) {
        const int c = i < 256    ? kLitCodeTable[256 + i]
                      : i >= 258 ? kLitCodeTable[512 + i - 256]
                                 : 0;
        const uint32_t bias = t.dcV[c] - (static_cast<uint32_t>(kDistBase[c]) << t.dcN[c]);
        t.distE[i] = bias | uint64_t(t.dcN[c]) << 32 | uint64_t(t.dcN[c] + kDistExtra[c]) << 40;
    }
    return t;
}

constexpr uint16_t reversed(uint32_t code, uint32_t len) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < len; ++i) r = (r << 1) | ((code >> i) & 1u);
    return static_cast<uint16_t>(r);
}

// The fixed codes of RFC 1951, bit-reversed: static_ltree and static_dtree.
struct FixedTrees {
    vekDeflateHuffCode lit[288];
    vekDeflateHuffCode dist[30];
};
constexpr FixedTrees make_fixed_trees() {
    FixedTrees f{};
    for (uint32_t s = 0; s < 288; ++s) {
        uint32_t code = 0, len = 0;
        if (s < 144)
            code = 0x30 + s, len = 8;
        else if (s < 256)
            code = 0x190 + (s - 144), len = 9;
        else if (s < 280)
            code = s - 256, len = 7;
        else
            code = 0xC0 + (s - 280), len = 8;
        f.lit[s] = {reversed(code, len), static_cast<uint16_t>(len)};
    }
    for (uint32_t d = 0; d < 30; ++d) f.dist[d] = {reversed(d, 5), 5};
    return f;
}
constexpr FixedTrees kFixed = make_fixed_trees();
constexpr ItemCodes kFixedCodes = make_item_codes(kFixed.lit, kFixed.dist);

// Bits of a match of length len (4..258) at distance dist (1..32767).
inline void match_bits(const ItemCodes& t, uint32_t len, uint32_t dist, uint64_t* v, uint32_t* k) {
    uint64_t dv;
    uint32_t dn;
    if (dist <= 256) {
        dv = t.distV[dist - 1];
        dn = t.distN[dist - 1];
    } else {
        const uint32_t b = (dist - 1) >> 7;
        dv = t.farBias[b] + (static_cast<uint64_t>(dist) << t.farShift[b]);
        dn = t.farN[b];
    }
    *v = t.lenV[len - 3] | dv << t.lenN[len - 3];
    *k = t.lenN[len - 3] + dn;
}

// c when the unsigned a < b, else d: a compare and a conditional move,
// whatever the compiler would make of a choice it cannot predict; *all
// receives all ones when a < b, else zero.
template <class T>
inline T* pick_below(uint32_t a, uint32_t b, T* c, T* d, uint32_t* all) {
    uint32_t m;
    asm("cmpl %[b], %[a]\n\t"
        "cmovb %[c], %[d]\n\t"
        "sbbl %[m], %[m]"
        : [d] "+r"(d), [m] "=r"(m)
        : [a] "r"(a), [b] "ri"(b), [c] "r"(c)
        : "cc");
    *all = m;
    return d;
}

// Moves the complete part of the accumulator to the output. Fixed codes:
// a complete 32-bit word goes out; otherwise the store goes to spill, so no
// byte past the complete ones is touched. Dynamic codes: 8 bytes are stored
// and the output advances by the whole bytes among them.
template <bool kFixedCodes>
inline void put_bits(uint8_t*& op, uint64_t& acc, uint32_t& n, uint8_t* spill) {
    if (kFixedCodes) {
        const uint32_t out = static_cast<uint32_t>(acc);
        uint32_t partial;
        std::memcpy(pick_below(n, 32u, spill, op, &partial), &out, 4);
        op += ~partial & 4;
        acc >>= n & 32;
        n &= 31;
    } else {
        std::memcpy(op, &acc, 8);
        op += n >> 3;
        acc >>= n & ~7u;
        n &= 7;
    }
}

// Where the main loop stands: output cursor, pending bits, input offset.
struct Cursor {
    uint8_t* op;
    uint64_t acc;
    uint32_t n;
    uint32_t off;
};

// The main loop with the window in a buffer of its own, where every item's
// bytes lie well inside the input (no match reaches within 16 bytes of its
// end), up to offset `end`.
template <bool kFixedCodes>
__attribute__((noinline)) void split_loop(const fastest::MatchRule& m, const ItemCodes& t,
                                          int64_t end, uint8_t* const oend, Cursor& cur) {
    const uint8_t* const src = m.src;
    int32_t* const head = m.head;
    const uint32_t mask = m.mask;
    const int64_t base = m.base;
    const uint64_t lastDist = m.winSize - 1;
    uint8_t* op = cur.op;
    uint64_t acc = cur.acc;
    uint32_t n = cur.n;
    uint32_t off = cur.off;
    uint8_t spill[4];  // target of the fixed encoder's word store while no word is complete
    while (static_cast<int64_t>(off) < end && oend - op > 8) {
        const uint32_t word = load32(src + off);
        const uint32_t h = _mm_crc32_u32(0, word) & mask;
        const int64_t pos = base + off;
        const int64_t cand = head[h];
        head[h] = static_cast<int32_t>(pos);
        // A usable candidate lies 1..winSize-1 positions back (a table entry
        // at or past pos is stale and not followed).
        const uint64_t dist = static_cast<uint64_t>(pos - cand);
        uint32_t len = 0;
        if (dist - 1 < lastDist && m.word_at(cand) == word) len = m.length(cand, off, 258);
        if (len == 0) {
            acc |= static_cast<uint64_t>(t.litV[src[off]]) << n;
            n += t.litN[src[off]];
            off += 1;
        } else {
            uint64_t v;
            uint32_t k;
            match_bits(t, len, static_cast<uint32_t>(dist), &v, &k);
            acc |= v << n;
            n += k;
            m.insert_after_match(off);
            off += len;
        }
        put_bits<kFixedCodes>(op, acc, n, spill);
    }
    cur = {op, acc, n, off};
}

// Length of a match whose first 32 bytes are known equal, at most 258.
// The longest match is checked first, all of it at once: in runs of one
// byte it is the rule, and a predicted branch lets the next item start
// before the comparison is done. Otherwise 64 bytes a step, then the last
// 34 bytes as two overlapping vectors.
__attribute__((noinline)) uint32_t long_match(const uint8_t* c, const uint8_t* ip) {
    auto same = [&](uint32_t i) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + i));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ip + i));
        return _mm256_cmpeq_epi8(x, y);
    };
    const __m256i lo = _mm256_and_si256(_mm256_and_si256(same(32), same(64)),
                                        _mm256_and_si256(same(96), same(128)));
    const __m256i hi = _mm256_and_si256(_mm256_and_si256(same(160), same(192)),
                                        _mm256_and_si256(same(224), same(226)));
    if (__builtin_expect(_mm256_movemask_epi8(_mm256_and_si256(lo, hi)) == -1, 1)) return 258;
    auto equal = [&](uint32_t i) { return static_cast<uint32_t>(_mm256_movemask_epi8(same(i))); };
    for (uint32_t i = 32; i < 224; i += 64) {
        const uint32_t a = equal(i), b = equal(i + 32);
        if ((a & b) != 0xFFFFFFFFu)
            return a != 0xFFFFFFFFu ? i + static_cast<uint32_t>(_tzcnt_u32(~a))
                                    : i + 32 + static_cast<uint32_t>(_tzcnt_u32(~b));
    }
    const uint32_t a = equal(224);
    if (a != 0xFFFFFFFFu) return 224 + static_cast<uint32_t>(_tzcnt_u32(~a));
    return 226 + static_cast<uint32_t>(_tzcnt_u32(~equal(226)));
}

// Where most matches are exactly 4 bytes long (text), the main loop moves
// past such a match by a branch instead of waiting for the length, so that
// the next item's probes start early; elsewhere that branch would be missed
// too often. The share of 4-byte matches among recent ones, kept as a
// moving average out of 256, must reach kShare4 (about 0.6).
constexpr uint32_t kShare4 = 150;

// The main loop with the window right before the input in memory, so that
// a candidate is read at the same offset from the input whichever side of
// the call's start it lies. One 32-byte compare settles the 4-byte check
// and the length of matches up to 31 bytes; an unusable candidate is
// compared with the input itself and its answer masked out, leaving one
// branch per item.
template <bool kFixedCodes, bool kFullWindow>
__attribute__((noinline)) void joined_loop(const fastest::MatchRule& m, const ItemCodes& t,
                                           int64_t end, uint8_t* const oend, Cursor& cur) {
    const uint8_t* ip = m.src + cur.off;
    const uint8_t* const ipEnd = m.src + end;
    int32_t* const head = m.head;
    const uint32_t mask = m.mask;
    // Position of ip, modulo 2^32 (positions stay below 2^31).
    const uint32_t posBias = m.base - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m.src));
    const uint32_t lastDist = kFullWindow ? 32767 : m.winSize - 1;
    uint8_t* op = cur.op;
    uint64_t acc = cur.acc;
    uint32_t n = cur.n;
    uint8_t spill[4];  // target of the fixed encoder's word store while no word is complete

    // The match rule's probe at q (whose first 4 bytes are word): the
    // candidate is taken and q registered; returns the candidate's distance
    // and, per byte of the 32 at q, a bit set where the candidate differs
    // (all bits for an unusable candidate).
    struct Probe {
        uint32_t ne, dist;
    };
    // (pos is the position of q.)
    auto probe = [&](const uint8_t* q, uint32_t word, uint32_t pos) -> Probe {
        const uint32_t h = _mm_crc32_u32(0, word) & mask;
        const uint32_t dist = pos - static_cast<uint32_t>(head[h]);
        head[h] = static_cast<int32_t>(pos);
        uint32_t usable;
        const uint8_t* const back =
            reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(q) - dist);
        const uint8_t* const c = pick_below(dist - 1, lastDist, back, q, &usable);
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        const uint32_t eq = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
        return {~(eq & usable), dist};
    };
    auto literal = [&](uint32_t b) {
        acc |= static_cast<uint64_t>(t.litV[b]) << n;
        n += t.litN[b];
    };
    // The match found by probe p at q; registers q + first..q + 3 (the
    // positions before q + first are registered already) and returns its
    // length.
    // A match of 32 bytes or more had a usable candidate, p.dist back.
    auto match = [&](const Probe& p, const uint8_t* q, uint32_t pos, int first) -> uint32_t {
        const uint32_t len =
            p.ne != 0 ? static_cast<uint32_t>(_tzcnt_u32(p.ne)) : long_match(q - p.dist, q);
        const uint32_t dist = p.dist;
        const uint32_t le = t.lenE[len - 3];
        const uint32_t di = dist <= 256 ? dist - 1 : 256 + ((dist - 1) >> 7);
        const uint64_t de = t.distE[di];
        const uint32_t dv = static_cast<uint32_t>(de) + (dist << ((de >> 32) & 31));
        acc |= (static_cast<uint64_t>(le & 0xFFFFFFu) | static_cast<uint64_t>(dv) << (le >> 24))
               << n;
        n += (le >> 24) + static_cast<uint32_t>(de >> 40);
        const uint64_t w = load64(q);
        if (first <= 1)
            head[_mm_crc32_u32(0, static_cast<uint32_t>(w >> 8)) & mask] =
                static_cast<int32_t>(pos + 1);
        if (first <= 2)
            head[_mm_crc32_u32(0, static_cast<uint32_t>(w >> 16)) & mask] =
                static_cast<int32_t>(pos + 2);
        if (first <= 3)
            head[_mm_crc32_u32(0, static_cast<uint32_t>(w >> 24)) & mask] =
                static_cast<int32_t>(pos + 3);
        return len;
    };
    auto put = [&] { put_bits<kFixedCodes>(op, acc, n, spill); };

    // Four positions at a time. Every item start p is followed by the
    // registration of p + 1..p + 3, whatever the item (after a literal, p + 1
    // is the next start and registers p + 2 and p + 3 in turn), and the
    // registrations go in increasing position order. So the probes of p..p + 3
    // may all be made first, in order: each sees exactly the table the
    // one-by-one loop would show it, and those past the item that ends the
    // batch register what that item would. The four probes overlap in time,
    // and the literal-or-match choices wait on far shorter chains. A batch
    // runs only where all four positions may start items: below the end and
    // with room for four items.
    // Eight positions a batch would not pay: even on binary records, where
    // literals outnumber matches more than two to one, no literal follows
    // about half of the matches, 1..3 a quarter of them and 4..10 the rest,
    // so a batch of eight would be all literals after only one match in
    // nine; the other batches would probe four positions in vain and take
    // their registrations back.
    // A small table stays in the first-level cache by itself.
    const bool fetchAhead = mask >= 8191;
    uint32_t lastLen = 0;
    uint32_t share4 = 0;
    while (ip + 3 < ipEnd && oend - op > 32) {
        const uint64_t w = load64(ip);
        const uint32_t pos = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ip)) + posBias;
        const Probe p0 = probe(ip, static_cast<uint32_t>(w), pos);
        if (lastLen >= 32 && (p0.ne & 0xF) == 0) {
            // Long matches tend to follow one another (runs): the probe of
            // the item start alone settles the item.
            lastLen = match(p0, ip, pos, 1);
            ip += lastLen;
            put();
            continue;
        }
        const Probe p1 = probe(ip + 1, static_cast<uint32_t>(w >> 8), pos + 1);
        const Probe p2 = probe(ip + 2, static_cast<uint32_t>(w >> 16), pos + 2);
        const Probe p3 = probe(ip + 3, static_cast<uint32_t>(w >> 24), pos + 3);
        if (fetchAhead) {
            // The table slots of the next four positions are fetched while
            // this batch is decided (the input runs far past ip + 11).
            const uint64_t x = load64(ip + 4);
            auto fetch = [&](uint32_t word) {
                _mm_prefetch(reinterpret_cast<const char*>(head + (_mm_crc32_u32(0, word) & mask)),
                             _MM_HINT_T0);
            };
            fetch(static_cast<uint32_t>(x));
            fetch(static_cast<uint32_t>(x >> 8));
            fetch(static_cast<uint32_t>(x >> 16));
            fetch(static_cast<uint32_t>(x >> 24));
        }
        // Fixed codes: two literals fit the accumulator before it is
        // emptied, a literal and a match do not. (The dynamic encoder stores
        // after every item, as its bytes past the output show.)
        // A match at ip + k needs only the registrations past ip + 3.
        if ((p0.ne & 0xF) == 0) {
            const uint32_t four = (p0.ne >> 4) & 1;  // exactly 4 bytes
            if (share4 >= kShare4 && four) {
                // (A probe whose answer makes the length 4 as a constant.)
                lastLen = match(Probe{0x10, p0.dist}, ip, pos, 4);
                ip += 4;
            } else {
                lastLen = match(p0, ip, pos, 4);
                ip += lastLen;
            }
            share4 = share4 - (share4 >> 4) + (four << 4);  // 256 times the share
        } else {
            // (Literal bytes are read again rather than kept from w: fewer
            // values stay live through the batch, fewer of them spilled.)
            literal(ip[0]);
            if (!kFixedCodes) put();
            if ((p1.ne & 0xF) == 0) {
                if (kFixedCodes) put();
                lastLen = match(p1, ip + 1, pos + 1, 3);
                ip += 1 + lastLen;
            } else {
                literal(ip[1]);
                put();
                if ((p2.ne & 0xF) == 0) {
                    lastLen = match(p2, ip + 2, pos + 2, 2);
                    ip += 2 + lastLen;
                } else {
                    literal(ip[2]);
                    if (!kFixedCodes) put();
                    if ((p3.ne & 0xF) == 0) {
                        if (kFixedCodes) put();
                        lastLen = match(p3, ip + 3, pos + 3, 1);
                        ip += 3 + lastLen;
                    } else {
                        literal(ip[3]);
                        lastLen = 0;
                        ip += 4;
                    }
                }
            }
        }
        put();
    }
    // The last positions one at a time.
    while (ip < ipEnd && oend - op > 8) {
        const uint32_t pos = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ip)) + posBias;
        const Probe p = probe(ip, load32(ip), pos);
        if ((p.ne & 0xF) != 0) {
            literal(*ip);
            ip += 1;
        } else {
            ip += match(p, ip, pos, 1);
        }
        put();
    }
    cur.op = op;
    cur.acc = acc;
    cur.n = n;
    cur.off = static_cast<uint32_t>(ip - m.src);
}

// The main loop up to offset `end`, in the form that suits where the window lies.
template <bool kFixedCodes>
void run_main(const fastest::MatchRule& m, const ItemCodes& t, int64_t end, uint8_t* const oend,
              bool joined, Cursor& cur) {
    if (!joined)
        split_loop<kFixedCodes>(m, t, end, oend, cur);
    else if (m.winSize == 32768)
        joined_loop<kFixedCodes, true>(m, t, end, oend, cur);
    else
        joined_loop<kFixedCodes, false>(m, t, end, oend, cur);
}

template <bool kFixedCodes>
vekStatus encode(const FastestStream& s, const FastestDest& d, const ItemCodes& t,
                 const FastestDynamic* dyn, uint32_t flush) {
    uint32_t srcIdx = *s.pSrcIdx;
    const uint32_t srcLen = *s.pSrcLen;
    const uint32_t dstIdx0 = *d.pDstIdx;
    uint8_t* const dst = d.pDst;
    uint8_t* op = dst;
    uint8_t* const oend = dst + (d.dstLen - dstIdx0);

    // The pending bits come first; up to 16 are valid.
    const uint32_t pending = *d.pCodeLenBits > 16 ? 16u : *d.pCodeLenBits;
    uint64_t acc = static_cast<uint64_t>(*d.pCode & ((1u << pending) - 1u));
    uint32_t n = pending;
    uint32_t off = 0;

    rebase_positions(&srcIdx, srcLen, s.winSize, s.pHashHead, s.hashSize, nullptr);
    const fastest::MatchRule m{*s.ppSrc,    s.pWindow,      srcIdx,   srcLen,
                               s.pHashHead, s.hashSize - 1, s.winSize};
    const uint8_t* const src = *s.ppSrc;

    if (!kFixedCodes && dyn->pHeader != nullptr) {
        // Header placement at the start of a stream: the pending bits, then
        // the header without its own BFINAL and BTYPE bits.
        const bool place = srcIdx == 0;
        const uint32_t hb = place && dyn->headerLenBits > 3 ? uint32_t(dyn->headerLenBits) - 3 : 0;
        const uint32_t total = place ? pending + hb : 0;
        // Short first block: the first byte of a stream of 1..258 bytes goes
        // out as a literal on every call, flush or not. Its room test comes
        // before anything is written.
        const uint64_t streamLen = static_cast<uint64_t>(srcIdx) + srcLen;
        const bool shortBlock = d.dstLen >= 8 && srcLen >= 1 && streamLen >= 1 && streamLen <= 258;
        if (shortBlock && static_cast<int64_t>(dstIdx0) + (total >> 3) + 8 > int64_t(d.dstLen) - 8)
            return vekStatusSizeErr;
        if (place) {
            const uint8_t pend[2] = {static_cast<uint8_t>(acc), static_cast<uint8_t>(acc >> 8)};
            if (pending != 0) vector::copy_be_1u(pend, 0, dst, 0, int32_t(pending));
            if (hb != 0)
                vector::copy_be_1u(dyn->pHeader, 3, dst + (pending >> 3), int32_t(pending & 7),
                                   int32_t(hb));
            op = dst + (total >> 3);
            n = total & 7;
            acc = n != 0 ? *op & ((1u << n) - 1u) : 0;
        }
        if (shortBlock) {
            m.insert(0);
            acc |= static_cast<uint64_t>(t.litV[src[0]]) << n;
            n += t.litN[src[0]];
            std::memcpy(op, &acc, 8);
            op += n >> 3;
            acc >>= n & ~7u;
            n &= 7;
            off = 1;
        }
    }
    for (; n >= 8 && op < oend; n -= 8, acc >>= 8) *op++ = static_cast<uint8_t>(acc);

    // Main loop: more than 258 (fixed codes: 274) input bytes and more than 8
    // bytes of room left.
    const int64_t mainEnd = static_cast<int64_t>(srcLen) - (kFixedCodes ? 274 : 258);
    Cursor cur{op, acc, n, off};
    run_main<kFixedCodes>(m, t, mainEnd, oend, s.pWindow == src, cur);
    op = cur.op;
    acc = cur.acc;
    n = cur.n;
    off = cur.off;
    for (; n >= 8 && op < oend; n -= 8, acc >>= 8) *op++ = static_cast<uint8_t>(acc);

    if (flush >= kFlushFinal) {
        // Appends v (k bits) if all of its whole bytes fit, storing them.
        auto fits_and_put = [&](uint64_t v, uint32_t k) {
            if (((n + k) >> 3) > static_cast<uint64_t>(oend - op)) return false;
            acc |= v << n;
            for (n += k; n >= 8; n -= 8, acc >>= 8) *op++ = static_cast<uint8_t>(acc);
            return true;
        };
        bool full = false;
        while (srcLen - off > 3) {
            const uint32_t cap = srcLen - off < 258 ? srcLen - off : 258;
            uint32_t h;
            int64_t cand;
            const uint32_t len = m.probe(off, cap, &h, &cand);
            uint64_t v = t.litV[src[off]];
            uint32_t k = t.litN[src[off]];
            if (len != 0)
                match_bits(t, len, static_cast<uint32_t>(int64_t(srcIdx) + off - cand), &v, &k);
            if (!fits_and_put(v, k)) {
                full = true;
                break;
            }
            m.head[h] = static_cast<int32_t>(srcIdx + off);
            if (len != 0) m.insert_after_match(off);
            off += len != 0 ? len : 1;
        }
        for (; !full && off < srcLen; ++off)
            if (!fits_and_put(t.litV[src[off]], t.litN[src[off]])) break;
    }

    *s.ppSrc += off;
    *s.pSrcLen = srcLen - off;
    *s.pSrcIdx = srcIdx + off;
    *d.pDstIdx = dstIdx0 + static_cast<uint32_t>(op - dst);
    *d.pCode = static_cast<uint16_t>(acc);
    *d.pCodeLenBits = n;
    return vekStatusOk;
}

}  // namespace

int64_t fastest_header_room(uint32_t codeLenBits, int32_t headerLenBits) {
    const int64_t bits =
        static_cast<int64_t>(codeLenBits > 16 ? 16 : codeLenBits) + headerLenBits - 3;
    return (bits < 0 ? 0 : bits / 8) + 1;
}

vekStatus ownsDeflateLZ77FastestFixHuffman_8u(const FastestStream& s, const FastestDest& d,
                                              uint32_t flush) {
    return encode<true>(s, d, kFixedCodes, nullptr, flush);
}

vekStatus fastest_encode_dynamic(const FastestStream& s, const FastestDest& d,
                                 const FastestDynamic& codes, uint32_t flush) {
    const ItemCodes t = make_item_codes(codes.litCodes, codes.distCodes);
    return encode<false>(s, d, t, &codes, flush);
}

}  // namespace vek::deflate
