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

    // One position of the flush tail (lengths capped by the bytes left):
    // search at source offset i_ (lengths up to max_len), settle the
    // pending item, make this position's result pending.
    void step(uint32_t max_len) {
        const uint32_t i = i_;
        const int32_t cand = e_.insert(i);
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
                emit_match(i);
                cur = 0;
            }
        }
        plen_ = cur;
        pdist_ = cdist;
        pbyte_ = e_.src[i_];
        ++i_;
    }

    // The main loop (every search may reach kMaxMatch). The position right
    // after an emitted match has no pending item, every other one has, so
    // the two kinds of step are separate loops, and the hash of the next
    // position, computed ahead for a prefetch, is carried to it. The state
    // lives in locals here (registers) and goes back to the members at the
    // end.
    template <bool kJoined>
    void run(uint32_t end, uint32_t room) {
        Engine& e = e_;
        const uint8_t* const src = e.src;
        int32_t* const head = e.head;
        int32_t* const prev = e.prev;
        const uint32_t hmask = e.hmask, wmask = e.wmask, base = e.base;
        const uint32_t max_chain = max_chain_, good = good_, lazy = lazy_;
        uint32_t i = i_, plen = plen_, pdist = pdist_;
        uint8_t pbyte = pbyte_;
        const auto insert = [&](uint32_t at, uint32_t h) {
            const int32_t c = head[h];
            prev[(base + at) & wmask] = c;
            head[h] = static_cast<int32_t>(base + at);
            return c;
        };
        // Hash of offset at + 1; starts the first prev load of its chain,
        // whose head c1 the next walk follows along.
        int32_t c1 = 0;
        const auto ahead = [&](uint32_t at) {
            const uint32_t h = lz77::crc_hash(src + at + 1, hmask);
            c1 = head[h];
            _mm_prefetch(reinterpret_cast<const char*>(&prev[static_cast<uint32_t>(c1) & wmask]),
                         _MM_HINT_T0);
            return h;
        };
        if (i >= end || e.n >= room) return;
        uint32_t h = lz77::crc_hash(src + i, hmask);
        for (;;) {
            if (i >= end || e.n >= room) break;
            {
                // No pending item: a full search from length 3.
                const int32_t cand = insert(i, h);
                h = ahead(i);
                const Found f = walk<kJoined>(i, cand, 3, max_chain, c1);
                plen = f.len;
                pdist = f.dist;
                pbyte = src[i];
                ++i;
            }
            // A pending item (at least 3 long) from the position before.
            bool matched = false;
            while (i < end && e.n < room) {
                const int32_t cand = insert(i, h);
                h = ahead(i);
                uint32_t cur = plen, cdist = 0;
                if (plen < lazy) {
                    const Found f =
                        walk<kJoined>(i, cand, plen, plen < good ? max_chain : max_chain >> 2, c1);
                    cur = f.len;
                    cdist = f.dist;
                }
                if (plen >= cur && plen >= 4) {
                    // The pending match starts at i - 1; i is registered.
                    e.match(plen, pdist);
                    uint32_t from = i + 1;
                    if (pdist < plen) {
                        const int32_t skip = static_cast<int32_t>(plen - pdist) - 3;
                        from = i + static_cast<uint32_t>(std::max(skip, 1));
                    }
                    const uint32_t to = i + plen - 1;
                    // The next search is at `to`: its chain is warmed while
                    // the inner positions are registered.
                    h = ahead(to - 1);
                    for (uint32_t k = from; k < to; ++k) insert(k, lz77::crc_hash(src + k, hmask));
                    i = to - 1;
                    plen = 0;
                    pbyte = src[i];
                    ++i;
                    matched = true;
                    break;
                }
                e.literal(pbyte);
                plen = cur;
                pdist = cdist;
                pbyte = src[i];
                ++i;
            }
            if (!matched) break;
        }
        i_ = i;
        plen_ = plen;
        pdist_ = pdist;
        pbyte_ = pbyte;
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

  private:
    // The pending match (which starts at i - 1, i registered already) with
    // its inner positions; i_ moves to its last byte.
    void emit_match(uint32_t i) {
        e_.match(plen_, pdist_);
        uint32_t from = i + 1;
        if (pdist_ < plen_) {
            const int32_t skip = static_cast<int32_t>(plen_ - pdist_) - 3;
            from = i + static_cast<uint32_t>(std::max(skip, 1));
        }
        e_.insert_range(from, i + plen_ - 1);
        i_ = i + plen_ - 2;
    }

    // The chain walk of the main loop: no limit cut, lengths up to
    // kMaxMatch. With the window joined to the source, every candidate is
    // read at a pointer computed once per improvement minus the distance.
    // The walk is a chain of dependent prev loads; c2 (the head of the next
    // position's chain) is followed alongside, one link per candidate, so
    // that the next walk finds its links cached: two chains in flight
    // instead of one. Those loads only warm the cache (prev slots are always
    // in range); nothing depends on their values.
    template <bool kJoined>
    __attribute__((always_inline)) Found walk(uint32_t i, int32_t cand, uint32_t best,
                                              uint32_t limit, int32_t c2) const {
        if (!kJoined) return e_.walk_from<false>(i, cand, best, limit, ~0u, nice_, kMaxMatch);
        Found f{best, 0};
        if (best >= kMaxMatch || limit == 0) return f;
        const uint8_t* const p = e_.src + i;
        const uint32_t at = e_.base + i;
        const uint32_t last = e_.wsize - 1, wmask = e_.wmask, nice = nice_;
        const int32_t* const prev = e_.prev;
        const uint8_t* q = p + best - 3;
        uint32_t tail = load32(q);
        do {
            const uint32_t d = at - static_cast<uint32_t>(cand);
            if (d - 1 >= last) break;  // beyond the window, or not behind us
            const int32_t next = prev[static_cast<uint32_t>(cand) & wmask];
            c2 = prev[static_cast<uint32_t>(c2) & wmask];
            if (load32(q - d) == tail) {
                const uint32_t l = lz77::common_prefix(p - d, p, kMaxMatch);
                if (l > best) {
                    best = l;
                    f = {l, d};
                    if (l >= nice || l >= kMaxMatch) break;
                    q = p + l - 3;
                    tail = load32(q);
                }
            }
            cand = next;
        } while (--limit != 0);
        // Keeps the shadow loads (a prefetch of the link after would cost
        // more than it brings).
        asm volatile("" ::"r"(c2));
        return f;
    }
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
    if (e.joined) {
        z.run<true>(end, room);
    } else {
        z.run<false>(end, room);
    }
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
