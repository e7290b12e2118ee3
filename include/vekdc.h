/*
 * vekdc.h - public C interface of vekDC, a library of data-compression
 * primitives.
 *
 * The library works only on memory the caller hands it: it allocates
 * nothing, performs no I/O, starts no threads and keeps no mutable global
 * data. Every state, table and work buffer belongs to the caller, who asks
 * the matching GetSize / GetStateSize / GetBufSize function how large it must
 * be, allocates it, initialises it through the library and passes it along
 * with the source and destination buffers on every call. One state serves
 * one call at a time; distinct states may be used concurrently from any
 * thread.
 *
 * Every function except vekdcGetLibVersion returns a vekStatus: 0 on
 * success, a negative value for an error, a positive value for a warning
 * (the call stopped early or did only some of the work; the documentation
 * of the function says which outputs are valid). Arguments are checked before any work, in this
 * order: required pointers (vekStatusNullPtrErr), lengths and sizes
 * (vekStatusSizeErr), values that must lie in a set or range
 * (vekStatusBadArgErr or a more precise code), and finally a state's
 * identifier word (vekStatusContextMismatchErr). When a check fails nothing
 * is written.
 *
 * Lengths passed by pointer are in/out: on entry the input available or the
 * destination capacity, on return the amount consumed or produced.
 *
 * Structure layouts and the 64-bit ABI
 * ------------------------------------
 * The layouts below are those of the i686 build, where a pointer takes
 * 4 bytes. On x86-64 every pointer field widens to 8 bytes; fields keep
 * their order, and the compiler's natural alignment inserts the padding that
 * the wider fields need. The sizes reported by the size functions grow by
 * the same amount, i.e. they always cover sizeof() of the structure:
 *
 *     structure                 i686     x86-64
 *     vekLibVersion               32         48
 *     vekInflateState           6952       6960
 *     vekLZSSState            327724     327744
 *     vekRLEState_BZ2            264        264
 *     vekHuffEncState_BZ2       7764       7784   (+ 2 bytes per 50-symbol group)
 *     vekHuffDecState_BZ2       9324       9368   (+ 1 byte per 50-symbol group)
 *     vekZfpState_32f            560        568
 *
 * Structures without pointers (vekDeflateFreqEntry, vekDeflateHuffCode,
 * vekLZ77LevelParams, vekRLEState_BZ2) are identical on both ABIs.
 */
#ifndef VEKDC_H
#define VEKDC_H

#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define VEKDC_API __attribute__((visibility("default")))
#define VEKDC_ALIGN8 __attribute__((aligned(8)))
#else
#define VEKDC_API
/* Other x86 compilers already align 64-bit members to 8 bytes. */
#define VEKDC_ALIGN8
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================== */
/* Status codes                                                             */
/* ======================================================================== */

/* Result of every function but vekdcGetLibVersion: a signed 32-bit value. */
typedef int32_t vekStatus;

enum {
    /* success */
    vekStatusOk = 0,
    /* a code-length limit could not be met within the builder's attempts */
    vekStatusErr = -1,
    /* input inconsistent with itself (symbol counts, state phase, offsets) */
    vekStatusBadDataErr = -2,
    /* a ZFP bit stream would pass the end of its buffer */
    vekStatusOutOfRangeErr = -4,
    /* an argument value is not one of the accepted values */
    vekStatusBadArgErr = -5,
    /* a length or size argument is out of its range */
    vekStatusSizeErr = -6,
    /* a required pointer is null */
    vekStatusNullPtrErr = -8,
    /* a state's identifier word does not match */
    vekStatusContextMismatchErr = -13,
    /* LZ4 acceleration factor below 1 */
    vekStatusAccelFactorErr = -16,
    /* negative shift count */
    vekStatusShiftErr = -32,
    /* compressed source data invalid (inflate, block-sorting decoders) */
    vekStatusSrcDataErr = -200,
    /* LZO input malformed, or decoding it would leave the given buffers */
    vekStatusCorruptStreamErr = -214,
    /* warning: the source ended before the result was complete */
    vekStatusSrcTooSmall = 32,
    /* warning: the destination filled before the whole source was processed */
    vekStatusDstTooSmall = 33,
    /* warning: the selective-sort forward transform ran out of its work limit */
    vekStatusSortLimitReached = 47
};

/* ======================================================================== */
/* Version                                                                  */
/* ======================================================================== */

/* Version record of the loaded library; static and read-only. */
typedef struct vekLibVersion {
    int32_t majorVersion;    /* 2021 */
    int32_t minorVersion;    /* 2 */
    int32_t updateNumber;    /* 0 */
    uint32_t revision;       /* build revision, also shown in versionText */
    char cpuTag[4];          /* processor-variant tag, zero-padded ("h9") */
    const char* libraryName; /* "vekDC AVX2 (h9)" */
    const char* versionText; /* "2021.2 (r0xf3439343)" */
    const char* buildDate;   /* "Feb 26 2021" */
} vekLibVersion;

/* Returns the address of the library's version record. Never null, the same
   address on every call, valid as long as the library is loaded. */
VEKDC_API const vekLibVersion* vekdcGetLibVersion(void);

/* ======================================================================== */
/* Checksums                                                                */
/* ======================================================================== */

/* Running checksums over byte buffers; each call updates *pCRC / *pAdler in
   place, so a stream may be fed in pieces of any size.

   veksCRC32_8u:     CRC-32 (reflected 0x04C11DB7). *pCRC is a finished value:
                     start from 0; "123456789" gives 0xCBF43926.
   veksCRC32C_8u:    CRC-32C (reflected 0x1EDC6F41), raw register without any
                     inversion: start from 0xFFFFFFFF and invert the result
                     yourself for the standard value. len must not be 0.
   veksAdler32_8u:   Adler-32 (s1 in bits 0-15, s2 in bits 16-31). A null
                     pSrc stores the initial value 1.
   veksCRC32_BZ2_8u: the bzip2 block CRC (0x04C11DB7, most significant bit
                     first). *pCRC is a finished value: start from 0. */
