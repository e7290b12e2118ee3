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
// item and returns the offset after it. kAhead: start loading what the next
// position's search reads first. kOne: a chain limit of one, lengths up to
// 258. kSide: whether the window lies right before the source (1), not (2),
// or found out on each walk (0).
template <bool kAhead = false, bool kOne = false, int kSide = 0>
inline uint32_t greedy_step(Engine& e, uint32_t i, uint32_t max_chain, uint32_t good, uint32_t nice,
                            uint32_t lazy, uint32_t max_len) {
    const int32_t cand = e.insert(i);
    if (kAhead) {
        // While this chain is walked, the next position's first candidate
        // (used when this one gives a literal): its prev slot for a chain
        // walk, its bytes for the one-candidate walk.
        const int32_t c1 = e.head[lz77::crc_hash(e.src + i + 1, e.hmask)];
        if (kOne) {
            // A match here is mostly 4 or 5 long: the head slots the item
            // after it reads start coming in while this one is measured.
            const uint64_t q = load64(e.src + i + 4);
            _mm_prefetch(reinterpret_cast<const char*>(
                             &e.head[_mm_crc32_u32(0, static_cast<uint32_t>(q)) & e.hmask]),
                         _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(
                             &e.head[_mm_crc32_u32(0, static_cast<uint32_t>(q >> 8)) & e.hmask]),
                         _MM_HINT_T0);
            const uintptr_t back = e.base + i + 1 - static_cast<uint32_t>(c1);
            _mm_prefetch(
                reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(e.src + i + 1) - back),
                _MM_HINT_T0);
        } else {
            _mm_prefetch(
                reinterpret_cast<const char*>(&e.prev[static_cast<uint32_t>(c1) & e.wmask]),
                _MM_HINT_T0);
        }
    }
    const bool joined = kSide == 0 ? e.joined : kSide == 1;
    Found f;
    if (kOne)
        f = joined ? e.walk_one<true>(i, cand, max_len) : e.walk_one<false>(i, cand, max_len);
    else if (kSide == 0)
        f = e.walk(i, cand, 3, max_chain, good, nice, max_len);
    else
        f = e.walk_from<kSide == 1>(i, cand, 3, max_chain, good, nice, max_len);
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

// The main loop from source offset i up to `end`, one instance per kind of
// walk and side of the window, so that each keeps only its own state live.
template <bool kOne, int kSide>
uint32_t main_loop(Engine& e, uint32_t i, uint32_t end, uint32_t max_chain, uint32_t good,
                   uint32_t nice, uint32_t lazy) {
    while (i < end && e.n < e.cap)
        i = greedy_step<true, kOne, kSide>(e, i, max_chain, good, nice, lazy, kMaxMatch);
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
        i = e.joined ? main_loop<true, 1>(e, i, end, max_chain, good, nice, lazy)
                     : main_loop<true, 2>(e, i, end, max_chain, good, nice, lazy);
    else
        i = e.joined ? main_loop<false, 1>(e, i, end, max_chain, good, nice, lazy)
                     : main_loop<false, 2>(e, i, end, max_chain, good, nice, lazy);

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
