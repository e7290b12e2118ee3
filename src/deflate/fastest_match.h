// The match rule shared by the statistics pass and both fastest encoders:
// one CRC hash probe per position into the head table, a 4-byte check, and
// a match of whatever length (4..258) follows.
//
// Positions below the call's first position live in the caller's window:
// position p is read at pWindow + (p - base). A match may start in the
// window and run on into the input; it is measured across that boundary
// byte for byte as the stream has it, whether or not the caller keeps the
// window and the input next to each other in memory.
#pragma once
#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include "core/load.h"

namespace vek::deflate::fastest {

// Index of the first differing byte of a and b, or max if none differs
// within max bytes.
inline uint32_t common_prefix(const uint8_t* a, const uint8_t* b, uint32_t max) {
    uint32_t i = 0;
    for (; i + 32 <= max; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        const uint32_t eq = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
        if (eq != 0xFFFFFFFFu) return i + static_cast<uint32_t>(__builtin_ctz(~eq));
    }
    for (; i + 8 <= max; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return i + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
    }
    for (; i < max; ++i)
        if (a[i] != b[i]) return i;
    return max;
}

struct MatchRule {
    const uint8_t* src;  // byte of position base
    const uint8_t* win;  // byte of position base in window addressing (history before it)
    uint32_t base;       // position of src[0]
    uint32_t srcLen;
    int32_t* head;
    uint32_t mask;
    uint32_t winSize;

    uint32_t hash(uint32_t off) const { return _mm_crc32_u32(0, load32(src + off)) & mask; }

    // Registers the position at offset off when its 4 hashed bytes are input
    // (the sum in 64 bits: a source may end within 4 bytes of 2^32).
    void insert(uint32_t off) const {
        if (uint64_t{off} + 4 <= srcLen) head[hash(off)] = static_cast<int32_t>(base + off);
    }

    // 4 bytes of the stream at input offset rel (negative: in the window;
    // below srcLen - 4).
    uint32_t word_at(int64_t rel) const {
        if (rel >= 0) return load32(src + rel);
        if (rel <= -4) return load32(win + rel);
        uint8_t b[4];
        for (int k = 0; k < 4; ++k) b[k] = rel + k < 0 ? win[rel + k] : src[rel + k];
        return load32(b);
    }

    // Length of the match between the candidate at input offset rel and
    // offset off, whose first four bytes are known equal; at most cap
    // (4..258) bytes.
    uint32_t length(int64_t rel, uint32_t off, uint32_t cap) const {
        const uint8_t* ip = src + off;
        if (rel >= 0) return 4 + common_prefix(src + rel + 4, ip + 4, cap - 4);
        const uint32_t inWin = static_cast<uint32_t>(-rel);  // window bytes before the boundary
        if (inWin >= cap) return common_prefix(win + rel, ip, cap);
        const uint32_t l = common_prefix(win + rel, ip, inWin);
        if (l < inWin) return l;
        return inWin + common_prefix(src, ip + inWin, cap - inWin);
    }

    // The probe at offset off (at least 4 bytes of input left): the match
    // length (4..cap), or 0 for a literal. Reads head[h] but does not write
    // it; *h receives the slot, *cand the entry (its distance is the
    // position less *cand, modulo 2^32).
    uint32_t probe(uint32_t off, uint32_t cap, uint32_t* h, int64_t* cand) const {
        *h = hash(off);
        *cand = head[*h];
        // A usable candidate lies within the window and strictly before the
        // position (a table entry at or past it is stale and not followed).
        // Positions and their distances are taken modulo 2^32.
        const uint32_t dist = base + off - static_cast<uint32_t>(*cand);
        if (dist - 1 >= winSize - 1) return 0;
        const int64_t rel = static_cast<int64_t>(off) - dist;
        if (word_at(rel) != load32(src + off)) return 0;
        return length(rel, off, cap);
    }

    // Registers the three positions after a match start (head only).
    void insert_after_match(uint32_t off) const {
        insert(off + 1);
        insert(off + 2);
        insert(off + 3);
    }
};

}  // namespace vek::deflate::fastest
