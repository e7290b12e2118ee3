// LZSS decoder. Every bit pattern decodes: a distance field of 0 stands for
// 32768 (the whole history), and matches reaching before the first byte of
// the stream read the history area as it is. Reads stay inside the source,
// the destination written so far and the 32 KB history; writes stay inside
// the destination capacity and the history.
//
// The bit buffer is refilled several bytes at a time, but the state a call
// leaves behind is the one a byte-at-a-time reader would leave: a reader that
// takes a byte only when a token needs it. Input bytes read ahead are given
// back when the destination fills, so *pSrcLen never depends on how the
// decoder buffers.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "core/load.h"
#include "lzss/lzss.h"

namespace vek::lzss {

namespace {

typedef uint8_t Block32 __attribute__((vector_size(32), aligned(1), may_alias));

uint8_t* history(vekLZSSState* s) {
    return reinterpret_cast<uint8_t*>(s->area1);
}

// Copies k bytes from distance d (1..32768) to out0 + o; the bytes before
// out0 are the last 32768 of the history. Writes stay below out0 + cap.
inline void copy_match(uint8_t* out0, int32_t o, int32_t d, int32_t k, int32_t cap,
                       const uint8_t* hist) {
    uint8_t* op = out0 + o;
    if (d > o) {
        const int32_t from_hist = std::min(d - o, k);
        std::memcpy(op, hist + (kWindowSize - (d - o)), static_cast<size_t>(from_hist));
        op += from_hist;
        k -= from_hist;
        if (k == 0) return;
    }
    const uint8_t* sp = op - d;
    uint8_t* const end = op + k;
    const ptrdiff_t slack = (out0 + cap) - end;
    // Block steps may run past the match by less than a block, still inside
    // the destination; later tokens overwrite those bytes. A block never
    // reads bytes it writes, as long as the distance is at least its size.
    if (d >= 32 && slack >= 32) {
        do {
            const Block32 b = *reinterpret_cast<const Block32*>(sp);
            *reinterpret_cast<Block32*>(op) = b;
            op += 32;
            sp += 32;
        } while (op < end);
    } else if (d >= 8 && slack >= 8) {
        do {
            std::memcpy(op, sp, 8);
            op += 8;
            sp += 8;
        } while (op < end);
    } else if (d == 1) {
        std::memset(op, *sp, static_cast<size_t>(k));
    } else {
        while (op < end) *op++ = *sp++;
    }
}

// hist[0 .. 32768 - shift) = hist[shift .. 32768), shift >= 1, in 32-byte
// steps: each step loads its block whole before storing it, and the next
// block lies beyond what was stored, so moving down in order is safe.
inline void shift_history(uint8_t* hist, int32_t shift) {
    const int32_t len = kWindowSize - shift;
    int32_t i = 0;
    for (; i + 32 <= len; i += 32) {
        const Block32 block = *reinterpret_cast<const Block32*>(hist + shift + i);
        *reinterpret_cast<Block32*>(hist + i) = block;
    }
    std::memmove(hist + i, hist + shift + i, static_cast<size_t>(len - i));
}

}  // namespace

void decode_init(vekLZSSState* s) {
    s->pHashRand = nullptr;
    s->pPrev = nullptr;
    s->pHead = nullptr;
    s->pWindowBase = history(s);
    // pWindow and position belong to the encoder and are left as they are.
    s->bitCount = 0;
    s->bitBufHi = 0;
    s->bitBufLo = 0;
    s->matchOffset = 0;
    s->matchRemain = 0;
}

vekStatus decode(const uint8_t** src, int32_t* src_len, uint8_t** dst, int32_t* dst_len,
                 vekLZSSState* s) {
    const uint8_t* in = *src;
    const int32_t n = std::max(*src_len, 0);
    int32_t avail = n;
    uint8_t* const out0 = *dst;
    const int32_t cap = *dst_len;
    uint8_t* const hist = history(s);
    int32_t o = 0;  // bytes produced

    // Bits waiting from the last call, the next one in bit 63; the bits
    // below `count` may hold a copy of the next input byte's top bits.
    int32_t count = s->bitCount;
    uint64_t bits = static_cast<uint64_t>(s->bitBufHi) << 32;
    if (count < 0 || count > 31) count = 0;  // never left by the decoder
    bits &= ~(~uint64_t(0) >> count);

    vekStatus status = vekStatusOk;
    bool give_back = false;
    if (s->matchRemain > 0) {
        int32_t d = s->matchOffset;
        if (d < 1 || d > kWindowSize) d = kWindowSize;
        const int32_t k = std::min(s->matchRemain, cap);
        copy_match(out0, 0, d, k, cap, hist);
        o = k;
        s->matchRemain -= k;
        if (s->matchRemain == 0) s->matchOffset = 0;
        if (o == cap) status = vekStatusDstTooSmall;
    }

    while (status == vekStatusOk) {
        if (count < 24) {
            if (avail >= 8) {
                const uint64_t v = __builtin_bswap64(load64(in));
                bits |= v >> count;
                const int32_t nb = (63 - count) >> 3;
                in += nb;
                avail -= nb;
                count += 8 * nb;
            } else {
                while (avail > 0 && count <= 56) {
                    bits |= static_cast<uint64_t>(*in++) << (56 - count);
                    count += 8;
                    --avail;
                }
            }
        }
        if (static_cast<int64_t>(bits) < 0) {
            if (count < 9) break;  // incomplete literal: wait for more input
            out0[o++] = static_cast<uint8_t>(bits >> 55);
            bits <<= 9;
            count -= 9;
            if (o == cap) {
                status = vekStatusDstTooSmall;
                give_back = true;
            }
        } else {
            if (count < 24) break;  // incomplete match (or no bits at all)
            const uint32_t token = static_cast<uint32_t>(bits >> 40);
            bits <<= 24;
            count -= 24;
            int32_t d = static_cast<int32_t>((token >> 8) & 0x7FFF);
            if (d == 0) d = kWindowSize;
            const int32_t len = static_cast<int32_t>(token & 0xFF) + kMinMatch;
            const int32_t room = cap - o;
            const int32_t k = std::min(len, room);
            copy_match(out0, o, d, k, cap, hist);
            o += k;
            if (len > room) {
                s->matchOffset = d;
                s->matchRemain = len - room;
            }
            if (o == cap) {
                status = vekStatusDstTooSmall;
                give_back = true;
            }
        }
    }

    if (give_back) {
        // A lazy reader would not have taken the whole bytes still buffered
        // (unless they came from the previous call).
        const int32_t g = std::min(n - avail, count >> 3);
        in -= g;
        avail += g;
        count -= 8 * g;
    }
    bits &= ~(~uint64_t(0) >> count);

    // The history keeps the last 32768 bytes of the stream.
    if (o >= kWindowSize) {
        std::memcpy(hist, out0 + o - kWindowSize, kWindowSize);
    } else if (o > 0) {
        shift_history(hist, o);
        std::memcpy(hist + kWindowSize - o, out0, static_cast<size_t>(o));
    }

    s->bitCount = count;
    s->bitBufHi = static_cast<uint32_t>(bits >> 32);
    s->bitBufLo = 0;
    *src = in;
    *src_len = avail;
    *dst = out0 + o;
    *dst_len = cap - o;
    return status;
}

}  // namespace vek::lzss
