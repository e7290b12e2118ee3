// AVX2 block kernels: eight lanes for gather, scaling, the lifting passes and
// negabinary conversion; a table-driven gather for the sequency order; and a
// byte-wise bit-matrix transposition between coefficients and plane words
// (movemask on the way in, a compare-and-accumulate expansion on the way
// out). Results are bit-identical to the portable kernels.
#include <immintrin.h>

#include <cstring>

#include "zfp/zfp_internal.h"

namespace vek::zfp {

namespace {

// Coefficients travel in eight vectors P[r] arranged for the byte
// transposition: lane L of P[r] holds coefficient
//   j(r, L) = 32 (r / 4) + 16 (L / 4) + 4 (r % 4) + L % 4,
// so that once each vector's bytes are grouped by significance (kByteGroup)
// and the dwords of four vectors are transposed, byte p of the vector for
// byte b of group g is byte b of coefficient 32 g + p: the order in which
// movemask numbers its bits.
constexpr int arranged(int r, int lane) {
    return 32 * (r / 4) + 16 * (lane / 4) + 4 * (r % 4) + lane % 4;
}

struct Tables {
    int32_t encode_index[64];  // arranged position -> block element
};

// The decoder builds its bytes straight in block order: byte p of the
// vector for half g ends up in vector 4 g + (p / 4) % 4, lane
// 4 (p / 16) + p % 4, which must hold block element 8 r + lane. pick
// selects the byte of the 64-bit plane word holding that element's
// coefficient, bit the bit within it.
struct Expand {
    uint8_t pick[2][32];
    uint8_t bit[2][32];
};

constexpr Expand make_expand() {
    Expand t{};
    for (int g = 0; g < 2; ++g)
        for (int p = 0; p < 32; ++p) {
            const int element = 8 * (4 * g + (p / 4) % 4) + 4 * (p / 16) + p % 4;
            const int j = kPermDecode[element];
            t.pick[g][p] = static_cast<uint8_t>(j / 8);
            t.bit[g][p] = static_cast<uint8_t>(1 << (j % 8));
        }
    return t;
}

constexpr Expand kExpand = make_expand();

constexpr Tables make_tables() {
    Tables t{};
    for (int r = 0; r < 8; ++r)
        for (int lane = 0; lane < 8; ++lane)
            t.encode_index[8 * r + lane] = kPerm[arranged(r, lane)];
    return t;
}

constexpr Tables kTables = make_tables();

using V = __m256i;

inline V add(V a, V b) {
    return _mm256_add_epi32(a, b);
}
inline V sub(V a, V b) {
    return _mm256_sub_epi32(a, b);
}
inline V sra1(V a) {
    return _mm256_srai_epi32(a, 1);
}
inline V shl1(V a) {
    return _mm256_slli_epi32(a, 1);
}

inline void forward_lift(V& x, V& y, V& z, V& w) {
    x = add(x, w);
    x = sra1(x);
    w = sub(w, x);
    z = add(z, y);
    z = sra1(z);
    y = sub(y, z);
    x = add(x, z);
    x = sra1(x);
    z = sub(z, x);
    w = add(w, y);
    w = sra1(w);
    y = sub(y, w);
    w = add(w, sra1(y));
    y = sub(y, sra1(w));
}

inline void inverse_lift(V& x, V& y, V& z, V& w) {
    y = add(y, sra1(w));
    w = sub(w, sra1(y));
    y = add(y, w);
    w = shl1(w);
    w = sub(w, y);
    z = add(z, x);
    x = shl1(x);
    x = sub(x, z);
    y = add(y, z);
    z = shl1(z);
    z = sub(z, y);
    w = add(w, x);
    x = shl1(x);
    x = sub(x, w);
}

// 4x4 transposition of 32-bit elements within each 128-bit half of four
// vectors (its own inverse).
inline void transpose4(V& a, V& b, V& c, V& d) {
    const V t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
    const V t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
    a = _mm256_unpacklo_epi64(t0, t2);
    b = _mm256_unpackhi_epi64(t0, t2);
    c = _mm256_unpacklo_epi64(t1, t3);
    d = _mm256_unpackhi_epi64(t1, t3);
}

// Vector k holds block elements 8k..8k+7: z = k / 2, y = 2 (k % 2) + lane / 4,
// x = lane % 4.
template <bool kForward>
inline void lift_x(V* n) {
    for (int g = 0; g < 8; g += 4) {
        transpose4(n[g], n[g + 1], n[g + 2], n[g + 3]);
        if (kForward)
            forward_lift(n[g], n[g + 1], n[g + 2], n[g + 3]);
        else
            inverse_lift(n[g], n[g + 1], n[g + 2], n[g + 3]);
        transpose4(n[g], n[g + 1], n[g + 2], n[g + 3]);
    }
}

template <bool kForward>
inline void lift_y(V* n) {
    for (int g = 0; g < 8; g += 4) {
        // Two planes at a time: rows y of both planes side by side.
        V p0 = _mm256_permute2x128_si256(n[g], n[g + 2], 0x20);
        V p1 = _mm256_permute2x128_si256(n[g], n[g + 2], 0x31);
        V p2 = _mm256_permute2x128_si256(n[g + 1], n[g + 3], 0x20);
        V p3 = _mm256_permute2x128_si256(n[g + 1], n[g + 3], 0x31);
        if (kForward)
            forward_lift(p0, p1, p2, p3);
        else
            inverse_lift(p0, p1, p2, p3);
        n[g] = _mm256_permute2x128_si256(p0, p1, 0x20);
        n[g + 2] = _mm256_permute2x128_si256(p0, p1, 0x31);
        n[g + 1] = _mm256_permute2x128_si256(p2, p3, 0x20);
        n[g + 3] = _mm256_permute2x128_si256(p2, p3, 0x31);
    }
}

template <bool kForward>
inline void lift_z(V* n) {
    for (int h = 0; h < 2; ++h) {
        if (kForward)
            forward_lift(n[h], n[h + 2], n[h + 4], n[h + 6]);
        else
            inverse_lift(n[h], n[h + 2], n[h + 4], n[h + 6]);
    }
}

// Within each 128-bit half: byte 4d + i of the result is byte d of dword i.
inline V byte_group() {
    return _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,  //
                            0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
}

const uint8_t* row(const float* base, int32_t step, int32_t plane_step, int y, int z) {
    return reinterpret_cast<const uint8_t*>(base) + static_cast<intptr_t>(z) * plane_step +
           static_cast<intptr_t>(y) * step;
}

void gather(const float* src, int32_t step, int32_t plane_step, float* block) {
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; y += 2) {
            const __m128 lo =
                _mm_loadu_ps(reinterpret_cast<const float*>(row(src, step, plane_step, y, z)));
            const __m128 hi =
                _mm_loadu_ps(reinterpret_cast<const float*>(row(src, step, plane_step, y + 1, z)));
            _mm256_storeu_ps(block + 16 * z + 4 * y, _mm256_set_m128(hi, lo));
        }
}

void scatter(const float* block, float* dst, int32_t step, int32_t plane_step) {
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; y += 2) {
            const __m256 v = _mm256_loadu_ps(block + 16 * z + 4 * y);
            auto* p0 = const_cast<uint8_t*>(row(dst, step, plane_step, y, z));
            auto* p1 = const_cast<uint8_t*>(row(dst, step, plane_step, y + 1, z));
            _mm_storeu_ps(reinterpret_cast<float*>(p0), _mm256_castps256_ps128(v));
            _mm_storeu_ps(reinterpret_cast<float*>(p1), _mm256_extractf128_ps(v, 1));
        }
}

