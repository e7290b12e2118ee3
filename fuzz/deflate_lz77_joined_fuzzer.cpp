// Fuzzer for the greedy LZ77 engine with a chain limit of one and the window
// joined to the source: each call gets one exact-size heap buffer holding
// only the history that exists, followed by the source, with pWindow at the
// source. The first 4 input bytes choose lazyLength, the window and hash
// sizes, the pair-buffer sizes and the input splits; the rest is the data.
// Every call must agree with the plain model (pairs, counters, tables,
// cursors), and the pairs replayed must rebuild the input.
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

void check(bool ok) {
    if (!ok) std::abort();
}

struct Tables {
    std::vector<int32_t> head, prev;
    std::vector<vekDeflateFreqEntry> lit =
        std::vector<vekDeflateFreqEntry>(286, vekDeflateFreqEntry{0, 0});
    std::vector<vekDeflateFreqEntry> dist =
        std::vector<vekDeflateFreqEntry>(30, vekDeflateFreqEntry{0, 0});
    Tables(uint32_t ws, uint32_t hs)
        : head(hs, -static_cast<int32_t>(ws)), prev(ws, -static_cast<int32_t>(ws)) {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > (1u << 16)) return 0;
    const int32_t lazy = data[0] >= 250 ? 258 : 4 + data[0] % 12;
    const vekLZ77LevelParams prm{1, 16, 16, lazy};
    static const uint32_t kWins[4] = {32768, 32768, 1024, 256},
                          kHashes[4] = {65536, 65536, 4096, 256};
    const uint32_t ws = kWins[data[1] & 3], hs = kHashes[(data[1] >> 2) & 3];
    const uint32_t max_cap = data[2] ? 1u + data[2] * 16u : 5000;
    const size_t max_step = 1 + (static_cast<size_t>(data[3]) << 6);
    uint32_t rng = static_cast<uint32_t>(data[1] << 16 | data[2] << 8 | data[3]) | 1u;
    const auto next = [&rng]() {
        rng ^= rng << 13;
        rng ^= rng >> 17;
        rng ^= rng << 5;
        return rng;
    };
    const uint8_t* in = data + 4;
    const size_t n = size - 4;

    Tables t(ws, hs);
    std::vector<uint8_t> out;  // bytes rebuilt so far
    uint32_t idx = 0;
    size_t done = 0, avail = 0;
    bool grow = true;
    while (done < n) {
        if (avail < n && (grow || next() % 2)) avail = std::min(n, avail + 1 + next() % max_step);
        const uint32_t flush = avail == n ? 2 : next() % 2;
        const uint32_t cap = 1 + next() % max_cap;
        const size_t h = std::min<size_t>(done, ws);
        const size_t total = h + (avail - done);
        std::unique_ptr<uint8_t[]> buf(new uint8_t[std::max<size_t>(total, 1)]);
        std::copy(in + done - h, in + avail, buf.get());
        const uint8_t* const p = buf.get() + h;
        const uint32_t len = static_cast<uint32_t>(avail - done);

        Tables m = t;
        std::vector<uint8_t> lit(cap, 0xA5), mlit(cap, 0xA5);
        std::vector<uint16_t> dist(cap, 0xA5A5), mdist(cap, 0xA5A5);
        const uint8_t *src = p, *msrc = p;
        uint32_t left = len, mleft = len, midx = idx, room = cap, mroom = cap;
        check(veksDeflateLZ77Fast_8u(&src, &left, &idx, p, ws, t.head.data(), t.prev.data(), hs,
                                     t.lit.data(), t.dist.data(), lit.data(), dist.data(), &room,
                                     &prm, flush) == vekStatusOk);
        model::Call c =
            model::make_call(&msrc, &mleft, &midx, p, ws, m.head.data(), m.prev.data(), hs,
                             m.lit.data(), m.dist.data(), mlit.data(), mdist.data(), &mroom);
        model::fast(c, prm, flush);
        check(src == msrc && left == mleft && idx == midx && room == mroom);
        check(lit == mlit && dist == mdist);
        check(t.head == m.head && t.prev == m.prev);
        for (int k = 0; k < 286; ++k) check(t.lit[k].freq == m.lit[k].freq);
        for (int k = 0; k < 30; ++k) check(t.dist[k].freq == m.dist[k].freq);

        const uint32_t items = cap - room;
        for (uint32_t k = 0; k < items; ++k) {
            const uint16_t d = dist[k];
            if (d == 0) {
                out.push_back(lit[k]);
                continue;
            }
            check(d < ws && d <= out.size());
            for (size_t j = 0; j < lit[k] + 3u; ++j) out.push_back(out[out.size() - d]);
        }
        const size_t consumed = static_cast<size_t>(src - p);
        check(out.size() == done + consumed &&
              std::equal(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), in + done));
        check(consumed > 0 || avail < n);
        done += consumed;
        grow = consumed == 0;
    }
    return 0;
}
