// LZ4 block encoders and decoders: exact blocks derived from the format
// rules, argument-check order, round trips on varied data, the checked
// encoder at every capacity, and the decoders against a byte-level model.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "lz4_encoder_model.h"
#include "lz4_reference.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vek::testref::lz4_reference_decode;

// The sanitizer build runs without optimisation: less data there.
constexpr int kSlow = vek::testdata::kSanitized ? 6 : 1;

struct Table {
    alignas(64) uint8_t t[16384];
};

// Unchecked encoders (accel 0: veksEncodeLZ4_8u); nothing may be written
// past the block.
Bytes encode_fast(const Bytes& src, int32_t accel) {
    Bytes dst(src.size() + src.size() / 255 + 64 + 32, 0xEE);
    int32_t n = 0;
    Table tab;
    EXPECT_EQ(
        accel ? veksEncodeLZ4Fast_8u(src.data(), int32_t(src.size()), dst.data(), &n, tab.t, accel)
              : veksEncodeLZ4_8u(src.data(), int32_t(src.size()), dst.data(), &n, tab.t),
        vekStatusOk);
    for (size_t i = n; i < dst.size(); ++i)
        EXPECT_EQ(dst[i], 0xEE) << "written past the block at " << i;
    dst.resize(n);
    return dst;
}
Bytes encode(const Bytes& src) {
    return encode_fast(src, 0);
}

Bytes decode_ref(const Bytes& block, size_t size) {
    vekStatus st;
    Bytes out = vek::testref::lz4_reference_decompress(block.data(), int32_t(block.size()),
                                                       int32_t(size), &st);
    EXPECT_EQ(st, vekStatusOk);
    return out;
}

Bytes literal_block(const Bytes& src) {
    Bytes b;
    const size_t n = src.size();
    b.push_back(uint8_t((n < 15 ? n : 15) << 4));
    if (n >= 15) {
        size_t v = n - 15;
        for (; v >= 255; v -= 255) b.push_back(255);
        b.push_back(uint8_t(v));
    }
    b.insert(b.end(), src.begin(), src.end());
    return b;
}

std::vector<Bytes> corpus() {
    using namespace vek::testdata;
    return {text_bytes(100000, 1), random_bytes(70000, 2), runs_bytes(300000, 3),
            text_bytes(65535, 4),  text_bytes(65536, 5),   Bytes(200000, 'a'),
            random_bytes(46, 6),   text_bytes(1000, 7),    text_bytes((3 << 20) / kSlow, 8)};
}

TEST(Lz4Encode, ShortSourcesAreOneLiteralSequence) {
    for (size_t n = 1; n <= 45; ++n) {
        const Bytes src = vek::testdata::text_bytes(n, 10);
        EXPECT_EQ(encode(src), literal_block(src)) << n;
        EXPECT_EQ(encode_fast(src, 4), literal_block(src)) << n;
    }
    // 15 literals take one extension byte of 0.
    EXPECT_EQ(literal_block(Bytes(15, 'x'))[1], 0);
}

TEST(Lz4Encode, HundredEqualBytes) {
    // One literal, a match at offset 1 ending 12 bytes before the end, 12 literals.
    const Bytes src(100, 'z');
    Bytes want = {0x1F, 'z', 0x01, 0x00, 87 - 19};
    want.push_back(0xC0);
    want.insert(want.end(), 12, 'z');
    EXPECT_EQ(encode(src), want);
}

// Any factor of 2 or more is valid: a huge one steps past the search limit
// at once. Here the only match is the run of 20 zeros found at position 1;
// the two probes behind it miss (their bytes are distinct and nonzero), and
// the next probe group would start beyond the limit (the 16-bit layout still
// probes position 22 singly and misses).
TEST(Lz4Encode, HugeAccelerationStepsPastTheLimit) {
    for (int32_t n : {1000, 70000}) {
        Bytes src(n, 0);
        for (int32_t i = 20; i < n; ++i) src[i] = uint8_t(1 + (i - 20) % 255);
        // Literal 0, a match of 19 at offset 1 (token 0x1F, extension 0).
        Bytes want = {0x1F, 0x00, 0x01, 0x00, 0x00};
        const Bytes rest(src.begin() + 20, src.end());
        const Bytes last = literal_block(rest);
        want.insert(want.end(), last.begin(), last.end());
        for (int32_t accel : {1 << 26, 1 << 30, 0x7FFFFFFF})
            EXPECT_EQ(encode_fast(src, accel), want) << n << " " << accel;
    }
}

