// Block-sorting stages around the transform: the run-length stage with its
// in-use table and symbol dictionary, move-to-front and zero-run coding.
// Exact outputs against plain models written here, argument checks in
// their order, streaming with random splits of input and output, round
// trips on varied data and guard bytes around exact-size buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "bwt/rle_bz2.h"
#include "bz2_stage_models.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Syms = std::vector<uint16_t>;
namespace td = vek::testdata;
using vek::testref::model_rle_decode;
using vek::testref::model_rle_encode;
using vek::testref::model_z1z2_decode;
using vek::testref::Z1Z2Decoded;

#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
constexpr size_t kBig = 1 << 17;
#else
constexpr size_t kBig = 3 << 20;
#endif

// ---------------------------------------------------------------------------
// Plain models.

Bytes model_mtf_forward(const Bytes& in) {
    uint8_t list[256];
    for (int i = 0; i < 256; ++i) list[i] = uint8_t(i);
    Bytes out;
    out.reserve(in.size());
    for (uint8_t s : in) {
        int r = 0;
        while (list[r] != s) ++r;
        out.push_back(uint8_t(r));
        for (; r > 0; --r) list[r] = list[r - 1];
        list[0] = s;
    }
    return out;
}

// Symbols of a whole block; freq counts them.
Syms model_z1z2(const Bytes& in, std::vector<uint32_t>* freq) {
    Syms out;
    size_t zeros = 0;
    auto flush = [&] {
        for (; zeros > 0; zeros = (zeros - 1) / 2) out.push_back(uint16_t((zeros - 1) & 1));
    };
    for (uint8_t b : in) {
        if (b == 0) {
            ++zeros;
            continue;
        }
        flush();
        out.push_back(uint16_t(b + 1));
    }
    flush();
    if (freq) {
        freq->assign(258, 0);
        for (uint16_t s : out) ++(*freq)[s];
    }
    return out;
}

// Digits a run of r zeros takes.
size_t run_digits(size_t r) {
    size_t k = 0;
    for (; r > 0; r = (r - 1) / 2) ++k;
    return k;
}

// Limited room: before each nonzero byte the run's digits and the symbol
// must fit; if not, the longest run that fits is written and coding stops.
struct Z1Z2Result {
    Syms syms;
    size_t consumed;
};
Z1Z2Result model_z1z2_limited(const Bytes& in, size_t cap) {
    Z1Z2Result res{{}, 0};
    auto put = [&](size_t r) {
        for (; r > 0; r = (r - 1) / 2) res.syms.push_back(uint16_t((r - 1) & 1));
    };
    size_t i = 0;
    for (;;) {
        const size_t start = i;
        while (i < in.size() && in[i] == 0) ++i;
        const size_t r = i - start, room = cap - res.syms.size();
        const bool end = i == in.size();
        if (end || run_digits(r) + 1 > room) {
            size_t w = r;
            while (run_digits(w) > room) --w;  // longest run that fits, r at most
            put(w);
            res.consumed = start + w;
            return res;
        }
        put(r);
        res.syms.push_back(uint16_t(in[i++] + 1));
    }
}

// ---------------------------------------------------------------------------
// Drivers over the exported functions.

struct Rle {
    vekRLEState_BZ2 st;
    Rle() { EXPECT_EQ(veksEncodeRLEInit_BZ2_8u(&st), vekStatusOk); }
};

// Encodes `in` in source pieces and destination pieces drawn from the
// generator (1..max each); returns everything written, flush included.
Bytes rle_encode_split(const Bytes& in, vekRLEState_BZ2* st, std::mt19937& rng, int max_src,
                       int max_dst) {
    Bytes out;
    size_t pos = 0;
    while (pos < in.size()) {
        int32_t piece = int32_t(std::min<size_t>(in.size() - pos, 1 + rng() % unsigned(max_src)));
        const uint8_t* p = in.data() + pos;
        while (piece > 0) {
            const int32_t cap = int32_t(1 + rng() % unsigned(max_dst));
            Bytes dst(size_t(cap) + 2, 0xA5);
            int32_t dl = cap, before = piece;
            const vekStatus st_ = veksEncodeRLE_BZ2_8u(&p, &piece, dst.data() + 1, &dl, st);
            EXPECT_EQ(st_, piece > 0 ? vekStatusDstTooSmall : vekStatusOk);
            EXPECT_EQ(p, in.data() + pos + (before - piece));
            pos += size_t(before - piece);
            EXPECT_TRUE(dl >= 0 && dl <= cap);
            EXPECT_EQ(dst[0], 0xA5);
            EXPECT_EQ(dst[size_t(cap) + 1], 0xA5);
            out.insert(out.end(), dst.begin() + 1, dst.begin() + 1 + dl);
        }
    }
    uint8_t tail[3] = {0xA5, 0, 0xA5};
    int32_t dl = 1;
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(tail + 1, &dl, st), vekStatusOk);
    out.insert(out.end(), tail + 1, tail + 1 + dl);
    EXPECT_EQ(tail[0], 0xA5);
    EXPECT_EQ(tail[2], 0xA5);
    return out;
}

