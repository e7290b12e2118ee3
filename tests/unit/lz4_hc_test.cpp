// High-compression LZ4 encoder: argument order, tables, blocks worked out by
// hand from the parse rules, destination limits, and round trips through the
// library's decoder in prefix and dictionary mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "null_args.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes str(const char* s) {
    return Bytes(s, s + std::strlen(s));
}
Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// The sanitizer build runs without optimisation: less data there.
constexpr size_t kSlow = vek::testdata::kSanitized ? 6 : 1;

Bytes slice(const Bytes& a, size_t from, size_t to) {
    return Bytes(a.begin() + from, a.begin() + to);
}

// The caller-owned head and chain tables, sized through the library and
// cleared through it.
struct Tables {
    std::vector<int32_t> head, chain;
    uint8_t* ptr[2];
    Tables() {
        int32_t h = 0, c = 0;
        EXPECT_EQ(veksEncodeLZ4HCHashTableGetSize_8u(&h, &c), vekStatusOk);
        head.assign(static_cast<size_t>(h) / 4, 0x5A5A5A5A);
        chain.assign(static_cast<size_t>(c) / 4, 0x5A5A5A5A);
        ptr[0] = reinterpret_cast<uint8_t*>(head.data());
        ptr[1] = reinterpret_cast<uint8_t*>(chain.data());
        reset();
    }
    Tables(const Tables& o) : head(o.head), chain(o.chain) {
        ptr[0] = reinterpret_cast<uint8_t*>(head.data());
        ptr[1] = reinterpret_cast<uint8_t*>(chain.data());
    }
    void reset() { EXPECT_EQ(veksEncodeLZ4HCHashTableInit_8u(ptr), vekStatusOk); }
};

// Encodes with ample room; anything but vekStatusOk fails the test.
Bytes enc(const uint8_t* src, int32_t src_idx, size_t n, Tables& t, int32_t level,
          const uint8_t* dict = nullptr, int32_t dict_len = 0) {
    Bytes out(n + n / 255 + 16);
    int32_t sl = static_cast<int32_t>(n), dl = static_cast<int32_t>(out.size());
    const vekStatus st =
        veksEncodeLZ4HC_8u(src, src_idx, &sl, out.data(), &dl, t.ptr, dict, dict_len, level);
    EXPECT_EQ(st, vekStatusOk);
    EXPECT_EQ(sl, static_cast<int32_t>(n));
    out.resize(st == vekStatusOk ? static_cast<size_t>(dl) : 0);
    return out;
}

// Expected blocks, written from the format rules.
struct Block {
    Bytes b;
    void ext(size_t v) {
        for (; v >= 255; v -= 255) b.push_back(255);
        b.push_back(static_cast<uint8_t>(v));
    }
    Block& seq(const Bytes& lit, size_t ml, size_t off) {
        const size_t L = lit.size(), m = ml - 4;
        b.push_back(static_cast<uint8_t>((L < 15 ? L : 15) << 4 | (m < 15 ? m : 15)));
        if (L >= 15) ext(L - 15);
        b.insert(b.end(), lit.begin(), lit.end());
        b.push_back(static_cast<uint8_t>(off));
        b.push_back(static_cast<uint8_t>(off >> 8));
        if (m >= 15) ext(m - 15);
        return *this;
    }
    Bytes last(const Bytes& lit) {
        const size_t L = lit.size();
        b.push_back(static_cast<uint8_t>((L < 15 ? L : 15) << 4));
        if (L >= 15) ext(L - 15);
        b.insert(b.end(), lit.begin(), lit.end());
        return b;
    }
};

