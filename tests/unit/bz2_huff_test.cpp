// bzip2-format Huffman encoder, decoder and block decoder: exact bits against
// a plain model, argument order, split round trips, hostile contexts and blocks.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <random>
#include <vector>

#include "bwt/huff_bz2.h"
#include "bz2_huff_model.h"
#include "null_args.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

namespace model = vek::testing::bz2model;
using model::Bits;
using vek::testing::expect_each_null_refused;
using vek::testing::NullSlot;

constexpr int kScale = vek::testdata::kSanitized ? 4 : 1;

struct EncState {
    std::vector<uint8_t> mem;
    vekHuffEncState_BZ2* st() { return reinterpret_cast<vekHuffEncState_BZ2*>(mem.data()); }
    explicit EncState(int len) {
        int32_t size = 0;
        EXPECT_EQ(veksEncodeHuffGetSize_BZ2_16u8u(len, &size), vekStatusOk);
        mem.assign(static_cast<size_t>(size) + 8, 0xA5);
    }
    vekStatus init(const std::vector<uint16_t>& sym, int alphaSize);
};

struct DecState {
    std::vector<uint8_t> mem;
    vekHuffDecState_BZ2* st() { return reinterpret_cast<vekHuffDecState_BZ2*>(mem.data()); }
    DecState() {
        int32_t size = 0;
        EXPECT_EQ(veksDecodeHuffGetSize_BZ2_8u16u(vek::bwt::kBz2DecodeMinLen, &size), vekStatusOk);
        mem.assign(static_cast<size_t>(size), 0x5A);
    }
};

std::vector<uint32_t> freq_of(const std::vector<uint16_t>& s, int alphaSize) {
    std::vector<uint32_t> f(static_cast<size_t>(alphaSize), 0);
    for (uint16_t v : s) ++f[v];
    return f;
}

vekStatus EncState::init(const std::vector<uint16_t>& sym, int alphaSize) {
    const std::vector<uint32_t> f = freq_of(sym, alphaSize);
    return veksEncodeHuffInit_BZ2_16u8u(alphaSize, f.data(), sym.data(),
                                        static_cast<int32_t>(sym.size()), st());
}

using model::block_symbols;

std::vector<uint16_t> random_symbols(size_t n, int alphaSize, uint32_t seed, double skew) {
    std::mt19937 rng(seed);
    std::vector<uint16_t> s(n);
    std::geometric_distribution<int> geo(skew);
    for (auto& v : s) v = static_cast<uint16_t>(std::min(geo(rng), alphaSize - 2));
    s.push_back(static_cast<uint16_t>(alphaSize - 1));
    return s;
}

// Encodes through the library: Init, Pack, EncodeHuff, final flush.
std::vector<uint8_t> encode(const std::vector<uint16_t>& sym, int alphaSize,
                            EncState* es = nullptr) {
    EncState local(static_cast<int>(sym.size()));
    EncState& e = es ? *es : local;
    EXPECT_EQ(e.init(sym, alphaSize), vekStatusOk);
    std::vector<uint8_t> out(sym.size() * 3 + 4096);
    uint32_t code = 0;
    int32_t bits = 0;
    int32_t n = static_cast<int32_t>(out.size());
    EXPECT_EQ(veksPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &n, e.st()), vekStatusOk);
    size_t used = static_cast<size_t>(n);
    const uint16_t* p = sym.data();
    int32_t left = static_cast<int32_t>(sym.size());
    n = static_cast<int32_t>(out.size() - used);
    EXPECT_EQ(veksEncodeHuff_BZ2_16u8u(&code, &bits, &p, &left, out.data() + used, &n, e.st()),
              vekStatusOk);
    EXPECT_EQ(left, 0);
    EXPECT_LE(bits, 24);
    used += static_cast<size_t>(n);
    out.resize(used);
    for (; bits > 0; bits -= 8, code <<= 8) out.push_back(static_cast<uint8_t>(code >> 24));
    return out;
}

// The model's tables are in the context the bytes carry (lengths, selector
// ranks), so equal bytes mean equal tables as well as equal coding.
void expect_matches_model(const std::vector<uint16_t>& sym, int alphaSize) {
    EncState e(static_cast<int>(sym.size()));
    const std::vector<uint8_t> bytes = encode(sym, alphaSize, &e);
    const model::Tables t = model::fit_tables(alphaSize, freq_of(sym, alphaSize), sym);
    ASSERT_EQ(e.st()->nGroups, t.nGroups);
    ASSERT_EQ(e.st()->nSelectors, static_cast<int32_t>(t.selectors.size()));
    ASSERT_EQ(e.st()->alphaSize, alphaSize);
    Bits bits = model::pack_context(t, alphaSize);
    const Bits body = model::code_symbols(t, sym);
    bits.insert(bits.end(), body.begin(), body.end());
    ASSERT_EQ(bytes, model::bits_to_bytes(bits));
}

// ---- encoder ----

