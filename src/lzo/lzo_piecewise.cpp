// LZO1X piecewise matcher (method 2): the input is cut into pieces of 48 KiB
// that are matched independently through a small table of 16-bit offsets,
// probing two positions per step and skipping ahead faster and faster over
// data that does not match.
#include <cstddef>
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

// The most probes one run of the one-probe scan makes once the counter has
// reached kSingleProbeAt: the smallest such counter gives the shortest steps.
constexpr uint32_t most_skip_probes() {
    uint32_t misses = kSingleProbeAt, at = 0, probes = 0;
    for (;;) {
        ++probes;
        const uint32_t grow = misses >> 5;
        misses += grow;
        if (grow + 1 >= kPiece - at) return probes;
        at += 1 + grow;
    }
}
constexpr uint32_t kMostSkipProbes = most_skip_probes();

// The table must be all zero when a piece starts. Clearing 32 KiB per piece
// costs more than the whole scan of incompressible data, which probes a few
// hundred positions, so the scan logs where it wrote: ranges of positions
// probed two at a time, and single hashes. While the log stays small the
// next piece zeroes just those entries; otherwise it clears the table.
constexpr uint32_t kLogWords = 4096;
constexpr uint32_t kLogPositions = 2048;
constexpr uint32_t kRangeFlag = 0x80000000u;

struct WriteLog {
    uint32_t* words;
    uint32_t used = 0;
    uint32_t positions = 0;
    bool full = true;  // the table must be cleared whole

    // Positions [from, to) of the piece, each hashed into the table.
    void range(uint32_t from, uint32_t to) {
        if (full) return;
        if (used + 2 > kLogWords || positions + (to - from) > kLogPositions) {
            full = true;
            return;
        }
        words[used++] = from | kRangeFlag;
        words[used++] = to;
        positions += to - from;
    }
    void hash(uint32_t h) {
        if (full) return;
        if (used + 1 > kLogWords || positions + 1 > kLogPositions) {
            full = true;
            return;
        }
        words[used++] = h;
        ++positions;
    }
    // Whether `count` more single hashes fit; gives up the log otherwise.
    bool reserve(uint32_t count) {
        if (full) return false;
        if (used + count > kLogWords || positions + count > kLogPositions) {
            full = true;
            return false;
        }
        return true;
    }
    // Counts `count` hashes written at words + used after a reserve.
    void commit(uint32_t count) {
        used += count;
        positions += count;
    }
    // Zeroes the entries written for the piece at `base`, then starts over.
    void clear(uint16_t* table, const uint8_t* base) {
        if (full) {
            std::memset(table, 0, kTableEntries * sizeof(uint16_t));
        } else {
            for (uint32_t k = 0; k < used; ++k) {
                const uint32_t w = words[k];
                if (w & kRangeFlag) {
                    const uint32_t to = words[++k];
                    for (uint32_t x = w & ~kRangeFlag; x < to; ++x)
                        table[_mm_crc32_u32(0, load32(base + x)) & kHashMask] = 0;
                } else {
                    table[w] = 0;
                }
            }
        }
        used = 0;
        positions = 0;
        full = false;
    }
};

}  // namespace

