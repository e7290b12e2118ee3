// ZFP block decoder: the stream reader (whole words while eight bytes
// remain, then single bytes), the header, the bit planes with their group
// tests, and padding skips.
#include <cstring>

#include "core/load.h"
#include "zfp/zfp_internal.h"

namespace vek::zfp {

namespace {

// Bytes left between two stream pointers, compared as addresses (a stream
// of 2 GiB or more in the 32-bit build still has room); none when `end` lies
// below.
inline uintptr_t room(const uint8_t* cur, const uint8_t* end) {
    const uintptr_t c = reinterpret_cast<uintptr_t>(cur), e = reinterpret_cast<uintptr_t>(end);
    return e > c ? e - c : 0;
}

// Reader over copies of the state's fields. The unread bits sit at the
// bottom of `buf`, everything above them is zero. It refills only when a
// bit is needed and none is left, so the bytes loaded after a block are the
// same whatever the bits were read in.
struct Reader {
    uint64_t buf;
    int count;
    const uint8_t* cur;
    const uint8_t* end;

    explicit Reader(const vekZfpState_32f* s)
        : buf(s->bitBuffer), count(s->bitCount), cur(s->pCur), end(s->pEnd) {
        if (count < 0 || count > 64) count = 0;  // a damaged count: nothing unread
        if (count < 64) buf &= (uint64_t(1) << count) - 1;
    }

    void save(vekZfpState_32f* s) const {
        s->bitBuffer = buf;
        s->bitCount = count;
        s->pCur = const_cast<uint8_t*>(cur);
    }

    bool refill() {
        const uintptr_t r = room(cur, end);
        if (r >= 8) {
            std::memcpy(&buf, cur, 8);
            cur += 8;
            count = 64;
        } else if (r >= 1) {
            buf = *cur++;
            count = 8;
        } else {
            return false;
        }
        return true;
    }

    void drop(int n) {  // n <= count
        buf = n >= 64 ? 0 : buf >> n;
        count -= n;
    }

    // Reads n (0..64) bits, the first one into bit 0.
    bool get(int n, uint64_t* v) {
        uint64_t r = 0;
        int have = 0;
        while (have < n) {
            if (count == 0 && !refill()) return false;
            const int take = n - have < count ? n - have : count;
            const uint64_t part = take >= 64 ? buf : buf & ((uint64_t(1) << take) - 1);
            r |= part << have;
            drop(take);
            have += take;
        }
        *v = r;
        return true;
    }

    bool bit(bool* b) {
        if (count == 0 && !refill()) return false;
        *b = buf & 1;
        drop(1);
        return true;
    }

    // Consumes zero bits up to and including the first 1, but at most
    // `limit` bits. *zeros receives the zeros consumed; *found whether the 1
    // was reached (and consumed) within the limit.
    bool scan(int limit, int* zeros, bool* found) {
        int z = 0;
        while (z < limit) {
            if (count == 0 && !refill()) return false;
            if (buf != 0) {
                const int t = __builtin_ctzll(buf);
                if (z + t < limit) {
                    drop(t + 1);
                    *zeros = z + t;
                    *found = true;
                    return true;
                }
            }
            const int take = limit - z < count ? limit - z : count;
            drop(take);
            z += take;
        }
        *zeros = z;
        *found = false;
        return true;
    }