VEKDC_API vekStatus veksCRC32_8u(const uint8_t* pSrc, int32_t len, uint32_t* pCRC);
VEKDC_API vekStatus veksCRC32C_8u(const uint8_t* pSrc, uint32_t len, uint32_t* pCRC);
VEKDC_API vekStatus veksAdler32_8u(const uint8_t* pSrc, uint32_t len, uint32_t* pAdler);
VEKDC_API vekStatus veksCRC32_BZ2_8u(const uint8_t* pSrc, int32_t len, uint32_t* pCRC);

/* ======================================================================== */
/* Deflate: shared element types                                            */
/* ======================================================================== */

/* Symbol counter of the LZ77 stage. The upper half is never touched by the
   counting functions, so the same array can later receive the codes
   (see vekDeflateHuffCode, which has the same size and layout). */
typedef struct vekDeflateFreqEntry {
    uint16_t freq; /* use count, wraps at 16 bits */
    uint16_t len;  /* untouched by the counters; code length once codes are stored */
} vekDeflateFreqEntry;

/* Huffman code of one Deflate symbol: the code already bit-reversed, so that
   writing its len low bits least significant bit first yields the code in
   stream order. */
typedef struct vekDeflateHuffCode {
    uint16_t code;
    uint16_t len;
} vekDeflateHuffCode;

/* Search parameters of one compression level of the LZ77 stage. */
typedef struct vekLZ77LevelParams {
    int32_t maxChain;   /* candidates examined per position; 0: single probe */
    int32_t goodLength; /* a match this long cuts the chain to a quarter */
    int32_t niceLength; /* a match this long ends the search */
    int32_t lazyLength; /* greedy: longest match whose inner positions are
                           registered; lazy: pending length that stops searching */
} vekLZ77LevelParams;

/* ======================================================================== */
/* Deflate LZ77 stage                                                       */
/* ======================================================================== */

/* Turns input bytes into literal/length/distance pairs and counts the
   literal/length (286) and distance (30) symbols as it goes.

   The caller owns the whole encoder state: the stream position *pSrcIdx of
   the byte at *ppSrc, the history window (pWindow points just past the last
   history byte; at least winSize bytes of history lie before it), the hash
   tables pHashHead (hashSize entries) and pHashPrev (winSize entries) holding
   stream positions (initialise them to -winSize or less), the pair arrays
   pLitDst (literal, or match length - 3) / pDistDst (0 for a literal, else
   the distance) with *pDstLen free elements, and the frequency tables.
   winSize must lie in 256..32768 and hashSize in 256..65536, both powers of
   two. flush 0 or 1 keeps a tail of up to 261 bytes for the next call;
   flush 2 and above consume the whole input.

   veksDeflateLZ77_8u picks the level's parameters (comprLevel 0..29) and
   runs the greedy (veksDeflateLZ77Fast_8u) or the lazy
   (veksDeflateLZ77Slow_8u) engine; both engines may also be called directly
   with caller-chosen parameters. veksDeflateDictionarySet_8u preloads a
   dictionary into the window and the hash tables;
   veksDeflateUpdateHash_8u registers bytes that were not encoded by this
   stage (for example stored blocks). */
VEKDC_API vekStatus veksDeflateLZ77_8u(const uint8_t** ppSrc, uint32_t* pSrcLen, uint32_t* pSrcIdx,
                                       const uint8_t* pWindow, uint32_t winSize, int32_t* pHashHead,
                                       int32_t* pHashPrev, uint32_t hashSize,
                                       vekDeflateFreqEntry pLitFreqTable[286],
                                       vekDeflateFreqEntry pDistFreqTable[30], uint8_t* pLitDst,
                                       uint16_t* pDistDst, uint32_t* pDstLen, int32_t comprLevel,
                                       uint32_t flush);
VEKDC_API vekStatus veksDeflateLZ77Fast_8u(const uint8_t** ppSrc, uint32_t* pSrcLen,
                                           uint32_t* pSrcIdx, const uint8_t* pWindow,
                                           uint32_t winSize, int32_t* pHashHead, int32_t* pHashPrev,
                                           uint32_t hashSize, vekDeflateFreqEntry* pLitFreqTable,
                                           vekDeflateFreqEntry* pDistFreqTable, uint8_t* pLitDst,
                                           uint16_t* pDistDst, uint32_t* pDstLen,
                                           const vekLZ77LevelParams* pParams, uint32_t flush);
VEKDC_API vekStatus veksDeflateLZ77Slow_8u(const uint8_t** ppSrc, uint32_t* pSrcLen,
                                           uint32_t* pSrcIdx, const uint8_t* pWindow,
                                           uint32_t winSize, int32_t* pHashHead, int32_t* pHashPrev,
                                           uint32_t hashSize, vekDeflateFreqEntry* pLitFreqTable,
                                           vekDeflateFreqEntry* pDistFreqTable, uint8_t* pLitDst,
                                           uint16_t* pDistDst, uint32_t* pDstLen,
                                           const vekLZ77LevelParams* pParams, uint32_t flush);
VEKDC_API vekStatus veksDeflateDictionarySet_8u(const uint8_t* pDict, uint32_t dictLen,
                                                int32_t* pHashHead, uint32_t hashSize,
                                                int32_t* pHashPrev, uint8_t* pWindow,
                                                uint32_t winSize, int32_t comprLevel);
VEKDC_API vekStatus veksDeflateUpdateHash_8u(const uint8_t* pSrc, uint32_t srcIdx, uint32_t srcLen,
                                             int32_t* pHashHead, uint32_t hashSize,
                                             int32_t* pHashPrev, uint32_t winSize,
                                             int32_t comprLevel);

/* ======================================================================== */
/* Deflate Huffman stage                                                    */
/* ======================================================================== */

/* Writes the pairs produced by the LZ77 stage as Deflate symbols with the
   caller's code tables (286 literal/length codes, 30 distance codes),
   least significant bit first. Pending bits travel between calls in *pCode
   (oldest bit in bit 0) and *pCodeLenBits (below 8 after every call);
   *pDstIdx is the byte offset in pDst of the next whole byte. pDst has no
   length: the caller provides room for up to 48 bits per pair plus the
   pending bits. Block headers and the end-of-block code are the caller's. */