namespace {

// Matches inside one piece [start, end) of more than kScanMargin bytes,
// from the probe at `first`. Table entries are offsets from the piece start.
// Returns false when a token does not fit.
bool scan_piece(const uint8_t* src, uint32_t start, uint32_t end, uint32_t first, uint16_t* table,
                WriteLog& log, Out& out, uint32_t& anchor, uint32_t& counter, bool single_only) {
    const uint8_t* const base = src + start;
    const uint8_t* const piece_end = src + end;
    const uint8_t* const scan_end = piece_end - kScanMargin;
    const uint8_t* ip = src + first;
    const uint8_t* lit = src + anchor;  // the pending literal run
    uint8_t* op = out.op;
    uint32_t misses = counter;
    bool ok = true;
    for (;;) {
        const uint8_t* mp;  // match position and its candidate
        const uint8_t* cp;
        if (!single_only && misses < kSingleProbeAt) {
            // Two probes per step; the miss counter grows by 2 exactly as
            // the position does, so one bound covers both.
            const uint8_t* const ip0 = ip;
            const uint8_t* const lim = scan_end - ip < std::ptrdiff_t(kSingleProbeAt - misses)
                                           ? scan_end
                                           : ip + (kSingleProbeAt - misses);
            for (; ip < lim; ip += 2) {
                const uint64_t w = load64(ip);
                const uint32_t w0 = static_cast<uint32_t>(w);
                const uint32_t w1 = static_cast<uint32_t>(w >> 8);
                const uint32_t h0 = _mm_crc32_u32(0, w0) & kHashMask;
                const uint32_t h1 = _mm_crc32_u32(0, w1) & kHashMask;
                const uint32_t at = static_cast<uint32_t>(ip - base);
                const uint32_t c0 = table[h0];
                table[h0] = static_cast<uint16_t>(at);
                const uint32_t c1 = table[h1];
                table[h1] = static_cast<uint16_t>(at + 1);
                if (load32(base + c0) == w0) {
                    mp = ip;
                    cp = base + c0;
                    log.range(static_cast<uint32_t>(ip0 - base), at + 2);
                    goto found;
                }
                if (load32(base + c1) == w1) {
                    mp = ip + 1;
                    cp = base + c1;
                    log.range(static_cast<uint32_t>(ip0 - base), at + 2);
                    goto found;
                }
            }
            log.range(static_cast<uint32_t>(ip0 - base), static_cast<uint32_t>(ip - base));
            misses += static_cast<uint32_t>(ip - ip0);
            if (ip >= scan_end) break;
        }
        // One probe per step, the step growing with the misses.
        if (ip >= scan_end) goto done;
        {
            // The hashes go to the log unchecked when it has room for every
            // probe this loop can make; otherwise the log gives up and the
            // stores land on its first word, which then means nothing.
            const uint32_t most =
                misses >= kSingleProbeAt ? kMostSkipProbes : static_cast<uint32_t>(scan_end - ip);
            const bool logging = log.reserve(most);
            uint32_t* const lw0 = log.words + (logging ? log.used : 0);
            uint32_t* lw = lw0;
            const size_t lw_step = logging;
            for (;;) {
                const uint32_t w0 = load32(ip);
                const uint32_t h0 = _mm_crc32_u32(0, w0) & kHashMask;
                const uint32_t c0 = table[h0];
                table[h0] = static_cast<uint16_t>(ip - base);
                *lw = h0;
                lw += lw_step;
                if (load32(base + c0) == w0) {
                    mp = ip;
                    cp = base + c0;
                    log.commit(static_cast<uint32_t>(lw - lw0));
                    goto found;
                }
                // Past kCounterCap the step already passes any piece, so the
                // cap is applied only when the loop ends.
                const uint32_t grow = misses >> 5;
                misses += grow;
                if (std::ptrdiff_t(grow) >= scan_end - ip - 1) {
                    if (misses > kCounterCap) misses = kCounterCap;
                    log.commit(static_cast<uint32_t>(lw - lw0));
                    goto done;
                }
                ip += 1 + grow;
            }
        }
    found : {
        // Matches may run on to the end of the piece.
        const uint32_t len =
            4 + match_length(cp + 4, mp + 4, static_cast<uint32_t>(piece_end - mp - 4));
        const uint32_t L = static_cast<uint32_t>(mp - lit);
        const uint32_t d = static_cast<uint32_t>(mp - cp);
        if (__builtin_expect(far_from_end(static_cast<size_t>(out.end - op), L, len), 1)) {
            op = emit_far(op, lit, L, len, d);
        } else {
            out.op = op;
            if (!emit_near_end(out, lit, L, len, d)) {
                ok = false;
                goto done;
            }
            op = out.op;
        }
        ip = mp + len;
        lit = ip;
        misses = 0;
    }
    }
done:
    out.op = op;
    anchor = static_cast<uint32_t>(lit - src);
    counter = misses;
    return ok;
}

}  // namespace

bool encode_piecewise(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap, uint16_t* table,
                      uint32_t* log_words, Progress* progress) {
    Out out{dst, dst, dst + cap};
    WriteLog log;
    log.words = log_words;
    uint32_t prev_start = 0;
    uint32_t anchor = 0;  // start of the pending literal run
    uint32_t counter = 0;
    bool busy = false;  // the previous piece wrote more than kBusyOutput bytes
    bool ok = true;
    for (uint32_t start = 0; start < n && ok;) {
        const uint32_t end = n - start > kPiece ? start + kPiece : n;
        log.clear(table, src + prev_start);
        prev_start = start;
        uint8_t* const piece_out = out.op;
        if (!busy) counter = 0;
        if (end - start > kScanMargin) {
            // A run that began at most 3 bytes before the piece is matched
            // only from 4 bytes into it, like the stream's first run.
            const uint32_t s0 = start - anchor <= 3 ? anchor + 4 : start;
            if (s0 + 1 < end - kScanMargin)
                ok = scan_piece(src, start, end, s0 + 1, table, log, out, anchor, counter, busy);
        }
        busy = static_cast<size_t>(out.op - piece_out) > kBusyOutput;
        start = end;
    }
    progress->written = static_cast<uint32_t>(out.op - dst);
    progress->anchor = anchor;
    return ok;
}

}  // namespace vek::lzo