    // Passes over n bits; whole words in between are not loaded.
    bool skip(int64_t n) {
        const int first = n < count ? static_cast<int>(n) : count;
        drop(first);
        n -= first;
        while (n >= 64 && room(cur, end) >= 8) {
            cur += 8;
            n -= 64;
        }
        uint64_t v;
        while (n > 0) {
            const int c = n > 64 ? 64 : static_cast<int>(n);
            if (!get(c, &v)) return false;
            n -= c;
        }
        return true;
    }
};

// One plane against the budget `bits`, mirroring the encoder: the verbatim
// bits, then group tests, each followed by a scan for the next 1 that stops
// at the last coefficient or the end of the budget.
template <class R>
inline bool decode_plane(R& r, int& n, int64_t& bits, uint64_t* plane) {
    const int m = static_cast<int>(n < bits ? n : bits);
    bits -= m;
    uint64_t x;
    if (!r.get(m, &x)) return false;
    while (n < 64 && bits > 0) {
        --bits;
        bool any;
        if (!r.bit(&any)) return false;
        if (!any) break;
        const int limit = static_cast<int>(63 - n < bits ? 63 - n : bits);
        int zeros;
        bool found;
        if (!r.scan(limit, &zeros, &found)) return false;
        bits -= zeros + found;
        n += zeros;
        x |= uint64_t(1) << n;
        ++n;
    }
    *plane = x;
    return true;
}

// Reader for blocks that cannot reach the end of the buffer: bits are taken
// at an absolute position with unaligned 8-byte loads and no end checks.
// When the block is done it leaves the state exactly as the checking reader
// would have (whole words loaded up to the one holding the last bit read).
struct FastReader {
    const uint8_t* start;
    uint64_t pos;  // bits from start

