// Adler-32 on 32-byte AVX2 vectors, two per step. Per 64-byte step, s1 grows
// by the byte sum (VPSADBW) and s2 by 64 * s1-before plus the byte sum
// weighted 64 down to 1 (VPMADDUBSW, then VPMADDWD to 32-bit lanes). The
// s1-before terms are gathered in their own accumulator and scaled at the end
// of each run, so the loop carries no multiplication of a running sum.
#include <immintrin.h>

#include "checksum.h"

namespace vek::checksum {

namespace {
constexpr uint32_t kBase = 65521;
constexpr size_t kStepsPerRun = 86;  // 86 * 64 = 5504 bytes keep s2 below 2^32

inline uint32_t hsum_epi32(__m256i v) {
    __m128i x = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0x4E));
    x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0xB1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(x));
}
}  // namespace

uint32_t adler32_avx2(const uint8_t* p, size_t len, uint32_t adler) {
    uint32_t s1 = adler & 0xFFFF;
    uint32_t s2 = adler >> 16;
    if (len >= 64) {
        const __m256i w_hi =
            _mm256_setr_epi8(64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,
                             46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33);
        const __m256i w_lo =
            _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15,
                             14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
        const __m256i ones = _mm256_set1_epi16(1);
        const __m256i zero = _mm256_setzero_si256();
        s1 %= kBase;
        s2 %= kBase;
        while (len >= 64) {
            size_t steps = len / 64;
            if (steps > kStepsPerRun) steps = kStepsPerRun;
            len -= steps * 64;
            __m256i vs1 = zero, vs1_before = zero, vs2a = zero, vs2b = zero;
            const uint64_t run = steps * 64;
            while (steps--) {
                const __m256i d0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
                const __m256i d1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
                vs1_before = _mm256_add_epi32(vs1_before, vs1);
                vs1 = _mm256_add_epi32(
                    vs1, _mm256_add_epi32(_mm256_sad_epu8(d0, zero), _mm256_sad_epu8(d1, zero)));
                vs2a =
                    _mm256_add_epi32(vs2a, _mm256_madd_epi16(_mm256_maddubs_epi16(d0, w_hi), ones));
                vs2b =
                    _mm256_add_epi32(vs2b, _mm256_madd_epi16(_mm256_maddubs_epi16(d1, w_lo), ones));
                p += 64;
            }
            const uint64_t t2 = uint64_t(s2) + uint64_t(s1) * run +
                                64 * uint64_t(hsum_epi32(vs1_before)) +
                                hsum_epi32(_mm256_add_epi32(vs2a, vs2b));
            s1 = static_cast<uint32_t>((s1 + uint64_t(hsum_epi32(vs1))) % kBase);
            s2 = static_cast<uint32_t>(t2 % kBase);
        }
    }
    // Fewer than 64 bytes: at most 63 additions cannot overflow.
    while (len--) {
        s1 += *p++;
        s2 += s1;
    }
    return (s1 % kBase) | ((s2 % kBase) << 16);
}

}  // namespace vek::checksum
