// Deflate LZ77 stage against zlib's inflater: the pairs of every level are
// written as dynamic-Huffman Deflate blocks by a small block writer of this
// test (one block per engine call, code lengths from the engine's own
// counters), and zlib's raw inflate must give back the input, also with a
// preset dictionary.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The sanitizer build runs without optimisation: smaller inputs there.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kScale = 4;
#else
constexpr size_t kScale = 1;
#endif

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

int len_code(int len) {
    int c = 28;
    while (kLenBase[c] > len) --c;
    return c;
}
int dist_code(int d) {
    int c = 29;
    while (kDistBase[c] > d) --c;
    return c;
}

// Least-significant-bit-first output.
struct BitWriter {
    Bytes out;
    uint64_t acc = 0;
    int n = 0;
    void put(uint32_t bits, int len) {
        acc |= static_cast<uint64_t>(bits) << n;
        n += len;
        while (n >= 8) {
            out.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            n -= 8;
        }
    }
    void align() {
        if (n > 0) put(0, 8 - n);
    }
};

// Huffman code lengths of at most `limit` bits: a plain Huffman tree, and
// while it is too deep the counts are halved (staying above zero).
std::vector<int> code_lengths(std::vector<uint32_t> freq, int limit) {
    const size_t n = freq.size();
    std::vector<int> len(n, 0);
    std::vector<size_t> used;
    for (size_t i = 0; i < n; ++i)
        if (freq[i]) used.push_back(i);
    if (used.size() == 1) {
        len[used[0]] = 1;
        return len;
    }
    for (;;) {
        // Nodes: leaves 0..n-1, inner nodes after; parent links give depths.
        std::vector<int> parent(2 * n, -1);
        using Item = std::pair<uint64_t, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
        for (size_t i : used) q.push({freq[i], static_cast<int>(i)});
        int next = static_cast<int>(n);
        while (q.size() > 1) {
            const Item a = q.top();
            q.pop();
            const Item b = q.top();
            q.pop();
            parent[static_cast<size_t>(a.second)] = parent[static_cast<size_t>(b.second)] = next;
            q.push({a.first + b.first, next++});
        }
        int deepest = 0;
        for (size_t i : used) {
            int d = 0;
            for (int k = static_cast<int>(i); parent[static_cast<size_t>(k)] != -1;
                 k = parent[static_cast<size_t>(k)])
                ++d;
            len[i] = d;
            deepest = std::max(deepest, d);
        }
        if (deepest <= limit) return len;
        for (size_t i : used) freq[i] = std::max<uint32_t>(1, freq[i] >> 1);
    }
}

// Canonical codes (RFC 1951, 3.2.2), bit-reversed for LSB-first output.
std::vector<uint32_t> codes_of(const std::vector<int>& len) {
    int count[16] = {0}, next[16] = {0};
    for (int l : len) ++count[l];
    count[0] = 0;
    for (int b = 1, code = 0; b < 16; ++b) {
        code = (code + count[b - 1]) << 1;
        next[b] = code;
    }
    std::vector<uint32_t> codes(len.size(), 0);
    for (size_t i = 0; i < len.size(); ++i) {
        if (len[i] == 0) continue;
        uint32_t c = static_cast<uint32_t>(next[len[i]]++), r = 0;
        for (int k = 0; k < len[i]; ++k, c >>= 1) r = r << 1 | (c & 1);
        codes[i] = r;
    }
    return codes;
}

struct Pair {
    uint8_t lit;
    uint16_t dist;
};

