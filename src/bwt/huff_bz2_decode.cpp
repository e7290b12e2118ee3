// bzip2-format Huffman decoder: the packed table context (table count,
// move-to-front coded selectors, delta-coded lengths) read as a resumable
// step machine, the per-table decoding tables, and symbol decoding.
//
// Bits come through the caller's 32-bit accumulator, pending bits
// left-aligned; source bytes are appended below them. The accumulator never
// holds more than 27 bits after a refill, so its low bits are clear and an
// all-ones word never occurs in decoding.
#include <cstdint>
#include <cstring>

#include "bwt/huff_bz2.h"

namespace vek::bwt {
namespace {

constexpr int32_t kFastBits = 8;
constexpr int32_t kLongEntries = 13;    // first codes of lengths 9..21
constexpr int32_t kDecodeMinBits = 20;  // bits made pending before each symbol
constexpr uint32_t kNoCode = 0xFFFFFFFFu;

struct BitReader {
    uint32_t acc;
    int32_t pend;
    const uint8_t* src;
    int32_t avail;

    // Below `need` pending bits, appends up to (27 - pending) / 8 bytes.
    // True when at least `need` bits are then pending.
    bool ensure(int32_t need) {
        if (pend >= need) return true;
        int32_t k = (27 - pend) >> 3;
        if (avail >= 4) {
            uint32_t w;
            std::memcpy(&w, src, 4);
            w = __builtin_bswap32(w);
            acc |= (w >> pend) & ~(0xFFFFFFFFu >> (pend + 8 * k));
            pend += 8 * k;
            src += k;
            avail -= k;
        } else {
            for (; k > 0 && avail > 0; --k, --avail) {
                acc |= static_cast<uint32_t>(*src++) << (24 - pend);
                pend += 8;
            }
        }
        return pend >= need;
    }
    void consume(int32_t n) {
        acc = n >= 32 ? 0u : acc << n;
        pend -= n;
    }
};

uint8_t* selectors_of(vekHuffDecState_BZ2* state) {
    return reinterpret_cast<uint8_t*>(state) + kBz2DecFixedBytes;
}

bool load_acc(const uint32_t* pCode, const int32_t* pCodeLenBits, BitReader* r) {
    const int32_t n = *pCodeLenBits;
    if (n < 0 || n > 32) return false;
    r->pend = n;
    r->acc = n == 0 ? 0u : (*pCode & (~0u << (32 - n)));
    return true;
}

void store(const BitReader& r, uint32_t* pCode, int32_t* pCodeLenBits, const uint8_t** ppSrc,
           int32_t* pSrcLen) {
    *pCode = r.acc;
    *pCodeLenBits = r.pend;
    *ppSrc = r.src;
    *pSrcLen = r.avail;
}

void undo_selector_mtf(uint8_t* sel, int32_t n) {
    uint8_t list[kBz2MaxTables] = {0, 1, 2, 3, 4, 5};
    for (int32_t i = 0; i < n; ++i) {
        const int32_t r = sel[i];
        const uint8_t v = list[r];
        for (int32_t k = r; k > 0; --k) list[k] = list[k - 1];
        list[0] = v;
        sel[i] = v;
    }
}

// Counters a resumed call relies on must describe a reachable position.
bool counters_valid(const vekHuffDecState_BZ2* s) {
    if (s->alphaSize < 1 || s->alphaSize > kBz2MaxAlpha) return false;
    if (s->unpackPhase == 0) return true;
    if (s->nGroups < 2 || s->nGroups > kBz2MaxTables) return false;
    if (s->nSelectors < 1 || s->nSelectors > kBz2SelectorCapacity) return false;
    if (s->unpackPhase == 1) return s->groupCounter >= 0 && s->groupCounter < s->nSelectors;
    if (s->tableCounter < 0 || s->tableCounter >= s->nGroups) return false;
    if (s->symbolCounter < 0 || s->symbolCounter > s->alphaSize) return false;
    return s->symbolCounter == 0 || (s->currentLength >= 1 && s->currentLength <= kBz2MaxReadLen);
}

// A context left half read: the selector ranks read so far must be below
// the table count; in a half-read table the lengths read so far must be
// valid ones, and their counts, which only the lengths determine, are taken
// again from them (the table builder indexes by both).
bool resume_lengths(vekHuffDecState_BZ2* s) {
    if (s->unpackPhase == 1) {  // the ranks read so far index the table list
        const uint8_t* sel = selectors_of(s);
        for (int32_t k = 0; k < s->groupCounter; ++k)
            if (sel[k] >= s->nGroups) return false;
        return true;
    }
    if (s->unpackPhase != 2 || s->symbolCounter == 0) return true;
    std::memset(s->lengthCounts, 0, sizeof(s->lengthCounts));
    for (int32_t k = 0; k < s->symbolCounter; ++k) {
        const int32_t l = s->curLengths[k];
        if (l < 1 || l > kBz2MaxReadLen) return false;
        ++s->lengthCounts[l];
    }
    return true;
}

enum class Step { kDone, kMore, kBad };

Step read_selectors(BitReader& r, vekHuffDecState_BZ2* s) {
    uint8_t* sel = selectors_of(s);
    while (s->groupCounter < s->nSelectors) {
        if (!r.ensure(6)) return Step::kMore;
        int32_t ones = __builtin_clz(~r.acc | 1u);  // leading one-bits, at most 31
        if (ones > 7) ones = 7;
        if (ones >= s->nGroups) return Step::kBad;
        sel[s->groupCounter++] = static_cast<uint8_t>(ones);
        r.consume(ones + 1);
    }
    undo_selector_mtf(sel, s->nSelectors);
    return Step::kDone;
}

Step read_table_lengths(BitReader& r, vekHuffDecState_BZ2* s) {
    int32_t* len = s->curLengths;
    int32_t* counts = s->lengthCounts;
    if (s->symbolCounter == 0) {
        if (!r.ensure(6)) return Step::kMore;
        const int32_t c = static_cast<int32_t>(r.acc >> 27);
        if (c < 1 || c > kBz2MaxReadLen) return Step::kBad;
        r.consume(6);  // the start length and symbol 0's closing bit
        std::memset(counts, 0, sizeof(s->lengthCounts));
        len[0] = c;
        ++counts[c];
        s->currentLength = c;
        s->symbolCounter = 1;
    }
    int32_t c = s->currentLength;
    while (s->symbolCounter < s->alphaSize) {
        r.ensure(2);
        if (r.pend == 0) break;
        if ((r.acc >> 31) == 0) {  // closing zero-bit
            r.consume(1);
            len[s->symbolCounter++] = c;
            ++counts[c];
            continue;
        }
        if (r.pend < 2) break;
        const int32_t prev = len[s->symbolCounter - 1];
        if ((r.acc >> 30) == 2) {  // 10: one longer
            if (c < prev || c == kBz2MaxReadLen) return Step::kBad;
            ++c;
        } else {  // 11: one shorter
            if (c > prev || c == 1) return Step::kBad;
            --c;
        }
        r.consume(2);
    }
    s->currentLength = c;
    return s->symbolCounter == s->alphaSize ? Step::kDone : Step::kMore;
}

}  // namespace

void bz2_decode_init(int32_t alphaSize, vekHuffDecState_BZ2* state) {
    state->unpackPhase = 0;
    state->nGroups = 0;
    state->tableCounter = 0;
    state->nSelectors = 0;
    state->groupCounter = 0;
    state->alphaSize = alphaSize;
    state->symbolCounter = 0;
    state->groupPosition = 0;
    state->currentLength = 0;
    state->pSelectors = selectors_of(state);
    state->pFastSymbol = &state->fastSymbol[0][0];
    state->pFastLength = &state->fastLength[0][0];
    state->pFirstCode = &state->firstCode[0][0];
    state->pLongBase = &state->longBase[0][0];
    state->pLongSymbols = &state->longSymbols[0][0];
    state->pLongLevels = &state->longLevels[0];
    state->pCurLengths = &state->curLengths[0];
    state->pLengthCounts = &state->lengthCounts[0];
}

void bz2_build_decode_table(vekHuffDecState_BZ2* s, int32_t t) {
    const int32_t n = s->alphaSize;
    const int32_t* len = s->curLengths;
    const int32_t* count = s->lengthCounts;

    // Symbols in canonical order: by length, then by symbol.
    int32_t offset[kBz2MaxReadLen + 2];
    offset[1] = 0;
    for (int32_t l = 1; l <= kBz2MaxReadLen; ++l) offset[l + 1] = offset[l] + count[l];
    uint16_t order[kBz2MaxAlpha];
    for (int32_t sym = 0; sym < n; ++sym) order[offset[len[sym]]++] = static_cast<uint16_t>(sym);
    const int32_t nShort = offset[kFastBits];  // offsets now point past each length

    uint16_t* fastSym = s->fastSymbol[t];
    uint8_t* fastLen = s->fastLength[t];
    std::memset(fastSym, 0, sizeof(s->fastSymbol[t]));
    std::memset(fastLen, 0, sizeof(s->fastLength[t]));
    uint64_t first = 0;  // first code of length l
    uint64_t first8 = 0;
    int32_t k = 0;
    for (int32_t l = 1; l <= kFastBits; ++l) {
        if (l == kFastBits) first8 = first;
        uint64_t code = first;
        for (int32_t i = 0; i < count[l]; ++i, ++code, ++k) {
            const uint64_t lo = code << (kFastBits - l), hi = (code + 1) << (kFastBits - l);
            for (uint64_t e = lo; e < hi && e < 256; ++e) {
                fastSym[e] = order[k];
                fastLen[e] = static_cast<uint8_t>(l);
            }
        }
        first = (first + static_cast<uint64_t>(count[l])) << 1;  // first code of l + 1
    }
    uint16_t* longSym = s->longSymbols[t];
    const int32_t nLong = n - nShort;
    std::memset(longSym, 0, sizeof(s->longSymbols[t]));
    for (int32_t i = 0; i < nLong; ++i) longSym[i] = order[nShort + i];

    uint32_t* firstCode = s->firstCode[t];
    uint8_t* base = s->longBase[t];
    for (int32_t i = 0; i < kLongEntries; ++i) {
        firstCode[i] = kNoCode;
        base[i] = 0;
    }
    // Walk from length 8 up: where the code space is full the next entry is
    // the no-code bound; otherwise it holds the next first code left-aligned.
    uint64_t f = first8;
    int32_t levels = kLongEntries - 1;
    int32_t running = 0;
    for (int32_t l = kFastBits; l <= kBz2MaxReadLen; ++l) {
        const int32_t idx = l - kFastBits;  // entry of length l + 1
        if (f + static_cast<uint64_t>(count[l]) >= (uint64_t{1} << l)) {
            levels = idx;
            break;
        }
        if (l > kFastBits) running += count[l];
        if (running > 255) {  // long bases are bytes: only sparse hostile tables get here
            levels = idx;
            break;
        }
        f = (f + static_cast<uint64_t>(count[l])) << 1;
        firstCode[idx] = static_cast<uint32_t>(f << (31 - l));
        base[idx] = static_cast<uint8_t>(running);
    }
    s->longLevels[t] = static_cast<uint8_t>(levels);
}

vekStatus bz2_unpack_context(uint32_t* pCode, int32_t* pCodeLenBits, const uint8_t** ppSrc,
                             int32_t* pSrcLen, vekHuffDecState_BZ2* s) {
    BitReader r{0, 0, *ppSrc, *pSrcLen};
    if (!load_acc(pCode, pCodeLenBits, &r)) return vekStatusBadDataErr;
    if (!counters_valid(s) || !resume_lengths(s)) return vekStatusBadDataErr;

    vekStatus status = vekStatusOk;
    for (;;) {
        if (s->unpackPhase == 0) {
            if (!r.ensure(18)) {
                status = vekStatusSrcTooSmall;
                break;
            }
            const int32_t nGroups = static_cast<int32_t>(r.acc >> 29);
            const int32_t nSelectors = static_cast<int32_t>((r.acc >> 14) & 0x7FFFu);
            r.consume(18);
            if (nGroups < 2 || nGroups > kBz2MaxTables || nSelectors < 1 ||
                nSelectors > kBz2SelectorCapacity) {
                status = vekStatusSrcDataErr;
                break;
            }
            s->nGroups = nGroups;
            s->nSelectors = nSelectors;
            s->groupCounter = 0;
            s->unpackPhase = 1;
        }
        if (s->unpackPhase == 1) {
            const Step st = read_selectors(r, s);
            if (st != Step::kDone) {
                status = st == Step::kMore ? vekStatusSrcTooSmall : vekStatusSrcDataErr;
                break;
            }
            s->unpackPhase = 2;
            s->tableCounter = 0;
            s->symbolCounter = 0;
        }
        while (s->tableCounter < s->nGroups) {
            const Step st = read_table_lengths(r, s);
            if (st != Step::kDone) {
                status = st == Step::kMore ? vekStatusSrcTooSmall : vekStatusSrcDataErr;
                break;
            }
            bz2_build_decode_table(s, s->tableCounter);
            ++s->tableCounter;
            s->symbolCounter = 0;
        }
        if (status != vekStatusOk) break;
        s->unpackPhase = 0;
        s->tableCounter = 0;
        s->groupCounter = 0;
        s->symbolCounter = 0;
        s->groupPosition = 0;
        s->currentLength = 0;
        break;
    }
    store(r, pCode, pCodeLenBits, ppSrc, pSrcLen);
    return status;
}

vekStatus bz2_decode_symbols(uint32_t* pCode, int32_t* pCodeLenBits, const uint8_t** ppSrc,
                             int32_t* pSrcLen, uint16_t* dst, int32_t* pDstLen,
                             vekHuffDecState_BZ2* s) {
    BitReader r{0, 0, *ppSrc, *pSrcLen < 0 ? 0 : *pSrcLen};
    if (!load_acc(pCode, pCodeLenBits, &r)) return vekStatusBadDataErr;
    if (s->unpackPhase != 0 || s->alphaSize < 1 || s->alphaSize > kBz2MaxAlpha ||
        s->nSelectors < 0 || s->nSelectors > kBz2SelectorCapacity || s->groupCounter < 0 ||
        s->groupPosition < 0 || s->groupPosition > kBz2GroupSize)
        return vekStatusBadDataErr;

    const uint8_t* sel = selectors_of(s);
    const uint32_t eob = static_cast<uint32_t>(s->alphaSize - 1);
    const int32_t cap = *pDstLen;
    int32_t written = 0;
    int32_t g = s->groupCounter, pos = s->groupPosition;
    vekStatus status = vekStatusOk;
    for (;;) {
        if (pos == kBz2GroupSize) {
            ++g;
            pos = 0;
        }
        if (g >= s->nSelectors) {
            status = vekStatusBadDataErr;
            break;
        }
        const int32_t t = sel[g];
        if (t >= kBz2MaxTables) {
            status = vekStatusBadDataErr;
            break;
        }
        const uint32_t* firstCode = s->firstCode[t];
        const uint16_t* fastSym = s->fastSymbol[t];
        const uint8_t* fastLen = s->fastLength[t];
        const uint16_t* longSym = s->longSymbols[t];
        const uint8_t* base = s->longBase[t];
        const int32_t levels =
            s->longLevels[t] < kLongEntries ? s->longLevels[t] : kLongEntries - 1;
        const uint32_t fastLimit = firstCode[0];
        bool eobSeen = false;
        for (; pos < kBz2GroupSize; ++pos) {
            if (written == cap) {
                status = vekStatusDstTooSmall;
                break;
            }
            if (!r.ensure(kDecodeMinBits)) {
                status = vekStatusSrcTooSmall;
                break;
            }
            const uint32_t acc = r.acc;
            uint32_t sym;
            if (acc < fastLimit) {
                const int32_t l = fastLen[acc >> 24];
                if (l > kFastBits) {  // no table this library built
                    status = vekStatusBadDataErr;
                    break;
                }
                sym = fastSym[acc >> 24];
                r.consume(l);
            } else {
                if (acc >= firstCode[levels]) {
                    status = vekStatusBadDataErr;
                    break;
                }
                int32_t i = 0;
                while (i + 1 < levels && firstCode[i + 1] <= acc) ++i;
                const int32_t l = i + 9;
                const uint32_t at = base[i] + ((acc - firstCode[i]) >> (32 - l));
                sym = longSym[at < static_cast<uint32_t>(kBz2MaxAlpha) ? at : 0];
                r.consume(l);
            }
            dst[written] = static_cast<uint16_t>(sym);
            if (sym == eob) {
                eobSeen = true;
                break;
            }
            ++written;
        }
        if (eobSeen) {
            g = 0;
            pos = 0;
            break;
        }
        if (status != vekStatusOk) break;
    }
    s->groupCounter = g;
    s->groupPosition = pos;
    *pDstLen = written;
    store(r, pCode, pCodeLenBits, ppSrc, pSrcLen);
    return status;
}

}  // namespace vek::bwt
