// Single-probe LZ77 search (levels 0, 10 and 20): a rolling shift-xor hash
// over three bytes, one head-table probe per position, no chains. Matches
// are 3 bytes or longer and every position they cover is registered; the
// prev table is never used.
#include <algorithm>

#include "deflate/lz77_hash.h"
#include "deflate/lz77_internal.h"

namespace vek::deflate {

using lz77::Engine;

void lz77_single(const Lz77Call& c, uint32_t flush) {
    Engine e(c);
    const uint32_t len = e.len;
    const uint8_t* const src = e.src;
    int32_t* const head = e.head;
    const uint32_t hmask = e.hmask;
    uint32_t h = len >= 3 ? lz77::shift_xor_seed(src) : 0;

    // Probes at offset i with lengths capped at max_len; emits one item and
    // returns the offset after it.
    auto step = [&e, src, head, hmask, &h](uint32_t i, uint32_t max_len) {
        h = lz77::shift_xor_step(h, src[i + 2], hmask);
        const int32_t cand = head[h];
        head[h] = static_cast<int32_t>(e.pos(i));
        const uint32_t d = e.pos(i) - static_cast<uint32_t>(cand);
        uint32_t l = 0;
        if (d - 1 < e.wsize - 1)
            l = e.measure(static_cast<int32_t>(i) - static_cast<int32_t>(d), src + i, max_len);
        if (l < 3) {
            e.literal(src[i]);
            return i + 1;
        }
        e.match(l, d);
        for (uint32_t k = 1; k < l; ++k) {
            h = lz77::shift_xor_step(h, src[i + k + 2], hmask);
            head[h] = static_cast<int32_t>(e.pos(i + k));
        }
        return i + l;
    };

    const uint32_t end = len > kLookAhead - 1 ? len - (kLookAhead - 1) : 0;
    uint32_t i = 0;
    while (i < end && e.n < e.cap) i = step(i, kMaxMatch);
    if (flush >= 2) {
        // Tail: no match reaches into the last 2 bytes; those end the input
        // as literals and are not registered.
        while (len - i > 2 && e.n < e.cap) i = step(i, std::min(len - i - 2, kMaxMatch));
        e.final_literals(i, false);
    }
    e.finish(i);
}

}  // namespace vek::deflate