VEKDC_API vekStatus veksDeflateHuff_8u(const uint8_t* pLitSrc, const uint16_t* pDistSrc,
                                       uint32_t srcLen, uint16_t* pCode, uint32_t* pCodeLenBits,
                                       const vekDeflateHuffCode pLitHuffCodes[286],
                                       const vekDeflateHuffCode pDistHuffCodes[30], uint8_t* pDst,
                                       uint32_t* pDstIdx);

/* ======================================================================== */
/* Fastest Deflate                                                          */
/* ======================================================================== */

/* Single-pass Deflate encoder: one hash probe per position, codes written
   straight to the destination, either with the fixed codes
   (veksDeflateLZ77Fastest_8u) or with a dynamic code set prepared ahead of
   time:
     veksDeflateLZ77FastestGetStat_8u       counts symbols with the encoder's
                                            own match rule (286 + 30 counters),
     veksDeflateLZ77FastestGenHuffTable_8u  turns counts into complete code
                                            tables (vekStatusErr if a length
                                            limit could not be met),
     veksDeflateLZ77FastestGenHeader_8u     writes the dynamic block header
                                            for those tables once,
     veksDeflateLZ77FastestPrecompHeader_8u encodes, placing the stored header
                                            at the start of the stream
                                            (*pSrcIdx 0); null code tables
                                            select the fixed-code encoder.
   pDst is where this call's output begins; *pDstIdx counts the bytes of the
   whole destination of dstLen bytes and grows by the bytes written. The
   pending bits (*pCode, *pCodeLenBits) are the first bits of the output.
   The end-of-block code and the final padding are the caller's. */
VEKDC_API vekStatus veksDeflateLZ77FastestGetStat_8u(const uint8_t** ppSrc, uint32_t* pSrcLen,
                                                     uint32_t* pSrcIdx, const uint8_t* pWindow,
                                                     uint32_t winSize, int32_t* pHashHead,
                                                     uint32_t hashSize, uint32_t pLitStat[286],
                                                     uint32_t pDistStat[30], uint32_t flush);
VEKDC_API vekStatus veksDeflateLZ77FastestGenHuffTable_8u(const uint32_t pLitStat[286],
                                                          const uint32_t pDistStat[30],
                                                          vekDeflateHuffCode pLitCodes[286],
                                                          vekDeflateHuffCode pDistCodes[30]);
VEKDC_API vekStatus veksDeflateLZ77FastestGenHeader_8u(const vekDeflateHuffCode pLitCodes[286],
                                                       const vekDeflateHuffCode pDistCodes[30],
                                                       uint8_t* pHeader, uint32_t* pHeaderLen,
                                                       uint32_t* pHeaderLenBits);
VEKDC_API vekStatus veksDeflateLZ77FastestPrecompHeader_8u(
    const uint8_t** ppSrc, uint32_t* pSrcLen, uint32_t* pSrcIdx, const uint8_t* pWindow,
    uint32_t winSize, int32_t* pHashHead, uint32_t hashSize, uint16_t* pCode,
    uint32_t* pCodeLenBits, uint8_t* pDst, uint32_t dstLen, uint32_t* pDstIdx,
    const vekDeflateHuffCode* pLitCodes, const vekDeflateHuffCode* pDistCodes,
    const uint8_t* pHeader, int32_t headerLenBits, uint32_t flush);
VEKDC_API vekStatus veksDeflateLZ77Fastest_8u(const uint8_t** ppSrc, uint32_t* pSrcLen,
                                              uint32_t* pSrcIdx, const uint8_t* pWindow,
                                              uint32_t winSize, int32_t* pHashHead,
                                              uint32_t hashSize, uint16_t* pCode,
                                              uint32_t* pCodeLenBits, uint8_t* pDst,
                                              uint32_t dstLen, uint32_t* pDstIdx, uint32_t flush);

/* ======================================================================== */
/* Inflate                                                                  */
/* ======================================================================== */

/* Values of vekInflateState.tableType: which tables decode the block. */
enum {
    vekInflateTableFixed = 0,   /* built-in table of the fixed Deflate codes */
    vekInflateTableGeneral = 1, /* two-level tables stored in the state */
    vekInflateTableShort = 2    /* single-level tables stored in the state */
};

/* Where veksInflate_8u stopped (and, on entry, where it resumes). */
typedef int32_t vekInflateMode;
enum {
    vekInflateModeBlockEnd = 0, /* the end-of-block symbol was decoded */
    vekInflateModeSymbol = 1,   /* stopped at a symbol boundary */
    vekInflateModeResume = 2    /* stopped inside a symbol; progress saved in
                                   the state, resumed when passed in again */
};

/* Size of the decoding tables held in vekInflateState. */
#define VEKDC_INFLATE_TABLE_BYTES 6912

/* Inflate state, allocated by the caller (no size function: use sizeof).
   The caller sets pWindow and winSize, and tableType for fixed-code blocks;
   veksInflateBuildHuffTable fills the tables for dynamic blocks. */
typedef struct vekInflateState {
    const uint8_t* pWindow;                    /* circular history window, or null */
    uint32_t winSize;                          /* window size in bytes, a power of two */
    int32_t tableType;                         /* vekInflateTableFixed / General / Short */
    uint32_t reserved;                         /* not used by the decoder */
    int32_t step;                              /* saved decoding step (mode vekInflateModeResume) */
    uint32_t pendingValue;                     /* saved literal or remaining copy length */
    uint32_t pendingExtra;                     /* saved extra-bit count (low 4 bits) */
    uint32_t pendingDist;                      /* saved distance */
    uint32_t maxLitLen;                        /* longest literal/length code (short tables) */
    uint32_t maxDistLen;                       /* longest distance code (short tables) */
    uint8_t tables[VEKDC_INFLATE_TABLE_BYTES]; /* decoding tables */
} vekInflateState;

