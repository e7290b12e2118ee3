// The accelerated single-pass LZ4 encoder: probes in groups of four spaced
// by a step that starts at the acceleration factor and grows while nothing
// matches; after each match it tries the two positions right behind it.
#include "lz4_common.h"
#include "lz4_encode.h"
#include "lz4_engine.h"

namespace vek::lz4 {
namespace {

constexpr int32_t kFastEndLiterals = 5;  // matches stop 5 bytes before the end

// Swaps position p into slot h and tests the entry it replaces (into *c).
template <class Table>
__attribute__((always_inline)) inline bool probe_at(const uint8_t* src, Table tab, int32_t p,
                                                    uint32_t h, int32_t* c) {
    const int32_t e = tab.get(h);
    tab.put(h, p);
    *c = e;
    // Entries are earlier source positions: the load is always safe, and
    // both tests feed one branch.
    const bool near = !Table::kCheckDistance || p - e <= kMaxOffset;
    return near & (load32(src + e) == load32(src + p));
}

// Written as one flat loop over plain locals so that the search state stays
// in registers.
template <class Table>
int32_t encode_fast(const uint8_t* src, int32_t srcLen, uint8_t* dst, Table tab, int32_t accel) {
    const int32_t searchLimit = srcLen - kSearchMargin;
    uint8_t* op = dst;
    int32_t anchor = 0;
    int32_t q = 0, c = 0;  // a found match and its candidate

    if (1 >= searchLimit) goto last_literals;
    tab.put(hash5(src + 1, Table::kMask), 1);
    if (load32(src + 1) == load32(src)) {
        q = 1;
        c = 0;
        goto found;
    }
    for (;;) {
        {
            // Groups of four probes, the four hashes computed first; the
            // first success ends the group.
            // Any acceleration is accepted: the step and its counter are kept
            // in 64 bits so that a huge factor simply steps past the limit.
            int64_t p = anchor + 2;
            int64_t s = accel;
            int64_t k = int64_t{64} * accel;
            while (p + 3 * s < searchLimit) {
                // The whole group lies below the limit.
                const int32_t g = static_cast<int32_t>(p), t = static_cast<int32_t>(s);
                const uint32_t h0 = hash5(src + g, Table::kMask);
                const uint32_t h1 = hash5(src + g + t, Table::kMask);
                const uint32_t h2 = hash5(src + g + 2 * t, Table::kMask);
                const uint32_t h3 = hash5(src + g + 3 * t, Table::kMask);
                if (probe_at(src, tab, g, h0, &c)) {
                    q = g;
                    goto found;
                }
                if (probe_at(src, tab, g + t, h1, &c)) {
                    q = g + t;
                    goto found;
                }
                if (probe_at(src, tab, g + 2 * t, h2, &c)) {
                    q = g + 2 * t;
                    goto found;
                }
                if (probe_at(src, tab, g + 3 * t, h3, &c)) {
                    q = g + 3 * t;
                    goto found;
                }
                p += 4 * s;
                k += 4;
                s = k >> 6;
            }
            if (Table::kCheckDistance) goto last_literals;
            while (p < searchLimit) {
                const int32_t g = static_cast<int32_t>(p);
                if (probe_at(src, tab, g, hash5(src + g, Table::kMask), &c)) {
                    q = g;
                    goto found;
                }
                ++k;
                p += s;
                s = k >> 6;
            }
            goto last_literals;
        }
    found : {
        int32_t ml = common_prefix_at(src, static_cast<uint32_t>(q), static_cast<uint32_t>(c),
                                      srcLen - q - kFastEndLiterals);
        // The match ends here whatever the backward extension finds: the
        // probes behind it need not wait for that extension.
        const int32_t next = q + ml;
        const int32_t back = common_suffix(src + q, src + c, q - anchor < c ? q - anchor : c, c);
        q -= back;
        c -= back;
        ml += back;
        op = emit_sequence<8>(op, src + anchor, q - anchor, ml, static_cast<uint32_t>(q - c));
        anchor = next;
        if (anchor + 1 >= searchLimit) goto last_literals;
        tab.put(hash5(src + anchor - 2, Table::kMask), anchor - 2);
        // The two positions right behind the match come first.
        const size_t a = static_cast<uint32_t>(anchor);
        if (probe_at(src, tab, anchor, hash5_at<0>(src, a, Table::kMask), &c)) {
            q = anchor;
            goto found;
        }
        if (probe_at(src, tab, anchor + 1, hash5_at<1>(src, a, Table::kMask), &c)) {
            q = anchor + 1;
            goto found;
        }
    }
    }

last_literals:
    op = emit_last_literals(op, src + anchor, srcLen - anchor);
    return static_cast<int32_t>(op - dst);
}

}  // namespace

int32_t encode_block_fast(const uint8_t* src, int32_t srcLen, uint8_t* dst, uint8_t* table,
                          int32_t acceleration) {
    if (srcLen < 65536)
        return encode_fast(src, srcLen, dst, Table16T<0x1FFF>{reinterpret_cast<uint16_t*>(table)},
                           acceleration);
    return encode_fast(src, srcLen, dst, Table32{reinterpret_cast<int32_t*>(table)}, acceleration);
}

}  // namespace vek::lz4
