// Stages around the block sort: run-length coding with its in-use table and
// symbol dictionary, move-to-front and zero-run coding. Exact outputs against
// plain models, argument order, random splits, guard bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "bwt/rle_bz2.h"
#include "bz2_stage_models.h"
#include "null_args.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Syms = std::vector<uint16_t>;
namespace td = vek::testdata;
using vek::testing::expect_each_null_refused;
using vek::testing::NullSlot;
using vek::testref::model_rle_decode;
using vek::testref::model_rle_encode;
using vek::testref::model_z1z2_decode;

#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
constexpr size_t kBig = 1 << 17;
#else
constexpr size_t kBig = 3 << 20;
#endif

Bytes varied(size_t n, uint32_t seed, int kind) {
    if (kind == 0) return td::text_bytes(n, seed);
    if (kind == 1) return td::random_bytes(n, seed);
    if (kind == 2) return td::runs_bytes(n, seed);
    // Runs of every length around the thresholds, mostly of one value.
    std::mt19937 rng(seed);
    Bytes v;
    while (v.size() < n) v.insert(v.end(), 1 + rng() % 600, uint8_t(rng() % 2 ? 0x61 : rng()));
    v.resize(n);
    return v;
}

// ---------------------------------------------------------------------------
// Run-length stage.

struct Rle {
    vekRLEState_BZ2 st;
    Rle() { EXPECT_EQ(veksEncodeRLEInit_BZ2_8u(&st), vekStatusOk); }
};

struct Call {
    vekStatus st;
    int32_t left;  // source bytes not consumed
    Bytes out;
};

// One encoder call into a guarded destination of `cap` bytes.
Call encode_call(vekRLEState_BZ2* st, const uint8_t* src, int32_t len, int32_t cap) {
    Bytes dst(size_t(cap) + 2, 0xA5);
    const uint8_t* p = src;
    const int32_t given = len;
    int32_t dl = cap;
    Call c{veksEncodeRLE_BZ2_8u(&p, &len, dst.data() + 1, &dl, st), len, {}};
    EXPECT_EQ(p, src + (given - len));
    EXPECT_TRUE(dl >= 0 && dl <= cap && dst[0] == 0xA5 && dst[size_t(cap) + 1] == 0xA5);
    c.out.assign(dst.begin() + 1, dst.begin() + 1 + dl);
    return c;
}

Bytes flush(vekRLEState_BZ2* st) {
    uint8_t b[3] = {0xA5, 0, 0xA5};
    int32_t dl = 1;
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(b + 1, &dl, st), vekStatusOk);
    EXPECT_TRUE(b[0] == 0xA5 && b[2] == 0xA5);
    return Bytes(b + 1, b + 1 + dl);
}

// Encodes in source and destination pieces of 1..max bytes, then flushes.
Bytes encode_split(const Bytes& in, std::mt19937& rng, unsigned max_src, unsigned max_dst) {
    Rle r;
    Bytes out;
    for (size_t pos = 0; pos < in.size();) {
        int32_t piece = int32_t(std::min<size_t>(in.size() - pos, 1 + rng() % max_src));
        while (piece > 0) {
            const Call c = encode_call(&r.st, in.data() + pos, piece, int32_t(1 + rng() % max_dst));
            EXPECT_EQ(c.st, c.left > 0 ? vekStatusDstTooSmall : vekStatusOk);
            pos += size_t(piece - c.left);
            piece = c.left;
            out.insert(out.end(), c.out.begin(), c.out.end());
        }
    }
    const Bytes f = flush(&r.st);
    out.insert(out.end(), f.begin(), f.end());
    return out;
}

Bytes encode_whole(const Bytes& in, Bytes* in_use = nullptr) {
    Rle r;
    Call c = encode_call(&r.st, in.data(), int32_t(in.size()), int32_t(in.size() * 5 / 4 + 8));
    EXPECT_EQ(c.st, vekStatusOk);
    const Bytes f = flush(&r.st);
    c.out.insert(c.out.end(), f.begin(), f.end());
    if (in_use) {
        in_use->assign(256, 0);
        EXPECT_EQ(veksRLEGetInUseTable_8u(in_use->data(), &r.st), vekStatusOk);
    }
    return c.out;
}

// One decoder call into a guarded destination; both pointers must advance
// by the amounts reported.
Call decode_call(vekRLEState_BZ2* st, const uint8_t* src, int32_t len, int32_t cap) {
    Bytes dst(size_t(cap) + 2, 0x5A);
    const uint8_t* p = src;
    uint8_t* d = dst.data() + 1;
    int32_t sl = len, dl = cap;
    Call c{veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &dl, st), sl, {}};
    EXPECT_TRUE(p == src + (len - sl) && d == dst.data() + 1 + (cap - dl));
    EXPECT_TRUE(dst[0] == 0x5A && dst[size_t(cap) + 1] == 0x5A);
    c.out.assign(dst.begin() + 1, dst.begin() + 1 + (cap - dl));
    return c;
}

Call decode_call(vekRLEState_BZ2* st, const Bytes& in, int32_t cap) {
    return decode_call(st, in.data(), int32_t(in.size()), cap);
}