Bytes rle_encode_whole(const Bytes& in, Bytes* in_use = nullptr) {
    Rle r;
    Bytes out(in.size() + in.size() / 4 + 8);  // a run of four grows by its count byte
    const uint8_t* p = in.data();
    int32_t sl = int32_t(in.size()), dl = int32_t(out.size());
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, out.data(), &dl, &r.st), vekStatusOk);
    int32_t fl = 1;
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(out.data() + dl, &fl, &r.st), vekStatusOk);
    out.resize(size_t(dl + fl));
    if (in_use) {
        in_use->assign(256, 0);
        EXPECT_EQ(veksRLEGetInUseTable_8u(in_use->data(), &r.st), vekStatusOk);
    }
    return out;
}

// Decodes the whole of `in` into destination pieces of 1..max_dst bytes,
// finishing with flushes; checks guard bytes around every piece.
Bytes rle_decode_split(const Bytes& in, std::mt19937& rng, int max_dst, size_t limit) {
    vekRLEState_BZ2 st;
    EXPECT_EQ(veksDecodeRLEStateInit_BZ2_8u(&st), vekStatusOk);
    Bytes out;
    const uint8_t* p = in.data();
    int32_t sl = int32_t(in.size());
    while (out.size() <= limit) {
        const int32_t cap = int32_t(1 + rng() % unsigned(max_dst));
        Bytes dst(size_t(cap) + 2, 0x5A);
        uint8_t* d = dst.data() + 1;
        int32_t dl = cap;
        vekStatus s;
        if (sl > 0) {
            s = veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &dl, &st);
        } else {
            s = veksDecodeRLEStateFlush_BZ2_8u(&st, &d, &dl);
        }
        EXPECT_TRUE(s == vekStatusOk || s == vekStatusDstTooSmall) << s;
        EXPECT_EQ(d, dst.data() + 1 + (cap - dl));
        EXPECT_EQ(dst[0], 0x5A);
        EXPECT_EQ(dst[size_t(cap) + 1], 0x5A);
        out.insert(out.end(), dst.begin() + 1, dst.begin() + 1 + (cap - dl));
        if (sl == 0 && st.runLength == 0 && s == vekStatusOk) break;
    }
    return out;
}

Bytes varied(size_t n, uint32_t seed, int kind) {
    switch (kind) {
        case 0:
            return td::text_bytes(n, seed);
        case 1:
            return td::random_bytes(n, seed);
        case 2:
            return td::runs_bytes(n, seed);
        default: {
            // Runs of every length around the thresholds, one or two values.
            std::mt19937 rng(seed);
            Bytes v;
            while (v.size() < n)
                v.insert(v.end(), 1 + rng() % 600, uint8_t(rng() % 2 ? 0x61 : rng()));
            v.resize(n);
            return v;
        }
    }
}

// ---------------------------------------------------------------------------
// Run-length stage.

TEST(RleBz2, SizeAndInit) {
    int32_t size = 0;
    EXPECT_EQ(veksRLEGetSize_BZ2_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksRLEGetSize_BZ2_8u(&size), vekStatusOk);
    EXPECT_EQ(size, 264);
    vekRLEState_BZ2 st;
    std::memset(&st, 0x77, sizeof st);
    EXPECT_EQ(veksEncodeRLEInit_BZ2_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLEInit_BZ2_8u(&st), vekStatusOk);
    EXPECT_EQ(st.lastByte, -1);
    EXPECT_EQ(st.runLength, 0);
    for (uint8_t b : st.inUse) EXPECT_EQ(b, 0);
    std::memset(&st, 0x77, sizeof st);
    EXPECT_EQ(veksDecodeRLEStateInit_BZ2_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEStateInit_BZ2_8u(&st), vekStatusOk);
    EXPECT_EQ(st.lastByte, -1);
    EXPECT_EQ(st.runLength, 0);
    EXPECT_EQ(st.inUse[0], 0x77);  // the decoder leaves the table alone
}

TEST(RleBz2, EncodeArgumentOrder) {
    Rle r;
    const Bytes in = {1, 2, 3};
    const uint8_t* p = in.data();
    const uint8_t* np = nullptr;
    uint8_t dst[8];
    int32_t sl = 3, dl = 8, zero = 0;
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(nullptr, &sl, dst, &dl, &r.st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, nullptr, &dl, &r.st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, nullptr, dst, &dl, &r.st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, dst, nullptr, &r.st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&np, &zero, dst, &dl, &r.st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &zero, dst, &zero, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &zero, dst, &dl, &r.st), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, dst, &zero, &r.st), vekStatusSizeErr);
    EXPECT_EQ(p, in.data());
    EXPECT_EQ(r.st.lastByte, -1);
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(nullptr, &dl, &r.st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(dst, nullptr, &r.st), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(dst, &dl, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(dst, &zero, &r.st), vekStatusSizeErr);
    EXPECT_EQ(veksRLEGetInUseTable_8u(nullptr, &r.st), vekStatusNullPtrErr);
    EXPECT_EQ(veksRLEGetInUseTable_8u(dst, nullptr), vekStatusNullPtrErr);
}

