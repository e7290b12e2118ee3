// LZ4 block decoders. The input is hostile: every length is checked against
// the remaining input and output before it is used, and no read or write
// leaves the input, the output window, the history before it or the
// dictionary. Wide copies are used only where the margins allow them, so the
// result is always that of the byte-by-byte definition.
#include <immintrin.h>

#include <cstring>

#include "core/repeat_pattern.h"
#include "lz4_common.h"
#include "lz4_encode.h"

namespace vek::lz4 {
namespace {

enum class Mode { kPlain, kDict };

// Reads a 255-run length extension onto *len. Returns false on overflow of
// a signed 32-bit count; *truncated is set when the input ends inside it.
inline bool read_ext(const uint8_t*& ip, const uint8_t* iend, int32_t* len, bool* truncated) {
    uint32_t b;
    int64_t v = *len;
    // Long extensions (a block of incompressible data) are runs of 255:
    // sixteen bytes per step while they lie inside the input. The sum only
    // grows, so testing it once per step catches the same overflows.
    while (iend - ip >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ip));
        const uint32_t stop =
            ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(-1)))) &
            0xFFFF;
        if (stop) {
            const int k = __builtin_ctz(stop);
            v += 255 * k + ip[k];
            ip += k + 1;
            if (v > INT32_MAX) return false;
            *len = static_cast<int32_t>(v);
            return true;
        }
        v += 16 * 255;
        ip += 16;
        if (v > INT32_MAX) return false;
    }
    do {
        if (ip >= iend) {
            *truncated = true;
            return true;
        }
        b = *ip++;
        v += b;
        if (v > INT32_MAX) return false;
    } while (b == 255);
    *len = static_cast<int32_t>(v);
    return true;
}

// 16 bytes of the pattern that starts at m with period offset (1..7). Reads
// m..m+15, which the callers guarantee lie inside the output window.
inline __m128i pattern16(const uint8_t* m, size_t offset) {
    return core::repeat16(m, offset);
}

// Copies n bytes from m to op as a forward byte copy would (m < op may
// overlap the output); `room` bytes past op + n may be scribbled on.
inline void match_copy(uint8_t* op, const uint8_t* m, int32_t n, int32_t room) {
    const size_t offset = static_cast<size_t>(op - m);
    uint8_t* const end = op + n;
    if (offset >= 16 && room >= 16) {
        do {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(op),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(m)));
            op += 16;
            m += 16;
        } while (op < end);
        return;
    }
    if (offset >= 8 && room >= 8) {
        do {
            std::memcpy(op, m, 8);
            op += 8;
            m += 8;
        } while (op < end);
        return;
    }
    if (offset > 0 && offset < 8 && room >= 16) {
        // Broadcast the offset-long pattern; store at a stride that is a
        // multiple of the period so one vector serves every store.
        const __m128i v = pattern16(m, offset);
        const size_t stride = core::repeat_stride(offset);
        do {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(op), v);
            op += stride;
        } while (op < end);
        return;
    }
    for (int32_t i = 0; i < n; ++i) op[i] = m[i];
}

inline void copy16(uint8_t* d, const uint8_t* s) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
}

// The fast loop's literal run of 15 or more (the token at ip): copied with
// whole 32-byte moves when it and its extension leave the loop's margins.
// Returns one before the literals and their length (null for the careful
// steps); a pair comes back in registers.
struct Literals {
    const uint8_t* before;
    size_t n;
};
__attribute__((noinline)) Literals long_literals(const uint8_t* ip, uint8_t* op,
                                                 const uint8_t* iend, uint8_t* oend) {
    // The first extension byte lies inside the margin; longer extensions
    // take the checked reader.
    const uint8_t* q = ip + 1;
    const uint32_t b = *q++;
    int32_t l = 15 + static_cast<int32_t>(b);
    bool truncated = false;
    if ((b == 255 && (!read_ext(q, iend, &l, &truncated) || truncated)) || l > iend - q - 32 ||
        l > oend - op - 64)
        return {nullptr, 0};
    // The margins above absorb the overshoot.
    const uint8_t* s = q;
    for (uint8_t* d = op; d < op + l; d += 32, s += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)));
    return {q - 1, static_cast<size_t>(l)};
}

