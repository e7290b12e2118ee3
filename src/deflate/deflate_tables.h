// Deflate's code assignment (RFC 1951, 3.2.5), generated at compile time:
// length and distance codes with their base values and extra-bit counts, and
// the 768-byte symbol mapping the encoders count and write with.
#pragma once
#include <array>
#include <cstdint>

namespace vek::deflate {

inline constexpr int kNumLitLen = 286;  // literal/length symbols in use (0..285)
inline constexpr int kNumDist = 30;     // distance symbols in use
inline constexpr int kEndOfBlock = 256;

// Length codes 257..285 as index 0..28: base length and extra bits.
inline constexpr std::array<uint16_t, 29> kLengthBase = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr std::array<uint8_t, 29> kLengthExtra = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance codes 0..29: base distance and extra bits.
inline constexpr std::array<uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr std::array<uint8_t, 30> kDistExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                       4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                       9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Symbol mapping, 768 bytes:
//   [0, 256):   for L = length - 3, the length code minus 257;
//   [256, 512): entry 255 + d, the distance code of d = 1..256;
//   [512, 768): entry 512 + ((d - 1) >> 7), the distance code of d = 257..32768
//               (entries 512 and 513 hold 0 and are never looked up).
constexpr std::array<uint8_t, 768> make_lit_code_table() {
    std::array<uint8_t, 768> t{};
    for (int L = 0; L < 256; ++L) {
        int c = 28;
        while (kLengthBase[c] > L + 3) --c;
        t[L] = static_cast<uint8_t>(c);
    }
    for (int d = 1; d <= 256; ++d) {
        int c = 29;
        while (kDistBase[c] > d) --c;
        t[255 + d] = static_cast<uint8_t>(c);
    }
    for (int i = 2; i < 256; ++i) {
        const int d = (i << 7) + 1;  // first distance of this 128-wide bucket
        int c = 29;
        while (kDistBase[c] > d) --c;
        t[512 + i] = static_cast<uint8_t>(c);
    }
    return t;
}
inline constexpr std::array<uint8_t, 768> kLitCodeTable = make_lit_code_table();

// Distance code of d = 1..32768.
inline constexpr int dist_code(uint32_t d) {
    return d <= 256 ? kLitCodeTable[255 + d] : kLitCodeTable[512 + ((d - 1) >> 7)];
}
// Length code (0..28, add 257 for the symbol) of a length 3..258.
inline constexpr int length_code(uint32_t len) {
    return kLitCodeTable[len - 3];
}

static_assert(kLitCodeTable[0] == 0 && kLitCodeTable[7] == 7 && kLitCodeTable[8] == 8 &&
              kLitCodeTable[254] == 27 && kLitCodeTable[255] == 28);
static_assert(dist_code(1) == 0 && dist_code(4) == 3 && dist_code(5) == 4 && dist_code(256) == 15 &&
              dist_code(257) == 16 && dist_code(384) == 16 && dist_code(385) == 17 &&
              dist_code(32768) == 29 && dist_code(24577) == 29 && dist_code(24576) == 28);

}  // namespace vek::deflate
