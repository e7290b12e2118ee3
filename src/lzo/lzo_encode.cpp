// LZO1X encoding: the single-probe matcher (methods 0 and 1) and the final
// literal run with the end marker, shared with the piecewise matcher.
#include <cstring>

#include "lzo/lzo.h"
#include "lzo/lzo_tokens.h"

namespace vek::lzo {

namespace {

// The last 13 input bytes are always literals.
constexpr uint32_t kTailLiterals = 13;

}  // namespace

bool encode_single_probe(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap, uint32_t* dict,
                         Progress* progress) {
    Out out{dst, dst, dst + cap};
    uint32_t anchor = 0;
    bool ok = true;
    if (n > kTailLiterals) {
        const uint32_t limit = n - kTailLiterals;  // no match passes this
        uint32_t p = 4;
        while (p < limit) {
            const uint32_t w = load32(src + p);
            const uint32_t h = _mm_crc32_u32(0, w) & 0x7FFF;
            const uint32_t c = dict[h];
            dict[h] = p;
            // Entries may be left over from an earlier call: each is checked
            // before use. A candidate whose first four bytes would already
            // reach into the literal tail is never taken.
            if (c != 0 && c < p && p - c <= kMaxDistance && p + 4 <= limit &&
                load32(src + c) == w) {
                const uint32_t m = 4 + match_length(src + c + 4, src + p + 4, limit - p - 4);
                if (!emit(out, src + anchor, p - anchor, m, p - c)) {
                    ok = false;
                    break;
                }
                p += m;
                anchor = p;
            } else {
                ++p;
            }
        }
    }
    progress->written = static_cast<uint32_t>(out.op - dst);
    progress->anchor = anchor;
    return ok;
}

vekStatus encode(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t* dst_len,
                 EncoderState* state) {
    const uint32_t cap = *dst_len;
    Progress pr{};
    if (state->method == 0) {
        // A shortfall inside the matcher leaves *dst_len at the capacity.
        if (!encode_single_probe(src, n, dst, cap, state->dict, &pr)) return vekStatusDstTooSmall;
    } else if (!encode_piecewise(src, n, dst, cap, reinterpret_cast<uint16_t*>(state->dict),
                                 state->dict + 8192, &pr)) {
        *dst_len = pr.written;
        return vekStatusDstTooSmall;
    }

    // Final literal run and end marker, only if both fit; otherwise the
    // stream stops after its last match.
    const uint32_t L = n - pr.anchor;
    uint32_t header;
    if (pr.written == 0)
        header = L <= 238 ? 1 : 1 + zero_run_bytes(L - 18);
    else
        header = run_header_bytes(L);
    if (uint64_t(cap) - pr.written < uint64_t(header) + L + 3) {
        *dst_len = pr.written;
        return vekStatusDstTooSmall;
    }
    uint8_t* op = dst + pr.written;
    if (pr.written == 0) {
        if (L <= 238) {
            *op++ = static_cast<uint8_t>(L + 17);
        } else {
            *op++ = 0;
            op = put_zero_run(op, L - 18);
        }
    } else {
        op = put_run_header(op, L);
    }
    copy_final_run(op, src + pr.anchor, L);
    op += L;
    op[0] = 0x11;
    op[1] = 0;
    op[2] = 0;
    *dst_len = static_cast<uint32_t>(op + 3 - dst);
    return vekStatusOk;
}

}  // namespace vek::lzo