/* veksInflate_8u decodes the Huffman-coded body of a Deflate block until the
   end-of-block symbol, the end of the input or the end of the output; every
   call may stop at any bit and the next continues where it stopped.
   Unused input bits travel in *pCode (oldest in bit 0) / *pCodeLenBits
   (0..32). dstIdx tells how many bytes already produced lie before *ppDst
   in the same buffer; older history comes from the state's window, in which
   winIdx is the index just past the newest byte. On vekStatusOk, *pMode
   says where decoding stopped; the caller advances dstIdx and winIdx itself.

   veksInflateBuildHuffTable builds the decoding tables for a dynamic block
   from nLitCodeLens (up to 288) literal/length code lengths followed by
   nDistCodeLens (up to 30) distance code lengths. */
VEKDC_API vekStatus veksInflate_8u(const uint8_t** ppSrc, uint32_t* pSrcLen, uint32_t* pCode,
                                   uint32_t* pCodeLenBits, uint32_t winIdx, uint8_t** ppDst,
                                   uint32_t* pDstLen, uint32_t dstIdx, vekInflateMode* pMode,
                                   vekInflateState* pState);
VEKDC_API vekStatus veksInflateBuildHuffTable(const uint16_t* pCodeLens, uint32_t nLitCodeLens,
                                              uint32_t nDistCodeLens, vekInflateState* pState);

/* ======================================================================== */
/* LZ4 block encoders                                                       */
/* ======================================================================== */

/* Each call turns one buffer into one self-contained LZ4 block (no header,
   no size, no checksum). The 16384-byte hash table is the caller's
   (veksEncodeLZ4HashTableGetSize_8u); these encoders clear it themselves.

   veksEncodeLZ4_8u      unchecked: the caller provides room for the
                         largest possible block; *pDstLen is output only.
   veksEncodeLZ4Safe_8u  checked: *pSrcLen / *pDstLen are the source length
                         and the capacity on entry, the bytes encoded and the
                         block length on return; vekStatusDstTooSmall when
                         the destination filled first (the block is still
                         complete and decodable).
   veksEncodeLZ4Fast_8u  unchecked, with an acceleration factor >= 1 that
                         trades ratio for speed (1 = veksEncodeLZ4_8u). */
VEKDC_API vekStatus veksEncodeLZ4HashTableGetSize_8u(int32_t* pHashTableSize);
VEKDC_API vekStatus veksEncodeLZ4HashTableInit_8u(uint8_t* pHashTable, int32_t srcLen);
VEKDC_API vekStatus veksEncodeLZ4_8u(const uint8_t* pSrc, int32_t srcLen, uint8_t* pDst,
                                     int32_t* pDstLen, uint8_t* pHashTable);
VEKDC_API vekStatus veksEncodeLZ4Safe_8u(const uint8_t* pSrc, int32_t* pSrcLen, uint8_t* pDst,
                                         int32_t* pDstLen, uint8_t* pHashTable);
VEKDC_API vekStatus veksEncodeLZ4Fast_8u(const uint8_t* pSrc, int32_t srcLen, uint8_t* pDst,
                                         int32_t* pDstLen, uint8_t* pHashTable,
                                         int32_t acceleration);

/* ======================================================================== */
/* LZ4 dictionary encoding                                                  */
/* ======================================================================== */

/* LZ4 blocks whose matches may also refer to bytes before the source: a
   prefix lying in memory right before pSrc (pDict null), or a separate
   dictionary of dictLen bytes. srcIdx is the length of the history before
   this block. The 16384-byte hash table persists from call to call: clear it
   once per stream with veksEncodeLZ4DictHashTableInit_8u, optionally record
   a dictionary with veksEncodeLZ4LoadDict_8u, then encode block by block.
   veksEncodeLZ4DictSafe_8u has the in/out lengths and statuses of
   veksEncodeLZ4Safe_8u. Decode with veksDecodeLZ4Dict_8u. */
VEKDC_API vekStatus veksEncodeLZ4DictHashTableInit_8u(uint8_t* pHashTable, int32_t srcLen);
VEKDC_API vekStatus veksEncodeLZ4LoadDict_8u(uint8_t* pHashTable, const uint8_t* pDict,
                                             int32_t dictLen);
VEKDC_API vekStatus veksEncodeLZ4Dict_8u(const uint8_t* pSrc, int32_t srcIdx, int32_t srcLen,
                                         uint8_t* pDst, int32_t* pDstLen, uint8_t* pHashTable,
                                         const uint8_t* pDict, int32_t dictLen);
VEKDC_API vekStatus veksEncodeLZ4DictSafe_8u(const uint8_t* pSrc, int32_t srcIdx, int32_t* pSrcLen,
                                             uint8_t* pDst, int32_t* pDstLen, uint8_t* pHashTable,
                                             const uint8_t* pDict, int32_t dictLen);

/* ======================================================================== */
/* LZ4 high-compression encoder                                             */
/* ======================================================================== */

/* Same block format, found by hash chains and a lookahead over overlapping
   matches. ppHashTables points at two table pointers, the head table and
   the chain table, whose sizes veksEncodeLZ4HCHashTableGetSize_8u reports;
   they persist across the blocks of one stream. level 1..9 (0 means 9,
   negative means 1, above 9 means 9). *pDstLen is the capacity on entry and
   the block length on return; vekStatusDstTooSmall leaves an incomplete
   block and both lengths unchanged. */
VEKDC_API vekStatus veksEncodeLZ4HCHashTableGetSize_8u(int32_t* pHashTableSize,
                                                       int32_t* pPrevTableSize);
VEKDC_API vekStatus veksEncodeLZ4HCHashTableInit_8u(uint8_t** ppHashTables);
VEKDC_API vekStatus veksEncodeLZ4HC_8u(const uint8_t* pSrc, int32_t srcIdx, int32_t* pSrcLen,
                                       uint8_t* pDst, int32_t* pDstLen, uint8_t** ppHashTables,
                                       const uint8_t* pDict, int32_t dictLen, int32_t level);

/* ======================================================================== */
/* LZ4 block decoders                                                       */
/* ======================================================================== */

