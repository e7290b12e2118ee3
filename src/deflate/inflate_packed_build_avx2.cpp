// Packed tables of the second fast loop, eight entries per AVX2 step: the
// same entries as the portable builder (inflate_packed_build.cpp), built
// from the state's flag and value arrays without a branch per entry.
#include <immintrin.h>

#include "deflate/inflate_lookup.h"

#define VEK_AVX2 __attribute__((target("avx2")))

namespace vek::deflate {

namespace {

constexpr uint32_t kLitSize = 1u << kPackedLitBits;
constexpr uint32_t kDistSize = 1u << kPackedDistBits;
constexpr uint32_t kRootSize = 1024;

VEK_AVX2 inline __m256i set1(uint32_t v) {
    return _mm256_set1_epi32(static_cast<int>(v));
}

// pack_literal_length for eight flag/value pairs.
VEK_AVX2 inline __m256i pack_lit8(__m256i f, __m256i v) {
    const __m256i n = _mm256_and_si256(f, set1(15));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i inRange = _mm256_andnot_si256(_mm256_cmpeq_epi32(n, zero),
                                                _mm256_cmpgt_epi32(set1(kPackedLitBits + 1), n));
    const __m256i isLit = _mm256_cmpgt_epi32(set1(16), f);
    const __m256i isLen =
        _mm256_cmpeq_epi32(_mm256_and_si256(f, set1(kFlagLength)), set1(kFlagLength));
    const __m256i nn = _mm256_or_si256(n, _mm256_slli_epi32(n, 8));
    const __m256i hi = _mm256_slli_epi32(v, 24);
    const __m256i lit = _mm256_or_si256(_mm256_or_si256(nn, set1(kPackedLiteral)),
                                        _mm256_or_si256(_mm256_slli_epi32(v, 16), hi));
    const __m256i lex = _mm256_and_si256(_mm256_srli_epi32(f, 4), set1(7));
    const __m256i len =
        _mm256_or_si256(_mm256_add_epi32(nn, lex), _mm256_or_si256(set1(kPackedHasLength), hi));
    const __m256i upTo258 =
        _mm256_cmpgt_epi32(set1(257), _mm256_add_epi32(v, _mm256_sllv_epi32(set1(1), lex)));
    __m256i r = _mm256_blendv_epi8(set1(kPackedSlow), len,
                                   _mm256_and_si256(_mm256_and_si256(isLen, upTo258), inRange));
    return _mm256_blendv_epi8(r, lit, _mm256_and_si256(isLit, inRange));
}

VEK_AVX2 inline __m256i load8x8(const uint8_t* p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
VEK_AVX2 inline __m256i load8x16(const uint8_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
VEK_AVX2 inline void store8(uint32_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Doubles a filled prefix of `have` entries until `size` are filled.
VEK_AVX2 inline void replicate(uint32_t* t, uint32_t have, uint32_t size) {
    for (; have < size; have *= 2) {
        if (have < 8) {
            for (uint32_t i = 0; i < have; ++i) t[have + i] = t[i];
            continue;
        }
        for (uint32_t i = 0; i < have; i += 8)
            store8(t + have + i, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + i)));
    }
}

}  // namespace

VEK_AVX2 void join_packed_avx2(uint32_t* lit) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i kind = set1(kPackedKindMask);
    for (uint32_t i = kLitSize; i > 0;) {
        i -= 8;
        const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lit + i));
        const __m256i n1 = _mm256_and_si256(e, set1(255));
        const __m256i at = _mm256_srlv_epi32(_mm256_add_epi32(set1(i), lane), n1);
        // Reads entries below this group or in it (still as they were).
        const __m256i s = _mm256_i32gather_epi32(reinterpret_cast<const int*>(lit), at, 4);
        const __m256i sk = _mm256_and_si256(s, kind);
        const __m256i firstLit =
            _mm256_cmpeq_epi32(_mm256_and_si256(e, kind), set1(kPackedLiteral));
        const __m256i secondOk = _mm256_or_si256(_mm256_cmpeq_epi32(sk, set1(kPackedLiteral)),
                                                 _mm256_cmpeq_epi32(sk, set1(kPackedHasLength)));
        const __m256i bits =
            _mm256_add_epi32(n1, _mm256_and_si256(_mm256_srli_epi32(s, 8), set1(15)));
        const __m256i fits = _mm256_cmpgt_epi32(set1(kPackedLitBits + 1), bits);
        const __m256i join =
            _mm256_add_epi32(_mm256_add_epi32(_mm256_and_si256(s, set1(0xFF00FFFF)),
                                              _mm256_and_si256(e, set1(0x00FF0FFF))),
                             set1(kPackedLiteral));
        store8(lit + i, _mm256_blendv_epi8(
                            e, join, _mm256_and_si256(firstLit, _mm256_and_si256(secondOk, fits))));
    }
}

