// Successor walk, one chain or many.
//
// One chain of dependent loads leaves the memory system idle between
// misses, so blocks of kMultiMin bytes up to 2^23 walk many chains at once.
// Before the walk a few hundred rows, spread over the block and always
// including the primary row, are marked as starts (bit 31 of their word,
// free while rows fit in 23 bits). Each chain runs from one start to the
// next marked row it meets, which is the following start on its cycle; the
// pieces it covers are disjoint and together cover every cycle holding a
// start, so no more than n bytes are produced in all. Sixteen lanes take
// the starts in turn and step round-robin, so their loads overlap.
//
// A lane writes its bytes into chunks handed out from the destination;
// when the destination is used up, a lane takes the unused end of another
// lane's chunk (free room always covers the bytes still to come). When the
// walk is over, the links are dead: the chunks move there and come back to
// the destination in cycle order, from the primary row's chain on; a cycle
// shorter than the block is repeated, as the one-chain walk does.
#include "bwt/successor_walk.h"

#include <cstddef>
#include <cstring>

#include "core/load.h"

namespace vek::bwt {
namespace {

constexpr int32_t kMultiMin = 1 << 16;
constexpr int32_t kMultiMax = 1 << 23;
constexpr uint32_t kStart = 1u << 31;
constexpr uint32_t kRowMask = (1u << 23) - 1;
constexpr int kLanes = 16;
constexpr int32_t kMaxStarts = 512;
constexpr int32_t kMaxPieces = 1024;

inline uint32_t word(const uint8_t* links, uint32_t row) {
    return load32(links + 4 * size_t(row));
}

template <LinkByte K>
void walk_one(const uint8_t* links, uint8_t* dst, int32_t n, uint32_t index) {
    uint32_t v = word(links, index);
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
        uint64_t w = 0;
        for (int s = 0; s < 8; ++s) {
            if constexpr (K == LinkByte::kOwn) {
                v = word(links, v >> 8);
                w |= uint64_t(v & 0xFF) << (8 * s);
            } else {
                w |= uint64_t(v & 0xFF) << (8 * s);
                v = word(links, v >> 8);
            }
        }
        std::memcpy(dst + k, &w, 8);
    }
    for (; k < n; ++k) {
        if constexpr (K == LinkByte::kOwn) {
            v = word(links, v >> 8);
            dst[k] = uint8_t(v);
        } else {
            dst[k] = uint8_t(v);
            v = word(links, v >> 8);
        }
    }
}

template <LinkByte K>
class MultiWalk {
  public:
    MultiWalk(uint8_t* links, uint8_t* dst, int32_t n, int32_t piece_limit)
        : links_(links), dst_(dst), n_(uint32_t(n)) {
        starts_ = n / 128 < kMaxStarts ? n / 128 : kMaxStarts;
        piece_limit_ = piece_limit < kMaxPieces ? piece_limit : kMaxPieces;
        // Half of the piece records stay free for the room lanes take from
        // each other at the end.
        chunk_ = 2048;
        while (n_ / chunk_ > uint32_t(kMaxPieces) / 2) chunk_ *= 2;
    }

    // False when the walk gave up (it cannot for links that form a
    // permutation); the links are then as they were.
    bool run(uint32_t index) {
        mark_starts(index);
        for (Lane& l : lanes_) l = Lane{0, nullptr, nullptr, -1, -1, 0, 0};
        for (Lane& l : lanes_)
            if (!refill(l)) return give_up();
        int active = 0;
        for (Lane& l : lanes_) {
            if (!start(l)) return give_up();
            active += l.seg >= 0;
        }
        // One step per lane per round: the lanes' loads are independent.
        while (active > 0) {
            for (Lane& l : lanes_) {
                if (l.seg < 0) continue;
                const uint32_t v = word(links_, l.p);
                if constexpr (K == LinkByte::kOwn) {
                    if (l.out == l.stop && !refill(l)) return give_up();
                    *l.out++ = uint8_t(v);
                }
                if (v & kStart) {
                    finish(l);
                    if (!start(l)) return give_up();
                    active -= l.seg < 0;
                    continue;
                }
                if constexpr (K == LinkByte::kSuccessor) {
                    if (l.out == l.stop && !refill(l)) return give_up();
                    *l.out++ = uint8_t(v);
                }
                l.p = v >> 8;
            }
        }
        assemble(index);
        return true;
    }

