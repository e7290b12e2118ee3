// The dynamic block header reader that the tool and the stream-driving
// tests share: lengths decoded, and each malformed header named.
#include <gtest/gtest.h>

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

Error parse(const std::vector<uint8_t>& bytes, size_t nbytes, uint16_t (&lens)[kMaxLengths],
            uint32_t* nlit, uint32_t* ndist) {
    size_t pos = 0;
    uint64_t acc = 0;
    int have = 0;
    auto bits = [&](int n, uint32_t* v) {
        while (have < n) {
            if (pos == nbytes) return false;
            acc |= uint64_t(bytes[pos++]) << have;
            have += 8;
        }
        *v = uint32_t(acc & ((1u << n) - 1));
        acc >>= n;
        have -= n;
        return true;
    };
    return read_dynamic_lengths(bits, lens, nlit, ndist);
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

}  // namespace
