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

// The main loop with a chain limit of one from source offset i up to `end`.
// A match that registers its inner positions (at most lazyLength long, not
// overlapping itself) registers the 4 positions after its start without a
// branch on its length (the rest, if longer than 5, in a loop): for a 4-byte
// match that includes the next item's own position, whose search then takes
// the candidate this early registration found (registering it again writes
// the same two values). A position registered that way but not searched,
// because the loop ends there, is taken out again.
template <bool kJoined, uint32_t kHMask, uint32_t kWMask>
__attribute__((noinline)) uint32_t one_candidate_loop(Engine& e, const Lz77Call& c, uint32_t i0,
                                                      uint32_t end, uint32_t lazy) {
    // Everything the loop touches lives in locals (the Engine's members
    // would be reloaded after every byte store to the pair arrays), walked
    // by pointers, and the masks are constants for the usual table sizes:
    // fewer values compete for registers.
    const uint32_t hmask = kHMask != 0 ? kHMask : e.hmask;
    const uint32_t wmask = kWMask != 0 ? kWMask : e.wmask;
    int32_t* const head = e.head;
    int32_t* const prev = e.prev;
    const uint8_t* const src = e.src;
    const uint8_t* p = src + i0;
    const uint8_t* const stop = src + end;
    // Position of the byte at x: its address less `shift`, modulo 2^32.
    const uint32_t shift = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(src)) - e.base;
    const auto pos_of = [shift](const uint8_t* x) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(x)) - shift;
    };
    uint8_t* const lit_start = c.pLitDst + e.n;
    uint8_t* lit_out = lit_start;
    uint16_t* dist_out = c.pDistDst + e.n;
    uint8_t* const lit_stop = c.pLitDst + e.cap;
    vekDeflateFreqEntry* const lit_freq = c.pLitFreq;
    vekDeflateFreqEntry* const dist_freq = c.pDistFreq;
    // The position registered early last (none yet) and the prev slot it
    // overwrote; its head slot's old value went to that prev slot.
    uint32_t early_pos = pos_of(p) - 1;
    int32_t early_prev = 0;
    // Hash and candidate of the position searched next: found with the step
    // before when it is 1, 4 or 5 bytes on, from the slots that step
    // started loading early.
    uint32_t h = 0;
    int32_t cand = 0;
    if (p < stop) {
        h = lz77::crc_hash(p, hmask);
        cand = head[h];
    }
    const auto register_range = [&](const uint8_t* from, const uint8_t* to) {
        for (; from < to; ++from) {
            const uint32_t hk = lz77::crc_hash(from, hmask);
            const uint32_t ak = pos_of(from);
            prev[ak & wmask] = head[hk];
            head[hk] = static_cast<int32_t>(ak);
        }
    };
    while (p < stop && lit_out < lit_stop) {
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
        ++lit_freq[257 + length_code(len)].freq;
        {
            // (dist_code by a mask, not a branch: near and far distances mix.)
            const uint32_t far = 512 + ((dist - 1) >> 7), near = 255 + dist;
            const uint32_t is_near = 0u - static_cast<uint32_t>(dist <= 256);
            ++dist_freq[kLitCodeTable[far ^ ((far ^ near) & is_near)]].freq;
        }
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
                register_range(p + 5, p + len);
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
            register_range(p + std::max(skip, 1), p + len);
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
    if (pos_of(p) == early_pos) {
        // Still the head of its hash: give the slots back their old values.
        int32_t& slot = prev[early_pos & wmask];
        head[lz77::crc_hash(p, hmask)] = slot;
        slot = early_prev;
    }
    e.n = static_cast<uint32_t>(lit_out - c.pLitDst);
    return static_cast<uint32_t>(p - src);
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
    if (max_chain == 1) {
        const bool usual = e.hmask == 65535 && e.wmask == 32767;
        if (e.joined)
            i = usual ? one_candidate_loop<true, 65535, 32767>(e, c, i, end, lazy)
                      : one_candidate_loop<true, 0, 0>(e, c, i, end, lazy);
        else
            i = one_candidate_loop<false, 0, 0>(e, c, i, end, lazy);
    }
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
