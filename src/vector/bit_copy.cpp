// Bit-field copy. Bits are numbered from the least significant bit of each
// byte upwards, so bit k of a field lies in byte k >> 3 at position k & 7.
//
// A partial first destination byte is merged, which leaves the destination
// byte-aligned; then every whole destination byte is built from two adjacent
// source bytes (or copied, when the source is aligned too), 32 at a time on
// AVX2 vectors; a partial last byte is merged again. Source bytes are read
// only where they hold bits of the field.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "vector.h"

namespace vek::vector {
namespace {

// n (1..8) bits starting at bit `bit` (0..7) of p[0], in the low bits.
inline uint32_t read_bits(const uint8_t* p, unsigned bit, unsigned n) {
    uint32_t v = static_cast<uint32_t>(p[0]) >> bit;
    if (bit + n > 8) v |= static_cast<uint32_t>(p[1]) << (8 - bit);
    return v & ((1u << n) - 1u);
}

// Writes the low n bits of `bits` at bit `bit` of *p, keeping the others.
inline void merge_bits(uint8_t* p, unsigned bit, unsigned n, uint32_t bits) {
    const uint32_t mask = ((1u << n) - 1u) << bit;
    *p = static_cast<uint8_t>((*p & ~mask) | ((bits << bit) & mask));
}

inline __m256i load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// `bytes` whole destination bytes from a source starting at bit `sb` of s[0].
// With sb != 0, byte k is (s[k] >> sb) | (s[k + 1] << (8 - sb)), which needs
// s[0 .. bytes]; the vector loop takes 33 source bytes per 32 results.
void copy_whole_bytes(const uint8_t* s, unsigned sb, uint8_t* d, size_t bytes) {
    size_t k = 0;
    if (sb == 0) {
        for (; k + 32 <= bytes; k += 32) store(d + k, load(s + k));
        for (; k < bytes; ++k) d[k] = s[k];
        return;
    }
    // AVX2 has no byte shifts: shift 16-bit lanes and mask off the bits that
    // crossed from the neighbouring byte.
    const __m128i right = _mm_cvtsi32_si128(static_cast<int>(sb));
    const __m128i left = _mm_cvtsi32_si128(static_cast<int>(8 - sb));
    const __m256i keep_low = _mm256_set1_epi8(static_cast<char>(0xFFu >> sb));
    const __m256i keep_high = _mm256_set1_epi8(static_cast<char>((0xFFu << (8 - sb)) & 0xFFu));
    for (; k + 32 <= bytes; k += 32) {
        const __m256i lo = _mm256_and_si256(_mm256_srl_epi16(load(s + k), right), keep_low);
        const __m256i hi = _mm256_and_si256(_mm256_sll_epi16(load(s + k + 1), left), keep_high);
        store(d + k, _mm256_or_si256(lo, hi));
    }
    for (; k < bytes; ++k) d[k] = static_cast<uint8_t>((s[k] >> sb) | (s[k + 1] << (8 - sb)));
}

}  // namespace

vekStatus copy_be_1u(const uint8_t* src, int32_t src_bit_offset, uint8_t* dst,
                     int32_t dst_bit_offset, int32_t len) {
    if (src == nullptr || dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1 || src_bit_offset < 0 || dst_bit_offset < 0) return vekStatusSizeErr;
    unsigned sb = static_cast<unsigned>(src_bit_offset) & 7u;
    const unsigned db = static_cast<unsigned>(dst_bit_offset) & 7u;
    size_t n = static_cast<size_t>(len);

    if (db != 0) {
        const unsigned k = n < 8 - db ? static_cast<unsigned>(n) : 8 - db;
        merge_bits(dst, db, k, read_bits(src, sb, k));
        ++dst;
        sb += k;
        src += sb >> 3;
        sb &= 7u;
        n -= k;
    }
    const size_t bytes = n >> 3;
    copy_whole_bytes(src, sb, dst, bytes);
    const unsigned rest = static_cast<unsigned>(n & 7u);
    if (rest != 0) merge_bits(dst + bytes, 0, rest, read_bits(src + bytes, sb, rest));
    return vekStatusOk;
}

}  // namespace vek::vector