TEST(Lz4Encode, ArgumentChecks) {
    Table tab;
    Bytes src(100, 1), dst(200);
    int32_t n = 0, sl = 100, dl = 200;
    EXPECT_EQ(veksEncodeLZ4HashTableGetSize_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZ4HashTableGetSize_8u(&n), vekStatusOk);
    EXPECT_EQ(n, 16384);
    EXPECT_EQ(veksEncodeLZ4HashTableInit_8u(nullptr, 0), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZ4HashTableInit_8u(tab.t, 0), vekStatusSizeErr);

    // The table is cleared before the pointer checks.
    std::memset(tab.t, 0xAB, sizeof tab.t);
    EXPECT_EQ(veksEncodeLZ4_8u(nullptr, 100, dst.data(), &n, tab.t), vekStatusNullPtrErr);
    EXPECT_EQ(tab.t[0], 0);
    EXPECT_EQ(tab.t[8191], 0);
    EXPECT_EQ(tab.t[8192], 0xAB);  // 16-bit layout for short sources
    std::memset(tab.t, 0xAB, sizeof tab.t);
    EXPECT_EQ(veksEncodeLZ4_8u(src.data(), 0, dst.data(), &n, tab.t), vekStatusSizeErr);
    EXPECT_EQ(tab.t[100], 0);
    std::memset(tab.t, 0xAB, sizeof tab.t);
    EXPECT_EQ(veksEncodeLZ4_8u(nullptr, 70000, dst.data(), &n, tab.t), vekStatusNullPtrErr);
    EXPECT_EQ(tab.t[16383], 0);  // 32-bit layout for long sources
    EXPECT_EQ(veksEncodeLZ4_8u(src.data(), 100, dst.data(), &n, nullptr), vekStatusNullPtrErr);

    EXPECT_EQ(veksEncodeLZ4Safe_8u(src.data(), nullptr, dst.data(), &dl, tab.t),
              vekStatusNullPtrErr);
    std::memset(tab.t, 0xAB, sizeof tab.t);
    EXPECT_EQ(veksEncodeLZ4Safe_8u(nullptr, &sl, dst.data(), &dl, tab.t), vekStatusNullPtrErr);
    EXPECT_EQ(tab.t[0], 0);
    dl = 0;
    EXPECT_EQ(veksEncodeLZ4Safe_8u(src.data(), &sl, dst.data(), &dl, tab.t), vekStatusSizeErr);
    sl = 0;
    dl = 200;
    EXPECT_EQ(veksEncodeLZ4Safe_8u(src.data(), &sl, dst.data(), &dl, tab.t), vekStatusSizeErr);

    // The accelerated encoder leaves its table alone on every error.
    std::memset(tab.t, 0xAB, sizeof tab.t);
    EXPECT_EQ(veksEncodeLZ4Fast_8u(nullptr, 100, dst.data(), &n, tab.t, 0), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZ4Fast_8u(src.data(), 0, dst.data(), &n, tab.t, 0), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeLZ4Fast_8u(src.data(), 100, dst.data(), &n, tab.t, 0),
              vekStatusAccelFactorErr);
    EXPECT_EQ(veksEncodeLZ4Fast_8u(src.data(), 70000, dst.data(), &n, tab.t, -3),
              vekStatusAccelFactorErr);
    EXPECT_EQ(tab.t[0], 0xAB);
    // Acceleration 1 is the unchecked encoder, checks included.
    EXPECT_EQ(veksEncodeLZ4Fast_8u(src.data(), 0, dst.data(), &n, tab.t, 1), vekStatusSizeErr);
    EXPECT_EQ(tab.t[0], 0);
}

