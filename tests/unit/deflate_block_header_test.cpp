// The dynamic block header reader that the tool and the stream-driving
// tests share: lengths decoded, and each malformed header named.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "deflate_block_header.h"
#include "deflate_test_writer.h"

namespace {

using vekdc::deflate_header::Error;
using vekdc::deflate_header::kMaxLengths;
using vekdc::deflate_header::read_dynamic_lengths;

struct Token {
    int sym;
    uint32_t extra;
};

// HLIT, HDIST, then a code-length code in which the listed symbols (of 16,
// 17, 18, 0, 8 in transmission order) have length 2, then the tokens.
std::vector<uint8_t> header(uint32_t hlit, uint32_t hdist, const std::vector<int>& twoBitSymbols,
                            const std::vector<Token>& tokens) {
    static const int kOrder[5] = {16, 17, 18, 0, 8};
    vek::testwriter::BitWriter w;
    w.put(hlit, 5);
    w.put(hdist, 5);
    w.put(1, 4);  // five code-length code lengths
    int cl[19] = {};
    for (int s : twoBitSymbols) cl[s] = 2;
    for (int s : kOrder) w.put(uint32_t(cl[s]), 3);
    // Canonical codes of length 2 in symbol order.
    int code[19] = {}, next = 0;
    for (int s = 0; s < 19; ++s)
        if (cl[s]) code[s] = next++;
    for (const Token& t : tokens) {
        w.put_code(uint32_t(code[t.sym]), 2);
        if (t.sym == 16) w.put(t.extra, 2);
        if (t.sym == 17) w.put(t.extra, 3);
        if (t.sym == 18) w.put(t.extra, 7);
    }
    return w.bytes();
}

// The first nbytes of `bytes` as a bit source; with `ahead` it can also look
// ahead, which takes the table-driven path of the reader.
class Source {
  public:
    Source(const std::vector<uint8_t>& bytes, size_t nbytes) : bytes_(bytes), n_(nbytes) {}
    bool operator()(int n, uint32_t* v) {
        if (peek(uint32_t(n), v) < uint32_t(n)) return false;
        skip(uint32_t(n));
        return true;
    }
    uint32_t peek(uint32_t n, uint32_t* v) {
        while (have_ < n && pos_ < n_) {
            acc_ |= uint64_t(bytes_[pos_++]) << have_;
            have_ += 8;
        }
        *v = uint32_t(acc_ & ((uint64_t{1} << n) - 1));
        return have_;
    }
    void skip(uint32_t n) {
        acc_ >>= n;
        have_ -= n;
    }
    uint32_t consumed_bits() const { return uint32_t(8 * pos_) - have_; }

