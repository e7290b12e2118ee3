// Run-length encoder: runs of four or more equal bytes become four copies
// and a count byte. The work per call is two loops: literal bytes (which
// also watch for the fourth byte of a run) and the counting of a run's
// extra bytes, which consumes source without writing.
//
// The fast literal loop takes 32 bytes at a time: it compares each byte with
// its predecessor and copies the whole block at once when no run reaches
// four inside it. The byte-at-a-time loop is kept as the model it must match.
#include <immintrin.h>

#include <cstring>

#include "bwt/rle_bz2.h"

namespace vek::bwt {
namespace {

constexpr int32_t kMaxRun = 259;  // 4 literal copies + a count of at most 255

struct Cursor {
    const uint8_t* s;
    const uint8_t* s_end;
    uint8_t* d;
    uint8_t* d_end;
    int32_t last;
    int32_t run;
};

// Literal bytes until the run reaches four or a buffer is used up.
inline void literals_portable(Cursor& c, uint8_t* in_use) {
    while (c.run < 4 && c.s != c.s_end && c.d != c.d_end) {
        const uint8_t b = *c.s++;
        *c.d++ = b;
        in_use[b] = 1;
        c.run = (b == c.last) ? c.run + 1 : 1;
        c.last = b;
    }
}

// Counts the run's extra bytes (at most up to kMaxRun), consuming them.
inline void count_portable(Cursor& c) {
    while (c.s != c.s_end && c.run < kMaxRun && *c.s == c.last) {
        ++c.s;
        ++c.run;
    }
}

inline void count_fast(Cursor& c) {
    const __m256i want = _mm256_set1_epi8(static_cast<char>(c.last));
    while (c.run <= kMaxRun - 32 && c.s_end - c.s >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.s));
        const uint32_t differ =
            ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, want)));
        if (differ != 0) {
            const int32_t n = __builtin_ctz(differ);
            c.s += n;
            c.run += n;
            return;
        }
        c.s += 32;
        c.run += 32;
    }
    count_portable(c);
}

inline void mark(uint8_t* in_use, const uint8_t* p, int32_t n) {
    for (int32_t i = 0; i < n; ++i) in_use[p[i]] = 1;
}

// Which byte values the in-use table already marks, as a 256-bit map held
// in registers: a block whose bytes are all marked needs no stores to the
// table. The map may lag behind the table (it is refreshed only when a block
// had to be marked by hand), never ahead of it.
class SeenMap {
  public:
    explicit SeenMap(const uint8_t* in_use) { refresh(in_use); }

    void refresh(const uint8_t* in_use) {
        alignas(16) uint32_t words[8];
        const __m256i one = _mm256_set1_epi8(1);
        for (int k = 0; k < 8; ++k) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in_use + 32 * k));
            words[k] = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, one)));
        }
        low_ = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(words)));
        high_ = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i*>(words + 4)));
    }

    // Every byte of v is marked.
    bool all(__m256i v) const {
        const __m256i bit_of =
            _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16,
                             32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
        const __m256i byte_index = _mm256_and_si256(_mm256_srli_epi16(v, 3), _mm256_set1_epi8(15));
        // Values from 128 up (top bit set) read the high half of the map.
        const __m256i map_byte = _mm256_blendv_epi8(_mm256_shuffle_epi8(low_, byte_index),
                                                    _mm256_shuffle_epi8(high_, byte_index), v);
        const __m256i bit = _mm256_shuffle_epi8(bit_of, _mm256_and_si256(v, _mm256_set1_epi8(7)));
        const __m256i hit = _mm256_cmpeq_epi8(_mm256_and_si256(map_byte, bit), bit);
        return static_cast<uint32_t>(_mm256_movemask_epi8(hit)) == 0xFFFFFFFFu;
    }

  private:
    __m256i low_, high_;  // bytes 0..15 and 16..31 of the map, in both lanes
};

