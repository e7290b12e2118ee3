// Adler-32 on 64-byte AVX-512 vectors, four per 256-byte step, with or
// without VNNI. For a step of vectors d0..d3 the s2 update is
//   256 * s1_before + sum_k dot(d_k, 64..1) + 64 * (3*sum(d0) + 2*sum(d1) + sum(d2)),
// so each vector needs one weighted dot product with the same weights, and
// the positional terms are gathered in accumulators scaled once per run.
// s1-type sums live in 64-bit lanes (VPSADBW), so only the 32-bit dot
// product lanes bound the run length.
#include <immintrin.h>

#include "checksum.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace vek::checksum {
namespace {

constexpr uint32_t kBase = 65521;
// Dot-product lanes grow by at most 255 * (64 + 63 + 62 + 61) per step.
constexpr size_t kStepsPerRun = 4096;

#define VEK_AVX512_ADLER __attribute__((target("avx512f,avx512bw,avx512vl,avx512vnni")))

template <bool Vnni>
VEK_AVX512_ADLER inline __m512i dot_acc(__m512i acc, __m512i d, __m512i w) {
    if constexpr (Vnni) {
        return _mm512_dpbusd_epi32(acc, d, w);
    } else {
        const __m512i pairs = _mm512_maddubs_epi16(d, w);
        return _mm512_add_epi32(acc, _mm512_madd_epi16(pairs, _mm512_set1_epi16(1)));
    }
}

template <bool Vnni>
VEK_AVX512_ADLER uint32_t adler_wide(const uint8_t* p, size_t len, uint32_t adler) {
    uint64_t s1 = (adler & 0xFFFF) % kBase;
    uint64_t s2 = (adler >> 16) % kBase;
    const __m512i w = _mm512_set_epi8(
        1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
        26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48,
        49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64);
    const __m512i zero = _mm512_setzero_si512();
    while (len >= 256) {
        size_t steps = len / 256;
        if (steps > kStepsPerRun) steps = kStepsPerRun;
        len -= steps * 256;
        const uint64_t run = steps * 256;
        __m512i vs1 = zero, before = zero, extra = zero;
        __m512i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
        while (steps--) {
            // The hardware prefetcher alone leaves the loop waiting on L2.
            for (int i = 0; i < 256; i += 64)
                _mm_prefetch(reinterpret_cast<const char*>(p + 2048 + i), _MM_HINT_T0);
            const __m512i d0 = _mm512_loadu_si512(p);
            const __m512i d1 = _mm512_loadu_si512(p + 64);
            const __m512i d2 = _mm512_loadu_si512(p + 128);
            const __m512i d3 = _mm512_loadu_si512(p + 192);
            const __m512i t0 = _mm512_sad_epu8(d0, zero);
            const __m512i t1 = _mm512_add_epi64(t0, _mm512_sad_epu8(d1, zero));
            const __m512i t2 = _mm512_add_epi64(t1, _mm512_sad_epu8(d2, zero));
            const __m512i t3 = _mm512_add_epi64(t2, _mm512_sad_epu8(d3, zero));
            extra = _mm512_add_epi64(extra, _mm512_add_epi64(_mm512_add_epi64(t0, t1), t2));
            before = _mm512_add_epi64(before, vs1);
            vs1 = _mm512_add_epi64(vs1, t3);
            a0 = dot_acc<Vnni>(a0, d0, w);
            a1 = dot_acc<Vnni>(a1, d1, w);
            a2 = dot_acc<Vnni>(a2, d2, w);
            a3 = dot_acc<Vnni>(a3, d3, w);
            p += 256;
        }
        const __m512i dots = _mm512_add_epi32(_mm512_add_epi32(a0, a1), _mm512_add_epi32(a2, a3));
        const uint64_t dot_sum = static_cast<uint64_t>(_mm512_reduce_add_epi64(
            _mm512_add_epi64(_mm512_cvtepu32_epi64(_mm512_castsi512_si256(dots)),
                             _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(dots, 1)))));
        s2 += s1 * run + 256 * static_cast<uint64_t>(_mm512_reduce_add_epi64(before)) +
              64 * static_cast<uint64_t>(_mm512_reduce_add_epi64(extra)) + dot_sum;
        s1 += static_cast<uint64_t>(_mm512_reduce_add_epi64(vs1));
        s1 %= kBase;
        s2 %= kBase;
    }
    // Whole vectors left over, then single bytes.
    while (len >= 64) {
        const __m512i d = _mm512_loadu_si512(p);
        const __m512i dot = dot_acc<Vnni>(zero, d, w);
        s2 += 64 * s1 + static_cast<uint32_t>(_mm512_reduce_add_epi32(dot));
        s1 += static_cast<uint64_t>(_mm512_reduce_add_epi64(_mm512_sad_epu8(d, zero)));
        p += 64;
        len -= 64;
    }
    while (len--) {
        s1 += *p++;
        s2 += s1;
    }
    return static_cast<uint32_t>(s1 % kBase) | static_cast<uint32_t>(s2 % kBase) << 16;
}

}  // namespace

uint32_t adler32_avx512(const uint8_t* p, size_t len, uint32_t adler) {
    return adler_wide<false>(p, len, adler);
}

uint32_t adler32_avx512_vnni(const uint8_t* p, size_t len, uint32_t adler) {
    return adler_wide<true>(p, len, adler);
}

}  // namespace vek::checksum