// Decodes all of `in` into pieces of 1..max_dst bytes, ending with flushes.
Bytes decode_split(const Bytes& in, std::mt19937& rng, unsigned max_dst, size_t limit) {
    vekRLEState_BZ2 st;
    EXPECT_EQ(veksDecodeRLEStateInit_BZ2_8u(&st), vekStatusOk);
    Bytes out;
    int32_t left = int32_t(in.size());
    while (out.size() <= limit) {
        const int32_t cap = int32_t(1 + rng() % max_dst);
        vekStatus s;
        if (left > 0) {
            const Call c = decode_call(&st, in.data() + (int32_t(in.size()) - left), left, cap);
            left = c.left;
            out.insert(out.end(), c.out.begin(), c.out.end());
            s = c.st;
        } else {
            Bytes dst(size_t(cap) + 2, 0x5A);
            uint8_t* d = dst.data() + 1;
            int32_t dl = cap;
            s = veksDecodeRLEStateFlush_BZ2_8u(&st, &d, &dl);
            EXPECT_TRUE(d == dst.data() + 1 + (cap - dl) && dst[size_t(cap) + 1] == 0x5A);
            out.insert(out.end(), dst.begin() + 1, dst.begin() + 1 + (cap - dl));
        }
        EXPECT_TRUE(s == vekStatusOk || s == vekStatusDstTooSmall) << s;
        if (left == 0 && st.runLength == 0 && s == vekStatusOk) break;
    }
    return out;
}

TEST(RleBz2, SizeInitAndArgumentOrder) {
    int32_t size = 0;
    EXPECT_EQ(veksRLEGetSize_BZ2_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksRLEGetSize_BZ2_8u(&size), vekStatusOk);
    EXPECT_EQ(size, 264);
    vekRLEState_BZ2 st;
    std::memset(&st, 0x77, sizeof st);
    EXPECT_EQ(veksEncodeRLEInit_BZ2_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLEInit_BZ2_8u(&st), vekStatusOk);
    EXPECT_TRUE(st.lastByte == -1 && st.runLength == 0);
    EXPECT_EQ(Bytes(st.inUse, st.inUse + 256), Bytes(256, 0));
    std::memset(&st, 0x77, sizeof st);
    EXPECT_EQ(veksDecodeRLEStateInit_BZ2_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEStateInit_BZ2_8u(&st), vekStatusOk);
    EXPECT_TRUE(st.lastByte == -1 && st.runLength == 0 && st.inUse[0] == 0x77);

    // Every null pointer (also *ppSrc, *ppDst) comes before the zero lengths.
    Rle r;
    const uint8_t in[4] = {1, 2, 3, 4};
    const uint8_t *p = in, *np = nullptr;
    uint8_t buf[8];
    uint8_t *d = buf, *nd = nullptr;
    int32_t sl = 4, dl = 8, zero = 0;
    expect_each_null_refused(6, [&](NullSlot z) {
        return veksEncodeRLE_BZ2_8u(z.is(5) ? &np : z(&p, 0), z(&zero, 1), z(buf, 2), z(&zero, 3),
                                    z(&r.st, 4));
    });
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &zero, buf, &dl, &r.st), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, buf, &zero, &r.st), vekStatusSizeErr);
    expect_each_null_refused(3, [&](NullSlot z) {
        return veksEncodeRLEFlush_BZ2_8u(z(buf, 0), z(&zero, 1), z(&r.st, 2));
    });
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(buf, &zero, &r.st), vekStatusSizeErr);
    expect_each_null_refused(2, [&](NullSlot z) {
        return veksRLEGetInUseTable_8u(z(buf, 0), z(static_cast<const vekRLEState_BZ2*>(&r.st), 1));
    });
    EXPECT_TRUE(p == in && r.st.lastByte == -1 && sl == 4 && dl == 8);

    expect_each_null_refused(7, [&](NullSlot z) {
        return veksDecodeRLEState_BZ2_8u(z.is(5) ? &np : z(&p, 0), z(&zero, 1),
                                         z.is(6) ? &nd : z(&d, 2), z(&zero, 3), z(&st, 4));
    });
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &zero, &d, &dl, &st), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &zero, &st), vekStatusSizeErr);
    expect_each_null_refused(4, [&](NullSlot z) {
        return veksDecodeRLEStateFlush_BZ2_8u(z(&st, 0), z.is(3) ? &nd : z(&d, 1), z(&dl, 2));
    });
    EXPECT_TRUE(p == in && d == buf);
}

TEST(RleBz2, EncodeExactCases) {
    EXPECT_EQ(encode_whole({0x61, 0x61, 0x61, 0x61}), (Bytes{0x61, 0x61, 0x61, 0x61, 0}));
    // Three equal bytes: nothing owed, the flush writes nothing.
    Rle three;
    const Bytes aaa(3, 0x61);
    EXPECT_EQ(encode_call(&three.st, aaa.data(), 3, 4).out, aaa);
    EXPECT_EQ(flush(&three.st), Bytes{});
    // 259 bytes: four bytes, the count 255 owed to the flush.
    Rle r259;
    const Bytes b259(259, 7);
    const Call c = encode_call(&r259.st, b259.data(), 259, 300);
    EXPECT_TRUE(c.st == vekStatusOk && c.out == Bytes(4, 7) && r259.st.runLength == 259);
    EXPECT_EQ(flush(&r259.st), Bytes{255});
    EXPECT_EQ(r259.st.runLength, 0);
    EXPECT_EQ(encode_whole(Bytes(260, 7)), (Bytes{7, 7, 7, 7, 255, 7}));
    // The byte after a count byte starts a new count even when it repeats.
    EXPECT_EQ(encode_whole(Bytes(263, 7)), (Bytes{7, 7, 7, 7, 255, 7, 7, 7, 7, 0}));
    EXPECT_EQ(encode_whole({1, 2, 2, 2, 2, 2, 3, 3, 3}), (Bytes{1, 2, 2, 2, 2, 1, 3, 3, 3}));
    // Five equal bytes in two calls (three, then two) equal one call.
    Rle r;
    const Bytes five(5, 9);
    EXPECT_EQ(encode_call(&r.st, five.data(), 3, 8).out, Bytes(3, 9));
    EXPECT_EQ(encode_call(&r.st, five.data() + 3, 2, 5).out, Bytes{9});
    EXPECT_EQ(flush(&r.st), Bytes{1});
    // A full destination leaves the rest of the source: 33 and the count.
    Rle full;
    const Call f = encode_call(&full.st, b259.data(), 259, 3);
    EXPECT_TRUE(f.st == vekStatusDstTooSmall && f.left == 256 && f.out == Bytes(3, 7));
}

