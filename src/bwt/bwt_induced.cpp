// Complete forward transform by induced suffix sorting, in linear time.
//
// Rotations are turned into suffixes in two steps:
// - A block that is a power u^c of a shorter block u has c equal copies of
//   each rotation of u; its column is that of u with every byte repeated c
//   times, and the unrotated block lies in the c rows of u's primary row.
// - A block that is no such power (primitive) has a least rotation w, and w
//   is a Lyndon word: no proper suffix of w is a prefix of it, so a suffix
//   of w that is a prefix of a longer one differs from the longer one's
//   rotation within the rotation's length, and the rotations of w sort
//   exactly as the suffixes of w do (a suffix before the longer suffixes it
//   begins). The suffixes are sorted by the usual induced sorting with a
//   sentinel below every byte.
// Equal rotations are the only freedom a transform has, and only powers
// have them; the primary index then names the first of its rows.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bwt/bwt_sort.h"

namespace vek::bwt {

namespace {

// Bump allocator over the caller's work buffer.
struct Arena {
    uint8_t* at;
    template <class T>
    T* take(size_t count) {
        uint8_t* const p = reinterpret_cast<uint8_t*>(
            (reinterpret_cast<uintptr_t>(at) + alignof(T) - 1) & ~uintptr_t(alignof(T) - 1));
        at = p + count * sizeof(T);
        return reinterpret_cast<T*>(p);
    }
};

// Bucket starts (or ends) of the symbols s[i] >> 1, which lie below K.
void bucket_bounds(const int32_t* s, int32_t n, int32_t* bkt, int32_t K, bool ends) {
    std::memset(bkt, 0, size_t(K) * sizeof(int32_t));
    for (int32_t i = 0; i < n; ++i) ++bkt[s[i] >> 1];
    for (int32_t c = 0, sum = 0; c < K; ++c) {
        sum += bkt[c];
        bkt[c] = ends ? sum : sum - bkt[c];
    }
}

// Suffix array of the symbols s[0..n), whose last is 0 and occurs nowhere
// else; symbols lie below K (at most 2^30). Each s[i] is first replaced by
// symbol * 2 + type, type 1 marking an S-type suffix (smaller than the
// next): the inducing scans then read one word per suffix they move, and
// the doubled values compare as (symbol, type) pairs.
void induced_sort(int32_t* s, int32_t* sa, int32_t n, int32_t K, Arena arena) {
    s[n - 1] = 1;  // the sentinel, S-type
    for (int32_t i = n - 2, next = 0, nextS = 1; i >= 0; --i) {
        const int32_t c = s[i];
        const int32_t type = c < next || (c == next && nextS);
        s[i] = c * 2 + type;
        next = c;
        nextS = type;
    }
    auto stype = [&](int32_t i) { return s[i] & 1; };
    auto lms = [&](int32_t i) { return i > 0 && stype(i) && !stype(i - 1); };
    // The recursion reuses the bucket table's memory: every use of the
    // table computes it afresh.
    const Arena below = arena;
    int32_t* const bkt = arena.take<int32_t>(size_t(K));

    auto induce = [&]() {
        bucket_bounds(s, n, bkt, K, false);
        for (int32_t i = 0; i < n; ++i) {
            const int32_t j = sa[i] - 1;
            if (j < 0) continue;
            const int32_t c = s[j];
            if (!(c & 1)) sa[bkt[c >> 1]++] = j;
        }
        bucket_bounds(s, n, bkt, K, true);
        for (int32_t i = n - 1; i >= 0; --i) {
            const int32_t j = sa[i] - 1;
            if (j < 0) continue;
            const int32_t c = s[j];
            if (c & 1) sa[--bkt[c >> 1]] = j;
        }
    };

    // Sort the LMS substrings: seed their starts at their buckets' ends.
    bucket_bounds(s, n, bkt, K, true);
    for (int32_t i = 0; i < n; ++i) sa[i] = -1;
    for (int32_t i = 1; i < n; ++i)
        if (lms(i)) sa[--bkt[s[i] >> 1]] = i;
    induce();

    int32_t n1 = 0;
    for (int32_t i = 0; i < n; ++i)
        if (lms(sa[i])) sa[n1++] = sa[i];
    // Name them in sorted order (equal substrings share a name), each name
    // at n1 + start / 2 (LMS starts are at least two apart).
    for (int32_t i = n1; i < n; ++i) sa[i] = -1;
    int32_t names = 0, prev = -1;
    for (int32_t i = 0; i < n1; ++i) {
        const int32_t pos = sa[i];
        bool differs = prev < 0;
        for (int32_t d = 0; !differs; ++d) {
            if (s[pos + d] != s[prev + d]) {
                differs = true;
            } else if (d > 0 && (lms(pos + d) || lms(prev + d))) {
                break;  // both substrings end here, equal
            }
        }
        if (differs) {
            ++names;
            prev = pos;
        }
        sa[n1 + pos / 2] = names - 1;
    }
    for (int32_t i = n - 1, j = n - 1; i >= n1; --i)
        if (sa[i] >= 0) sa[j--] = sa[i];

    // The reduced string (names in text order) at the end of sa; its
    // suffix array goes to sa[0..n1).
    int32_t* const s1 = sa + n - n1;
    if (names < n1) {
        induced_sort(s1, sa, n1, names, below);
    } else {
        for (int32_t i = 0; i < n1; ++i) sa[s1[i]] = i;
    }

    // Seed the LMS suffixes in their true order and induce the rest.
    for (int32_t i = 1, j = 0; i < n; ++i)
        if (lms(i)) s1[j++] = i;
    for (int32_t i = 0; i < n1; ++i) sa[i] = s1[sa[i]];
    for (int32_t i = n1; i < n; ++i) sa[i] = -1;
    bucket_bounds(s, n, bkt, K, true);
    for (int32_t i = n1 - 1; i >= 0; --i) {
        const int32_t j = sa[i];
        sa[i] = -1;
        sa[--bkt[s[j] >> 1]] = j;
    }
    induce();
}

// Length of the shortest u with s = u^c (n when s is primitive), from the
// longest proper border of s.
int32_t root_length(const uint8_t* s, int32_t n, int32_t* border) {
    border[0] = 0;
    for (int32_t i = 1, k = 0; i < n; ++i) {
        while (k > 0 && s[i] != s[k]) k = border[k - 1];
        if (s[i] == s[k]) ++k;
        border[i] = k;
    }
    const int32_t p = n - border[n - 1];
    return n % p == 0 ? p : n;
}

// Start of the least rotation of the primitive s (two candidates race; the
// one that loses a comparison after k equal bytes cannot start a least
// rotation anywhere within those k + 1 positions).
int32_t least_rotation(const uint8_t* s, int32_t n) {
    int32_t i = 0, j = 1, k = 0;
    while (i < n && j < n && k < n) {
        int32_t a = i + k, b = j + k;
        if (a >= n) a -= n;
        if (b >= n) b -= n;
        if (s[a] == s[b]) {
            ++k;
            continue;
        }
        if (s[a] > s[b])
            i += k + 1;
        else
            j += k + 1;
        if (i == j) ++j;
        k = 0;
    }
    return i < j ? i : j;
}

}  // namespace

int64_t induced_work_bytes(int64_t n) {
    // The string with its sentinel and its suffix array, the largest bucket
    // table (257 entries, or half the string in a recursion) and alignment
    // slack.
    const int64_t buckets = n / 2 + 1 > 257 ? n / 2 + 1 : 257;
    return 8 * (n + 1) + 4 * buckets + 64;
}

void induced_transform(const uint8_t* src, uint8_t* dst, int32_t n, int32_t* index, uint8_t* work) {
    Arena arena{work};
    int32_t* const s0 = arena.take<int32_t>(size_t(n) + 1);
    int32_t* const sa = arena.take<int32_t>(size_t(n) + 1);

    const int32_t p = root_length(src, n, sa);
    const int32_t copies = n / p;
    const int32_t r0 = least_rotation(src, p);
    bool two = false;
    for (int32_t i = 0, r = r0; i < p; ++i) {
        s0[i] = int32_t(src[r]) + 1;
        two |= src[r] != src[r0];
        if (++r == p) r = 0;
    }
    if (!two) {  // one byte value only
        std::memcpy(dst, src, size_t(n));
        *index = 0;
        return;
    }
    s0[p] = 0;
    induced_sort(s0, sa, p + 1, 257, arena);

    // Row k of the root (sa[k + 1]: sa[0] is the sentinel) starts at
    // rotation sa[k + 1] + r0 of the root and fills `copies` rows.
    uint8_t* out = dst;
    for (int32_t k = 0; k < p; ++k) {
        int32_t start = sa[k + 1] + r0;
        if (start >= p) start -= p;
        if (start == 0) *index = k * copies;
        const uint8_t last = src[start == 0 ? p - 1 : start - 1];
        if (copies == 1)
            *out++ = last;
        else
            out = static_cast<uint8_t*>(std::memset(out, last, size_t(copies))) + copies;
    }
}

}  // namespace vek::bwt
