// Bit output of the bzip2-format Huffman encoder: the packed table context
// and the coded symbols, most significant bit first through the caller's
// 32-bit accumulator (pending bits left-aligned).
//
// Whole bytes leave the accumulator before each append, never after the
// last one, so a finished call may leave up to 7 + 17 bits pending. When an
// append would need more than 32 pending bits (the destination is full) the
// call stops there: everything it reports (symbols consumed, bytes written,
// the accumulator) describes a valid prefix of the stream.
#include <cstdint>
#include <cstring>

#include "bwt/huff_bz2.h"

namespace vek::bwt {
namespace {

constexpr int32_t kSelectorListSize = kBz2MaxTables;

struct BitWriter {
    uint32_t acc;
    int32_t pend;
    uint8_t* dst;
    int32_t written;
    int32_t cap;

    void flush() {
        while (pend >= 8 && written < cap) {
            dst[written++] = static_cast<uint8_t>(acc >> 24);
            acc <<= 8;
            pend -= 8;
        }
    }
    // Appends the low n bits of v (1 <= n <= 24); false when they do not fit.
    bool put(uint32_t v, int32_t n) {
        flush();
        if (pend + n > 32) return false;
        acc |= v << (32 - pend - n);
        pend += n;
        return true;
    }
};

// Pending bits outside 0..32 are no accumulator this library wrote.
bool load_acc(const uint32_t* pCode, const int32_t* pCodeLenBits, uint32_t* acc, int32_t* pend) {
    const int32_t n = *pCodeLenBits;
    if (n < 0 || n > 32) return false;
    *pend = n;
    *acc = n == 0 ? 0u : (*pCode & (~0u << (32 - n)));  // bits below the pending ones are clear
    return true;
}

// Move-to-front ranks of the selectors over the list 0..5.
void selectors_mtf(const uint8_t* sel, uint8_t* ranks, int32_t n) {
    uint8_t list[kSelectorListSize] = {0, 1, 2, 3, 4, 5};
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t v = sel[i];
        int32_t r = 0;
        while (r < kSelectorListSize - 1 && list[r] != v) ++r;
        for (int32_t k = r; k > 0; --k) list[k] = list[k - 1];
        list[0] = v;
        ranks[i] = static_cast<uint8_t>(r);
    }
}

bool pack(BitWriter& w, const vekHuffEncState_BZ2* state, const uint8_t* ranks) {
    const int32_t nGroups = state->nGroups, nSelectors = state->nSelectors;
    const int32_t alphaSize = state->alphaSize;
    if (!w.put(static_cast<uint32_t>(nGroups) & 7u, 3)) return false;
    if (!w.put(static_cast<uint32_t>(nSelectors) & 0x7FFFu, 15)) return false;
    for (int32_t i = 0; i < nSelectors; ++i) {
        const int32_t r = ranks[i];
        if (!w.put(((1u << r) - 1u) << 1, r + 1)) return false;  // r one-bits, then a zero-bit
    }
    for (int32_t t = 0; t < nGroups; ++t) {
        const uint8_t* len = state->lengths[t];
        int32_t c = len[0];
        if (!w.put(static_cast<uint32_t>(c) & 31u, 5)) return false;
        for (int32_t s = 0; s < alphaSize; ++s) {
            for (; c < len[s]; ++c)
                if (!w.put(2u, 2)) return false;
            for (; c > len[s]; --c)
                if (!w.put(3u, 2)) return false;
            if (!w.put(0u, 1)) return false;
        }
    }
    return true;
}

// Code lengths outside 1..17 are no table Init built; they would make the
// writer's shifts meaningless.
bool lengths_valid(const vekHuffEncState_BZ2* state) {
    for (int32_t t = 0; t < state->nGroups; ++t)
        for (int32_t s = 0; s < state->alphaSize; ++s)
            if (state->lengths[t][s] < 1 || state->lengths[t][s] > kBz2MaxCodeLen) return false;
    return true;
}

}  // namespace