TEST(RleBz2, InUseTableMarksLiteralsAndCounts) {
    Bytes in_use;
    const Bytes in = {'a', 'a', 'a', 'a', 'a', 'a', 'a', 'b'};  // count byte 3
    EXPECT_EQ(encode_whole(in, &in_use), (Bytes{'a', 'a', 'a', 'a', 3, 'b'}));
    for (int v = 0; v < 256; ++v) EXPECT_EQ(in_use[size_t(v)], v == 'a' || v == 'b' || v == 3) << v;
    // The table accumulates over calls until the next init.
    Rle r;
    const uint8_t bytes[2] = {5, 200};
    encode_call(&r.st, bytes, 1, 1);
    encode_call(&r.st, bytes + 1, 1, 1);
    uint8_t tab[256];
    EXPECT_EQ(veksRLEGetInUseTable_8u(tab, &r.st), vekStatusOk);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(tab[v], v == 5 || v == 200) << v;
    // Overlapping copy one byte up runs forward byte by byte: the first
    // byte spreads over the whole destination.
    r.st.inUse[0] = 9;
    EXPECT_EQ(veksRLEGetInUseTable_8u(r.st.inUse + 1, &r.st), vekStatusOk);
    EXPECT_EQ(Bytes(r.st.inUse, r.st.inUse + 256), Bytes(256, 9));
}

// Encoded whole and in pieces, decoded in destination pieces and in one call
// into an exact-size destination.
TEST(RleBz2, EncodeMatchesModelWholeAndSplit) {
    std::mt19937 rng(11);
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t n : {size_t(1), size_t(2), size_t(5), size_t(100), size_t(4099), kBig}) {
            const Bytes in = varied(n, uint32_t(n + kind), kind);
            const Bytes want = model_rle_encode(in);
            Bytes in_use, seen(256, 0);
            ASSERT_EQ(encode_whole(in, &in_use), want) << kind << " " << n;
            for (uint8_t b : want) seen[b] = 1;
            EXPECT_EQ(in_use, seen);
            ASSERT_EQ(decode_split(want, rng, n < 1000 ? 3 : 4000, n + 1), in) << kind << " " << n;
            vekRLEState_BZ2 st;
            veksDecodeRLEStateInit_BZ2_8u(&st);
            const Call c = decode_call(&st, want, int32_t(n));
            EXPECT_TRUE(c.st == vekStatusOk && c.left == 0 && c.out == in) << kind << " " << n;
        }
        const Bytes in = varied(20000, uint32_t(kind), kind);
        const Bytes want = model_rle_encode(in);
        for (auto [ms, md] : {std::pair{1u, 1u}, std::pair{1u, 7u}, std::pair{7u, 1u},
                              std::pair{300u, 50u}, std::pair{5000u, 3000u}}) {
            ASSERT_EQ(encode_split(in, rng, ms, md), want) << kind << " " << ms << " " << md;
        }
    }
}

TEST(RleBz2, FastEncoderMatchesPortableLoop) {
    std::mt19937 rng(4);
    for (int round = 0; round < 200; ++round) {
        // Short runs of a few values stress the block boundary logic.
        Bytes in(size_t(1 + rng() % 3000));
        const unsigned values = 1 + rng() % 4;
        for (size_t i = 0; i < in.size();) {
            const size_t len = 1 + rng() % (round % 2 ? 6 : 300);
            const uint8_t v = uint8_t(rng() % values);
            for (size_t k = 0; k < len && i < in.size(); ++k) in[i++] = v;
        }
        vekRLEState_BZ2 a, b;
        veksEncodeRLEInit_BZ2_8u(&a);
        veksEncodeRLEInit_BZ2_8u(&b);
        for (size_t pos = 0; pos < in.size();) {
            const int32_t piece = int32_t(std::min<size_t>(in.size() - pos, 1 + rng() % 200));
            const int32_t cap = int32_t(1 + rng() % 200);
            Bytes da(static_cast<size_t>(cap)), db(static_cast<size_t>(cap));
            const uint8_t *pa = in.data() + pos, *pb = pa;
            int32_t sa = piece, sb = piece, la = cap, lb = cap;
            vek::bwt::rle_encode(&pa, &sa, da.data(), &la, &a);
            vek::bwt::rle_encode_portable(&pb, &sb, db.data(), &lb, &b);
            ASSERT_TRUE(sa == sb && la == lb);
            ASSERT_TRUE(std::equal(da.begin(), da.begin() + la, db.begin()));
            ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0);
            pos += size_t(piece - sa);
        }
    }
}

