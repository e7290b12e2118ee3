// Single-pass Deflate encoder with fixed or precomputed dynamic codes, its
// statistics pass, code-table generator and dynamic header writer.
// The exported functions check their arguments and call these.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::deflate {

// The caller's stream: input, position, history window and head table.
struct FastestStream {
    const uint8_t** ppSrc;
    uint32_t* pSrcLen;
    uint32_t* pSrcIdx;
    const uint8_t* pWindow;  // just past the history bytes
    uint32_t winSize;        // 256..32768
    int32_t* pHashHead;      // hashSize positions
    uint32_t hashSize;       // 256..65536
};

// The caller's destination and pending bits.
struct FastestDest {
    uint16_t* pCode;
    uint32_t* pCodeLenBits;
    uint8_t* pDst;      // where this call's output begins
    uint32_t dstLen;    // size of the whole destination
    uint32_t* pDstIdx;  // bytes of the whole destination used so far
};

// A dynamic code set and the header announcing it (pHeader may be null once
// the stream has started).
struct FastestDynamic {
    const vekDeflateHuffCode* litCodes;   // 286
    const vekDeflateHuffCode* distCodes;  // 30
    const uint8_t* pHeader;
    int32_t headerLenBits;
};

// Every flush value from this one on ends the stream's input.
inline constexpr uint32_t kFlushFinal = 2;

void fastest_get_stat(const FastestStream& s, uint32_t* litStat, uint32_t* distStat,
                      uint32_t flush);

vekStatus fastest_gen_huff_table(const uint32_t* litStat, const uint32_t* distStat,
                                 vekDeflateHuffCode* litCodes, vekDeflateHuffCode* distCodes);

void ownsDeflateLZ77FastestGenHeader_8u(const vekDeflateHuffCode* litCodes,
                                        const vekDeflateHuffCode* distCodes, uint8_t* pHeader,
                                        uint32_t* pHeaderLen, uint32_t* pHeaderLenBits);

// Bytes the header placement touches at the start of pDst:
// (pending bits + header bits - 3) / 8 + 1.
int64_t fastest_header_room(uint32_t codeLenBits, int32_t headerLenBits);

// Encoders; arguments checked by the caller (the dynamic one's header-room
// check included). The dynamic encoder can still fail the room check of a
// short first block (vekStatusSizeErr).
vekStatus ownsDeflateLZ77FastestFixHuffman_8u(const FastestStream& s, const FastestDest& d,
                                              uint32_t flush);
vekStatus fastest_encode_dynamic(const FastestStream& s, const FastestDest& d,
                                 const FastestDynamic& codes, uint32_t flush);

}  // namespace vek::deflate