// 32 literal bytes per step while no run reaches four inside the block.
// Needs c.s[-1] == c.last (so the first byte of a call goes through the
// portable loop) and a run below four. Stops at the byte that completes a
// run, with that byte written.
inline void literals_fast(Cursor& c, uint8_t* in_use, SeenMap& seen) {
    while (c.s_end - c.s >= 32 && c.d_end - c.d >= 32) {
        const __m256i cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.s));
        const __m256i prev = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.s - 1));
        uint32_t eq = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(cur, prev)));
        // After a count byte the run restarts at one even if the byte repeats.
        if (c.run == 0) eq &= ~1u;
        // Bit i + 3 of `chain`: byte i equals byte i - 1; bits 0..2 carry the
        // equalities that built the incoming run.
        const uint64_t pre = c.run == 3 ? 6 : c.run == 2 ? 4 : 0;
        const uint64_t chain = (uint64_t(eq) << 3) | pre;
        const uint32_t fourth = static_cast<uint32_t>((chain & (chain << 1) & (chain << 2)) >> 3);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.d), cur);
        if (fourth == 0) {
            if (!seen.all(cur)) {
                mark(in_use, c.s, 32);
                seen.refresh(in_use);
            }
            c.s += 32;
            c.d += 32;
            c.last = c.s[-1];
            c.run = 1 + __builtin_clz(~eq | 1u);  // equalities ending at byte 31, at most 2
            continue;
        }
        const int32_t n = __builtin_ctz(fourth) + 1;
        mark(in_use, c.s, n);
        c.s += n;
        c.d += n;
        c.last = c.s[-1];
        c.run = 4;
        return;
    }
}

template <bool kFast>
void encode(const uint8_t** src, int32_t* src_len, uint8_t* dst, int32_t* dst_len,
            vekRLEState_BZ2* state) {
    const uint8_t* const start = *src;
    Cursor c{start, start + *src_len, dst, dst + *dst_len, state->lastByte, state->runLength};
    uint8_t* const in_use = state->inUse;
    SeenMap seen(in_use);
    for (;;) {
        if (kFast && c.run < 4) {
            if (c.s == start && c.s != c.s_end) {
                // The block loop compares with the byte before it: give it one.
                const uint8_t* const end = c.s_end;
                c.s_end = c.s + 1;
                literals_portable(c, in_use);
                c.s_end = end;
            }
            if (c.s != start && c.run < 4) literals_fast(c, in_use, seen);
        }
        literals_portable(c, in_use);
        if (c.d == c.d_end || c.run < 4) break;
        if (kFast) {
            count_fast(c);
        } else {
            count_portable(c);
        }
        if (c.s == c.s_end) break;  // the count is owed: more of the run may follow
        const uint8_t count = static_cast<uint8_t>(c.run - 4);
        *c.d++ = count;
        in_use[count] = 1;
        c.run = 0;
    }
    state->lastByte = c.last;
    state->runLength = c.run;
    *src = c.s;
    *src_len = static_cast<int32_t>(c.s_end - c.s);
    *dst_len = static_cast<int32_t>(c.d - dst);
}

}  // namespace

void rle_encode(const uint8_t** src, int32_t* src_len, uint8_t* dst, int32_t* dst_len,
                vekRLEState_BZ2* state) {
    encode<true>(src, src_len, dst, dst_len, state);
}

void rle_encode_portable(const uint8_t** src, int32_t* src_len, uint8_t* dst, int32_t* dst_len,
                         vekRLEState_BZ2* state) {
    encode<false>(src, src_len, dst, dst_len, state);
}

int32_t rle_encode_flush(uint8_t* dst, vekRLEState_BZ2* state) {
    if (state->runLength < 4) return 0;
    const uint8_t count = static_cast<uint8_t>(state->runLength - 4);
    dst[0] = count;
    state->inUse[count] = 1;
    state->runLength = 0;
    return 1;
}

void rle_in_use_table(uint8_t* in_use, const vekRLEState_BZ2* state) {
    const uint8_t* from = state->inUse;
    const bool overlap = in_use < from + 256 && from < in_use + 256;
    if (!overlap) {
        std::memcpy(in_use, from, 256);
        return;
    }
    // Byte by byte in ascending order, each read after the writes before it.
    volatile uint8_t* to = in_use;
    const volatile uint8_t* fr = from;
    for (int i = 0; i < 256; ++i) to[i] = fr[i];
}

}  // namespace vek::bwt