// The hash of the rules (one CRC-32C step from 0 over the little-endian
// word, 15 bits), computed bit by bit. The hand-worked blocks assume that
// different 4-byte words never share a chain.
uint32_t ref_hash(const uint8_t* p) {
    uint32_t c = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    for (int k = 0; k < 32; ++k) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1)));
    return c & 0x7FFF;
}
void assert_no_hash_collisions(const Bytes& s) {
    std::map<uint32_t, uint32_t> seen;
    for (size_t p = 0; p + 4 <= s.size(); ++p) {
        uint32_t w;
        std::memcpy(&w, &s[p], 4);
        const auto it = seen.emplace(ref_hash(&s[p]), w).first;
        ASSERT_EQ(it->second, w) << "hash collision at " << p << "; pick other filler bytes";
    }
}

// ---------------------------------------------------------------- tables

TEST(LZ4HCTables, SizesAndInit) {
    int32_t h = -1, c = -1;
    EXPECT_EQ(veksEncodeLZ4HCHashTableGetSize_8u(&h, &c), vekStatusOk);
    EXPECT_EQ(h, 131072);
    EXPECT_EQ(c, 262144);
    EXPECT_EQ(veksEncodeLZ4HCHashTableGetSize_8u(nullptr, &h), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZ4HCHashTableGetSize_8u(&c, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(h, 131072);
    EXPECT_EQ(c, 262144);
    // Init clears exactly both tables.
    std::vector<int32_t> head(32768 + 4, -3), chain(65536 + 4, 99);
    uint8_t* p[2] = {reinterpret_cast<uint8_t*>(head.data()),
                     reinterpret_cast<uint8_t*>(chain.data())};
    EXPECT_EQ(veksEncodeLZ4HCHashTableInit_8u(p), vekStatusOk);
    for (size_t i = 0; i < head.size(); ++i) ASSERT_EQ(head[i], i < 32768 ? 0 : -3) << i;
    for (size_t i = 0; i < chain.size(); ++i) ASSERT_EQ(chain[i], i < 65536 ? 0 : 99) << i;
    // A missing head table stops before the chain table is touched; a
    // missing chain table is found after the head table was cleared.
    EXPECT_EQ(veksEncodeLZ4HCHashTableInit_8u(nullptr), vekStatusNullPtrErr);
    std::fill(head.begin(), head.end(), 5);
    std::fill(chain.begin(), chain.end(), 6);
    uint8_t* p1[2] = {nullptr, p[1]};
    EXPECT_EQ(veksEncodeLZ4HCHashTableInit_8u(p1), vekStatusNullPtrErr);
    EXPECT_EQ(chain[0], 6);
    uint8_t* p2[2] = {p[0], nullptr};
    EXPECT_EQ(veksEncodeLZ4HCHashTableInit_8u(p2), vekStatusNullPtrErr);
    EXPECT_EQ(head[32767], 0);
}

// ---------------------------------------------------------------- arguments

struct Args {
    Bytes src = vek::testdata::text_bytes(300, 4), dict = vek::testdata::text_bytes(100, 5);
    Bytes dst = Bytes(400, 0xEE);
    int32_t src_len = 300, dst_len = 400, dict_len = 0, src_idx = 0;
    Tables t;
    const uint8_t* pdict = nullptr;
    explicit Args(bool dict_mode) {
        if (dict_mode) pdict = dict.data(), dict_len = 100;
    }
    // Slots: pSrc, pSrcLen, pDst, pDstLen, the table array, its two tables.
    vekStatus run(vek::testing::NullSlot z = {-1}) {
        uint8_t* tp[2] = {z(t.ptr[0], 5), z(t.ptr[1], 6)};
        return veksEncodeLZ4HC_8u(z(src.data(), 0), src_idx, z(&src_len, 1), z(dst.data(), 2),
                                  z(&dst_len, 3), z(tp, 4), pdict, dict_len, 9);
    }
    // A rejected call writes nothing: no output, no length, no table entry.
    void expect_untouched(int32_t want_src_len) {
        EXPECT_EQ(src_len, want_src_len);
        EXPECT_EQ(dst_len, 400);
        EXPECT_EQ(dst, Bytes(400, 0xEE));
        for (size_t i = 0; i < t.head.size(); ++i) ASSERT_EQ(t.head[i], 0);
        for (size_t i = 0; i < t.chain.size(); ++i) ASSERT_EQ(t.chain[i], 0);
    }
};

TEST(LZ4HCArgs, ChecksInOrderInBothModes) {
    for (bool dict_mode : {false, true}) {
        // Each pointer in turn is null while every later check fails too.
        for (int which = 0; which < 7; ++which) {
            Args a(dict_mode);
            a.src_len = 0;
            a.src_idx = -1;
            EXPECT_EQ(a.run({which}), vekStatusNullPtrErr)
                << "pointer " << which << " dict " << dict_mode;
            a.expect_untouched(0);
        }
        // The source length before the source index.
        for (int32_t len : {0, -1, INT32_MIN}) {
            Args a(dict_mode);
            a.src_len = len;
            a.src_idx = -5;
            EXPECT_EQ(a.run(), vekStatusSizeErr);
            a.expect_untouched(len);
        }
        Args a(dict_mode);
        a.src_idx = -1;
        EXPECT_EQ(a.run(), vekStatusBadArgErr);
        a.expect_untouched(300);
    }
}

TEST(LZ4HCArgs, DictionaryLengthAndPrefixMode) {
    Args a(true);  // a negative length is checked before the pointers
    a.dict_len = -1;
    a.src_len = 0;
    EXPECT_EQ(a.run({0}), vekStatusSizeErr);
    a.expect_untouched(0);
    Args b(false);  // no dictionary pointer: its length is not looked at
    b.dict_len = -7;
    EXPECT_EQ(b.run(), vekStatusOk);
    EXPECT_EQ(b.src_len, 300);
    Args c(true);  // empty dictionary: prefix mode, whose checks still apply
    c.dict_len = 0;
    c.src_idx = -1;
    EXPECT_EQ(c.run(), vekStatusBadArgErr);
}

// ---------------------------------------------------------------- blocks by hand

TEST(LZ4HCBlocks, FourteenBytesOrFewerAreOneLiteralRun) {
    // Even bytes that repeat (here all equal, and equal to the history) give
    // no match: the first search would start at mflimit or later.
    for (size_t n = 1; n <= 14; ++n) {
        for (int32_t idx : {0, 40}) {
            Bytes buf(40 + n, 'q');
            Tables t;
            if (idx) enc(buf.data(), 0, 40, t, 9);  // history entered into the tables
            const Bytes src = slice(buf, static_cast<size_t>(idx), static_cast<size_t>(idx) + n);
            Bytes want{static_cast<uint8_t>(n << 4)};
            want.insert(want.end(), src.begin(), src.end());
            EXPECT_EQ(enc(buf.data() + idx, idx, n, t, 9), want) << n << " idx " << idx;
        }
    }
}

TEST(LZ4HCBlocks, EqualBytesOfEveryLength) {
    // 1000 bytes by hand: position 0 is entered but is never a candidate;
    // position 1's chain starts at 0 and ends at once; position 2 finds 1 and
    // runs to 5 bytes before the end: length 993, 989 = 15 + 3 * 255 + 209 in
    // the token and extension.
    const Bytes z(1000, 'z');
    Tables t0;
    EXPECT_EQ(
        enc(z.data(), 0, z.size(), t0, 9),
        (Bytes{0x2F, 'z', 'z', 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xD1, 0x50, 'z', 'z', 'z', 'z', 'z'}));
    // From 16 bytes on: two literals, then offset 1 up to matchlimit (length
    // n - 7), then 5 literals. At 15 bytes position 1 is the only search.
    for (size_t n = 15; n <= 1100; n += n < 300 ? 1 : kSlow) {
        const Bytes src(n, 0x80);
        Tables t;
        Block b;
        const Bytes want =
            n == 15 ? b.last(src) : b.seq(Bytes(2, 0x80), n - 7, 1).last(Bytes(5, 0x80));
        ASSERT_EQ(enc(src.data(), 0, n, t, 1), want) << n;
        // After a history of 5 such bytes the first entered position, 5, is
        // a candidate for the first search at 6: one literal, then the run.
        const Bytes buf(5 + n, 0x80);
        Tables t2;
        Block b2;
        ASSERT_EQ(enc(buf.data() + 5, 5, n, t2, 9),
                  b2.seq(Bytes(1, 0x80), n - 6, 1).last(Bytes(5, 0x80)))
            << n;
    }
}

TEST(LZ4HCBlocks, OverlappingLongerMatchIsCutBehindTheFirst) {
    // 0 Q, 1..8 abcdefgh, 9 X, 10 #, 11..22 fghijklmnopY, 23..26 0123,
    // 27..42 abcdefghijklmnop, 43..58 filler.
    const Bytes s = str("QabcdefghX#fghijklmnopY0123abcdefghijklmnopRSTUVWZ%&*+,-./:");
    ASSERT_EQ(s.size(), 59u);
    assert_no_hash_collisions(s);
    // mflimit 46, matchlimit 54. Search 1 at 27 finds 1, length 8 (35 'i'
    // against 9 'X'). Wider search at 33 (low limit 27, best 8): candidate
    // 12 extends back one byte (32 'f' = 11 'f', 31 'e' != 10 '#') and 10
    // forward: start 32, length 11, candidate 11. 32 - 27 = 5 < 18: the first
    // keeps min(8, 18) = 8 bytes, the second moves forward by 3 to 35 (length
    // 8, candidate 14). Search 3 at 40 finds nothing, 35 is not before 27 + 8:
    // two sequences, then 43..45 find nothing and 16 literals remain.
    Block b;
    b.seq(slice(s, 0, 27), 8, 26).seq({}, 8, 21);
    const Bytes want = b.last(slice(s, 43, 59));
    for (int level : {1, 9}) {
        Tables t;
        EXPECT_EQ(enc(s.data(), 0, s.size(), t, level), want) << level;
    }
}

// History block: "0abcdEFGHIJ1", then `decoys` times "xxcdEFzz", then
// `shorts` times "2abcdZ3", then 16 filler bytes. The source "7abcdEFGHIJ"
// plus 13 filler bytes follows it.
struct ChainCase {
    Bytes hist, src;
    ChainCase(int decoys, int shorts) {
        hist = str("0abcdEFGHIJ1");
        for (int i = 0; i < decoys; ++i) hist = cat(hist, str("xxcdEFzz"));
        for (int i = 0; i < shorts; ++i) hist = cat(hist, str("2abcdZ3"));
        hist = cat(hist, str("45689!$%&()*+,-."));
        src = str("7abcdEFGHIJghkmnpqrstuvw");
    }
    // The two possible blocks. P is the position of the source's first byte.
    //  Long: search 1 at P+1 reaches candidate 1 (length 10), or the wider
    //  search at P+3 reaches candidate 3 and extends it back to P+1, which
    //  then replaces the first match; either way one sequence (P+1, 10, 1)
    //  and 13 final literals, since P+11 is mflimit.
    //  Short: search 1 takes the latest "abcd" (every short one has length
    //  4, the first found wins); the wider search only sees decoys (back 0,
    //  screen "dEFG" against "dEFz" fails); then "EFGH" at P+5 finds 5,
    //  length 6.
    Bytes expected(bool long_form) const {
        const size_t P = hist.size();
        Block b;
        if (long_form) return b.seq(str("7"), 10, P).last(slice(src, 11, 24));
        const size_t last_short = P - 16 - 7 + 1;
        return b.seq(str("7"), 4, P + 1 - last_short).seq({}, 6, P).last(slice(src, 11, 24));
    }
    Bytes encode(int level) const {
        Bytes all = cat(hist, src);
        Tables t;
        enc(all.data(), 0, hist.size(), t, 9);
        return enc(all.data() + hist.size(), static_cast<int32_t>(hist.size()), src.size(), t,
                   level);
    }
};

TEST(LZ4HCBlocks, ChainStepsFollowTheLevel) {
    // Search 1 meets the long candidate after `shorts` others, the wider
    // search after `decoys` others; level L walks 2^(L-1) candidates. Levels
    // below 1 act as 1, above 9 as 9, and 0 as 9.
    const int cases[][2] = {{1, 1}, {3, 3}, {4, 4}, {2, 6}, {6, 2}, {7, 9}, {40, 130}, {200, 255}};
    for (const auto& c : cases) {
        const ChainCase cc(c[0], c[1]);
        assert_no_hash_collisions(cat(cc.hist, cc.src));
        const int reach = std::min(c[0], c[1]) + 1;
        for (int level : {INT32_MIN, -3, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, INT32_MAX}) {
            const int l = level == 0 ? 9 : std::max(1, std::min(9, level));
            const bool long_form = (1 << (l - 1)) >= reach;
            EXPECT_EQ(cc.encode(level), cc.expected(long_form))
                << "decoys " << c[0] << " shorts " << c[1] << " level " << level;
        }
    }
}

TEST(LZ4HCBlocks, DistanceLimitIs65534) {
    // Block 1: 70000 random bytes. Block 2 (srcIdx 70000): one byte, 24
    // bytes copied from position 70001 - d, 20 filler bytes. With d = 65534
    // search 1 at 70001 uses the copy; with d = 65535 no position of it is
    // close enough and the block is all literals.
    const Bytes a = vek::testdata::random_bytes(70000, 77);
    const Bytes tail = vek::testdata::random_bytes(20, 78);
    for (size_t d : {65534u, 65535u}) {
        const size_t k = 70001 - d;
        Bytes buf = a;
        buf.push_back(0x3C);
        buf.insert(buf.end(), a.begin() + static_cast<std::ptrdiff_t>(k),
                   a.begin() + static_cast<std::ptrdiff_t>(k + 24));
        buf.insert(buf.end(), tail.begin(), tail.end());
        // The copy is the only repeat within reach of the second block.
        for (size_t p = 70001; p + 4 <= buf.size(); ++p)
            for (size_t e = p - 65535; e < p; ++e)
                ASSERT_TRUE(std::memcmp(&buf[p], &buf[e], 4) != 0 || (p - e == d && p + 4 <= 70025))
                    << p;
        Tables t;
        enc(buf.data(), 0, 70000, t, 9);
        const Bytes src = slice(buf, 70000, buf.size());
        Block b;
        const Bytes want = d == 65534 ? b.seq(slice(src, 0, 1), 24, 65534).last(tail) : b.last(src);
        EXPECT_EQ(enc(buf.data() + 70000, 70000, src.size(), t, 9), want) << d;
    }
}

TEST(LZ4HCBlocks, PreviousBlockInMemoryIsHistory) {
    // A second copy of 4096 random bytes: after one literal, a match at
    // distance 4096 runs to matchlimit (4090 bytes). The same holds in
    // dictionary mode with the first copy as a separate dictionary.
    const Bytes r = vek::testdata::random_bytes(4096, 5);
    const Bytes buf = cat(r, r);
    Block b;
    const Bytes want = b.seq(slice(r, 0, 1), 4090, 4096).last(slice(r, 4091, 4096));
    Tables t;
    enc(buf.data(), 0, 4096, t, 9);
    Tables t2 = t;
    EXPECT_EQ(enc(buf.data() + 4096, 4096, 4096, t, 9), want);
    const Bytes dict = r, src = r;
    EXPECT_EQ(enc(src.data(), 4096, 4096, t2, 9, dict.data(), 4096), want);
}

TEST(LZ4HCBlocks, DictionaryMatchRunsOnIntoTheSource) {
    // Dictionary "#ABCDEFGHIJKLMNOPQRST" (positions 0..20, entered by a first
    // call); source "z" + dictionary[2..20] + "z" + 13 letters, srcIdx 21.
    const Bytes d = str("#ABCDEFGHIJKLMNOPQRST");
    const Bytes s = str("zBCDEFGHIJKLMNOPQRSTzabcdefghijklm");
    assert_no_hash_collisions(cat(d, s));
    const Bytes tail = slice(s, 21, 34);
    // Search 1 at 22 finds 2: 19 bytes to the dictionary's end, then source
    // byte 20 'z' equals source byte 0 'z', and 'a' differs from 'B': length
    // 20, offset 20. 22 + 20 is mflimit, so 13 literals follow.
    Block b1;
    const Bytes whole = b1.seq(str("z"), 20, 20).last(tail);
    // With only the last 18 dictionary bytes (lowest position 3), candidate 2
    // ends the walk; at 23 candidate 3 gives 18 + 1 bytes.
    Block b2;
    const Bytes cut = b2.seq(str("zB"), 19, 20).last(tail);
    for (int level : {1, 9}) {
        Tables t;
        enc(d.data(), 0, d.size(), t, level);
        Tables t2 = t;
        EXPECT_EQ(enc(s.data(), 21, s.size(), t, level, d.data(), 21), whole);
        EXPECT_EQ(enc(s.data(), 21, s.size(), t2, level, d.data() + 3, 18), cut);
        // Prefix mode with the same bytes in one buffer gives the same block.
        const Bytes all = cat(d, s);
        Tables t3;
        enc(all.data(), 0, 21, t3, level);
        EXPECT_EQ(enc(all.data() + 21, 21, s.size(), t3, level), whole);
    }
}

TEST(LZ4HCBlocks, BackwardExtensionCrossesIntoTheDictionary) {
    // Dictionary "#UVabQklmnopqrstUV" (18 bytes, position 1 entered by a
    // first call). Source at 18: "abcdefgh123456UVabcdefgh" + 13 filler.
    const Bytes d = str("#UVabQklmnopqrstUV");
    const Bytes s = str("abcdefgh123456UVabcdefgh789!$%&*()+,-");
    ASSERT_EQ(s.size(), 37u);
    assert_no_hash_collisions(cat(d, s));
    // Search 1 at 32 ("UVab") finds 1, length 4. The wider search at 34
    // (low limit 32) finds 18 ("abcd" at the source start); the two bytes
    // before it are the dictionary's last "UV": back 2, forward 8, so start
    // 32, length 10, candidate 16. It starts at the first match, which is
    // dropped; 32 + 10 is mflimit: one sequence of 14 literals and offset 16.
    Block b;
    const Bytes want = b.seq(slice(s, 0, 14), 10, 16).last(slice(s, 24, 37));
    for (int level : {1, 9}) {
        Tables t;
        enc(d.data(), 0, d.size(), t, level);
        EXPECT_EQ(enc(s.data(), 18, s.size(), t, level, d.data(), 18), want);
        const Bytes all = cat(d, s);
        Tables t2;
        enc(all.data(), 0, 18, t2, level);
        EXPECT_EQ(enc(all.data() + 18, 18, s.size(), t2, level), want);
    }
}

TEST(LZ4HCBlocks, DictionaryFloorBoundsCandidatesAndBackwardExtension) {
    // The chain case with the dictionary reduced to its last 41 bytes
    // (lowest position 2) at level 2. Search 1: candidate 21 gives 4, then
    // candidate 1 is below the floor and ends the walk. The wider search at
    // P+3 passes the decoy and reaches 3, which extends back one byte only
    // (to position 2): start P+2, length 9, candidate 2. It starts within 3
    // bytes of the first match and replaces it.
    const ChainCase cc(1, 1);
    const size_t P = cc.hist.size();
    ASSERT_EQ(P, 43u);
    Tables t;
    enc(cc.hist.data(), 0, P, t, 9);
    Block b;
    const Bytes want = b.seq(str("7a"), 9, P).last(slice(cc.src, 11, 24));
    EXPECT_EQ(enc(cc.src.data(), 43, cc.src.size(), t, 2, cc.hist.data() + 2, 41), want);
}

// ---------------------------------------------------------------- destination limits

// Every capacity below the block size fails without writing at or beyond
// it and leaves both lengths alone; the exact size succeeds.
void check_capacities(const Bytes& hist, const Bytes& src, const uint8_t* dict, int32_t dict_len,
                      size_t step) {
    const Bytes all = cat(hist, src);
    const int32_t idx = static_cast<int32_t>(hist.size());
    auto fresh = [&](Tables& t) {
        t.reset();
        if (!hist.empty()) enc(all.data(), 0, hist.size(), t, 9);
    };
    const uint8_t* p = dict ? src.data() : all.data() + hist.size();
    Tables t;
    fresh(t);
    const Bytes want = enc(p, idx, src.size(), t, 9, dict, dict_len);
    ASSERT_FALSE(want.empty());
    std::vector<size_t> caps = {want.size()};
    for (size_t cap = want.size() - 1;; cap = cap > step ? cap - step : 0) {
        caps.push_back(cap);
        if (cap == 0) break;
    }
    caps.push_back(SIZE_MAX);  // a negative capacity
    for (const size_t cap : caps) {
        fresh(t);
        const size_t room = cap == SIZE_MAX ? 0 : cap;
        Bytes dst(room + 64, 0xC3);
        int32_t sl = static_cast<int32_t>(src.size()),
                dl = cap == SIZE_MAX ? -1 : static_cast<int32_t>(cap);
        const vekStatus st =
            veksEncodeLZ4HC_8u(p, idx, &sl, dst.data(), &dl, t.ptr, dict, dict_len, 9);
        EXPECT_EQ(sl, static_cast<int32_t>(src.size()));
        for (size_t i = room; i < dst.size(); ++i)
            ASSERT_EQ(dst[i], 0xC3) << "cap " << cap << " byte " << i;
        if (cap == want.size()) {
            EXPECT_EQ(st, vekStatusOk);
            EXPECT_EQ(Bytes(dst.begin(), dst.begin() + static_cast<std::ptrdiff_t>(cap)), want);
        } else {
            ASSERT_EQ(st, vekStatusDstTooSmall) << cap;
            ASSERT_EQ(dl, cap == SIZE_MAX ? -1 : static_cast<int32_t>(cap));
        }
    }
}

TEST(LZ4HCDestination, EveryCapacityBelowTheBlockSize) {
    check_capacities({}, Bytes(1000, 'z'), nullptr, 0, 1);  // a 15-byte block
    check_capacities({}, vek::testdata::text_bytes(3000, 31), nullptr, 0, 1);
    check_capacities({}, vek::testdata::random_bytes(700, 32), nullptr, 0, 1);
    check_capacities({}, vek::testdata::runs_bytes(5000, 33), nullptr, 0, 1);
    check_capacities({}, Bytes(9, 'x'), nullptr, 0, 1);
    const Bytes hist = vek::testdata::text_bytes(5000, 34),
                src = vek::testdata::text_bytes(2000, 35);
    check_capacities(hist, src, nullptr, 0, 1);
    check_capacities(hist, src, hist.data() + 1000, 4000, 1);
    check_capacities({}, vek::testdata::random_bytes(300000 / kSlow, 36), nullptr, 0, 4999);
}

// ---------------------------------------------------------------- round trips

struct Corpus {
    std::string name;
    Bytes data;
};

std::vector<Corpus> corpus() {
    Bytes mixed = vek::testdata::text_bytes(40000, 40);
    mixed = cat(mixed, vek::testdata::random_bytes(30000, 41));
    mixed = cat(mixed, vek::testdata::runs_bytes(40000, 42));
    mixed = cat(mixed, slice(mixed, 5000, 45000));
    Bytes binary;
    for (uint32_t i = 0; i < 60000; ++i) {  // little-endian counters with small noise
        const uint32_t v = i * 3 + (i % 7 == 0 ? i >> 3 : 0);
        binary.insert(binary.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0});
    }
    return {{"text", vek::testdata::text_bytes(200000, 1)},
            {"random", vek::testdata::random_bytes(100000, 2)},
            {"runs", vek::testdata::runs_bytes(150000, 3)},
            {"zeros", Bytes(70000, 0)},
            {"binary", binary},
            {"mixed", mixed}};
}

// Encodes `data` as a stream of blocks of varying sizes, after a preset
// history entered by a first call, and decodes each block with the library's
// decoder after the bytes decoded so far. Prefix mode keeps everything in one
// buffer; dictionary mode gives every block a buffer of its own with the
// previous block (or the preset) as the dictionary.
void round_trip(const Bytes& data, const Bytes& preset, int level, bool dict_mode,
                const std::string& what, const std::vector<size_t>& sizes) {
    const Bytes all = cat(preset, data);
    Tables t;
    if (!preset.empty()) enc(all.data(), 0, preset.size(), t, level);
    Bytes out = preset, dict = preset;
    out.resize(all.size());
    for (size_t off = preset.size(), k = 0; off < all.size(); ++k) {
        const size_t n = std::min(sizes[k % sizes.size()], all.size() - off);
        const Bytes src = dict_mode ? slice(all, off, off + n) : Bytes();
        const Bytes blk = dict_mode && !dict.empty()
                              ? enc(src.data(), static_cast<int32_t>(off), n, t, level, dict.data(),
                                    static_cast<int32_t>(dict.size()))
                              : enc(all.data() + off, static_cast<int32_t>(off), n, t, level);
        int32_t sl = static_cast<int32_t>(blk.size()), dl = static_cast<int32_t>(n);
        ASSERT_EQ(veksDecodeLZ4Dict_8u(blk.data(), &sl, out.data(), static_cast<int32_t>(off), &dl,
                                       out.data(), static_cast<int32_t>(off)),
                  vekStatusOk)
            << what << " block at " << off;
        ASSERT_EQ(dl, static_cast<int32_t>(n)) << what << " block at " << off;
        if (dict_mode) dict = src;
        off += n;
    }
    ASSERT_TRUE(out == all) << what;
}

TEST(LZ4HCRoundTrip, CorpusInWholeBlocksAndStreams) {
    const std::vector<size_t> mixed = {1, 14, 15, 16, 100, 4096, 65536, 100000, 3, 30000};
    const Bytes preset = vek::testdata::text_bytes(20000, 50);
    for (const auto& c : corpus()) {
        for (int level : {1, 5, 9}) {
            round_trip(c.data, {}, level, false, c.name + " whole", {SIZE_MAX});
            round_trip(c.data, {}, level, false, c.name + " prefix", mixed);
            round_trip(c.data, preset, level, true, c.name + " dictionary", mixed);
        }
    }
}

TEST(LZ4HCRoundTrip, SeveralMegabytes) {
    Bytes big = cat(vek::testdata::text_bytes(1500000 / kSlow, 70),
                    vek::testdata::runs_bytes(800000 / kSlow, 71));
    big =
        cat(cat(big, vek::testdata::random_bytes(700000 / kSlow, 72)), Bytes(300000 / kSlow, 0x55));
    for (int level : {1, 9}) {
        round_trip(big, {}, level, false, "big", {SIZE_MAX});
        round_trip(big, {}, level, true, "big dictionary stream", {1 << 20});
    }
}

}  // namespace