    static uint64_t mask(int n) { return n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1; }
    uint64_t peek() const {  // the next 57 bits at least
        uint64_t w;
        std::memcpy(&w, start + (pos >> 3), 8);
        return w >> (pos & 7);
    }
    bool get(int n, uint64_t* v) {
        if (n <= 56) {
            *v = peek() & mask(n);
            pos += n;
            return true;
        }
        const uint64_t lo = peek() & 0xFFFFFFFFu;
        pos += 32;
        *v = lo | (peek() & mask(n - 32)) << 32;
        pos += n - 32;
        return true;
    }
    bool bit(bool* b) {
        *b = (start[pos >> 3] >> (pos & 7)) & 1;
        ++pos;
        return true;
    }
    bool scan(int limit, int* zeros, bool* found) {
        int z = 0;
        while (z < limit) {
            const int span = limit - z < 56 ? limit - z : 56;
            const uint64_t w = peek() & mask(span);
            if (w) {
                const int t = __builtin_ctzll(w);
                pos += t + 1;
                *zeros = z + t;
                *found = true;
                return true;
            }
            pos += span;
            z += span;
        }
        *zeros = z;
        *found = false;
        return true;
    }
    bool skip(int64_t n) {
        pos += static_cast<uint64_t>(n);
        return true;
    }
    void save(vekZfpState_32f* s) const {
        uint64_t loaded = 8 * static_cast<uint64_t>(s->pCur - s->pStart);
        if (pos > loaded) {
            loaded = (pos + 63) / 64 * 64;
            s->pCur = s->pStart + loaded / 8;
        }
        const int count = static_cast<int>(loaded - pos);
        uint64_t last = 0;
        if (count) std::memcpy(&last, s->pCur - 8, 8);
        s->bitCount = count;
        s->bitBuffer = count ? last >> (64 - count) : 0;
    }
};

// The position of the next unread bit when the state is one the checking
// reader could have left inside the whole-word part of the buffer, with
// room for the longest block these parameters allow plus two loads; else -1.
int64_t fast_start(const vekZfpState_32f* s) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(s->pStart);
    const uintptr_t cur = reinterpret_cast<uintptr_t>(s->pCur);
    const uintptr_t end = reinterpret_cast<uintptr_t>(s->pEnd);
    if (end <= start || cur < start || cur > end) return -1;
    const uint64_t len = end - start, done = cur - start;
    const int count = s->bitCount;
    if (done % 8 || done >> 56 || count < 0 || count > 64 || uint64_t(count) > 8 * done) return -1;
    if (count) {
        uint64_t last;
        std::memcpy(&last, s->pCur - 8, 8);
        if (s->bitBuffer != last >> (64 - count)) return -1;
    } else if (s->bitBuffer) {
        return -1;
    }
    int64_t coded = static_cast<int64_t>(s->maxBits) - 9;
    coded = coded < 0 ? 0 : coded > 2300 ? 2300 : coded;  // 32 planes never take more
    const int64_t need = 9 + coded + (s->minBits > 0 ? s->minBits : 0) + 128;
    const int64_t at = 8 * static_cast<int64_t>(done) - count;
    const uint64_t left = len - done;  // bytes after the loaded ones
    return left >> 56 || need - count <= 8 * static_cast<int64_t>(left) ? at : -1;
}

// The same plane for the unchecked reader. The group tests work on a
// register window of at least 57 upcoming bits, reloaded only when a test
// and its run of zeros might not fit in what is left of it.
inline bool decode_plane(FastReader& r, int& n, int64_t& bits, uint64_t* plane) {
    const int m = static_cast<int>(n < bits ? n : bits);
    bits -= m;
    uint64_t x;
    r.get(m, &x);
    uint64_t w = r.peek();
    int avail = 57;
    while (n < 64 && bits > 0) {
        --bits;
        const int limit = static_cast<int>(63 - n < bits ? 63 - n : bits);
        if (limit > 55) {
            // A longer run than the window holds: the general scan.
            bool any;
            r.bit(&any);
            if (!any) break;
            int zeros;
            bool found;
            r.scan(limit, &zeros, &found);
            bits -= zeros + found;
            n += zeros;
            w = r.peek();
            avail = 57;
        } else {
            if (avail < limit + 1) {
                w = r.peek();
                avail = 57;
            }
            if (!(w & 1)) {
                ++r.pos;
                break;
            }
            const uint64_t z = (w >> 1) & FastReader::mask(limit);
            int step;
            if (z) {
                const int t = __builtin_ctzll(z);
                step = t + 2;
                bits -= t + 1;
                n += t;
            } else {
                step = limit + 1;
                bits -= limit;
                n += limit;
            }
            w >>= step;
            avail -= step;
            r.pos += step;
        }
        x |= uint64_t(1) << n;
        ++n;
    }
    *plane = x;
    return true;
}

// A plane that cannot exhaust the budget (it takes at most 129 bits), read
// without budget bookkeeping: the caller charges the bits afterwards. A
// sentinel bit at the last coefficient ends the run of zeros by itself.
inline void decode_plane_unbounded(FastReader& r, int& n, uint64_t* plane) {
    uint64_t x;
    r.get(n, &x);
    if (n >= 8 && n < 64) {
        // Most planes find no new coefficient or one: the first group test
        // and its run are taken without a branch on the bit read.
        const uint64_t w = r.peek();
        const uint64_t g = w & 1;
        const int limit = 63 - n;
        const int t = __builtin_ctzll((w >> 1) | (uint64_t(1) << limit));
        x |= g << (n + t);
        r.pos += g ? t + 1 + (t < limit) : 1;
        n += g ? t + 1 : 0;
        if (!g) {
            *plane = x;
            return;
        }
    }
    while (n < 64) {
        const uint64_t w = r.peek();
        if (!(w & 1)) {
            ++r.pos;
            break;
        }
        const int limit = 63 - n;
        if (limit > 55) {
            ++r.pos;
            int zeros;
            bool found;
            r.scan(limit, &zeros, &found);
            n += zeros;
        } else {
            const int t = __builtin_ctzll((w >> 1) | (uint64_t(1) << limit));
            r.pos += t + 1 + (t < limit);
            n += t;
        }
        x |= uint64_t(1) << n;
        ++n;
    }
    *plane = x;
}

template <class R>
inline bool decode_planes(R& r, int& n, int64_t& bits, uint64_t* plane) {
    return decode_plane(r, n, bits, plane);
}

// The unbounded plane without a branch on the bits in its common shapes: no
// new coefficient (one 0 group test), or exactly one (a 1, its run of zeros
// and its 1, then a 0 group test, or a run that reaches the last
// coefficient). Everything is read from one window of at least 57 bits
// after the verbatim ones; the rare other shapes go back to the start of the
// plane and take the general loop.
inline void decode_plane_window(FastReader& r, int& n, uint64_t* plane) {
    const uint64_t from = r.pos;
    uint64_t x;
    r.get(n, &x);
    const uint64_t u = r.peek();
    const int limit = 63 - n;
    const uint64_t g = u & 1;
    const int t = __builtin_ctzll((u >> 1) | (uint64_t(1) << limit));
    const bool last = t == limit;                   // the run reaches coefficient 63
    const uint64_t g2 = (u >> ((t + 2) & 63)) & 1;  // the next group test
    const bool simple = !g || (last ? t < 57 : t + 2 < 57 && !g2);
    if (__builtin_expect(!simple, 0)) {
        r.pos = from;
        decode_plane_unbounded(r, n, plane);
        return;
    }
    x |= g << (n + t);
    r.pos += g ? static_cast<uint64_t>(t + (last ? 1 : 3)) : 1;
    n += g ? t + 1 : 0;
    *plane = x;
}

inline bool decode_planes(FastReader& r, int& n, int64_t& bits, uint64_t* plane) {
    if (bits < 129) return decode_plane(r, n, bits, plane);
    const uint64_t from = r.pos;
    if (n < 64)
        decode_plane_window(r, n, plane);
    else
        r.get(64, plane);
    bits -= static_cast<int64_t>(r.pos - from);
    return true;
}

template <class R>
inline void decode_leading_planes(R&, int&, int64_t&, uint64_t*, int&, int) {}

// The first planes of a block while the budget cannot run out in them and
// at most 40 coefficients are significant, with the stream window kept in a
// register. The refill loads at a byte position fixed by the previous
// refill, so its latency overlaps the plane before; after a refill all 64
// bits of the window are stream bits (those above `count` merely arrive
// again with the next load). Shapes the window cannot settle alone, and the
// planes after the loop, go through the per-plane readers.
// kBudget: whether the budget can come within 129 bits in these planes (a
// block's planes never take 2300 bits, so with more left it cannot).
template <bool kBudget>
inline void leading_planes(FastReader& r, int& n, int64_t& bits, uint64_t* planes, int& p,
                           int kmin) {
    const uint64_t entry = r.pos;
    const uint8_t* const start = r.start;
    const uint8_t* ptr = start + (r.pos >> 3);
    int count = 56 - static_cast<int>(r.pos & 7);
    uint64_t w = (vek::load64(ptr) & 0x00FFFFFFFFFFFFFFu) >> (r.pos & 7);
    ptr += 7;
    int nn = n;
    int64_t b = bits;
    uint64_t* out = planes + p + 1;  // one above the next plane
    uint64_t* const stop = planes + kmin;
    do {
        const uint64_t fill = vek::load64(ptr) << count;
        // The run after the group test is searched in the window itself,
        // above bit nn, with a sentinel at bit 63: no shift of the window
        // first. A 1 at bit 63, real or not, means more than 63 bits: c
        // then exceeds the window.
        const uint64_t probe = w | (fill | (uint64_t(1) << 63));
        w |= fill;
        ptr += (63 - count) >> 3;
        count |= 56;
        const uint64_t g = (w >> nn) & 1;
        // at > nn: the bit that ends the run; g2 the group test after it.
        const int at = __builtin_ctzll(probe & (~uint64_t(1) << nn));
        const uint64_t g2 = (w >> ((at + 1) & 63)) & 1;
        // Selections, which the compiler may turn into a branch on g: when
        // predicted, the plane without a new coefficient need not wait for
        // the run search (this measured faster than masks).
        int c = g ? at + 2 : nn + 1;
        uint64_t x = (w & ((uint64_t(1) << nn) - 1)) | g << (at - 1);
        int m = g ? at : nn;
        // One new coefficient, not the last, followed by a 0 group test; or
        // none. Everything consumed lies below `count`. More coefficients
        // are taken one by one from the same window.
        if (__builtin_expect(g & g2, 0) && c - 1 <= count) {
            c -= 1;  // the 1 group test that follows is read again below
            for (;;) {
                const uint64_t v = w >> c;  // c <= count < 64
                if (!(v & 1)) {
                    ++c;
                    break;
                }
                // A run up to coefficient 63 (the sentinel) needs more bits
                // than the window holds after this plane's others.
                const int lim = 63 - m;
                const int tt = __builtin_ctzll((v >> 1) | (uint64_t(1) << lim));
                c += tt + 2;
                if (c > count || tt == lim) {
                    c = count + 1;
                    break;
                }
                x |= uint64_t(1) << (m + tt);
                m += tt + 1;
            }
        }
        if (__builtin_expect(c > count, 0)) {
            r.pos = 8 * static_cast<uint64_t>(ptr - start) - static_cast<uint64_t>(count);
            const uint64_t from = r.pos;
            int n2 = nn;  // nn itself stays in a register
            decode_plane_unbounded(r, n2, --out);
            nn = n2;
            if (kBudget) b -= static_cast<int64_t>(r.pos - from);
            ptr = start + (r.pos >> 3);
            count = 56 - static_cast<int>(r.pos & 7);
            w = (vek::load64(ptr) & 0x00FFFFFFFFFFFFFFu) >> (r.pos & 7);
            ptr += 7;
            // With many significant coefficients most planes overflow the
            // window: leave them to the per-plane readers.
            if (nn > 40) break;
            continue;
        }
        *--out = x;
        nn = m;
        w >>= c;
        count -= c;
        if (kBudget) b -= c;
    } while (out > stop && (!kBudget || b >= 129));
    r.pos = 8 * static_cast<uint64_t>(ptr - start) - static_cast<uint64_t>(count);
    n = nn;
    bits = kBudget ? b : bits - static_cast<int64_t>(r.pos - entry);
    p = static_cast<int>(out - planes) - 1;
}

inline void decode_leading_planes(FastReader& r, int& n, int64_t& bits, uint64_t* planes, int& p,
                                  int kmin) {
    if (p < kmin || bits < 129 || n > 40) return;
    if (bits >= 2300 + 129)
        leading_planes<false>(r, n, bits, planes, p, kmin);
    else
        leading_planes<true>(r, n, bits, planes, p, kmin);
}

template <class R>
vekStatus fail(R& r, vekZfpState_32f* s) {
    r.save(s);
    return vekStatusOutOfRangeErr;
}

template <class R>
vekStatus decode_with(R& r, vekZfpState_32f* s, float* dst, int32_t step, int32_t plane_step,
                      const BlockKernels& k) {
    bool nonzero;
    if (!r.bit(&nonzero)) return fail(r, s);
    if (!nonzero) {
        std::memset(s->fBlock, 0, sizeof s->fBlock);
        k.scatter(s->fBlock, dst, step, plane_step);
        if (s->minBits > 1 && !r.skip(static_cast<int64_t>(s->minBits) - 1)) return fail(r, s);
        r.save(s);
        return vekStatusOk;
    }
    uint64_t e;
    if (!r.get(8, &e)) return fail(r, s);
    int64_t prec = static_cast<int64_t>(e) - 127 - s->minExp + 8;
    if (prec > s->maxPrec) prec = s->maxPrec;
    const int kmin = prec >= 32 ? 0 : prec <= 0 ? 32 : 32 - static_cast<int>(prec);

    uint64_t planes[32];
    const int64_t budget = static_cast<int64_t>(s->maxBits) - 9;
    int64_t bits = budget;
    int n = 0;
    int p = 31;
    decode_leading_planes(r, n, bits, planes, p, kmin);
    for (; p >= kmin && bits > 0; --p)
        if (!decode_planes(r, n, bits, &planes[p])) return fail(r, s);
    for (; p >= kmin; --p) planes[p] = 0;
    const int64_t used = budget > 0 ? budget - bits : 0;
    const int64_t pad = static_cast<int64_t>(s->minBits) - 9 - used;
    if (pad > 0 && !r.skip(pad)) return fail(r, s);

    const int fe = static_cast<int>(e) - 30;
    const float factor = float_from_bits(fe > 0 ? static_cast<uint32_t>(fe) << 23 : 0);
    k.decode_values(planes, kmin, factor, s->iBlock, s->fBlock, dst, step, plane_step);
    r.save(s);
    return vekStatusOk;
}

}  // namespace

vekStatus decode_block(vekZfpState_32f* s, float* dst, int32_t step, int32_t plane_step,
                       const BlockKernels& k) {
    const int64_t at = fast_start(s);
    if (at >= 0) {
        FastReader r{s->pStart, static_cast<uint64_t>(at)};
        return decode_with(r, s, dst, step, plane_step, k);
    }
    Reader r(s);
    return decode_with(r, s, dst, step, plane_step, k);
}

}  // namespace vek::zfp