  private:
    const std::vector<uint8_t>& bytes_;
    size_t n_, pos_ = 0;
    uint64_t acc_ = 0;
    uint32_t have_ = 0;
};

// Only the call operator: the bit-by-bit path.
struct BitsOnly {
    Source& s;
    bool operator()(int n, uint32_t* v) { return s(n, v); }
};

struct Parsed {
    Error error;
    uint32_t nlit = 0, ndist = 0, consumed = 0;
    std::vector<uint16_t> lens;
};

Parsed parse_with(const std::vector<uint8_t>& bytes, size_t nbytes, bool ahead) {
    Source src(bytes, nbytes);
    uint16_t lens[kMaxLengths];
    Parsed p;
    p.error = ahead ? read_dynamic_lengths(src, lens, &p.nlit, &p.ndist)
                    : read_dynamic_lengths(BitsOnly{src}, lens, &p.nlit, &p.ndist);
    if (p.error == Error::kNone) {
        p.lens.assign(lens, lens + kMaxLengths);
        p.consumed = src.consumed_bits();
    }
    return p;
}

// Both paths, which must agree on the outcome, the lengths and the bits
// taken.
Error parse(const std::vector<uint8_t>& bytes, size_t nbytes, uint16_t (&lens)[kMaxLengths],
            uint32_t* nlit, uint32_t* ndist) {
    const Parsed slow = parse_with(bytes, nbytes, false), fast = parse_with(bytes, nbytes, true);
    EXPECT_EQ(slow.error, fast.error);
    EXPECT_EQ(slow.lens, fast.lens);
    EXPECT_EQ(slow.consumed, fast.consumed);
    *nlit = fast.nlit;
    *ndist = fast.ndist;
    std::copy(fast.lens.begin(), fast.lens.end(), lens);
    return fast.error;
}

const std::vector<int> kCode = {0, 8, 16, 18};
// 7 eights (one and a repeat of 6), 138 + 112 zeros, one eight: 258 lengths.
const std::vector<Token> kValid = {{8, 0}, {16, 3}, {18, 127}, {18, 101}, {8, 0}};

TEST(DeflateBlockHeader, ReadsLengthsAndNamesEveryTruncation) {
    const std::vector<uint8_t> h = header(0, 0, kCode, kValid);
    uint16_t lens[kMaxLengths];
    uint32_t nlit = 0, ndist = 0;
    ASSERT_EQ(parse(h, h.size(), lens, &nlit, &ndist), Error::kNone);
    EXPECT_EQ(nlit, 257u);
    EXPECT_EQ(ndist, 1u);
    for (uint32_t i = 0; i < nlit + ndist; ++i)
        EXPECT_EQ(lens[i], (i < 7 || i == 257) ? 8 : 0) << i;
    for (size_t cut = 0; cut + 1 < h.size(); ++cut)
        EXPECT_EQ(parse(h, cut, lens, &nlit, &ndist), Error::kTruncated) << cut;
}

TEST(DeflateBlockHeader, NamesEachMalformedHeader) {
    uint16_t lens[kMaxLengths];
    uint32_t nlit, ndist;
    const auto check = [&](const std::vector<uint8_t>& h, Error want) {
        EXPECT_EQ(parse(h, h.size(), lens, &nlit, &ndist), want)
            << vekdc::deflate_header::describe(want);
    };
    check(header(30, 0, kCode, kValid), Error::kTooManyLiterals);
    check(header(0, 30, kCode, kValid), Error::kTooManyDistances);
    check(header(0, 0, {0, 8, 16, 17, 18}, kValid), Error::kOverSubscribed);
    check(header(0, 0, {0, 8, 18}, kValid), Error::kIncomplete);
    check(header(0, 0, kCode, {{16, 0}}), Error::kRepeatFirst);
    check(header(0, 0, kCode, {{18, 127}, {18, 127}}), Error::kOverrun);
    // 29 + 257 literal/length and 29 + 1 distance lengths are the most allowed.
    const std::vector<uint8_t> full =
        header(29, 29, kCode, {{18, 127}, {18, 127}, {18, 29}});  // 138+138+40
    EXPECT_EQ(parse(full, full.size(), lens, &nlit, &ndist), Error::kNone);
    EXPECT_EQ(nlit + ndist, kMaxLengths);
}

TEST(DeflateBlockHeader, StoredLengthsMustBeComplements) {
    EXPECT_TRUE(vekdc::deflate_header::stored_lengths_match(0, 0xFFFF));
    EXPECT_TRUE(vekdc::deflate_header::stored_lengths_match(0x1234, 0xEDCB));
    EXPECT_FALSE(vekdc::deflate_header::stored_lengths_match(0x1234, 0xEDCA));
}

// Complete code-length codes of every shape (lengths 1 to 7), followed by
// random bits or by tokens of that code: the lookahead path decodes,
// stops and fails exactly where the bit-by-bit one does.
TEST(DeflateBlockHeader, LookaheadAgreesWithBitByBit) {
    static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                   11, 4,  12, 3, 13, 2, 14, 1, 15};
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        // Split random leaves of a one-leaf tree until it has 2..19 leaves.
        std::vector<int> depth = {0};
        const size_t leaves = 2 + rng() % 18;
        while (depth.size() < leaves) {
            const size_t k = rng() % depth.size();
            if (depth[k] == 7) continue;
            ++depth[k];
            depth.push_back(depth[k]);
        }
        int cl[19] = {};
        std::vector<int> syms(19);
        for (int i = 0; i < 19; ++i) syms[size_t(i)] = i;
        std::shuffle(syms.begin(), syms.end(), rng);
        for (size_t i = 0; i < leaves; ++i) cl[syms[i]] = depth[i];
        int code[19] = {};
        for (int len = 1, next = 0; len <= 7; ++len, next <<= 1)
            for (int sym = 0; sym < 19; ++sym)
                if (cl[sym] == len) code[sym] = next++;

        vek::testwriter::BitWriter w;
        w.put(uint32_t(rng() % 30), 5);
        w.put(uint32_t(rng() % 30), 5);
        w.put(15, 4);
        for (int i = 0; i < 19; ++i) w.put(uint32_t(cl[kOrder[i]]), 3);
        for (int t = 0; t < 400; ++t) {
            if (round % 4 == 0) {
                w.put(uint32_t(rng() & 0xFF), 8);  // random bits
                continue;
            }
            int sym;
            do sym = int(rng() % 19);
            while (!cl[sym] || (sym >= 16 && rng() % 4));  // mostly plain lengths
            w.put_code(uint32_t(code[sym]), cl[sym]);
            if (sym == 16) w.put(uint32_t(rng() % 4), 2);
            if (sym == 17) w.put(uint32_t(rng() % 8), 3);
            if (sym == 18) w.put(uint32_t(rng() % 128), 7);
        }
        const std::vector<uint8_t> h = w.bytes();
        uint16_t lens[kMaxLengths];
        uint32_t nlit, ndist;
        for (size_t cut : {h.size(), h.size() / 2, size_t(rng() % h.size()), size_t(13)})
            parse(h, std::min(cut, h.size()), lens, &nlit, &ndist);
    }
}

}  // namespace