TEST(RleBz2, DecodeOwedRunAcrossCalls) {
    const Bytes in = {0x61, 0x61, 0x61, 0x61, 5};
    for (bool by_flush : {false, true}) {
        vekRLEState_BZ2 st;
        veksDecodeRLEStateInit_BZ2_8u(&st);
        const Call c = decode_call(&st, in, 3);
        EXPECT_TRUE(c.st == vekStatusDstTooSmall && c.left == 0 && c.out == Bytes(3, 0x61));
        EXPECT_TRUE(st.runLength == 6 && st.lastByte == 0x61);
        if (by_flush) {
            uint8_t out[9];
            uint8_t* d = out;
            int32_t dl = 9;
            EXPECT_EQ(veksDecodeRLEStateFlush_BZ2_8u(&st, &d, &dl), vekStatusOk);
            EXPECT_TRUE(dl == 3 && Bytes(out, out + 6) == Bytes(6, 0x61));
        } else {
            // Owed copies come first and need no source; one byte is given.
            const Call n = decode_call(&st, {0x62}, 9);
            EXPECT_TRUE(n.st == vekStatusOk && n.left == 0);
            EXPECT_EQ(n.out, (Bytes{0x61, 0x61, 0x61, 0x61, 0x61, 0x61, 0x62}));
        }
        EXPECT_TRUE(st.runLength == 0 && st.lastByte == -1);
    }
    // A flush with less room than owed.
    vekRLEState_BZ2 st;
    st.lastByte = 0x33;
    st.runLength = 40;
    uint8_t out[37] = {};
    uint8_t* d = out + 1;
    int32_t dl = 35;
    EXPECT_EQ(veksDecodeRLEStateFlush_BZ2_8u(&st, &d, &dl), vekStatusDstTooSmall);
    EXPECT_TRUE(dl == 0 && st.runLength == 5 && st.lastByte == 0x33 && out[0] == 0 && out[36] == 0);
}

TEST(RleBz2, DecodeStatusesAtTheEdges) {
    vekRLEState_BZ2 st;
    // Destination full at the start of a round: Ok with source left.
    veksDecodeRLEStateInit_BZ2_8u(&st);
    Call c = decode_call(&st, {7, 7, 7, 7, 2, 1, 2, 3, 4}, 6);
    EXPECT_TRUE(c.st == vekStatusOk && c.left == 4 && c.out == Bytes(6, 7));
    // Full in the middle of literals: 33, and a run group right behind the
    // last literal is taken into the state with the group merged after it.
    veksDecodeRLEStateInit_BZ2_8u(&st);
    c = decode_call(&st, {1, 2, 2, 2, 2, 9, 2, 2, 2, 2, 3, 5, 6, 7}, 2);
    EXPECT_TRUE(c.st == vekStatusDstTooSmall && c.left == 3 && c.out == (Bytes{1, 2}));
    EXPECT_TRUE(st.runLength == 9 + 3 + 3 + 4 && st.lastByte == 2);
    // The last three bytes are plain, fit or not, and leave lastByte alone.
    veksDecodeRLEStateInit_BZ2_8u(&st);
    c = decode_call(&st, {4, 5, 5, 5}, 3);
    EXPECT_TRUE(c.st == vekStatusOk && c.left == 1 && c.out == (Bytes{4, 5, 5}));
    EXPECT_EQ(st.lastByte, 4);
}

TEST(RleBz2, DecodeArbitraryInputMatchesModel) {
    std::mt19937 rng(21);
    for (int round = 0; round < 300; ++round) {
        // Few distinct values make markers and merges frequent.
        Bytes in(size_t(1 + rng() % 400));
        const unsigned values = 1 + rng() % 3;
        for (auto& b : in) b = uint8_t(rng() % 8 == 0 ? rng() : rng() % values);
        const Bytes want = model_rle_decode(in);
        const unsigned max_dst = round % 3 == 0 ? 1 : round % 3 == 1 ? 7 : 300;
        ASSERT_EQ(decode_split(in, rng, max_dst, want.size() + 1), want) << round;
    }
}

TEST(RleBz2, DecodeMergedRunStaysWithinInt32) {
    // 8.3 million groups of 259 copies each would owe more than 2^31 bytes:
    // merging stops before the count overflows, the rest stays in the source.
    const size_t groups = (size_t(1) << 31) / 259 + 10;
    Bytes in(5 * (groups + 1), 'a');
    uint8_t* const b = in.data();
    for (size_t i = 4; i < in.size(); i += 5) b[i] = 0xFF;
    vekRLEState_BZ2 st;
    veksDecodeRLEStateInit_BZ2_8u(&st);
    const Call c = decode_call(&st, in, 8);
    EXPECT_EQ(c.st, vekStatusDstTooSmall);
    // One literal 'a' and seven copies went out.
    const int64_t owed = int64_t(258) + 259 * (int64_t(in.size()) - c.left - 5) / 5 - 7;
    EXPECT_EQ(int64_t(st.runLength), owed);
    EXPECT_GT(st.runLength, INT32_MAX - 2 * 259);
    EXPECT_TRUE(c.left > 0 && c.left % 5 == 0);
}

// ---------------------------------------------------------------------------
// Symbol dictionary.