vekStatus bz2_pack_context(uint32_t* pCode, int32_t* pCodeLenBits, uint8_t* dst, int32_t* pDstLen,
                           vekHuffEncState_BZ2* state) {
    BitWriter w{0, 0, dst, 0, *pDstLen};
    if (!load_acc(pCode, pCodeLenBits, &w.acc, &w.pend)) return vekStatusBadDataErr;
    if (state->nGroups < 2 || state->nGroups > kBz2MaxTables || state->alphaSize < 1 ||
        state->alphaSize > kBz2MaxAlpha || state->nSelectors < 1)
        return vekStatusBadDataErr;
    uint8_t* selectors = reinterpret_cast<uint8_t*>(state) + kBz2EncFixedBytes;
    uint8_t* ranks = selectors + state->nSelectors;
    selectors_mtf(selectors, ranks, state->nSelectors);

    w.flush();
    const bool done = pack(w, state, ranks);
    *pCode = w.acc;
    *pCodeLenBits = w.pend;
    *pDstLen = w.written;
    return done ? vekStatusOk : vekStatusDstTooSmall;
}

vekStatus bz2_encode_symbols(uint32_t* pCode, int32_t* pCodeLenBits, const uint16_t** ppSrc,
                             int32_t* pSrcLen, uint8_t* dst, int32_t* pDstLen,
                             vekHuffEncState_BZ2* state) {
    BitWriter w{0, 0, dst, 0, *pDstLen};
    if (!load_acc(pCode, pCodeLenBits, &w.acc, &w.pend)) return vekStatusBadDataErr;
    const int32_t n = *pSrcLen < 0 ? 0 : *pSrcLen;
    const int32_t nGroups = state->nGroups;
    if (nGroups < 2 || nGroups > kBz2MaxTables || state->alphaSize < 1 ||
        state->alphaSize > kBz2MaxAlpha || !lengths_valid(state))
        return vekStatusBadDataErr;
    if (static_cast<int64_t>(n) > static_cast<int64_t>(state->nSelectors) * kBz2GroupSize)
        return vekStatusSizeErr;

    const uint32_t alpha = static_cast<uint32_t>(state->alphaSize);
    const uint8_t* selectors = reinterpret_cast<const uint8_t*>(state) + kBz2EncFixedBytes;
    const uint16_t* src = *ppSrc;
    vekStatus status = vekStatusOk;
    int32_t i = 0;

    // Bulk of the block: a 64-bit buffer written out four bytes at a time,
    // while the destination has room for every byte the exact byte-wise
    // flushing would have written. The last symbol is left to the exact loop.
    {
        uint64_t buf = static_cast<uint64_t>(w.acc) << 32;
        int32_t nbits = w.pend;
        while (i < n - 1 && w.cap - w.written >= 4) {
            const int32_t g = i / kBz2GroupSize;
            const uint32_t t = selectors[g];
            if (t >= static_cast<uint32_t>(nGroups)) {
                status = vekStatusBadDataErr;
                break;
            }
            const uint32_t* codes = state->codes[t];
            const uint8_t* lens = state->lengths[t];
            const int32_t end = (g + 1) * kBz2GroupSize < n - 1 ? (g + 1) * kBz2GroupSize : n - 1;
            for (; i < end && w.cap - w.written >= 4; ++i) {
                const uint32_t s = src[i];
                if (s >= alpha) {
                    status = vekStatusBadDataErr;
                    break;
                }
                const int32_t l = lens[s];
                buf |= static_cast<uint64_t>(codes[s] & ((1u << l) - 1u)) << (64 - nbits - l);
                nbits += l;
                if (nbits >= 32) {
                    const uint32_t word = static_cast<uint32_t>(buf >> 32);
                    const uint32_t be = __builtin_bswap32(word);
                    std::memcpy(dst + w.written, &be, 4);
                    w.written += 4;
                    buf <<= 32;
                    nbits -= 32;
                }
            }
            if (status != vekStatusOk) break;
        }
        w.acc = static_cast<uint32_t>(buf >> 32);
        w.pend = nbits;
    }

    for (; i < n && status == vekStatusOk; ++i) {
        const uint32_t t = selectors[i / kBz2GroupSize];
        const uint32_t s = src[i];
        if (t >= static_cast<uint32_t>(nGroups) || s >= alpha) {
            status = vekStatusBadDataErr;
            break;
        }
        const int32_t l = state->lengths[t][s];
        if (!w.put(state->codes[t][s] & ((1u << l) - 1u), l)) {
            status = vekStatusDstTooSmall;
            break;
        }
    }
    *ppSrc = src + i;
    *pSrcLen -= i;
    if (*pSrcLen < 0) *pSrcLen = 0;
    *pDstLen = w.written;
    *pCode = w.acc;
    *pCodeLenBits = w.pend;
    return status;
}

}  // namespace vek::bwt