// The blocks are exactly those of a plain transcription of the encoding
// rules, for every encoder, layout and acceleration.
TEST(Lz4Encode, BlocksEqualThePlainModel) {
    std::vector<Bytes> inputs = corpus();
    inputs.push_back(vek::testdata::random_bytes(65536 + 5000, 40));  // wide layout, no matches
    Bytes mixed = vek::testdata::random_bytes(100000, 41);
    for (size_t i = 0; i < mixed.size(); i += 1000) std::memcpy(&mixed[i], "abcdefgh", 8);
    inputs.push_back(mixed);
    // Empty entries name position 0: a later copy of the first bytes is found.
    Bytes again = vek::testdata::random_bytes(40, 11);
    const Bytes head(again.begin(), again.begin() + 30);
    again.insert(again.end(), head.begin(), head.end());
    again.resize(again.size() + 20, 0);
    inputs.push_back(again);
    for (const Bytes& src : inputs) {
        const int32_t n = int32_t(src.size());
        int32_t covered = 0;
        EXPECT_EQ(encode(src), vek::testref::lz4_model_encode(src.data(), n, -1, &covered)) << n;
        for (int32_t accel : {2, 3, 17})
            EXPECT_EQ(encode_fast(src, accel),
                      vek::testref::lz4_model_encode_fast(src.data(), n, accel))
                << n;
        Table tab;
        // The last two capacities straddle the room beyond which no room
        // test can fail.
        for (int32_t cap :
             {1, 9, 10, 50, n / 4 + 7, n / 2 + 3, n + n / 255 + 15, n + n / 255 + 16}) {
            Bytes dst(cap);
            int32_t sl = n, dl = cap;
            veksEncodeLZ4Safe_8u(src.data(), &sl, dst.data(), &dl, tab.t);
            dst.resize(dl);
            EXPECT_EQ(dst, vek::testref::lz4_model_encode(src.data(), n, cap, &covered))
                << n << " " << cap;
            EXPECT_EQ(sl, covered);
        }
    }
}

// What each encoder leaves in its table (entries of this call only, in the
// layout the source length selects) is what the rules write, probe by probe.
TEST(Lz4Encode, TablesLeftAfterACallEqualThePlainModel) {
    std::vector<Bytes> inputs = corpus();
    inputs.push_back(vek::testdata::random_bytes(65536 + 5000, 40));
    for (const Bytes& src : inputs) {
        const int32_t n = int32_t(src.size());
        const bool wide = n >= 65536;
        auto entries = [&](const Table& tab, size_t count, bool wideLayout) {
            std::vector<int32_t> v(count);
            for (size_t i = 0; i < count; ++i) {
                if (wideLayout) {
                    std::memcpy(&v[i], tab.t + 4 * i, 4);
                } else {
                    uint16_t x;
                    std::memcpy(&x, tab.t + 2 * i, 2);
                    v[i] = x;
                }
            }
            return v;
        };
        Bytes dst(src.size() + src.size() / 255 + 64);
        int32_t covered = 0;
        for (int32_t cap : {-1, 50, n / 2 + 3}) {
            Table tab;
            std::memset(tab.t, 0xA5, sizeof tab.t);
            std::vector<int32_t> want(4096, 0);
            vek::testref::Lz4History none;
            none.table = &want;
            vek::testref::lz4_model_encode(src.data(), n, cap, &covered, none);
            int32_t sl = n, dl = cap;
            if (cap < 0)
                ASSERT_EQ(veksEncodeLZ4_8u(src.data(), n, dst.data(), &dl, tab.t), vekStatusOk);
            else
                veksEncodeLZ4Safe_8u(src.data(), &sl, dst.data(), &dl, tab.t);
            EXPECT_EQ(entries(tab, 4096, wide), want) << n << " " << cap;
        }
        for (int32_t accel : {2, 9}) {
            Table tab;
            std::memset(tab.t, 0xA5, sizeof tab.t);
            std::vector<int32_t> want;
            vek::testref::lz4_model_encode_fast(src.data(), n, accel, &want);
            int32_t dl = 0;
            ASSERT_EQ(veksEncodeLZ4Fast_8u(src.data(), n, dst.data(), &dl, tab.t, accel),
                      vekStatusOk);
            EXPECT_EQ(entries(tab, wide ? 4096 : 8192, wide), want) << n << " " << accel;
        }
    }
}

TEST(Lz4Encode, RoundTripsAndAccelerationOneIsTheUncheckedEncoder) {
    for (const Bytes& src : corpus()) {
        const Bytes block = encode(src);
        EXPECT_EQ(decode_ref(block, src.size()), src);
        EXPECT_EQ(encode_fast(src, 1), block);
        for (int32_t accel : {2, 3, 8, 64, 1000}) {
            const Bytes fast = encode_fast(src, accel);
            EXPECT_EQ(decode_ref(fast, src.size()), src) << accel;
        }
    }
}