TEST(Bz2Dictionary, ReduceAndExpand) {
    uint8_t in_use[256] = {};
    in_use[3] = in_use[10] = in_use[200] = 1;
    Bytes data = {10, 200, 3, 3, 10, 4, 255};
    int32_t size = 0;
    EXPECT_EQ(veksReduceDictionary_8u_I(nullptr, data.data(), 7, &size), vekStatusNullPtrErr);
    EXPECT_EQ(veksReduceDictionary_8u_I(in_use, nullptr, 7, &size), vekStatusNullPtrErr);
    EXPECT_EQ(veksReduceDictionary_8u_I(in_use, data.data(), 7, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksReduceDictionary_8u_I(in_use, data.data(), 0, &size), vekStatusSizeErr);
    EXPECT_EQ(veksReduceDictionary_8u_I(in_use, data.data(), 7, &size), vekStatusOk);
    EXPECT_EQ(size, 3);
    // Values not in use map to the count of in-use values below them.
    EXPECT_EQ(data, (Bytes{1, 2, 0, 0, 1, 1, 3}));

    Bytes sym = {1, 2, 0, 0, 1, 2};
    EXPECT_EQ(veksExpandDictionary_8u_I(nullptr, sym.data(), 6, 3), vekStatusNullPtrErr);
    EXPECT_EQ(veksExpandDictionary_8u_I(in_use, nullptr, 6, 3), vekStatusNullPtrErr);
    EXPECT_EQ(veksExpandDictionary_8u_I(in_use, sym.data(), 0, 3), vekStatusSizeErr);
    EXPECT_EQ(veksExpandDictionary_8u_I(in_use, sym.data(), 6, 0), vekStatusSizeErr);
    EXPECT_EQ(veksExpandDictionary_8u_I(in_use, sym.data(), 6, 4), vekStatusBadDataErr);
    EXPECT_EQ(veksExpandDictionary_8u_I(in_use, sym.data(), 6, 2), vekStatusBadDataErr);
    EXPECT_EQ(sym, (Bytes{1, 2, 0, 0, 1, 2}));
    EXPECT_EQ(veksExpandDictionary_8u_I(in_use, sym.data(), 6, 3), vekStatusOk);
    EXPECT_EQ(sym, (Bytes{10, 200, 3, 3, 10, 200}));
}

TEST(Bz2Dictionary, RoundTripOverEncoderTable) {
    std::mt19937 rng(8);
    for (int round = 0; round < 21; ++round) {
        Bytes in = td::random_bytes(5000, uint32_t(round));
        // Alphabets of every size, and in the last round all 256 values.
        if (round < 20)
            for (auto& b : in) b = uint8_t(b % (1 + rng() % 256));
        Bytes in_use;
        Bytes data = encode_whole(in, &in_use);
        const Bytes orig = data;
        const int32_t n = int32_t(data.size());
        int32_t size = 0;
        ASSERT_EQ(veksReduceDictionary_8u_I(in_use.data(), data.data(), n, &size), vekStatusOk);
        EXPECT_EQ(size, std::accumulate(in_use.begin(), in_use.end(), 0));
        for (uint8_t b : data) ASSERT_LT(b, size);
        if (size == 256) {
            EXPECT_EQ(data, orig);
        }
        ASSERT_EQ(veksExpandDictionary_8u_I(in_use.data(), data.data(), n, size), vekStatusOk);
        ASSERT_EQ(data, orig);
    }
}

// ---------------------------------------------------------------------------
// Move-to-front.

struct Mtf {
    uint8_t bytes[256];
    vekMTFState_8u* p() { return reinterpret_cast<vekMTFState_8u*>(bytes); }
    Mtf() { EXPECT_EQ(veksMTFInit_8u(p()), vekStatusOk); }
};

Bytes model_mtf_forward(const Bytes& in) {
    uint8_t list[256];
    std::iota(list, list + 256, 0);
    Bytes out;
    for (uint8_t s : in) {
        int r = 0;
        while (list[r] != s) ++r;
        out.push_back(uint8_t(r));
        for (; r > 0; --r) list[r] = list[r - 1];
        list[0] = s;
    }
    return out;
}

// Runs a whole buffer through one state in pieces of 1..max_piece bytes.
Bytes mtf_split(const Bytes& in, bool forward, std::mt19937& rng, unsigned max_piece) {
    Mtf m;
    Bytes out(in.size() + 2, 0xC3);
    for (size_t pos = 0; pos < in.size();) {
        const size_t n = std::min<size_t>(in.size() - pos, 1 + rng() % max_piece);
        const auto fn = forward ? veksMTFFwd_8u : veksMTFInv_8u;
        EXPECT_EQ(fn(in.data() + pos, out.data() + 1 + pos, int32_t(n), m.p()), vekStatusOk);
        pos += n;
    }
    EXPECT_TRUE(out.front() == 0xC3 && out.back() == 0xC3);
    return Bytes(out.begin() + 1, out.end() - 1);
}

TEST(Mtf, SizeInitAndArguments) {
    int32_t size = 0;
    EXPECT_EQ(veksMTFGetSize_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksMTFGetSize_8u(&size), vekStatusOk);
    EXPECT_EQ(size, 256);
    EXPECT_EQ(veksMTFInit_8u(nullptr), vekStatusNullPtrErr);
    Mtf m;
    uint8_t a[2] = {1, 0}, b[2] = {9, 9};
    for (auto fn : {veksMTFFwd_8u, veksMTFInv_8u}) {
        EXPECT_EQ(fn(nullptr, b, 2, m.p()), vekStatusNullPtrErr);
        EXPECT_EQ(fn(a, nullptr, 2, m.p()), vekStatusNullPtrErr);
        EXPECT_EQ(fn(a, b, 2, nullptr), vekStatusNullPtrErr);
        EXPECT_EQ(fn(nullptr, b, 0, m.p()), vekStatusNullPtrErr);
        EXPECT_EQ(fn(a, b, 0, m.p()), vekStatusSizeErr);
    }
    Bytes identity(256);
    std::iota(identity.begin(), identity.end(), 0);
    EXPECT_TRUE(b[0] == 9 && Bytes(m.bytes, m.bytes + 256) == identity);
}

TEST(Mtf, ExactSmallCases) {
    Mtf m;
    uint8_t in[3] = {97, 97, 97}, out[3];
    EXPECT_EQ(veksMTFFwd_8u(in, out, 3, m.p()), vekStatusOk);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{97, 0, 0}));
    Mtf m2;
    const uint8_t in2[3] = {1, 0, 200};
    EXPECT_EQ(veksMTFFwd_8u(in2, out, 2, m2.p()), vekStatusOk);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{1, 1}));
    // The state is the rank table; 1 then 0 moved to the front in turn.
    EXPECT_TRUE(m2.bytes[0] == 0 && m2.bytes[1] == 1 && m2.bytes[2] == 2);
    EXPECT_EQ(veksMTFFwd_8u(in2 + 2, out, 1, m2.p()), vekStatusOk);  // len 1
    EXPECT_EQ(out[0], 200);
    EXPECT_TRUE(m2.bytes[200] == 0 && m2.bytes[0] == 1 && m2.bytes[199] == 200 &&
                m2.bytes[201] == 201);
    // The inverse keeps the list: rank 200 then rank 1.
    Mtf inv;
    const uint8_t ranks[2] = {200, 1};
    EXPECT_EQ(veksMTFInv_8u(ranks, out, 2, inv.p()), vekStatusOk);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{200, 0}));
    EXPECT_TRUE(inv.bytes[0] == 0 && inv.bytes[1] == 200 && inv.bytes[2] == 1);
}