TEST(Bz2HuffEncode, SizesAndArgumentOrder) {
    int32_t size = -1;
    EXPECT_EQ(veksEncodeHuffGetSize_BZ2_16u8u(1, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeHuffGetSize_BZ2_16u8u(0, &size), vekStatusSizeErr);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(veksDecodeHuffGetSize_BZ2_8u16u(1, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeHuffGetSize_BZ2_8u16u(0, &size), vekStatusSizeErr);
    ASSERT_EQ(veksEncodeHuffGetSize_BZ2_16u8u(120, &size), vekStatusOk);
    EXPECT_EQ(size, static_cast<int32_t>(sizeof(vekHuffEncState_BZ2)) + 6);
#if defined(__i386__)
    EXPECT_EQ(size, 7770);
#endif
    ASSERT_EQ(veksDecodeHuffGetSize_BZ2_8u16u(120, &size), vekStatusOk);
    EXPECT_EQ(size, static_cast<int32_t>(sizeof(vekHuffDecState_BZ2)) + 3);
#if defined(__i386__)
    EXPECT_EQ(size, 9327);
#endif

    EncState e(10);
    const uint16_t src[3] = {0, 1, 2};
    const uint32_t f[3] = {1, 1, 1};
    expect_each_null_refused(3, [&](NullSlot z) {
        return veksEncodeHuffInit_BZ2_16u8u(0, z(f, 0), z(src, 1), 3, z(e.st(), 2));
    });
    EXPECT_EQ(veksEncodeHuffInit_BZ2_16u8u(0, f, src, 3, e.st()), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeHuffInit_BZ2_16u8u(3, f, src, 0, e.st()), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeHuffInit_BZ2_16u8u(259, f, src, 3, e.st()), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeHuffInit_BZ2_16u8u(2, f, src, 3, e.st()),
              vekStatusBadDataErr);  // symbol 2 outside
    ASSERT_EQ(veksEncodeHuffInit_BZ2_16u8u(3, f, src, 3, e.st()), vekStatusOk);

    // Null pointers come before a zero capacity.
    uint32_t code = 0;
    int32_t bits = 0, n = 0, left = 3;
    uint8_t out[16];
    const uint16_t* p = src;
    const uint16_t* pnull = nullptr;
    expect_each_null_refused(5, [&](NullSlot z) {
        return veksPackHuffContext_BZ2_16u8u(z(&code, 0), z(&bits, 1), z(out, 2), z(&n, 3),
                                             z(e.st(), 4));
    });
    EXPECT_EQ(veksPackHuffContext_BZ2_16u8u(&code, &bits, out, &n, e.st()), vekStatusSizeErr);
    expect_each_null_refused(8, [&](NullSlot z) {
        return veksEncodeHuff_BZ2_16u8u(z(&code, 0), z(&bits, 1), z.is(7) ? &pnull : z(&p, 2),
                                        z(&left, 3), z(out, 4), z(&n, 5), z(e.st(), 6));
    });
    EXPECT_EQ(veksEncodeHuff_BZ2_16u8u(&code, &bits, &p, &left, out, &n, e.st()), vekStatusSizeErr);
    n = 16;
    left = 51;  // more symbols than the groups the state was fitted for
    EXPECT_EQ(veksEncodeHuff_BZ2_16u8u(&code, &bits, &p, &left, out, &n, e.st()), vekStatusSizeErr);
    EXPECT_EQ(p, src);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(bits, 0);
}

TEST(Bz2HuffEncode, TableCountAndGroups) {
    const int cases[][2] = {{1, 2},    {199, 2},  {200, 3},  {599, 3}, {600, 4},
                            {1199, 4}, {1200, 5}, {2399, 5}, {2400, 6}};
    for (const auto& c : cases) {
        EncState e(c[0]);
        ASSERT_EQ(e.init(random_symbols(static_cast<size_t>(c[0] - 1), 20, 7, 0.3), 20),
                  vekStatusOk);
        EXPECT_EQ(e.st()->nGroups, c[1]) << c[0];
        EXPECT_EQ(e.st()->nSelectors, (c[0] + 49) / 50) << c[0];
        EXPECT_EQ(e.st()->pLengths, &e.st()->lengths[0][0]);
        EXPECT_EQ(e.st()->pCodes, &e.st()->codes[0][0]);
        EXPECT_EQ(e.st()->pSelectors, e.mem.data() + sizeof(vekHuffEncState_BZ2));
    }
    // Symbols 0 and 1 land in different tables of length 0/15: both tables
    // cost 15 for the one group, and the lower table is chosen.
    const uint16_t two[2] = {0, 1};
    const uint32_t f2[2] = {1, 1};
    EncState e(2);
    ASSERT_EQ(veksEncodeHuffInit_BZ2_16u8u(2, f2, two, 2, e.st()), vekStatusOk);
    EXPECT_EQ(e.mem[sizeof(vekHuffEncState_BZ2)], 0);
    EXPECT_EQ(e.st()->lengths[0][0], 1);
    EXPECT_EQ(e.st()->lengths[0][1], 1);
    EXPECT_EQ(e.st()->codes[0][1], 1u);
}

TEST(Bz2HuffEncode, MatchesModelOnVariedBlocks) {
    for (const auto& data :
         {vek::testdata::text_bytes(20000 / kScale, 11),
          vek::testdata::random_bytes(9000 / kScale, 12),
          vek::testdata::runs_bytes(30000 / kScale, 13), std::vector<uint8_t>(1, 'x')}) {
        std::vector<uint16_t> sym;
        const int alpha = block_symbols(data, &sym);
        expect_matches_model(sym, alpha);
    }
    for (int alphaSize : {1, 2, 3, 17, 258}) {
        for (size_t n : {size_t{0}, size_t{49}, size_t{50}, size_t{777}, size_t{5000}}) {
            if (alphaSize == 1 && n > 0) continue;
            std::vector<uint16_t> s = random_symbols(n, std::max(alphaSize, 2),
                                                     static_cast<uint32_t>(n + alphaSize), 0.08);
            if (alphaSize == 1) s = {0};
            for (auto& v : s) v = static_cast<uint16_t>(std::min<int>(v, alphaSize - 1));
            expect_matches_model(s, alphaSize);
        }
    }
}

// Counts growing like Fibonacci numbers give a tree deeper than 17 levels.
TEST(Bz2HuffEncode, DepthRepairGivesCompleteCodeWithinLimit) {
    for (int n : {20, 30, 40, 258}) {
        std::vector<uint32_t> counts(static_cast<size_t>(n));
        uint32_t a = 1, b = 1;
        for (int i = 0; i < n; ++i) {
            counts[static_cast<size_t>(i)] = i < 30 ? a : 1;
            const uint32_t c = a + b;
            a = b;
            b = c;
        }
        uint8_t len[258];
        vek::bwt::bz2_code_lengths(counts.data(), n, len);
        const std::vector<int> ref = model::code_lengths(counts);
        double kraft = 0;
        int longest = 0;
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(len[i], ref[static_cast<size_t>(i)]) << n << " " << i;
            ASSERT_GE(len[i], 1);
            kraft += std::ldexp(1.0, -len[i]);
            longest = std::max<int>(longest, len[i]);
        }
        EXPECT_TRUE(n <= 30 ? longest == 17 : longest <= 17) << n;
        EXPECT_DOUBLE_EQ(kraft, 1.0) << n;
    }
}

TEST(Bz2HuffEncode, PackedContextFieldsAndAccumulator) {
    // Three groups of a 6-symbol alphabet.
    std::vector<uint16_t> s = random_symbols(149, 6, 5, 0.5);
    EncState e(150);
    const std::vector<uint32_t> f = freq_of(s, 6);
    ASSERT_EQ(e.init(s, 6), vekStatusOk);
    // Start with 5 pending caller bits 10110.
    uint32_t code = 0xB0000000u;
    int32_t bits = 5;
    uint8_t out[64];
    int32_t n = 64;
    ASSERT_EQ(veksPackHuffContext_BZ2_16u8u(&code, &bits, out, &n, e.st()), vekStatusOk);
    Bits b;
    model::put_bits(b, 0x16, 5);
    const model::Tables t = model::fit_tables(6, f, s);
    const Bits ctx = model::pack_context(t, 6);
    b.insert(b.end(), ctx.begin(), ctx.end());
    ASSERT_EQ(static_cast<size_t>(n) * 8 + static_cast<size_t>(bits), b.size());
    const std::vector<uint8_t> ref = model::bits_to_bytes(b);
    EXPECT_EQ(std::vector<uint8_t>(out, out + n),
              std::vector<uint8_t>(ref.begin(), ref.begin() + n));
    EXPECT_LE(bits, 8);  // bytes leave before each append, the last append is one bit
    EXPECT_EQ(code >> (32 - bits),
              static_cast<uint32_t>(ref[static_cast<size_t>(n)]) >> (8 - bits));
    // The selectors' move-to-front ranks follow the selectors in the state.
    const uint8_t* sel = e.mem.data() + sizeof(vekHuffEncState_BZ2);
    std::vector<int> list = {0, 1, 2, 3, 4, 5};
    for (int g = 0; g < 3; ++g) {
        const int r = static_cast<int>(std::find(list.begin(), list.end(), sel[g]) - list.begin());
        EXPECT_EQ(sel[3 + g], r);
        list.erase(list.begin() + r);
        list.insert(list.begin(), sel[g]);
    }
}

TEST(Bz2HuffEncode, FullDestinationStopsWithValidPrefix) {
    std::vector<uint16_t> sym;
    const int alpha = block_symbols(vek::testdata::text_bytes(3000, 21), &sym);
    const std::vector<uint8_t> whole = encode(sym, alpha);
    EncState e(static_cast<int>(sym.size()));
    ASSERT_EQ(e.init(sym, alpha), vekStatusOk);
    for (int32_t cap : {1, 2, 3, 7, 20}) {
        std::vector<uint8_t> out(static_cast<size_t>(cap) + 4, 0xEE);
        uint32_t code = 0;
        int32_t bits = 0, n = cap;
        EXPECT_EQ(veksPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &n, e.st()),
                  vekStatusDstTooSmall);
        EXPECT_EQ(n, cap);
        EXPECT_LE(bits, 32);
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + cap),
                  std::vector<uint8_t>(whole.begin(), whole.begin() + cap));
        for (int k = 0; k < 4; ++k) EXPECT_EQ(out[static_cast<size_t>(cap + k)], 0xEE);
    }
    // Symbols stop where the accumulator would overflow; a second call with
    // a fresh destination continues the same stream.
    std::vector<uint8_t> out(whole.size() + 8, 0);
    uint32_t code = 0;
    int32_t bits = 0, n = static_cast<int32_t>(out.size());
    ASSERT_EQ(veksPackHuffContext_BZ2_16u8u(&code, &bits, out.data(), &n, e.st()), vekStatusOk);
    size_t used = static_cast<size_t>(n);
    const uint16_t* p = sym.data();
    int32_t left = static_cast<int32_t>(sym.size());
    n = 37;
    ASSERT_EQ(veksEncodeHuff_BZ2_16u8u(&code, &bits, &p, &left, out.data() + used, &n, e.st()),
              vekStatusDstTooSmall);
    EXPECT_EQ(n, 37);
    EXPECT_GT(left, 0);
    EXPECT_EQ(p, sym.data() + (static_cast<int32_t>(sym.size()) - left));
    EXPECT_LE(bits, 32);
    used += 37;
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + static_cast<long>(used)),
              std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(used)));
}

