// Deflate streams from the fastest encoder (fixed codes, and dynamic codes
// from the statistics pass with a precomputed header) and from the pair
// writer (with pairs from a small test-only greedy matcher and a header
// written here) inflate with zlib's raw inflate to their input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "deflate/huff.h"
#include "test_data.h"
#include "deflate_huff_codes.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<vekDeflateHuffCode>;

Bytes zlib_inflate_raw(const Bytes& stream, size_t expect) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    Bytes out(expect + 64);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    EXPECT_EQ(rc, Z_STREAM_END) << (z.msg ? z.msg : "");
    EXPECT_EQ(z.avail_in, 0u);  // nothing after the final block's last byte
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

std::vector<std::pair<const char*, Bytes>> corpus() {
    using namespace vek::testdata;
    std::vector<std::pair<const char*, Bytes>> v = {
        {"text", text_bytes(1 << 20, 1)}, {"random", random_bytes(300000, 2)}, {"runs", runs_bytes(500000, 3)}};
    Bytes bin;  // little-endian records: counters, small floats, tags
    for (uint32_t i = 0; i < 100000; ++i) {
        const float f = float(i % 977) * 0.25f;
        uint8_t rec[12];
        std::memcpy(rec, &i, 4);
        std::memcpy(rec + 4, &f, 4);
        rec[8] = uint8_t(i % 7), rec[9] = 0, rec[10] = 0xFF, rec[11] = uint8_t(i >> 12);
        bin.insert(bin.end(), rec, rec + 12);
    }
    v.push_back({"binary", bin});
    for (size_t n : {0, 1, 2, 3, 4, 5, 17, 258, 259, 274, 275, 1000}) v.push_back({"tiny", text_bytes(n, 4)});
    Bytes big = text_bytes(6 << 20, 5);
    const Bytes r = runs_bytes(1 << 20, 6), x = random_bytes(1 << 19, 7);
    big.insert(big.begin() + (1 << 20), r.begin(), r.end());
    big.insert(big.begin() + (3 << 20), x.begin(), x.end());
    v.push_back({"multi-MB", big});
    return v;
}

struct Dynamic {
    Codes lit = Codes(286), dist = Codes(30);
    Bytes header = Bytes(700);
    uint32_t headerBits = 0;
};

// Statistics of (a sample of) the input, code tables and the header.
Dynamic prepare(const Bytes& in, size_t sample, uint32_t winSize, uint32_t hashSize) {
    Dynamic d;
    std::vector<uint32_t> ls(286), ds(30);
    std::vector<int32_t> head(hashSize, -int32_t(winSize));
    const Bytes s(in.begin(), in.begin() + std::min(sample, in.size()));
    const uint8_t zero = 0;
    const uint8_t* src = s.empty() ? &zero : s.data();
    uint32_t len = uint32_t(s.size()), idx = 0, n = 0;
    EXPECT_EQ(veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, src, winSize, head.data(), hashSize, ls.data(),
                                               ds.data(), 2),
              vekStatusOk);
    EXPECT_EQ(veksDeflateLZ77FastestGenHuffTable_8u(ls.data(), ds.data(), d.lit.data(), d.dist.data()), vekStatusOk);
    EXPECT_EQ(veksDeflateLZ77FastestGenHeader_8u(d.lit.data(), d.dist.data(), d.header.data(), &n, &d.headerBits),
              vekStatusOk);
    d.header.resize(n);
    return d;
}