/* Decode one LZ4 block of srcLen bytes; the input is treated as untrusted.
   *pDstLen is the capacity on entry and the bytes decoded on return.
   veksDecodeLZ4Dict_8u writes from pDst + dstIdx and lets matches reach
   back into earlier output in pDst and into a dictionary that stands for
   the first dictLen bytes of pDst (usually dstIdx = dictLen); *pSrcLen
   returns the bytes consumed. A window too small gives vekStatusDstTooSmall,
   an offset before pDst vekStatusBadDataErr. */
VEKDC_API vekStatus veksDecodeLZ4_8u(const uint8_t* pSrc, int32_t srcLen, uint8_t* pDst,
                                     int32_t* pDstLen);
VEKDC_API vekStatus veksDecodeLZ4Dict_8u(const uint8_t* pSrc, int32_t* pSrcLen, uint8_t* pDst,
                                         int32_t dstIdx, int32_t* pDstLen, const uint8_t* pDict,
                                         int32_t dictLen);

/* ======================================================================== */
/* LZO1X                                                                    */
/* ======================================================================== */

/* Encoder state: an opaque block whose size veksEncodeLZOGetSize reports,
   aligned to at least 4 bytes (malloc alignment is fine). */
typedef struct vekLZOState_8u vekLZOState_8u;

/* Compresses a whole buffer per call into an LZO1X stream ending with the
   marker 11 00 00. The method, chosen at init, selects the matcher: 0 or 1
   probe every position, 2 is the faster piecewise matcher. maxInputLen is
   accepted for symmetry and not used. *pDstLen is the capacity on entry and
   the stream length on return; vekStatusDstTooSmall means the stream is
   incomplete. */
VEKDC_API vekStatus veksEncodeLZOGetSize(int32_t method, uint32_t maxInputLen, uint32_t* pSize);
VEKDC_API vekStatus veksEncodeLZOInit_8u(int32_t method, uint32_t maxInputLen,
                                         vekLZOState_8u* pState);
VEKDC_API vekStatus veksEncodeLZO_8u(const uint8_t* pSrc, uint32_t srcLen, uint8_t* pDst,
                                     uint32_t* pDstLen, vekLZOState_8u* pState);

/* Decode an LZO1X stream (or a chunked multi-stream container) into pDst;
   *pDstLen is the capacity on entry and the bytes decoded on return.
   veksDecodeLZOSafe_8u validates every read, write and back-reference and
   reports vekStatusCorruptStreamErr, leaving *pDstLen as it was.
   veksDecodeLZO_8u TRUSTS its input: it checks nothing inside a token and
   may read or write outside the buffers on a malformed stream or one that
   decodes to more than *pDstLen. Use it only on streams you produced or
   have already validated; use veksDecodeLZOSafe_8u on anything else.
   (Containers are decoded by the validating code in both.) */
VEKDC_API vekStatus veksDecodeLZO_8u(const uint8_t* pSrc, uint32_t srcLen, uint8_t* pDst,
                                     uint32_t* pDstLen);
VEKDC_API vekStatus veksDecodeLZOSafe_8u(const uint8_t* pSrc, uint32_t srcLen, uint8_t* pDst,
                                         uint32_t* pDstLen);

/* ======================================================================== */
/* LZSS                                                                     */
/* ======================================================================== */

/* Streaming LZSS state, shared by the encoder and the decoder (one at a
   time). The size veksLZSSGetSize_8u reports is sizeof(vekLZSSState). */
typedef struct vekLZSSState {
    const int16_t* pHashRand; /* encoder: hash table; decoder: null */
    int32_t* pPrev;           /* encoder: chain table (area1); decoder: null */
    int32_t* pHead;           /* encoder: head table (area2); decoder: null */
    uint8_t* pWindowBase;     /* encoder: area3; decoder: area1 (32 KB history) */
    uint8_t* pWindow;         /* encoder: window origin for absolute positions */
    int32_t position;         /* encoder: stream position of the next input byte
                                 (shifted back by a multiple of 32768 near 2^30) */
    int32_t bitCount;         /* valid bits in the bit buffer */
    uint32_t bitBufHi;        /* bit buffer, next bit in the most significant bit */
    uint32_t bitBufLo;        /* encoder: continuation of the bit buffer */
    int32_t matchOffset;      /* decoder: distance of a match cut short */
    int32_t matchRemain;      /* decoder: bytes of that match still owed */
    int32_t area1[32768];     /* encoder chain table / decoder history window */
    int32_t area2[32768];     /* encoder head table */
    uint8_t area3[65536];     /* encoder history window */
} vekLZSSState;

/* A bit stream of 9-bit literals and 24-bit matches over a 32 KB window,
   most significant bit first. Source and destination are passed by
   reference (pointer and remaining length) and advanced in place; a full
   destination returns vekStatusDstTooSmall so the caller can continue with a
   new buffer. The encoder ends a stream with veksEncodeLZSSFlush_8u (repeat
   until vekStatusOk), then must be initialised again. */
VEKDC_API vekStatus veksLZSSGetSize_8u(int32_t* pLZSSStateSize);
VEKDC_API vekStatus veksEncodeLZSSInit_8u(vekLZSSState* pLZSSState);
VEKDC_API vekStatus veksEncodeLZSS_8u(uint8_t** ppSrc, int32_t* pSrcLen, uint8_t** ppDst,
                                      int32_t* pDstLen, vekLZSSState* pLZSSState);
VEKDC_API vekStatus veksEncodeLZSSFlush_8u(uint8_t** ppDst, int32_t* pDstLen,
                                           vekLZSSState* pLZSSState);
VEKDC_API vekStatus veksDecodeLZSSInit_8u(vekLZSSState* pLZSSState);
VEKDC_API vekStatus veksDecodeLZSS_8u(uint8_t** ppSrc, int32_t* pSrcLen, uint8_t** ppDst,
                                      int32_t* pDstLen, vekLZSSState* pLZSSState);

/* ======================================================================== */
/* Block sorting: run-length stage and symbol dictionary                    */
/* ======================================================================== */

/* Run-length state, one layout for both directions. */
typedef struct vekRLEState_BZ2 {
    uint8_t inUse[256]; /* encoder: 1 for every byte value written so far */
    int32_t lastByte;   /* previous byte, -1 when none may continue a run */
    int32_t runLength;  /* encoder: equal bytes counted; decoder: copies owed */
} vekRLEState_BZ2;