// ---- decoder ----

struct Decoded {
    vekStatus status;
    std::vector<uint16_t> sym;
};

// Unpacks and decodes one block, feeding the source in random pieces of 1..maxPiece bytes.
Decoded decode(const std::vector<uint8_t>& bytes, int alphaSize, uint32_t seed, int maxPiece,
               int dstPiece) {
    DecState d;
    EXPECT_EQ(veksDecodeHuffInit_BZ2_8u16u(alphaSize, d.st()), vekStatusOk);
    std::mt19937 rng(seed);
    std::vector<uint8_t> src = bytes;
    src.insert(src.end(), 4, 0);  // the bits after a block
    size_t pos = 0;
    uint32_t code = 0;
    int32_t bits = 0;
    vekStatus st = vekStatusSrcTooSmall;
    const uint8_t* p;
    int32_t len, before;
    auto piece = [&]() {
        p = src.data() + pos;
        len = before = static_cast<int32_t>(
            std::min<size_t>(src.size() - pos, 1 + rng() % static_cast<uint32_t>(maxPiece)));
    };
    while (st == vekStatusSrcTooSmall && pos < src.size()) {
        piece();
        st = veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, d.st());
        pos += static_cast<size_t>(before - len);
    }
    Decoded out{st, {}};
    if (st != vekStatusOk) return out;
    std::vector<uint16_t> buf(static_cast<size_t>(dstPiece) + 1);
    for (;;) {
        piece();
        int32_t n = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(dstPiece));
        st = veksDecodeHuff_BZ2_8u16u(&code, &bits, &p, &len, buf.data(), &n, d.st());
        pos += static_cast<size_t>(before - len);
        out.sym.insert(out.sym.end(), buf.begin(), buf.begin() + n);
        if (st == vekStatusOk) {
            out.sym.push_back(buf[static_cast<size_t>(n)]);
            break;
        }
        if (st != vekStatusSrcTooSmall && st != vekStatusDstTooSmall) break;
        if (st == vekStatusSrcTooSmall && pos == src.size()) break;
    }
    out.status = st;
    return out;
}

