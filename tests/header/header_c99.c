/*
 * C99 check of the public header: it must compile with
 * -std=c99 -pedantic -Wall -Wextra -Werror on i686 and x86-64, and its
 * structure layouts must match the documented 32-bit layout.
 *
 * Built with VEKDC_LINK_ALL defined and linked against the library, the
 * program also takes the address of every exported function, so a missing
 * export fails at link time.
 */
#include "vekdc.h"

#include <stddef.h>

/* _Static_assert is C11; __extension__ keeps -pedantic quiet in C99 mode. */
#define VEK_SA(cond, msg) __extension__ _Static_assert(cond, msg)

#include "header_checks.h"

/* The header must be usable twice in one translation unit. */
#include "vekdc.h"

#ifdef VEKDC_LINK_ALL
typedef void (*vek_fn)(void);

static const vek_fn vek_all_exports[] = {
    (vek_fn)&vekdcGetLibVersion,
    (vek_fn)&veksAdler32_8u,
    (vek_fn)&veksBWTFwdGetBufSize_SelectSort_8u,
    (vek_fn)&veksBWTFwdGetSize_8u,
    (vek_fn)&veksBWTFwd_8u,
    (vek_fn)&veksBWTFwd_SelectSort_8u,
    (vek_fn)&veksBWTInvGetSize_8u,
    (vek_fn)&veksBWTInv_8u,
    (vek_fn)&veksCRC32C_8u,
    (vek_fn)&veksCRC32_8u,
    (vek_fn)&veksCRC32_BZ2_8u,
    (vek_fn)&veksDecodeBlockGetSize_BZ2_8u,
    (vek_fn)&veksDecodeBlock_BZ2_16u8u,
    (vek_fn)&veksDecodeHuffGetSize_BZ2_8u16u,
    (vek_fn)&veksDecodeHuffInit_BZ2_8u16u,
    (vek_fn)&veksDecodeHuff_BZ2_8u16u,
    (vek_fn)&veksDecodeLZ4Dict_8u,
    (vek_fn)&veksDecodeLZ4_8u,
    (vek_fn)&veksDecodeLZOSafe_8u,
    (vek_fn)&veksDecodeLZO_8u,
    (vek_fn)&veksDecodeLZSSInit_8u,
    (vek_fn)&veksDecodeLZSS_8u,
    (vek_fn)&veksDecodeRLEStateFlush_BZ2_8u,
    (vek_fn)&veksDecodeRLEStateInit_BZ2_8u,
    (vek_fn)&veksDecodeRLEState_BZ2_8u,
    (vek_fn)&veksDecodeZ1Z2_BZ2_16u8u,
    (vek_fn)&veksDecodeZfp444_32f,
    (vek_fn)&veksDecodeZfpGetDecompressedSizeLong_32f,
    (vek_fn)&veksDecodeZfpGetDecompressedSize_32f,
    (vek_fn)&veksDecodeZfpGetStateSize_32f,
    (vek_fn)&veksDecodeZfpInitLong_32f,
    (vek_fn)&veksDecodeZfpInit_32f,
    (vek_fn)&veksDecodeZfpSetAccuracy_32f,
    (vek_fn)&veksDecodeZfpSet_32f,
    (vek_fn)&veksDeflateDictionarySet_8u,
    (vek_fn)&veksDeflateHuff_8u,
    (vek_fn)&veksDeflateLZ77Fast_8u,
    (vek_fn)&veksDeflateLZ77FastestGenHeader_8u,
    (vek_fn)&veksDeflateLZ77FastestGenHuffTable_8u,
    (vek_fn)&veksDeflateLZ77FastestGetStat_8u,
    (vek_fn)&veksDeflateLZ77FastestPrecompHeader_8u,
    (vek_fn)&veksDeflateLZ77Fastest_8u,
    (vek_fn)&veksDeflateLZ77Slow_8u,
    (vek_fn)&veksDeflateLZ77_8u,
    (vek_fn)&veksDeflateUpdateHash_8u,
    (vek_fn)&veksEncodeHuffGetSize_BZ2_16u8u,
    (vek_fn)&veksEncodeHuffInit_BZ2_16u8u,
    (vek_fn)&veksEncodeHuff_BZ2_16u8u,
    (vek_fn)&veksEncodeLZ4DictHashTableInit_8u,
    (vek_fn)&veksEncodeLZ4DictSafe_8u,
    (vek_fn)&veksEncodeLZ4Dict_8u,
    (vek_fn)&veksEncodeLZ4Fast_8u,
    (vek_fn)&veksEncodeLZ4HCHashTableGetSize_8u,
    (vek_fn)&veksEncodeLZ4HCHashTableInit_8u,
    (vek_fn)&veksEncodeLZ4HC_8u,
    (vek_fn)&veksEncodeLZ4HashTableGetSize_8u,
    (vek_fn)&veksEncodeLZ4HashTableInit_8u,
    (vek_fn)&veksEncodeLZ4LoadDict_8u,
    (vek_fn)&veksEncodeLZ4Safe_8u,
    (vek_fn)&veksEncodeLZ4_8u,
    (vek_fn)&veksEncodeLZOGetSize,
    (vek_fn)&veksEncodeLZOInit_8u,
    (vek_fn)&veksEncodeLZO_8u,
    (vek_fn)&veksEncodeLZSSFlush_8u,
    (vek_fn)&veksEncodeLZSSInit_8u,
    (vek_fn)&veksEncodeLZSS_8u,
    (vek_fn)&veksEncodeRLEFlush_BZ2_8u,
    (vek_fn)&veksEncodeRLEInit_BZ2_8u,
    (vek_fn)&veksEncodeRLE_BZ2_8u,
    (vek_fn)&veksEncodeZ1Z2_BZ2_8u16u,
    (vek_fn)&veksEncodeZfp444_32f,
    (vek_fn)&veksEncodeZfpFlush_32f,
    (vek_fn)&veksEncodeZfpGetCompressedBitSize_32f,
    (vek_fn)&veksEncodeZfpGetCompressedSizeLong_32f,
    (vek_fn)&veksEncodeZfpGetCompressedSize_32f,
    (vek_fn)&veksEncodeZfpGetStateSize_32f,
    (vek_fn)&veksEncodeZfpInitLong_32f,
    (vek_fn)&veksEncodeZfpInit_32f,
    (vek_fn)&veksEncodeZfpSetAccuracy_32f,
    (vek_fn)&veksEncodeZfpSet_32f,
    (vek_fn)&veksExpandDictionary_8u_I,
    (vek_fn)&veksInflateBuildHuffTable,
    (vek_fn)&veksInflate_8u,
    (vek_fn)&veksLZSSGetSize_8u,
    (vek_fn)&veksMTFFwd_8u,
    (vek_fn)&veksMTFGetSize_8u,
    (vek_fn)&veksMTFInit_8u,
    (vek_fn)&veksMTFInv_8u,
    (vek_fn)&veksPackHuffContext_BZ2_16u8u,
    (vek_fn)&veksRLEGetInUseTable_8u,
    (vek_fn)&veksRLEGetSize_BZ2_8u,
    (vek_fn)&veksReduceDictionary_8u_I,
    (vek_fn)&veksUnpackHuffContext_BZ2_8u16u,
};

VEK_SA(sizeof(vek_all_exports) / sizeof(vek_all_exports[0]) == 93, "93 exported functions");
#endif

int main(void) {
#ifdef VEKDC_LINK_ALL
    size_t i;
    const vekLibVersion* ver = vekdcGetLibVersion();
    for (i = 0; i < sizeof(vek_all_exports) / sizeof(vek_all_exports[0]); ++i) {
        if (vek_all_exports[i] == NULL) return 1;
    }
    if (ver == NULL || ver != vekdcGetLibVersion()) return 2;
#endif
    return 0;
}