void encode_planes(const float* block, float scale, int32_t* iblock, uint64_t* planes, int kmin) {
    const __m256 s = _mm256_set1_ps(scale);
    V n[8];
    for (int k = 0; k < 8; ++k)
        n[k] = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_loadu_ps(block + 8 * k), s));
    lift_x<true>(n);
    lift_y<true>(n);
    lift_z<true>(n);
    const V nega = _mm256_set1_epi32(static_cast<int32_t>(0xAAAAAAAAu));
    alignas(32) int32_t u[64];
    for (int k = 0; k < 8; ++k) {
        _mm256_storeu_si256(reinterpret_cast<V*>(iblock + 8 * k), n[k]);
        _mm256_store_si256(reinterpret_cast<V*>(u + 8 * k),
                           _mm256_xor_si256(add(n[k], nega), nega));
    }
    const V group = byte_group();
    V b[8];
    for (int r = 0; r < 8; ++r) {
        const V idx = _mm256_loadu_si256(reinterpret_cast<const V*>(kTables.encode_index + 8 * r));
        b[r] = _mm256_shuffle_epi8(_mm256_i32gather_epi32(u, idx, 4), group);
    }
    transpose4(b[0], b[1], b[2], b[3]);  // b[d]: byte d of coefficients 0..31
    transpose4(b[4], b[5], b[6], b[7]);  // b[4 + d]: byte d of coefficients 32..63
    for (int d = 3; d >= 0 && 8 * d + 7 >= kmin; --d) {
        V lo = b[d], hi = b[4 + d];
        for (int k = 8 * d + 7; k >= 8 * d && k >= kmin; --k) {
            planes[k] = static_cast<uint32_t>(_mm256_movemask_epi8(lo)) |
                        static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(hi)))
                            << 32;
            lo = _mm256_add_epi8(lo, lo);
            hi = _mm256_add_epi8(hi, hi);
        }
    }
}

