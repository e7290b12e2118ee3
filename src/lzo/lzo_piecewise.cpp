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
// hundred positions, so the scan logs where it wrote: single hashes from the
// bottom of the log and ranges of positions probed two at a time from its
// top. While the log stays small the next piece zeroes just those entries;
// otherwise it clears the table.
constexpr uint32_t kLogWords = 4096;
constexpr uint32_t kLogPositions = 2048;

struct WriteLog {
    uint32_t* words;
    uint32_t used = 0;    // single hashes at words[0, used)
    uint32_t ranges = 0;  // pairs (from, to) at words[kLogWords - 2 * ranges, kLogWords)
    uint32_t positions = 0;
    bool full = true;  // the table must be cleared whole

    // Positions [from, to) of the piece, each hashed into the table.
    void range(uint32_t from, uint32_t to) {
        if (full) return;
        if (used + 2 * (ranges + 1) > kLogWords || positions + (to - from) > kLogPositions) {
            full = true;
            return;
        }
        ++ranges;
        words[kLogWords - 2 * ranges] = from;
        words[kLogWords - 2 * ranges + 1] = to;
        positions += to - from;
    }
    // Whether `count` more single hashes fit; gives up the log otherwise.
    bool reserve(uint32_t count) {
        if (full) return false;
        if (used + count + 2 * ranges > kLogWords || positions + count > kLogPositions) {
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
            uint32_t k = 0;
            for (; k + 4 <= used; k += 4) {
                table[words[k]] = 0;
                table[words[k + 1]] = 0;
                table[words[k + 2]] = 0;
                table[words[k + 3]] = 0;
            }
            for (; k < used; ++k) table[words[k]] = 0;
            for (uint32_t r = kLogWords - 2 * ranges; r < kLogWords; r += 2) {
                for (uint32_t x = words[r]; x < words[r + 1]; ++x)
                    table[_mm_crc32_u32(0, load32(base + x)) & kHashMask] = 0;
            }
        }
        used = 0;
        ranges = 0;
        positions = 0;
        full = false;
    }
};

}  // namespace

namespace {

// Where the scan of a piece stands: the next probe, the pending literal run,
// the output cursor and the miss counter.
struct Cursor {
    const uint8_t* ip;
    const uint8_t* lit;
    uint8_t* op;
    uint32_t misses;
};

enum class Stop { kPieceDone, kLogFull, kNoRoom };

// The rest of a match found 16 bytes long, out of line for the same reason
// as put_long_run.
[[gnu::noinline]] uint32_t long_match_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    return match_length(a, b, limit);
}

