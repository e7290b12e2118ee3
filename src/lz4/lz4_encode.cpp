// The unchecked and checked single-pass LZ4 encoders. Both run the same
// search: a first-match phase that probes every position at first and then
// speeds up while nothing matches, then triple probes after short literal
// runs and accelerating single probes after long ones. The checked encoder
// adds a room test before every sequence and limits the last literals.
#include <cstring>

#include "lz4_common.h"
#include "lz4_encode.h"

namespace vek::lz4 {
namespace {

constexpr int32_t kSearchMargin = 44;  // no probe group starts at or beyond srcLen - 44
constexpr int32_t kEndLiterals = 12;   // the last 12 bytes are always literals

// Hash-table views. The small layout needs no distance test: every position
// of a source below 64 KiB is within reach.
struct Table16 {
    uint16_t* t;
    static constexpr uint32_t kMask = 0xFFF;
    static constexpr bool kCheckDistance = false;
    int32_t get(uint32_t h) const { return t[h]; }
    void put(uint32_t h, int32_t pos) const { t[h] = static_cast<uint16_t>(pos); }
};
struct Table32 {
    int32_t* t;
    static constexpr uint32_t kMask = 0xFFF;
    static constexpr bool kCheckDistance = true;
    int32_t get(uint32_t h) const { return t[h]; }
    void put(uint32_t h, int32_t pos) const { t[h] = pos; }
};

template <class Table>
inline bool candidate_ok(const uint8_t* src, int32_t p, int32_t c) {
    if (Table::kCheckDistance && p - c > kMaxOffset) return false;
    return load32(src + c) == load32(src + p);
}

template <bool Checked, class Table>
int32_t encode(const uint8_t* src, int32_t srcLen, int32_t* covered, uint8_t* dst, int32_t dstCap,
               Table tab) {
    const int32_t searchLimit = srcLen - kSearchMargin;
    uint8_t* op = dst;
    uint8_t* const oend = dst + dstCap;
    int32_t anchor = 0;
    int32_t q = 0, c = 0;  // match position and its candidate

    auto probe = [&](int32_t p) -> bool {
        const uint32_t h = hash5(src + p, Table::kMask);
        const int32_t e = tab.get(h);
        tab.put(h, p);
        if (!candidate_ok<Table>(src, p, e)) return false;
        q = p;
        c = e;
        return true;
    };
    // All three entries are read before any is written, so when two hashes
    // coincide the later position still sees the old entry.
    auto probe3 = [&](int32_t p) -> bool {
        const uint32_t h0 = hash5(src + p, Table::kMask);
        const uint32_t h1 = hash5(src + p + 1, Table::kMask);
        const uint32_t h2 = hash5(src + p + 2, Table::kMask);
        const int32_t e0 = tab.get(h0), e1 = tab.get(h1), e2 = tab.get(h2);
        tab.put(h0, p);
        tab.put(h1, p + 1);
        tab.put(h2, p + 2);
        for (int i = 0; i < 3; ++i) {
            const int32_t e = i == 0 ? e0 : i == 1 ? e1 : e2;
            if (candidate_ok<Table>(src, p + i, e)) {
                q = p + i;
                c = e;
                return true;
            }
        }
        return false;
    };
    // First match: every position first (1..16, or 1..63 in the wide layout),
    // then a step k >> 4 from k = 16 (k >> 6 from k = 64), k growing per probe.
    auto first_match = [&]() -> bool {
        const int32_t single = Table::kCheckDistance ? 63 : 16;
        const int shift = Table::kCheckDistance ? 6 : 4;
        int32_t p = 1;
        for (; p <= single; ++p) {
            if (p >= searchLimit) return false;
            if (probe(p)) return true;
        }
        for (int32_t k = Table::kCheckDistance ? 64 : 16;; ++k) {
            if (p >= searchLimit) return false;
            if (probe(p)) return true;
            p += k >> shift;
        }
    };
    auto next_match = [&](int32_t lastRun) -> bool {
        int32_t p = anchor;
        if (lastRun < 64) {
            for (int i = 0; i < 16; ++i, p += 3) {
                if (p >= searchLimit) return false;
                if (probe3(p)) return true;
            }
        }
        for (int32_t k = 128;; ++k) {
            if (p >= searchLimit) return false;
            if (probe(p)) return true;
            p += k >> 6;
        }
    };
    // Emits anchor..q-1 and the match (q, ml, c); false when the checked
    // encoder has no room for it.
    auto emit = [&](int32_t ml) -> bool {
        const int32_t L = q - anchor;
        if constexpr (Checked) {
            const int32_t need = L + 3 + ext_bytes(L) + ext_bytes(ml);
            if (!(need < oend - op - 8)) return false;
            op = emit_sequence<8>(op, src + anchor, L, ml, static_cast<uint32_t>(q - c));
        } else {
            op = emit_sequence<16>(op, src + anchor, L, ml, static_cast<uint32_t>(q - c));
        }
        anchor = q + ml;
        return true;
    };
    auto match_length = [&]() { return common_prefix(src + q, src + c, srcLen - q - kEndLiterals); };

    if (first_match() && emit(match_length())) {
        int32_t lastRun = q;  // the first sequence's literals are 0..q-1
        while (next_match(lastRun)) {
            int32_t ml = match_length();
            const int32_t back = common_suffix(src + q, src + c, q - anchor < c ? q - anchor : c);
            q -= back;
            c -= back;
            ml += back;
            lastRun = q - anchor;
            if (!emit(ml)) break;
        }
    }

    int32_t n = srcLen - anchor;
    if constexpr (Checked) {
        const int32_t avail = static_cast<int32_t>(oend - op);
        if (n >= avail) n = avail - 1;
        while (n + 1 + ext_bytes(n) > avail) --n;
    }
    op = emit_last_literals(op, src + anchor, n);
    *covered = anchor + n;
    return static_cast<int32_t>(op - dst);
}

}  // namespace
}  // namespace vek::lz4

namespace vek::lz4 {

int32_t encode_block(const uint8_t* src, int32_t srcLen, uint8_t* dst, uint8_t* table) {
    int32_t covered = 0;
    if (srcLen < 65536)
        return encode<false>(src, srcLen, &covered, dst, 0, Table16{reinterpret_cast<uint16_t*>(table)});
    return encode<false>(src, srcLen, &covered, dst, 0, Table32{reinterpret_cast<int32_t*>(table)});
}

int32_t encode_block_checked(const uint8_t* src, int32_t* srcLen, uint8_t* dst, int32_t dstCap,
                             uint8_t* table) {
    if (*srcLen < 65536)
        return encode<true>(src, *srcLen, srcLen, dst, dstCap, Table16{reinterpret_cast<uint16_t*>(table)});
    return encode<true>(src, *srcLen, srcLen, dst, dstCap, Table32{reinterpret_cast<int32_t*>(table)});
}

}  // namespace vek::lz4
