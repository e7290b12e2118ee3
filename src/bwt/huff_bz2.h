// Multi-table Huffman stage of the bzip2 block format: the encoder (table
// fitting, packed context, symbol coding), the decoder (context unpacking,
// decoding tables, resumable symbol decoding) and the fused block decoder.
// The exported wrappers check the arguments; these functions trust them.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::bwt {

inline constexpr int32_t kBz2MaxAlpha = 258;   // table width: 256 bytes, two run digits, end
inline constexpr int32_t kBz2GroupSize = 50;   // symbols coded with one selector
inline constexpr int32_t kBz2MaxTables = 6;
inline constexpr int32_t kBz2MaxCodeLen = 17;  // longest code the encoder emits
inline constexpr int32_t kBz2MaxReadLen = 20;  // longest code length the decoder accepts

// Most selectors a decoder state holds: the count of a 900000-byte block,
// the largest block the format has. Decoder states must be sized for at
// least kBz2DecodeMinLen symbols; a context announcing more selectors is
// refused.
inline constexpr int32_t kBz2SelectorCapacity = 18002;
inline constexpr int32_t kBz2DecodeMinLen = kBz2SelectorCapacity * kBz2GroupSize;

inline constexpr int32_t kBz2EncFixedBytes = static_cast<int32_t>(sizeof(vekHuffEncState_BZ2));
inline constexpr int32_t kBz2DecFixedBytes = static_cast<int32_t>(sizeof(vekHuffDecState_BZ2));

// ---- encoder ----

// Code lengths (1..17) of n symbols (1..258) from their counts: the bzip2
// tree merge over the index-sorted weights, then the depth repair.
void bz2_code_lengths(const uint32_t* counts, int32_t n, uint8_t* lengths);

// Canonical codes, right-aligned, for n lengths.
void bz2_canonical_codes(const uint8_t* lengths, int32_t n, uint32_t* codes);

// Number of tables for a block of len symbols.
int32_t bz2_table_count(int32_t len);

// Fills the whole state (tables, selectors); the pointers are set first.
// Returns vekStatusBadDataErr when a symbol is not below alphaSize.
vekStatus bz2_encode_init(int32_t alphaSize, const uint32_t* freq, const uint16_t* src, int32_t len,
                          vekHuffEncState_BZ2* state);

vekStatus bz2_pack_context(uint32_t* pCode, int32_t* pCodeLenBits, uint8_t* dst, int32_t* pDstLen,
                           vekHuffEncState_BZ2* state);

vekStatus bz2_encode_symbols(uint32_t* pCode, int32_t* pCodeLenBits, const uint16_t** ppSrc,
                             int32_t* pSrcLen, uint8_t* dst, int32_t* pDstLen,
                             vekHuffEncState_BZ2* state);

// ---- decoder ----

void bz2_decode_init(int32_t alphaSize, vekHuffDecState_BZ2* state);

vekStatus bz2_unpack_context(uint32_t* pCode, int32_t* pCodeLenBits, const uint8_t** ppSrc,
                             int32_t* pSrcLen, vekHuffDecState_BZ2* state);

vekStatus bz2_decode_symbols(uint32_t* pCode, int32_t* pCodeLenBits, const uint8_t** ppSrc,
                             int32_t* pSrcLen, uint16_t* dst, int32_t* pDstLen,
                             vekHuffDecState_BZ2* state);

// Builds the decoding tables of table t from curLengths / lengthCounts.
void bz2_build_decode_table(vekHuffDecState_BZ2* state, int32_t t);

// ---- block decoder ----

// Arguments checked (index < capacity < 2^24, dictSize <= 256).
vekStatus bz2_decode_block(const uint16_t* src, int32_t srcLen, uint8_t* dst, int32_t* pDstLen,
                           int32_t index, int32_t dictSize, const uint8_t* inUse, uint8_t* buf);

}  // namespace vek::bwt
