// A byte-at-a-time model of the LZ4 block decoders, written straight from
// the format and status rules with no shortcuts. Tests and fuzzers compare
// the library's decoders against it: same status, counts and bytes.
#pragma once
#include <cstdint>
#include <vector>

#include "vekdc.h"

namespace vek::testref {

struct Lz4Result {
    vekStatus status;
    int32_t srcLen;  // as the decoder leaves *pSrcLen
    int32_t dstLen;  // as the decoder leaves *pDstLen
    // Output position of the first match with offset 0, whose bytes are not
    // defined (the decoder may copy whatever the window holds); -1 if none.
    int32_t zeroOffsetAt = -1;
};

// dst: the whole destination buffer (history from its start); output goes
// to dst + dstIdx with `capacity` bytes of room. dict may be null (plain
// decoder semantics, history = this call's output only).
inline Lz4Result lz4_reference_decode(const uint8_t* src, int32_t srcLen, uint8_t* dst,
                                      int32_t dstIdx, int32_t capacity, const uint8_t* dict,
                                      int32_t dictLen) {
    const bool plain = dict == nullptr || dictLen == 0;
    uint8_t* const base = plain ? dst + dstIdx : dst;
    uint8_t* const op0 = dst + dstIdx;
    int64_t ip = 0, op = 0;  // cursors relative to src and op0
    const int64_t iend = srcLen, oend = capacity;
    const Lz4Result unchangedSize{vekStatusSizeErr, srcLen, capacity};
    int32_t zeroAt = -1;
    auto counts = [&](vekStatus st) { return Lz4Result{st, int32_t(ip), int32_t(op), zeroAt}; };
    auto read_len = [&](int64_t* len) -> int {  // 0 ok, 1 truncated, 2 overflow
        for (;;) {
            if (ip >= iend) return 1;
            const uint8_t b = src[ip++];
            *len += b;
            if (*len > INT32_MAX) return 2;
            if (b != 255) return 0;
        }
    };
    auto truncated = [&]() {
        return Lz4Result{vekStatusSrcTooSmall, plain ? int32_t(ip) : srcLen, -1, zeroAt};
    };
    for (;;) {
        if (ip >= iend) return counts(vekStatusOk);
        const uint8_t token = src[ip++];
        int64_t L = token >> 4;
        if (L == 15) {
            const int r = read_len(&L);
            if (r == 2) return unchangedSize;
            if (r == 1) return truncated();
        }
        if (op + L > oend || ip + L > iend) {
            if (!plain)
                return Lz4Result{op + L > oend ? vekStatusDstTooSmall : vekStatusSrcTooSmall,
                                 srcLen, -1, zeroAt};
            while (op < oend && ip < iend) op0[op++] = src[ip++];
            return counts(vekStatusDstTooSmall);
        }
        if (plain && ip + L > iend - 8 && ip + L != iend) return truncated();
        for (int64_t i = 0; i < L; ++i) op0[op++] = src[ip++];
        if (ip >= iend || op >= oend) return counts(vekStatusOk);
        if (ip + 2 > iend) return truncated();
        const int64_t offset = src[ip] | src[ip + 1] << 8;
        ip += 2;
        const int64_t m = (op0 - base) + op - offset;  // position relative to base
        if (offset == 0 && zeroAt < 0) zeroAt = int32_t(op);
        if (m < 0) return Lz4Result{vekStatusBadDataErr, srcLen, capacity};
        int64_t ml = token & 15;
        if (ml == 15) {
            const int r = read_len(&ml);
            if (r == 2) return unchangedSize;
            if (r == 1) return truncated();
        }
        ml += 4;
        if (ml > INT32_MAX) return unchangedSize;
        if (op + ml > oend) {
            if (!plain) return Lz4Result{vekStatusDstTooSmall, srcLen, -1, zeroAt};
            const int64_t n = oend - op;
            for (int64_t i = 0; i < n; ++i) op0[op + i] = base[m + i];
            op += n;
            return counts(vekStatusDstTooSmall);
        }
        for (int64_t i = 0; i < ml; ++i) {
            const int64_t pos = m + i;
            uint8_t b;
            if (!plain && m < dictLen) {
                // Starts in the dictionary: its part from the dictionary, the
                // rest forward from the first byte after the dictionary.
                b = pos < dictLen ? dict[pos] : base[pos];
            } else {
                b = base[pos];
            }
            op0[op + i] = b;
        }
        op += ml;
    }
}

// Round-trip helper: decodes a complete block of a known size.
inline std::vector<uint8_t> lz4_reference_decompress(const uint8_t* src, int32_t srcLen,
                                                     int32_t size, vekStatus* st) {
    std::vector<uint8_t> out(size > 0 ? size : 1);
    const Lz4Result r = lz4_reference_decode(src, srcLen, out.data(), 0, size, nullptr, 0);
    *st = r.status;
    out.resize(r.dstLen > 0 ? r.dstLen : 0);
    return out;
}

}  // namespace vek::testref
