// ZFP block decoder: the stream reader (whole words while eight bytes
// remain, then single bytes), the header, the bit planes with their group
// tests, and padding skips.
#include <cstring>

#include "zfp/zfp_internal.h"

namespace vek::zfp {

namespace {

inline intptr_t room(const uint8_t* cur, const uint8_t* end) {
    return static_cast<intptr_t>(reinterpret_cast<uintptr_t>(end) -
                                 reinterpret_cast<uintptr_t>(cur));
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
        if (count < 0 || count > 64) count = 0;  // a state the encoder left: nothing unread
        if (count < 64) buf &= (uint64_t(1) << count) - 1;
    }

    void save(vekZfpState_32f* s) const {
        s->bitBuffer = buf;
        s->bitCount = count;
        s->pCur = const_cast<uint8_t*>(cur);
    }

    bool refill() {
        const intptr_t r = room(cur, end);
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

// One plane when the budget cannot run out inside it (see the encoder).
// Returns the bits read, or -1 at the end of the stream.
inline int decode_plane_unbounded(Reader& r, int& n, uint64_t* plane) {
    uint64_t x;
    if (!r.get(n, &x)) return -1;
    int used = n;
    while (n < 64) {
        bool any;
        if (!r.bit(&any)) return -1;
        ++used;
        if (!any) break;
        int zeros;
        bool found;
        if (!r.scan(63 - n, &zeros, &found)) return -1;
        used += zeros + found;
        n += zeros;
        x |= uint64_t(1) << n;
        ++n;
    }
    *plane = x;
    return used;
}

inline bool decode_plane_bounded(Reader& r, int& n, int64_t& bits, uint64_t* plane) {
    const int m = static_cast<int>(n < bits ? n : bits);
    bits -= m;
    uint64_t x;
    if (!r.get(m, &x)) return false;
    while (n < 64 && bits > 0) {
        --bits;
        bool any;
        if (!r.bit(&any)) return false;
        if (!any) break;
        while (n < 63 && bits > 0) {
            --bits;
            bool b;
            if (!r.bit(&b)) return false;
            if (b) break;
            ++n;
        }
        x |= uint64_t(1) << n;
        ++n;
    }
    *plane = x;
    return true;
}

vekStatus fail(Reader& r, vekZfpState_32f* s) {
    r.save(s);
    return vekStatusOutOfRangeErr;
}

}  // namespace

vekStatus decode_block(vekZfpState_32f* s, float* dst, int32_t step, int32_t plane_step,
                       const BlockKernels& k) {
    Reader r(s);
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
    for (; p >= kmin && bits > 0; --p) {
        if (bits >= 129) {
            const int used = decode_plane_unbounded(r, n, &planes[p]);
            if (used < 0) return fail(r, s);
            bits -= used;
        } else if (!decode_plane_bounded(r, n, bits, &planes[p])) {
            return fail(r, s);
        }
    }
    for (; p >= kmin; --p) planes[p] = 0;
    const int64_t used = budget > 0 ? budget - bits : 0;
    const int64_t pad = static_cast<int64_t>(s->minBits) - 9 - used;
    if (pad > 0 && !r.skip(pad)) return fail(r, s);

    const int fe = static_cast<int>(e) - 30;
    const float factor = float_from_bits(fe > 0 ? static_cast<uint32_t>(fe) << 23 : 0);
    k.decode_values(planes, kmin, factor, s->iBlock, s->fBlock);
    k.scatter(s->fBlock, dst, step, plane_step);
    r.save(s);
    return vekStatusOk;
}

}  // namespace vek::zfp
