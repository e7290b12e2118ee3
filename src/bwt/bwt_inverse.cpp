// Inverse Burrows-Wheeler transform by the successor vector.
//
// Row r of the sorted rotations is followed, in the text, by the rotation
// whose last byte was the occurrence of the first byte of r: stable
// counting of the last column gives that successor row for every row. The
// output walk is one chain of dependent loads, so its speed is the latency
// of one load: for blocks up to 2^24 bytes each entry carries the successor
// row in its high 24 bits and that row's last-column byte in its low 8, so
// one load per output byte suffices and the column itself is not touched.
#include <cstring>

#include "bwt/bwt_sort.h"
#include "core/load.h"

namespace vek::bwt {

namespace {

constexpr int32_t kPackedLimit = 1 << 24;

// Exclusive prefix sums of the byte counts of L: C[c] becomes the first
// row whose rotation starts with c.
void first_rows(const uint8_t* L, int32_t n, uint32_t* C) {
    uint32_t part[4][256] = {};
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++part[0][L[i]];
        ++part[1][L[i + 1]];
        ++part[2][L[i + 2]];
        ++part[3][L[i + 3]];
    }
    for (; i < n; ++i) ++part[0][L[i]];
    uint32_t sum = 0;
    for (int c = 0; c < 256; ++c) {
        C[c] = sum;
        sum += part[0][c] + part[1][c] + part[2][c] + part[3][c];
    }
}

// The caller's buffer need not be aligned: entries go through memcpy,
// which compiles to plain moves.
inline uint32_t get(const uint8_t* next, uint32_t row) {
    return load32(next + 4 * size_t(row));
}
inline void put(uint8_t* next, uint32_t row, uint32_t v) {
    std::memcpy(next + 4 * size_t(row), &v, 4);
}

void inverse_packed(const uint8_t* L, uint8_t* dst, int32_t n, int32_t index, uint32_t* C,
                    uint8_t* next) {
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t c = L[i];
        put(next, C[c]++, uint32_t(i) << 8 | c);
    }
    uint32_t p = uint32_t(index);
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
        uint64_t w = 0;
        for (int s = 0; s < 8; ++s) {
            const uint32_t v = get(next, p);
            w |= uint64_t(v & 0xFF) << (8 * s);
            p = v >> 8;
        }
        std::memcpy(dst + k, &w, 8);
    }
    for (; k < n; ++k) {
        const uint32_t v = get(next, p);
        dst[k] = uint8_t(v);
        p = v >> 8;
    }
}

void inverse_plain(const uint8_t* L, uint8_t* dst, int32_t n, int32_t index, uint32_t* C,
                   uint8_t* next) {
    for (int32_t i = 0; i < n; ++i) put(next, C[L[i]]++, uint32_t(i));
    uint32_t p = uint32_t(index);
    for (int32_t k = 0; k < n; ++k) {
        p = get(next, p);
        dst[k] = L[p];
    }
}

// --- Interleaved walk --------------------------------------------------------
//
// One chain of dependent loads leaves the memory system idle between
// misses. Blocks of kMultiMin bytes up to 2^23 therefore walk the successor
// cycle from several rows at once: the walk from the primary index is one
// chain, and further chains start at rows no chain has reached yet. Every
// entry is 3 bytes (23-bit successor row and a flag bit); a chain flags each
// entry it reads and stops at the first flagged one, which is where another
// chain started. The bytes of each chain go into fixed-size chunks taken from
// the destination and from the buffer room the 3-byte entries leave free;
// when the walk is over, the pieces are copied into place in cycle order,
// starting from the primary index. The output is that of the plain walk for
// any column: a cycle shorter than the block repeats, as the plain walk does.

constexpr int32_t kMultiMin = 1 << 16;
constexpr int32_t kMultiMax = 1 << 23;
constexpr uint32_t kFlag = 1u << 23;
constexpr uint32_t kRowMask = kFlag - 1;
constexpr int kLanes = 16;
constexpr int kMaxSlots = 1024;
constexpr int kMaxSegments = 512;
constexpr int kProbes = 32;

struct Segment {
    uint32_t start;  // row the chain started from
    uint32_t end;    // flagged row it stopped at
    int32_t first;   // first chunk slot
    int32_t length;  // bytes produced
};

