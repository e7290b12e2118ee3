// Zero-run decoder. A run's value saturates once it has more digits than
// any destination could hold, so hostile digit strings never wrap around to
// a small run. Stretches of byte symbols are narrowed 16 at a time.
#include <immintrin.h>

#include <cstring>

#include "bwt/zero_run.h"
#include "vector/vector.h"

namespace vek::bwt {
namespace {

constexpr int kMaxDigits = 33;  // 33 digits already mean at least 2^33 - 1 zeros

inline void zeros(uint8_t* d, int64_t n) {
    if (n >= 32) {
        vector::set_8u(0, d, static_cast<int32_t>(n));
    } else {
        std::memset(d, 0, static_cast<size_t>(n));
    }
}

}  // namespace

vekStatus zero_run_decode(const uint16_t** src, int32_t* src_len, uint8_t* dst, int32_t* dst_len) {
    const uint16_t* s = *src;
    const uint16_t* const s_end = s + *src_len;
    uint8_t* d = dst;
    uint8_t* const d_end = dst + *dst_len;
    vekStatus status = vekStatusOk;
    const __m256i digit_bits = _mm256_set1_epi16(static_cast<short>(0xFFFE));
    const __m256i one = _mm256_set1_epi16(1);
    // Low byte of each 16-bit lane, gathered into the low 8 bytes of each half.
    const __m256i low_bytes =
        _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1, 0, 2, 4, 6, 8,
                         10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
    for (;;) {
        if (s_end - s >= 16 && d_end - d >= 32) {
            // Byte symbols up to the first digit of the next 16, all
            // narrowed at once (those past the digit are rewritten later).
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
            const uint32_t is_digit = static_cast<uint32_t>(_mm256_movemask_epi8(
                _mm256_cmpeq_epi16(_mm256_and_si256(v, digit_bits), _mm256_setzero_si256())));
            const int n = is_digit != 0 ? __builtin_ctz(is_digit) / 2 : 16;
            const __m256i bytes = _mm256_shuffle_epi8(_mm256_sub_epi16(v, one), low_bytes);
            const __m256i packed = _mm256_permute4x64_epi64(bytes, 0x08);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(packed));
            s += n;
            d += n;
            if (n == 16) continue;
            // A run follows: its digits, then (room permitting) its byte.
            int64_t run = 0;
            int digits = 0;
            for (; s != s_end && *s < 2; ++s, ++digits) {
                if (digits < kMaxDigits) run += int64_t(*s + 1) << digits;
            }
            if (s != s_end && run < 31 && d_end - d >= 32) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_setzero_si256());
                d += run;
                *d++ = static_cast<uint8_t>(*s++ - 1);
                continue;
            }
            s -= digits;  // anything else takes the checked path
        }
        int64_t run = 0;
        int digits = 0;
        for (; s != s_end && *s < 2; ++s, ++digits) {
            if (digits < kMaxDigits) run += int64_t(*s + 1) << digits;
        }
        const int64_t room = d_end - d;
        if (s == s_end) {
            if (run > room) {
                status = vekStatusDstTooSmall;  // the final run is dropped
            } else {
                zeros(d, run);
                d += run;
            }
            break;
        }
        if (run >= room) {  // the run and the byte after it do not both fit
            status = vekStatusDstTooSmall;
            break;
        }
        zeros(d, run);
        d += run;
        *d++ = static_cast<uint8_t>(*s++ - 1);
    }
    *src = s;
    *src_len = static_cast<int32_t>(s_end - s);
    *dst_len = static_cast<int32_t>(d - dst);
    return status;
}

}  // namespace vek::bwt
