// Fuzzer for the Deflate LZ77 stage. The first 8 input bytes choose the
// engine and its parameters (a level 0..29 or caller-chosen greedy or lazy
// parameters), the window and hash sizes, the pair-buffer sizes and the
// input splits; the rest is the data. The data is streamed through the
// engine in calls over exact-size heap buffers (the source alone, and a
// window holding only the history that exists), every call's pairs are
// replayed and compared with the bytes consumed, the counters with counts
// recomputed from the pairs, and each call with the plain model of the rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "deflate_lz77_model.h"
#include "vekdc.h"

namespace {

namespace model = vek::testref::lz77model;
using Bytes = std::vector<uint8_t>;

void check(bool ok) {
    if (!ok) std::abort();
}

// Small deterministic generator fed by the configuration bytes.
struct Rng {
    uint32_t s;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
};

struct Tables {
    std::vector<int32_t> head, prev;
    std::vector<vekDeflateFreqEntry> lit =
        std::vector<vekDeflateFreqEntry>(286, vekDeflateFreqEntry{0, 0x5A5A});
    std::vector<vekDeflateFreqEntry> dist =
        std::vector<vekDeflateFreqEntry>(30, vekDeflateFreqEntry{0, 0x5A5A});
    Tables(uint32_t ws, uint32_t hs)
        : head(hs, -static_cast<int32_t>(ws)), prev(ws, -static_cast<int32_t>(ws)) {}
};

struct Out {
    uint32_t srcLen, srcIdx, dstLen;
    size_t consumed;
    Bytes lit;
    std::vector<uint16_t> dist;
};

Out call(bool use_model, int level, const vekLZ77LevelParams& prm, bool lazy, Tables& t,
         uint32_t ws, uint32_t hs, const uint8_t* src0, uint32_t len, uint32_t idx,
         const uint8_t* win, uint32_t cap, uint32_t flush) {
    Out o{len,
          idx,
          cap,
          0,
          Bytes(std::max<uint32_t>(cap, 1), 0xA5),
          std::vector<uint16_t>(std::max<uint32_t>(cap, 1), 0xA5A5)};
    const uint8_t* src = src0;
    if (use_model) {
        model::Call c =
            model::make_call(&src, &o.srcLen, &o.srcIdx, win, ws, t.head.data(), t.prev.data(), hs,
                             t.lit.data(), t.dist.data(), o.lit.data(), o.dist.data(), &o.dstLen);
        if (level >= 0)
            model::level(c, level, flush);
        else if (lazy)
            model::slow(c, prm, flush);
        else
            model::fast(c, prm, flush);
    } else {
        vekStatus st;
        if (level >= 0) {
            st = veksDeflateLZ77_8u(&src, &o.srcLen, &o.srcIdx, win, ws, t.head.data(),
                                    t.prev.data(), hs, t.lit.data(), t.dist.data(), o.lit.data(),
                                    o.dist.data(), &o.dstLen, level, flush);
        } else {
            auto fn = lazy ? veksDeflateLZ77Slow_8u : veksDeflateLZ77Fast_8u;
            st = fn(&src, &o.srcLen, &o.srcIdx, win, ws, t.head.data(), t.prev.data(), hs,
                    t.lit.data(), t.dist.data(), o.lit.data(), o.dist.data(), &o.dstLen, &prm,
                    flush);
        }
        check(st == vekStatusOk);
    }
    o.consumed = static_cast<size_t>(src - src0);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8 || size > (1u << 17)) return 0;
    Rng rng{static_cast<uint32_t>(data[4] | data[5] << 8 | data[6] << 16) | 1u};
    const uint8_t mode = data[0];
    int level = -1;
    bool lazy = false;
    vekLZ77LevelParams prm{0, 0, 0, 0};
    if (mode < 200) {
        level = mode % 30;
    } else {
        lazy = mode & 1;
        // Greedy runs with bit 1 set take a chain limit of one (its own walk).
        prm.maxChain = static_cast<int32_t>(lazy       ? 1 + rng.next() % 64
                                            : mode & 2 ? 1
                                                       : rng.next() % 64);
        prm.goodLength = static_cast<int32_t>(4 + rng.next() % 300);
        prm.niceLength = static_cast<int32_t>(4 + rng.next() % 300);
        prm.lazyLength = static_cast<int32_t>(4 + rng.next() % 300);
    }
    static const uint32_t kWins[4] = {256, 1024, 4096, 32768},
                          kHashes[4] = {256, 1000, 4096, 65536};
    const uint32_t ws = kWins[data[1] & 3], hs = kHashes[(data[1] >> 2) & 3];
    const bool with_model = size <= 8 + 20000;
    const uint32_t max_cap = data[2] ? data[2] : 100000;
    const size_t max_step = 1 + (static_cast<size_t>(data[3]) << 6);
    const uint32_t start =
        data[7] & 0x80 ? 0x7FFFFFFFu - ws - (static_cast<uint32_t>(data[7] & 0x7F) << 10) : 0;
    const uint8_t* in = data + 8;
    const size_t n = size - 8;

