// C++17 check of the public header: it must compile cleanly as C++ on i686
// and x86-64, give the same layouts as in C, and declare every exported
// function with exactly the documented parameter list. The function types
// are checked through decltype, which does not odr-use the functions, so the
// program links without the library.
#include "vekdc.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

#define VEK_SA(cond, msg) static_assert(cond, msg)

#include "header_checks.h"

// extern "C" linkage and no name mangling are needed for the plain symbol
// names; a C++ caller must be able to hand the status back as a plain int.
static_assert(std::is_same<vekStatus, std::int32_t>::value, "vekStatus is int32_t");
static_assert(std::is_same<vekInflateMode, std::int32_t>::value, "vekInflateMode is int32_t");
static_assert(std::is_same<vekBWTSortHint, std::int32_t>::value, "vekBWTSortHint is int32_t");
static_assert(std::is_standard_layout<vekInflateState>::value, "C layout");
static_assert(std::is_standard_layout<vekLZSSState>::value, "C layout");
static_assert(std::is_standard_layout<vekHuffEncState_BZ2>::value, "C layout");
static_assert(std::is_standard_layout<vekHuffDecState_BZ2>::value, "C layout");
static_assert(std::is_standard_layout<vekZfpState_32f>::value, "C layout");
static_assert(std::is_trivially_copyable<vekZfpState_32f>::value, "plain data");

namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i16 = std::int16_t;
using i32 = std::int32_t;
using i64 = std::int64_t;
using St = vekStatus;
using FreqE = vekDeflateFreqEntry;
using HuffC = vekDeflateHuffCode;
using Zfp = vekZfpState_32f;

}  // namespace

