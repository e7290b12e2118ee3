// Inflate: decoding of Deflate block bodies (RFC 1951, 3.2.5) with tables
// built from the code lengths of a block header.
//
// General table form (tableType 1, and the built-in fixed-code table), 6912
// bytes. Lookups take the next 10 input bits, the first input bit in bit 0.
//   literal/length flag byte: low 4 bits 1..10 = bits consumed; 11..15 = the
//     code is longer than 10 bits: the value byte * 2 starts its block in the
//     second level and the low 4 bits are the longest length L under this
//     prefix. Bit 7 = length symbol (value byte = length - 3, or base length
//     - 3 when bits 4..6 give extra bits still to read); bits 4..7 zero =
//     literal; 0x60 = end of block; any other value of bits 4..6 = invalid.
//   distance flag byte: low 4 bits as above, high 4 bits = extra bits still
//     to read; the 16-bit value is the distance (or its base, or the second
//     level block start). An all-zero entry is an unassigned code.
//   second level: index = block start + the next L - 10 bits after the first
//     10, first bit most significant; its flag gives the whole code length.
// Extra bits are merged into an entry whenever code length + extra bits <= 10.
//
// Short table form (tableType 2): one single-level table per alphabet of
// 2^maxLitLen (<= 2048) and 2^maxDistLen (<= 1024) 16-bit entries:
//   literal/length entry = value byte << 8 | flag byte as in the general form
//     (extra bits never merged; unassigned codes are invalid 1-bit symbols);
//   distance entry = code << 4 | code length, 0 for an unassigned code.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "vekdc.h"

namespace vek::deflate {

inline constexpr int kInflateTableBytes = VEKDC_INFLATE_TABLE_BYTES;

// General form layout.
inline constexpr int kLitValue = 0;
inline constexpr int kLitValue2 = 1024;
inline constexpr int kLitFlag = 1536;
inline constexpr int kLitFlag2 = 2560;
inline constexpr int kDistValue = 3072;
inline constexpr int kDistValue2 = 5120;
inline constexpr int kDistFlag = 5632;
inline constexpr int kDistFlag2 = 6656;
inline constexpr int kLitSecondLevel = 512;   // entries
inline constexpr int kDistSecondLevel = 256;  // entries

// Short form layout.
inline constexpr int kShortLit = 0;
inline constexpr int kShortDist = 4096;
inline constexpr uint32_t kShortMaxLitLen = 11;
inline constexpr uint32_t kShortMaxDistLen = 10;

// Literal/length flag values.
inline constexpr uint32_t kFlagLength = 0x80;
inline constexpr uint32_t kFlagEndOfBlock = 0x60;
inline constexpr uint32_t kFlagInvalid = 0x70;

// The fixed codes of RFC 1951 (3.2.6) in the general form; symbols 286 and
// 287 are invalid symbols, distance codes 30 and 31 all-zero entries.
extern const std::array<uint8_t, kInflateTableBytes> kFixedHuffTable;

// Table builder behind veksInflateBuildHuffTable, after its pointer and size
// checks: validates the lengths, then builds the short or the general form.
vekStatus build_huff_table(const uint16_t* lens, uint32_t nLit, uint32_t nDist,
                           vekInflateState* st);

// The two forms on their own, for lengths already validated (each at most
// 15, complete or allowed incomplete sets). nDist may be up to 32; distance
// symbols 30 and 31 are left unassigned. Return false only when a table
// would not fit its layout (which valid complete code sets never do).
bool build_general_table(const uint8_t* litLens, uint32_t nLit, const uint8_t* distLens,
                         uint32_t nDist, uint8_t* tables);
bool build_short_table(const uint8_t* litLens, uint32_t nLit, const uint8_t* distLens,
                       uint32_t nDist, uint32_t maxLitLen, uint32_t maxDistLen, uint8_t* tables);

// Everything one decoding call works on.
struct InflateIo {
    const uint8_t* in;
    const uint8_t* inEnd;
    uint64_t bits;   // unused input bits, oldest in bit 0; nothing above nbits
    uint32_t nbits;  // 0..32 between steps
    uint8_t* out;
    uint8_t* outEnd;
    uint8_t* out0;       // where this call's output started
    uint32_t dstIdx;     // bytes of history before out0 in the same buffer
    const uint8_t* win;  // circular window or null
    uint32_t winSize;
    uint32_t winIdx;  // index just past the newest window byte, <= winSize
};

// The decoders behind veksInflate_8u, after its argument checks. Both return
// vekStatusOk with *mode set, or vekStatusSrcDataErr with *mode untouched;
// io always describes where decoding stopped.
vekStatus inflate_general(InflateIo& io, const uint8_t* tables, vekInflateState* st,
                          vekInflateMode* mode);
vekStatus inflate_short(InflateIo& io, vekInflateState* st, vekInflateMode* mode);

}  // namespace vek::deflate