struct Lane {
    uint32_t p;    // row whose entry is read next
    uint8_t* out;  // next byte in the current chunk
    uint8_t* chunk_end;
    int32_t slot;     // current chunk slot
    int32_t segment;  // -1: idle
};

class MultiWalk {
  public:
    MultiWalk(const uint8_t* L, uint8_t* dst, int32_t n, uint8_t* work)
        : L_(L), dst_(dst), n_(n), entries_(work + 1024) {
        // Chunks: at most kMaxSlots in all, at least 2048 bytes each.
        chunk_ = 2048;
        while (2 * (n / chunk_) + 2 > kMaxSlots) chunk_ *= 2;
        dst_slots_ = n / chunk_;
        spare_ = entries_ + 3 * size_t(n) + 4;  // 4n + 1024 bytes hold both
        spare_slots_ = int32_t((size_t(n) - 4) / size_t(chunk_));
        slots_ = dst_slots_ + spare_slots_;
        // Every segment wastes less than one chunk; keep room for all.
        const int32_t needed = (n + chunk_ - 1) / chunk_;
        segment_cap_ = slots_ - needed - 1;
        if (segment_cap_ > kMaxSegments) segment_cap_ = kMaxSegments;
    }

    bool usable() const { return segment_cap_ >= 2 * kLanes; }

    void build(const uint32_t* C_in) {
        uint32_t C[256];
        std::memcpy(C, C_in, sizeof C);
        // The counter of the current run of equal bytes lives in a
        // register (a counter in memory would wait on its last store).
        uint32_t c = L_[0], row = C[c];
        for (int32_t i = 0; i < n_; ++i) {
            if (L_[i] != c) {
                C[c] = row;
                c = L_[i];
                row = C[c];
            }
            const uint32_t v = uint32_t(i);
            std::memcpy(entries_ + 3 * size_t(row++), &v, 3);
        }
    }

    void run(int32_t index) {
        Lane lanes[kLanes];
        for (Lane& l : lanes) l = {0, nullptr, nullptr, -1, -1};
        int32_t active = 0;
        if (start_chain(lanes[0], uint32_t(index))) ++active;
        uint32_t cursor = uint32_t(index);
        const uint32_t stride = pick_stride();
        for (int i = 1; i < kLanes; ++i)
            if (find_start(lanes[i], cursor, stride)) ++active;
        // One step per lane per round: consecutive steps are independent,
        // so the loads of all lanes are in flight together.
        while (active > 0) {
            for (int i = 0; i < kLanes; ++i) {
                Lane& l = lanes[i];
                if (l.segment < 0 || step(l)) continue;
                finish(l);
                if (!find_start(l, cursor, stride)) --active;
            }
        }
    }

    void assemble(int32_t index) {
        // The entries are dead now: the chunks that live in the destination
        // move there first so that the destination can be rewritten.
        uint8_t* const copy = entries_;
        std::memcpy(copy, dst_, size_t(dst_slots_) * size_t(chunk_));
        int32_t pos = 0;
        uint32_t row = uint32_t(index);
        for (;;) {
            const Segment* seg = find_segment(row);
            if (!seg) break;  // cannot happen: every stop is at a chain start
            int32_t left = seg->length;
            for (int32_t slot = seg->first; left > 0 && pos < n_; slot = next_slot_[slot]) {
                int32_t take = left < chunk_ ? left : chunk_;
                if (take > n_ - pos) take = n_ - pos;
                std::memcpy(dst_ + pos, slot_data(slot, copy), size_t(take));
                pos += take;
                left -= take;
            }
            row = seg->end;
            if (row == uint32_t(index) || pos >= n_) break;
        }
        // A cycle shorter than the block: the walk goes round it again.
        for (int32_t k = pos; k < n_ && pos > 0; ++k) dst_[k] = dst_[k - pos];
    }

  private:
    uint32_t entry(uint32_t row) const { return load32(entries_ + 3 * size_t(row)) & 0xFFFFFF; }
    void flag(uint32_t row) { entries_[3 * size_t(row) + 2] |= uint8_t(kFlag >> 16); }

    uint8_t* slot_data(int32_t slot, uint8_t* dst_copy) const {
        return slot < dst_slots_ ? dst_copy + size_t(slot) * size_t(chunk_)
                                 : spare_ + size_t(slot - dst_slots_) * size_t(chunk_);
    }

