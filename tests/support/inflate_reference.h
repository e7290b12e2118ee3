// A plain raw-Deflate decoder written from RFC 1951 for the tests: one bit
// at a time, codes decoded by walking the canonical code length by length,
// no lookup tables, matches copied byte by byte. The inflater's tests and
// fuzzer compare the library (driven by deflate_stream_parser.h) with it.
//
// Rules beyond the RFC, the same ones the library and the stream parser
// apply: at most 286 literal/length and 30 distance code lengths in a
// dynamic header; the code-length code must be complete; the literal/length
// code must be complete or a single code of length 1; the distance code
// complete, empty, or a single code of length 1. A code is invalid as soon
// as the bits read cannot begin any code of the set.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "deflate_stream_parser.h"

namespace vek::testref {

enum class InflateOutcome { kOk, kTruncated, kDataError, kOutputLimit };

struct BlockEnd {
    uint64_t bit;  // stream bit position just after the block
    uint64_t out;  // output bytes at that point
    bool operator==(const BlockEnd& o) const { return bit == o.bit && out == o.out; }
};

struct ReferenceInflate {
    InflateOutcome outcome = InflateOutcome::kOk;
    std::vector<uint8_t> out;
    uint64_t endBit = 0;  // bits consumed (kOk: after the final block)
    std::vector<BlockEnd> blocks;
};

namespace inflate_detail {

struct RefStop {
    InflateOutcome outcome;
};

class RefBits {
  public:
    RefBits(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    uint32_t bit() {
        if (pos_ >= uint64_t(n_) * 8) throw RefStop{InflateOutcome::kTruncated};
        const uint32_t b = (p_[pos_ >> 3] >> (pos_ & 7)) & 1;
        ++pos_;
        return b;
    }
    // n bits, first bit least significant (header fields and extra bits).
    uint32_t bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= bit() << i;
        return v;
    }
    void align() { pos_ = (pos_ + 7) & ~uint64_t{7}; }
    uint64_t pos() const { return pos_; }

  private:
    const uint8_t* p_;
    size_t n_;
    uint64_t pos_ = 0;
};

// A canonical code given by its lengths.
class RefCode {
  public:
    RefCode(const uint8_t* lens, int n) {
        for (int i = 0; i < n; ++i) ++count_[lens[i]];
        count_[0] = 0;
        for (int len = 1; len <= 15; ++len)
            for (int s = 0; s < n; ++s)
                if (lens[s] == len) symbols_.push_back(s);
    }
    // 0 complete, 1 incomplete, -1 over-subscribed; *used = codes in the set.
    int kraft(int* used, int* maxLen) const {
        int64_t left = 1;
        *used = 0;
        *maxLen = 0;
        for (int len = 1; len <= 15; ++len) {
            left = 2 * left - count_[len];
            if (left < 0) return -1;
            *used += count_[len];
            if (count_[len]) *maxLen = len;
        }
        return left == 0 ? 0 : 1;
    }
    // Returns the symbol, or -1 as soon as the bits read start no code.
    int decode(RefBits& in) const {
        if (!prefix_possible(0, 0)) return -1;
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= 15; ++len) {
            code |= int(in.bit());
            const int c = count_[len];
            if (code - first < c) return symbols_[index + code - first];
            if (!prefix_possible(len, code)) return -1;
            index += c;
            first = (first + c) << 1;
            code <<= 1;
        }
        return -1;
    }

  private:
    // Whether `code` (len bits, first bit most significant) begins a code of
    // length len or more: canonical codes of each length follow those of the
    // previous length, so the prefixes in use form one range from 0.
    bool prefix_possible(int len, int code) const {
        uint64_t space = 0;  // prefixes of `len` bits in use, scaled by 2^15
        for (int l = len + 1; l <= 15; ++l) space += uint64_t(count_[l]) << (15 - l);
        uint64_t below = 0;  // prefixes used by codes of length <= len
        for (int l = 1; l <= len; ++l) below += uint64_t(count_[l]) << (15 - l);
        return (uint64_t(code) << (15 - len)) < below + space;
    }
    int count_[16] = {};
    std::vector<int> symbols_;
};

inline const uint16_t kRefLenBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                         15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                         67, 83, 99, 115, 131, 163, 195, 227, 258};
inline const uint8_t kRefLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline const uint16_t kRefDistBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline const uint8_t kRefDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

inline bool ref_set_ok(const RefCode& c, bool distance) {
    int used, maxLen;
    const int k = c.kraft(&used, &maxLen);
    if (k < 0) return false;
    if (!distance && used == 0) return false;
    if (k == 0) return true;
    return (distance && used == 0) || (used == 1 && maxLen == 1);
}

}  // namespace inflate_detail