/* First stage of the block-sorting compressor: a run of 4 to 259 equal
   bytes b becomes b b b b (count - 4). Input and output may come in pieces;
   an open run is closed by the flush. The encoder records the byte values
   it has written (veksRLEGetInUseTable_8u); veksReduceDictionary_8u_I maps
   bytes onto the in-use alphabet (returning its size) and
   veksExpandDictionary_8u_I maps them back. */
VEKDC_API vekStatus veksRLEGetSize_BZ2_8u(int32_t* pSize);
VEKDC_API vekStatus veksEncodeRLEInit_BZ2_8u(vekRLEState_BZ2* pState);
VEKDC_API vekStatus veksEncodeRLE_BZ2_8u(const uint8_t** ppSrc, int32_t* pSrcLen, uint8_t* pDst,
                                         int32_t* pDstLen, vekRLEState_BZ2* pState);
VEKDC_API vekStatus veksEncodeRLEFlush_BZ2_8u(uint8_t* pDst, int32_t* pDstLen,
                                              vekRLEState_BZ2* pState);
VEKDC_API vekStatus veksRLEGetInUseTable_8u(uint8_t inUse[256], const vekRLEState_BZ2* pState);
VEKDC_API vekStatus veksDecodeRLEStateInit_BZ2_8u(vekRLEState_BZ2* pState);
VEKDC_API vekStatus veksDecodeRLEState_BZ2_8u(const uint8_t** ppSrc, int32_t* pSrcLen,
                                              uint8_t** ppDst, int32_t* pDstLen,
                                              vekRLEState_BZ2* pState);
VEKDC_API vekStatus veksDecodeRLEStateFlush_BZ2_8u(vekRLEState_BZ2* pState, uint8_t** ppDst,
                                                   int32_t* pDstLen);
VEKDC_API vekStatus veksReduceDictionary_8u_I(const uint8_t inUse[256], uint8_t* pSrcDst,
                                              int32_t len, int32_t* pSizeDictionary);
VEKDC_API vekStatus veksExpandDictionary_8u_I(const uint8_t inUse[256], uint8_t* pSrcDst,
                                              int32_t len, int32_t sizeDictionary);

/* ======================================================================== */
/* Block sorting: Burrows-Wheeler transform                                 */
/* ======================================================================== */

/* Sorting method of veksBWTFwd_SelectSort_8u (a signed 32-bit value). */
typedef int32_t vekBWTSortHint;
enum {
    vekBWTSortLimited = 0,   /* two-stage sort under a work limit; may return
                                vekStatusSortLimitReached */
    vekBWTSortUnlimited = 1, /* two-stage sort without a limit */
    vekBWTSortSuffix = 2,    /* suffix sort only, in time linear in len
                                whatever the block's repeats */
    vekBWTSortAuto = 3       /* limited two-stage sort, falling back to
                                the suffix sort */
};

/* Forward transform of a block of len bytes: pDst receives the last column
   of the sorted rotations and *pIndex the primary index. Work happens in the
   caller's buffer pBuf, sized by veksBWTFwdGetSize_8u (for veksBWTFwd_8u,
   which chooses its method itself) or by veksBWTFwdGetBufSize_SelectSort_8u
   (for the given hint). */
VEKDC_API vekStatus veksBWTFwdGetSize_8u(int32_t len, int32_t* pSize);
VEKDC_API vekStatus veksBWTFwd_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len, int32_t* pIndex,
                                  uint8_t* pBuf);
VEKDC_API vekStatus veksBWTFwdGetBufSize_SelectSort_8u(uint32_t len, uint32_t* pSize,
                                                       vekBWTSortHint hint);
VEKDC_API vekStatus veksBWTFwd_SelectSort_8u(const uint8_t* pSrc, uint8_t* pDst, uint32_t len,
                                             uint32_t* pIndex, uint8_t* pBuf, vekBWTSortHint hint);

/* Inverse transform: rebuilds the block from the last column and the
   primary index, in a work buffer of veksBWTInvGetSize_8u bytes. */
VEKDC_API vekStatus veksBWTInvGetSize_8u(int32_t len, int32_t* pSize);
VEKDC_API vekStatus veksBWTInv_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len, int32_t index,
                                  uint8_t* pBuf);

/* ======================================================================== */
/* Block sorting: move-to-front                                             */
/* ======================================================================== */

/* Move-to-front state: an opaque 256-byte list (veksMTFGetSize_8u). An
   initialised state serves either direction; a block may be recoded in
   several calls. Re-initialise before each independent block. */
typedef struct vekMTFState_8u vekMTFState_8u;

VEKDC_API vekStatus veksMTFGetSize_8u(int32_t* pSize);
VEKDC_API vekStatus veksMTFInit_8u(vekMTFState_8u* pState);
VEKDC_API vekStatus veksMTFFwd_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len,
                                  vekMTFState_8u* pState);
VEKDC_API vekStatus veksMTFInv_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len,
                                  vekMTFState_8u* pState);

/* ======================================================================== */
/* Block sorting: zero-run coding                                           */
/* ======================================================================== */

/* Zero runs become RUNA (0) / RUNB (1) digits, every other byte v the symbol
   v + 1 (16-bit symbols). The encoder also adds the count of every symbol it
   writes to pFreqTable (at least 257 entries; the caller clears it and
   accounts for the end-of-block symbol). One complete block per call. */
VEKDC_API vekStatus veksEncodeZ1Z2_BZ2_8u16u(const uint8_t** ppSrc, int32_t* pSrcLen,
                                             uint16_t* pDst, int32_t* pDstLen,
                                             uint32_t* pFreqTable);
VEKDC_API vekStatus veksDecodeZ1Z2_BZ2_16u8u(const uint16_t** ppSrc, int32_t* pSrcLen,
                                             uint8_t* pDst, int32_t* pDstLen);

/* ======================================================================== */
/* Block sorting: multi-table Huffman encoder                               */
/* ======================================================================== */