TEST(Mtf, ModelAndRoundTripsInPieces) {
    std::mt19937 rng(13);
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t n : {size_t(1), size_t(2), size_t(3), size_t(33), size_t(1000), kBig / 30}) {
            const Bytes in = varied(n, uint32_t(n + kind), kind);
            const Bytes want = model_mtf_forward(in);
            for (unsigned piece : {1u, 2u, 3u, 4000u, 1000000u}) {
                const Bytes ranks = mtf_split(in, true, rng, piece);
                ASSERT_EQ(ranks, want) << kind << " " << n << " " << piece;
                ASSERT_EQ(mtf_split(ranks, false, rng, piece), in) << kind << " " << n;
                if (n > 1000) break;
            }
        }
    }
    // Ranks straddling the 32-entry head, and every rank through the inverse.
    Bytes in;
    for (int i = 0; i < 5000; ++i) in.push_back(uint8_t((i * 37) % 256 ^ (i % 3 ? 0 : 31)));
    EXPECT_EQ(mtf_split(in, true, rng, 17), model_mtf_forward(in));
    Bytes ranks(256);
    std::iota(ranks.begin(), ranks.end(), 0);
    std::shuffle(ranks.begin(), ranks.end(), rng);
    EXPECT_EQ(model_mtf_forward(mtf_split(ranks, false, rng, 5)), ranks);
}

TEST(Mtf, ForwardOnATableThatIsNotAPermutation) {
    // A list left by the inverse is not a valid rank table; the result is
    // still the rank rule applied byte by byte.
    Mtf m;
    std::memset(m.bytes, 0, 256);
    m.bytes[5] = 3;
    m.bytes[6] = 250;
    const uint8_t in[4] = {6, 5, 5, 0};
    uint8_t out[4];
    EXPECT_EQ(veksMTFFwd_8u(in, out, 4, m.p()), vekStatusOk);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{250, 4, 0, 2}));
}

// ---------------------------------------------------------------------------
// Zero-run coding.

// Symbols of a whole block: digits of each zero run, least significant first.
Syms model_z1z2(const Bytes& in) {
    Syms out;
    size_t zeros = 0;
    auto put = [&] {
        for (; zeros > 0; zeros = (zeros - 1) / 2) out.push_back(uint16_t((zeros - 1) & 1));
    };
    for (uint8_t b : in) {
        if (b == 0) {
            ++zeros;
            continue;
        }
        put();
        out.push_back(uint16_t(b + 1));
    }
    put();
    return out;
}

// The digits of a run of 2^k + 3 zeros (k >= 3): RUNA RUNA RUNB and k - 3
// RUNA, since 1 + 2 + 2 * 4 + (2^3 + ... + 2^(k-1)) = 2^k + 3.
Syms wrap_run(int k) {
    Syms out(size_t(k), 0);
    out[2] = 1;
    return out;
}

size_t run_digits(size_t r) {
    return model_z1z2(Bytes(r, 0)).size();
}

// Limited room: before each nonzero byte the run's digits and the symbol
// must fit; if not, the longest run that fits is written and coding stops.
Syms model_z1z2_limited(const Bytes& in, size_t cap, size_t* consumed) {
    Syms out;
    for (size_t i = 0;;) {
        const size_t start = i;
        while (i < in.size() && in[i] == 0) ++i;
        const size_t r = i - start, room = cap - out.size();
        size_t w = r;
        if (i == in.size() || run_digits(r) + 1 > room) {
            while (run_digits(w) > room) --w;
            const Syms digits = model_z1z2(Bytes(w, 0));
            out.insert(out.end(), digits.begin(), digits.end());
            *consumed = start + w;
            return out;
        }
        const Syms code = model_z1z2({in.begin() + long(start), in.begin() + long(i) + 1});
        out.insert(out.end(), code.begin(), code.end());
        ++i;
    }
}