// A caller of the fastest encoder: input arrives in pieces into a buffer
// that also keeps the history; when the buffer is full, the last winSize
// bytes slide to its front. Output goes out in pieces of `room` bytes.
Bytes encode_stream(const Bytes& in, const Dynamic* dyn, uint32_t winSize, uint32_t hashSize, size_t piece,
                    uint32_t room) {
    const size_t cap = size_t(winSize) + 2 * piece + 600;  // history + unconsumed (< piece + 300) + a piece
    Bytes buf(cap);
    std::vector<int32_t> head(hashSize, -int32_t(winSize));
    size_t start = 0, filled = 0, fed = 0;  // buf[start, filled) is input not yet consumed
    uint32_t srcIdx = 0, bits = 3, dstIdx = 0;
    uint16_t code = dyn ? 5 : 3;  // BFINAL 1; BTYPE 2 or 1
    Bytes out;
    for (int guard = 0; guard < 10000000; ++guard) {
        if (fed < in.size() && filled - start < piece + 300) {
            if (filled + piece > cap) {  // slide: keep winSize bytes of history
                const size_t keep = std::min<size_t>(start, winSize);
                std::memmove(buf.data(), buf.data() + start - keep, filled - start + keep);
                filled -= start - keep;
                start = keep;
            }
            const size_t n = std::min(piece, in.size() - fed);
            std::memcpy(buf.data() + filled, in.data() + fed, n);
            filled += n, fed += n;
        }
        const bool last = fed == in.size();
        const uint8_t* src = buf.data() + start;
        uint32_t srcLen = uint32_t(filled - start);
        Bytes dst(room);
        dstIdx = 0;
        const uint32_t dstLen = room;
        const vekStatus st =
            dyn ? veksDeflateLZ77FastestPrecompHeader_8u(&src, &srcLen, &srcIdx, buf.data() + start, winSize,
                                                         head.data(), hashSize, &code, &bits, dst.data(), dstLen,
                                                         &dstIdx, dyn->lit.data(), dyn->dist.data(),
                                                         dyn->header.data(), int32_t(dyn->headerBits), last ? 2 : 0)
                : veksDeflateLZ77Fastest_8u(&src, &srcLen, &srcIdx, buf.data() + start, winSize, head.data(), hashSize,
                                            &code, &bits, dst.data(), dstLen, &dstIdx, last ? 2 : 0);
        EXPECT_EQ(st, vekStatusOk);
        if (st != vekStatusOk) return {};
        out.insert(out.end(), dst.begin(), dst.begin() + dstIdx);
        start = size_t(src - buf.data());
        if (last && start == filled) break;
    }
    // End of block and padding.
    uint64_t acc = code;
    uint32_t n = bits;
    if (dyn) acc |= uint64_t(dyn->lit[256].code) << n, n += dyn->lit[256].len;
    else n += 7;
    for (; n > 0; n = n > 8 ? n - 8 : 0, acc >>= 8) out.push_back(uint8_t(acc));
    return out;
}