// One dynamic-Huffman block: the literal/length and distance counts are
// the engine's counters (the end-of-block symbol added here).
void write_block(BitWriter& bw, const std::vector<Pair>& pairs, const vekDeflateFreqEntry* litf,
                 const vekDeflateFreqEntry* distf, bool last) {
    std::vector<uint32_t> lf(286), df(30);
    for (int i = 0; i < 286; ++i) lf[static_cast<size_t>(i)] = litf[i].freq;
    for (int i = 0; i < 30; ++i) df[static_cast<size_t>(i)] = distf[i].freq;
    lf[256] = 1;
    if (std::all_of(df.begin(), df.end(), [](uint32_t v) { return v == 0; })) df[0] = 1;
    const std::vector<int> ll = code_lengths(lf, 15), dl = code_lengths(df, 15);
    const std::vector<uint32_t> lc = codes_of(ll), dc = codes_of(dl);
    int hlit = 286, hdist = 30;
    while (ll[static_cast<size_t>(hlit - 1)] == 0) --hlit;
    while (hdist > 1 && dl[static_cast<size_t>(hdist - 1)] == 0) --hdist;
    // Code lengths sent literally (symbols 0..15), coded with a 7-bit-limited code.
    std::vector<int> seq(ll.begin(), ll.begin() + hlit);
    seq.insert(seq.end(), dl.begin(), dl.begin() + hdist);
    std::vector<uint32_t> cf(19, 0);
    for (int v : seq) ++cf[static_cast<size_t>(v)];
    if (std::count_if(cf.begin(), cf.end(), [](uint32_t v) { return v != 0; }) == 1)
        cf[cf[0] ? 1 : 0] = 1;
    const std::vector<int> cl = code_lengths(cf, 7);
    const std::vector<uint32_t> cc = codes_of(cl);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int hclen = 19;
    while (hclen > 4 && cl[static_cast<size_t>(order[hclen - 1])] == 0) --hclen;

    bw.put(last ? 1 : 0, 1);
    bw.put(2, 2);
    bw.put(static_cast<uint32_t>(hlit - 257), 5);
    bw.put(static_cast<uint32_t>(hdist - 1), 5);
    bw.put(static_cast<uint32_t>(hclen - 4), 4);
    for (int k = 0; k < hclen; ++k)
        bw.put(static_cast<uint32_t>(cl[static_cast<size_t>(order[k])]), 3);
    for (int v : seq) bw.put(cc[static_cast<size_t>(v)], cl[static_cast<size_t>(v)]);
    for (const Pair& p : pairs) {
        if (p.dist == 0) {
            bw.put(lc[p.lit], ll[p.lit]);
            continue;
        }
        const int len = p.lit + 3, lcode = len_code(len), dcode = dist_code(p.dist);
        bw.put(lc[static_cast<size_t>(257 + lcode)], ll[static_cast<size_t>(257 + lcode)]);
        bw.put(static_cast<uint32_t>(len - kLenBase[lcode]), kLenExtra[lcode]);
        bw.put(dc[static_cast<size_t>(dcode)], dl[static_cast<size_t>(dcode)]);
        bw.put(static_cast<uint32_t>(p.dist - kDistBase[dcode]), kDistExtra[dcode]);
    }
    bw.put(lc[256], ll[256]);
}

// Encodes `data` at `level` in calls over growing input (one block per
// call) and returns the raw Deflate stream.
Bytes deflate_stream(const Bytes& data, int level, uint32_t win_size, uint32_t hash_size,
                     uint32_t cap, uint32_t seed, const Bytes& dict = {}) {
    std::mt19937 rng(seed);
    std::vector<int32_t> head(hash_size, -static_cast<int32_t>(win_size)),
        prev(win_size, -static_cast<int32_t>(win_size));
    // History (dictionary tail) and data in one buffer: the window lies
    // right before the source.
    const size_t dn = std::min<size_t>(dict.size(), win_size);
    Bytes all;
    uint32_t idx = 0;
    if (!dict.empty()) {
        all.resize(win_size);
        EXPECT_EQ(veksDeflateDictionarySet_8u(dict.data(), static_cast<uint32_t>(dict.size()),
                                              head.data(), hash_size, prev.data(), all.data(),
                                              win_size, level),
                  vekStatusOk);
        all.resize(dn);
        idx = static_cast<uint32_t>(dn);
    }
    all.insert(all.end(), data.begin(), data.end());
    BitWriter bw;
    std::vector<uint8_t> lit(cap);
    std::vector<uint16_t> dist(cap);
    size_t done = 0, avail = 0;
    while (done < data.size()) {
        avail = std::min(data.size(), avail + 1 + rng() % 100000);
        std::vector<vekDeflateFreqEntry> lf(286, vekDeflateFreqEntry{0, 0}),
            df(30, vekDeflateFreqEntry{0, 0});
        const uint8_t* src = all.data() + dn + done;
        uint32_t len = static_cast<uint32_t>(avail - done), dst = cap;
        const uint32_t flush = avail == data.size() ? 2 : 0;
        EXPECT_EQ(
            veksDeflateLZ77_8u(&src, &len, &idx, src, win_size, head.data(), prev.data(), hash_size,
                               lf.data(), df.data(), lit.data(), dist.data(), &dst, level, flush),
            vekStatusOk);
        const size_t consumed = static_cast<size_t>(src - (all.data() + dn + done));
        done += consumed;
        std::vector<Pair> pairs;
        for (uint32_t k = 0; k < cap - dst; ++k) pairs.push_back({lit[k], dist[k]});
        if (pairs.empty()) continue;
        write_block(bw, pairs, lf.data(), df.data(), done == data.size());
    }
    if (data.empty()) {
        // An empty final block with the fixed codes.
        bw.put(1, 1);
        bw.put(1, 2);
        bw.put(0, 7);
    }
    bw.align();
    return bw.out;
}

