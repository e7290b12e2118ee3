// CRC-32C through the SSE4.2 CRC32 instruction. The instruction has a
// latency of three cycles and a throughput of one, so both paths run three
// independent streams and merge their registers afterwards: one with fixed
// block sizes and shift tables, one with carry-less multiplication.
#include <immintrin.h>

#include "checksum.h"
#include "crc32c_insn.h"
#include "crc_tables.h"

namespace vek::checksum {
namespace {

inline uint32_t crc_u64(uint32_t r, uint64_t v) {
    return crc32c_u64(r, v);
}

inline uint32_t crc_u32(uint32_t r, const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return _mm_crc32_u32(r, v);
}
inline uint32_t crc_u16(uint32_t r, const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return _mm_crc32_u16(r, v);
}

// Advances the pure register over the first n words of three streams at
// once; the third stream stops one word early when `skip_last` is set.
inline void three_streams(const uint8_t* p, size_t words, uint32_t& c1, uint32_t& c2,
                          uint32_t& c3) {
    const uint8_t* s1 = p;
    const uint8_t* s2 = p + 8 * words;
    const uint8_t* s3 = p + 16 * words;
    for (size_t i = 0; i + 1 < words; ++i) {
        c1 = crc_u64(c1, load64(s1 + 8 * i));
        c2 = crc_u64(c2, load64(s2 + 8 * i));
        c3 = crc_u64(c3, load64(s3 + 8 * i));
    }
    c1 = crc_u64(c1, load64(s1 + 8 * (words - 1)));
    c2 = crc_u64(c2, load64(s2 + 8 * (words - 1)));
}

// Short pieces by the bits of the count: 16, 8, 4, 2, 1.
inline uint32_t crc_small(const uint8_t* p, size_t len, uint32_t r) {
    if (len & 16) {
        r = crc_u64(r, load64(p));
        r = crc_u64(r, load64(p + 8));
        p += 16;
    }
    if (len & 8) {
        r = crc_u64(r, load64(p));
        p += 8;
    }
    if (len & 4) {
        r = crc_u32(r, p);
        p += 4;
    }
    if (len & 2) {
        r = crc_u16(r, p);
        p += 2;
    }
    if (len & 1) r = _mm_crc32_u8(r, *p);
    return r;
}

inline const uint8_t* align8(const uint8_t* p, size_t& len, uint32_t& r) {
    while ((reinterpret_cast<uintptr_t>(p) & 7) && len) {
        r = _mm_crc32_u8(r, *p++);
        --len;
    }
    return p;
}

// ---- shift-table merge -------------------------------------------------

struct ShiftTables {
    std::array<uint32_t, 256> t64, t136, t280, t568, t1144;
};
constexpr ShiftTables kShift = {make_crc32c_shift_table(64), make_crc32c_shift_table(136),
                                make_crc32c_shift_table(280), make_crc32c_shift_table(568),
                                make_crc32c_shift_table(1144)};
static_assert(kShift.t64[1] == 0x740EEF02u && kShift.t1144[1] == 0x86D8E4D2u);

inline uint64_t shift_by_table(uint32_t c, const std::array<uint32_t, 256>& t) {
    return uint64_t(t[c & 0xFF]) ^ (uint64_t(t[(c >> 8) & 0xFF]) << 8) ^
           (uint64_t(t[(c >> 16) & 0xFF]) << 16) ^ (uint64_t(t[c >> 24]) << 24);
}

// One block of three streams of `stream` bytes each.
inline uint32_t table_block(const uint8_t* p, size_t stream, uint32_t r,
                            const std::array<uint32_t, 256>& t1,
                            const std::array<uint32_t, 256>& t2) {
    uint32_t c1 = r, c2 = 0, c3 = 0;
    three_streams(p, stream / 8, c1, c2, c3);
    const uint64_t v = shift_by_table(c1, t1) ^ shift_by_table(c2, t2) ^ load64(p + 3 * stream - 8);
    return crc_u64(c3, v);
}

// ---- carry-less-multiply merge ----------------------------------------

// Entry n: keys that carry a register over 128n and 64n bits, less the word
// that the final CRC32 instruction itself shifts over.
struct MergeKeys {
    uint64_t k[129][2];
};
constexpr MergeKeys make_merge_keys() {
    MergeKeys m{};
    uint32_t v = 0x80000000u;  // x^0, reflected
    for (uint32_t e = 0; e <= 128 * 128 - 32; ++e) {
        if (e >= 32 && (e + 32) % 128 == 0 && (e + 32) / 128 <= 128)
            m.k[(e + 32) / 128][0] = uint64_t(v) << 1;
        if (e >= 32 && (e + 32) % 64 == 0 && (e + 32) / 64 <= 128)
            m.k[(e + 32) / 64][1] = uint64_t(v) << 1;
        v = (v >> 1) ^ ((v & 1u) ? kCrc32cPoly : 0u);
    }
    return m;
}
constexpr MergeKeys kMerge = make_merge_keys();

inline uint64_t clmul32x33(uint32_t a, uint64_t k) {
    const __m128i prod =
        _mm_clmulepi64_si128(_mm_cvtsi32_si128(static_cast<int>(a)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&k)), 0x00);
    uint64_t out;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&out), prod);
    return out;
}

}  // namespace

uint32_t crc32c_sse42(const uint8_t* p, size_t len, uint32_t r) {
    p = align8(p, len, r);
    for (; len >= 1728; len -= 1728, p += 1728)
        r = table_block(p, 576, r, kShift.t1144, kShift.t568);
    if (len >= 864) {
        r = table_block(p, 288, r, kShift.t568, kShift.t280);
        p += 864;
        len -= 864;
    }
    if (len >= 432) {
        r = table_block(p, 144, r, kShift.t280, kShift.t136);
        p += 432;
        len -= 432;
    }
    if (len >= 216) {
        r = table_block(p, 72, r, kShift.t136, kShift.t64);
        p += 216;
        len -= 216;
    }
    for (size_t piece : {size_t(128), size_t(64), size_t(32)}) {
        if (len & piece) {
            for (size_t i = 0; i < piece; i += 8) r = crc_u64(r, load64(p + i));
            p += piece;
        }
    }
    return crc_small(p, len & 31, r);
}

uint32_t crc32c_sse42_clmul(const uint8_t* p, size_t len, uint32_t r) {
    if (len >= 8) {
        p = align8(p, len, r);
        while (len >= 24) {
            const size_t n = len >= 3072 ? 128 : (len * 2731) >> 16;
            uint32_t c1 = r, c2 = 0, c3 = 0;
            three_streams(p, n, c1, c2, c3);
            const uint64_t v = clmul32x33(c1, kMerge.k[n][0]) ^ clmul32x33(c2, kMerge.k[n][1]) ^
                               load64(p + 24 * n - 8);
            r = crc_u64(c3, v);
            p += 24 * n;
            len -= 24 * n;
        }
    }
    return crc_small(p, len, r);
}

}  // namespace vek::checksum
