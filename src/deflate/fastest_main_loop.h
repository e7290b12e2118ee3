// The main loop of the fastest encoders and of their statistics pass: the
// match rule of fastest_match.h applied position by position, each item
// handed to a sink, which writes its codes (the encoders) or counts its
// symbols (the statistics pass).
//
// A sink is a small value the loop keeps in registers and hands back:
//   bool room(k)        more than k bytes of output room are left (the
//                       loops start an item only with more than 8)
//   void literal(b)     the literal byte b
//   void match(l, d)    a match of length l (4..258) at distance d
//   void put(scratch)   the complete bytes go out; scratch is 8 bytes of the
//                       loop's own for a store that must not reach the output
// The loops call put() after every item but a literal followed by a
// literal: the bits of two literals must fit beside what put() leaves
// (those of a literal and a match need not). (The scratch bytes live in the
// loop's frame, where their address costs no register.)
#pragma once
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "core/load.h"
#include "deflate/fastest_match.h"

namespace vek::deflate::fastest {

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

// The main loop with the window in a buffer of its own, where every item's
// bytes lie well inside the input (no match reaches within 16 bytes of its
// end), from offset off up to offset `end`; returns where it stopped.
template <class Sink>
__attribute__((noinline)) uint32_t split_loop(const MatchRule& m, Sink& sink, int64_t end,
                                              uint32_t off) {
    const uint8_t* const src = m.src;
    int32_t* const head = m.head;
    const uint32_t mask = m.mask;
    const uint32_t base = m.base;
    const uint32_t lastDist = m.winSize - 1;
    Sink k = sink;
    uint8_t scratch[8];
    while (static_cast<int64_t>(off) < end && k.room(8)) {
        const uint32_t word = load32(src + off);
        const uint32_t h = _mm_crc32_u32(0, word) & mask;
        const uint32_t pos = base + off;
        const uint32_t cand = static_cast<uint32_t>(head[h]);
        head[h] = static_cast<int32_t>(pos);
        // A usable candidate lies 1..winSize-1 positions back (a table entry
        // at or past pos is stale and not followed), modulo 2^32.
        const uint32_t dist = pos - cand;
        const int64_t rel = static_cast<int64_t>(off) - dist;
        uint32_t len = 0;
        if (dist - 1 < lastDist && m.word_at(rel) == word) len = m.length(rel, off, 258);
        if (len == 0) {
            k.literal(src[off]);
            off += 1;
        } else {
            k.match(len, dist);
            m.insert_after_match(off);
            off += len;
        }
        k.put(scratch);
    }
    sink = k;
    return off;
}

// Length of a match whose first 32 bytes are known equal, at most 258.
// The longest match is checked first, all of it at once: in runs of one
// byte it is the rule, and a predicted branch lets the next item start
// before the comparison is done. Otherwise 64 bytes a step, then the last
// 34 bytes as two overlapping vectors.
inline __attribute__((noinline)) uint32_t long_match(const uint8_t* c, const uint8_t* ip) {
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
// branch per item. From offset off up to offset `end`; returns where it
// stopped.
template <class Sink, bool kFullWindow>
__attribute__((noinline)) uint32_t joined_loop(const MatchRule& m, Sink& sink, int64_t end,
                                               uint32_t off) {
    const uint8_t* ip = m.src + off;
    // (A short input's end lies before off, even before the input: no such
    // pointer is formed.)
    const uint8_t* const ipEnd = m.src + (end > off ? end : off);
    int32_t* const head = m.head;
    const uint32_t mask = m.mask;
    // Position of ip, modulo 2^32.
    const uint32_t posBias = m.base - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m.src));
    const uint32_t lastDist = kFullWindow ? 32767 : m.winSize - 1;
    Sink k = sink;
    uint8_t scratch[8];

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
    // The match found by probe p at q; registers q + first..q + 3 (the
    // positions before q + first are registered already) and returns its
    // length.
    // A match of 32 bytes or more had a usable candidate, p.dist back.
    auto match = [&](const Probe& p, const uint8_t* q, uint32_t pos, int first) -> uint32_t {
        const uint32_t len =
            p.ne != 0 ? static_cast<uint32_t>(_tzcnt_u32(p.ne)) : long_match(q - p.dist, q);
        k.match(len, p.dist);
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
    while (ip + 3 < ipEnd && k.room(32)) {
        const uint64_t w = load64(ip);
        const uint32_t pos = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ip)) + posBias;
        const Probe p0 = probe(ip, static_cast<uint32_t>(w), pos);
        if (lastLen >= 32 && (p0.ne & 0xF) == 0) {
            // Long matches tend to follow one another (runs): the probe of
            // the item start alone settles the item.
            lastLen = match(p0, ip, pos, 1);
            ip += lastLen;
            k.put(scratch);
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
            k.literal(ip[0]);
            if ((p1.ne & 0xF) == 0) {
                k.put(scratch);
                lastLen = match(p1, ip + 1, pos + 1, 3);
                ip += 1 + lastLen;
            } else {
                k.literal(ip[1]);
                k.put(scratch);
                if ((p2.ne & 0xF) == 0) {
                    lastLen = match(p2, ip + 2, pos + 2, 2);
                    ip += 2 + lastLen;
                } else {
                    k.literal(ip[2]);
                    if ((p3.ne & 0xF) == 0) {
                        k.put(scratch);
                        lastLen = match(p3, ip + 3, pos + 3, 1);
                        ip += 3 + lastLen;
                    } else {
                        k.literal(ip[3]);
                        lastLen = 0;
                        ip += 4;
                    }
                }
            }
        }
        k.put(scratch);
    }
    // The last positions one at a time.
    while (ip < ipEnd && k.room(8)) {
        const uint32_t pos = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ip)) + posBias;
        const Probe p = probe(ip, load32(ip), pos);
        if ((p.ne & 0xF) != 0) {
            k.literal(*ip);
            ip += 1;
        } else {
            ip += match(p, ip, pos, 1);
        }
        k.put(scratch);
    }
    sink = k;
    return static_cast<uint32_t>(ip - m.src);
}

// The main loop from offset off up to offset `end`, in the form that suits
// where the window lies: `joined` when it lies right before the input.
// Where it does not, the split form is needed only for the call's first
// winSize positions: from there on a usable candidate, less than winSize
// back, lies in the input itself, and the joined form serves (it reads
// nothing before a usable candidate). Returns where it stopped.
template <class Sink>
uint32_t run_main(const MatchRule& m, Sink& sink, int64_t end, bool joined, uint32_t off) {
    if (!joined) {
        off = split_loop(m, sink, end < m.winSize ? end : int64_t(m.winSize), off);
        // (Short of winSize the split form ran out of input or of room.)
        if (off < m.winSize) return off;
    }
    if (m.winSize == 32768) return joined_loop<Sink, true>(m, sink, end, off);
    return joined_loop<Sink, false>(m, sink, end, off);
}

}  // namespace vek::deflate::fastest
