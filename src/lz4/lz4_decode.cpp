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

// Sequences with wide copies, taken while at least 32 input and 64 output
// bytes remain before a sequence starts. Anything unusual (long or truncated
// lengths near the margins, offset 0, dictionary matches, too little room)
// leaves ip and op at the start of that sequence for the careful steps.
// The common sequence (short literals, short match at offset 8 or more)
// runs straight through with one bounds compare pair per sequence. Returns
// false on an offset reaching before the window.
template <Mode M>
inline bool fast_loop(const uint8_t*& ipRef, uint8_t*& opRef, const uint8_t* iend, uint8_t* oend,
                      const uint8_t* base, const uint8_t* dictEnd) {
    const uint8_t* ip = ipRef;
    uint8_t* op = opRef;
    const uint8_t* const ilimit = iend - 32;
    uint8_t* const olimit = oend - 64;
    bool ok = true;
    do {
        const uint8_t* const seqIp = ip;
        uint8_t* const seqOp = op;
        const uint32_t token = *ip++;
        int32_t L = static_cast<int32_t>(token >> 4);
        if (__builtin_expect(L != 15, 1)) {
            copy16(op, ip);
        } else {
            // The first extension byte lies inside the margin; longer
            // extensions take the checked reader.
            const uint32_t b = *ip++;
            L += static_cast<int32_t>(b);
            bool truncated = false;
            if ((b == 255 && (!read_ext(ip, iend, &L, &truncated) || truncated)) ||
                L > iend - ip - 32 || L > oend - op - 64) {
                ip = seqIp;
                break;
            }
            // Whole 32-byte moves: the margins above absorb the overshoot.
            const uint8_t* s = ip;
            for (uint8_t* d = op; d < op + L; d += 32, s += 32)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)));
        }
        ip += L;
        op += L;
        const size_t offset = load16(ip);
        ip += 2;
        if (__builtin_expect(offset > static_cast<size_t>(op - base), 0)) {
            ok = false;
            break;
        }
        const uint8_t* m = op - offset;
        int32_t ml = static_cast<int32_t>(token & 15);
        // The common short match: 8-byte pieces forward from earlier stores
        // more often than one wide load that straddles two of them.
        if (__builtin_expect(ml != 15 && offset >= 8 && (M == Mode::kPlain || m >= dictEnd), 1)) {
            if (offset >= 16) {
                copy16(op, m);
            } else {
                std::memcpy(op, m, 8);
                std::memcpy(op + 8, m + 8, 8);
            }
            std::memcpy(op + 16, m + 16, 2);
            op += ml + kMinMatch;
            continue;
        }
        if (ml == 15) {
            const uint32_t b = *ip++;
            ml += static_cast<int32_t>(b);
            bool truncated = false;
            if (b == 255 &&
                (!read_ext(ip, iend, &ml, &truncated) || truncated || ml > INT32_MAX - kMinMatch)) {
                ip = seqIp;
                op = seqOp;
                break;
            }
        }
        ml += kMinMatch;
        if (ml > oend - op - 32 || offset == 0 || (M == Mode::kDict && m < dictEnd)) {
            ip = seqIp;
            op = seqOp;
            break;
        }
        uint8_t* const end = op + ml;
        if (offset >= 32) {
            for (uint8_t* d = op; d < end; d += 32, m += 32)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m)));
        } else if (offset >= 16) {
            copy16(op, m);
            for (uint8_t* d = op + 16; d < end; d += 16, m += 16) copy16(d, m + 16);
        } else if (offset >= 8) {
            for (uint8_t* d = op; d < end; d += 8, m += 8) std::memcpy(d, m, 8);
        } else {
            const __m128i v = pattern16(m, offset);
            const size_t stride = core::repeat_stride(offset);
            for (uint8_t* d = op; d < end; d += stride)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
        }
        op = end;
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
        if (iend - ip >= 32 && oend - op >= 64) {
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
        if (offset > static_cast<size_t>(op - base)) return vekStatusBadDataErr;
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
