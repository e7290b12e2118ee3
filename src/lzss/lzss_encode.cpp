// LZSS encoder: hash chains over 3-byte prefixes, at most 16 candidates per
// position, and a 64 KB history copy that slides by about 32 KB at a time.
//
// Streams depend on how the input is split into calls (the last two bytes of
// every call are literals and are not hashed) but never on how the output is
// split: a call that fills its destination stops after a whole token, and
// the next call resumes at the following input byte with the same chains.
#include <algorithm>
#include <cstring>

#include "core/load.h"
#include "lzss/lzss.h"
#include "vector/vector.h"

namespace vek::lzss {

namespace {

const int16_t* const kT0 = kRandVec;
const int16_t* const kT1 = kRandVec + 256;
const int16_t* const kT2 = kRandVec + 512;

inline uint32_t hash3(const uint8_t* p) {
    return static_cast<uint32_t>(kT0[p[0]] ^ kT1[p[1]] ^ kT2[p[2]]) & (kHashSize - 1);
}

// Number of equal leading bytes of a and b, at most max_len.
inline int32_t common_length(const uint8_t* a, const uint8_t* b, int32_t max_len) {
    int32_t n = 0;
    while (n + 8 <= max_len) {
        const uint64_t x = load64(a + n) ^ load64(b + n);
        if (x != 0) return n + (__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < max_len && a[n] == b[n]) ++n;
    return n;
}

// Bit buffer: the next bit to go out is bit 63; `count` bits are valid and
// the bits below them are zero.
struct BitWriter {
    uint64_t bits;
    int32_t count;
    uint8_t* out;
    int32_t room;

    void put(uint32_t value, int32_t n) {
        bits |= static_cast<uint64_t>(value) << (64 - count - n);
        count += n;
    }
    // Writes every complete byte, one at a time; false once the destination
    // is full.
    bool drain_exact() {
        while (count >= 8) {
            *out++ = static_cast<uint8_t>(bits >> 56);
            bits <<= 8;
            count -= 8;
            if (--room == 0) return false;
        }
        return true;
    }
    // With plenty of room: writes 4 bytes once 32 bits are complete. At most
    // 55 bits are then pending after a token.
    void drain_lazy() {
        if (count >= 32) {
            const uint32_t top = __builtin_bswap32(static_cast<uint32_t>(bits >> 32));
            std::memcpy(out, &top, 4);
            out += 4;
            room -= 4;
            bits <<= 32;
            count -= 32;
        }
    }
};

// Room below which tokens are written out byte by byte, so that a call stops
// exactly after the token whose bytes fill the destination. Above it no
// token can fill the destination, even with 6 bytes still pending.
constexpr int32_t kExactRoom = 16;

struct Search {
    int32_t best;
    int32_t best_pos;
};

// Longest match for position pos (input byte p) among at most 16 chain
// candidates, starting with c; the earlier of equal lengths wins.
__attribute__((always_inline)) inline Search search(const uint8_t* p, int32_t pos, int32_t c,
                                                    int32_t max_len, const int32_t* prev,
                                                    const uint8_t* in, int32_t p0,
                                                    const uint8_t* win, int32_t base_pos) {
    Search r{2, 0};
    // Candidates lie in [lo, pos): within the window and, in a state whose
    // window mapping had to be reset, not before the window copy. One
    // unsigned compare tests both ends (entries at or after pos only come
    // from a damaged state).
    const int32_t lo = std::max(pos - (kWindowSize - 1), base_pos);
    const uint32_t span = static_cast<uint32_t>(pos - lo);
    auto usable = [&](int32_t cand) {
        return static_cast<uint32_t>(pos - 1) - static_cast<uint32_t>(cand) < span;
    };
    if (!usable(c) || max_len <= 2) return r;
    for (int32_t k = 1;; ++k) {
        // The next link does not depend on this candidate's bytes: fetch
        // both at once.
        const int32_t next = prev[c & (kHashSize - 1)];
        const uint8_t* cp = c >= p0 ? in + (c - p0) : win + (c - base_pos);
        if (load16(cp + r.best - 1) == load16(p + r.best - 1)) {
            const int32_t len = common_length(cp, p, max_len);
            if (len > r.best) {
                r.best = len;
                r.best_pos = c;
                if (len >= max_len) break;
            }
        }
        if (k == kMaxCandidates) break;
        c = next;
        if (!usable(c)) break;
    }
    return r;
}

inline uintptr_t window_base_position(const vekLZSSState* s) {
    return reinterpret_cast<uintptr_t>(s->pWindowBase) - reinterpret_cast<uintptr_t>(s->pWindow);
}

// Brings the history copy up to date after `consumed` input bytes, keeping
// the 32768 bytes before the new position and room for 258 bytes after it.
void update_window(vekLZSSState* s, const uint8_t* in, int32_t consumed, int32_t p0,
                   int32_t copied) {
    uint8_t* win = s->area3;
    const int32_t base_pos = static_cast<int32_t>(window_base_position(s));
    const int32_t off0 = p0 - base_pos;
    const int32_t p1 = p0 + consumed;
    int32_t new_base = base_pos;
    if (consumed >= kWindowSize) {
        std::memcpy(win, in + consumed - kWindowSize, kWindowSize);
        new_base = p1 - kWindowSize;
    } else if (off0 + consumed + kMaxMatch > kEncoderWindowBytes) {
        const int32_t keep = kWindowSize - consumed;
        std::memmove(win, win + off0 - keep, static_cast<size_t>(keep));
        std::memcpy(win + keep, in, static_cast<size_t>(consumed));
        new_base = p1 - kWindowSize;
    } else if (consumed > copied) {
        std::memcpy(win + off0 + copied, in + copied, static_cast<size_t>(consumed - copied));
    }
    s->pWindow = reinterpret_cast<uint8_t*>(
        reinterpret_cast<uintptr_t>(win) - static_cast<uintptr_t>(static_cast<intptr_t>(new_base)));
    s->pWindowBase = win;
}

// First input index whose position reaches kRebaseAt, capped at limit.
inline int32_t segment_end(int32_t p0, int32_t limit) {
    const int64_t e = int64_t(kRebaseAt) - p0;
    return e < limit ? static_cast<int32_t>(e < 0 ? 0 : e) : limit;
}

// Moves all positions down by delta (a multiple of kHashSize, so chain
// slots keep their places). Matches see only differences of positions, so
// the stream does not change; entries left further back than kEmptyEntry
// could never be used again and become empty.
void rebase_tables(int32_t* prev, int32_t* head, int32_t delta) {
    for (int32_t* t : {prev, head}) {
        for (int32_t k = 0; k < kHashSize; ++k) {
            const int64_t v = int64_t(t[k]) - delta;
            t[k] = v < kEmptyEntry ? kEmptyEntry : static_cast<int32_t>(v);
        }
    }
}

}  // namespace

void encode_init(vekLZSSState* s) {
    s->pHashRand = kRandVec;
    s->pPrev = s->area1;
    s->pHead = s->area2;
    s->pWindowBase = s->area3;
    s->pWindow = s->area3;
    s->position = 0;
    s->bitCount = 0;
    s->bitBufHi = 0;
    s->bitBufLo = 0;
    s->matchOffset = 0;
    s->matchRemain = 0;
    vector::set_32s(kEmptyEntry, s->area1, kHashSize);
    vector::set_32s(kEmptyEntry, s->area2, kHashSize);
}

vekStatus encode(const uint8_t** src, int32_t* src_len, uint8_t** dst, int32_t* dst_len,
                 vekLZSSState* s) {
    const uint8_t* const in = *src;
    const int32_t n = *src_len;
    int32_t* const prev = s->area1;
    int32_t* const head = s->area2;
    const uint8_t* const win = s->area3;
    // Stream position of the first window byte.
    int32_t base_pos = static_cast<int32_t>(window_base_position(s));
    const int64_t offset = int64_t(s->position) - base_pos;
    if (s->position < 0 || base_pos < 0 || offset < 0 || offset > kEncoderWindowBytes - kMaxMatch) {
        // Not a state left by the encoder: start the window copy afresh
        // rather than address memory outside it.
        if (s->position < 0) s->position = 0;
        base_pos = s->position;
        s->pWindowBase = s->area3;
        s->pWindow = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(s->area3) -
                                                static_cast<uintptr_t>(base_pos));
    }
    int32_t p0 = s->position;