TEST(RleBz2, EncodeExactCases) {
    EXPECT_EQ(rle_encode_whole({0x61, 0x61, 0x61, 0x61}), (Bytes{0x61, 0x61, 0x61, 0x61, 0}));
    // Three equal bytes: nothing owed, the flush writes nothing.
    {
        Rle r;
        const Bytes in = {0x61, 0x61, 0x61};
        const uint8_t* p = in.data();
        uint8_t dst[4] = {};
        int32_t sl = 3, dl = 4;
        EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, dst, &dl, &r.st), vekStatusOk);
        EXPECT_EQ(dl, 3);
        EXPECT_EQ(sl, 0);
        int32_t fl = 1;
        EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(dst, &fl, &r.st), vekStatusOk);
        EXPECT_EQ(fl, 0);
    }
    // 259 bytes: four bytes, the count owed to the flush.
    {
        Rle r;
        const Bytes in(259, 7);
        const uint8_t* p = in.data();
        uint8_t dst[300];
        int32_t sl = 259, dl = 300;
        EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, dst, &dl, &r.st), vekStatusOk);
        EXPECT_EQ(dl, 4);
        EXPECT_EQ(r.st.runLength, 259);
        int32_t fl = 1;
        EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(dst + 4, &fl, &r.st), vekStatusOk);
        EXPECT_EQ(fl, 1);
        EXPECT_EQ(dst[4], 255);
        EXPECT_EQ(r.st.runLength, 0);
    }
    EXPECT_EQ(rle_encode_whole(Bytes(260, 7)), (Bytes{7, 7, 7, 7, 255, 7}));
    // The byte after a count byte starts a new count even when it repeats.
    EXPECT_EQ(rle_encode_whole(Bytes(263, 7)), (Bytes{7, 7, 7, 7, 255, 7, 7, 7, 7, 0}));
    EXPECT_EQ(rle_encode_whole({1, 2, 2, 2, 2, 2, 3, 3, 3}), (Bytes{1, 2, 2, 2, 2, 1, 3, 3, 3}));
    // Five equal bytes in two calls (three, then two) equal one call.
    {
        Rle r;
        const Bytes in(5, 9);
        uint8_t dst[8];
        const uint8_t* p = in.data();
        int32_t sl = 3, dl = 8;
        EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, dst, &dl, &r.st), vekStatusOk);
        EXPECT_EQ(dl, 3);
        int32_t sl2 = 2, dl2 = 5;
        EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl2, dst + 3, &dl2, &r.st), vekStatusOk);
        EXPECT_EQ(dl2, 1);
        int32_t fl = 1;
        EXPECT_EQ(veksEncodeRLEFlush_BZ2_8u(dst + 4, &fl, &r.st), vekStatusOk);
        EXPECT_EQ(Bytes(dst, dst + 5), (Bytes{9, 9, 9, 9, 1}));
    }
}

TEST(RleBz2, InUseTableMarksLiteralsAndCounts) {
    Bytes in_use;
    const Bytes in = {'a', 'a', 'a', 'a', 'a', 'a', 'a', 'b'};  // count byte 3
    EXPECT_EQ(rle_encode_whole(in, &in_use), (Bytes{'a', 'a', 'a', 'a', 3, 'b'}));
    for (int v = 0; v < 256; ++v) EXPECT_EQ(in_use[size_t(v)], v == 'a' || v == 'b' || v == 3) << v;
    // The table accumulates over calls until the next init.
    Rle r;
    for (uint8_t b : {uint8_t(5), uint8_t(200)}) {
        const uint8_t* p = &b;
        uint8_t dst[1];
        int32_t sl = 1, dl = 1;
        EXPECT_EQ(veksEncodeRLE_BZ2_8u(&p, &sl, dst, &dl, &r.st), vekStatusOk);
    }
    uint8_t tab[256];
    EXPECT_EQ(veksRLEGetInUseTable_8u(tab, &r.st), vekStatusOk);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(tab[v], v == 5 || v == 200) << v;
    // Overlapping copy one byte up runs forward byte by byte: the first
    // byte spreads over the whole destination.
    r.st.inUse[0] = 9;
    EXPECT_EQ(veksRLEGetInUseTable_8u(r.st.inUse + 1, &r.st), vekStatusOk);
    EXPECT_EQ(Bytes(r.st.inUse, r.st.inUse + 256), Bytes(256, 9));
}

