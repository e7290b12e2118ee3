// Decoder entry logic: the stream that is only an end marker, the chunked
// container written by a multi-threaded encoder, and plain streams.
//
// Container: 0x55, N (1..32), N ^ 0x55, the total decoded length T, the
// compressed sizes of chunks 0 .. N-2 (32-bit little-endian each), then the
// chunks back to back. Chunk i decodes to T / N bytes at i * (T / N), the
// last one to T / N + T % N bytes.
#include "core/load.h"
#include "lzo/lzo.h"

namespace vek::lzo {

namespace {

constexpr uint8_t kContainerMagic = 0x55;
constexpr uint32_t kMaxChunks = 32;

bool is_end_marker(const uint8_t* p) {
    return p[0] == 0x11 && p[1] == 0 && p[2] == 0;
}

// The container is recognised by its header and by chunk 0 ending with an
// end marker. The marker test reads only inside the input: a chunk 0 that
// would end beyond it means the input is not taken for a container.
bool is_container(const uint8_t* src, uint32_t len) {
    if (len < 11 || src[0] != kContainerMagic) return false;
    const uint32_t n = src[1];
    if (n < 1 || n > kMaxChunks || src[2] != (n ^ kContainerMagic)) return false;
    const uint64_t s0 = load32(src + 7);
    if (s0 + 7 > len || 4 * n + s0 + 3 > len) return false;
    return is_end_marker(src + 4 * n + s0);
}

vekStatus decode_container(const uint8_t* src, uint32_t len, uint8_t* dst, uint32_t* dst_len) {
    const uint32_t n = src[1];
    const uint32_t total = load32(src + 3);
    const uint32_t share = total / n;
    const uint64_t cap = *dst_len;
    uint64_t pos = 3 + 4 * n;
    uint64_t decoded = 0;
    vekStatus status = vekStatusOk;
    // Every chunk is decoded, even after one has failed; the last failure
    // decides the status.
    for (uint32_t i = 0; i < n; ++i) {
        const bool last = i + 1 == n;
        uint64_t size;
        if (!last) {
            size = load32(src + 7 + 4 * i);
        } else if (pos <= len) {
            size = len - pos;
        } else {
            status = vekStatusCorruptStreamErr;
            break;
        }
        const uint64_t at = pos;
        pos += size;
        if (pos > len) {  // the listed size runs past the input
            status = vekStatusCorruptStreamErr;
            continue;
        }
        // The slot, cut to the part that lies inside the caller's buffer: a
        // chunk that needs more than that fails like any over-long stream.
        const uint64_t slot = uint64_t(i) * share;
        uint64_t room = last ? share + total % n : share;
        if (slot >= cap)
            room = 0;
        else if (room > cap - slot)
            room = cap - slot;
        uint32_t got = static_cast<uint32_t>(room);
        const vekStatus st = decode_stream_safe(src + at, static_cast<uint32_t>(size),
                                                dst + (slot < cap ? slot : cap), &got);
        if (st != vekStatusOk)
            status = st;
        else
            decoded += got;
    }
    if (status != vekStatusOk) return status;
    *dst_len = static_cast<uint32_t>(decoded);
    return vekStatusOk;
}

}  // namespace

vekStatus decode(const uint8_t* src, uint32_t src_len, uint8_t* dst, uint32_t* dst_len,
                 bool trusting) {
    if (src_len == 0 || (src_len >= 3 && is_end_marker(src))) {
        *dst_len = 0;
        return vekStatusOk;
    }
    if (is_container(src, src_len)) return decode_container(src, src_len, dst, dst_len);
    return trusting ? decode_stream_trusting(src, src_len, dst, dst_len)
                    : decode_stream_safe(src, src_len, dst, dst_len);
}

}  // namespace vek::lzo
