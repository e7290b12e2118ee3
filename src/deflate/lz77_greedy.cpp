// Greedy LZ77 engine: every position is registered under its CRC hash, its
// chain is walked, and the longest match found (4 bytes or more) is taken
// at once. Inner positions of a match are registered only for matches up to
// lazyLength long (self-overlapping ones from a few bytes before their end,
// when the distance is at most lazyLength).
#include <algorithm>

#include "deflate/lz77_hash.h"
#include "deflate/lz77_internal.h"

namespace vek::deflate {

using lz77::Engine;
using lz77::Found;

namespace {

// Searches at source offset i with lengths capped at max_len, emits one
// item and returns the offset after it. kAhead: start loading the prev slot
// of the next position's first candidate (read when this one gives a
// literal). kSide: whether the window lies right before the source (1), not
// (2), or found out on each walk (0).
template <bool kAhead = false, int kSide = 0>
inline uint32_t greedy_step(Engine& e, uint32_t i, uint32_t max_chain, uint32_t good, uint32_t nice,
                            uint32_t lazy, uint32_t max_len) {
    const int32_t cand = e.insert(i);
    if (kAhead) {
        const int32_t c1 = e.head[lz77::crc_hash(e.src + i + 1, e.hmask)];
        _mm_prefetch(reinterpret_cast<const char*>(&e.prev[static_cast<uint32_t>(c1) & e.wmask]),
                     _MM_HINT_T0);
    }
    const Found f = kSide == 0
                        ? e.walk(i, cand, 3, max_chain, good, nice, max_len)
                        : e.walk_from<kSide == 1>(i, cand, 3, max_chain, good, nice, max_len);
    if (f.len < 4) {
        e.literal(e.src[i]);
        return i + 1;
    }
    e.match(f.len, f.dist);
    if (f.dist >= f.len) {
        if (f.len <= lazy) e.insert_range(i + 1, i + f.len);
    } else if (f.dist <= lazy) {
        const int32_t skip = static_cast<int32_t>(f.len - f.dist) - 3;
        e.insert_range(i + static_cast<uint32_t>(std::max(skip, 1)), i + f.len);
    }
    return i + f.len;
}

// Where a chain-of-one loop stands between two stretches of it: the next
// position, the pair cursors, that position's hash and candidate (already
// read), and the position registered early last with the prev slot it
// overwrote (the head slot's old value went to that prev slot).
struct OneState {
    const uint8_t* p;
    uint8_t* lit_out;
    uint16_t* dist_out;
    uint32_t h;
    int32_t cand;
    uint32_t early_pos;
    int32_t early_prev;
};

// Registers the positions at [from, to); `shift`: an address less this is
// its position, modulo 2^32.
inline void register_range(const uint8_t* from, const uint8_t* to, int32_t* head, int32_t* prev,
                           uint32_t hmask, uint32_t wmask, uint32_t shift) {
    for (; from < to; ++from) {
        const uint32_t hk = lz77::crc_hash(from, hmask);
        const uint32_t ak = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(from)) - shift;
        prev[ak & wmask] = head[hk];
        head[hk] = static_cast<int32_t>(ak);
    }
}

inline void count_match(uint32_t len, uint32_t dist, vekDeflateFreqEntry* lit_freq,
                        vekDeflateFreqEntry* dist_freq) {
    ++lit_freq[257 + length_code(len)].freq;
    // (dist_code by a mask, not a branch: near and far distances mix.)
    const uint32_t far = 512 + ((dist - 1) >> 7), near = 255 + dist;
    const uint32_t is_near = 0u - static_cast<uint32_t>(dist <= 256);
    ++dist_freq[kLitCodeTable[far ^ ((far ^ near) & is_near)]].freq;
}

// The main loop with a chain limit of one, from s.p until it reaches input
// offset `end` or the pair arrays reach lit_until. A match
// that registers its inner positions (at most lazyLength long, not
// overlapping itself) registers the 4 positions after its start without a
// branch on its length (the rest, if longer than 5, in a loop): for a 4-byte
// match that includes the next item's own position, whose search then takes
// the candidate this early registration found (registering it again writes
// the same two values). A position registered that way but not searched,
// because the loop ends there, is taken out again once all stretches are
// done.
template <bool kJoined, uint32_t kHMask, uint32_t kWMask>
__attribute__((noinline)) void one_candidate_stretch(Engine& e, const Lz77Call& c, OneState& s,
                                                     uint8_t* const lit_until, uint32_t end,
                                                     uint32_t lazy) {
    // Everything the loop touches lives in locals (the Engine's members
    // would be reloaded after every byte store to the pair arrays), walked
    // by pointers, and the masks are constants for the usual table sizes:
    // fewer values compete for registers.
    const uint32_t hmask = kHMask != 0 ? kHMask : e.hmask;
    const uint32_t wmask = kWMask != 0 ? kWMask : e.wmask;
    int32_t* const head = e.head;
    int32_t* const prev = e.prev;
    const uint8_t* const src = e.src;
    const uint8_t* const stop = src + end;
    const uint32_t shift = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(src)) - e.base;
    const auto pos_of = [shift](const uint8_t* x) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(x)) - shift;
    };
    vekDeflateFreqEntry* const lit_freq = c.pLitFreq;
    vekDeflateFreqEntry* const dist_freq = c.pDistFreq;
    const uint8_t* p = s.p;
    uint8_t* lit_out = s.lit_out;
    uint16_t* dist_out = s.dist_out;
    uint32_t h = s.h;
    int32_t cand = s.cand;
    uint32_t early_pos = s.early_pos;
    int32_t early_prev = s.early_prev;
    while (p < stop && lit_out < lit_until) {
        const uint32_t at = pos_of(p);
        prev[at & wmask] = cand;
        head[h] = static_cast<int32_t>(at);
        // While this candidate is measured: the hashes 1, 4 and 5 bytes on
        // (a match is mostly 4 or 5 long), and the bytes of the candidate
        // 1 byte on (read when this one gives a literal).
        const uint64_t q = load64(p + 1);
        const uint32_t h1 = _mm_crc32_u32(0, static_cast<uint32_t>(q)) & hmask;
        const uint32_t h4 = _mm_crc32_u32(0, static_cast<uint32_t>(q >> 24)) & hmask;
        const uint32_t h5 = _mm_crc32_u32(0, load32(p + 5)) & hmask;
        const int32_t c1 = head[h1];
        const uintptr_t back = at + 1 - static_cast<uint32_t>(c1);
        _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(p + 1) - back),
                     _MM_HINT_T0);
        uint32_t len, dist;
        if (kJoined) {
            dist = at - static_cast<uint32_t>(cand);
            const uint32_t cur = load32(p);
            len = dist - 1 >= wmask || load32(p - dist) != cur
                      ? 3
                      : lz77::common_prefix(p - dist, p, kMaxMatch);
        } else {
            const Found f = e.walk_one<false>(static_cast<uint32_t>(p - src), cand, kMaxMatch);
            len = f.len;
            dist = f.dist;
        }
        if (len < 4) {
            const uint8_t b = *p;
            *lit_out++ = b;
            *dist_out++ = 0;
            ++lit_freq[b].freq;
            ++p;
            h = h1;
            cand = c1;
            continue;
        }
        *lit_out++ = static_cast<uint8_t>(len - 3);
        *dist_out++ = static_cast<uint16_t>(dist);
        count_match(len, dist, lit_freq, dist_freq);
        // (Masks rather than choices below: compilers turn those into a
        // branch on the length, which is unpredictable.)
        const uint32_t four_long = 0u - static_cast<uint32_t>(len == 4);
        if (dist >= len && len <= lazy) {
            // The 4 positions hash from the 8-byte load above.
            const auto early = [&](uint32_t k, uint32_t hk) {
                prev[(at + k) & wmask] = head[hk];
                head[hk] = static_cast<int32_t>(at + k);
            };
            early(1, h1);
            early(2, _mm_crc32_u32(0, static_cast<uint32_t>(q >> 8)) & hmask);
            early(3, _mm_crc32_u32(0, static_cast<uint32_t>(q >> 16)) & hmask);
            early_pos = at + 4;
            const int32_t c4 = head[h4];
            early_prev = prev[early_pos & wmask];
            prev[early_pos & wmask] = c4;
            head[h4] = static_cast<int32_t>(early_pos);
            if (len > 5) {
                register_range(p + 5, p + len, head, prev, hmask, wmask, shift);
                p += len;
                if (p < stop) {  // (a 261-byte call may end 3 bytes on)
                    h = lz77::crc_hash(p, hmask);
                    cand = head[h];
                }
                continue;
            }
            // Position at + 4 keeps the candidate found now.
            const int32_t c5 = head[h5];
            p += len;
            h = (h4 & four_long) | (h5 & ~four_long);
            cand = static_cast<int32_t>((static_cast<uint32_t>(c4) & four_long) |
                                        (static_cast<uint32_t>(c5) & ~four_long));
            continue;
        }
        if (dist < len && dist <= lazy) {
            const int32_t skip = static_cast<int32_t>(len - dist) - 3;
            register_range(p + std::max(skip, 1), p + len, head, prev, hmask, wmask, shift);
        }
        p += len;
        if (len > 5) {
            if (p < stop) {
                h = lz77::crc_hash(p, hmask);
                cand = head[h];
            }
        } else {
            const int32_t c4 = head[h4], c5 = head[h5];
            h = (h4 & four_long) | (h5 & ~four_long);
            cand = static_cast<int32_t>((static_cast<uint32_t>(c4) & four_long) |
                                        (static_cast<uint32_t>(c5) & ~four_long));
        }
    }
    s = {p, lit_out, dist_out, h, cand, early_pos, early_prev};
}

