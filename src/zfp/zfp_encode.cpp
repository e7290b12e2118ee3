// ZFP block encoder and the state helpers shared with the decoder: header,
// embedded bit-plane coding with group tests, padding, and the word-wise
// stream writer.
#include <cstring>

#include "core/cpu.h"
#include "vector/vector.h"
#include "zfp/zfp_internal.h"

namespace vek::zfp {

void init_state(vekZfpState_32f* s, const uint8_t* buf, uintptr_t len) {
    s->idCtx = kStateId;
    s->minBits = kDefaultMinBits;
    s->maxBits = kDefaultMaxBits;
    s->maxPrec = kDefaultMaxPrec;
    s->minExp = kDefaultMinExp;
    s->bitCount = 0;
    s->bitBuffer = 0;
    // The end is formed in address arithmetic, wrapping like the address
    // space; a wrapped end simply leaves no room.
    uint8_t* start = const_cast<uint8_t*>(buf);
    s->pCur = start;
    s->pStart = start;
    s->pEnd = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(start) + len);
}

namespace {

// Bytes left between two stream pointers, compared as addresses (a stream
// of 2 GiB or more in the 32-bit build still has room); none when `end` lies
// below.
inline uintptr_t room(const uint8_t* cur, const uint8_t* end) {
    const uintptr_t c = reinterpret_cast<uintptr_t>(cur), e = reinterpret_cast<uintptr_t>(end);
    return e > c ? e - c : 0;
}

inline uint64_t low_bits(uint64_t v, int n) {
    return n >= 64 ? v : v & ((uint64_t(1) << n) - 1);
}

// The stream writer works on copies of the state's fields and hands them back
// at the end of the block. A word that does not fit stays pending in full
// (64 bits counted) and every later append is refused.
struct Writer {
    uint64_t buf;
    int count;
    uint8_t* cur;
    uint8_t* end;
    bool failed = false;

    // A state left full by a failed block (64 bits pending) or with a damaged
    // count takes no more bits.
    explicit Writer(const vekZfpState_32f* s)
        : buf(s->bitBuffer),
          count(s->bitCount),
          cur(s->pCur),
          end(s->pEnd),
          failed(count < 0 || count > 63) {}

    void save(vekZfpState_32f* s) const {
        s->bitBuffer = buf;
        s->bitCount = count;
        s->pCur = cur;
    }

    // Appends the n (0..64) low bits of v; v has no bits above them.
    void put(uint64_t v, int n) {
        if (failed) return;
        buf |= v << count;  // count < 64 here
        count += n;
        if (count < 64) return;
        if (room(cur, end) < 8) {
            count = 64;
            failed = true;
            return;
        }
        std::memcpy(cur, &buf, 8);
        cur += 8;
        count -= 64;
        buf = count ? v >> (n - count) : 0;
    }

    void put_zeros(int64_t n) {
        while (n > 0 && !failed) {
            const int c = n > 64 ? 64 : static_cast<int>(n);
            put(0, c);
            n -= c;
        }
    }
};

// One bit plane against the budget `bits`: the first n coefficients
// verbatim, then group tests. Each run of zeros up to the next significant
// coefficient goes out as one field (found with a count of trailing zeros),
// cut where the budget or the last coefficient ends it.
inline void code_plane(Writer& w, uint64_t x, int& n, int64_t& bits) {
    const int m = static_cast<int>(n < bits ? n : bits);
    bits -= m;
    w.put(low_bits(x, m), m);
    x = m >= 64 ? 0 : x >> m;
    while (n < 64 && bits > 0) {
        --bits;
        if (x == 0) {
            w.put(0, 1);
            break;
        }
        const int limit = static_cast<int>(63 - n < bits ? 63 - n : bits);
        const int t = __builtin_ctzll(x);
        if (t < limit) {
            // Group bit 1, t zeros, the coefficient's 1.
            w.put((uint64_t(1) << (t + 1)) | 1, t + 2);
            bits -= t + 1;
            x >>= t + 1;
            n += t + 1;
        } else {
            // Group bit 1 and `limit` zeros; the run is cut there.
            w.put(1, limit + 1);
            bits -= limit;
            x = (x >> limit) >> 1;
            n += limit + 1;
        }
    }
}

}  // namespace

vekStatus flush(vekZfpState_32f* s) {
    if (s->bitCount < 1) return vekStatusOk;
    if (room(s->pCur, s->pEnd) >= 8) {
        std::memcpy(s->pCur, &s->bitBuffer, 8);
        s->pCur += 8;
    } else {
        do {
            if (room(s->pCur, s->pEnd) < 1) return vekStatusOutOfRangeErr;
            *s->pCur++ = static_cast<uint8_t>(s->bitBuffer);
            s->bitCount -= 8;
            s->bitBuffer >>= 8;
        } while (s->bitCount > 0);
    }
    s->bitCount = 0;
    s->bitBuffer = 0;
    return vekStatusOk;
}

vekStatus encode_block(const float* src, int32_t step, int32_t plane_step, vekZfpState_32f* s,
                       const BlockKernels& k) {
    k.gather(src, step, plane_step, s->fBlock);
    float maxabs = 0.0f;
    vector::maxabs_32f(s->fBlock, 64, &maxabs);
    const uint32_t mbits = bits_from_float(maxabs);
    const int emax = mbits ? static_cast<int>(mbits >> 23) - 126 : -127;
    int64_t prec = static_cast<int64_t>(emax) - s->minExp + 8;
    if (prec < 0) prec = 0;
    if (prec > s->maxPrec) prec = s->maxPrec;

    Writer w(s);
    // A negative maxPrec leaves prec negative: such a block keeps its header
    // and codes no plane; only a precision of exactly 0 makes the short code.
    if (prec == 0 || emax == -127) {
        w.put(0, 1);
        if (s->minBits > 1) w.put_zeros(static_cast<int64_t>(s->minBits) - 1);
    } else {
        w.put(static_cast<uint64_t>(2 * emax + 255) & 0x1FF, 9);
        int se = 157 - emax;
        if (se > 254) se = 254;
        const float scale = float_from_bits(static_cast<uint32_t>(se) << 23);
        const int kmin = prec >= 32 ? 0 : prec < 0 ? 32 : 32 - static_cast<int>(prec);
        uint64_t planes[32];
        k.encode_planes(s->fBlock, scale, s->iBlock, planes, kmin);

        const int64_t budget = static_cast<int64_t>(s->maxBits) - 9;
        int64_t bits = budget;
        int n = 0;
        for (int p = 31; p >= kmin && bits > 0 && !w.failed; --p) code_plane(w, planes[p], n, bits);
        const int64_t used = budget > 0 ? budget - bits : 0;
        const int64_t pad = static_cast<int64_t>(s->minBits) - 9 - used;
        if (pad > 0) w.put_zeros(pad);
    }
    w.save(s);
    return w.failed ? vekStatusOutOfRangeErr : vekStatusOk;
}

const BlockKernels& best_kernels() {
    if (core::get_feature(core::kFeatureAvx2)) return avx2_kernels();
    return portable_kernels();
}

}  // namespace vek::zfp
