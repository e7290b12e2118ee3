// Deflate streams from the fastest encoder (fixed codes, and dynamic codes
// from the statistics pass with a precomputed header) inflate with zlib's
// raw inflate to their input. (The pair writer meets zlib in
// deflate_stream_peer_test.cpp.)
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "test_data.h"
#include "vekdc.h"
#include "zlib_oracle.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<vekDeflateHuffCode>;

// The sanitizer build runs without optimisation: less data there.
constexpr size_t kSlow = vek::testdata::kSanitized ? 8 : 1;

Bytes zlib_inflate_raw(const Bytes& stream, size_t expect) {
    const auto z = vek::testing::zlib_inflate_once(stream.data(), stream.size(), -15, expect + 64);
    EXPECT_EQ(z.rc, Z_STREAM_END) << z.msg;
    EXPECT_EQ(z.used, stream.size());  // nothing after the final block's last byte
    return z.out;
}

std::vector<std::pair<const char*, Bytes>> corpus() {
    using namespace vek::testdata;
    std::vector<std::pair<const char*, Bytes>> v = {{"text", text_bytes((1 << 20) / kSlow, 1)},
                                                    {"random", random_bytes(300000 / kSlow, 2)},
                                                    {"runs", runs_bytes(500000 / kSlow, 3)}};
    Bytes bin;  // little-endian records: counters, small floats, tags
    for (uint32_t i = 0; i < 100000 / kSlow; ++i) {
        const float f = float(i % 977) * 0.25f;
        uint8_t rec[12];
        std::memcpy(rec, &i, 4);
        std::memcpy(rec + 4, &f, 4);
        rec[8] = uint8_t(i % 7), rec[9] = 0, rec[10] = 0xFF, rec[11] = uint8_t(i >> 12);
        bin.insert(bin.end(), rec, rec + 12);
    }
    v.push_back({"binary", bin});
    for (size_t n : {0, 1, 2, 3, 4, 5, 17, 258, 259, 274, 275, 1000})
        v.push_back({"tiny", text_bytes(n, 4)});
    Bytes big = text_bytes((6 << 20) / kSlow, 5);
    const Bytes r = runs_bytes((1 << 20) / kSlow, 6), x = random_bytes((1 << 19) / kSlow, 7);
    big.insert(big.begin() + (1 << 20) / kSlow, r.begin(), r.end());
    big.insert(big.begin() + (3 << 20) / kSlow, x.begin(), x.end());
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
    EXPECT_EQ(veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, src, winSize, head.data(),
                                               hashSize, ls.data(), ds.data(), 2),
              vekStatusOk);
    EXPECT_EQ(
        veksDeflateLZ77FastestGenHuffTable_8u(ls.data(), ds.data(), d.lit.data(), d.dist.data()),
        vekStatusOk);
    EXPECT_EQ(veksDeflateLZ77FastestGenHeader_8u(d.lit.data(), d.dist.data(), d.header.data(), &n,
                                                 &d.headerBits),
              vekStatusOk);
    d.header.resize(n);
    return d;
}

// A caller of the fastest encoder: input arrives in pieces into a buffer
// that also keeps the history; when the buffer is full, the last winSize
// bytes slide to its front. Output goes out in pieces of `room` bytes.
Bytes encode_stream(const Bytes& in, const Dynamic* dyn, uint32_t winSize, uint32_t hashSize,
                    size_t piece, uint32_t room) {
    const size_t cap =
        size_t(winSize) + 2 * piece + 600;  // history + unconsumed (< piece + 300) + a piece
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
            dyn ? veksDeflateLZ77FastestPrecompHeader_8u(
                      &src, &srcLen, &srcIdx, buf.data() + start, winSize, head.data(), hashSize,
                      &code, &bits, dst.data(), dstLen, &dstIdx, dyn->lit.data(), dyn->dist.data(),
                      dyn->header.data(), int32_t(dyn->headerBits), last ? 2 : 0)
                : veksDeflateLZ77Fastest_8u(&src, &srcLen, &srcIdx, buf.data() + start, winSize,
                                            head.data(), hashSize, &code, &bits, dst.data(), dstLen,
                                            &dstIdx, last ? 2 : 0);
        EXPECT_EQ(st, vekStatusOk);
        if (st != vekStatusOk) return {};
        out.insert(out.end(), dst.begin(), dst.begin() + dstIdx);
        start = size_t(src - buf.data());
        if (last && start == filled) break;
    }
    // End of block and padding.
    uint64_t acc = code;
    uint32_t n = bits;
    if (dyn)
        acc |= uint64_t(dyn->lit[256].code) << n, n += dyn->lit[256].len;
    else
        n += 7;
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
        const Setup setups[] = {
            {32768, 65536, 1 << 20, 1 << 21}, {4096, 4096, 7000, 3000}, {256, 256, 300, 40}};
        for (const Setup& su : setups) {
            if (in.size() > (2 << 20) && su.room < 1000) continue;  // keeps the call count sane
            const Bytes fixed = encode_stream(in, nullptr, su.win, su.hash, su.piece, su.room);
            ASSERT_EQ(zlib_inflate_raw(fixed, in.size()), in);
            for (size_t sample : {size_t(1) << 30, size_t(65536)}) {
                const Dynamic d = prepare(in, sample, su.win, su.hash);
                const Bytes dyn =
                    encode_stream(in, &d, su.win, su.hash, su.piece, std::max(su.room, 1000u));
                ASSERT_EQ(zlib_inflate_raw(dyn, in.size()), in);
                if (name == std::string("text") && sample > in.size()) {
                    EXPECT_LT(dyn.size(), fixed.size());
                }
            }
        }
    }
}

}  // namespace