struct Z1Z2Out {
    Syms syms;
    int32_t left;
    vekStatus st;
    std::vector<uint32_t> freq;  // what the call added
};

Z1Z2Out z1z2_encode(const Bytes& in, int32_t cap) {
    Syms dst(size_t(cap) + 2, 0xBEEF);
    std::vector<uint32_t> freq(260, 1000);  // counts add to what is there
    const uint8_t* p = in.data();
    int32_t sl = int32_t(in.size()), dl = cap;
    Z1Z2Out r{{}, 0, veksEncodeZ1Z2_BZ2_8u16u(&p, &sl, dst.data() + 1, &dl, freq.data()), {}};
    EXPECT_EQ(p, in.data() + (int32_t(in.size()) - sl));
    EXPECT_TRUE(dst[0] == 0xBEEF && dst[size_t(cap) + 1] == 0xBEEF);
    EXPECT_TRUE(freq[258] == 1000 && freq[259] == 1000);
    for (size_t s = 0; s < 258; ++s) r.freq.push_back(freq[s] - 1000);
    r.syms.assign(dst.begin() + 1, dst.begin() + 1 + dl);
    r.left = sl;
    return r;
}

std::vector<uint32_t> histogram(const Syms& syms) {
    std::vector<uint32_t> h(258, 0);
    for (uint16_t s : syms) ++h[s];
    return h;
}

TEST(Z1Z2, ArgumentOrder) {
    const uint8_t in[2] = {0, 5};
    const uint8_t *p = in, *np = nullptr;
    uint16_t dst[4];
    uint32_t freq[258] = {};
    int32_t sl = 2, dl = 4, zero = 0;
    // Every null pointer (also *ppSrc) comes before the zero lengths.
    expect_each_null_refused(6, [&](NullSlot z) {
        return veksEncodeZ1Z2_BZ2_8u16u(z.is(5) ? &np : z(&p, 0), z(&zero, 1), z(dst, 2),
                                        z(&zero, 3), z(freq, 4));
    });
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&p, &zero, dst, &dl, freq), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&p, &sl, dst, &zero, freq), vekStatusSizeErr);
    EXPECT_TRUE(p == in && freq[0] == 0);

    const uint16_t syms[2] = {0, 6};
    const uint16_t *q = syms, *nq = nullptr;
    uint8_t out[4];
    expect_each_null_refused(5, [&](NullSlot z) {
        return veksDecodeZ1Z2_BZ2_16u8u(z.is(4) ? &nq : z(&q, 0), z(&zero, 1), z(out, 2),
                                        z(&zero, 3));
    });
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &zero, out, &dl), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out, &zero), vekStatusSizeErr);
    EXPECT_EQ(q, syms);
}

TEST(Z1Z2, ExactCodes) {
    EXPECT_EQ(z1z2_encode({0, 0, 0, 5}, 10).syms, (Syms{0, 0, 6}));  // 3 = 1 + 2
    EXPECT_EQ(z1z2_encode({0, 0, 5}, 10).syms, (Syms{1, 6}));
    EXPECT_EQ(z1z2_encode({0}, 10).syms, (Syms{0}));
    EXPECT_EQ(z1z2_encode(Bytes(6, 0), 10).syms, (Syms{1, 1}));
    EXPECT_EQ(z1z2_encode(Bytes(7, 0), 10).syms, (Syms{0, 0, 0}));
    EXPECT_EQ(z1z2_encode({255, 1, 0, 9}, 10).syms, (Syms{256, 2, 0, 10}));
    const Z1Z2Out r = z1z2_encode({3, 0, 0, 0, 0, 3, 0}, 10);  // 4 zeros: RUNB RUNA
    EXPECT_TRUE(r.syms == (Syms{4, 1, 0, 4, 0}) && r.st == vekStatusOk);
    EXPECT_TRUE(r.freq[0] == 2 && r.freq[1] == 1 && r.freq[4] == 2);
    // One slot for 00 05: RUNA only, the 05 stays.
    const Z1Z2Out one = z1z2_encode({0, 5}, 1);
    EXPECT_TRUE(one.syms == Syms{0} && one.left == 1 && one.st == vekStatusDstTooSmall);
    // Five zeros (RUNA RUNB) then a byte into two slots: the run goes, the byte stays.
    const Z1Z2Out two = z1z2_encode({0, 0, 0, 0, 0, 7}, 2);
    EXPECT_TRUE(two.syms == (Syms{0, 1}) && two.left == 1);
    // 100 trailing zeros in 3 slots: cut to 14 zeros, 86 left.
    const Z1Z2Out cut = z1z2_encode(Bytes(100, 0), 3);
    EXPECT_TRUE(cut.syms == (Syms{1, 1, 1}) && cut.left == 86 && cut.st == vekStatusDstTooSmall);
}

TEST(Z1Z2, EncoderMatchesModelAtEveryCapacity) {
    std::mt19937 rng(3);
    for (int round = 0; round < 60; ++round) {
        Bytes in(size_t(1 + rng() % 120));
        const unsigned zero_bias = rng() % 10;
        for (auto& b : in) b = rng() % 10 < zero_bias ? 0 : uint8_t(rng());
        const Syms full = model_z1z2(in);
        for (int32_t cap = 1; cap <= int32_t(full.size()) + 2; ++cap) {
            const Z1Z2Out got = z1z2_encode(in, cap);
            size_t consumed = 0;
            ASSERT_EQ(got.syms, model_z1z2_limited(in, size_t(cap), &consumed))
                << round << " " << cap;
            ASSERT_EQ(size_t(got.left), in.size() - consumed);
            ASSERT_EQ(got.st, got.left ? vekStatusDstTooSmall : vekStatusOk);
            ASSERT_EQ(got.freq, histogram(got.syms));
        }
    }
}

