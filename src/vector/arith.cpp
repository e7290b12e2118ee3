// Element-wise primitives on 32-byte AVX2 vectors of eight 32-bit lanes, with
// a scalar tail: extremes, the greater-than clamp, the left shift and the
// saturating add of a constant.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vector.h"

namespace vek::vector {
namespace {

constexpr size_t kLanes = 8;

inline __m256i load(const int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void store(int32_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

inline int32_t hmax(__m256i v) {
    __m128i x = _mm_max_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    x = _mm_max_epi32(x, _mm_shuffle_epi32(x, 0x4E));
    x = _mm_max_epi32(x, _mm_shuffle_epi32(x, 0xB1));
    return _mm_cvtsi128_si32(x);
}
inline int32_t hmin(__m256i v) {
    __m128i x = _mm_min_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    x = _mm_min_epi32(x, _mm_shuffle_epi32(x, 0x4E));
    x = _mm_min_epi32(x, _mm_shuffle_epi32(x, 0xB1));
    return _mm_cvtsi128_si32(x);
}

// Round-to-nearest-even scaling of an exact sum by 2^-sf, saturated. Only
// reached for nonzero scale factors, which the codecs never pass.
int32_t scale_sum(int64_t sum, int32_t sf) {
    int64_t r;
    if (sf > 0) {
        // |sum| <= 2^32, so from 34 bits down every result rounds to 0.
        const int shift = sf > 34 ? 34 : sf;
        const int64_t q = sum >> shift;  // floor
        const int64_t rem = sum - q * (int64_t{1} << shift);
        const int64_t half = int64_t{1} << (shift - 1);
        r = q + ((rem > half || (rem == half && (q & 1) != 0)) ? 1 : 0);
    } else {
        const int shift = -static_cast<int64_t>(sf) > 31 ? 31 : -sf;
        // Decide saturation before shifting so nothing overflows.
        if (sum > (int64_t{INT32_MAX} >> shift)) return INT32_MAX;
        if (sum < (int64_t{INT32_MIN} >> shift)) return INT32_MIN;
        r = sum * (int64_t{1} << shift);
    }
    if (r > INT32_MAX) return INT32_MAX;
    if (r < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(r);
}

}  // namespace

vekStatus max_32s(const int32_t* src, int32_t len, int32_t* max) {
    if (src == nullptr || max == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    const size_t n = static_cast<size_t>(len);
    size_t i = 0;
    int32_t m = INT32_MIN;
    if (n >= kLanes) {
        __m256i vm = load(src);
        for (i = kLanes; i + kLanes <= n; i += kLanes) vm = _mm256_max_epi32(vm, load(src + i));
        m = hmax(vm);
    }
    for (; i < n; ++i) m = src[i] > m ? src[i] : m;
    *max = m;
    return vekStatusOk;
}

vekStatus minmax_32s(const int32_t* src, int32_t len, int32_t* min, int32_t* max) {
    if (src == nullptr || min == nullptr || max == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    const size_t n = static_cast<size_t>(len);
    size_t i = 0;
    int32_t lo = INT32_MAX, hi = INT32_MIN;
    if (n >= kLanes) {
        __m256i vlo = load(src), vhi = vlo;
        for (i = kLanes; i + kLanes <= n; i += kLanes) {
            const __m256i v = load(src + i);
            vlo = _mm256_min_epi32(vlo, v);
            vhi = _mm256_max_epi32(vhi, v);
        }
        lo = hmin(vlo);
        hi = hmax(vhi);
    }
    for (; i < n; ++i) {
        lo = src[i] < lo ? src[i] : lo;
        hi = src[i] > hi ? src[i] : hi;
    }
    *min = lo;
    *max = hi;
    return vekStatusOk;
}

// The comparison is on bit patterns with the sign cleared, as signed 32-bit
// integers (bit 31 is then always 0). For finite numbers and infinities that
// orders exactly like the magnitudes; NaN patterns lie above infinity, so a
// NaN wins, the same one whatever the element order. -0 and +0 give +0.
vekStatus maxabs_32f(const float* src, int32_t len, float* max_abs) {
    if (src == nullptr || max_abs == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    const size_t n = static_cast<size_t>(len);
    const auto* bits = reinterpret_cast<const int32_t*>(src);  // read only through intrinsics
    const __m256i mask = _mm256_set1_epi32(INT32_MAX);
    size_t i = 0;
    int32_t m = 0;
    if (n >= kLanes) {
        __m256i vm = _mm256_and_si256(load(bits), mask);
        for (i = kLanes; i + kLanes <= n; i += kLanes)
            vm = _mm256_max_epi32(vm, _mm256_and_si256(load(bits + i), mask));
        m = hmax(vm);
    }
    for (; i < n; ++i) {
        int32_t b;
        std::memcpy(&b, src + i, sizeof b);
        b &= INT32_MAX;
        m = b > m ? b : m;
    }
    std::memcpy(max_abs, &m, sizeof m);
    return vekStatusOk;
}

vekStatus threshold_gt_32s_i(int32_t* src_dst, int32_t len, int32_t level) {
    if (src_dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    const size_t n = static_cast<size_t>(len);
    const __m256i vl = _mm256_set1_epi32(level);
    size_t i = 0;
    for (; i + kLanes <= n; i += kLanes)
        store(src_dst + i, _mm256_min_epi32(load(src_dst + i), vl));
    for (; i < n; ++i) src_dst[i] = src_dst[i] > level ? level : src_dst[i];
    return vekStatusOk;
}

vekStatus lshiftc_32s_i(int32_t shift, int32_t* src_dst, int32_t len) {
    // Every bit would be shifted out: clearing is the whole job, and the
    // clearing primitive's own checks give the status.
    if (shift > 31) return zero_32s(src_dst, len);
    if (src_dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    if (shift < 0) return vekStatusShiftErr;
    if (shift == 0) return vekStatusOk;
    const size_t n = static_cast<size_t>(len);
    const __m128i count = _mm_cvtsi32_si128(shift);
    size_t i = 0;
    for (; i + kLanes <= n; i += kLanes)
        store(src_dst + i, _mm256_sll_epi32(load(src_dst + i), count));
    // Shift as unsigned: a signed left shift of a negative value is undefined.
    for (; i < n; ++i)
        src_dst[i] = static_cast<int32_t>(static_cast<uint32_t>(src_dst[i]) << shift);
    return vekStatusOk;
}

// Scale factor: 0 is exact saturating addition, the only case the codecs
// use. Any other factor takes the conventional meaning rather than an error:
// the exact 33-bit sum times 2^-scale_factor, rounded to nearest with ties to
// even, saturated. That path is scalar.
vekStatus addc_32s_sfs(const int32_t* src, int32_t val, int32_t* dst, int32_t len,
                       int32_t scale_factor) {
    if (src == nullptr || dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    const size_t n = static_cast<size_t>(len);
    if (scale_factor != 0) {
        for (size_t i = 0; i < n; ++i) dst[i] = scale_sum(int64_t{src[i]} + val, scale_factor);
        return vekStatusOk;
    }
    if (val == 0) return copy_32s(src, dst, len);
    // Clamp the operand first so the wrapping add cannot overflow: for a
    // positive constant no element may exceed INT32_MAX - val, for a
    // negative one none may fall below INT32_MIN - val.
    size_t i = 0;
    const __m256i vv = _mm256_set1_epi32(val);
    if (val > 0) {
        const int32_t cap = INT32_MAX - val;
        const __m256i vc = _mm256_set1_epi32(cap);
        for (; i + kLanes <= n; i += kLanes)
            store(dst + i, _mm256_add_epi32(_mm256_min_epi32(load(src + i), vc), vv));
        for (; i < n; ++i) dst[i] = (src[i] > cap ? cap : src[i]) + val;
    } else {
        const int32_t floor = INT32_MIN - val;
        const __m256i vf = _mm256_set1_epi32(floor);
        for (; i + kLanes <= n; i += kLanes)
            store(dst + i, _mm256_add_epi32(_mm256_max_epi32(load(src + i), vf), vv));
        for (; i < n; ++i) dst[i] = (src[i] < floor ? floor : src[i]) + val;
    }
    return vekStatusOk;
}

}  // namespace vek::vector