  private:
    struct Piece {
        uint32_t begin, end;  // bytes of the destination
        int32_t next;         // the lane's following piece
    };
    struct Segment {
        uint32_t start, end;  // start row, marked row the chain stopped at
        int32_t piece;        // piece and offset of the first byte
        uint32_t offset;
        uint32_t length;
    };
    struct Lane {
        uint32_t p;          // row whose word is read next
        uint8_t* out;        // next byte of the current piece
        uint8_t* stop;       // end of the current piece
        int32_t piece;       // current piece
        int32_t seg;         // current segment, -1: idle for good
        uint32_t base;       // bytes in the lane's earlier pieces
        uint32_t seg_begin;  // lane bytes before the current segment
    };

    void mark_starts(uint32_t index) {
        int32_t m = 0;
        bool placed = false;
        for (int32_t j = 0; j < starts_; ++j) {
            const uint32_t r = uint32_t(uint64_t(j) * n_ / uint32_t(starts_));
            if (!placed && index <= r) {
                placed = true;
                if (index < r) seg_[m++].start = index;
            }
            seg_[m++].start = r;
        }
        if (!placed) seg_[m++].start = index;
        segments_ = m;
        for (int32_t i = 0; i < segments_; ++i) links_[4 * size_t(seg_[i].start) + 3] |= 0x80;
    }

    bool give_up() {
        for (int32_t i = 0; i < segments_; ++i) links_[4 * size_t(seg_[i].start) + 3] &= 0x7F;
        return false;
    }

    uint32_t written(const Lane& l) const {
        return l.base + uint32_t(l.out - (dst_ + pieces_[l.piece].begin));
    }

    bool start(Lane& l) {
        if (next_seg_ == segments_) {
            l.seg = -1;
            return true;
        }
        const int32_t id = next_seg_++;
        Segment& s = seg_[id];
        l.seg = id;
        l.seg_begin = written(l);
        s.piece = l.piece;
        s.offset = uint32_t(l.out - (dst_ + pieces_[l.piece].begin));
        const uint32_t v = word(links_, s.start);
        if constexpr (K == LinkByte::kSuccessor) {
            if (l.out == l.stop && !refill(l)) return false;
            *l.out++ = uint8_t(v);
        }
        l.p = (v >> 8) & kRowMask;
        return true;
    }

    void finish(Lane& l) {
        Segment& s = seg_[l.seg];
        s.end = l.p;
        s.length = written(l) - l.seg_begin;
    }

    // A new piece for the lane: fresh destination room while it lasts,
    // then the unused end of another lane's piece (all of an idle lane's,
    // half of a busy lane's).
    bool refill(Lane& l) {
        if (l.piece >= 0) {
            Piece& old = pieces_[l.piece];
            old.end = uint32_t(l.out - dst_);
            l.base += old.end - old.begin;
        }
        if (pieces_used_ >= piece_limit_) return false;
        uint32_t b, e;
        if (top_ < n_) {
            b = top_;
            e = n_ - top_ < chunk_ ? n_ : top_ + chunk_;
            top_ = e;
        } else {
            Lane* idle = nullptr;
            Lane* busy = nullptr;
            for (Lane& o : lanes_) {
                if (&o == &l || o.piece < 0) continue;
                const std::ptrdiff_t room = o.stop - o.out;
                if (o.seg < 0) {
                    if (room > 0 && (!idle || room > idle->stop - idle->out)) idle = &o;
                } else if (room >= 2 && (!busy || room > busy->stop - busy->out)) {
                    busy = &o;
                }
            }
            if (idle) {
                b = uint32_t(idle->out - dst_);
                e = uint32_t(idle->stop - dst_);
                idle->stop = idle->out;
            } else if (busy) {
                uint8_t* const mid = busy->out + (busy->stop - busy->out) / 2;
                b = uint32_t(mid - dst_);
                e = uint32_t(busy->stop - dst_);
                busy->stop = mid;
            } else {
                return false;
            }
        }
        const int32_t k = pieces_used_++;
        pieces_[k] = {b, e, -1};
        if (l.piece >= 0) pieces_[l.piece].next = k;
        l.piece = k;
        l.out = dst_ + b;
        l.stop = dst_ + e;
        return true;
    }