TEST(RleBz2, EncodeMatchesModelOnVariedData) {
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t n : {size_t(1), size_t(2), size_t(5), size_t(100), size_t(4099), kBig}) {
            const Bytes in = varied(n, uint32_t(n + kind), kind);
            Bytes in_use;
            const Bytes out = rle_encode_whole(in, &in_use);
            ASSERT_EQ(out, model_rle_encode(in)) << kind << " " << n;
            Bytes seen(256, 0);
            for (uint8_t b : out) seen[b] = 1;
            EXPECT_EQ(in_use, seen);
            EXPECT_EQ(model_rle_decode(out), in);
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
        size_t pos = 0;
        while (pos < in.size()) {
            const int32_t piece = int32_t(std::min<size_t>(in.size() - pos, 1 + rng() % 200));
            const int32_t cap = int32_t(1 + rng() % 200);
            Bytes da(static_cast<size_t>(cap)), db(static_cast<size_t>(cap));
            const uint8_t *pa = in.data() + pos, *pb = pa;
            int32_t sa = piece, sb = piece, la = cap, lb = cap;
            vek::bwt::rle_encode(&pa, &sa, da.data(), &la, &a);
            vek::bwt::rle_encode_portable(&pb, &sb, db.data(), &lb, &b);
            ASSERT_EQ(sa, sb);
            ASSERT_EQ(la, lb);
            ASSERT_TRUE(std::equal(da.begin(), da.begin() + la, db.begin()));
            ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0);
            pos += size_t(piece - sa);
        }
    }
}

TEST(RleBz2, EncodeSplitAnywhere) {
    std::mt19937 rng(11);
    for (int kind = 0; kind < 4; ++kind) {
        const Bytes in = varied(20000, uint32_t(kind), kind);
        const Bytes want = model_rle_encode(in);
        for (auto [ms, md] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{7, 1}, std::pair{300, 50},
                              std::pair{5000, 3000}}) {
            Rle r;
            ASSERT_EQ(rle_encode_split(in, &r.st, rng, ms, md), want)
                << kind << " " << ms << " " << md;
        }
    }
}

TEST(RleBz2, DecodeArgumentOrder) {
    vekRLEState_BZ2 st;
    veksDecodeRLEStateInit_BZ2_8u(&st);
    const uint8_t in[4] = {1, 2, 3, 4};
    const uint8_t* p = in;
    const uint8_t* np = nullptr;
    uint8_t buf[8];
    uint8_t* d = buf;
    uint8_t* nd = nullptr;
    int32_t sl = 4, dl = 8, zero = 0;
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(nullptr, &sl, &d, &dl, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, nullptr, &d, &dl, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, nullptr, &dl, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, &d, nullptr, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&np, &zero, &d, &zero, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &zero, &nd, &zero, &st), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &zero, &d, &zero, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &zero, &d, &dl, &st), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &zero, &st), vekStatusSizeErr);
    EXPECT_EQ(p, in);
    EXPECT_EQ(d, buf);
    EXPECT_EQ(veksDecodeRLEStateFlush_BZ2_8u(nullptr, &d, &dl), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEStateFlush_BZ2_8u(&st, nullptr, &dl), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEStateFlush_BZ2_8u(&st, &d, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeRLEStateFlush_BZ2_8u(&st, &nd, &dl), vekStatusNullPtrErr);
}

TEST(RleBz2, DecodeOwedRunAcrossCalls) {
    const uint8_t in[5] = {0x61, 0x61, 0x61, 0x61, 5};
    for (bool by_flush : {false, true}) {
        vekRLEState_BZ2 st;
        veksDecodeRLEStateInit_BZ2_8u(&st);
        uint8_t out[12];
        std::memset(out, 0, sizeof out);
        const uint8_t* p = in;
        uint8_t* d = out;
        int32_t sl = 5, dl = 3;
        EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &dl, &st), vekStatusDstTooSmall);
        EXPECT_EQ(d - out, 3);
        EXPECT_EQ(dl, 0);
        EXPECT_EQ(sl, 0);
        EXPECT_EQ(st.runLength, 6);
        EXPECT_EQ(st.lastByte, 0x61);
        dl = 9;
        if (by_flush) {
            EXPECT_EQ(veksDecodeRLEStateFlush_BZ2_8u(&st, &d, &dl), vekStatusOk);
        } else {
            // Owed copies come first and need no source; one byte is given.
            const uint8_t more = 0x62;
            const uint8_t* q = &more;
            int32_t ql = 1;
            EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&q, &ql, &d, &dl, &st), vekStatusOk);
            EXPECT_EQ(ql, 0);
            EXPECT_EQ(out[9], 0x62);
        }
        EXPECT_EQ(st.runLength, 0);
        EXPECT_EQ(st.lastByte, -1);
        EXPECT_EQ(Bytes(out, out + 9), Bytes(9, 0x61));
    }
    // Flush with less room than owed.
    vekRLEState_BZ2 st;
    veksDecodeRLEStateInit_BZ2_8u(&st);
    st.lastByte = 0x33;
    st.runLength = 40;
    uint8_t out[42];
    std::memset(out, 0, sizeof out);
    uint8_t* d = out + 1;
    int32_t dl = 35;
    EXPECT_EQ(veksDecodeRLEStateFlush_BZ2_8u(&st, &d, &dl), vekStatusDstTooSmall);
    EXPECT_EQ(dl, 0);
    EXPECT_EQ(st.runLength, 5);
    EXPECT_EQ(st.lastByte, 0x33);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[36], 0);
}