// Matches inside one piece [base, piece_end) of more than kScanMargin bytes.
// Table entries are offsets from the piece start. kLog: the write log still
// records the table entries written (it stops with kLogFull once the log
// gives up, and the caller continues without it). kChecked: the room for
// every token is tested (stopping with kNoRoom when it does not fit);
// otherwise the caller has made sure that the whole piece fits.
template <bool kLog, bool kChecked>
[[gnu::noinline]] Stop scan_piece(const uint8_t* const base, const uint8_t* const piece_end,
                                  uint16_t* const table, WriteLog& log, uint8_t* const out_end,
                                  Cursor& cur, const bool single_only) {
    const uint8_t* const scan_end = piece_end - kScanMargin;
    const uint8_t* ip = cur.ip;
    const uint8_t* lit = cur.lit;
    uint8_t* op = cur.op;
    uint32_t misses = cur.misses;
    // Two probes per step while the counter is below this.
    const uint32_t two_probes_below = single_only ? 0 : kSingleProbeAt;
    Stop stop = Stop::kPieceDone;
    // The two-probe run in progress: where it started, its bound, and the
    // candidates for ip and ip + 1, the table already pointing at both
    // positions. The compares load the words at ip again rather than keep
    // them in registers across the token code.
    const uint8_t* ip0;
    const uint8_t* lim;
    uint32_t c0, c1;
    const auto take_step = [&]() __attribute__((always_inline)) {
        const uint64_t w = load64(ip);
        const uint64_t w_next = load64(ip + 1);
        const uint32_t h0 = _mm_crc32_u32(0, static_cast<uint32_t>(w)) & kHashMask;
        const uint32_t h1 = _mm_crc32_u32(0, static_cast<uint32_t>(w_next)) & kHashMask;
        const uint32_t at = static_cast<uint32_t>(ip - base);
        c0 = table[h0];
        table[h0] = static_cast<uint16_t>(at);
        c1 = table[h1];
        table[h1] = static_cast<uint16_t>(at + 1);
    };
    const uint8_t* mp;  // match position and its candidate
    const uint8_t* cp;
    uint64_t diff;   // their first 8 bytes XORed: the probe's compare also measures
    uint64_t diff2;  // and their next 8 bytes
    for (;;) {
        if (kLog && log.full) {
            stop = Stop::kLogFull;
            break;
        }
        if (misses < two_probes_below) {
            // Two probes per step; the miss counter grows by 2 exactly as
            // the position does, so one bound covers both.
            ip0 = ip;
            lim = scan_end - ip < std::ptrdiff_t(kSingleProbeAt - misses)
                      ? scan_end
                      : ip + (kSingleProbeAt - misses);
            if (ip < lim) {
                take_step();
                for (;;) {
                probe:
                    // Bytes 8 to 15 are compared before the branch: a found
                    // match mispredicts it, and the length is then ready
                    // without waiting for loads issued behind it.
                    diff = load64(base + c0) ^ load64(ip);
                    const uint64_t next0 = before_branch(load64(base + c0 + 8) ^ load64(ip + 8));
                    if (static_cast<uint32_t>(diff) == 0) {
                        mp = ip;
                        cp = base + c0;
                        diff2 = next0;
                        if (kLog)
                            log.range(static_cast<uint32_t>(ip0 - base),
                                      static_cast<uint32_t>(ip - base) + 2);
                        goto found;
                    }
                    diff = load64(base + c1) ^ load64(ip + 1);
                    const uint64_t next1 = before_branch(load64(base + c1 + 8) ^ load64(ip + 9));
                    if (static_cast<uint32_t>(diff) == 0) {
                        mp = ip + 1;
                        cp = base + c1;
                        diff2 = next1;
                        if (kLog)
                            log.range(static_cast<uint32_t>(ip0 - base),
                                      static_cast<uint32_t>(ip - base) + 2);
                        goto found;
                    }
                    ip += 2;
                    if (ip >= lim) break;
                    take_step();
                }
            }
            if (kLog)
                log.range(static_cast<uint32_t>(ip0 - base), static_cast<uint32_t>(ip - base));
            misses += static_cast<uint32_t>(ip - ip0);
        }
        // One probe per step, the step growing with the misses.
        if (ip >= scan_end) break;
        {
            // The hashes go to the log unchecked: it has room for every
            // probe this loop can make, or it gives up before the loop.
            uint32_t* lw = nullptr;
            uint32_t* lw0 = nullptr;
            if (kLog) {
                const uint32_t most = misses >= kSingleProbeAt
                                          ? kMostSkipProbes
                                          : static_cast<uint32_t>(scan_end - ip);
                if (!log.reserve(most)) {
                    stop = Stop::kLogFull;
                    break;
                }
                lw0 = lw = log.words + log.used;
            }
            // Offsets from the piece start index both the input and the
            // table; the loop ends when the next step would reach scan_end.
            const uint32_t end_at = static_cast<uint32_t>(scan_end - base);
            uint32_t at = static_cast<uint32_t>(ip - base);
            for (;;) {
                const uint64_t w = load64(base + at);
                const uint32_t h0 = _mm_crc32_u32(0, static_cast<uint32_t>(w)) & kHashMask;
                const uint32_t c0 = table[h0];
                table[h0] = static_cast<uint16_t>(at);
                if (kLog) *lw++ = h0;
                diff = load64(base + c0) ^ w;
                if (static_cast<uint32_t>(diff) == 0) {
                    mp = base + at;
                    cp = base + c0;
                    diff2 = load64(cp + 8) ^ load64(mp + 8);
                    if (kLog) log.commit(static_cast<uint32_t>(lw - lw0));
                    goto found;
                }
                // Past kCounterCap the step already passes any piece, so the
                // cap is applied only when the loop ends.
                const uint32_t grow = misses >> 5;
                misses += grow;
                const uint32_t next = at + 1 + grow;
                if (next >= end_at) {
                    if (misses > kCounterCap) misses = kCounterCap;
                    if (kLog) log.commit(static_cast<uint32_t>(lw - lw0));
                    ip = base + at;
                    goto done;
                }
                at = next;
            }
        }
    found : {
        // Matches may run on to the end of the piece; at least 20 bytes
        // follow mp since mp < scan_end, and every candidate lies before mp.
        // The probe's compare already covers bytes 4 to 7 and diff2 bytes 8
        // to 15; the counts are combined without a branch, since a branch on
        // the first word's outcome mispredicts often.
        const uint32_t n0 = equal_bytes(diff);
        const uint32_t n1 = equal_bytes(diff2);
        // n1 counts only when the first word is equal; the mask comes from
        // diff directly, off the path through the count.
        uint32_t len = n0 + (n1 & (0u - static_cast<uint32_t>(diff == 0)));
        if (__builtin_expect(len == 16, 0))
            len += long_match_length(cp + 16, mp + 16, static_cast<uint32_t>(piece_end - mp - 16));
        const uint8_t* const run = lit;
        const uint32_t L = static_cast<uint32_t>(mp - run);
        const uint32_t d = static_cast<uint32_t>(mp - cp);
        ip = mp + len;
        lit = ip;
        misses = 0;
        // When a two-probe run follows, its first step is taken before the
        // tokens are written: the chain of loads from the new position then
        // starts as soon as the match length is known, not behind the token
        // code after the mispredicted exit from the probes.
        // The token code is written out twice so that no flag stays live
        // across it.
        const auto write_tokens = [&]() __attribute__((always_inline)) {
            if (!kChecked ||
                __builtin_expect(far_from_end(static_cast<size_t>(out_end - op), L, len), 1)) {
                op = emit_unchecked(op, run, L, len, d);
                return true;
            }
            Out out{op, op, out_end};
            if (!emit_near_end(out, run, L, len, d)) return false;
            op = out.op;
            return true;
        };
        if (two_probes_below != 0 && ip < scan_end && !(kLog && log.full)) {
            ip0 = ip;
            lim = scan_end - ip < std::ptrdiff_t(kSingleProbeAt) ? scan_end : ip + kSingleProbeAt;
            take_step();
            if (!write_tokens()) {
                stop = Stop::kNoRoom;
                break;
            }
            goto probe;
        }
        if (!write_tokens()) {
            stop = Stop::kNoRoom;
            break;
        }
    }
    }
done:
    cur.ip = ip;
    cur.lit = lit;
    cur.op = op;
    cur.misses = misses;
    return stop;
}