TEST(Bz2HuffDecode, RoundTripsWithRandomPieces) {
    struct Case {
        std::vector<uint16_t> sym;
        int alpha;
    };
    std::vector<Case> cases;
    for (const auto& data :
         {vek::testdata::text_bytes(40000 / kScale, 31),
          vek::testdata::random_bytes(20000 / kScale, 32),
          vek::testdata::runs_bytes(20000 / kScale, 33), std::vector<uint8_t>(7, 0)}) {
        std::vector<uint16_t> s;
        const int a = block_symbols(data, &s);
        cases.push_back({s, a});
    }
    cases.push_back({random_symbols(3000, 258, 34, 0.01), 258});
    cases.push_back({random_symbols(0, 3, 35, 0.5), 3});
    cases.push_back({{0}, 1});
    std::vector<uint16_t> fib;  // counts that force 17-bit codes
    for (uint32_t v = 0, x = 1, y = 1; v < 26; ++v, y += x, x = y - x)
        fib.insert(fib.end(), x, static_cast<uint16_t>(25 - v));
    std::shuffle(fib.begin(), fib.end(), std::mt19937(36));
    fib.push_back(26);
    cases.push_back({fib, 27});
    uint32_t seed = 1;
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = encode(c.sym, c.alpha);
        for (int maxPiece : {1, 3, 64, 1 << 20}) {
            const Decoded d = decode(bytes, c.alpha, seed++, maxPiece, maxPiece == 1 ? 7 : 4096);
            ASSERT_EQ(d.status, vekStatusOk) << c.sym.size() << " piece " << maxPiece;
            ASSERT_EQ(d.sym, c.sym);
        }
    }
}

// Hand-built contexts: 2 tables, alphabet 3 unless a case says otherwise.
std::vector<uint8_t> context(const Bits& b) {
    Bits padded = b;
    padded.insert(padded.end(), 40, 0);
    return model::bits_to_bytes(padded);
}

vekStatus unpack(const Bits& b, int alpha, DecState& d) {
    EXPECT_EQ(veksDecodeHuffInit_BZ2_8u16u(alpha, d.st()), vekStatusOk);
    const std::vector<uint8_t> bytes = context(b);
    uint32_t code = 0;
    int32_t bits = 0, len = static_cast<int32_t>(bytes.size());
    const uint8_t* p = bytes.data();
    return veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, d.st());
}

Bits table_bits(const std::vector<int>& lengths) {
    Bits b;
    int c = lengths[0];
    model::put_bits(b, static_cast<uint32_t>(c), 5);
    for (int l : lengths) {
        while (c < l) model::put_bits(b, 2, 2), ++c;
        while (c > l) model::put_bits(b, 3, 2), --c;
        b.push_back(0);
    }
    return b;
}

TEST(Bz2HuffDecode, MalformedContextsAreRefused) {
    auto bits_of = [](std::initializer_list<std::pair<uint32_t, int>> fields) {
        Bits b;
        for (const auto& f : fields) model::put_bits(b, f.first, f.second);
        return b;
    };
    auto cat = [](Bits b, const Bits& more) {
        b.insert(b.end(), more.begin(), more.end());
        return b;
    };
    auto head = [&](uint32_t groups, uint32_t sels) { return bits_of({{groups, 3}, {sels, 15}}); };
    const Bits t3 = table_bits({1, 2, 2}), t33 = cat(t3, t3);
    const Bits good = cat(cat(head(2, 1), {0}), t33);
    const Bits one = cat(head(2, 1), {0});  // two tables, one selector: table bits follow
    const struct {
        const char* what;
        Bits bits;
        vekStatus want;
    } cases[] = {
        {"good", good, vekStatusOk},
        {"one table", cat(cat(head(1, 1), {0}), t33), vekStatusSrcDataErr},
        {"seven tables", cat(cat(head(7, 1), {0}), cat(cat(t33, t33), cat(t33, t3))),
         vekStatusSrcDataErr},  // all seven tables well formed
        {"no selectors", cat(head(2, 0), t33), vekStatusSrcDataErr},
        {"too many selectors", cat(head(2, vek::bwt::kBz2SelectorCapacity + 1), {0}),
         vekStatusSrcDataErr},
        {"rank 2 of 2 tables", cat(cat(head(2, 1), {1, 1, 0}), t33), vekStatusSrcDataErr},
        {"six one-bits, 6 tables", cat(head(6, 1), {1, 1, 1, 1, 1, 1, 0}), vekStatusSrcDataErr},
        {"start length 0", cat(one, bits_of({{0, 5}})), vekStatusSrcDataErr},
        {"start length 21", cat(one, bits_of({{21, 5}})), vekStatusSrcDataErr},
        {"20 -> 21", cat(one, bits_of({{20, 5}, {0, 1}, {2, 2}})), vekStatusSrcDataErr},
        {"1 -> 0", cat(one, bits_of({{1, 5}, {0, 1}, {3, 2}})), vekStatusSrcDataErr},
        {"up then down in one symbol", cat(one, bits_of({{4, 5}, {0, 1}, {2, 2}, {3, 2}})),
         vekStatusSrcDataErr},
    };
    DecState d;
    for (const auto& c : cases) EXPECT_EQ(unpack(c.bits, 3, d), c.want) << c.what;

    // A phase word outside 0..2 is refused before anything is read.
    ASSERT_EQ(veksDecodeHuffInit_BZ2_8u16u(3, d.st()), vekStatusOk);
    d.st()->unpackPhase = 3;
    const std::vector<uint8_t> bytes = context(good);
    uint32_t code = 0;
    int32_t bits = 0, len = static_cast<int32_t>(bytes.size());
    const uint8_t* p = bytes.data();
    EXPECT_EQ(veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, d.st()), vekStatusBadDataErr);
    EXPECT_EQ(p, bytes.data());
}