// Decodes the raw stream src[0..n) into at most outLimit bytes. dict (the
// history before the output, oldest byte first) may be null.
inline ReferenceInflate reference_inflate(const uint8_t* src, size_t n, size_t outLimit,
                                          const uint8_t* dict = nullptr, size_t dictLen = 0) {
    using namespace inflate_detail;
    ReferenceInflate r;
    RefBits in(src, n);
    auto put = [&](uint8_t b) {
        if (r.out.size() >= outLimit) throw RefStop{InflateOutcome::kOutputLimit};
        r.out.push_back(b);
    };
    auto body = [&](const RefCode& lit, const RefCode& dist) {
        for (;;) {
            const int sym = lit.decode(in);
            if (sym < 0 || sym > 285) throw RefStop{InflateOutcome::kDataError};
            if (sym < 256) {
                put(uint8_t(sym));
                continue;
            }
            if (sym == 256) return;
            const int len = kRefLenBase[sym - 257] + int(in.bits(kRefLenExtra[sym - 257]));
            const int dsym = dist.decode(in);
            if (dsym < 0 || dsym > 29) throw RefStop{InflateOutcome::kDataError};
            const uint64_t d = kRefDistBase[dsym] + in.bits(kRefDistExtra[dsym]);
            if (d > r.out.size() + dictLen) throw RefStop{InflateOutcome::kDataError};
            for (int i = 0; i < len; ++i) {
                const uint64_t at = r.out.size() + dictLen - d;  // index into dict ++ out
                put(at < dictLen ? dict[at] : r.out[at - dictLen]);
            }
        }
    };
    try {
        for (;;) {
            const uint32_t final = in.bit();
            const uint32_t type = in.bits(2);
            if (type == 0) {
                in.align();
                const uint32_t len = in.bits(16), nlen = in.bits(16);
                if ((len ^ 0xFFFF) != nlen) throw RefStop{InflateOutcome::kDataError};
                for (uint32_t i = 0; i < len; ++i) put(uint8_t(in.bits(8)));
            } else if (type == 1) {
                uint8_t l[288], d[32];
                for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                for (int i = 0; i < 32; ++i) d[i] = 5;
                body(RefCode(l, 288), RefCode(d, 32));
            } else if (type == 2) {
                const int nlit = int(in.bits(5)) + 257, ndist = int(in.bits(5)) + 1,
                          ncl = int(in.bits(4)) + 4;
                if (nlit > 286 || ndist > 30) throw RefStop{InflateOutcome::kDataError};
                static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
                uint8_t cl[19] = {};
                for (int i = 0; i < ncl; ++i) cl[kOrder[i]] = uint8_t(in.bits(3));
                const RefCode clc(cl, 19);
                int used, maxLen;
                if (clc.kraft(&used, &maxLen) != 0) throw RefStop{InflateOutcome::kDataError};
                uint8_t lens[316] = {};
                for (int i = 0; i < nlit + ndist;) {
                    const int s = clc.decode(in);
                    if (s < 0) throw RefStop{InflateOutcome::kDataError};
                    if (s < 16) {
                        lens[i++] = uint8_t(s);
                        continue;
                    }
                    int rep;
                    uint8_t v = 0;
                    if (s == 16) {
                        if (i == 0) throw RefStop{InflateOutcome::kDataError};
                        v = lens[i - 1];
                        rep = 3 + int(in.bits(2));
                    } else if (s == 17) {
                        rep = 3 + int(in.bits(3));
                    } else {
                        rep = 11 + int(in.bits(7));
                    }
                    if (i + rep > nlit + ndist) throw RefStop{InflateOutcome::kDataError};
                    while (rep--) lens[i++] = v;
                }
                const RefCode lit(lens, nlit), dist(lens + nlit, ndist);
                if (!ref_set_ok(lit, false) || !ref_set_ok(dist, true))
                    throw RefStop{InflateOutcome::kDataError};
                body(lit, dist);
            } else {
                throw RefStop{InflateOutcome::kDataError};
            }
            r.blocks.push_back({in.pos(), r.out.size()});
            if (final) break;
        }
        r.outcome = InflateOutcome::kOk;
    } catch (const RefStop& s) {
        r.outcome = s.outcome;
    }
    r.endBit = in.pos();
    return r;
}

// Whether a run of the library through the stream parser agrees with the
// reference on the same stream, output limit and history; empty if so.
// Both must stop at the same symbol with the same bytes and block ends. The
// library may find an invalid code later than the reference (an unassigned
// distance code needs 10 bits before it is rejected), so where the reference
// saw invalid data the library may instead still be waiting for input.
inline std::string check_against_reference(const testinflate::DriveResult& d,
                                           const ReferenceInflate& r) {
    using testinflate::Outcome;
    if (d.outcome == Outcome::kBroken) return "contract broken: " + d.broken;
    const char* names[] = {"ok", "truncated", "data error", "output limit", "broken"};
    const std::string both = std::string(" (library: ") + names[int(d.outcome)] +
                             ", reference: " + names[int(r.outcome)] + ")";
    bool outcomeOk = false;
    switch (r.outcome) {
        case InflateOutcome::kOk:
            outcomeOk = d.outcome == Outcome::kOk;
            break;
        case InflateOutcome::kTruncated:
            outcomeOk = d.outcome == Outcome::kTruncated;
            break;
        case InflateOutcome::kDataError:
            outcomeOk = d.outcome == Outcome::kDataError || d.outcome == Outcome::kTruncated;
            break;
        case InflateOutcome::kOutputLimit:
            outcomeOk = d.outcome == Outcome::kOutputLimit;
            break;
    }
    if (!outcomeOk) return "outcomes differ" + both;
    if (d.out.size() != r.out.size()) {
        return "output lengths differ: " + std::to_string(d.out.size()) + " vs " +
               std::to_string(r.out.size()) + both;
    }
    for (size_t i = 0; i < d.out.size(); ++i)
        if (d.out[i] != r.out[i]) return "output differs at byte " + std::to_string(i) + both;
    if (d.blocks.size() != r.blocks.size()) return "block counts differ" + both;
    for (size_t i = 0; i < d.blocks.size(); ++i)
        if (d.blocks[i].bit != r.blocks[i].bit || d.blocks[i].out != r.blocks[i].out)
            return "block " + std::to_string(i) + " ends elsewhere" + both;
    if (r.outcome == InflateOutcome::kOk && d.endBit != r.endBit)
        return "streams end at different bits";
    return {};
}

}  // namespace vek::testref