/* Huffman encoder state. Its size is reported by
   veksEncodeHuffGetSize_BZ2_16u8u: this fixed portion, then, at offset
   sizeof(vekHuffEncState_BZ2), the selectors followed by their move-to-front
   ranks (nSelectors bytes each). The three pointers point into the state
   itself and are set by Init. */
typedef struct vekHuffEncState_BZ2 {
    int32_t alphaSize;       /* symbols, end-of-block included (at most 258) */
    int32_t nSelectors;      /* number of 50-symbol groups */
    int32_t nGroups;         /* number of tables, 2..6 */
    uint32_t* pCodes;        /* -> codes */
    uint8_t* pLengths;       /* -> lengths */
    uint8_t* pSelectors;     /* -> selectors; selectorsMtf follow them */
    uint32_t codes[6][258];  /* code of each symbol per table, right-aligned */
    uint8_t lengths[6][258]; /* code length of each symbol per table (1..17) */
} vekHuffEncState_BZ2;

/* Fits 2 to 6 Huffman tables to a block of symbols (Init), writes the packed
   table context (Pack) and the coded symbols (EncodeHuff), most significant
   bit first through the caller's accumulator: *pCode holds pending bits
   left-aligned, *pCodeLenBits their count. Start a stream with both zero
   and write out the pending bits yourself after the last call.
   vekStatusDstTooSmall means the destination was too small and the block
   must be coded again. */
VEKDC_API vekStatus veksEncodeHuffGetSize_BZ2_16u8u(int32_t len, int32_t* pSize);
VEKDC_API vekStatus veksEncodeHuffInit_BZ2_16u8u(int32_t alphaSize, const uint32_t* pFreq,
                                                 const uint16_t* pSrc, int32_t len,
                                                 vekHuffEncState_BZ2* pState);
VEKDC_API vekStatus veksPackHuffContext_BZ2_16u8u(uint32_t* pCode, int32_t* pCodeLenBits,
                                                  uint8_t* pDst, int32_t* pDstLen,
                                                  vekHuffEncState_BZ2* pState);
VEKDC_API vekStatus veksEncodeHuff_BZ2_16u8u(uint32_t* pCode, int32_t* pCodeLenBits,
                                             const uint16_t** ppSrc, int32_t* pSrcLen,
                                             uint8_t* pDst, int32_t* pDstLen,
                                             vekHuffEncState_BZ2* pState);

/* ======================================================================== */
/* Block sorting: multi-table Huffman decoder and block decoder             */
/* ======================================================================== */

/* Huffman decoder state. Its size is reported by
   veksDecodeHuffGetSize_BZ2_8u16u: this fixed portion, then, at offset
   sizeof(vekHuffDecState_BZ2), one selector byte per 50-symbol group. The
   nine pointers point into the state itself and are set by Init.
   A context may announce up to 18002 selectors (the count of the largest
   block, 900000 bytes) and more are refused; size the state for at least
   900100 symbols when the stream is not trusted. */
typedef struct vekHuffDecState_BZ2 {
    int32_t unpackPhase;          /* 0: counts next, 1: selectors, 2: tables */
    int32_t nGroups;              /* number of tables, 2..6 */
    int32_t tableCounter;         /* tables completely read */
    int32_t nSelectors;           /* selectors announced */
    int32_t groupCounter;         /* selectors read / current 50-symbol group */
    int32_t alphaSize;            /* alphabet size; end-of-block is alphaSize - 1 */
    int32_t symbolCounter;        /* next symbol whose length is read */
    int32_t groupPosition;        /* symbols already decoded in the current group */
    int32_t currentLength;        /* running code length while reading a table */
    uint8_t* pSelectors;          /* -> selectors (after the fixed portion) */
    uint16_t* pFastSymbol;        /* -> fastSymbol */
    uint8_t* pFastLength;         /* -> fastLength */
    uint32_t* pFirstCode;         /* -> firstCode */
    uint8_t* pLongBase;           /* -> longBase */
    uint16_t* pLongSymbols;       /* -> longSymbols */
    uint8_t* pLongLevels;         /* -> longLevels */
    int32_t* pCurLengths;         /* -> curLengths */
    int32_t* pLengthCounts;       /* -> lengthCounts */
    int32_t curLengths[258];      /* lengths of the table being read */
    int32_t lengthCounts[21];     /* codes of each length 0..20 in that table */
    uint32_t firstCode[6][13];    /* left-aligned first code of lengths 9..21 */
    uint16_t fastSymbol[6][258];  /* symbol for each 8-bit prefix (256 used) */
    uint16_t longSymbols[6][258]; /* symbols with codes above 8 bits */
    uint8_t fastLength[6][258];   /* code length for each 8-bit prefix */
    uint8_t longBase[6][13];      /* first longSymbols index of lengths 9..21 */
    uint8_t longLevels[6];        /* lengths above 8 in use per table */
} vekHuffDecState_BZ2;

/* veksUnpackHuffContext_BZ2_8u16u reads a packed table context and builds
   the decoding tables; veksDecodeHuff_BZ2_8u16u decodes symbols up to the
   end-of-block symbol (stored but not counted). Both resume across calls
   when the source runs out (vekStatusSrcTooSmall); source bytes enter the
   caller's accumulator (*pCode left-aligned, *pCodeLenBits pending bits).

   veksDecodeBlock_BZ2_16u8u undoes zero-run coding, move-to-front, the
   symbol dictionary and the inverse transform of one block in one pass,
   in a work buffer of veksDecodeBlockGetSize_BZ2_8u bytes (blocks below
   2^24 bytes). *pDstLen is the capacity on entry and the block length on
   return. */
VEKDC_API vekStatus veksDecodeHuffGetSize_BZ2_8u16u(int32_t len, int32_t* pSize);
VEKDC_API vekStatus veksDecodeHuffInit_BZ2_8u16u(int32_t alphaSize, vekHuffDecState_BZ2* pState);
VEKDC_API vekStatus veksUnpackHuffContext_BZ2_8u16u(uint32_t* pCode, int32_t* pCodeLenBits,
                                                    const uint8_t** ppSrc, int32_t* pSrcLen,
                                                    vekHuffDecState_BZ2* pState);