    Tables t(ws, hs);
    Bytes out;  // bytes rebuilt so far
    std::vector<uint32_t> lit_count(286), dist_count(30);
    uint32_t idx = start;
    size_t done = 0, avail = 0;
    bool grow = true;
    while (done < n) {
        if (avail < n && (grow || rng.next() % 2))
            avail = std::min(n, avail + 1 + rng.next() % max_step);
        const uint32_t flush = avail == n ? 2 + rng.next() % 3 : rng.next() % 2;
        const uint32_t cap = 1 + rng.next() % max_cap;
        const size_t h = std::min<size_t>(done, ws);
        std::unique_ptr<uint8_t[]> src(new uint8_t[avail - done]),
            win(new uint8_t[std::max<size_t>(h, 1)]);
        std::copy(in + done, in + avail, src.get());
        std::copy(in + done - h, in + done, win.get());
        const uint32_t len = static_cast<uint32_t>(avail - done);
        Tables before = with_model ? t : Tables(256, 256);
        const Out a = call(false, level, prm, lazy, t, ws, hs, src.get(), len, idx, win.get() + h,
                           cap, flush);
        if (with_model) {
            const Out b = call(true, level, prm, lazy, before, ws, hs, src.get(), len, idx,
                               win.get() + h, cap, flush);
            check(a.consumed == b.consumed && a.srcLen == b.srcLen && a.srcIdx == b.srcIdx &&
                  a.dstLen == b.dstLen);
            check(a.lit == b.lit && a.dist == b.dist);
            check(t.head == before.head && t.prev == before.prev);
            for (int k = 0; k < 286; ++k) check(t.lit[k].freq == before.lit[k].freq);
            for (int k = 0; k < 30; ++k) check(t.dist[k].freq == before.dist[k].freq);
        }
        check(a.dstLen <= cap && a.consumed + a.srcLen == len);
        const uint32_t items = cap - a.dstLen;
        for (uint32_t k = items; k < a.lit.size(); ++k)
            check(a.lit[k] == 0xA5 && a.dist[k] == 0xA5A5);
        for (uint32_t k = 0; k < items; ++k) {
            const uint16_t d = a.dist[k];
            if (d == 0) {
                out.push_back(a.lit[k]);
                ++lit_count[a.lit[k]];
                continue;
            }
            const size_t l = a.lit[k] + 3u;
            check(d < ws && d <= out.size());
            check(l >= 4 || (level >= 0 ? level % 10 == 0 : !lazy && prm.maxChain == 0));
            for (size_t j = 0; j < l; ++j) out.push_back(out[out.size() - d]);
            ++lit_count[257 + model::length_code(static_cast<int>(l))];
            ++dist_count[model::distance_code(d)];
        }
        check(out.size() == done + a.consumed &&
              std::equal(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), in + done));
        if (flush >= 2 && items + 1 < cap) check(a.srcLen == 0);
        check(a.consumed > 0 || avail < n);
        done += a.consumed;
        idx = a.srcIdx;
        grow = a.consumed == 0;
    }
    for (int k = 0; k < 286; ++k)
        check(t.lit[k].freq == (lit_count[k] & 0xFFFF) && t.lit[k].len == 0x5A5A);
    for (int k = 0; k < 30; ++k)
        check(t.dist[k].freq == (dist_count[k] & 0xFFFF) && t.dist[k].len == 0x5A5A);
    return 0;
}
