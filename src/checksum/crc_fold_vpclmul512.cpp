// CRC-32 and CRC-32C by 512-bit carry-less-multiply folding (AVX-512 with
// VPCLMULQDQ). Four 64-byte accumulators fold 256 bytes per step; the tail
// below 256 bytes is folded down to one 128-bit lane and finished by the
// 128-bit path's reduction. Only reached when the processor reports both.
#include <immintrin.h>

// GCC 12's AVX-512 headers build some results from a deliberately undefined
// vector and then warn about it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "checksum.h"
#include "crc_fold_clmul.h"
#include "crc32c_insn.h"

#define VEK_TARGET_512 __attribute__((target("avx512f,avx512bw,avx512vl,vpclmulqdq,pclmul")))

namespace vek::checksum {
namespace {

struct WideKeys {
    uint64_t k2048lo, k2048hi, k512lo, k512hi, k384lo, k384hi, k256lo, k256hi;
};
constexpr WideKeys make_wide_keys(uint32_t poly) {
    return {fold_const_reflected(2080, poly), fold_const_reflected(2016, poly),
            fold_const_reflected(544, poly),  fold_const_reflected(480, poly),
            fold_const_reflected(416, poly),  fold_const_reflected(352, poly),
            fold_const_reflected(288, poly),  fold_const_reflected(224, poly)};
}
constexpr WideKeys kCrc32Wide = make_wide_keys(kCrc32Poly);
constexpr WideKeys kCrc32cWide = make_wide_keys(kCrc32cPoly);
constexpr ReflectedFoldKeys kCrc32Keys = make_reflected_fold_keys(kCrc32Poly);
constexpr ReflectedFoldKeys kCrc32cKeys = make_reflected_fold_keys(kCrc32cPoly);

// Prefetch distance: the loop outruns the hardware prefetcher on long inputs.
constexpr size_t kPrefetch = 2048;

VEK_TARGET_512 inline __m512i fold512(__m512i x, __m512i k, __m512i next) {
    const __m512i lo = _mm512_clmulepi64_epi128(x, k, 0x00);
    const __m512i hi = _mm512_clmulepi64_epi128(x, k, 0x11);
    return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // three-way XOR
}

VEK_TARGET_512 inline __m512i keys512(uint64_t lo, uint64_t hi) {
    return _mm512_broadcast_i32x4(
        _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)));
}

// Folds [p, p + len), len >= 256, from raw register r down to 64 bits with
// the same pure CRC; *consumed receives the multiple of 16 bytes taken.
VEK_TARGET_512 uint64_t fold_wide(const uint8_t* p, size_t len, uint32_t r, const WideKeys& w,
                                  const ReflectedFoldKeys& k, size_t* consumed) {
    const uint8_t* const start = p;
    const __m512i k2048 = keys512(w.k2048lo, w.k2048hi);
    const __m512i k512 = keys512(w.k512lo, w.k512hi);
    __m512i z0 = _mm512_xor_si512(_mm512_loadu_si512(p),
                                  _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(r))));
    __m512i z1 = _mm512_loadu_si512(p + 64);
    __m512i z2 = _mm512_loadu_si512(p + 128);
    __m512i z3 = _mm512_loadu_si512(p + 192);
    p += 256;
    len -= 256;
    while (len >= 256) {
        _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetch), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetch + 64), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetch + 128), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetch + 192), _MM_HINT_T0);
        z0 = fold512(z0, k2048, _mm512_loadu_si512(p));
        z1 = fold512(z1, k2048, _mm512_loadu_si512(p + 64));
        z2 = fold512(z2, k2048, _mm512_loadu_si512(p + 128));
        z3 = fold512(z3, k2048, _mm512_loadu_si512(p + 192));
        p += 256;
        len -= 256;
    }
    z1 = fold512(z0, k512, z1);
    z2 = fold512(z1, k512, z2);
    z3 = fold512(z2, k512, z3);
    while (len >= 64) {
        z3 = fold512(z3, k512, _mm512_loadu_si512(p));
        p += 64;
        len -= 64;
    }
    // Lanes a0..a3 in message order: fold each one onto the last.
    const __m128i a0 = _mm512_extracti32x4_epi32(z3, 0);
    const __m128i a1 = _mm512_extracti32x4_epi32(z3, 1);
    const __m128i a2 = _mm512_extracti32x4_epi32(z3, 2);
    const __m128i a3 = _mm512_extracti32x4_epi32(z3, 3);
    const __m128i k384 =
        _mm_set_epi64x(static_cast<long long>(w.k384hi), static_cast<long long>(w.k384lo));
    const __m128i k256 =
        _mm_set_epi64x(static_cast<long long>(w.k256hi), static_cast<long long>(w.k256lo));
    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(k.k128hi), static_cast<long long>(k.k128lo));
    __m128i x =
        _mm_ternarylogic_epi64(fold128x(a0, k384), fold128x(a1, k256), fold128x(a2, k128), 0x96);
    x = _mm_xor_si128(x, a3);
    while (len >= 16) {
        x = _mm_xor_si128(fold128x(x, k128), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        p += 16;
        len -= 16;
    }
    *consumed = static_cast<size_t>(p - start);
    return reduce_reflected128(x, k);
}

}  // namespace

uint32_t crc32_vpclmul512(const uint8_t* p, size_t len, uint32_t crc) {
    if (len < 256) return crc32_clmul(p, len, crc);
    size_t used = 0;
    const uint32_t r = crc32_of_u64(fold_wide(p, len, ~crc, kCrc32Wide, kCrc32Keys, &used));
    return crc32_table(p + used, len - used, ~r);
}

uint32_t crc32c_vpclmul512(const uint8_t* p, size_t len, uint32_t r) {
    if (len < 256) return crc32c_sse42_clmul(p, len, r);
    size_t used = 0;
    const uint64_t v = fold_wide(p, len, r, kCrc32cWide, kCrc32cKeys, &used);
    // The CRC32 instruction finishes the 64 bits and the tail (the dispatcher
    // only comes here when the processor has it).
    return crc32c_sse42_clmul(p + used, len - used, crc32c_u64(0, v));
}

}  // namespace vek::checksum
