// Move-to-front in both directions, on a working copy of the list whose
// first 32 entries are moved with one vector step: after a block-sorting
// transform nearly every rank is small. Deeper ranks fall back to a byte
// move of the list.
//
// The forward state is a rank table. A valid one (a permutation) is turned
// into the list, recoded and turned back; anything else is recoded by the
// rank rule itself, so every state gives a defined result.
#include "bwt/mtf.h"

#include <immintrin.h>

#include <cstring>

namespace vek::bwt {
namespace {

// The list with one spare vector in front and behind, aligned for the
// vector stores of its head.
struct List {
    alignas(32) uint8_t pad[32];
    uint8_t v[256];
    uint8_t tail[32];
};

// Index of each byte lane, for the "at most r" masks.
inline __m256i lane_index() {
    return _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                            20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
}

// head with entries 0..r-1 moved up one place and s in front; r < 32.
inline __m256i move_to_front(__m256i head, int32_t r, uint8_t s, __m256i idx) {
    // Whole-register shift by one byte: the low lane's top byte crosses over.
    const __m256i up = _mm256_alignr_epi8(head, _mm256_permute2x128_si256(head, head, 0x08), 15);
    const __m256i moved = _mm256_or_si256(up, _mm256_zextsi128_si256(_mm_cvtsi32_si128(s)));
    const __m256i upto = _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(r + 1)), idx);
    return _mm256_blendv_epi8(head, moved, upto);
}

// The same move over the whole list in memory, one vector per 32 entries:
// each block shifts up one place, taking the top entry of the block below.
inline void move_deep(uint8_t* list, int32_t r, uint8_t s, __m256i idx) {
    __m256i carry = _mm256_zextsi128_si256(_mm_cvtsi32_si128(s));
    for (int32_t at = 0;; at += 32) {
        __m256i* const p = reinterpret_cast<__m256i*>(list + at);
        const __m256i v = _mm256_load_si256(p);
        const __m256i up = _mm256_or_si256(
            _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15), carry);
        if (r < at + 32) {
            const __m256i upto =
                _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(r - at + 1)), idx);
            _mm256_store_si256(p, _mm256_blendv_epi8(v, up, upto));
            return;
        }
        _mm256_store_si256(p, up);
        carry = _mm256_srli_si256(_mm256_permute2x128_si256(v, v, 0x81), 15);
    }
}

// Position of s in a list that holds it beyond the first 32 entries.
inline int32_t find_deep(const uint8_t* list, uint8_t s) {
    const __m256i want = _mm256_set1_epi8(static_cast<char>(s));
    for (int32_t at = 32;; at += 32) {
        const __m256i v = _mm256_load_si256(reinterpret_cast<const __m256i*>(list + at));
        const uint32_t hit =
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, want)));
        if (hit != 0) return at + __builtin_ctz(hit);
    }
}

bool is_permutation(const uint8_t* t) {
    uint64_t seen[4] = {0, 0, 0, 0};
    for (int i = 0; i < 256; ++i) seen[t[i] >> 6] |= uint64_t(1) << (t[i] & 63);
    return (seen[0] & seen[1] & seen[2] & seen[3]) == ~uint64_t(0);
}

// The rank rule, for tables that are not permutations.
void forward_by_rank(const uint8_t* src, uint8_t* dst, int32_t len, uint8_t* rank) {
    for (int32_t i = 0; i < len; ++i) {
        const uint8_t s = src[i];
        const uint8_t r = rank[s];
        dst[i] = r;
        for (int t = 0; t < 256; ++t) rank[t] = static_cast<uint8_t>(rank[t] + (rank[t] < r));
        rank[s] = 0;
    }
}

}  // namespace

void mtf_init(uint8_t* state) {
    for (int i = 0; i < 256; ++i) state[i] = static_cast<uint8_t>(i);
}

void mtf_forward(const uint8_t* src, uint8_t* dst, int32_t len, uint8_t* rank) {
    if (!is_permutation(rank)) {
        forward_by_rank(src, dst, len, rank);
        return;
    }
    List l;
    uint8_t* const list = l.v;
    for (int i = 0; i < 256; ++i) list[rank[i]] = static_cast<uint8_t>(i);
    const __m256i idx = lane_index();
    __m256i head = _mm256_load_si256(reinterpret_cast<const __m256i*>(list));
    uint8_t front = list[0];  // rank 0, the commonest case, needs no vector work
    for (int32_t i = 0; i < len; ++i) {
        const uint8_t s = src[i];
        if (s == front) {
            dst[i] = 0;
            continue;
        }
        front = s;
        const uint32_t hit = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(head, _mm256_set1_epi8(static_cast<char>(s)))));
        if (hit != 0) {
            const int32_t r = __builtin_ctz(hit);
            dst[i] = static_cast<uint8_t>(r);
            head = move_to_front(head, r, s, idx);
            continue;
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(list), head);
        const int32_t r = find_deep(list, s);
        dst[i] = static_cast<uint8_t>(r);
        move_deep(list, r, s, idx);
        head = _mm256_load_si256(reinterpret_cast<const __m256i*>(list));
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(list), head);
    for (int r = 0; r < 256; ++r) rank[list[r]] = static_cast<uint8_t>(r);
}

void mtf_inverse(const uint8_t* src, uint8_t* dst, int32_t len, uint8_t* state) {
    List l;
    uint8_t* const list = l.v;
    std::memcpy(list, state, 256);
    const __m256i idx = lane_index();
    for (int32_t i = 0; i < len; ++i) {
        const int32_t r = src[i];
        if (r == 0) {
            dst[i] = list[0];
            continue;
        }
        const uint8_t s = list[r];
        dst[i] = s;
        if (r < 32) {
            const __m256i head = _mm256_load_si256(reinterpret_cast<const __m256i*>(list));
            _mm256_store_si256(reinterpret_cast<__m256i*>(list), move_to_front(head, r, s, idx));
        } else {
            move_deep(list, r, s, idx);
        }
    }
    std::memcpy(state, list, 256);
}

}  // namespace vek::bwt