    const Segment* find(uint32_t row) const {
        int32_t lo = 0, hi = segments_;
        while (lo < hi) {
            const int32_t mid = (lo + hi) / 2;
            if (seg_[mid].start < row)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo < segments_ && seg_[lo].start == row ? &seg_[lo] : nullptr;
    }

    void assemble(uint32_t index) {
        uint8_t* const copy = links_;
        std::memcpy(copy, dst_, n_);
        uint32_t pos = 0;
        uint32_t row = index;
        do {
            const Segment* s = find(row);
            if (!s) break;  // cannot happen: chains stop at starts only
            uint32_t left = s->length;
            int32_t piece = s->piece;
            uint32_t off = s->offset;
            while (left > 0 && pos < n_ && piece >= 0) {
                const Piece& p = pieces_[piece];
                uint32_t take = p.end - p.begin - off;
                if (take > left) take = left;
                if (take > n_ - pos) take = n_ - pos;
                std::memcpy(dst_ + pos, copy + p.begin + off, take);
                pos += take;
                left -= take;
                off = 0;
                piece = p.next;
            }
            row = s->end;
        } while (row != index && pos < n_);
        // A cycle shorter than the block: the walk goes round it again.
        for (uint32_t done = pos; pos > 0 && done < n_;) {
            const uint32_t c = done < n_ - done ? done : n_ - done;
            std::memcpy(dst_ + done, dst_, c);
            done += c;
        }
    }

    uint8_t* links_;
    uint8_t* dst_;
    uint32_t n_;
    uint32_t chunk_ = 0, top_ = 0;
    int32_t starts_ = 0, segments_ = 0, next_seg_ = 0, pieces_used_ = 0, piece_limit_ = 0;
    Lane lanes_[kLanes];
    Piece pieces_[kMaxPieces];
    Segment seg_[kMaxStarts + 1];
};

template <LinkByte K>
bool walk(uint8_t* links, uint8_t* dst, int32_t n, uint32_t index, int32_t piece_limit) {
    if (n >= kMultiMin && n <= kMultiMax) {
        MultiWalk<K> w(links, dst, n, piece_limit);
        if (w.run(index)) return true;
    }
    walk_one<K>(links, dst, n, index);
    return false;
}

}  // namespace

void walk_successors(uint8_t* links, uint8_t* dst, int32_t n, uint32_t index, LinkByte kind) {
    walk_successors_limited(links, dst, n, index, kind, kMaxPieces);
}

bool walk_successors_limited(uint8_t* links, uint8_t* dst, int32_t n, uint32_t index, LinkByte kind,
                             int32_t piece_limit) {
    if (kind == LinkByte::kOwn) return walk<LinkByte::kOwn>(links, dst, n, index, piece_limit);
    return walk<LinkByte::kSuccessor>(links, dst, n, index, piece_limit);
}

void walk_successors_plain(const uint8_t* links, uint8_t* dst, int32_t n, uint32_t index,
                           LinkByte kind) {
    if (kind == LinkByte::kOwn)
        walk_one<LinkByte::kOwn>(links, dst, n, index);
    else
        walk_one<LinkByte::kSuccessor>(links, dst, n, index);
}

}  // namespace vek::bwt
