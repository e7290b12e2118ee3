// Fills, copies and the overlapping move, on 32-byte AVX2 vectors.
//
// Ordinary sizes use vector stores behind a scalar head that aligns the
// destination to 32 bytes, and finish with a scalar tail. Large sizes change
// strategy, since there the cost is memory traffic rather than instructions:
// - a fill above 2 MiB that is also larger than the largest cache streams
//   past the caches (non-temporal stores, 64-byte aligned, then a fence): the
//   lines would be evicted before anyone reads them, and streaming saves
//   reading every destination line before overwriting it;
// - zeroing above 2 MiB uses the string store, which the processor turns
//   into whole-line writes by itself;
// - a copy from 32 KiB up uses the string move, except when the destination
//   lies just above the source within a 4 KiB page: then the string move's
//   loads alias its own pending stores and it slows down badly, so the copy
//   runs in 64-byte blocks from the end instead. A copy above 4 MiB that is
//   at least half the largest cache streams its stores.
// Every path writes the same bytes; the cache size only picks the path.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "core/cpu.h"
#include "vector.h"

namespace vek::vector {
namespace {

constexpr size_t kStreamFillBytes = 2097152;  // fills above this may stream
constexpr size_t kStringZeroBytes = 2097152;  // zeroing above this uses the string store
constexpr size_t kVectorCopyBytes = 32768;    // copies below this use vector moves
constexpr size_t kStreamCopyBytes = 4194304;  // copies above this may stream
constexpr uintptr_t kAliasWindow = 160;       // destination this close above the source
                                              // (within a page) avoids the string move

inline uintptr_t addr(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

// Largest cache size in bytes, or 0 when the processor services cannot tell.
size_t max_cache_bytes() {
    int32_t size = 0;
    if (core::get_max_cache_size(&size) != 0 || size <= 0) return 0;
    return static_cast<size_t>(size);
}

inline __m256i splat(uint8_t v) {
    return _mm256_set1_epi8(static_cast<char>(v));
}
inline __m256i splat(int16_t v) {
    return _mm256_set1_epi16(v);
}
inline __m256i splat(int32_t v) {
    return _mm256_set1_epi32(v);
}

inline __m256i load(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
inline void store(void* p, __m256i v) {
    _mm256_store_si256(static_cast<__m256i*>(p), v);
}
inline void stream(void* p, __m256i v) {
    _mm256_stream_si256(static_cast<__m256i*>(p), v);
}

// Fills n elements. The head stores single elements until the destination is
// aligned for the vector stores (64 bytes when streaming, so that each pair
// of stores covers one whole line).
template <typename T>
void fill(T* d, T val, size_t n, bool streaming) {
    constexpr size_t kLanes = 32 / sizeof(T);
    const uintptr_t mask = streaming ? 63 : 31;
    for (; n != 0 && (addr(d) & mask) != 0; --n) *d++ = val;
    const __m256i v = splat(val);
    if (streaming) {
        for (; n >= 2 * kLanes; n -= 2 * kLanes, d += 2 * kLanes) {
            stream(d, v);
            stream(d + kLanes, v);
        }
        _mm_sfence();  // streamed lines are weakly ordered; publish them before returning
    } else {
        for (; n >= 4 * kLanes; n -= 4 * kLanes, d += 4 * kLanes) {
            store(d, v);
            store(d + kLanes, v);
            store(d + 2 * kLanes, v);
            store(d + 3 * kLanes, v);
        }
        for (; n >= kLanes; n -= kLanes, d += kLanes) store(d, v);
    }
    for (; n != 0; --n) *d++ = val;
}

void string_zero(void* d, size_t n) {
    asm volatile("rep stosb" : "+D"(d), "+c"(n) : "a"(0) : "memory");
}

void string_move(void* d, const void* s, size_t n) {
    asm volatile("rep movsb" : "+D"(d), "+S"(s), "+c"(n) : : "memory");
}

template <typename T>
void zero(T* d, size_t n) {
    if (n * sizeof(T) > kStringZeroBytes) {
        string_zero(d, n * sizeof(T));
    } else {
        fill<T>(d, 0, n, false);
    }
}

// Forward copy behind a scalar head that aligns the destination to 32 bytes.
// Each group of vectors is loaded completely before any of it is stored, so
// the copy is also correct for overlapping buffers with d below s (what
// move_32s needs): a store never reaches a source byte not yet loaded.
void copy_forward(uint8_t* d, const uint8_t* s, size_t n) {
    for (; n != 0 && (addr(d) & 31) != 0; --n) *d++ = *s++;
    for (; n >= 128; n -= 128, d += 128, s += 128) {
        const __m256i a = load(s), b = load(s + 32), c = load(s + 64), e = load(s + 96);
        store(d, a);
        store(d + 32, b);
        store(d + 64, c);
        store(d + 96, e);
    }
    for (; n >= 32; n -= 32, d += 32, s += 32) store(d, load(s));
    for (; n != 0; --n) *d++ = *s++;
}

// Mirror of copy_forward, from the end down; correct for d above s.
void copy_backward(uint8_t* d, const uint8_t* s, size_t n) {
    d += n;
    s += n;
    for (; n != 0 && (addr(d) & 31) != 0; --n) *--d = *--s;
    for (; n >= 128; n -= 128) {
        d -= 128;
        s -= 128;
        const __m256i a = load(s), b = load(s + 32), c = load(s + 64), e = load(s + 96);
        store(d, a);
        store(d + 32, b);
        store(d + 64, c);
        store(d + 96, e);
    }
    for (; n >= 32; n -= 32) {
        d -= 32;
        s -= 32;
        store(d, load(s));
    }
    for (; n != 0; --n) *--d = *--s;
}

// For a destination just above the source in its page: the bytes after the
// destination's last 64-byte boundary first, then whole aligned 64-byte
// blocks from the end toward the start, then the head.
void copy_blocks_from_end(uint8_t* d, const uint8_t* s, size_t n) {
    const size_t body_begin = ((addr(d) + 63) & ~uintptr_t{63}) - addr(d);
    const size_t body_end = ((addr(d) + n) & ~uintptr_t{63}) - addr(d);
    if (body_end <= body_begin) {  // no whole block; not reached from copy_bytes
        copy_forward(d, s, n);
        return;
    }
    copy_forward(d + body_end, s + body_end, n - body_end);
    for (size_t k = body_end; k != body_begin; k -= 64) {
        const __m256i a = load(s + k - 64), b = load(s + k - 32);
        store(d + k - 64, a);
        store(d + k - 32, b);
    }
    copy_forward(d, s, body_begin);
}

void copy_streaming(uint8_t* d, const uint8_t* s, size_t n) {
    const size_t head = (64 - (addr(d) & 63)) & 63;
    copy_forward(d, s, head);
    d += head;
    s += head;
    n -= head;
    for (; n >= 64; n -= 64, d += 64, s += 64) {
        const __m256i a = load(s), b = load(s + 32);
        stream(d, a);
        stream(d + 32, b);
    }
    _mm_sfence();
    copy_forward(d, s, n);
}

void copy_bytes(uint8_t* d, const uint8_t* s, size_t n) {
    if (n < kVectorCopyBytes) {
        copy_forward(d, s, n);
        return;
    }
    if (n > kStreamCopyBytes) {
        const size_t cache = max_cache_bytes();
        if (cache != 0 && n >= cache / 2) {
            copy_streaming(d, s, n);
            return;
        }
    }
    // Page offsets compared as an unsigned difference: only a destination
    // 0..159 bytes above the source's offset falls in the window.
    if ((addr(d) % 4096) - (addr(s) % 4096) >= kAliasWindow) {
        string_move(d, s, n);
    } else {
        copy_blocks_from_end(d, s, n);
    }
}

}  // namespace

vekStatus zero_32s(int32_t* dst, int32_t len) {
    if (dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    zero(dst, static_cast<size_t>(len));
    return vekStatusOk;
}

vekStatus zero_16s(int16_t* dst, int32_t len) {
    if (dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    zero(dst, static_cast<size_t>(len));
    return vekStatusOk;
}

vekStatus set_8u(uint8_t val, uint8_t* dst, int32_t len) {
    if (dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    const size_t n = static_cast<size_t>(len);
    bool streaming = false;
    if (n > kStreamFillBytes) {
        const size_t cache = max_cache_bytes();
        streaming = cache != 0 && n > cache;
    }
    fill(dst, val, n, streaming);
    return vekStatusOk;
}

vekStatus set_32s(int32_t val, int32_t* dst, int32_t len) {
    if (dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    const size_t n = static_cast<size_t>(len);
    bool streaming = false;
    if (n * sizeof(int32_t) > kStreamFillBytes && (addr(dst) & 3) == 0) {
        const size_t cache = max_cache_bytes();
        streaming = cache != 0 && n * sizeof(int32_t) > cache;
    }
    fill(dst, val, n, streaming);
    return vekStatusOk;
}

vekStatus copy_8u(const uint8_t* src, uint8_t* dst, int32_t len) {
    if (src == nullptr || dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    copy_bytes(dst, src, static_cast<size_t>(len));
    return vekStatusOk;
}

vekStatus copy_32s(const int32_t* src, int32_t* dst, int32_t len) {
    if (src == nullptr || dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    copy_bytes(reinterpret_cast<uint8_t*>(dst), reinterpret_cast<const uint8_t*>(src),
               static_cast<size_t>(len) * sizeof(int32_t));
    return vekStatusOk;
}

vekStatus move_32s(const int32_t* src, int32_t* dst, int32_t len) {
    if (src == nullptr || dst == nullptr) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    const size_t bytes = static_cast<size_t>(len) * sizeof(int32_t);
    auto* d = reinterpret_cast<uint8_t*>(dst);
    const auto* s = reinterpret_cast<const uint8_t*>(src);
    // Only a destination starting inside the source, above its start, needs
    // the copy to run from the end.
    if (addr(d) > addr(s) && addr(d) - addr(s) < bytes) {
        copy_backward(d, s, bytes);
    } else if (d != s) {
        copy_forward(d, s, bytes);
    }
    return vekStatusOk;
}

}  // namespace vek::vector