    BitWriter bw;
    bw.count = s->bitCount;
    bw.bits = (static_cast<uint64_t>(s->bitBufHi) << 32) | s->bitBufLo;
    if (bw.count <= 0 || bw.count > 31) {
        // Nothing pending (a negative count is left by an interrupted flush,
        // whose bytes are all out).
        bw.count = 0;
        bw.bits = 0;
    }
    bw.bits &= ~(~uint64_t(0) >> bw.count);
    bw.out = *dst;
    bw.room = *dst_len;

    // Matches that start in the history may run on into the new input.
    const int32_t copied = std::min(n, kMaxMatch);
    std::memcpy(s->area3 + (p0 - base_pos), in, static_cast<size_t>(copied));

    int32_t i = 0;  // input bytes consumed
    bool full = bw.count >= 8 && !bw.drain_exact();
    const int32_t limit = n - 2;  // positions below this are hashed
    // The scan runs in segments whose positions stay below kRebaseAt; all
    // positions are rebased between them.
    int32_t seg_end = segment_end(p0, limit);
    for (;;) {
        while (!full && i < seg_end) {
            const uint8_t* const p = in + i;
            const int32_t pos = p0 + i;
            const int32_t max_len = std::min(limit - i, kMaxMatch);
            const uint32_t h = hash3(p);
            const int32_t c = head[h];
            prev[pos & (kHashSize - 1)] = c;
            head[h] = pos;
            const Search m = search(p, pos, c, max_len, prev, in, p0, win, base_pos);

            if (m.best >= kMinMatch) {
                bw.put((static_cast<uint32_t>(pos - m.best_pos) << 8) |
                           static_cast<uint32_t>(m.best - kMinMatch),
                       24);
                for (int32_t q = 1; q < m.best; ++q) {
                    const uint32_t hq = hash3(p + q);
                    prev[(pos + q) & (kHashSize - 1)] = head[hq];
                    head[hq] = pos + q;
                }
                i += m.best;
            } else {
                bw.put(0x100u | p[0], 9);
                i += 1;
            }
            if (bw.room >= kExactRoom) {
                bw.drain_lazy();
            } else {
                full = !bw.drain_exact();  // also what the lazy writer kept back
            }
        }
        // Also at the end of the hashed part (or at once in a call of one
        // or two bytes): calls of any size keep positions in range.
        if (full || (i >= limit && int64_t(p0) + i < kRebaseAt)) break;
        const int32_t delta = (p0 + i - kRebaseTo) & ~(kHashSize - 1);
        rebase_tables(prev, head, delta);
        p0 -= delta;
        base_pos -= delta;
        s->pWindowBase = s->area3;
        s->pWindow =
            reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(s->area3) -
                                       static_cast<uintptr_t>(static_cast<intptr_t>(base_pos)));
        seg_end = segment_end(p0, limit);
    }
    // Bytes the lazy writer kept back (their room was reserved).
    if (!full) full = !bw.drain_exact();
    // The last two bytes of the call (or all of a call of one or two bytes).
    while (!full && i < n) {
        bw.put(0x100u | in[i], 9);
        i += 1;
        full = !bw.drain_exact();
    }