void decode_values(const uint64_t* planes, int kmin, float factor, int32_t* iblock, float* block,
                   float* dst, int32_t step, int32_t plane_step) {
    // Expand plane bits to bytes: byte p of b[4 g + d] collects, from planes
    // 8 d .. 8 d + 7 (plane 8 d + i into bit i), the bits of the coefficient
    // that belongs at the position the transposition below moves byte p to
    // (see kExpand), so that no reordering is left afterwards.
    const V pick0 = _mm256_loadu_si256(reinterpret_cast<const V*>(kExpand.pick[0]));
    const V pick1 = _mm256_loadu_si256(reinterpret_cast<const V*>(kExpand.pick[1]));
    const V bit0 = _mm256_loadu_si256(reinterpret_cast<const V*>(kExpand.bit[0]));
    const V bit1 = _mm256_loadu_si256(reinterpret_cast<const V*>(kExpand.bit[1]));
    V b[8];
    for (int d = 0; d < 4; ++d) {
        V lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
        for (int k = 8 * d + 7; k >= 8 * d && k >= kmin; --k) {
            const V w = _mm256_set1_epi64x(static_cast<long long>(planes[k]));
            const V s0 = _mm256_and_si256(_mm256_shuffle_epi8(w, pick0), bit0);
            const V s1 = _mm256_and_si256(_mm256_shuffle_epi8(w, pick1), bit1);
            // Doubling first leaves room for this plane's bit; the compare
            // gives -1 where it is set.
            lo = _mm256_sub_epi8(_mm256_add_epi8(lo, lo), _mm256_cmpeq_epi8(s0, bit0));
            hi = _mm256_sub_epi8(_mm256_add_epi8(hi, hi), _mm256_cmpeq_epi8(s1, bit1));
        }
        // Planes below kmin are zero: shift the collected bits into place.
        const int missing = kmin > 8 * d ? (kmin > 8 * d + 8 ? 8 : kmin - 8 * d) : 0;
        for (int i = 0; i < missing && missing < 8; ++i) {
            lo = _mm256_add_epi8(lo, lo);
            hi = _mm256_add_epi8(hi, hi);
        }
        b[d] = lo;
        b[4 + d] = hi;
    }
    transpose4(b[0], b[1], b[2], b[3]);
    transpose4(b[4], b[5], b[6], b[7]);
    const V group = byte_group();  // its own inverse
    const V nega = _mm256_set1_epi32(static_cast<int32_t>(0xAAAAAAAAu));
    V n[8];
    for (int r = 0; r < 8; ++r)
        n[r] = sub(_mm256_xor_si256(_mm256_shuffle_epi8(b[r], group), nega), nega);
    lift_z<false>(n);
    // Two planes at a time with the rows y side by side (as in lift_y); the
    // x pass transposes within that layout and back, whose halves are then
    // whole rows of the block, stored straight to the destination.
    const __m256 f = _mm256_set1_ps(factor);
    for (int g = 0; g < 8; g += 4) {
        V p[4] = {_mm256_permute2x128_si256(n[g], n[g + 2], 0x20),
                  _mm256_permute2x128_si256(n[g], n[g + 2], 0x31),
                  _mm256_permute2x128_si256(n[g + 1], n[g + 3], 0x20),
                  _mm256_permute2x128_si256(n[g + 1], n[g + 3], 0x31)};
        inverse_lift(p[0], p[1], p[2], p[3]);
        transpose4(p[0], p[1], p[2], p[3]);
        inverse_lift(p[0], p[1], p[2], p[3]);
        transpose4(p[0], p[1], p[2], p[3]);
        const int z = g / 2;
        for (int y = 0; y < 4; ++y) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(iblock + 16 * z + 4 * y),
                             _mm256_castsi256_si128(p[y]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(iblock + 16 * z + 16 + 4 * y),
                             _mm256_extracti128_si256(p[y], 1));
            const __m256 v = _mm256_mul_ps(_mm256_cvtepi32_ps(p[y]), f);
            // The state keeps the decoded block, as on the portable path.
            _mm_storeu_ps(block + 16 * z + 4 * y, _mm256_castps256_ps128(v));
            _mm_storeu_ps(block + 16 * z + 16 + 4 * y, _mm256_extractf128_ps(v, 1));
            _mm_storeu_ps(
                reinterpret_cast<float*>(const_cast<uint8_t*>(row(dst, step, plane_step, y, z))),
                _mm256_castps256_ps128(v));
            _mm_storeu_ps(reinterpret_cast<float*>(
                              const_cast<uint8_t*>(row(dst, step, plane_step, y, z + 1))),
                          _mm256_extractf128_ps(v, 1));
        }
    }
}

}  // namespace

const BlockKernels& avx2_kernels() {
    static const BlockKernels k = {gather, encode_planes, decode_values, scatter};
    return k;
}

}  // namespace vek::zfp
