/*
 * Compile-time checks of the public header, shared by the C99 and the C++17
 * header tests. The including file defines VEK_SA(cond, msg) as its static
 * assertion and includes <stddef.h> / <cstddef> for offsetof.
 *
 * The exact sizes and offsets are those of the i686 build, where pointers
 * take 4 bytes (field order is ABI-independent, so the offsets pin it for
 * both); on x86-64 the pointer-free structures, the fixed-extent members and
 * the documented grown sizes are checked.
 */
#ifndef VEKDC_TEST_HEADER_CHECKS_H
#define VEKDC_TEST_HEADER_CHECKS_H

#define VEK_OFF(type, field) offsetof(type, field)
#define VEK_AT(type, field, off) VEK_SA(VEK_OFF(type, field) == (off), #type "." #field " offset")
#define VEK_SIZE(type, n) VEK_SA(sizeof(type) == (n), "sizeof " #type)
#define VEK_FIELD_SIZE(type, field, n) \
    VEK_SA(sizeof(((type*)0)->field) == (n), #type "." #field " size")

/* ---- status codes and enumerations (both ABIs) ---- */

VEK_SA(sizeof(vekStatus) == 4, "vekStatus is 32 bits");
VEK_SA((vekStatus)-1 < 0, "vekStatus is signed");
VEK_SA(vekStatusOk == 0, "vekStatusOk");
VEK_SA(vekStatusErr == -1, "vekStatusErr");
VEK_SA(vekStatusBadDataErr == -2, "vekStatusBadDataErr");
VEK_SA(vekStatusOutOfRangeErr == -4, "vekStatusOutOfRangeErr");
VEK_SA(vekStatusBadArgErr == -5, "vekStatusBadArgErr");
VEK_SA(vekStatusSizeErr == -6, "vekStatusSizeErr");
VEK_SA(vekStatusNullPtrErr == -8, "vekStatusNullPtrErr");
VEK_SA(vekStatusContextMismatchErr == -13, "vekStatusContextMismatchErr");
VEK_SA(vekStatusAccelFactorErr == -16, "vekStatusAccelFactorErr");
VEK_SA(vekStatusShiftErr == -32, "vekStatusShiftErr");
VEK_SA(vekStatusSrcDataErr == -200, "vekStatusSrcDataErr");
VEK_SA(vekStatusCorruptStreamErr == -214, "vekStatusCorruptStreamErr");
VEK_SA(vekStatusSrcTooSmall == 32, "vekStatusSrcTooSmall");
VEK_SA(vekStatusDstTooSmall == 33, "vekStatusDstTooSmall");
VEK_SA(vekStatusSortLimitReached == 47, "vekStatusSortLimitReached");

VEK_SA(sizeof(vekInflateMode) == 4, "vekInflateMode is 32 bits");
VEK_SA(vekInflateModeBlockEnd == 0, "vekInflateModeBlockEnd");
VEK_SA(vekInflateModeSymbol == 1, "vekInflateModeSymbol");
VEK_SA(vekInflateModeResume == 2, "vekInflateModeResume");
VEK_SA(vekInflateTableFixed == 0, "vekInflateTableFixed");
VEK_SA(vekInflateTableGeneral == 1, "vekInflateTableGeneral");
VEK_SA(vekInflateTableShort == 2, "vekInflateTableShort");

VEK_SA(sizeof(vekBWTSortHint) == 4, "vekBWTSortHint is 32 bits");
VEK_SA((vekBWTSortHint)-1 < 0, "vekBWTSortHint is signed");
VEK_SA(vekBWTSortLimited == 0, "vekBWTSortLimited");
VEK_SA(vekBWTSortUnlimited == 1, "vekBWTSortUnlimited");
VEK_SA(vekBWTSortSuffix == 2, "vekBWTSortSuffix");
VEK_SA(vekBWTSortAuto == 3, "vekBWTSortAuto");

/* ---- pointer-free structures: identical on both ABIs ---- */

VEK_SIZE(vekDeflateFreqEntry, 4);
VEK_AT(vekDeflateFreqEntry, freq, 0);
VEK_AT(vekDeflateFreqEntry, len, 2);
VEK_SIZE(vekDeflateHuffCode, 4);
VEK_AT(vekDeflateHuffCode, code, 0);
VEK_AT(vekDeflateHuffCode, len, 2);
/* a counter array can be reused in place as a code array */
VEK_SA(sizeof(vekDeflateFreqEntry) == sizeof(vekDeflateHuffCode), "freq/code element size");
VEK_SA(VEK_OFF(vekDeflateFreqEntry, freq) == VEK_OFF(vekDeflateHuffCode, code), "freq over code");
VEK_SA(VEK_OFF(vekDeflateFreqEntry, len) == VEK_OFF(vekDeflateHuffCode, len), "len over len");

VEK_SIZE(vekLZ77LevelParams, 16);
VEK_AT(vekLZ77LevelParams, maxChain, 0);
VEK_AT(vekLZ77LevelParams, goodLength, 4);
VEK_AT(vekLZ77LevelParams, niceLength, 8);
VEK_AT(vekLZ77LevelParams, lazyLength, 12);

VEK_SIZE(vekRLEState_BZ2, 264);
VEK_AT(vekRLEState_BZ2, inUse, 0);
VEK_FIELD_SIZE(vekRLEState_BZ2, inUse, 256);
VEK_AT(vekRLEState_BZ2, lastByte, 256);
VEK_AT(vekRLEState_BZ2, runLength, 260);

/* ---- fixed-extent array members (both ABIs) ---- */

VEK_FIELD_SIZE(vekLibVersion, cpuTag, 4);
VEK_FIELD_SIZE(vekInflateState, tables, 6912);
VEK_FIELD_SIZE(vekLZSSState, area1, 131072);
VEK_FIELD_SIZE(vekLZSSState, area2, 131072);
VEK_FIELD_SIZE(vekLZSSState, area3, 65536);
VEK_FIELD_SIZE(vekHuffEncState_BZ2, codes, 6 * 258 * 4);
VEK_FIELD_SIZE(vekHuffEncState_BZ2, lengths, 6 * 258);
VEK_FIELD_SIZE(vekHuffDecState_BZ2, curLengths, 258 * 4);
VEK_FIELD_SIZE(vekHuffDecState_BZ2, lengthCounts, 21 * 4);
VEK_FIELD_SIZE(vekHuffDecState_BZ2, firstCode, 6 * 13 * 4);
VEK_FIELD_SIZE(vekHuffDecState_BZ2, fastSymbol, 6 * 258 * 2);
VEK_FIELD_SIZE(vekHuffDecState_BZ2, longSymbols, 6 * 258 * 2);
VEK_FIELD_SIZE(vekHuffDecState_BZ2, fastLength, 6 * 258);
VEK_FIELD_SIZE(vekHuffDecState_BZ2, longBase, 6 * 13);
VEK_FIELD_SIZE(vekHuffDecState_BZ2, longLevels, 6);
VEK_FIELD_SIZE(vekZfpState_32f, bitBuffer, 8);
VEK_FIELD_SIZE(vekZfpState_32f, fBlock, 64 * 4);
VEK_FIELD_SIZE(vekZfpState_32f, iBlock, 64 * 4);

/* ---- placement the callers rely on (both ABIs; the i686 block pins every offset) ---- */

VEK_AT(vekZfpState_32f, idCtx, 0); /* the identifier word comes first */
VEK_SA(VEK_OFF(vekZfpState_32f, bitBuffer) % 8 == 0, "ZFP bit buffer 8-byte aligned");

/* ---- i686: every size and offset of the 32-bit layout ---- */

#if defined(__i386__)
VEK_SA(sizeof(void*) == 4, "i686 pointers");

VEK_SIZE(vekLibVersion, 32);
VEK_AT(vekLibVersion, majorVersion, 0);
VEK_AT(vekLibVersion, minorVersion, 4);
VEK_AT(vekLibVersion, updateNumber, 8);
VEK_AT(vekLibVersion, revision, 12);
VEK_AT(vekLibVersion, cpuTag, 16);
VEK_AT(vekLibVersion, libraryName, 20);
VEK_AT(vekLibVersion, versionText, 24);
VEK_AT(vekLibVersion, buildDate, 28);

/* ten 32-bit words, then 6912 bytes of tables: at least 6952 bytes */
VEK_SIZE(vekInflateState, 6952);
VEK_AT(vekInflateState, pWindow, 0);
VEK_AT(vekInflateState, winSize, 4);
VEK_AT(vekInflateState, tableType, 8);
VEK_AT(vekInflateState, reserved, 12);
VEK_AT(vekInflateState, step, 16);
VEK_AT(vekInflateState, pendingValue, 20);
VEK_AT(vekInflateState, pendingExtra, 24);
VEK_AT(vekInflateState, pendingDist, 28);
VEK_AT(vekInflateState, maxLitLen, 32);
VEK_AT(vekInflateState, maxDistLen, 36);
VEK_AT(vekInflateState, tables, 40);

/* 44-byte header, then areas of 131072, 131072 and 65536 bytes */
VEK_SIZE(vekLZSSState, 327724);
VEK_AT(vekLZSSState, pHashRand, 0);
VEK_AT(vekLZSSState, pPrev, 4);
VEK_AT(vekLZSSState, pHead, 8);
VEK_AT(vekLZSSState, pWindowBase, 12);
VEK_AT(vekLZSSState, pWindow, 16);
VEK_AT(vekLZSSState, position, 20);
VEK_AT(vekLZSSState, bitCount, 24);
VEK_AT(vekLZSSState, bitBufHi, 28);
VEK_AT(vekLZSSState, bitBufLo, 32);
VEK_AT(vekLZSSState, matchOffset, 36);
VEK_AT(vekLZSSState, matchRemain, 40);
VEK_AT(vekLZSSState, area1, 44);
VEK_AT(vekLZSSState, area2, 44 + 131072);
VEK_AT(vekLZSSState, area3, 44 + 2 * 131072);

/* fixed portion 24 + 6192 + 1548 = 7764 bytes */
VEK_SIZE(vekHuffEncState_BZ2, 7764);
VEK_AT(vekHuffEncState_BZ2, alphaSize, 0);
VEK_AT(vekHuffEncState_BZ2, nSelectors, 4);
VEK_AT(vekHuffEncState_BZ2, nGroups, 8);
VEK_AT(vekHuffEncState_BZ2, pCodes, 12);
VEK_AT(vekHuffEncState_BZ2, pLengths, 16);
VEK_AT(vekHuffEncState_BZ2, pSelectors, 20);
VEK_AT(vekHuffEncState_BZ2, codes, 24);
VEK_AT(vekHuffEncState_BZ2, lengths, 24 + 6192);

/* fixed portion 9324 bytes */
VEK_SIZE(vekHuffDecState_BZ2, 9324);
VEK_AT(vekHuffDecState_BZ2, unpackPhase, 0);
VEK_AT(vekHuffDecState_BZ2, nGroups, 4);
VEK_AT(vekHuffDecState_BZ2, tableCounter, 8);
VEK_AT(vekHuffDecState_BZ2, nSelectors, 12);
VEK_AT(vekHuffDecState_BZ2, groupCounter, 16);
VEK_AT(vekHuffDecState_BZ2, alphaSize, 20);
VEK_AT(vekHuffDecState_BZ2, symbolCounter, 24);
VEK_AT(vekHuffDecState_BZ2, groupPosition, 28);
VEK_AT(vekHuffDecState_BZ2, currentLength, 32);
VEK_AT(vekHuffDecState_BZ2, pSelectors, 36);
VEK_AT(vekHuffDecState_BZ2, pFastSymbol, 40);
VEK_AT(vekHuffDecState_BZ2, pFastLength, 44);
VEK_AT(vekHuffDecState_BZ2, pFirstCode, 48);
VEK_AT(vekHuffDecState_BZ2, pLongBase, 52);
VEK_AT(vekHuffDecState_BZ2, pLongSymbols, 56);
VEK_AT(vekHuffDecState_BZ2, pLongLevels, 60);
VEK_AT(vekHuffDecState_BZ2, pCurLengths, 64);
VEK_AT(vekHuffDecState_BZ2, pLengthCounts, 68);
VEK_AT(vekHuffDecState_BZ2, curLengths, 72);
VEK_AT(vekHuffDecState_BZ2, lengthCounts, 72 + 1032);
VEK_AT(vekHuffDecState_BZ2, firstCode, 72 + 1032 + 84);
VEK_AT(vekHuffDecState_BZ2, fastSymbol, 1188 + 312);
VEK_AT(vekHuffDecState_BZ2, longSymbols, 1500 + 3096);
VEK_AT(vekHuffDecState_BZ2, fastLength, 4596 + 3096);
VEK_AT(vekHuffDecState_BZ2, longBase, 7692 + 1548);
VEK_AT(vekHuffDecState_BZ2, longLevels, 9240 + 78);

VEK_SIZE(vekZfpState_32f, 560);
VEK_AT(vekZfpState_32f, idCtx, 0);
VEK_AT(vekZfpState_32f, minBits, 4);
VEK_AT(vekZfpState_32f, maxBits, 8);
VEK_AT(vekZfpState_32f, maxPrec, 12);
VEK_AT(vekZfpState_32f, minExp, 16);
VEK_AT(vekZfpState_32f, bitCount, 20);
VEK_AT(vekZfpState_32f, bitBuffer, 24);
VEK_AT(vekZfpState_32f, pCur, 32);
VEK_AT(vekZfpState_32f, pStart, 36);
VEK_AT(vekZfpState_32f, pEnd, 40);
VEK_AT(vekZfpState_32f, fBlock, 44);
VEK_AT(vekZfpState_32f, iBlock, 44 + 256);
#endif /* __i386__ */

/* ---- x86-64: the grown sizes documented in the header ---- */

#if defined(__x86_64__) && !defined(__ILP32__)
VEK_SA(sizeof(void*) == 8, "x86-64 pointers");
VEK_SIZE(vekLibVersion, 48);
VEK_SIZE(vekInflateState, 6960);
VEK_SIZE(vekLZSSState, 327744);
VEK_SIZE(vekHuffEncState_BZ2, 7784);
VEK_SIZE(vekHuffDecState_BZ2, 9368);
VEK_SIZE(vekZfpState_32f, 568);
#endif /* __x86_64__ */

#endif /* VEKDC_TEST_HEADER_CHECKS_H */
