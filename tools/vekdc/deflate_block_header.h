// The part of a raw Deflate stream (RFC 1951) that the library's inflater
// leaves to its caller: the code-length section of a dynamic block header,
// whose literal/length and distance code lengths then go to
// veksInflateBuildHuffTable. Header-only and free of the tool's I/O, so that
// the tool's streaming decoder and the tests' stream drivers parse headers
// with the same code.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace vekdc::deflate_header {

enum class Error {
    kNone,
    kTruncated,         // the bit source ran out
    kTooManyLiterals,   // HLIT above 29
    kTooManyDistances,  // HDIST above 29
    kOverSubscribed,    // code-length code
    kIncomplete,        // code-length code
    kRepeatFirst,       // symbol 16 with no length before it
    kOverrun,           // a repeat runs past HLIT + HDIST lengths
};

inline const char* describe(Error e) {
    switch (e) {
        case Error::kNone:
            return "no error";
        case Error::kTruncated:
            return "input ends inside a dynamic block header";
        case Error::kTooManyLiterals:
            return "too many literal/length codes";
        case Error::kTooManyDistances:
            return "too many distance codes";
        case Error::kOverSubscribed:
            return "over-subscribed code-length code";
        case Error::kIncomplete:
            return "incomplete code-length code";
        case Error::kRepeatFirst:
            return "repeat of a code length with none before it";
        case Error::kOverrun:
            return "code lengths run past their count";
    }
    return "unknown error";
}

constexpr uint32_t kMaxLengths = 286 + 30;

// Stored block header: LEN followed by its ones' complement.
inline bool stored_lengths_match(uint32_t len, uint32_t nlen) {
    return (len ^ 0xFFFF) == nlen;
}

// A bit source that can also look ahead: `peek(n, &v)` sets v to the next n
// (at most 32) bits, zeros past the input's end, and returns how many of
// them the input holds (at least n when it holds that many); `skip(n)` then
// drops n of them. Such a source has its code-length symbols decoded by one
// table lookup each instead of bit by bit.
template <class S, class = void>
struct CanPeek : std::false_type {};
template <class S>
struct CanPeek<S, std::void_t<decltype(std::declval<S&>().peek(1, static_cast<uint32_t*>(nullptr))),
                              decltype(std::declval<S&>().skip(1))>> : std::true_type {};

// Reads HLIT, HDIST, HCLEN, the code-length code and the run-length coded
// lengths, right after the three block-header bits. `bits(n, &v)` takes the
// next n stream bits (first bit least significant) and returns false when
// the input has ended. On success lens[0..nlit) are the literal/length code
// lengths and lens[nlit..nlit+ndist) the distance ones; whether the set makes
// valid codes is for veksInflateBuildHuffTable to say.
template <class BitSource>
Error read_dynamic_lengths(BitSource&& bits, uint16_t (&lens)[kMaxLengths], uint32_t* nlit,
                           uint32_t* ndist) {
    static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
    uint32_t hlit, hdist, hclen;
    if (!bits(5, &hlit) || !bits(5, &hdist) || !bits(4, &hclen)) return Error::kTruncated;
    *nlit = hlit + 257;
    *ndist = hdist + 1;
    if (*nlit > 286) return Error::kTooManyLiterals;
    if (*ndist > 30) return Error::kTooManyDistances;
    uint8_t cl[19] = {};
    for (uint32_t i = 0; i < hclen + 4; ++i) {
        uint32_t v;
        if (!bits(3, &v)) return Error::kTruncated;
        cl[kOrder[i]] = static_cast<uint8_t>(v);
    }

    // The code-length code is canonical and must be complete; decoded bit by
    // bit (headers are a tiny part of a stream).
    int count[8] = {}, symbols[19], nsym = 0;
    for (int s = 0; s < 19; ++s) ++count[cl[s]];
    count[0] = 0;
    int left = 1;
    for (int len = 1; len < 8; ++len) {
        left = 2 * left - count[len];
        if (left < 0) return Error::kOverSubscribed;
    }
    if (left != 0) return Error::kIncomplete;
    for (int len = 1; len < 8; ++len)
        for (int s = 0; s < 19; ++s)
            if (cl[s] == len) symbols[nsym++] = s;

    // With a source that looks ahead, every 7-bit lookahead names its
    // symbol (the code is complete) and the symbol's length.
    using Source = std::remove_reference_t<BitSource>;
    [[maybe_unused]] uint8_t table[128];
    if constexpr (CanPeek<Source>::value) {
        for (int len = 1, code = 0, k = 0; len < 8; ++len, code <<= 1) {
            for (int j = 0; j < count[len]; ++j, ++code, ++k) {
                int rev = 0;
                for (int b = 0; b < len; ++b) rev |= ((code >> b) & 1) << (len - 1 - b);
                for (int i = rev; i < 128; i += 1 << len)
                    table[i] = static_cast<uint8_t>(symbols[k] << 3 | len);
            }
        }
    }

    const uint32_t total = *nlit + *ndist;
    for (uint32_t i = 0; i < kMaxLengths; ++i) lens[i] = 0;
    for (uint32_t i = 0; i < total;) {
        int sym = -1;
        if constexpr (CanPeek<Source>::value) {
            uint32_t ahead;
            const uint32_t have = bits.peek(7, &ahead);
            const uint32_t e = table[ahead & 127];
            if ((e & 7) > have) return Error::kTruncated;
            bits.skip(e & 7);
            sym = int(e >> 3);
        } else {
            int code = 0, first = 0, index = 0;
            for (int len = 1; len < 8 && sym < 0; ++len) {
                uint32_t b;
                if (!bits(1, &b)) return Error::kTruncated;
                code |= int(b);
                if (code - first < count[len]) sym = symbols[index + code - first];
                index += count[len];
                first = (first + count[len]) << 1;
                code <<= 1;
            }
        }
        if (sym < 16) {
            lens[i++] = static_cast<uint16_t>(sym);
            continue;
        }
        uint32_t rep, extra;
        uint16_t v = 0;
        if (sym == 16) {
            if (i == 0) return Error::kRepeatFirst;
            if (!bits(2, &extra)) return Error::kTruncated;
            v = lens[i - 1];
            rep = 3 + extra;
        } else if (sym == 17) {
            if (!bits(3, &extra)) return Error::kTruncated;
            rep = 3 + extra;
        } else {
            if (!bits(7, &extra)) return Error::kTruncated;
            rep = 11 + extra;
        }
        if (i + rep > total) return Error::kOverrun;
        while (rep--) lens[i++] = v;
    }
    return Error::kNone;
}

}  // namespace vekdc::deflate_header
