// Block decoder of the bzip2 format: zero-run expansion, move-to-front,
// dictionary mapping and the inverse-transform links fused over one work
// array of 32-bit entries (low byte: last-column byte; upper 24 bits: link).
//
// Pass 1 expands the symbols into the low bytes and counts the bytes; pass 2
// builds the links; the shared successor walk then follows them. The work buffer carries no
// alignment promise, so entries are accessed through memcpy.
#include <cstdint>
#include <cstring>

#include "bwt/huff_bz2.h"
#include "bwt/successor_walk.h"
#include "core/load.h"

namespace vek::bwt {
namespace {

inline void put32(uint8_t* buf, uint32_t i, uint32_t v) {
    std::memcpy(buf + 4 * static_cast<size_t>(i), &v, 4);
}
inline uint32_t get32(const uint8_t* buf, uint32_t i) {
    return load32(buf + 4 * static_cast<size_t>(i));
}

// Digits of a zero run beyond this many always exceed a 2^24 capacity.
constexpr int32_t kMaxRunDigits = 25;

}  // namespace

vekStatus bz2_decode_block(const uint16_t* src, int32_t srcLen, uint8_t* dst, int32_t* pDstLen,
                           int32_t index, int32_t dictSize, const uint8_t* inUse, uint8_t* buf) {
    // Dictionary: the byte values marked in use (as a signed byte, above 0).
    uint8_t dict[256] = {};
    int32_t m = 0;
    for (int32_t v = 0; v < 256; ++v)
        if (static_cast<int8_t>(inUse[v]) > 0) dict[m++] = static_cast<uint8_t>(v);
    if (m != dictSize) return vekStatusBadDataErr;

    const uint32_t cap = static_cast<uint32_t>(*pDstLen);
    const uint32_t dsize = static_cast<uint32_t>(dictSize);
    // The move-to-front list holds the dictionary bytes themselves. Its
    // first eight live in one register (most ranks are small); the rest in
    // `tail`, indexed by list position. The first dsize positions only ever
    // hold dictionary entries, so the list needs no other check.
    uint64_t front = 0;
    uint8_t tail[256];
    for (int32_t v = 7; v >= 0; --v) front = front << 8 | dict[v];
    std::memcpy(tail + 8, dict + 8, 248);
    uint32_t count[256] = {};

    uint32_t n = 0;
    int32_t i = 0;
    while (i < srcLen) {
        const uint32_t s = src[i];
        if (s < 2) {
            // Bijective base-2 run length, least significant digit first.
            uint32_t r = 0;
            int32_t k = 0;
            for (; i < srcLen && src[i] < 2; ++i, ++k) {
                if (k == kMaxRunDigits) return vekStatusBadDataErr;
                r += (static_cast<uint32_t>(src[i]) + 1u) << k;
            }
            if (dsize == 0 || r > cap - n) return vekStatusBadDataErr;
            const uint8_t b = static_cast<uint8_t>(front);
            count[b] += r;
            const uint32_t e = b;
            uint32_t j = n;
            const uint32_t end = n + r;
            for (; j + 4 <= end; j += 4) {
                const uint32_t four[4] = {e, e, e, e};
                std::memcpy(buf + 4 * static_cast<size_t>(j), four, 16);
            }
            for (; j < end; ++j) put32(buf, j, e);
            n = end;
            continue;
        }
        const uint32_t rank = s - 1;
        if (rank >= dsize || n == cap) return vekStatusBadDataErr;
        uint8_t b;
        if (rank < 8) {
            // Bytes 0..rank-1 move up one; those above rank stay.
            const uint32_t shift = 8 * rank;
            b = static_cast<uint8_t>(front >> shift);
            const uint64_t below = (uint64_t{1} << shift) - 1;
            const uint64_t keep = ~((below << 8) | 0xFF);
            front = (front & keep) | ((front & below) << 8) | b;
        } else {
            b = tail[rank];
            std::memmove(tail + 9, tail + 8, rank - 8);
            tail[8] = static_cast<uint8_t>(front >> 56);
            front = front << 8 | b;
        }
        ++count[b];
        put32(buf, n++, b);
        ++i;
    }
    if (static_cast<uint32_t>(index) >= n) return vekStatusBadDataErr;

    // Links: the rows starting with byte b follow in the order of b's
    // occurrences in the last column.
    uint32_t sum = 0;
    for (int32_t b = 0; b < 256; ++b) {
        const uint32_t c = count[b];
        count[b] = sum;
        sum += c;
    }
    // The counter of the current run of equal bytes lives in a register (a
    // counter in memory would wait on its own last store).
    uint32_t c = get32(buf, 0) & 0xFFu, row = count[c];
    for (uint32_t j = 0; j < n; ++j) {
        const uint32_t b = get32(buf, j) & 0xFFu;
        if (b != c) {
            count[c] = row;
            c = b;
            row = count[c];
        }
        put32(buf, row, get32(buf, row) | (j << 8));
        ++row;
    }

    walk_successors(buf, dst, static_cast<int32_t>(n), static_cast<uint32_t>(index),
                    LinkByte::kOwn);
    *pDstLen = static_cast<int32_t>(n);
    return vekStatusOk;
}

}  // namespace vek::bwt