TEST(Z1Z2, LongRunsAndRoundTrips) {
    // Runs around the lengths where the digit count grows, in a destination
    // with room to spare and in one that ends right behind them.
    for (size_t r : {size_t(1), size_t(2), size_t(62), size_t(63), size_t(2097150), size_t(2097151),
                     size_t(3000000)}) {
        Bytes in(r + 1, 0);
        in.back() = 42;
        const Syms want = model_z1z2(in);
        EXPECT_EQ(z1z2_encode(in, int32_t(want.size())).syms, want) << r;
        EXPECT_EQ(z1z2_encode(in, int32_t(want.size()) + 40).syms, want) << r;
        const Z1Z2Out shorter = z1z2_encode(in, int32_t(want.size()) - 1);
        EXPECT_TRUE(shorter.st == vekStatusDstTooSmall && shorter.left == 1);  // the run alone fits
    }
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t n : {size_t(1), size_t(40), size_t(5000), kBig}) {
            const Bytes in = varied(n, uint32_t(kind * 7 + n), kind);
            Mtf m;  // realistic input: ranks of some data
            Bytes ranks(n);
            veksMTFFwd_8u(in.data(), ranks.data(), int32_t(n), m.p());
            const Syms want = model_z1z2(ranks);
            const Z1Z2Out got = z1z2_encode(ranks, int32_t(ranks.size() + 1));
            ASSERT_TRUE(got.syms == want && got.freq == histogram(want));
            Bytes back(n + 2, 0x11);
            const uint16_t* q = got.syms.data();
            int32_t sl = int32_t(got.syms.size()), dl = int32_t(n);
            ASSERT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, back.data() + 1, &dl), vekStatusOk);
            EXPECT_TRUE(sl == 0 && dl == int32_t(n) && back[0] == 0x11 && back[n + 1] == 0x11);
            EXPECT_TRUE(std::equal(ranks.begin(), ranks.end(), back.begin() + 1));
        }
    }
}

TEST(Z1Z2, DecoderMatchesModelOnAnySymbols) {
    std::mt19937 rng(17);
    for (int round = 0; round < 200; ++round) {
        Syms in(size_t(1 + rng() % 60));
        for (auto& s : in) {
            const unsigned k = rng() % 10;
            s = k < 5 ? uint16_t(k % 2) : k < 9 ? uint16_t(2 + rng() % 255) : uint16_t(rng());
        }
        if (round % 10 == 0)
            in.insert(in.begin(), 40 + rng() % 30, uint16_t(rng() % 2));  // huge run
        for (int32_t cap = 1; cap <= 80; ++cap) {
            const auto want = model_z1z2_decode(in, size_t(cap));
            Bytes out(size_t(cap) + 2, 0x77);
            const uint16_t* q = in.data();
            int32_t sl = int32_t(in.size()), dl = cap;
            ASSERT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out.data() + 1, &dl), want.st) << round;
            ASSERT_TRUE(size_t(sl) == in.size() - want.consumed && q == in.data() + want.consumed);
            ASSERT_EQ(Bytes(out.begin() + 1, out.begin() + 1 + dl), want.out);
            ASSERT_TRUE(out[0] == 0x77 && out[size_t(cap) + 1] == 0x77);
        }
    }
    // A final run that does not fit is dropped but consumed; a run before a
    // byte must leave room for the byte, whose value is truncated to 8 bits.
    using Result = std::pair<vekStatus, Bytes>;
    auto decode = [](const Syms& in, int32_t cap, int32_t* left) {
        Bytes out(static_cast<size_t>(cap));
        const uint16_t* q = in.data();
        int32_t sl = int32_t(in.size()), dl = cap;
        const vekStatus st = veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out.data(), &dl);
        *left = sl;
        out.resize(size_t(dl));
        return Result{st, out};
    };
    int32_t left = -1;
    EXPECT_EQ(decode({1, 1}, 5, &left), Result(vekStatusDstTooSmall, Bytes{}));
    EXPECT_EQ(left, 0);
    EXPECT_EQ(decode({0, 0, 300}, 3, &left), Result(vekStatusDstTooSmall, Bytes{}));
    EXPECT_EQ(left, 1);
    EXPECT_EQ(decode({0, 0, 300}, 4, &left), Result(vekStatusOk, Bytes{0, 0, 0, 43}));
    EXPECT_EQ(decode({1, 1}, 6, &left), Result(vekStatusOk, Bytes(6, 0)));

    // Runs of 2^32 + 3 and 2^64 + 3 zeros: a sum kept in 32 or 64 bits
    // would wrap to 3, which fits; the run is refused, its digits consumed.
    ASSERT_EQ(wrap_run(5), model_z1z2(Bytes(35, 0)));
    for (const int bits : {32, 64}) {
        Syms in = wrap_run(bits);
        in.push_back(6);
        EXPECT_EQ(decode(in, 20, &left), Result(vekStatusDstTooSmall, Bytes{})) << bits;
        EXPECT_EQ(left, 1);
        in.pop_back();  // as a final run
        EXPECT_EQ(decode(in, 20, &left), Result(vekStatusDstTooSmall, Bytes{})) << bits;
        EXPECT_EQ(left, 0);
    }
}

}  // namespace