// VEK_FN(name, R(args)): the declared function has exactly this type.
#define VEK_FN(name, ...) \
    static_assert(std::is_same<decltype(name), __VA_ARGS__>::value, #name " signature")

// Version
VEK_FN(vekdcGetLibVersion, const vekLibVersion*(void));

// Checksums
VEK_FN(veksCRC32_8u, St(const u8*, i32, u32*));
VEK_FN(veksCRC32C_8u, St(const u8*, u32, u32*));
VEK_FN(veksAdler32_8u, St(const u8*, u32, u32*));
VEK_FN(veksCRC32_BZ2_8u, St(const u8*, i32, u32*));

// Deflate LZ77 stage
VEK_FN(veksDeflateLZ77_8u, St(const u8**, u32*, u32*, const u8*, u32, i32*, i32*, u32, FreqE*,
                              FreqE*, u8*, u16*, u32*, i32, u32));
VEK_FN(veksDeflateLZ77Fast_8u, St(const u8**, u32*, u32*, const u8*, u32, i32*, i32*, u32, FreqE*,
                                  FreqE*, u8*, u16*, u32*, const vekLZ77LevelParams*, u32));
VEK_FN(veksDeflateLZ77Slow_8u, St(const u8**, u32*, u32*, const u8*, u32, i32*, i32*, u32, FreqE*,
                                  FreqE*, u8*, u16*, u32*, const vekLZ77LevelParams*, u32));
VEK_FN(veksDeflateDictionarySet_8u, St(const u8*, u32, i32*, u32, i32*, u8*, u32, i32));
VEK_FN(veksDeflateUpdateHash_8u, St(const u8*, u32, u32, i32*, u32, i32*, u32, i32));

// Deflate Huffman stage
VEK_FN(veksDeflateHuff_8u,
       St(const u8*, const u16*, u32, u16*, u32*, const HuffC*, const HuffC*, u8*, u32*));

// Fastest Deflate
VEK_FN(veksDeflateLZ77FastestGetStat_8u,
       St(const u8**, u32*, u32*, const u8*, u32, i32*, u32, u32*, u32*, u32));
VEK_FN(veksDeflateLZ77FastestGenHuffTable_8u, St(const u32*, const u32*, HuffC*, HuffC*));
VEK_FN(veksDeflateLZ77FastestGenHeader_8u, St(const HuffC*, const HuffC*, u8*, u32*, u32*));
VEK_FN(veksDeflateLZ77FastestPrecompHeader_8u,
       St(const u8**, u32*, u32*, const u8*, u32, i32*, u32, u16*, u32*, u8*, u32, u32*,
          const HuffC*, const HuffC*, const u8*, i32, u32));
VEK_FN(veksDeflateLZ77Fastest_8u,
       St(const u8**, u32*, u32*, const u8*, u32, i32*, u32, u16*, u32*, u8*, u32, u32*, u32));

// Inflate
VEK_FN(veksInflate_8u,
       St(const u8**, u32*, u32*, u32*, u32, u8**, u32*, u32, vekInflateMode*, vekInflateState*));
VEK_FN(veksInflateBuildHuffTable, St(const u16*, u32, u32, vekInflateState*));

// LZ4 block encoder
VEK_FN(veksEncodeLZ4HashTableGetSize_8u, St(i32*));
VEK_FN(veksEncodeLZ4HashTableInit_8u, St(u8*, i32));
VEK_FN(veksEncodeLZ4_8u, St(const u8*, i32, u8*, i32*, u8*));
VEK_FN(veksEncodeLZ4Safe_8u, St(const u8*, i32*, u8*, i32*, u8*));
VEK_FN(veksEncodeLZ4Fast_8u, St(const u8*, i32, u8*, i32*, u8*, i32));

// LZ4 dictionary encoding
VEK_FN(veksEncodeLZ4DictHashTableInit_8u, St(u8*, i32));
VEK_FN(veksEncodeLZ4LoadDict_8u, St(u8*, const u8*, i32));
VEK_FN(veksEncodeLZ4Dict_8u, St(const u8*, i32, i32, u8*, i32*, u8*, const u8*, i32));
VEK_FN(veksEncodeLZ4DictSafe_8u, St(const u8*, i32, i32*, u8*, i32*, u8*, const u8*, i32));

// LZ4 high-compression encoder
VEK_FN(veksEncodeLZ4HCHashTableGetSize_8u, St(i32*, i32*));
VEK_FN(veksEncodeLZ4HCHashTableInit_8u, St(u8**));
VEK_FN(veksEncodeLZ4HC_8u, St(const u8*, i32, i32*, u8*, i32*, u8**, const u8*, i32, i32));

// LZ4 block decoder
VEK_FN(veksDecodeLZ4_8u, St(const u8*, i32, u8*, i32*));
VEK_FN(veksDecodeLZ4Dict_8u, St(const u8*, i32*, u8*, i32, i32*, const u8*, i32));

// LZO1X
VEK_FN(veksEncodeLZOGetSize, St(int, u32, u32*));
VEK_FN(veksEncodeLZOInit_8u, St(int, u32, vekLZOState_8u*));
VEK_FN(veksEncodeLZO_8u, St(const u8*, u32, u8*, u32*, vekLZOState_8u*));
VEK_FN(veksDecodeLZO_8u, St(const u8*, u32, u8*, u32*));
VEK_FN(veksDecodeLZOSafe_8u, St(const u8*, u32, u8*, u32*));

// LZSS
VEK_FN(veksLZSSGetSize_8u, St(i32*));
VEK_FN(veksEncodeLZSSInit_8u, St(vekLZSSState*));
VEK_FN(veksEncodeLZSS_8u, St(u8**, i32*, u8**, i32*, vekLZSSState*));
VEK_FN(veksEncodeLZSSFlush_8u, St(u8**, i32*, vekLZSSState*));
VEK_FN(veksDecodeLZSSInit_8u, St(vekLZSSState*));
VEK_FN(veksDecodeLZSS_8u, St(u8**, i32*, u8**, i32*, vekLZSSState*));

// Run-length stage and symbol dictionary (int and unsigned char as written
// in the interface; they are int32_t and uint8_t on both ABIs)
VEK_FN(veksRLEGetSize_BZ2_8u, St(int*));
VEK_FN(veksEncodeRLEInit_BZ2_8u, St(vekRLEState_BZ2*));
VEK_FN(veksEncodeRLE_BZ2_8u,
       St(const unsigned char**, int*, unsigned char*, int*, vekRLEState_BZ2*));
VEK_FN(veksEncodeRLEFlush_BZ2_8u, St(unsigned char*, int*, vekRLEState_BZ2*));
VEK_FN(veksRLEGetInUseTable_8u, St(unsigned char*, const vekRLEState_BZ2*));
VEK_FN(veksDecodeRLEStateInit_BZ2_8u, St(vekRLEState_BZ2*));
VEK_FN(veksDecodeRLEState_BZ2_8u,
       St(const unsigned char**, int*, unsigned char**, int*, vekRLEState_BZ2*));
VEK_FN(veksDecodeRLEStateFlush_BZ2_8u, St(vekRLEState_BZ2*, unsigned char**, int*));
VEK_FN(veksReduceDictionary_8u_I, St(const unsigned char*, unsigned char*, int, int*));
VEK_FN(veksExpandDictionary_8u_I, St(const unsigned char*, unsigned char*, int, int));

// Burrows-Wheeler transform
VEK_FN(veksBWTFwdGetSize_8u, St(int, int*));
VEK_FN(veksBWTFwd_8u, St(const unsigned char*, unsigned char*, int, int*, unsigned char*));
VEK_FN(veksBWTFwdGetBufSize_SelectSort_8u, St(unsigned, unsigned*, vekBWTSortHint));
VEK_FN(veksBWTFwd_SelectSort_8u, St(const unsigned char*, unsigned char*, unsigned, unsigned*,
                                    unsigned char*, vekBWTSortHint));
VEK_FN(veksBWTInvGetSize_8u, St(int, int*));
VEK_FN(veksBWTInv_8u, St(const unsigned char*, unsigned char*, int, int, unsigned char*));

// Move-to-front
VEK_FN(veksMTFGetSize_8u, St(int*));
VEK_FN(veksMTFInit_8u, St(vekMTFState_8u*));
VEK_FN(veksMTFFwd_8u, St(const unsigned char*, unsigned char*, int, vekMTFState_8u*));
VEK_FN(veksMTFInv_8u, St(const unsigned char*, unsigned char*, int, vekMTFState_8u*));

// Zero-run coding
VEK_FN(veksEncodeZ1Z2_BZ2_8u16u,
       St(const unsigned char**, int*, unsigned short*, int*, unsigned int*));
VEK_FN(veksDecodeZ1Z2_BZ2_16u8u, St(const unsigned short**, int*, unsigned char*, int*));

// Multi-table Huffman encoder
VEK_FN(veksEncodeHuffGetSize_BZ2_16u8u, St(int, int*));
VEK_FN(veksEncodeHuffInit_BZ2_16u8u,
       St(int, const unsigned int*, const unsigned short*, int, vekHuffEncState_BZ2*));
VEK_FN(veksPackHuffContext_BZ2_16u8u,
       St(unsigned int*, int*, unsigned char*, int*, vekHuffEncState_BZ2*));
VEK_FN(veksEncodeHuff_BZ2_16u8u, St(unsigned int*, int*, const unsigned short**, int*,
                                    unsigned char*, int*, vekHuffEncState_BZ2*));

// Multi-table Huffman decoder and block decoder
VEK_FN(veksDecodeHuffGetSize_BZ2_8u16u, St(int, int*));
VEK_FN(veksDecodeHuffInit_BZ2_8u16u, St(int, vekHuffDecState_BZ2*));
VEK_FN(veksUnpackHuffContext_BZ2_8u16u,
       St(unsigned int*, int*, const unsigned char**, int*, vekHuffDecState_BZ2*));
VEK_FN(veksDecodeHuff_BZ2_8u16u, St(unsigned int*, int*, const unsigned char**, int*,
                                    unsigned short*, int*, vekHuffDecState_BZ2*));
VEK_FN(veksDecodeBlockGetSize_BZ2_8u, St(unsigned, int*));
VEK_FN(veksDecodeBlock_BZ2_16u8u, St(const unsigned short*, int, unsigned char*, int*, int, int,
                                     const unsigned char*, unsigned char*));

// ZFP state, modes and sizes
VEK_FN(veksEncodeZfpGetStateSize_32f, St(i32*));
VEK_FN(veksEncodeZfpInit_32f, St(u8*, i32, Zfp*));
VEK_FN(veksEncodeZfpInitLong_32f, St(u8*, i64, Zfp*));
VEK_FN(veksEncodeZfpSet_32f, St(i32, i32, i32, i32, Zfp*));
VEK_FN(veksEncodeZfpSetAccuracy_32f, St(double, Zfp*));
VEK_FN(veksEncodeZfpGetCompressedSize_32f, St(const Zfp*, i32*));
VEK_FN(veksEncodeZfpGetCompressedSizeLong_32f, St(const Zfp*, i64*));
VEK_FN(veksEncodeZfpGetCompressedBitSize_32f, St(const Zfp*, i64*));
VEK_FN(veksEncodeZfpFlush_32f, St(Zfp*));
VEK_FN(veksDecodeZfpGetStateSize_32f, St(i32*));
VEK_FN(veksDecodeZfpInit_32f, St(const u8*, i32, Zfp*));
VEK_FN(veksDecodeZfpInitLong_32f, St(const u8*, i64, Zfp*));
VEK_FN(veksDecodeZfpSet_32f, St(i32, i32, i32, i32, Zfp*));
VEK_FN(veksDecodeZfpSetAccuracy_32f, St(double, Zfp*));
VEK_FN(veksDecodeZfpGetDecompressedSize_32f, St(const Zfp*, i32*));
VEK_FN(veksDecodeZfpGetDecompressedSizeLong_32f, St(const Zfp*, i64*));

// ZFP block coders
VEK_FN(veksEncodeZfp444_32f, St(const float*, i32, i32, Zfp*));
VEK_FN(veksDecodeZfp444_32f, St(Zfp*, float*, i32, i32));

// Field types a caller reads and writes directly.
static_assert(std::is_same<decltype(vekZfpState_32f::bitBuffer), u64>::value, "bitBuffer");
static_assert(std::is_same<decltype(vekZfpState_32f::idCtx), u32>::value, "idCtx");
static_assert(std::is_same<decltype(vekLZSSState::pHashRand), const i16*>::value, "pHashRand");
static_assert(std::is_same<decltype(vekLibVersion::cpuTag), char[4]>::value, "cpuTag");
static_assert(std::is_same<decltype(vekRLEState_BZ2::lastByte), i32>::value, "lastByte");

int main() {
    return 0;
}
