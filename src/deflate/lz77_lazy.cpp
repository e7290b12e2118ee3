// Lazy LZ77 engine: the item found at one position stays pending while the
// next position is searched, and is emitted only if that search does not
// find something longer. Every position is registered under its CRC hash;
// the inner positions of an emitted match are registered too (those of a
// self-overlapping match from a few bytes before its end).
//
// Inputs of up to 261 bytes and pair buffers with room for fewer than two
// items go through a plain greedy search instead (short-input path).
#include <algorithm>

#include "deflate/lz77_hash.h"
#include "deflate/lz77_internal.h"

namespace vek::deflate {

using lz77::Engine;
using lz77::Found;

namespace {

class Lazy {
  public:
    Lazy(Engine& e, const vekLZ77LevelParams& prm)
        : e_(e),
          max_chain_(static_cast<uint32_t>(prm.maxChain)),
          good_(static_cast<uint32_t>(prm.goodLength)),
          nice_(static_cast<uint32_t>(prm.niceLength)),
          lazy_(static_cast<uint32_t>(prm.lazyLength)) {}

    // One position: search at source offset i_ (lengths up to max_len),
    // settle the pending item, make this position's result pending.
    template <bool kAhead = false>
    void step(uint32_t max_len) {
        const uint32_t i = i_;
        const int32_t cand = e_.insert(i);
        if (kAhead) {
            // The chain walk waits on one prev load after another; start the
            // first one of the next position's chain now. (Its head slot
            // may still change; this only warms the cache.)
            const int32_t c1 = e_.head[lz77::crc_hash(e_.src + i + 1, e_.hmask)];
            _mm_prefetch(
                reinterpret_cast<const char*>(&e_.prev[static_cast<uint32_t>(c1) & e_.wmask]),
                _MM_HINT_T0);
        }
        uint32_t cur = plen_, cdist = 0;
        if (plen_ < lazy_) {
            const uint32_t limit = plen_ < good_ ? max_chain_ : max_chain_ >> 2;
            const Found f = e_.walk(i, cand, std::max(plen_, 3u), limit, ~0u, nice_, max_len);
            cur = f.len;
            cdist = f.dist;
        }
        if (plen_ > 1) {
            if (plen_ < cur || plen_ < 4) {
                e_.literal(pbyte_);
            } else {
                // The pending match starts at i - 1; i is registered already.
                e_.match(plen_, pdist_);
                uint32_t from = i + 1;
                if (pdist_ < plen_) {
                    const int32_t skip = static_cast<int32_t>(plen_ - pdist_) - 3;
                    from = i + static_cast<uint32_t>(std::max(skip, 1));
                }
                e_.insert_range(from, i + plen_ - 1);
                i_ = i + plen_ - 2;
                cur = 0;
            }
        }
        plen_ = cur;
        pdist_ = cdist;
        pbyte_ = e_.src[i_];
        ++i_;
    }

    // Emits the pending item (which starts at i_ - 1) at the end of a call.
    // A match registers the same range as in step(), from i_ + 1 on; i_
    // itself was not searched and stays unregistered.
    void settle() {
        if (plen_ < 2) return;
        if (plen_ < 4) {
            e_.literal(pbyte_);
            return;
        }
        e_.match(plen_, pdist_);
        e_.insert_range(i_ + 1, i_ + plen_ - 1);
        i_ += plen_ - 1;
    }

    Engine& e_;
    const uint32_t max_chain_, good_, nice_, lazy_;
    uint32_t i_ = 0;  // next source offset to search
    uint32_t plen_ = 0, pdist_ = 0;
    uint8_t pbyte_ = 0;
};

// Greedy search of the short-input path at source offset i; walks to the
// chain limit, the window edge or a match of max_len, registers every inner
// position of a match. Returns the offset after the item.
uint32_t short_step(Engine& e, uint32_t i, uint32_t max_chain, uint32_t max_len) {
    const int32_t cand = e.insert(i);
    const Found f = e.walk(i, cand, 3, max_chain, ~0u, max_len, max_len);
    if (f.len < 4) {
        e.literal(e.src[i]);
        return i + 1;
    }
    e.match(f.len, f.dist);
    uint32_t from = i + 1;
    if (f.dist < f.len) {
        const int32_t skip = static_cast<int32_t>(f.len - f.dist) - 3;
        from = i + static_cast<uint32_t>(std::max(skip, 1));
    }
    e.insert_range(from, i + f.len);
    return i + f.len;
}

void short_input(Engine& e, uint32_t max_chain, uint32_t flush) {
    const uint32_t len = e.len;
    uint32_t end = len > kLookAhead ? len - kLookAhead : 0;
    uint32_t max_len = kMaxMatch;
    if (flush < 2 && len == kLookAhead) {
        end = 1;
        max_len = kMaxMatch - 1;
    }
    uint32_t i = 0;
    while (i < end && e.n < e.cap) i = short_step(e, i, max_chain, max_len);
    if (flush >= 2) {
        while (len - i > 3 && e.n < e.cap)
            i = short_step(e, i, max_chain, std::min(len - i - 3, kMaxMatch));
        e.final_literals(i, true);
    }
    e.finish(i);
}

}  // namespace

void lz77_lazy(const Lz77Call& c, const vekLZ77LevelParams& prm, uint32_t flush) {
    rebase(c, true);
    Engine e(c);
    const uint32_t len = e.len;
    if (e.cap < 2 || len <= kLookAhead) {
        short_input(e, static_cast<uint32_t>(prm.maxChain), flush);
        return;
    }
    // One element stays free for the pending item.
    const uint32_t room = e.cap - 1;
    const uint32_t end = len - kLookAhead;
    Lazy z(e, prm);
    while (z.i_ < end && e.n < room) z.step<true>(kMaxMatch);
    bool tail_done = false;
    if (flush >= 2) {
        // Tail: the same search, no match reaching into the last 3 bytes.
        while (len - z.i_ > 3 && e.n < room) z.step(std::min(len - z.i_ - 3, kMaxMatch));
        tail_done = len - z.i_ <= 3;
    }
    z.settle();
    uint32_t i = z.i_;
    if (tail_done) e.final_literals(i, true);
    e.finish(i);
}

}  // namespace vek::deflate