TEST(RleBz2, DecodeStatusesAtTheEdges) {
    // Destination full at the start of a round: Ok with source left.
    {
        vekRLEState_BZ2 st;
        veksDecodeRLEStateInit_BZ2_8u(&st);
        const uint8_t in[] = {7, 7, 7, 7, 2, 1, 2, 3, 4};
        const uint8_t* p = in;
        uint8_t out[6];
        uint8_t* d = out;
        int32_t sl = 9, dl = 6;
        EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &dl, &st), vekStatusOk);
        EXPECT_EQ(sl, 4);
        EXPECT_EQ(dl, 0);
    }
    // Full in the middle of literals: 33, and a run group right behind the
    // last literal is taken into the state.
    {
        vekRLEState_BZ2 st;
        veksDecodeRLEStateInit_BZ2_8u(&st);
        const uint8_t in[] = {1, 2, 2, 2, 2, 9, 2, 2, 2, 2, 3, 5, 6, 7};
        const uint8_t* p = in;
        uint8_t out[2];
        uint8_t* d = out;
        int32_t sl = 14, dl = 2;
        EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &dl, &st), vekStatusDstTooSmall);
        EXPECT_EQ(sl, 3);  // 2 2 2 9 and the merged 2 2 2 2 3 consumed
        EXPECT_EQ(st.runLength, 9 + 3 + 3 + 4);
        EXPECT_EQ(st.lastByte, 2);
    }
    // The last three bytes are plain, fit or not, and leave lastByte alone.
    {
        vekRLEState_BZ2 st;
        veksDecodeRLEStateInit_BZ2_8u(&st);
        const uint8_t in[] = {4, 5, 5, 5};
        const uint8_t* p = in;
        uint8_t out[3];
        uint8_t* d = out;
        int32_t sl = 4, dl = 3;
        EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &dl, &st), vekStatusOk);
        EXPECT_EQ(sl, 1);
        EXPECT_EQ(Bytes(out, out + 3), (Bytes{4, 5, 5}));
        EXPECT_EQ(st.lastByte, 4);
    }
}

TEST(RleBz2, DecodeArbitraryInputMatchesModel) {
    std::mt19937 rng(21);
    for (int round = 0; round < 300; ++round) {
        // Few distinct values make markers and merges frequent.
        Bytes in(size_t(1 + rng() % 400));
        const unsigned values = 1 + rng() % 3;
        for (auto& b : in) b = uint8_t(rng() % 8 == 0 ? rng() : rng() % values);
        const Bytes want = model_rle_decode(in);
        const int max_dst = round % 3 == 0 ? 1 : round % 3 == 1 ? 7 : 300;
        ASSERT_EQ(rle_decode_split(in, rng, max_dst, want.size() + 1), want) << round;
    }
}

TEST(RleBz2, RoundTripsWithRandomDestinationPieces) {
    std::mt19937 rng(5);
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t n : {size_t(3), size_t(77), size_t(30000), kBig / 4}) {
            const Bytes in = varied(n, uint32_t(n * 3 + kind), kind);
            const Bytes enc = rle_encode_whole(in);
            const int max_dst = n < 1000 ? 3 : 4000;
            ASSERT_EQ(rle_decode_split(enc, rng, max_dst, n + 1), in) << kind << " " << n;
        }
    }
    // One call into an exact-size destination.
    const Bytes in = varied(kBig, 9, 3);
    const Bytes enc = rle_encode_whole(in);
    Bytes out(in.size());
    vekRLEState_BZ2 st;
    veksDecodeRLEStateInit_BZ2_8u(&st);
    const uint8_t* p = enc.data();
    uint8_t* d = out.data();
    int32_t sl = int32_t(enc.size()), dl = int32_t(out.size());
    EXPECT_EQ(veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &dl, &st), vekStatusOk);
    EXPECT_EQ(sl, 0);
    EXPECT_EQ(dl, 0);
    EXPECT_EQ(out, in);
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
    for (int round = 0; round < 20; ++round) {
        Bytes in = td::random_bytes(5000, uint32_t(round));
        for (auto& b : in) b = uint8_t(b % (1 + rng() % 256));  // alphabets of every size
        Bytes in_use;
        Bytes data = rle_encode_whole(in, &in_use);
        const Bytes orig = data;
        int32_t size = 0;
        ASSERT_EQ(
            veksReduceDictionary_8u_I(in_use.data(), data.data(), int32_t(data.size()), &size),
            vekStatusOk);
        EXPECT_EQ(size, std::accumulate(in_use.begin(), in_use.end(), 0));
        for (uint8_t b : data) ASSERT_LT(b, size);
        ASSERT_EQ(veksExpandDictionary_8u_I(in_use.data(), data.data(), int32_t(data.size()), size),
                  vekStatusOk);
        ASSERT_EQ(data, orig);
    }
    // All 256 values in use: the size is 256 and both maps are the identity.
    Bytes all(256, 1), data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    const Bytes orig = data;
    int32_t size = 0;
    EXPECT_EQ(veksReduceDictionary_8u_I(all.data(), data.data(), 300, &size), vekStatusOk);
    EXPECT_EQ(size, 256);
    EXPECT_EQ(data, orig);
    EXPECT_EQ(veksExpandDictionary_8u_I(all.data(), data.data(), 300, 256), vekStatusOk);
    EXPECT_EQ(data, orig);
}