    bool take_slot(Lane& l) {
        if (free_slot_ >= slots_) return false;
        const int32_t slot = free_slot_++;
        next_slot_[slot] = -1;
        if (l.slot >= 0) next_slot_[l.slot] = slot;
        l.slot = slot;
        l.out = slot_data(slot, dst_);
        l.chunk_end = l.out + chunk_;
        return true;
    }

    bool start_chain(Lane& l, uint32_t row) {
        if (segments_ >= segment_cap_) return false;
        const int32_t id = segments_++;
        l.segment = id;
        l.slot = -1;
        take_slot(l);  // always available: see segment_cap_
        segment_[id] = {row, row, l.slot, 0};
        l.p = row;
        // The chain reads its own start entry before flagging it, so that
        // it does not stop at once.
        const uint32_t e = entry(row);
        flag(row);
        const uint32_t next = e & kRowMask;
        *l.out++ = L_[next];
        l.p = next;
        return true;
    }

    // One step: false when the chain reached a flagged entry.
    bool step(Lane& l) {
        const uint32_t e = entry(l.p);
        if (e & kFlag) return false;
        flag(l.p);
        const uint32_t next = e & kRowMask;
        if (l.out == l.chunk_end) take_slot(l);
        *l.out++ = L_[next];
        l.p = next;
        return true;
    }

    void finish(Lane& l) {
        Segment& seg = segment_[l.segment];
        seg.end = l.p;
        seg.length = int32_t(bytes_in(l));
        l.segment = -1;
    }

    // Bytes a lane produced: full chunks before the current one, plus the
    // current one's part.
    size_t bytes_in(const Lane& l) const {
        size_t count = 0;
        for (int32_t s = segment_[l.segment].first; s != l.slot; s = next_slot_[s])
            count += size_t(chunk_);
        return count + size_t(l.out - slot_data(l.slot, dst_));
    }

    uint32_t pick_stride() const {
        // Odd and not sharing a factor with n: the probes visit every row.
        uint32_t s = uint32_t(n_) / 7 * 3 + 1;
        while (gcd(s, uint32_t(n_)) != 1) ++s;
        return s;
    }
    static uint32_t gcd(uint32_t a, uint32_t b) {
        while (b) {
            const uint32_t t = a % b;
            a = b;
            b = t;
        }
        return a;
    }

    // A few probes for a row no chain has read yet; when they all meet
    // visited rows, most of the block is done and the lane stays idle while
    // the other chains finish the rest.
    bool find_start(Lane& l, uint32_t& cursor, uint32_t stride) {
        for (int t = 0; t < kProbes && segments_ < segment_cap_; ++t) {
            cursor += stride;
            if (cursor >= uint32_t(n_)) cursor -= uint32_t(n_);
            if (!(entry(cursor) & kFlag)) return start_chain(l, cursor);
        }
        return false;
    }

    const Segment* find_segment(uint32_t row) const {
        for (int32_t i = 0; i < segments_; ++i)
            if (segment_[i].start == row) return &segment_[i];
        return nullptr;
    }

    const uint8_t* L_;
    uint8_t* dst_;
    int32_t n_;
    uint8_t* entries_;
    uint8_t* spare_;
    int32_t chunk_ = 0, dst_slots_ = 0, spare_slots_ = 0, slots_ = 0;
    int32_t segment_cap_ = 0, segments_ = 0, free_slot_ = 0;
    int32_t next_slot_[kMaxSlots];
    Segment segment_[kMaxSegments];
};

}  // namespace

void inverse(const uint8_t* L, uint8_t* dst, int32_t n, int32_t index, uint8_t* work) {
    // The counters stay on the stack; the buffer's first 1024 bytes are
    // their reserved room.
    uint32_t C[256];
    uint8_t* const next = work + 1024;
    first_rows(L, n, C);
    if (n >= kMultiMin && n <= kMultiMax) {
        MultiWalk walk(L, dst, n, work);
        if (walk.usable()) {
            walk.build(C);
            walk.run(index);
            walk.assemble(index);
            return;
        }
    }
    if (n <= kPackedLimit)
        inverse_packed(L, dst, n, index, C, next);
    else
        inverse_plain(L, dst, n, index, C, next);
}

}  // namespace vek::bwt