// The same stretch for a window that lies right before the source, for
// input rich in literals. Each candidate travels with its byte address,
// found as soon as its head slot is read: the address of the bytes to
// compare, or the position's own bytes when the candidate lies outside the
// window. The first 4 bytes are then compared with one branch instead of
// two, which mispredicts less where candidates often lie outside the
// window, but puts a few more steps between a length and the next compare.
template <uint32_t kHMask, uint32_t kWMask>
__attribute__((noinline)) void joined_masked_stretch(Engine& e, const Lz77Call& c, OneState& s,
                                                     uint8_t* const lit_until, uint32_t end,
                                                     uint32_t lazy) {
    const uint32_t hmask = kHMask != 0 ? kHMask : e.hmask;
    const uint32_t wmask = kWMask != 0 ? kWMask : e.wmask;
    int32_t* const head = e.head;
    int32_t* const prev = e.prev;
    const uint8_t* const stop = e.src + end;
    const uint32_t shift = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e.src)) - e.base;
    const auto pos_of = [shift](const uint8_t* x) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(x)) - shift;
    };
    // Address of candidate cnd's bytes for the position at x, or x itself
    // when cnd lies outside the window (or not behind x). (A mask, not a
    // choice: compilers would branch on it.)
    const auto bytes_of = [&](const uint8_t* x, int32_t cnd) {
        const uint32_t d = pos_of(x) - static_cast<uint32_t>(cnd);
        const uintptr_t inside = uintptr_t{0} - static_cast<uintptr_t>(d - 1 < wmask);
        return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(x) -
                                                (static_cast<uintptr_t>(d) & inside));
    };
    vekDeflateFreqEntry* const lit_freq = c.pLitFreq;
    vekDeflateFreqEntry* const dist_freq = c.pDistFreq;
    const uint8_t* p = s.p;
    uint8_t* lit_out = s.lit_out;
    uint16_t* dist_out = s.dist_out;
    uint32_t h = s.h;
    int32_t cand = s.cand;
    uint32_t early_pos = s.early_pos;
    int32_t early_prev = s.early_prev;
    const uint8_t* cp = bytes_of(p, cand);
    const auto restart = [&]() {
        if (p < stop) {  // (a 261-byte call may end 3 bytes on)
            h = lz77::crc_hash(p, hmask);
            cand = head[h];
            cp = bytes_of(p, cand);
        }
    };
    while (p < stop && lit_out < lit_until) {
        const uint32_t at = pos_of(p);
        prev[at & wmask] = cand;
        head[h] = static_cast<int32_t>(at);
        // While this candidate is compared: the next position's hash,
        // candidate and its bytes (fetched now).
        const uint64_t q = load64(p + 1);
        const uint32_t h1 = _mm_crc32_u32(0, static_cast<uint32_t>(q)) & hmask;
        const int32_t c1 = head[h1];
        const uint8_t* const cp1 = bytes_of(p + 1, c1);
        _mm_prefetch(reinterpret_cast<const char*>(cp1), _MM_HINT_T0);
        const uint32_t miss = (load32(cp) ^ load32(p)) | static_cast<uint32_t>(cp == p);
        if (miss != 0) {
            const uint8_t b = *p;
            *lit_out++ = b;
            *dist_out++ = 0;
            ++lit_freq[b].freq;
            ++p;
            h = h1;
            cand = c1;
            cp = cp1;
            continue;
        }
        const uint32_t len = lz77::common_prefix(cp, p, kMaxMatch);
        const uint32_t dist = static_cast<uint32_t>(p - cp);
        *lit_out++ = static_cast<uint8_t>(len - 3);
        *dist_out++ = static_cast<uint16_t>(dist);
        count_match(len, dist, lit_freq, dist_freq);
        // The hashes 4 and 5 bytes on (a match is mostly 4 or 5 long).
        const uint32_t h4 = _mm_crc32_u32(0, static_cast<uint32_t>(q >> 24)) & hmask;
        const uint32_t h5 = _mm_crc32_u32(0, static_cast<uint32_t>(q >> 32)) & hmask;
        // (Masks rather than choices: see the other form.)
        const uint32_t four_long = 0u - static_cast<uint32_t>(len == 4);
        const auto pick = [&](int32_t c4, int32_t c5) {
            h = (h4 & four_long) | (h5 & ~four_long);
            cand = static_cast<int32_t>((static_cast<uint32_t>(c4) & four_long) |
                                        (static_cast<uint32_t>(c5) & ~four_long));
            cp = bytes_of(p, cand);
        };
        if (dist >= len && len <= lazy) {
            const auto early = [&](uint32_t k, uint32_t hk) {
                prev[(at + k) & wmask] = head[hk];
                head[hk] = static_cast<int32_t>(at + k);
            };
            early(1, h1);
            early(2, _mm_crc32_u32(0, static_cast<uint32_t>(q >> 8)) & hmask);
            early(3, _mm_crc32_u32(0, static_cast<uint32_t>(q >> 16)) & hmask);
            early_pos = at + 4;
            const int32_t c4 = head[h4];
            early_prev = prev[early_pos & wmask];
            prev[early_pos & wmask] = c4;
            head[h4] = static_cast<int32_t>(early_pos);
            p += len;
            if (len > 5) {
                register_range(p - len + 5, p, head, prev, hmask, wmask, shift);
                restart();
                continue;
            }
            pick(c4, head[h5]);
            continue;
        }
        if (dist < len && dist <= lazy) {
            const int32_t skip = static_cast<int32_t>(len - dist) - 3;
            register_range(p + std::max(skip, 1), p + len, head, prev, hmask, wmask, shift);
        }
        p += len;
        if (len > 5)
            restart();
        else
            pick(head[h4], head[h5]);
    }
    s = {p, lit_out, dist_out, h, cand, early_pos, early_prev};
}