// ---------------------------------------------------------------------------
// Move-to-front.

struct Mtf {
    uint8_t bytes[256];
    vekMTFState_8u* p() { return reinterpret_cast<vekMTFState_8u*>(bytes); }
    Mtf() { EXPECT_EQ(veksMTFInit_8u(p()), vekStatusOk); }
};

TEST(Mtf, SizeInitAndArguments) {
    int32_t size = 0;
    EXPECT_EQ(veksMTFGetSize_8u(nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksMTFGetSize_8u(&size), vekStatusOk);
    EXPECT_EQ(size, 256);
    Mtf m;
    for (int i = 0; i < 256; ++i) EXPECT_EQ(m.bytes[i], i);
    EXPECT_EQ(veksMTFInit_8u(nullptr), vekStatusNullPtrErr);
    uint8_t a[2] = {1, 0}, b[2] = {9, 9};
    for (auto fn : {veksMTFFwd_8u, veksMTFInv_8u}) {
        EXPECT_EQ(fn(nullptr, b, 2, m.p()), vekStatusNullPtrErr);
        EXPECT_EQ(fn(a, nullptr, 2, m.p()), vekStatusNullPtrErr);
        EXPECT_EQ(fn(a, b, 2, nullptr), vekStatusNullPtrErr);
        EXPECT_EQ(fn(a, b, 0, m.p()), vekStatusSizeErr);
        EXPECT_EQ(fn(nullptr, b, 0, m.p()), vekStatusNullPtrErr);
    }
    EXPECT_EQ(b[0], 9);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(m.bytes[i], i);
}

TEST(Mtf, ExactSmallCases) {
    Mtf m;
    uint8_t in[3] = {97, 97, 97}, out[3];
    EXPECT_EQ(veksMTFFwd_8u(in, out, 3, m.p()), vekStatusOk);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{97, 0, 0}));
    Mtf m2;
    uint8_t in2[2] = {1, 0};
    EXPECT_EQ(veksMTFFwd_8u(in2, out, 2, m2.p()), vekStatusOk);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{1, 1}));
    // The state is the rank table: 0 and 1 swapped, the rest unchanged.
    EXPECT_EQ(m2.bytes[0], 0);
    EXPECT_EQ(m2.bytes[1], 1);
    uint8_t one = 200;
    EXPECT_EQ(veksMTFFwd_8u(&one, out, 1, m2.p()), vekStatusOk);
    EXPECT_EQ(out[0], 200);
    EXPECT_EQ(m2.bytes[200], 0);
    EXPECT_EQ(m2.bytes[0], 1);
    EXPECT_EQ(m2.bytes[199], 200);
    EXPECT_EQ(m2.bytes[201], 201);
    // The inverse keeps the list: rank 200 then rank 1.
    Mtf inv;
    uint8_t ranks[2] = {200, 1}, syms[2];
    EXPECT_EQ(veksMTFInv_8u(ranks, syms, 2, inv.p()), vekStatusOk);
    EXPECT_EQ(Bytes(syms, syms + 2), (Bytes{200, 0}));
    EXPECT_EQ(inv.bytes[0], 0);
    EXPECT_EQ(inv.bytes[1], 200);
    EXPECT_EQ(inv.bytes[2], 1);
}

Bytes mtf_split(const Bytes& in, bool forward, std::mt19937& rng, unsigned max_piece) {
    Mtf m;
    Bytes out(in.size() + 2, 0xC3);
    size_t pos = 0;
    while (pos < in.size()) {
        const size_t n = std::min<size_t>(in.size() - pos, 1 + rng() % max_piece);
        const auto fn = forward ? veksMTFFwd_8u : veksMTFInv_8u;
        EXPECT_EQ(fn(in.data() + pos, out.data() + 1 + pos, int32_t(n), m.p()), vekStatusOk);
        pos += n;
    }
    EXPECT_EQ(out.front(), 0xC3);
    EXPECT_EQ(out.back(), 0xC3);
    return Bytes(out.begin() + 1, out.end() - 1);
}

TEST(Mtf, ModelAndRoundTripsInPieces) {
    std::mt19937 rng(13);
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t n :
             {size_t(1), size_t(2), size_t(3), size_t(33), size_t(1000), kBig / 30}) {
            Bytes in = varied(n, uint32_t(n + kind), kind);
            if (kind == 1 && n > 1000) in = td::random_bytes(n, 2);  // deep ranks throughout
            const Bytes want = model_mtf_forward(in);
            for (unsigned piece : {1u, 2u, 3u, 4000u, 1000000u}) {
                const Bytes ranks = mtf_split(in, true, rng, piece);
                ASSERT_EQ(ranks, want) << kind << " " << n << " " << piece;
                ASSERT_EQ(mtf_split(ranks, false, rng, piece), in)
                    << kind << " " << n << " " << piece;
                if (n > 1000) break;
            }
        }
    }
    // Ranks straddling the 32-entry head and the end of the list.
    Bytes in;
    for (int i = 0; i < 5000; ++i) in.push_back(uint8_t((i * 37) % 256 ^ (i % 3 ? 0 : 31)));
    EXPECT_EQ(mtf_split(in, true, rng, 17), model_mtf_forward(in));
    // Every rank value through the inverse.
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