// States the caller damaged between calls, in the fields a resumed call
// relies on: the lengths of a half-read table (which index the builder's
// arrays), their counts, the fast tables' lengths and the encoder's lengths.
// Each is refused or repaired; none leads outside the state or the buffers.
TEST(Bz2HuffDecode, DamagedStatesBetweenCalls) {
    const std::vector<uint16_t> sym = random_symbols(3000, 258, 41, 0.02);
    const std::vector<uint8_t> bytes = encode(sym, 258);
    const size_t kTables = offsetof(vekHuffDecState_BZ2, firstCode);

    // Unpack one byte per call until the selectors, then a table, are half
    // read; `finish` goes on from there.
    DecState half;
    ASSERT_EQ(veksDecodeHuffInit_BZ2_8u16u(258, half.st()), vekStatusOk);
    uint32_t code = 0;
    int32_t bits = 0;
    size_t pos = 0;
    auto unpack_until = [&](auto&& done) {
        while (!done()) {
            ASSERT_LT(pos, bytes.size());
            const uint8_t* p = bytes.data() + pos;
            int32_t len = 1;
            ASSERT_EQ(veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, half.st()),
                      vekStatusSrcTooSmall);
            ++pos;
        }
    };
    auto finish = [&](DecState& d) {
        uint32_t c = code;
        int32_t b = bits;
        const uint8_t* p = bytes.data() + pos;
        int32_t len = static_cast<int32_t>(bytes.size() - pos);
        return veksUnpackHuffContext_BZ2_8u16u(&c, &b, &p, &len, d.st());
    };
    unpack_until([&] { return half.st()->unpackPhase == 1 && half.st()->groupCounter >= 3; });
    for (const uint8_t bad : {6, 200}) {  // 6 tables, ranks 0..5
        DecState d = half;
        d.mem[sizeof(vekHuffDecState_BZ2) + 1] = bad;
        EXPECT_EQ(finish(d), vekStatusBadDataErr) << int(bad);
    }
    unpack_until([&] { return half.st()->unpackPhase == 2 && half.st()->symbolCounter >= 100; });
    DecState clean = half;
    ASSERT_EQ(finish(clean), vekStatusOk);

    for (const int32_t bad : {0, 21, -5, 100000}) {
        DecState d = half;
        d.st()->curLengths[37] = bad;
        EXPECT_EQ(finish(d), vekStatusBadDataErr) << bad;
    }
    // Counts follow from the lengths alone: damaged ones give the same tables.
    DecState counts = half;
    counts.st()->lengthCounts[1] = 100000;
    counts.st()->lengthCounts[20] = -7;
    ASSERT_EQ(finish(counts), vekStatusOk);
    EXPECT_EQ(std::memcmp(counts.mem.data() + kTables, clean.mem.data() + kTables,
                          sizeof(vekHuffDecState_BZ2) - kTables),
              0);

    // Fast-table lengths above 8 bits: refused, the source cursor intact.
    DecState fast = clean;
    std::memset(fast.st()->fastLength, 200, sizeof(fast.st()->fastLength));
    {
        uint32_t c = 0;
        int32_t b = 0;
        const uint8_t* p = bytes.data();
        int32_t len = static_cast<int32_t>(bytes.size());
        std::vector<uint16_t> out(4000);
        int32_t n = static_cast<int32_t>(out.size());
        EXPECT_EQ(veksDecodeHuff_BZ2_8u16u(&c, &b, &p, &len, out.data(), &n, fast.st()),
                  vekStatusBadDataErr);
        EXPECT_GE(len, 0);
        EXPECT_EQ(p, bytes.data() + (bytes.size() - static_cast<size_t>(len)));
        EXPECT_GE(b, 0);
        EXPECT_LE(b, 32);
    }

    // Encoder lengths outside 1..17.
    for (const uint8_t bad : {0, 18, 255}) {
        EncState e(static_cast<int>(sym.size()));
        ASSERT_EQ(e.init(sym, 258), vekStatusOk);
        e.st()->lengths[1][200] = bad;
        std::vector<uint8_t> out(sym.size() * 3);
        uint32_t c = 0;
        int32_t b = 0, n = static_cast<int32_t>(out.size());
        const uint16_t* p = sym.data();
        int32_t left = static_cast<int32_t>(sym.size());
        EXPECT_EQ(veksEncodeHuff_BZ2_16u8u(&c, &b, &p, &left, out.data(), &n, e.st()),
                  vekStatusBadDataErr)
            << int(bad);
    }
}

TEST(Bz2HuffDecode, ArgumentOrder) {
    DecState d;
    EXPECT_EQ(veksDecodeHuffInit_BZ2_8u16u(3, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeHuffInit_BZ2_8u16u(0, d.st()), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeHuffInit_BZ2_8u16u(259, d.st()), vekStatusSizeErr);
    ASSERT_EQ(veksDecodeHuffInit_BZ2_8u16u(258, d.st()), vekStatusOk);
    EXPECT_EQ(d.st()->alphaSize, 258);
    EXPECT_EQ(d.st()->pSelectors, d.mem.data() + sizeof(vekHuffDecState_BZ2));
    EXPECT_EQ(d.st()->pFirstCode, &d.st()->firstCode[0][0]);
    EXPECT_EQ(d.st()->pLengthCounts, &d.st()->lengthCounts[0]);
    uint8_t src[4] = {};
    const uint8_t* p = src;
    const uint8_t* pnull = nullptr;
    uint32_t code = 0;
    int32_t bits = 0, len = 0, n = 0;
    uint16_t dst[4];
    // Null pointers come before a zero length or capacity.
    expect_each_null_refused(6, [&](NullSlot z) {
        return veksUnpackHuffContext_BZ2_8u16u(
            z(&code, 0), z(&bits, 1), z.is(5) ? &pnull : z(&p, 2), z(&len, 3), z(d.st(), 4));
    });
    EXPECT_EQ(veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, d.st()), vekStatusSizeErr);
    len = 4;
    expect_each_null_refused(8, [&](NullSlot z) {
        return veksDecodeHuff_BZ2_8u16u(z(&code, 0), z(&bits, 1), z.is(7) ? &pnull : z(&p, 2),
                                        z(&len, 3), z(dst, 4), z(&n, 5), z(d.st(), 6));
    });
    EXPECT_EQ(veksDecodeHuff_BZ2_8u16u(&code, &bits, &p, &len, dst, &n, d.st()), vekStatusSizeErr);
    // No context read yet: no group to decode.
    n = 4;
    EXPECT_EQ(veksDecodeHuff_BZ2_8u16u(&code, &bits, &p, &len, dst, &n, d.st()),
              vekStatusBadDataErr);
}