// Runs the chain-of-one loop from source offset i up to `end`. With the
// window joined to the source it goes in stretches, each in the form that
// suited the stretch before it (the first one, of 256 items, branching; then
// 1024 items each): the masked form where more than half the items were
// literals.
template <uint32_t kHMask, uint32_t kWMask>
uint32_t one_candidate_loop(Engine& e, const Lz77Call& c, uint32_t i, uint32_t end, uint32_t lazy) {
    const uint32_t hmask = kHMask != 0 ? kHMask : e.hmask;
    const uint32_t wmask = kWMask != 0 ? kWMask : e.wmask;
    const uint8_t* const stop = e.src + end;
    uint8_t* const lit_stop = c.pLitDst + e.cap;
    OneState s{e.src + i, c.pLitDst + e.n, c.pDistDst + e.n, 0, 0, e.base + i - 1, 0};
    if (s.p < stop) {
        s.h = lz77::crc_hash(s.p, hmask);
        s.cand = e.head[s.h];
    }
    if (!e.joined) {
        one_candidate_stretch<false, kHMask, kWMask>(e, c, s, lit_stop, end, lazy);
    } else {
        // (The first stretch of a call is short: its only task is to choose.)
        uint32_t stretch = 256;  // items
        bool masked = false;
        while (s.p < stop && s.lit_out < lit_stop) {
            uint8_t* const until = static_cast<size_t>(lit_stop - s.lit_out) > stretch
                                       ? s.lit_out + stretch
                                       : lit_stop;
            stretch = 1024;
            const uint16_t* const first = s.dist_out;
            if (masked)
                joined_masked_stretch<kHMask, kWMask>(e, c, s, until, end, lazy);
            else
                one_candidate_stretch<true, kHMask, kWMask>(e, c, s, until, end, lazy);
            uint32_t literals = 0;
            for (const uint16_t* d = first; d < s.dist_out; ++d) literals += *d == 0;
            masked = 2 * literals > static_cast<uint32_t>(s.dist_out - first);
        }
    }
    const uint32_t i_end = static_cast<uint32_t>(s.p - e.src);
    if (e.base + i_end == s.early_pos) {
        // Still the head of its hash: give the slots back their old values.
        int32_t& slot = e.prev[s.early_pos & wmask];
        e.head[lz77::crc_hash(s.p, hmask)] = slot;
        slot = s.early_prev;
    }
    e.n = static_cast<uint32_t>(s.lit_out - c.pLitDst);
    return i_end;
}