TEST(Lz4Encode, CheckedEncoderAtEveryCapacity) {
    using vek::testdata::text_bytes;
    for (const Bytes& src : {text_bytes(3000, 13), vek::testdata::random_bytes(600, 14),
                             vek::testdata::runs_bytes(5000, 15)}) {
        const Bytes full = encode(src);
        Table tab;
        for (int32_t cap = 1; cap <= int32_t(full.size()) + 40; ++cap) {
            Bytes dst(cap + 16, 0xEE);
            int32_t sl = int32_t(src.size()), dl = cap;
            const vekStatus st = veksEncodeLZ4Safe_8u(src.data(), &sl, dst.data(), &dl, tab.t);
            ASSERT_TRUE(st == vekStatusOk || st == vekStatusDstTooSmall);
            ASSERT_LE(dl, cap);
            for (int32_t i = cap; i < cap + 16; ++i) ASSERT_EQ(dst[i], 0xEE) << "capacity " << cap;
            ASSERT_EQ(st == vekStatusOk, sl == int32_t(src.size()));
            dst.resize(dl);
            const Bytes covered(src.begin(), src.begin() + sl);
            ASSERT_EQ(decode_ref(dst, covered.size()), covered) << "capacity " << cap;
            if (cap == 1) {
                EXPECT_EQ(st, vekStatusDstTooSmall);
                EXPECT_EQ(sl, 0);
                EXPECT_EQ(dl, 1);
                EXPECT_EQ(dst[0], 0);
            }
        }
        // Room to spare: the same block as the unchecked encoder.
        Bytes dst(full.size() + 200);
        int32_t sl = int32_t(src.size()), dl = int32_t(dst.size());
        EXPECT_EQ(veksEncodeLZ4Safe_8u(src.data(), &sl, dst.data(), &dl, tab.t), vekStatusOk);
        dst.resize(dl);
        EXPECT_EQ(dst, full);
    }
}

// ---- decoders ---------------------------------------------------------

struct Decoded {
    vekStatus st;
    int32_t srcLen, dstLen;
    Bytes out;
};

Decoded decode_plain(const Bytes& block, int32_t cap) {
    Bytes dst(cap + 32, 0xEE);
    int32_t dl = cap;
    const vekStatus st = veksDecodeLZ4_8u(block.data(), int32_t(block.size()), dst.data(), &dl);
    for (int32_t i = cap; i < cap + 32; ++i) EXPECT_EQ(dst[i], 0xEE) << "wrote past the capacity";
    dst.resize(cap);
    return {st, 0, dl, dst};
}

TEST(Lz4Decode, FixedCases) {
    // A single zero token: nothing, successfully.
    auto r = decode_plain({0x00}, 10);
    EXPECT_EQ(r.st, vekStatusOk);
    EXPECT_EQ(r.dstLen, 0);
    // Offset 1, length 100 after one literal: 101 copies (then 8 literals,
    // since the plain decoder wants no literal run to end just short of the end).
    Bytes b = {0x1F, 'q', 0x01, 0x00, 100 - 19, 0x80};
    b.insert(b.end(), 8, 'r');
    Bytes want(101, 'q');
    want.insert(want.end(), 8, 'r');
    r = decode_plain(b, 109);
    EXPECT_EQ(r.st, vekStatusOk);
    EXPECT_EQ(r.out, want);
    b.resize(6);
    b[5] = 0;
    r = decode_plain(b, 109);
    EXPECT_EQ(r.st, vekStatusSrcTooSmall);
    // A first offset reaching before the output start.
    r = decode_plain({0x14, 'a', 0x02, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}, 50);
    EXPECT_EQ(r.st, vekStatusBadDataErr);
    // A literal run ending 3 bytes before the end of the input.
    r = decode_plain({0x20, 'a', 'b', 1, 0, 0}, 50);
    EXPECT_EQ(r.st, vekStatusSrcTooSmall);
    EXPECT_EQ(r.dstLen, -1);
}