// Decodes hand-built data after a hand-built context.
vekStatus decode_bits(const Bits& ctx, const Bits& data, int alpha, std::vector<uint16_t>* out,
                      int cap = 64) {
    DecState d;
    EXPECT_EQ(unpack(ctx, alpha, d), vekStatusOk);
    Bits all = ctx;
    all.insert(all.end(), data.begin(), data.end());
    all.insert(all.end(), 32, 0);
    const std::vector<uint8_t> bytes = model::bits_to_bytes(all);
    // Re-read the context to leave the accumulator right after it.
    EXPECT_EQ(veksDecodeHuffInit_BZ2_8u16u(alpha, d.st()), vekStatusOk);
    uint32_t code = 0;
    int32_t bits = 0, len = static_cast<int32_t>(bytes.size());
    const uint8_t* p = bytes.data();
    EXPECT_EQ(veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, d.st()), vekStatusOk);
    out->assign(static_cast<size_t>(cap), 0xFFFF);
    int32_t n = cap;
    const vekStatus st = veksDecodeHuff_BZ2_8u16u(&code, &bits, &p, &len, out->data(), &n, d.st());
    out->resize(static_cast<size_t>(st == vekStatusOk ? n + 1 : n));
    return st;
}

// A two-table context: `nsel` selectors coded by the bits `sel`, then the tables.
Bits two_tables(uint32_t nsel, const Bits& sel, const std::vector<int>& l0,
                const std::vector<int>& l1) {
    Bits b;
    model::put_bits(b, 2, 3);
    model::put_bits(b, nsel, 15);
    b.insert(b.end(), sel.begin(), sel.end());
    for (const auto* l : {&l0, &l1}) {
        const Bits t = table_bits(*l);
        b.insert(b.end(), t.begin(), t.end());
    }
    return b;
}

TEST(Bz2HuffDecode, SymbolLevelCases) {
    // Table 0: lengths 1,2,2 -> codes 0, 10, 11. Table 1: lengths 2,2,1 -> 10, 11, 0.
    // Group 0 uses table 0, group 1 rank 1 (table 1).
    const Bits ctx = two_tables(2, {0, 1, 0}, {1, 2, 2}, {2, 2, 1});

    // End of block in the middle of the first group: the count excludes it.
    std::vector<uint16_t> out;
    Bits data = {0, 1, 0, 0, 1, 1};
    EXPECT_EQ(decode_bits(ctx, data, 3, &out), vekStatusOk);
    EXPECT_EQ(out, (std::vector<uint16_t>{0, 1, 0, 2}));

    // 50 symbols of table 0, then table 1 where 0 is the end symbol 2.
    data.assign(50, 0);
    data.insert(data.end(), {1, 0, 1, 1, 0});
    EXPECT_EQ(decode_bits(ctx, data, 3, &out), vekStatusOk);
    std::vector<uint16_t> want(50, 0);
    want.insert(want.end(), {0, 1, 2});
    EXPECT_EQ(out, want);

    // Symbols past the last selector without an end symbol.
    data.assign(50, 0);
    for (int k = 0; k < 50; ++k) data.insert(data.end(), {1, 0});
    EXPECT_EQ(decode_bits(ctx, data, 3, &out, 200), vekStatusBadDataErr);
    EXPECT_EQ(out.size(), 100u);

    // A full destination: the next call goes on.
    data.assign(10, 0);
    data.insert(data.end(), {1, 1});
    EXPECT_EQ(decode_bits(ctx, data, 3, &out, 4), vekStatusDstTooSmall);
    EXPECT_EQ(out, (std::vector<uint16_t>{0, 0, 0, 0}));

    // An incomplete table: lengths 2,2,3 leave codes 111 unused.
    const Bits ictx = two_tables(1, {0}, {2, 2, 3}, {2, 2, 3});
    EXPECT_EQ(decode_bits(ictx, {0, 0, 0, 1, 1, 1, 1}, 3, &out), vekStatusBadDataErr);
    EXPECT_EQ(out, (std::vector<uint16_t>{0, 1}));
    EXPECT_EQ(decode_bits(ictx, {1, 0, 0}, 3, &out), vekStatusOk);
    EXPECT_EQ(out, (std::vector<uint16_t>{2}));
}

// Long codes: lengths 20, 20, 19, ..., 1 (Kraft sum 1); symbol 20 ends the block.
// The source is read only to keep 20 bits pending: an empty source is not
// refused, codes come from the accumulator alone while 20 bits are there,
// and below 20 the call asks for more even where the next code would fit.
TEST(Bz2HuffDecode, DecodesFromTheAccumulatorAlone) {
    const Bits ctx = two_tables(2, {0, 1, 0}, {1, 2, 2}, {2, 2, 1});
    const uint8_t none[1] = {0xFF};
    uint16_t out[8];
    for (int32_t pending : {32, 19}) {
        DecState d;
        ASSERT_EQ(unpack(ctx, 3, d), vekStatusOk);
        // Table 0 codes 0, 10, 11: symbols 0, 1, 0 and the end symbol 2.
        uint32_t code = 0x4C000000u;  // 0 10 0 11, then zeros
        int32_t bits = pending, len = 0, n = 8;
        const uint8_t* p = none;
        const vekStatus st = veksDecodeHuff_BZ2_8u16u(&code, &bits, &p, &len, out, &n, d.st());
        EXPECT_EQ(p, none);
        EXPECT_EQ(len, 0);
        if (pending == 32) {
            EXPECT_EQ(st, vekStatusOk);
            EXPECT_EQ(n, 3);
            EXPECT_EQ(std::vector<uint16_t>(out, out + 4), (std::vector<uint16_t>{0, 1, 0, 2}));
            EXPECT_EQ(bits, 26);
            EXPECT_EQ(code, 0u);
        } else {
            EXPECT_EQ(st, vekStatusSrcTooSmall);
            EXPECT_EQ(n, 0);
            EXPECT_EQ(bits, 19);
            EXPECT_EQ(code, 0x4C000000u);
        }
    }
}