struct Z1Z2Out {
    Syms syms;
    int32_t left;
    vekStatus st;
    std::vector<uint32_t> freq;
};

Z1Z2Out z1z2_encode(const Bytes& in, int32_t cap) {
    Z1Z2Out r;
    Syms dst(size_t(cap) + 2, 0xBEEF);
    r.freq.assign(260, 1000);  // counts add to what is there
    const uint8_t* p = in.data();
    int32_t sl = int32_t(in.size()), dl = cap;
    r.st = veksEncodeZ1Z2_BZ2_8u16u(&p, &sl, dst.data() + 1, &dl, r.freq.data());
    EXPECT_EQ(p, in.data() + (int32_t(in.size()) - sl));
    EXPECT_EQ(dst[0], 0xBEEF);
    EXPECT_EQ(dst[size_t(cap) + 1], 0xBEEF);
    EXPECT_EQ(r.freq[258], 1000u);
    EXPECT_EQ(r.freq[259], 1000u);
    for (auto& f : r.freq) f -= 1000;
    r.freq.resize(258);
    r.syms.assign(dst.begin() + 1, dst.begin() + 1 + dl);
    r.left = sl;
    return r;
}

TEST(Z1Z2, ArgumentOrder) {
    const uint8_t in[2] = {0, 5};
    const uint8_t* p = in;
    const uint8_t* np = nullptr;
    uint16_t dst[4];
    uint32_t freq[258] = {};
    int32_t sl = 2, dl = 4, zero = 0;
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(nullptr, &sl, dst, &dl, freq), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&p, &sl, nullptr, &dl, freq), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&p, nullptr, dst, &dl, freq), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&p, &sl, dst, nullptr, freq), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&np, &zero, dst, &zero, freq), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&p, &zero, dst, &zero, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&p, &zero, dst, &dl, freq), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeZ1Z2_BZ2_8u16u(&p, &sl, dst, &zero, freq), vekStatusSizeErr);
    EXPECT_EQ(p, in);
    EXPECT_EQ(freq[0], 0u);

    const uint16_t syms[2] = {0, 6};
    const uint16_t* q = syms;
    const uint16_t* nq = nullptr;
    uint8_t out[4];
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(nullptr, &sl, out, &dl), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, nullptr, &dl), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, nullptr, out, &dl), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&nq, &zero, out, &zero), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &zero, out, &dl), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out, &zero), vekStatusSizeErr);
    EXPECT_EQ(q, syms);
}

TEST(Z1Z2, ExactCodes) {
    EXPECT_EQ(z1z2_encode({0, 0, 0, 5}, 10).syms, (Syms{0, 0, 6}));
    EXPECT_EQ(z1z2_encode({0, 0, 5}, 10).syms, (Syms{1, 6}));
    EXPECT_EQ(z1z2_encode({0}, 10).syms, (Syms{0}));
    EXPECT_EQ(z1z2_encode(Bytes(6, 0), 10).syms, (Syms{1, 1}));
    EXPECT_EQ(z1z2_encode(Bytes(7, 0), 10).syms, (Syms{0, 0, 0}));
    EXPECT_EQ(z1z2_encode({255, 1, 0, 9}, 10).syms, (Syms{256, 2, 0, 10}));
    const Z1Z2Out r = z1z2_encode({3, 0, 0, 0, 0, 3, 0}, 10);  // 4 zeros = RUNB RUNA
    EXPECT_EQ(r.syms, (Syms{4, 1, 0, 4, 0}));
    EXPECT_EQ(r.st, vekStatusOk);
    EXPECT_EQ(r.freq[0], 2u);
    EXPECT_EQ(r.freq[1], 1u);
    EXPECT_EQ(r.freq[4], 2u);
    // One slot for 00 05: RUNA only, the 05 stays.
    const Z1Z2Out one = z1z2_encode({0, 5}, 1);
    EXPECT_EQ(one.syms, (Syms{0}));
    EXPECT_EQ(one.left, 1);
    EXPECT_EQ(one.st, vekStatusDstTooSmall);
    // Five zeros (RUNA RUNB) then a byte into two slots: the run goes, the byte stays.
    const Z1Z2Out two = z1z2_encode({0, 0, 0, 0, 0, 7}, 2);
    EXPECT_EQ(two.syms, (Syms{0, 1}));
    EXPECT_EQ(two.left, 1);
    // 100 trailing zeros in 3 slots: cut to 14 zeros, 86 left.
    const Z1Z2Out cut = z1z2_encode(Bytes(100, 0), 3);
    EXPECT_EQ(cut.syms, (Syms{1, 1, 1}));
    EXPECT_EQ(cut.left, 86);
    EXPECT_EQ(cut.st, vekStatusDstTooSmall);
}