// The fast loop's match that is long (code 15) or at an offset below 16,
// at op from m; ip is on any length extension. Returns the input after the
// sequence and the end of the match (a null end for the careful steps).
struct Match {
    const uint8_t* ip;
    uint8_t* end;
};
__attribute__((noinline)) Match other_match(const uint8_t* ip, uint8_t* op, const uint8_t* m,
                                            size_t offset, size_t ml, const uint8_t* iend,
                                            uint8_t* oend) {
    if (ml == 15) {
        const uint32_t b = *ip++;
        int32_t l = 15 + static_cast<int32_t>(b);
        bool truncated = false;
        if (b == 255 &&
            (!read_ext(ip, iend, &l, &truncated) || truncated || l > INT32_MAX - kMinMatch))
            return {ip, nullptr};
        ml = static_cast<size_t>(l);
    }
    ml += kMinMatch;
    if (ml > static_cast<size_t>(oend - op - 32) || offset == 0) return {ip, nullptr};
    uint8_t* const end = op + ml;
    if (offset >= 32) {
        for (uint8_t* d = op; d < end; d += 32, m += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m)));
    } else if (offset >= 16) {
        copy16(op, m);
        for (uint8_t* d = op + 16; d < end; d += 16, m += 16) copy16(d, m + 16);
    } else if (offset >= 8) {
        // 8-byte pieces forward from earlier stores more often than one
        // wide load that straddles two of them.
        for (uint8_t* d = op; d < end; d += 8, m += 8) std::memcpy(d, m, 8);
    } else {
        const __m128i v = pattern16(m, offset);
        const size_t stride = core::repeat_stride(offset);
        for (uint8_t* d = op; d < end; d += stride)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
    }
    return {ip, end};
}

// Sequences with wide copies, taken while at least 32 input and 64 output
// bytes remain before a sequence starts. Anything unusual (long or truncated
// lengths near the margins, offset 0, dictionary matches, too little room)
// leaves ip and op at the start of that sequence for the careful steps.
// The common sequence (short literals, short match at offset 16 or more)
// runs straight through, and lengths with a single extension byte stay
// inline; the rest call out, which keeps this loop's values in registers
// (inlined, they spill the output pointer onto the stack). The match source is formed first and
// compared with the lowest address a match may start at; the caller guarantees that address is at
// least 64 KiB, so no offset wraps. Returns false on an offset reaching before the window.
template <Mode M>
bool fast_loop(const uint8_t*& ipRef, uint8_t*& opRef, const uint8_t* iend, uint8_t* oend,
               const uint8_t* base, const uint8_t* dictEnd) {
    const uint8_t* ip = ipRef;
    uint8_t* op = opRef;
    const uint8_t* const ilimit = iend - 32;
    uint8_t* const olimit = oend - 64;
    const uintptr_t lowest = reinterpret_cast<uintptr_t>(dictEnd);
    bool ok = true;
    // The next token is read where its address is formed, from the
    // literal length, so the read does not wait for ip.
    size_t token = *ip;
    do {
        // ip and op stay at the sequence start until it is complete, so a
        // sequence left to the careful steps needs no restoring.
        size_t L = token >> 4;
        const uint8_t* lit = ip;  // one before the literals
        if (__builtin_expect(L != 15, 1)) {
            copy16(op, ip + 1);
        } else if (ip[1] != 255 && ip[1] + ptrdiff_t{15} <= iend - ip - 34 &&
                   ip[1] + ptrdiff_t{15} <= oend - op - 64) {
            // 15 to 269 literals with one extension byte: most fit one
            // 32-byte move; the margins above absorb the overshoot.
            L = ip[1] + size_t{15};
            lit = ip + 1;
            const uint8_t* s = ip + 2;
            uint8_t* d = op;
            do {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)));
                d += 32;
                s += 32;
            } while (d < op + L);
        } else {
            const Literals r = long_literals(ip, op, iend, oend);
            if (!r.before) break;
            lit = r.before;
            L = r.n;
        }
        const size_t offset = load16(lit + 1 + L);
        const uint8_t* nip = lit + L + 3;
        uint8_t* const mop = op + L;
        const uint8_t* m =
            reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(mop) - offset);
        if (__builtin_expect(reinterpret_cast<uintptr_t>(m) < lowest, 0)) {
            // Before the window, or a dictionary match.
            ok = M == Mode::kDict && offset <= static_cast<size_t>(mop - base);
            break;
        }
        const size_t ml = token & 15;
        if (__builtin_expect(ml != 15 && offset >= 16, 1)) {
            copy16(mop, m);
            std::memcpy(mop + 16, m + 16, 2);
            op = mop + ml + kMinMatch;
            ip = nip;
            token = lit[opaque(L) + 3];
        } else if (ml == 15 && offset >= 32 && *nip != 255 &&
                   *nip + size_t{15 + kMinMatch} <= static_cast<size_t>(oend - mop - 32)) {
            // A match of 19 to 273 bytes with one extension byte, far
            // enough back for whole 32-byte moves; nip + 1 is inside the
            // input margin, so the next token may be read at once.
            uint8_t* const end = mop + *nip + 15 + kMinMatch;
            for (uint8_t* d = mop; d < end; d += 32, m += 32)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m)));
            op = end;
            ip = nip + 1;
            token = nip[1];
        } else {
            const Match r = other_match(nip, mop, m, offset, ml, iend, oend);
            if (!r.end) break;
            ip = r.ip;
            op = r.end;
            if (ip > ilimit) break;
            token = *ip;
        }
    } while (ip <= ilimit && op <= olimit);
    ipRef = ip;
    opRef = op;
    return ok;
}