TEST(Bz2HuffDecode, LongCodesUpToTwentyBits) {
    std::vector<int> lengths;
    for (int l = 1; l <= 19; ++l) lengths.push_back(l);
    lengths.push_back(20);
    lengths.push_back(20);
    std::reverse(lengths.begin(), lengths.end());
    double kraft = 0;
    for (int l : lengths) kraft += std::ldexp(1.0, -l);
    ASSERT_DOUBLE_EQ(kraft, 1.0);
    const Bits ctx = two_tables(1, {0}, lengths, lengths);
    const std::vector<uint32_t> codes = model::canonical_codes(lengths);
    Bits data;
    std::vector<uint16_t> want;
    for (int s : {18, 0, 17, 9, 8, 3, 16, 15, 1, 10, 11, 12, 13, 14, 7, 6, 5, 4, 19, 2, 20}) {
        model::put_bits(data, codes[static_cast<size_t>(s)], lengths[static_cast<size_t>(s)]);
        want.push_back(static_cast<uint16_t>(s));
    }
    std::vector<uint16_t> out;
    EXPECT_EQ(decode_bits(ctx, data, 21, &out), vekStatusOk);
    EXPECT_EQ(out, want);
}

// ---- block decoder ----

struct Block {
    std::vector<uint16_t> sym;
    uint8_t inUse[256] = {};
    int dict = 0;
    int primary = 0;
    std::vector<uint8_t> data;  // what the block decoder must return
};

Block make_block(const std::vector<uint8_t>& data) {
    Block b;
    b.data = data;
    for (uint8_t v : data) b.inUse[v] = 1;
    for (int v = 0; v < 256; ++v) b.dict += b.inUse[v];
    const std::vector<uint8_t> last = model::bwt_forward(data, &b.primary);
    b.sym = model::mtf_zero_runs(last, b.inUse);
    return b;
}

// Decodes into an exact-capacity (plus `slack`) destination between guard
// bytes, through a deliberately misaligned work buffer.
void expect_block_decodes(const Block& b, int32_t slack) {
    const size_t n = b.data.size();
    int32_t len = static_cast<int32_t>(n) + slack, size = 0;
    ASSERT_EQ(veksDecodeBlockGetSize_BZ2_8u(static_cast<uint32_t>(len), &size), vekStatusOk);
    ASSERT_EQ(size, 4 * len);
    std::vector<uint8_t> work(static_cast<size_t>(size) + 1), dst(n + 32 + slack, 0xCC);
    ASSERT_EQ(
        veksDecodeBlock_BZ2_16u8u(b.sym.data(), static_cast<int32_t>(b.sym.size()), dst.data() + 16,
                                  &len, b.primary, b.dict, b.inUse, work.data() + 1),
        vekStatusOk);
    ASSERT_EQ(len, static_cast<int32_t>(n));
    ASSERT_TRUE(std::equal(b.data.begin(), b.data.end(), dst.begin() + 16));
    for (size_t k = 0; k < 16; ++k) ASSERT_EQ(dst[k], 0xCC);
    for (size_t k = 16 + n; k < dst.size(); ++k) ASSERT_EQ(dst[k], 0xCC);
}

// Varied blocks, then blocks large enough for the many-chain walk: a text
// block, a periodic block (one successor cycle per repeat) and hostile symbol
// soups, whose links form permutations of many cycles.
TEST(Bz2BlockDecode, MatchesModelOnVariedAndLargeBlocks) {
    std::vector<uint8_t> all(256), periodic;
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7);
    for (int k = 0; k < 12000; ++k) periodic.insert(periodic.end(), {'c', 'y', 'c', 'l', 'e', 0});
    std::vector<Block> blocks;
    for (const auto& in :
         {vek::testdata::text_bytes(50000 / kScale, 51),
          vek::testdata::random_bytes(30000 / kScale, 52),
          vek::testdata::runs_bytes(60000 / kScale, 53), std::vector<uint8_t>(1, 'q'),
          std::vector<uint8_t>(5000, 'z'), std::vector<uint8_t>{'b', 'a'}, all,
          vek::testdata::text_bytes(200000 / kScale, 71), periodic}) {
        blocks.push_back(make_block(in));
        ASSERT_EQ(
            model::decode_block(blocks.back().sym, blocks.back().inUse, blocks.back().primary), in);
    }
    std::mt19937 rng(72);
    for (int k = 0; k < (kScale > 1 ? 2 : 3); ++k) {
        Block b;
        b.dict = 4 + k * 50;
        for (int v = 0; v < b.dict; ++v) b.inUse[(v * 37 + k) % 256] = 1;
        for (size_t i = 0; i < 100000; ++i)
            b.sym.push_back(
                static_cast<uint16_t>(rng() % 8 == 0 ? rng() % 2 : 2 + rng() % (b.dict - 1)));
        b.primary = static_cast<int>(rng() % 60000);
        b.data = model::decode_block(b.sym, b.inUse, b.primary);
        ASSERT_GE(b.data.size(), size_t{65536});
        blocks.push_back(b);
    }
    for (const Block& b : blocks) {
        expect_block_decodes(b, 0);
        expect_block_decodes(b, 3);
    }
}