// The main loop of a chain walk from source offset i up to `end`, one
// instance per side of the window, so that each keeps only its own state
// live.
template <int kSide>
uint32_t main_loop(Engine& e, uint32_t i, uint32_t end, uint32_t max_chain, uint32_t good,
                   uint32_t nice, uint32_t lazy) {
    while (i < end && e.n < e.cap)
        i = greedy_step<true, kSide>(e, i, max_chain, good, nice, lazy, kMaxMatch);
    return i;
}

}  // namespace

void lz77_greedy(const Lz77Call& c, const vekLZ77LevelParams& prm, uint32_t flush) {
    if (prm.maxChain == 0) {
        rebase(c, false);
        lz77_single(c, flush);
        return;
    }
    rebase(c, true);
    Engine e(c);
    const uint32_t max_chain = static_cast<uint32_t>(prm.maxChain);
    const uint32_t good = static_cast<uint32_t>(prm.goodLength);
    const uint32_t nice = static_cast<uint32_t>(prm.niceLength);
    const uint32_t lazy = static_cast<uint32_t>(prm.lazyLength);
    const uint32_t len = e.len;

    // Items start where more than 261 bytes remain; without flush an input
    // of exactly 261 bytes still encodes its first position.
    uint32_t end = len > kLookAhead ? len - kLookAhead : 0;
    if (flush < 2 && len == kLookAhead) end = 1;

    uint32_t i = 0;
    if (max_chain == 1)
        i = e.hmask == 65535 && e.wmask == 32767
                ? one_candidate_loop<65535, 32767>(e, c, i, end, lazy)
                : one_candidate_loop<0, 0>(e, c, i, end, lazy);
    else
        i = e.joined ? main_loop<1>(e, i, end, max_chain, good, nice, lazy)
                     : main_loop<2>(e, i, end, max_chain, good, nice, lazy);

    if (flush >= 2) {
        // Tail: the same search without the chain cut, no match reaching
        // into the last 3 bytes, then those bytes as literals.
        while (len - i > 3 && e.n < e.cap)
            i = greedy_step(e, i, max_chain, ~0u, nice, lazy, std::min(len - i - 3, kMaxMatch));
        e.final_literals(i, true);
    }
    e.finish(i);
}

}  // namespace vek::deflate
