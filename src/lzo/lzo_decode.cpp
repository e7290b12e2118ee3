// LZO1X stream decoding, in a validating and a trusting form built from one
// template. The validating form checks every read against the end of the
// input, every write against the capacity and every distance against the
// bytes already decoded. The trusting form leaves those checks out and only
// looks, between tokens, for the end of the input or of the capacity: it is
// for streams the caller produced itself or has already validated.
//
// Both copy with wide moves only while the move stays inside the buffers,
// so on any stream whose output fits they touch nothing outside them.
#include <immintrin.h>

#include <cstring>

#include "core/load.h"
#include "core/repeat_pattern.h"
#include "lzo/lzo.h"
#include "lzo/lzo_tokens.h"

namespace vek::lzo {

namespace {

// Literal run of L bytes: one 32-byte move when it fits both buffers,
// otherwise an exact copy.
inline void copy_literals(uint8_t* op, const uint8_t* ip, size_t L, size_t in_room,
                          size_t out_room) {
    if (L <= 32 && in_room >= 32 && out_room >= 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(op),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ip)));
        return;
    }
    copy_exact(op, ip, L);
}

// Match of m bytes from d bytes back; `room` bytes may be written at op
// (room >= m). A distance shorter than the length repeats the pattern.
inline void copy_match(uint8_t* op, size_t d, size_t m, size_t room) {
    const uint8_t* from = op - d;
    if (m <= room && room - m >= 32) {
        if (d >= 32) {
            for (size_t k = 0; k < m; k += 32)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(op + k),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + k)));
        } else if (d >= 16) {
            for (size_t k = 0; k < m; k += 16)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(op + k),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
        } else {
            // The load also picks up bytes at and after op; the shuffle only
            // uses the d bytes before op.
            const __m128i pat = core::repeat16(from, d);
            const size_t adv = core::repeat_stride(d);
            for (size_t k = 0; k < m; k += adv)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(op + k), pat);
        }
        return;
    }
    size_t k = 0;
    if (d >= 16)
        for (; k + 16 <= m; k += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(op + k),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
    for (; k < m; ++k) op[k] = from[k];
}

// Zero-run length: `base` + 255 per 0x00 byte + the first non-zero byte.
// False when the input ends first.
inline bool read_run(const uint8_t*& ip, const uint8_t* ip_end, uint64_t base, uint64_t* len) {
    const uint8_t* const first = ip;
    for (;;) {
        if (ip_end - ip >= 8) {
            const uint64_t w = load64(ip);
            if (w) {
                ip += __builtin_ctzll(w) >> 3;
                break;
            }
            ip += 8;
        } else {
            while (ip < ip_end && *ip == 0) ++ip;
            if (ip >= ip_end) return false;
            break;
        }
    }
    *len = base + 255 * uint64_t(ip - first) + *ip;
    ++ip;
    return true;
}

template <bool kSafe>
vekStatus decode_impl(const uint8_t* src, uint32_t src_len, uint8_t* dst, uint32_t* dst_len) {
    const uint8_t* ip = src;
    const uint8_t* const ip_end = src + src_len;
    uint8_t* op = dst;
    uint8_t* const op_end = dst + *dst_len;
    size_t t;
    uint64_t len, dist;

    auto in_room = [&]() -> size_t { return ip < ip_end ? size_t(ip_end - ip) : 0; };
    auto out_room = [&]() -> size_t { return op < op_end ? size_t(op_end - op) : 0; };
    // Between tokens: the input is used up (or, trusting, the capacity
    // passed).
    auto stop = [&]() { return ip >= ip_end || (!kSafe && op > op_end); };

    if (stop()) goto done;
    t = *ip++;
    if (t > 17) {
        len = t - 17;
        if (kSafe && (in_room() < len || out_room() < len)) goto corrupt;
        copy_literals(op, ip, len, in_room(), out_room());
        ip += len;
        op += len;
        if (len < 4) goto after_trailing;
        goto after_literal;
    }
    goto literal_or_match;

after_match:
    if (stop()) goto done;
    t = *ip++;
literal_or_match:
    if (t >= 16) goto match;
    if (t == 0) {
        if (!read_run(ip, ip_end, 18, &len)) {
            if (kSafe) goto corrupt;
            goto done;
        }
    } else {
        len = t + 3;
    }
    if (kSafe && (in_room() < len || out_room() < len)) goto corrupt;
    copy_literals(op, ip, static_cast<size_t>(len), in_room(), out_room());
    ip += len;
    op += len;

after_literal:
    if (stop()) goto done;
    t = *ip++;
    if (t >= 16) goto match;
    // Three bytes from beyond the two-byte token's reach.
    if (kSafe && ip >= ip_end) goto corrupt;
    len = 3;
    dist = 2049 + (t >> 2) + (size_t(*ip++) << 2);
    goto copy;

after_trailing:
    if (stop()) goto done;
    t = *ip++;
    if (t >= 16) goto match;
    if (kSafe && ip >= ip_end) goto corrupt;
    len = 2;
    dist = 1 + (t >> 2) + (size_t(*ip++) << 2);
    goto copy;

match:
    if (t >= 64) {
        if (kSafe && ip >= ip_end) goto corrupt;
        len = (t >> 5) + 1;
        dist = 1 + ((t >> 2) & 7) + (size_t(*ip++) << 3);
    } else {
        const bool near = t >= 32;
        const size_t short_bits = near ? 31 : 7;
        if ((t & short_bits) == 0) {
            if (!read_run(ip, ip_end, near ? 33 : 9, &len)) {
                if (kSafe) goto corrupt;
                goto done;
            }
        } else {
            len = (t & short_bits) + 2;
        }
        if (kSafe && in_room() < 2) goto corrupt;
        const uint32_t w = load16(ip);
        ip += 2;
        if (near) {
            dist = (w >> 2) + 1;
        } else {
            const uint32_t field = ((uint32_t(t) & 8) << 11) | (w >> 2);
            if (field == 0) goto done;  // end marker
            dist = 16384 + uint64_t(field);
        }
    }

copy:
    if (kSafe && (dist > uint64_t(op - dst) || len > out_room())) goto corrupt;
    copy_match(op, static_cast<size_t>(dist), static_cast<size_t>(len), out_room());
    op += len;
    // Up to three literals follow, counted in the low bits of the byte
    // two places back.
    t = ip[-2] & 3;
    if (t == 0) goto after_match;
    if (kSafe && (in_room() < t || out_room() < t)) goto corrupt;
    if (in_room() >= 4 && out_room() >= 4) {
        std::memcpy(op, ip, 4);
    } else {
        for (size_t k = 0; k < t; ++k) op[k] = ip[k];
    }
    ip += t;
    op += t;
    goto after_trailing;

done:
    *dst_len = static_cast<uint32_t>(op - dst);
    return vekStatusOk;
corrupt:
    return vekStatusCorruptStreamErr;
}

}  // namespace

vekStatus decode_stream_safe(const uint8_t* src, uint32_t src_len, uint8_t* dst,
                             uint32_t* dst_len) {
    return decode_impl<true>(src, src_len, dst, dst_len);
}

vekStatus decode_stream_trusting(const uint8_t* src, uint32_t src_len, uint8_t* dst,
                                 uint32_t* dst_len) {
    return decode_impl<false>(src, src_len, dst, dst_len);
}

}  // namespace vek::lzo