// Whether a piece can run without room tests: every literal run and match
// token together take at most one byte more than the input they cover, plus
// a byte per 255 literals, and that extra byte comes only with runs of 19 or
// more, so the output stays below n + n / 16 for n input bytes; the wide
// literal copy and the token store write up to 16 bytes beyond.
bool room_for_piece(const uint8_t* op, const uint8_t* out_end, const uint8_t* lit,
                    const uint8_t* piece_end) {
    const size_t n = static_cast<size_t>(piece_end - lit);
    return static_cast<size_t>(out_end - op) >= n + n / 16 + 64;
}

// Scans one piece from `cur`, with the log while it lasts and without room
// tests where the whole piece fits. Returns false when a token did not fit.
bool scan(const uint8_t* base, const uint8_t* piece_end, uint16_t* table, WriteLog& log,
          uint8_t* out_end, Cursor& cur, bool single_only) {
    Stop stop;
    if (room_for_piece(cur.op, out_end, cur.lit, piece_end)) {
        if (!log.full && scan_piece<true, false>(base, piece_end, table, log, out_end, cur,
                                                 single_only) == Stop::kPieceDone)
            return true;
        stop = scan_piece<false, false>(base, piece_end, table, log, out_end, cur, single_only);
    } else {
        stop = log.full
                   ? Stop::kLogFull
                   : scan_piece<true, true>(base, piece_end, table, log, out_end, cur, single_only);
        if (stop == Stop::kLogFull)
            stop = scan_piece<false, true>(base, piece_end, table, log, out_end, cur, single_only);
    }
    return stop != Stop::kNoRoom;
}

}  // namespace

bool encode_piecewise(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap, uint16_t* table,
                      uint32_t* log_words, Progress* progress) {
    WriteLog log;
    log.words = log_words;
    uint8_t* const out_end = dst + cap;
    uint32_t prev_start = 0;
    Cursor cur{src + 4, src, dst, 0};  // cur.lit: start of the pending literal run
    bool busy = false;                 // the previous piece wrote more than kBusyOutput bytes
    bool ok = true;
    for (uint32_t start = 0; start < n && ok;) {
        const uint32_t end = n - start > kPiece ? start + kPiece : n;
        log.clear(table, src + prev_start);
        prev_start = start;
        uint8_t* const piece_out = cur.op;
        if (!busy) cur.misses = 0;
        if (end - start > kScanMargin) {
            // A run that began at most 3 bytes before the piece is matched
            // only from 4 bytes into it, like the stream's first run.
            const uint32_t anchor = static_cast<uint32_t>(cur.lit - src);
            const uint32_t s0 = start - anchor <= 3 ? anchor + 4 : start;
            if (s0 + 1 < end - kScanMargin) {
                cur.ip = src + s0 + 1;
                ok = scan(src + start, src + end, table, log, out_end, cur, busy);
            }
        }
        busy = static_cast<size_t>(cur.op - piece_out) > kBusyOutput;
        start = end;
    }
    progress->written = static_cast<uint32_t>(cur.op - dst);
    progress->anchor = static_cast<uint32_t>(cur.lit - src);
    return ok;
}

}  // namespace vek::lzo