TEST(Lz4Decode, ArgumentChecks) {
    uint8_t s[4] = {0}, d[4];
    int32_t dl = 4, sl = 4;
    EXPECT_EQ(veksDecodeLZ4_8u(nullptr, 4, d, &dl), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeLZ4_8u(s, 4, d, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeLZ4_8u(s, 0, d, &dl), vekStatusSizeErr);
    dl = 0;
    EXPECT_EQ(veksDecodeLZ4_8u(s, 4, d, &dl), vekStatusSizeErr);
    dl = 4;
    EXPECT_EQ(veksDecodeLZ4Dict_8u(s, &sl, d, 0, &dl, s, -1), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeLZ4Dict_8u(s, nullptr, d, 0, &dl, s, 4), vekStatusNullPtrErr);
    sl = 0;
    EXPECT_EQ(veksDecodeLZ4Dict_8u(s, &sl, d, 0, &dl, nullptr, 0), vekStatusSizeErr);
}

TEST(Lz4Decode, CapacityOneShort) {
    const Bytes src = vek::testdata::text_bytes(5000, 20);
    const Bytes block = encode(src);
    auto r = decode_plain(block, int32_t(src.size()));
    EXPECT_EQ(r.st, vekStatusOk);
    EXPECT_EQ(r.out, src);
    r = decode_plain(block, int32_t(src.size()) - 1);
    EXPECT_EQ(r.st, vekStatusDstTooSmall);
    EXPECT_EQ(r.dstLen, int32_t(src.size()) - 1);
    EXPECT_EQ(r.out, Bytes(src.begin(), src.end() - 1));
    // The dictionary decoder reports -1 instead.
    Bytes dst(src.size());
    const uint8_t dict[4] = {1, 2, 3, 4};
    int32_t sl = int32_t(block.size()), dl = int32_t(src.size()) - 1 - 4;
    EXPECT_EQ(veksDecodeLZ4Dict_8u(block.data(), &sl, dst.data(), 4, &dl, dict, 4),
              vekStatusDstTooSmall);
    EXPECT_EQ(dl, -1);
    EXPECT_EQ(sl, int32_t(block.size()));
}

TEST(Lz4Decode, DictionaryCases) {
    const Bytes dict = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'};
    // First sequence: 2 literals, then a match 5 back reaching 3 bytes into
    // the dictionary's end (dict "HIJ" + own output "xy" + continuing).
    const Bytes block = {0x26, 'x', 'y', 0x05, 0x00, 0x00};
    Bytes dst(10 + 12, 0);
    int32_t sl = int32_t(block.size()), dl = 12;
    ASSERT_EQ(veksDecodeLZ4Dict_8u(block.data(), &sl, dst.data(), 10, &dl, dict.data(), 10),
              vekStatusOk);
    EXPECT_EQ(dl, 12);
    EXPECT_EQ(Bytes(dst.begin() + 10, dst.end()),
              (Bytes{'x', 'y', 'H', 'I', 'J', 'x', 'y', 'H', 'I', 'J', 'x', 'y'}));
    EXPECT_EQ(Bytes(dst.begin(), dst.begin() + 10), Bytes(10, 0));  // never touched
    // The same block without the dictionary reaches before the output.
    Bytes padded = block;
    padded.back() = 0x80;
    padded.insert(padded.end(), 8, 'p');
    auto r = decode_plain(padded, 20);
    EXPECT_EQ(r.st, vekStatusBadDataErr);
}

// An output window placed before pDst (a negative dstIdx): a match that
// reaches below pDst is refused, never read from before the dictionary.
TEST(Lz4Decode, DictionaryMatchBelowTheDestinationStartIsBadData) {
    const Bytes dict = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
    for (const uint8_t offset : {1, 3}) {
        for (const size_t pad : {0, 60}) {  // careful steps alone, then the wide loop first
            // One literal at pDst - 4, then a match starting below pDst.
            Bytes block = {0x10, 'x', offset, 0x00};
            if (pad) {
                block[0] |= 0x0F;
                block.push_back(0);  // match length 19
                block.push_back(uint8_t(pad << 4 < 256 ? pad << 4 : 0xF0));
                block.push_back(uint8_t(pad - 15));
                block.insert(block.end(), pad, 'p');
            }
            Bytes buf(16 + 200, 0x5A);
            int32_t sl = int32_t(block.size()), dl = 200;
            EXPECT_EQ(veksDecodeLZ4Dict_8u(block.data(), &sl, buf.data() + 16, -4, &dl, dict.data(),
                                           int32_t(dict.size())),
                      vekStatusBadDataErr)
                << "offset " << int(offset) << " pad " << pad;
            EXPECT_EQ(dl, 200);
            EXPECT_EQ(buf[12], 'x');
        }
    }
}

// Mutated and truncated blocks inside exact-size buffers: the library and
// the byte-level model agree on status, counts and bytes.
void compare_with_model(const Bytes& block, int32_t cap, const Bytes& dict, int32_t dstIdx) {
    Bytes ours(dstIdx + cap + 32, 0x5A), model(dstIdx + cap + 32, 0x5A);
    for (int32_t i = 0; i < dstIdx; ++i) ours[i] = model[i] = uint8_t(i * 7);
    int32_t sl = int32_t(block.size()), dl = cap;
    vekStatus st;
    vek::testref::Lz4Result want;
    // Exact-size input copy so reads past it are caught by the sanitizers.
    Bytes in(block);
    if (dict.empty() && dstIdx == 0) {
        st = veksDecodeLZ4_8u(in.data(), sl, ours.data(), &dl);
        want = lz4_reference_decode(in.data(), sl, model.data(), 0, cap, nullptr, 0);
        want.srcLen = sl;  // the plain decoder reports no source count
    } else {
        st = veksDecodeLZ4Dict_8u(in.data(), &sl, ours.data(), dstIdx, &dl, dict.data(),
                                  int32_t(dict.size()));
        want = lz4_reference_decode(in.data(), int32_t(block.size()), model.data(), dstIdx, cap,
                                    dict.data(), int32_t(dict.size()));
    }
    SCOPED_TRACE(::testing::Message()
                 << "cap " << cap << " dict " << dict.size() << " dstIdx " << dstIdx << " block "
                 << block.size() << " status " << want.status);
    ASSERT_EQ(st, want.status);
    if (st == vekStatusBadDataErr || st == vekStatusSizeErr) return;  // counts not reported
    ASSERT_EQ(dl, want.dstLen);
    ASSERT_EQ(sl, want.srcLen);
    int32_t produced = st == vekStatusOk || dl > 0 ? dl : 0;
    if (want.zeroOffsetAt >= 0 && want.zeroOffsetAt < produced) produced = want.zeroOffsetAt;
    ASSERT_EQ(Bytes(ours.begin(), ours.begin() + dstIdx + produced),
              Bytes(model.begin(), model.begin() + dstIdx + produced));
    for (size_t i = dstIdx + cap; i < ours.size(); ++i) ASSERT_EQ(ours[i], 0x5A);
}

TEST(Lz4Decode, MutatedAndTruncatedBlocksMatchTheModel) {
    std::mt19937 rng(21);
    const Bytes dict = vek::testdata::text_bytes(3000, 22);
    for (const Bytes& src :
         {vek::testdata::text_bytes(20000, 23), vek::testdata::runs_bytes(20000, 24)}) {
        const Bytes block = encode(src);
        for (int trial = 0; trial < 1500 / kSlow; ++trial) {
            Bytes b = block;
            const int kind = trial % 3;
            if (kind == 0)
                b.resize(1 + rng() % b.size());
            else
                for (int k = 0; k < 1 + trial % 4; ++k) b[rng() % b.size()] = uint8_t(rng());
            const int32_t cap =
                kind == 2 ? int32_t(rng() % (src.size() + 100)) + 1 : int32_t(src.size());
            compare_with_model(b, cap, {}, 0);
            compare_with_model(b, cap, dict, 3000);
            compare_with_model(b, cap, dict, 3100);
            compare_with_model(b, cap, dict, 100);
        }
    }
}

// Length extensions of many 255 bytes (read sixteen at a time while they
// fit): lengths around those steps, extensions cut short inside the run,
// and runs whose sum passes INT32_MAX, for literal and match lengths.
TEST(Lz4Decode, LongLengthExtensions) {
    const Bytes dict = vek::testdata::text_bytes(40, 9);
    for (int run : {0, 1, 15, 16, 17, 31, 32, 33, 100}) {
        for (int last : {0, 7, 254}) {
            const int32_t L = 15 + 255 * run + last;
            Bytes block = {0xF0};
            block.insert(block.end(), size_t(run), 255);
            block.push_back(uint8_t(last));
            for (int32_t i = 0; i < L; ++i) block.push_back(uint8_t('a' + i % 23));
            compare_with_model(block, L, {}, 0);
            compare_with_model(block, L + 40, {}, 0);
            compare_with_model(block, L - 1, {}, 0);
            const Bytes cut(block.begin(), block.begin() + 1 + run / 2);
            compare_with_model(cut, L, {}, 0);
            // The same extension on a match length behind one literal.
            Bytes match = {0x1F, 'z', 1, 0};
            match.insert(match.end(), size_t(run), 255);
            match.push_back(uint8_t(last));
            match.insert(match.end(), {0x50, 'a', 'b', 'c', 'd', 'e'});
            compare_with_model(match, 1 + 19 + 255 * run + last + 5, {}, 0);
            compare_with_model(match, 64, {}, 0);
            compare_with_model(block, L, dict, 40);
            compare_with_model(match, 64, dict, 40);
        }
    }
    // (INT32_MAX - 15) / 255 + 1 bytes of 255 carry a length past INT32_MAX.
    const size_t overflowRun = (INT32_MAX - 15) / 255 + 1;
    Bytes lit = {0xF0};
    lit.insert(lit.end(), overflowRun, 255);
    lit.insert(lit.end(), 64, 0);
    compare_with_model(lit, 100, {}, 0);
    Bytes match = {0x1F, 'z', 1, 0};
    match.insert(match.end(), overflowRun, 255);
    match.insert(match.end(), 64, 0);
    compare_with_model(match, 100, {}, 0);
    compare_with_model(lit, 100, dict, 40);
    compare_with_model(match, 100, dict, 40);
    Bytes out(100);
    for (const Bytes* b : {&lit, &match}) {
        int32_t dl = 100;
        EXPECT_EQ(veksDecodeLZ4_8u(b->data(), int32_t(b->size()), out.data(), &dl),
                  vekStatusSizeErr);
    }
}

// Sequences with one-byte literal and match extensions (the lengths most
// long runs have), cut at every input length and every output capacity, so
// each sequence meets the ends of both buffers at every distance.
TEST(Lz4Decode, OneByteExtensionsAtEveryCut) {
    Bytes block;
    int32_t size = 0;
    for (int k = 0; k < 12; ++k) {
        const int L = 40 + k * 7 % 30, ml = k % 3 == 2 ? 4 + k % 15 : 19 + k * 5 % 25;
        const int offset = k % 4 == 3 ? 17 + k : 33 + k % 7;
        block.push_back(uint8_t(0xF0 | (ml - 4 >= 15 ? 15 : ml - 4)));
        block.push_back(uint8_t(L - 15));
        for (int i = 0; i < L; ++i) block.push_back(uint8_t('A' + (i * 7 + k) % 29));
        block.push_back(uint8_t(offset));
        block.push_back(0);
        if (ml - 4 >= 15) block.push_back(uint8_t(ml - 19));
        size += L + ml;
    }
    block.push_back(0x80);
    for (int i = 0; i < 8; ++i) block.push_back(uint8_t('z' - i));
    size += 8;
    const Bytes dict = vek::testdata::text_bytes(64, 3);
    for (size_t n = 1; n <= block.size(); ++n) {
        const Bytes cut(block.begin(), block.begin() + n);
        compare_with_model(cut, size, {}, 0);
        compare_with_model(cut, size, dict, 64);
    }
    for (int32_t cap = 1; cap <= size + 1; ++cap) {
        compare_with_model(block, cap, {}, 0);
        compare_with_model(block, cap, dict, 64);
    }
}

TEST(Lz4Decode, OverlappingShortOffsets) {
    // Every offset 1..40 with lengths around the copy widths.
    for (int offset = 1; offset <= 40; ++offset) {
        for (int ml : {4, 7, 8, 15, 16, 17, 31, 32, 33, 100}) {
            Bytes block = {uint8_t(0xF0 | (ml - 4 >= 15 ? 15 : ml - 4)), uint8_t(offset + 30 - 15)};
            for (int i = 0; i < offset + 30; ++i) block.push_back(uint8_t('a' + i % 26 + offset));
            block.push_back(uint8_t(offset));
            block.push_back(0);
            if (ml - 4 >= 15) block.push_back(uint8_t(ml - 19));
            block.push_back(0x00);
            const int32_t size = offset + 30 + ml;
            compare_with_model(block, size, {}, 0);
            compare_with_model(block, size + 100, {}, 0);
            compare_with_model(block, size - 1, {}, 0);
        }
    }
}

}  // namespace