VEKDC_API vekStatus veksDecodeHuff_BZ2_8u16u(uint32_t* pCode, int32_t* pCodeLenBits,
                                             const uint8_t** ppSrc, int32_t* pSrcLen,
                                             uint16_t* pDst, int32_t* pDstLen,
                                             vekHuffDecState_BZ2* pState);
VEKDC_API vekStatus veksDecodeBlockGetSize_BZ2_8u(uint32_t blockSize, int32_t* pSize);
VEKDC_API vekStatus veksDecodeBlock_BZ2_16u8u(const uint16_t* pSrc, int32_t srcLen, uint8_t* pDst,
                                              int32_t* pDstLen, int32_t index, int32_t dictSize,
                                              const uint8_t inUse[256], uint8_t* pBuf);

/* ======================================================================== */
/* ZFP                                                                      */
/* ======================================================================== */

/* ZFP coding state, shared by the encoder and the decoder. The size the
   state-size functions report is sizeof(vekZfpState_32f). bitBuffer is kept
   8-byte aligned on every ABI, which rounds the i686 state up to 560 bytes. */
typedef struct vekZfpState_32f {
    uint32_t idCtx;                  /* identifier word written by the initialisers */
    int32_t minBits;                 /* minimum bits per block (padding) */
    int32_t maxBits;                 /* maximum bits per block, header included */
    int32_t maxPrec;                 /* maximum number of bit planes per block */
    int32_t minExp;                  /* exponent bound on precision (fixed accuracy) */
    int32_t bitCount;                /* bits pending (encoder) or unread (decoder) in bitBuffer */
    uint64_t bitBuffer VEKDC_ALIGN8; /* stream word being filled, from bit 0 up */
    uint8_t* pCur;                   /* next stream byte to store or load */
    uint8_t* pStart;                 /* first byte of the stream buffer */
    uint8_t* pEnd;                   /* one past the last byte of the stream buffer */
    float fBlock[64];                /* block in progress, element x + 4y + 16z */
    int32_t iBlock[64];              /* its integer coefficients */
} vekZfpState_32f;

/* Three-dimensional single-precision arrays are coded one 4x4x4 block per
   call into (or from) a stream buffer held in the state. Modes follow from
   the four parameters: minBits = maxBits gives fixed rate, a small maxPrec
   fixed precision, and the accuracy functions derive minExp from a
   tolerance (fixed accuracy). A decoder must use the parameters the encoder
   used. Calling order: state size, allocate, Init (or InitLong), optionally
   Set / SetAccuracy, one block call per block; the encoder ends with Flush
   and then asks for the compressed size. The Decode* configuration
   functions behave as the matching Encode* functions over the compressed
   buffer; GetDecompressedSize reports the source bytes loaded so far. */
VEKDC_API vekStatus veksEncodeZfpGetStateSize_32f(int32_t* pSize);
VEKDC_API vekStatus veksEncodeZfpInit_32f(uint8_t* pDst, int32_t dstLen, vekZfpState_32f* pState);
VEKDC_API vekStatus veksEncodeZfpInitLong_32f(uint8_t* pDst, int64_t dstLen,
                                              vekZfpState_32f* pState);
VEKDC_API vekStatus veksEncodeZfpSet_32f(int32_t minBits, int32_t maxBits, int32_t maxPrec,
                                         int32_t minExp, vekZfpState_32f* pState);
VEKDC_API vekStatus veksEncodeZfpSetAccuracy_32f(double maxError, vekZfpState_32f* pState);
VEKDC_API vekStatus veksEncodeZfpGetCompressedSize_32f(const vekZfpState_32f* pState,
                                                       int32_t* pSize);
VEKDC_API vekStatus veksEncodeZfpGetCompressedSizeLong_32f(const vekZfpState_32f* pState,
                                                           int64_t* pSize);
VEKDC_API vekStatus veksEncodeZfpGetCompressedBitSize_32f(const vekZfpState_32f* pState,
                                                          int64_t* pSize);
VEKDC_API vekStatus veksEncodeZfpFlush_32f(vekZfpState_32f* pState);
VEKDC_API vekStatus veksDecodeZfpGetStateSize_32f(int32_t* pSize);
VEKDC_API vekStatus veksDecodeZfpInit_32f(const uint8_t* pSrc, int32_t srcLen,
                                          vekZfpState_32f* pState);
VEKDC_API vekStatus veksDecodeZfpInitLong_32f(const uint8_t* pSrc, int64_t srcLen,
                                              vekZfpState_32f* pState);
VEKDC_API vekStatus veksDecodeZfpSet_32f(int32_t minBits, int32_t maxBits, int32_t maxPrec,
                                         int32_t minExp, vekZfpState_32f* pState);
VEKDC_API vekStatus veksDecodeZfpSetAccuracy_32f(double maxError, vekZfpState_32f* pState);
VEKDC_API vekStatus veksDecodeZfpGetDecompressedSize_32f(const vekZfpState_32f* pState,
                                                         int32_t* pSize);
VEKDC_API vekStatus veksDecodeZfpGetDecompressedSizeLong_32f(const vekZfpState_32f* pState,
                                                             int64_t* pSize);

/* Encodes one 4x4x4 block whose element (x, y, z) is read at byte address
   pSrc + z*srcPlaneStep + y*srcStep + 4x, appending its bits to the stream.
   vekStatusOutOfRangeErr when a stream word no longer fits. */
VEKDC_API vekStatus veksEncodeZfp444_32f(const float* pSrc, int32_t srcStep, int32_t srcPlaneStep,
                                         vekZfpState_32f* pState);

/* Decodes the next block into pDst + z*dstPlaneStep + y*dstStep + 4x. Note
   the argument order: the state comes first. vekStatusOutOfRangeErr when the
   stream ends before the block does. */
VEKDC_API vekStatus veksDecodeZfp444_32f(vekZfpState_32f* pState, float* pDst, int32_t dstStep,
                                         int32_t dstPlaneStep);

#ifdef __cplusplus
}
#endif

#endif /* VEKDC_H */
