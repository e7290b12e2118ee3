// LZO1X piecewise matcher (method 2): the input is cut into pieces of 48 KiB
// that are matched independently through a small table of 16-bit offsets,
// probing two positions per step and skipping ahead faster and faster over
// data that does not match.
#include <cstring>

#include "lzo/lzo.h"
#include "lzo/lzo_tokens.h"

namespace vek::lzo {

namespace {

constexpr uint32_t kPiece = 49152;
constexpr uint32_t kTableEntries = 16384;
constexpr uint32_t kHashMask = kTableEntries - 1;
// Probing stops this far before a piece ends.
constexpr uint32_t kScanMargin = 20;
// Misses before the scan drops to one probe per step.
constexpr uint32_t kSingleProbeAt = 32;
// A piece whose output exceeds this starts the next one in one-probe mode.
constexpr uint32_t kBusyOutput = 45056;
// Beyond this the step already passes any piece; capping keeps the counter
// from overflowing over long incompressible inputs without changing a probe.
constexpr uint32_t kCounterCap = 1u << 24;

}  // namespace

bool encode_piecewise(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap,
                      uint16_t* table, Progress* progress) {
    Out out{dst, dst, dst + cap};
    uint32_t anchor = 0;  // start of the pending literal run
    uint32_t counter = 0;
    bool busy = false;  // the previous piece wrote more than kBusyOutput bytes
    bool ok = true;
    for (uint32_t start = 0; start < n && ok;) {
        const uint32_t end = n - start > kPiece ? start + kPiece : n;
        std::memset(table, 0, kTableEntries * sizeof(uint16_t));
        uint8_t* const piece_out = out.op;
        if (!busy) counter = 0;
        if (end - start > kScanMargin) {
            const uint32_t scan_end = end - kScanMargin;
            // A run that began at most 3 bytes before the piece is matched
            // only from 4 bytes into it, like the stream's first run.
            const uint32_t s0 = start - anchor <= 3 ? anchor + 4 : start;
            uint32_t p = s0 + 1;
            const bool single_only = busy;
            while (p < scan_end) {
                uint32_t m, c;
                if (!single_only && counter < kSingleProbeAt) {
                    const uint32_t w0 = load32(src + p);
                    const uint32_t w1 = load32(src + p + 1);
                    const uint32_t h0 = _mm_crc32_u32(0, w0) & kHashMask;
                    const uint32_t h1 = _mm_crc32_u32(0, w1) & kHashMask;
                    const uint32_t c0 = start + table[h0];
                    table[h0] = static_cast<uint16_t>(p - start);
                    const uint32_t c1 = start + table[h1];
                    table[h1] = static_cast<uint16_t>(p + 1 - start);
                    if (load32(src + c0) == w0) {
                        m = p;
                        c = c0;
                    } else if (load32(src + c1) == w1) {
                        m = p + 1;
                        c = c1;
                    } else {
                        counter += 2;
                        p += 2;
                        continue;
                    }
                } else {
                    const uint32_t w0 = load32(src + p);
                    const uint32_t h0 = _mm_crc32_u32(0, w0) & kHashMask;
                    const uint32_t c0 = start + table[h0];
                    table[h0] = static_cast<uint16_t>(p - start);
                    if (load32(src + c0) == w0) {
                        m = p;
                        c = c0;
                    } else {
                        const uint32_t grow = counter >> 5;
                        const uint64_t next = uint64_t(p) + 1 + grow;
                        counter = counter + grow < kCounterCap ? counter + grow : kCounterCap;
                        if (next >= scan_end) break;
                        p = static_cast<uint32_t>(next);
                        continue;
                    }
                }
                // Matches may run on to the end of the piece.
                const uint32_t len = 4 + match_length(src + c + 4, src + m + 4, end - m - 4);
                if (!emit(out, src + anchor, m - anchor, len, m - c)) {
                    ok = false;
                    break;
                }
                p = m + len;
                anchor = p;
                counter = 0;
            }
        }
        busy = out.op - piece_out > kBusyOutput;
        start = end;
    }
    progress->written = static_cast<uint32_t>(out.op - dst);
    progress->anchor = anchor;
    return ok;
}

}  // namespace vek::lzo