TEST(DeflateFastestPeers, FixedAndDynamicStreamsInflateWithZlib) {
    for (const auto& [name, in] : corpus()) {
        SCOPED_TRACE(testing::Message() << name << " " << in.size());
        struct Setup {
            uint32_t win, hash;
            size_t piece;
            uint32_t room;
        };
        const Setup setups[] = {{32768, 65536, 1 << 20, 1 << 21}, {4096, 4096, 7000, 3000}, {256, 256, 300, 40}};
        for (const Setup& su : setups) {
            if (in.size() > (2 << 20) && su.room < 1000) continue;  // keeps the call count sane
            const Bytes fixed = encode_stream(in, nullptr, su.win, su.hash, su.piece, su.room);
            ASSERT_EQ(zlib_inflate_raw(fixed, in.size()), in);
            for (size_t sample : {size_t(1) << 30, size_t(65536)}) {
                const Dynamic d = prepare(in, sample, su.win, su.hash);
                const Bytes dyn = encode_stream(in, &d, su.win, su.hash, su.piece, std::max(su.room, 1000u));
                ASSERT_EQ(zlib_inflate_raw(dyn, in.size()), in);
                if (name == std::string("text") && sample > in.size()) {
                    EXPECT_LT(dyn.size(), fixed.size());
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Pair writer with pairs from a plain greedy matcher.

struct Pairs {
    Bytes lit;
    std::vector<uint16_t> dist;
};

Pairs greedy_pairs(const Bytes& in) {
    Pairs p;
    std::vector<int64_t> last(1 << 16, -1);
    auto h3 = [&](size_t i) { return (in[i] * 506832829u ^ in[i + 1] * 2654435761u ^ in[i + 2] * 40503u) >> 16; };
    for (size_t i = 0; i < in.size();) {
        size_t len = 0, dist = 0;
        if (i + 3 <= in.size()) {
            const int64_t c = last[h3(i)];
            last[h3(i)] = int64_t(i);
            if (c >= 0 && i - size_t(c) <= 32768) {
                while (len < 258 && i + len < in.size() && in[size_t(c) + len] == in[i + len]) ++len;
                dist = i - size_t(c);
            }
        }
        if (len >= 3) {
            p.lit.push_back(uint8_t(len - 3));
            p.dist.push_back(uint16_t(dist));
            for (size_t k = i + 1; k < i + len && k + 3 <= in.size(); ++k) last[h3(k)] = int64_t(k);
            i += len;
        } else {
            p.lit.push_back(in[i]);
            p.dist.push_back(0);
            ++i;
        }
    }
    return p;
}

using vek::testsupport::canonical;

struct Writer {
    Bytes out;
    uint64_t acc = 0;
    uint32_t n = 0;
    void put(uint32_t v, uint32_t k) {
        acc |= uint64_t(v) << n;
        for (n += k; n >= 8; n -= 8, acc >>= 8) out.push_back(uint8_t(acc));
    }
};

int length_symbol(int len) {
    static const int base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    int c = 28;
    while (base[c] > len) --c;
    return 257 + c;
}
int distance_code(int d) {
    static const int base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    int c = 29;
    while (base[c] > d) --c;
    return c;
}

// One dynamic block: header written here (lengths sent as plain 4-bit
// code-length symbols), the body by the library in random pieces.
void write_block(Writer& w, const Pairs& p, size_t from, size_t to, bool final, std::mt19937& rng) {
    std::vector<uint32_t> lf(286), df(30), ll(286), dl(30);
    for (size_t i = from; i < to; ++i) {
        if (p.dist[i] == 0) ++lf[p.lit[i]];
        else ++lf[size_t(length_symbol(p.lit[i] + 3))], ++df[size_t(distance_code(p.dist[i]))];
    }
    lf[256] = 1;
    ASSERT_EQ(vek::deflate::ownGenHuff1(lf.data(), ll.data(), 286, 15), 0);
    ASSERT_EQ(vek::deflate::ownGenHuff1(df.data(), dl.data(), 30, 15), 0);
    const Codes lit = canonical(ll), dist = canonical(dl);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.put(final ? 1 : 0, 1);
    w.put(2, 2);
    w.put(29, 5);
    w.put(29, 5);
    w.put(15, 4);
    for (int s : order) w.put(s < 16 ? 4 : 0, 3);  // symbols 0..15: 4 bits each, code = symbol
    auto put_len = [&w](uint32_t l) {
        uint32_t r = 0;
        for (int i = 0; i < 4; ++i) r |= ((l >> i) & 1u) << (3 - i);
        w.put(r, 4);
    };
    for (uint32_t l : ll) put_len(l);
    for (uint32_t l : dl) put_len(l);
    // Hand the pending bits to the library and let it append the pairs.
    uint16_t code = uint16_t(w.acc);
    uint32_t bits = w.n, idx = uint32_t(w.out.size());
    w.out.resize(w.out.size() + (to - from) * 6 + 16);
    for (size_t i = from; i < to;) {
        const size_t n = std::min(to - i, size_t(rng() % 2 ? rng() % 100 : rng() % 6000));
        ASSERT_EQ(veksDeflateHuff_8u(p.lit.data() + i, p.dist.data() + i, uint32_t(n), &code, &bits, lit.data(),
                                     dist.data(), w.out.data(), &idx),
                  vekStatusOk);
        i += n;
    }
    w.out.resize(idx);
    w.acc = code, w.n = bits;
    w.put(lit[256].code, lit[256].len);
}

TEST(DeflateHuffPeers, GreedyPairsThroughThePairWriterInflateWithZlib) {
    std::mt19937 rng(2);
    for (const auto& [name, in] : corpus()) {
        SCOPED_TRACE(testing::Message() << name << " " << in.size());
        const Pairs p = greedy_pairs(in);
        Writer w;
        const size_t blocks = 1 + rng() % 4;
        for (size_t b = 0; b < blocks; ++b)
            write_block(w, p, p.lit.size() * b / blocks, p.lit.size() * (b + 1) / blocks, b + 1 == blocks, rng);
        if (w.n) w.put(0, 8 - w.n);
        ASSERT_EQ(zlib_inflate_raw(w.out, in.size()), in);
    }
}

}  // namespace