TEST(Bz2BlockDecode, ArgumentsAndHostileBlocks) {
    int32_t size = 0;
    EXPECT_EQ(veksDecodeBlockGetSize_BZ2_8u(5, nullptr), vekStatusNullPtrErr);
    EXPECT_EQ(veksDecodeBlockGetSize_BZ2_8u(1u << 24, &size), vekStatusSizeErr);
    EXPECT_EQ(veksDecodeBlockGetSize_BZ2_8u((1u << 24) - 1, &size), vekStatusOk);

    const Block b = make_block({'h', 'e', 'l', 'l', 'o', ' ', 'h', 'e', 'l', 'l', 'o'});
    const uint16_t* sym = b.sym.data();
    const int32_t len = static_cast<int32_t>(b.sym.size());
    std::vector<uint8_t> buf(4 * 64), dst(64, 0xCC);
    int32_t n = 0;
    expect_each_null_refused(5, [&](NullSlot z) {  // all before the zero source length
        return veksDecodeBlock_BZ2_16u8u(z(sym, 0), 0, z(dst.data(), 1), z(&n, 2), 0, b.dict,
                                         z(b.inUse, 3), z(buf.data(), 4));
    });
    uint8_t high[256];  // table bytes above 127 count as not in use
    std::memcpy(high, b.inUse, 256);
    high[200] = 0x80;
    const uint16_t badRank[1] = {static_cast<uint16_t>(b.dict + 1)};
    const std::vector<uint16_t> runs(30, 1);
    // A run of 2^32 + 3: 32 digits, least significant first, that a 32-bit
    // sum would take for a run of 3.
    std::vector<uint16_t> wrap;
    for (uint64_t r = (uint64_t{1} << 32) + 3; r > 0; r = (r - 1) / 2)
        wrap.push_back(uint16_t((r - 1) & 1));
    const struct {
        const char* what;
        const uint16_t* sym;
        int32_t len, cap, idx, dict;
        const uint8_t* inUse;
        vekStatus want;
    } cases[] = {
        {"empty source", sym, 0, 11, 0, b.dict, b.inUse, vekStatusSizeErr},
        {"capacity 2^24", sym, len, 1 << 24, 0, b.dict, b.inUse, vekStatusSizeErr},
        {"index -1", sym, len, 11, -1, b.dict, b.inUse, vekStatusSizeErr},
        {"index at capacity", sym, len, 11, 11, b.dict, b.inUse, vekStatusSizeErr},
        {"dictionary 257", sym, len, 11, 0, 257, b.inUse, vekStatusSizeErr},
        {"dictionary -1", sym, len, 11, 0, -1, b.inUse, vekStatusSizeErr},
        {"dictionary not the table's", sym, len, 11, 0, b.dict + 1, b.inUse, vekStatusBadDataErr},
        {"table byte 0x80", sym, len, 11, b.primary, b.dict, high, vekStatusOk},
        {"capacity one short", sym, len, 10, 0, b.dict, b.inUse, vekStatusBadDataErr},
        {"index past the block", sym, len, 20, 11, b.dict, b.inUse, vekStatusBadDataErr},
        {"rank outside the dictionary", badRank, 1, 20, 0, b.dict, b.inUse, vekStatusBadDataErr},
        {"huge run", runs.data(), 30, 20, 0, b.dict, b.inUse, vekStatusBadDataErr},
        {"run of 2^32 + 3", wrap.data(), 32, 20, 0, b.dict, b.inUse, vekStatusBadDataErr},
    };
    for (const auto& c : cases) {
        n = c.cap;
        EXPECT_EQ(veksDecodeBlock_BZ2_16u8u(c.sym, c.len, dst.data(), &n, c.idx, c.dict, c.inUse,
                                            buf.data()),
                  c.want)
            << c.what;
        if (c.want != vekStatusOk) {
            EXPECT_EQ(n, c.cap) << c.what;
        }
    }
    // The exact capacity works: guard bytes after it stay.
    std::fill(dst.begin(), dst.end(), 0xCC);
    n = 11;
    EXPECT_EQ(
        veksDecodeBlock_BZ2_16u8u(sym, len, dst.data(), &n, b.primary, b.dict, b.inUse, buf.data()),
        vekStatusOk);
    EXPECT_EQ(std::string(dst.begin(), dst.begin() + 11), "hello hello");
    EXPECT_EQ(dst[11], 0xCC);
}

// Random symbol soup against the model: same status class and output.
TEST(Bz2BlockDecode, RandomSymbolsAgreeWithModel) {
    std::mt19937 rng(61);
    for (int iter = 0; iter < 300; ++iter) {
        uint8_t inUse[256] = {};
        const int dict = 1 + static_cast<int>(rng() % 20);
        for (int k = 0; k < dict;) {
            const uint32_t v = rng() % 256;
            if (!inUse[v]) inUse[v] = 1, ++k;
        }
        std::vector<uint16_t> sym(1 + rng() % 40);
        for (auto& s : sym)
            s = static_cast<uint16_t>(rng() % 3 == 0 ? rng() % 2 : rng() % (dict + 2));
        const int32_t cap = 1 + static_cast<int32_t>(rng() % 200);
        const int32_t idx = static_cast<int32_t>(rng() % static_cast<uint32_t>(cap));
        std::vector<uint8_t> dst(static_cast<size_t>(cap)), buf(4 * static_cast<size_t>(cap));
        int32_t n = cap;
        const vekStatus st =
            veksDecodeBlock_BZ2_16u8u(sym.data(), static_cast<int32_t>(sym.size()), dst.data(), &n,
                                      idx, dict, inUse, buf.data());
        const std::vector<uint8_t> ref = model::decode_block(sym, inUse, idx);
        if (ref.empty() || ref.size() > static_cast<size_t>(cap)) {
            EXPECT_EQ(st, vekStatusBadDataErr) << iter;
        } else {
            ASSERT_EQ(st, vekStatusOk) << iter;
            ASSERT_EQ(std::vector<uint8_t>(dst.begin(), dst.begin() + n), ref) << iter;
        }
    }
}

}  // namespace
