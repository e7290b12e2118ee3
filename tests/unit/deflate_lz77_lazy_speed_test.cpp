// The lazy engine as a stream encoder drives it: window joined to the source
// in one buffer, 32 KiB window, 64 Ki-entry hash table, pair buffers of a
// few thousand items, with long chains that end at the window edge, at the
// chain limit or at a nice match. Every call must leave exactly what the
// plain model leaves (pairs, counters, both tables, cursors); the pairs
// must rebuild the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "deflate_lz77_model.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

namespace model = vek::testref::lz77model;
using Bytes = std::vector<uint8_t>;

constexpr size_t kScale = vek::testdata::kSanitized ? 4 : 1;

constexpr uint32_t kWin = 32768, kHash = 65536;

struct Tables {
    std::vector<int32_t> head = std::vector<int32_t>(kHash, -static_cast<int32_t>(kWin));
    std::vector<int32_t> prev = std::vector<int32_t>(kWin, -static_cast<int32_t>(kWin));
    std::vector<vekDeflateFreqEntry> lit = std::vector<vekDeflateFreqEntry>(286);
    std::vector<vekDeflateFreqEntry> dist = std::vector<vekDeflateFreqEntry>(30);
    std::vector<uint32_t> freqs() const {
        std::vector<uint32_t> f;
        for (const auto* t : {&lit, &dist})
            for (const vekDeflateFreqEntry& e : *t) f.push_back(e.freq);
        return f;
    }
};

// Streams `in` in calls of up to `step` bytes with room for up to `cap`
// items, library and model side by side; `out` gets the rebuilt bytes.
void stream(const Bytes& in, const vekLZ77LevelParams& prm, size_t step, uint32_t cap,
            uint32_t seed, Bytes& out) {
    std::mt19937 rng(seed);
    Tables lib, mod;
    std::vector<uint8_t> lit(cap), mlit(cap);
    std::vector<uint16_t> dist(cap), mdist(cap);
    size_t done = 0;
    uint32_t idx = 0;
    while (done < in.size()) {
        const size_t avail = std::min(in.size() - done, step / 2 + rng() % step);
        const uint32_t flush = done + avail == in.size() ? 2 : 0;
        const uint32_t room = cap / 2 + rng() % (cap / 2);
        const uint8_t* const start = in.data() + done;
        const uint8_t *src = start, *msrc = start;
        uint32_t len = static_cast<uint32_t>(avail), mlen = len, midx = idx;
        uint32_t dst = room, mdst = room;
        ASSERT_EQ(veksDeflateLZ77Slow_8u(&src, &len, &idx, start, kWin, lib.head.data(),
                                         lib.prev.data(), kHash, lib.lit.data(), lib.dist.data(),
                                         lit.data(), dist.data(), &dst, &prm, flush),
                  vekStatusOk);
        model::Call c = model::make_call(&msrc, &mlen, &midx, start, kWin, mod.head.data(),
                                         mod.prev.data(), kHash, mod.lit.data(), mod.dist.data(),
                                         mlit.data(), mdist.data(), &mdst);
        model::slow(c, prm, flush);
        ASSERT_EQ(src, msrc);
        ASSERT_EQ(idx, midx);
        ASSERT_EQ(dst, mdst);
        const uint32_t n = room - dst;
        ASSERT_TRUE(std::equal(lit.begin(), lit.begin() + n, mlit.begin()));
        ASSERT_TRUE(std::equal(dist.begin(), dist.begin() + n, mdist.begin()));
        ASSERT_TRUE(lib.head == mod.head);
        ASSERT_TRUE(lib.prev == mod.prev);
        ASSERT_TRUE(lib.freqs() == mod.freqs());
        for (uint32_t k = 0; k < n; ++k) {
            if (dist[k] == 0) {
                out.push_back(lit[k]);
                continue;
            }
            const size_t from = out.size() - dist[k];
            for (size_t j = 0; j < lit[k] + 3u; ++j) out.push_back(out[from + j]);
        }
        done += static_cast<size_t>(src - start);
    }
}

// Prose-like bytes from a skewed choice of 3000 made-up words: many short
// and middling matches, long hash chains.
Bytes prose(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Bytes> words(3000);
    for (Bytes& w : words) {
        w.resize(2 + rng() % 9);
        for (auto& c : w) c = static_cast<uint8_t>('a' + rng() % 26);
    }
    Bytes v;
    while (v.size() < n) {
        const uint32_t k = (rng() % 3000) * (rng() % 3000) / 3000;
        v.insert(v.end(), words[k].begin(), words[k].end());
        v.push_back(rng() % 9 ? ' ' : rng() % 2 ? '\n' : ',');
    }
    v.resize(n);
    return v;
}

// Prose, a run-rich stretch, and random bytes with copied stretches, one
// after the other in one stream.
Bytes mixed(size_t n, uint32_t seed) {
    Bytes in = prose(n / 2, seed);
    const Bytes runs = vek::testdata::runs_bytes(n / 8, seed + 1);
    in.insert(in.end(), runs.begin(), runs.end());
    Bytes rnd = vek::testdata::random_bytes(n / 4, seed + 2);
    std::mt19937 rng(seed);
    for (size_t k = 0; k + 600 < rnd.size(); k += 2000) {
        const size_t from = rng() % (k + 1), len = 4 + rng() % 300;
        std::copy(rnd.begin() + static_cast<std::ptrdiff_t>(from),
                  rnd.begin() + static_cast<std::ptrdiff_t>(from + len),
                  rnd.begin() + static_cast<std::ptrdiff_t>(k + 300));
    }
    in.insert(in.end(), rnd.begin(), rnd.end());
    const Bytes text = vek::testdata::text_bytes(n / 8, seed + 3);
    in.insert(in.end(), text.begin(), text.end());
    return in;
}

TEST(DeflateLZ77LazyStream, EncoderSettingsAgreeWithModel) {
    const vekLZ77LevelParams prms[] = {
        {48, 8, 64, 32}, {16, 8, 32, 16}, {512, 8, 128, 258}, {3, 4, 300, 4}};
    uint32_t seed = 3;
    for (const vekLZ77LevelParams& prm : prms) {
        SCOPED_TRACE("chain " + std::to_string(prm.maxChain));
        const Bytes in = mixed(480000 / kScale, seed);
        Bytes out;
        stream(in, prm, 90000 / kScale, 4096, seed++, out);
        EXPECT_TRUE(out == in);
    }
}

}  // namespace