Bytes inflate_raw(const Bytes& z, size_t expect, const Bytes& dict = {}) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
    if (!dict.empty()) {
        EXPECT_EQ(inflateSetDictionary(&zs, dict.data(), static_cast<uInt>(dict.size())), Z_OK);
    }
    Bytes out(expect + 64);
    zs.next_in = const_cast<Bytef*>(z.data());
    zs.avail_in = static_cast<uInt>(z.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int st = inflate(&zs, Z_FINISH);
    EXPECT_EQ(st, Z_STREAM_END) << (zs.msg ? zs.msg : "");
    EXPECT_EQ(zs.avail_in, 0u);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

Bytes sample(size_t n, uint32_t seed) {
    Bytes v = vek::testdata::text_bytes(n / 2, seed);
    const Bytes r = vek::testdata::runs_bytes(n / 4, seed + 1),
                x = vek::testdata::random_bytes(n / 8, seed + 2);
    v.insert(v.end(), r.begin(), r.end());
    v.insert(v.end(), x.begin(), x.end());
    const Bytes t = vek::testdata::text_bytes(n - v.size(), seed + 3);
    v.insert(v.end(), t.begin(), t.end());
    return v;
}

TEST(DeflateLZ77Peer, EveryLevelInflatesWithZlib) {
    const Bytes data = sample(300000 / kScale, 1);
    for (int level = 0; level < 30; ++level) {
        const Bytes z =
            deflate_stream(data, level, 32768, 32768, 20000, static_cast<uint32_t>(level));
        EXPECT_TRUE(inflate_raw(z, data.size()) == data) << "level " << level;
        EXPECT_LT(z.size(), data.size()) << "level " << level;
    }
}

TEST(DeflateLZ77Peer, SmallWindowsAndTables) {
    const Bytes data = sample(120000 / kScale, 2);
    const uint32_t sizes[][2] = {{256, 256}, {1024, 65536}, {4096, 1024}, {32768, 256}};
    for (const auto& ws : sizes) {
        for (int level : {0, 1, 4, 5, 9, 10, 14, 19, 20, 24, 29}) {
            const Bytes z = deflate_stream(data, level, ws[0], ws[1], 777, 9);
            EXPECT_TRUE(inflate_raw(z, data.size()) == data)
                << level << " " << ws[0] << " " << ws[1];
        }
    }
}

TEST(DeflateLZ77Peer, ShortAndTinyInputs) {
    for (size_t n : {0, 1, 2, 3, 4, 5, 17, 258, 261, 262, 600}) {
        const Bytes data = vek::testdata::text_bytes(n, static_cast<uint32_t>(n));
        for (int level = 0; level < 30; ++level) {
            const Bytes z = deflate_stream(data, level, 32768, 32768, 64, 3);
            EXPECT_TRUE(inflate_raw(z, data.size()) == data) << level << " " << n;
        }
    }
}

TEST(DeflateLZ77Peer, PresetDictionary) {
    const Bytes text = vek::testdata::text_bytes(90000, 4);
    const Bytes dict(text.begin(), text.begin() + 40000), data(text.begin() + 40000, text.end());
    for (int level : {0, 2, 6, 10, 13, 17, 20, 29}) {
        const Bytes z = deflate_stream(data, level, 32768, 32768, 5000, 5, dict);
        // zlib takes the same last 32768 bytes of the dictionary.
        EXPECT_TRUE(inflate_raw(z, data.size(), dict) == data) << level;
        // Levels 10 and 20 preload by the CRC hash but search by the
        // shift-xor hash, so their dictionary positions are not found.
        if (level % 10 == 0 && level != 0) continue;
        const Bytes plain = deflate_stream(data, level, 32768, 32768, 5000, 5);
        EXPECT_LT(z.size(), plain.size()) << "the dictionary was of no use at level " << level;
    }
}

}  // namespace