VEK_AVX2 void build_packed_tables_avx2(const GeneralLookup& tab, PackedTables& pt) {
    const uint8_t* t = tab.data();
    uint32_t pointers[kRootSize / 32] = {};
    for (uint32_t i = 0; i < kRootSize; i += 8) {
        const __m256i f = load8x8(t + kLitFlag + i);
        store8(pt.lit + i, pack_lit8(f, load8x8(t + kLitValue + i)));
        const __m256i ptr = _mm256_cmpgt_epi32(_mm256_and_si256(f, set1(15)), set1(10));
        pointers[i / 32] |= static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(ptr)))
                            << (i % 32);
    }
    replicate(pt.lit, kRootSize, kLitSize);
    for (uint32_t w = 0; w < kRootSize / 32; ++w)
        for (uint32_t m = pointers[w]; m; m &= m - 1)
            resolve_packed_pointer(tab, 32 * w + static_cast<uint32_t>(__builtin_ctz(m)), pt.lit);
    join_packed_avx2(pt.lit);

    const __m256i zero = _mm256_setzero_si256();
    for (uint32_t i = 0; i < kDistSize; i += 8) {
        const __m256i f = load8x8(t + kDistFlag + i);
        const __m256i v = load8x16(t + kDistValue + 2 * i);
        const __m256i n = _mm256_and_si256(f, set1(15));
        const __m256i ex = _mm256_srli_epi32(f, 4);
        const __m256i ok =
            _mm256_andnot_si256(_mm256_or_si256(_mm256_cmpeq_epi32(n, zero),
                                                _mm256_cmpgt_epi32(n, set1(kPackedDistBits))),
                                _mm256_cmpgt_epi32(set1(14), ex));
        const __m256i d =
            _mm256_or_si256(_mm256_or_si256(_mm256_add_epi32(n, ex), _mm256_slli_epi32(n, 8)),
                            _mm256_slli_epi32(v, 16));
        store8(pt.dist + i, _mm256_and_si256(d, ok));
    }
}

VEK_AVX2 void build_packed_tables_avx2(const ShortLookup& tab, PackedTables& pt) {
    const uint8_t* t = tab.data();
    const uint32_t litSize = tab.lit_mask() + 1, distSize = tab.dist_mask() + 1;
    uint32_t i = 0;
    for (; i + 8 <= litSize; i += 8) {
        const __m256i e = load8x16(t + kShortLit + 2 * i);
        store8(pt.lit + i, pack_lit8(_mm256_and_si256(e, set1(255)), _mm256_srli_epi32(e, 8)));
    }
    for (; i < litSize; ++i) {
        const uint32_t e = load16(t + kShortLit + 2 * i);
        pt.lit[i] = pack_literal_length(e & 255, e >> 8);
    }
    replicate(pt.lit, litSize, kLitSize);
    join_packed_avx2(pt.lit);
    pack_short_distances(tab, pt.dist);
    replicate(pt.dist, distSize, kDistSize);
}

}  // namespace vek::deflate
