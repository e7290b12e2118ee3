// bzip2 CRC (MSB-first) by 128-bit carry-less-multiply folding. Blocks are
// loaded byte-reversed so that the first byte is the most significant and the
// products need no reflection: folding over d bits multiplies the high 64 bits
// by x^(d+64) mod P and the low 64 bits by x^d mod P.
#include <immintrin.h>

#include "checksum.h"
#include "crc_tables.h"

namespace vek::checksum {
namespace {

constexpr uint64_t k(uint32_t e) {
    return xpow_msb(e, kBz2Poly);
}

inline __m128i fold(__m128i x, __m128i keys, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, keys, 0x00), _mm_clmulepi64_si128(x, keys, 0x11)),
        next);
}

}  // namespace

uint32_t crc32_bz2_clmul(const uint8_t* p, size_t len, uint32_t crc) {
    if (len < 64) return crc32_bz2_table(p, len, crc);
    const __m128i rev = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    auto load = [rev](const uint8_t* q) {
        return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), rev);
    };
    const __m128i k512 =
        _mm_set_epi64x(static_cast<long long>(k(576)), static_cast<long long>(k(512)));
    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(k(192)), static_cast<long long>(k(128)));
    const uint32_t r0 = ~crc;
    __m128i x0 = _mm_xor_si128(load(p), _mm_set_epi32(static_cast<int>(r0), 0, 0, 0));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    len -= 64;
    while (len >= 64) {
        x0 = fold(x0, k512, load(p));
        x1 = fold(x1, k512, load(p + 16));
        x2 = fold(x2, k512, load(p + 32));
        x3 = fold(x3, k512, load(p + 48));
        p += 64;
        len -= 64;
    }
    x1 = fold(x0, k128, x1);
    x2 = fold(x1, k128, x2);
    __m128i x = fold(x2, k128, x3);
    for (; len >= 16; len -= 16, p += 16) x = fold(x, k128, load(p));

    // 128 -> 64 bits: the top two 32-bit words move down by x^96 and x^64.
    const __m128i red =
        _mm_set_epi64x(static_cast<long long>(k(64)), static_cast<long long>(k(96)));
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    const __m128i top = _mm_srli_si128(x, 12);
    const __m128i next = _mm_and_si128(_mm_srli_si128(x, 8), mask32);
    const __m128i v = _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(top, red, 0x00), _mm_clmulepi64_si128(next, red, 0x10)),
        _mm_move_epi64(x));
    uint64_t rem;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&rem), v);
    uint32_t r = 0;
    for (int i = 7; i >= 0; --i) r = bz2_byte(r, static_cast<uint8_t>(rem >> (8 * i)));
    while (len--) r = bz2_byte(r, *p++);
    return ~r;
}

}  // namespace vek::checksum
