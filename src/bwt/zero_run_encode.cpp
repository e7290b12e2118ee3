// Zero-run encoder. A run of r zeros takes floor(log2(r + 1)) digits, so
// the longest run that k digits can hold is 2^(k+1) - 2. Before each
// nonzero byte the pending run and the byte's symbol must both fit; when
// they do not, the longest run that fits is written and the call stops with
// the rest of the zeros still in the source.
//
// Stretches without zeros are widened 16 bytes at a time.
#include <immintrin.h>

#include "bwt/zero_run.h"

namespace vek::bwt {
namespace {

inline int64_t digits_of(int64_t r) {
    return r == 0 ? 0 : 63 - __builtin_clzll(uint64_t(r) + 1);
}

inline int64_t longest_run(int64_t digits) {
    return digits >= 40 ? INT64_MAX : (int64_t(1) << (digits + 1)) - 2;
}

inline uint16_t* put_run(uint16_t* d, int64_t r, uint32_t* freq) {
    uint32_t counts[2] = {0, 0};
    while (r > 0) {
        const uint16_t digit = static_cast<uint16_t>((r - 1) & 1);
        *d++ = digit;
        ++counts[digit];
        r = (r - 1) >> 1;
    }
    freq[0] += counts[0];
    freq[1] += counts[1];
    return d;
}

inline const uint8_t* skip_zeros(const uint8_t* s, const uint8_t* s_end) {
    const __m256i zero = _mm256_setzero_si256();
    while (s_end - s >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        const uint32_t nonzero =
            ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, zero)));
        if (nonzero != 0) return s + __builtin_ctz(nonzero);
        s += 32;
    }
    while (s != s_end && *s == 0) ++s;
    return s;
}

}  // namespace

void zero_run_encode(const uint8_t** src, int32_t* src_len, uint16_t* dst, int32_t* dst_len,
                     uint32_t* freq) {
    const uint8_t* s = *src;
    const uint8_t* const s_end = s + *src_len;
    uint16_t* d = dst;
    uint16_t* const d_end = dst + *dst_len;
    // Lane i holds bit i, for writing up to 16 digits at once.
    const __m256i bit = _mm256_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096,
                                          8192, 16384, -32768);
    const __m256i one = _mm256_set1_epi16(1);

    // Main phase: with more than kMargin slots free, the digits of any run
    // up to 2^21 - 2 zeros and the symbol after it fit without checks.
    // Digits of a run of r: the bits of r + 1 below its top bit, least
    // significant first.
    constexpr int64_t kMargin = 21;
    uint32_t runb = 0, digits = 0;
    while (d_end - d > kMargin && s != s_end) {
        if (*s != 0) {
            if (s_end - s >= 16 && d_end - d > kMargin + 16) {
                // Up to 16 nonzero bytes at once, as far as the first zero.
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                const uint32_t zeros = static_cast<uint32_t>(
                    _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
                const int n = zeros != 0 ? __builtin_ctz(zeros) : 16;
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                                    _mm256_add_epi16(_mm256_cvtepu8_epi16(v), one));
                for (int i = 0; i < n; ++i) ++freq[s[i] + 1];
                s += n;
                d += n;
                continue;
            }
            const uint16_t sym = static_cast<uint16_t>(*s++ + 1);
            *d++ = sym;
            ++freq[sym];
            continue;
        }
        const uint8_t* const run_start = s;
        s = skip_zeros(s, s_end);
        const uint32_t x = static_cast<uint32_t>(s - run_start) + 1;
        if (s == s_end || x > (uint32_t(1) << 21)) {
            s = run_start;  // the end phase takes it from here
            break;
        }
        const int k = 31 - __builtin_clz(x);
        const __m256i set = _mm256_cmpeq_epi16(
            _mm256_and_si256(_mm256_set1_epi16(static_cast<short>(x)), bit), bit);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_and_si256(set, one));
        for (int i = 16; i < k; ++i) d[i] = static_cast<uint16_t>((x >> i) & 1);
        d += k;
        digits += static_cast<uint32_t>(k);
        runb += static_cast<uint32_t>(__builtin_popcount(x)) - 1;
    }
    freq[0] += digits - runb;
    freq[1] += runb;

    // End phase: each run and its symbol are checked against the room left.
    while (s != s_end) {
        const uint8_t* const run_start = s;
        s = skip_zeros(s, s_end);
        const int64_t r = s - run_start;
        const int64_t room = d_end - d;
        // A final run goes out whole if it fits; a run before a byte needs
        // one more slot. Otherwise as much of the run as fits is written.
        if (s == s_end || digits_of(r) + 1 > room) {
            const int64_t w = r < longest_run(room) ? r : longest_run(room);
            d = put_run(d, w, freq);
            s = run_start + w;
            break;
        }
        d = put_run(d, r, freq);
        const uint16_t sym = static_cast<uint16_t>(*s++ + 1);
        *d++ = sym;
        ++freq[sym];
    }
    *src = s;
    *src_len = static_cast<int32_t>(s_end - s);
    *dst_len = static_cast<int32_t>(d - dst);
}

}  // namespace vek::bwt