    update_window(s, in, i, p0, copied);
    s->position = p0 + i;
    s->bitCount = bw.count;
    s->bitBufHi = static_cast<uint32_t>(bw.bits >> 32);
    s->bitBufLo = static_cast<uint32_t>(bw.bits);
    *src = in + i;
    *src_len = n - i;
    const int32_t written = *dst_len - bw.room;
    *dst += written;
    *dst_len = bw.room;
    return full ? vekStatusDstTooSmall : vekStatusOk;
}

vekStatus encode_flush(uint8_t** dst, int32_t* dst_len, vekLZSSState* s) {
    int32_t count = s->bitCount;
    if (count <= 0) return vekStatusOk;
    if (count > 64) count = 64;  // never left by the encoder; keeps the shifts defined
    uint64_t bits = (static_cast<uint64_t>(s->bitBufHi) << 32) | s->bitBufLo;
    uint8_t* out = *dst;
    int32_t room = *dst_len;
    const int32_t bytes = (count + 7) / 8;
    for (int32_t b = 0; b < bytes; ++b) {
        uint8_t v = static_cast<uint8_t>(bits >> 56);
        const int32_t valid = count - 8 * b;
        if (valid < 8) v &= static_cast<uint8_t>(0xFF00u >> valid);  // fill with 0 bits
        *out++ = v;
        --room;
        if (room == 0) {
            // Keep what is not written yet for a later flush.
            const uint64_t rest = bits << 8;
            s->bitCount = count - 8 * (b + 1);
            s->bitBufHi = static_cast<uint32_t>(rest >> 32);
            s->bitBufLo = static_cast<uint32_t>(rest);
            *dst = out;
            *dst_len = 0;
            return vekStatusDstTooSmall;
        }
        bits <<= 8;
    }
    *dst = out;
    *dst_len = room;
    return vekStatusOk;
}

}  // namespace vek::lzss