template <Mode M>
vekStatus decode(const uint8_t* src, int32_t* srcLen, uint8_t* base, uint8_t* op0, int32_t* dstLen,
                 const uint8_t* dict, int32_t dictLen) {
    const uint8_t* ip = src;
    const uint8_t* const iend = src + *srcLen;
    uint8_t* op = op0;
    uint8_t* const oend = op0 + *dstLen;
    // Addresses below dictEnd stand for the dictionary (dictionary mode).
    const uint8_t* const dictEnd = base + (M == Mode::kDict ? dictLen : 0);

    auto finish = [&](vekStatus st) {
        *srcLen = static_cast<int32_t>(ip - src);
        *dstLen = static_cast<int32_t>(op - op0);
        return st;
    };
    auto src_too_small = [&]() {
        if (M == Mode::kPlain) *srcLen = static_cast<int32_t>(ip - src);
        *dstLen = -1;
        return vekStatusSrcTooSmall;
    };

    for (;;) {
        if (iend - ip >= 32 && oend - op >= 64 && reinterpret_cast<uintptr_t>(base) > 0xFFFF) {
            if (!fast_loop<M>(ip, op, iend, oend, base, dictEnd)) return vekStatusBadDataErr;
        }
        if (ip >= iend) return finish(vekStatusOk);
        const uint32_t token = *ip++;
        int32_t L = static_cast<int32_t>(token >> 4);
        if (L == 15) {
            bool truncated = false;
            if (!read_ext(ip, iend, &L, &truncated)) return vekStatusSizeErr;
            if (truncated) return src_too_small();
        }
        const int32_t outLeft = static_cast<int32_t>(oend - op);
        const int32_t inLeft = static_cast<int32_t>(iend - ip);
        if (L > outLeft || L > inLeft) {
            if (M == Mode::kDict) {
                *dstLen = -1;
                return L > outLeft ? vekStatusDstTooSmall : vekStatusSrcTooSmall;
            }
            const int32_t n = outLeft < inLeft ? outLeft : inLeft;
            std::memcpy(op, ip, static_cast<size_t>(n));
            op += n;
            ip += n;
            return finish(vekStatusDstTooSmall);
        }
        if (M == Mode::kPlain && L > inLeft - 8 && L != inLeft) return src_too_small();
        if (L <= 16 && inLeft >= 16 && outLeft >= 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(op),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(ip)));
        } else if (L <= inLeft - 32 && L <= outLeft - 32) {
            wild_copy<16>(op, ip, L);
        } else {
            std::memcpy(op, ip, static_cast<size_t>(L));
        }
        ip += L;
        op += L;
        if (ip >= iend || op >= oend) return finish(vekStatusOk);

        // The offset and any length extension must lie inside the input.
        if (iend - ip < 2) return src_too_small();
        const uint32_t offset = static_cast<uint32_t>(ip[0]) | static_cast<uint32_t>(ip[1]) << 8;
        ip += 2;
        // Signed: with a negative dstIdx the output starts below pDst.
        if (static_cast<ptrdiff_t>(offset) > op - base) return vekStatusBadDataErr;
        const uint8_t* m = op - offset;
        int32_t ml = static_cast<int32_t>(token & 15);
        if (ml == 15) {
            bool truncated = false;
            if (!read_ext(ip, iend, &ml, &truncated)) return vekStatusSizeErr;
            if (truncated) return src_too_small();
        }
        if (ml > INT32_MAX - kMinMatch) return vekStatusSizeErr;
        ml += kMinMatch;

        const int32_t room = static_cast<int32_t>(oend - op);
        if (ml > room) {
            if (M == Mode::kDict) {
                *dstLen = -1;
                return vekStatusDstTooSmall;
            }
            for (int32_t i = 0; i < room; ++i) op[i] = m[i];
            op += room;
            return finish(vekStatusDstTooSmall);
        }
        if (M == Mode::kDict && m < dictEnd) {
            // Starts in the dictionary; what runs past its end continues
            // from the first real byte after it.
            const int32_t fromDict = static_cast<int32_t>(dictEnd - m);
            const uint8_t* d = dict + (m - base);
            if (ml <= fromDict) {
                std::memcpy(op, d, static_cast<size_t>(ml));
            } else {
                std::memcpy(op, d, static_cast<size_t>(fromDict));
                const uint8_t* rest = dictEnd;
                for (int32_t i = fromDict; i < ml; ++i) op[i] = *rest++;
            }
        } else {
            match_copy(op, m, ml, room - ml);
        }
        op += ml;
    }
}

}  // namespace

vekStatus decode_block(const uint8_t* src, int32_t* srcLen, uint8_t* dst, int32_t* dstLen) {
    return decode<Mode::kPlain>(src, srcLen, dst, dst, dstLen, nullptr, 0);
}

vekStatus decode_block_dict(const uint8_t* src, int32_t* srcLen, uint8_t* dst, int32_t dstIdx,
                            int32_t* dstLen, const uint8_t* dict, int32_t dictLen) {
    return decode<Mode::kDict>(src, srcLen, dst, dst + dstIdx, dstLen, dict, dictLen);
}

}  // namespace vek::lz4