TEST(Z1Z2, EncoderMatchesModelAtEveryCapacity) {
    std::mt19937 rng(3);
    for (int round = 0; round < 60; ++round) {
        Bytes in(size_t(1 + rng() % 120));
        const unsigned zero_bias = rng() % 10;
        for (auto& b : in) b = rng() % 10 < zero_bias ? 0 : uint8_t(rng());
        std::vector<uint32_t> freq;
        const Syms full = model_z1z2(in, &freq);
        for (int32_t cap = 1; cap <= int32_t(full.size()) + 2; ++cap) {
            const Z1Z2Out got = z1z2_encode(in, cap);
            const Z1Z2Result want = model_z1z2_limited(in, size_t(cap));
            ASSERT_EQ(got.syms, want.syms) << round << " " << cap;
            ASSERT_EQ(size_t(got.left), in.size() - want.consumed);
            ASSERT_EQ(got.st, got.left ? vekStatusDstTooSmall : vekStatusOk);
            std::vector<uint32_t> count(258, 0);
            for (uint16_t s : got.syms) ++count[s];
            ASSERT_EQ(got.freq, count);
        }
        EXPECT_EQ(z1z2_encode(in, int32_t(full.size())).syms, full);
    }
}

TEST(Z1Z2, LongRunsAndRoundTrips) {
    // Runs around the lengths where the digit count grows, in a main-phase
    // destination and at its end.
    for (size_t r : {size_t(1), size_t(2), size_t(62), size_t(63), size_t(2097150), size_t(2097151),
                     size_t(3000000)}) {
        Bytes in(r + 1, 0);
        in.back() = 42;
        const Syms want = model_z1z2(in, nullptr);
        EXPECT_EQ(z1z2_encode(in, int32_t(want.size())).syms, want) << r;
        EXPECT_EQ(z1z2_encode(in, int32_t(want.size()) + 40).syms, want) << r;
        const Z1Z2Out shorter = z1z2_encode(in, int32_t(want.size()) - 1);
        EXPECT_EQ(shorter.st, vekStatusDstTooSmall);
        EXPECT_EQ(shorter.left, 1);  // the run alone fits
    }
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t n : {size_t(1), size_t(40), size_t(5000), kBig}) {
            Bytes in = varied(n, uint32_t(kind * 7 + n), kind);
            Mtf m;  // realistic input: ranks of some data
            Bytes ranks(n);
            veksMTFFwd_8u(in.data(), ranks.data(), int32_t(n), m.p());
            std::vector<uint32_t> freq;
            const Syms want = model_z1z2(ranks, &freq);
            const Z1Z2Out got = z1z2_encode(ranks, int32_t(ranks.size() + 1));
            ASSERT_EQ(got.syms, want);
            ASSERT_EQ(got.freq, freq);
            Bytes back(n + 2, 0x11);
            const uint16_t* q = got.syms.data();
            int32_t sl = int32_t(got.syms.size()), dl = int32_t(n);
            ASSERT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, back.data() + 1, &dl), vekStatusOk);
            EXPECT_EQ(sl, 0);
            EXPECT_EQ(dl, int32_t(n));
            EXPECT_EQ(back[0], 0x11);
            EXPECT_EQ(back[n + 1], 0x11);
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
            const Z1Z2Decoded want = model_z1z2_decode(in, size_t(cap));
            Bytes out(size_t(cap) + 2, 0x77);
            const uint16_t* q = in.data();
            int32_t sl = int32_t(in.size()), dl = cap;
            const vekStatus st = veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out.data() + 1, &dl);
            ASSERT_EQ(st, want.st) << round << " " << cap;
            ASSERT_EQ(size_t(sl), in.size() - want.consumed);
            ASSERT_EQ(q, in.data() + want.consumed);
            ASSERT_EQ(Bytes(out.begin() + 1, out.begin() + 1 + dl), want.out);
            ASSERT_EQ(out[0], 0x77);
            ASSERT_EQ(out[size_t(cap) + 1], 0x77);
        }
    }
    // Exact cases: a final run that does not fit is dropped but consumed;
    // a run before a byte must leave room for the byte.
    const uint16_t six_zeros[2] = {1, 1};
    const uint16_t* q = six_zeros;
    uint8_t out[8];
    int32_t sl = 2, dl = 5;
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out, &dl), vekStatusDstTooSmall);
    EXPECT_EQ(sl, 0);
    EXPECT_EQ(dl, 0);
    const uint16_t run_then_byte[3] = {0, 0, 300};  // 3 zeros then 299 & 0xFF
    q = run_then_byte;
    sl = 3;
    dl = 3;
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out, &dl), vekStatusDstTooSmall);
    EXPECT_EQ(sl, 1);
    EXPECT_EQ(dl, 0);
    q = run_then_byte;
    sl = 3;
    dl = 4;
    EXPECT_EQ(veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out, &dl), vekStatusOk);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0, 0, 0, 43}));
}

}  // namespace
