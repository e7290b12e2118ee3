// Deflate Huffman stage: the code-length builder, canonical code assignment
// and the pair writer (pairs of the LZ77 stage into LSB-first Deflate bits).
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::deflate {

// Largest alphabet the length builder takes (its work arrays live on the
// stack): the 286 literal/length symbols with room to spare.
inline constexpr int32_t kMaxHuffSymbols = 288;

// Code lengths for n symbols (1..kMaxHuffSymbols) no longer than maxLen.
// Every symbol is coded, frequency 0 included, and gets a length of at
// least 1. A bias added to every frequency flattens the distribution until
// the limit is met, for at most 4096 attempts (bias 0..4095).
// Returns 0 when every length is at most maxLen, 1 otherwise (the lengths of
// the last attempt are left). n below 1 writes nothing and returns 0; n
// above kMaxHuffSymbols writes nothing and returns 1.
int32_t ownGenHuff1(const uint32_t* pFreq, uint32_t* pLen, int32_t n, int32_t maxLen);

// Canonical codes (RFC 1951, 3.2.2) for the n lengths in codes[].len:
// shorter lengths first, symbols in increasing order within a length. Each
// code is stored bit-reversed over its length. Length 0 gets code 0.
// Lengths above 15 only come from a failed build; they still get a
// (meaningless) value without overflow.
void assign_canonical_codes(vekDeflateHuffCode* codes, int32_t n);

// The pair writer behind veksDeflateHuff_8u (arguments already checked).
void huff_write_pairs(const uint8_t* lit, const uint16_t* dist, uint32_t n, uint16_t* pCode,
                      uint32_t* pCodeLenBits, const vekDeflateHuffCode* litCodes,
                      const vekDeflateHuffCode* distCodes, uint8_t* dst, uint32_t* pDstIdx);

// Calls of at least this many pairs take the merged-table 64-bit path.
inline constexpr uint32_t kHuffFastPathPairs = 2048;

// Low `len` bits of `code` (len 0..16); a table's code may carry stray bits
// above its length, which never reach the stream.
// Lengths above 16 are not Deflate lengths; at most 16 bits are written.
constexpr uint32_t code_len(vekDeflateHuffCode c) {
    return c.len > 16 ? 16u : c.len;
}
constexpr uint32_t code_bits(vekDeflateHuffCode c) {
    return c.code & ((1u << code_len(c)) - 1u);
}

}  // namespace vek::deflate
