// Successor walk, one chain or many.
//
// One chain of dependent loads leaves the memory system idle between
// misses, so blocks of kMultiMin bytes up to 2^23 walk many chains at once.
// Before the walk a few hundred rows, spread over the block and always
// including the primary row, are marked as starts (bit 31 of their word,
// free while rows fit in 23 bits). Each chain runs from one start to the
// next marked row it meets, which is the following start on its cycle; the
// pieces it covers are disjoint and together cover every cycle holding a
// start, so no more than n bytes are produced in all. Twenty-four lanes take
// the starts in turn and step round-robin, so their loads overlap.
//
// A lane writes its bytes into chunks handed out from the destination;
// when the destination is used up, a lane takes the unused end of another
// lane's chunk (free room always covers the bytes still to come). When the
// walk is over, the links are dead: the chunks move there and come back to
// the destination in cycle order, from the primary row's chain on; a cycle
// shorter than the block is repeated, as the one-chain walk does.
//
// The inverse transform of a last column made of few runs of equal bytes
// skips the links altogether: inside a run the successor rows advance by a
// fixed stride, so the lanes read a small table of runs and emit many bytes
// per move (see RunGraph).
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
constexpr int kLanes = 24;
constexpr int32_t kMaxStarts = 512;
constexpr int32_t kMaxPieces = 1024;
// A last column walks from its runs when it has at most one per this many
// rows (the run table then stays small beside the block).
constexpr uint32_t kRunsPerRow = 32;
// Moves of fewer bytes than this, on average over the first kProbeMoves,
// make the walk from runs count rows only for moves of more than one.
constexpr uint32_t kProbeMoves = 4096;
constexpr uint32_t kShortMove = 4;

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

// Start rows of the many chains, ascending: `starts` rows spread evenly
// over the block, and the primary row. Returns their number.
int32_t spread_starts(uint32_t n, uint32_t index, uint32_t* rows) {
    const int32_t starts = n / 128 < uint32_t(kMaxStarts) ? int32_t(n / 128) : kMaxStarts;
    int32_t m = 0;
    bool placed = false;
    for (int32_t j = 0; j < starts; ++j) {
        const uint32_t r = uint32_t(uint64_t(j) * n / uint32_t(starts));
        if (!placed && index <= r) {
            placed = true;
            if (index < r) rows[m++] = index;
        }
        rows[m++] = r;
    }
    if (!placed) rows[m++] = index;
    return m;
}

// The links as the caller laid them out; start marks go into bit 31 of
// their words, and the links become the room in which the chains' pieces
// are put in order.
class LinkGraph {
  public:
    static constexpr bool kRuns = false;
    static constexpr bool kFreeRoom = false;  // the room is the links
    explicit LinkGraph(uint8_t* links) : links_(links) {}
    uint32_t word(uint32_t row) const { return vek::bwt::word(links_, row); }
    void mark(uint32_t row) { links_[4 * size_t(row) + 3] |= 0x80; }
    void unmark(uint32_t row) { links_[4 * size_t(row) + 3] &= 0x7F; }
    uint8_t* room() { return links_; }
    const uint8_t* links() const { return links_; }

  private:
    uint8_t* links_;
};

enum class Step { kOk, kStalled, kFailed };

template <LinkByte K, class Graph>
class MultiWalk {
  public:
    MultiWalk(const Graph& graph, uint8_t* dst, int32_t n, int32_t piece_limit)
        : graph_(graph), dst_(dst), out_(Graph::kFreeRoom ? graph_.room() : dst), n_(uint32_t(n)) {
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
            if (refill(l) != Step::kOk) return give_up();
        for (Lane& l : lanes_)
            if (start(l) != Step::kOk) return give_up();
        if constexpr (Graph::kRuns)
            if (moves() == Step::kFailed) return give_up();
        int active = 0;
        for (const Lane& l : lanes_) active += l.seg >= 0;
        if constexpr (!Graph::kRuns) {
            if (!link_rounds(active)) return give_up();
            assemble(index);
            return true;
        }
        // One step per lane per round: the lanes' loads are independent. A
        // lane without room waits for others to finish; free room always
        // covers the bytes still to come, so some lane can go on.
        while (active > 0) {
            bool moved = false;
            for (Lane& l : lanes_) {
                if (l.seg < 0) continue;
                const Step r = step(l);
                if (r == Step::kFailed) return give_up();
                moved |= r == Step::kOk;
                active -= l.seg < 0;
            }
            if (!moved) return give_up();
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

    // One step of a lane with every check: the mark that ends its segment,
    // the room left in its piece. A stalled step changed nothing and is
    // repeated later (at a mark, finishing the segment again records the
    // same end).
    Step step(Lane& l) {
        const uint32_t v = graph_.word(l.p);
        if constexpr (K == LinkByte::kOwn) {
            if (l.out == l.stop) {
                const Step r = refill(l);
                if (r != Step::kOk) return r;
            }
            *l.out++ = uint8_t(v);
        }
        if (v & kStart) {
            finish(l);
            return start(l);
        }
        if constexpr (K == LinkByte::kSuccessor) {
            if (l.out == l.stop) {
                const Step r = refill(l);
                if (r != Step::kOk) return r;
            }
            *l.out++ = uint8_t(v);
        }
        l.p = v >> 8;
        return Step::kOk;
    }

    // The walk through the links, in batches of rounds: the busy lanes
    // with room step together for as many rounds as the smallest room
    // allows, or until one meets a mark. Inside a batch a step is a load,
    // a test, a store: the lanes' rows and output live in local arrays
    // (the byte stores cannot touch them), and the room is checked once per
    // batch. Lanes out of room and lanes at a mark take checked steps
    // between batches; a lane without room waits for others to finish
    // (free room always covers the bytes still to come, so some lane can
    // go on). False when the walk must give up.
    bool link_rounds(int active) {
        const uint8_t* const links = graph_.links();
        while (active > 0) {
            Lane* lane[kLanes];
            uint32_t p[kLanes];
            uint8_t* out[kLanes];
            int m = 0;
            uint32_t rounds = ~0u;
            bool moved = false;
            // Checked steps first: one that takes new room may take it from
            // another lane's piece, so the rooms are read only afterwards.
            for (Lane& l : lanes_) {
                if (l.seg < 0 || l.out != l.stop) continue;
                const Step r = step(l);
                if (r == Step::kFailed) return false;
                moved |= r == Step::kOk;
                active -= l.seg < 0;
            }
            for (Lane& l : lanes_) {
                if (l.seg < 0 || l.out == l.stop) continue;
                const uint32_t room = uint32_t(l.stop - l.out);
                rounds = room < rounds ? room : rounds;
                lane[m] = &l;
                p[m] = l.p;
                out[m] = l.out;
                ++m;
            }
            if (m == 0) {
                if (!moved && active > 0) return false;
                continue;
            }
            // Lanes before `hit` did round j, the others not yet.
            uint32_t j = 0;
            int hit = -1;
            for (; j < rounds; ++j) {
                for (int q = 0; q < m; ++q) {
                    const uint32_t v = vek::bwt::word(links, p[q]);
                    if constexpr (K == LinkByte::kOwn) out[q][j] = uint8_t(v);
                    if (v & kStart) {
                        hit = q;
                        goto batch_end;
                    }
                    if constexpr (K == LinkByte::kSuccessor) out[q][j] = uint8_t(v);
                    p[q] = v >> 8;
                }
            }
        batch_end:
            for (int q = 0; q < m; ++q) {
                lane[q]->p = p[q];
                lane[q]->out = out[q] + j + (q < hit);
            }
            if (hit >= 0) {
                // The marked row's step again, checked: it ends the segment.
                Lane& l = *lane[hit];
                if (step(l) == Step::kFailed) return false;
                active -= l.seg < 0;
            }
        }
        return true;
    }

    // Moves of the lanes through a graph of runs while every lane is busy.
    // Inside a piece a lane goes on by the piece's stride and emits the
    // piece's byte at every row; all the rows it meets inside the piece
    // are one move, its bytes one fill. Marks and full pieces take checked
    // steps. Ends when every lane is idle, or one waits for room.
    Step moves() {
        // The count of a move's rows is a division; it runs on every move
        // (no branch to mispredict) unless the first kProbeMoves moves were
        // mostly of one row, where skipping it for those is cheaper.
        uint32_t moved = 0, bytes = 0;
        bool short_moves = false;
        int active = 0;
        for (const Lane& l : lanes_) active += l.seg >= 0;
        while (active > 0) {
            for (Lane& l : lanes_) {
                if (l.seg < 0) continue;
                const typename Graph::Run run = graph_.run(l.p);
                const uint32_t stride = uint32_t(int32_t(run.base) >> 8);
                const uint32_t next = l.p + stride;
                if (next >= n_ || l.out == l.stop) {
                    const Step r = step(l);
                    if (r != Step::kOk) return r;
                    active -= l.seg < 0;
                    continue;
                }
                // Rows l.p + j * stride for j < k stay inside; k is 1 when
                // the next row is outside. Either sign, without a branch (a
                // stride of 0, a fixed point, is a start row: a mark).
                uint32_t k = 1;
                if (!short_moves || next - run.first < run.end - run.first) {
                    // All ones for a stride down; masks, not a branch on
                    // the sign (either is as likely).
                    const uint32_t down = uint32_t(int32_t(stride) >> 31);
                    const uint32_t span =
                        ((run.end - 1 - l.p) & ~down) | ((l.p - run.first) & down);
                    const uint32_t size = (stride ^ down) - down;
                    k = span / (size | (size == 0)) + 1;
                }
                const uint32_t room = uint32_t(l.stop - l.out);
                if (k > room) k = room;
                fill(l.out, uint8_t(run.base), k, room);
                l.out += k;
                l.p += k * stride;
                bytes += k;
                if (++moved == kProbeMoves) short_moves = bytes < kProbeMoves * kShortMove;
            }
        }
        return Step::kOk;
    }

    // k copies of b at out, where `room` bytes are the lane's own: 128
    // bytes, then whole blocks of 64, when they fit (fixed-size stores, no
    // call; most moves need no more).
    static void fill(uint8_t* out, uint8_t b, uint32_t k, uint32_t room) {
        if (room - k >= 127) {
            std::memset(out, b, 128);
            for (uint32_t j = 128; j < k; j += 64) std::memset(out + j, b, 64);
        } else {
            std::memset(out, b, k);
        }
    }

    void mark_starts(uint32_t index) {
        uint32_t rows[kMaxStarts + 1];
        segments_ = spread_starts(n_, index, rows);
        for (int32_t i = 0; i < segments_; ++i) {
            seg_[i].start = rows[i];
            graph_.mark(rows[i]);
        }
    }

    bool give_up() {
        for (int32_t i = 0; i < segments_; ++i) graph_.unmark(seg_[i].start);
        return false;
    }

    uint32_t written(const Lane& l) const {
        return l.base + uint32_t(l.out - (out_ + pieces_[l.piece].begin));
    }

    Step start(Lane& l) {
        if (next_seg_ == segments_) {
            l.seg = -1;
            return Step::kOk;
        }
        // Room for the first byte before the segment is taken.
        if (K == LinkByte::kSuccessor && l.out == l.stop) {
            const Step r = refill(l);
            if (r != Step::kOk) return r;
        }
        const int32_t id = next_seg_++;
        Segment& s = seg_[id];
        l.seg = id;
        l.seg_begin = written(l);
        s.piece = l.piece;
        s.offset = uint32_t(l.out - (out_ + pieces_[l.piece].begin));
        const uint32_t v = graph_.word(s.start);
        if constexpr (K == LinkByte::kSuccessor) *l.out++ = uint8_t(v);
        l.p = (v >> 8) & kRowMask;
        return Step::kOk;
    }

    void finish(Lane& l) {
        Segment& s = seg_[l.seg];
        s.end = l.p;
        s.length = written(l) - l.seg_begin;
    }

    // A new piece for the lane: fresh destination room while it lasts,
    // then the unused end of another lane's piece (all of an idle lane's,
    // half of a busy lane's). Stalled when no lane has room to spare now.
    Step refill(Lane& l) {
        if (pieces_used_ >= piece_limit_) return Step::kFailed;
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
                b = uint32_t(idle->out - out_);
                e = uint32_t(idle->stop - out_);
                idle->stop = idle->out;
            } else if (busy) {
                uint8_t* const mid = busy->out + (busy->stop - busy->out) / 2;
                b = uint32_t(mid - out_);
                e = uint32_t(busy->stop - out_);
                busy->stop = mid;
            } else {
                return Step::kStalled;
            }
        }
        const int32_t k = pieces_used_++;
        pieces_[k] = {b, e, -1};
        if (l.piece >= 0) {
            Piece& old = pieces_[l.piece];
            old.end = uint32_t(l.out - out_);
            l.base += old.end - old.begin;
            old.next = k;
        }
        l.piece = k;
        l.out = out_ + b;
        l.stop = out_ + e;
        return Step::kOk;
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
        uint8_t* const copy = graph_.room();
        if (copy != out_) std::memcpy(copy, out_, n_);
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

    Graph graph_;
    uint8_t* dst_;
    uint8_t* out_;  // where the lanes' pieces lie: the destination, or free room
    uint32_t n_;
    uint32_t chunk_ = 0, top_ = 0;
    int32_t segments_ = 0, next_seg_ = 0, pieces_used_ = 0, piece_limit_ = 0;
    Lane lanes_[kLanes];
    Piece pieces_[kMaxPieces];
    Segment seg_[kMaxStarts + 1];
};

// Successor rows of a last column made of few runs of equal bytes. Rows
// with first byte c are the occurrences of c in L, in order, so the rows
// that lead into one run of L lead to its positions one by one: row r of
// such a piece goes to r + stride and emits the run's byte. One piece per
// run (base = stride << 8 | byte, so a row's word is (r << 8) + base)
// stands in for the vector of links. A row's piece is found from a hint
// per 16 rows (the piece holding the first of them) and a short scan.
//
// Start rows are pieces of their own whose stride leads to row n, past the
// block: the moves see a mark there. The checked word of a start row is
// its true word with the mark, from a table of the start rows.
class RunGraph {
  public:
    static constexpr bool kRuns = true;
    static constexpr bool kFreeRoom = true;
    struct Piece {
        uint32_t first;  // first row
        uint32_t base;   // unchecked word of row r: (r << 8) + base
    };
    static constexpr int kHintShift = 4;

    RunGraph(const Piece* pieces, const uint32_t* hints, uint32_t n, const uint32_t* starts,
             const uint32_t* start_words, int32_t start_count, uint8_t* room)
        : pieces_(pieces),
          hints_(hints),
          n_(n),
          starts_(starts),
          start_words_(start_words),
          start_count_(start_count),
          room_(room) {}
    struct Run {
        uint32_t first, end, base;
    };
    Run run(uint32_t row) const {
        uint32_t i = hints_[row >> kHintShift];
        i += row >= pieces_[i + 1].first;
        while (row >= pieces_[i + 1].first) ++i;
        return {pieces_[i].first, pieces_[i + 1].first, pieces_[i].base};
    }
    uint32_t word(uint32_t row) const {
        const uint32_t v = (row << 8) + run(row).base;
        if ((v >> 8) < n_) return v;
        int32_t lo = 0, hi = start_count_ - 1;
        while (lo < hi) {
            const int32_t mid = (lo + hi) / 2;
            if (starts_[mid] < row)
                lo = mid + 1;
            else
                hi = mid;
        }
        return start_words_[lo] | kStart;
    }
    void mark(uint32_t) {}  // marked when built
    void unmark(uint32_t) {}
    uint8_t* room() { return room_; }

  private:
    const Piece* pieces_;
    const uint32_t* hints_;
    uint32_t n_;
    const uint32_t* starts_;
    const uint32_t* start_words_;
    int32_t start_count_;
    uint8_t* room_;
};

template <typename T>
T* aligned(uint8_t* p) {
    return reinterpret_cast<T*>(p + (-reinterpret_cast<uintptr_t>(p) & 63));
}

template <LinkByte K>
bool walk(uint8_t* links, uint8_t* dst, int32_t n, uint32_t index, int32_t piece_limit) {
    if (n >= kMultiMin && n <= kMultiMax) {
        MultiWalk<K, LinkGraph> w(LinkGraph(links), dst, n, piece_limit);
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

bool walk_column_runs(const uint8_t* L, uint8_t* dst, int32_t n, uint32_t index, uint8_t* work) {
    if (n < kMultiMin || n > kMultiMax) return false;
    const uint32_t N = uint32_t(n);
    const uint32_t max_runs = N / kRunsPerRow;
    // Run starts, then the pieces, the hints and the room for the chains'
    // pieces: under 2 n bytes of the 4 n given. (Little-endian loads: byte b
    // of a word is L[i + b].)
    uint32_t* const run_first = aligned<uint32_t>(work);
    uint32_t runs = 1;
    run_first[0] = 0;
    // Byte b of x is not zero where L[at + b] starts a run.
    auto take = [&](uint64_t x, uint32_t at) {
        while (x) {
            const int bit = __builtin_ctzll(x);
            if (runs >= max_runs) return false;
            run_first[runs++] = at + uint32_t(bit / 8);
            x &= ~(uint64_t(0xFF) << (bit & 56));
        }
        return true;
    };
    uint32_t i = 1;
    for (; i + 64 <= N; i += 64) {
        uint64_t x[8], any = 0;
        for (int w = 0; w < 8; ++w) {
            x[w] = load64(L + i + 8 * w) ^ load64(L + i + 8 * w - 1);
            any |= x[w];
        }
        if (any == 0) continue;
        for (int w = 0; w < 8; ++w)
            if (!take(x[w], i + 8 * uint32_t(w))) return false;
    }
    for (; i + 8 <= N; i += 8)
        if (!take(load64(L + i) ^ load64(L + i - 1), i)) return false;
    for (; i < N; ++i)
        if (L[i] != L[i - 1]) {
            if (runs >= max_runs) return false;
            run_first[runs++] = i;
        }
    run_first[runs] = N;

    // Rows with first byte c are the occurrences of c in L, in order: the
    // runs sorted stably by their byte give the rows run by run.
    uint32_t* const order = run_first + runs + 1;
    uint32_t at_byte[256] = {};
    for (uint32_t j = 0; j < runs; ++j) ++at_byte[L[run_first[j]]];
    for (uint32_t c = 0, sum = 0; c < 256; ++c) {
        const uint32_t count = at_byte[c];
        at_byte[c] = sum;
        sum += count;
    }
    for (uint32_t j = 0; j < runs; ++j) order[at_byte[L[run_first[j]]]++] = j;

    uint32_t starts[kMaxStarts + 1], start_words[kMaxStarts + 1];
    const int32_t start_count = spread_starts(N, index, starts);
    using Piece = RunGraph::Piece;
    Piece* const pieces = aligned<Piece>(reinterpret_cast<uint8_t*>(order + runs));
    uint32_t m = 0, row = 0;
    int32_t next_start = 0;
    for (uint32_t k = 0; k < runs; ++k) {
        const uint32_t j = order[k];
        const uint32_t first = run_first[j], end = row + run_first[j + 1] - first;
        // Row r (from `row` on) goes to L position first + (r - row), whose
        // byte is the run's.
        const uint32_t base = ((first - row) << 8) + L[first];
        for (; next_start < start_count && starts[next_start] < end; ++next_start) {
            const uint32_t r = starts[next_start];
            if (r > row) pieces[m++] = {row, base};
            pieces[m++] = {r, (N - r) << 8};
            start_words[next_start] = (r << 8) + base;
            row = r + 1;
        }
        if (row < end) pieces[m++] = {row, base};
        row = end;
    }
    // Row n leads to itself; the last piece ends every scan.
    pieces[m] = {N, 0};
    pieces[m + 1] = {~0u, 0};

    uint32_t* const hints = aligned<uint32_t>(reinterpret_cast<uint8_t*>(pieces + m + 2));
    const uint32_t blocks = (N >> RunGraph::kHintShift) + 1;  // up to row n
    // Piece k holds the first rows of the blocks up to the one holding its
    // end (the last piece, from row n on, ends at 2^32 - 1).
    constexpr uint32_t kBlockRows = 1u << RunGraph::kHintShift;
    for (uint32_t k = 0, b = 0; b < blocks; ++k) {
        const uint64_t end =
            (uint64_t(pieces[k + 1].first) + kBlockRows - 1) >> RunGraph::kHintShift;
        const uint32_t last = end < blocks ? uint32_t(end) : blocks;
        for (; b < last; ++b) hints[b] = k;
    }
    uint8_t* const room = aligned<uint8_t>(reinterpret_cast<uint8_t*>(hints + blocks));
    const RunGraph graph(pieces, hints, N, starts, start_words, start_count, room);
    MultiWalk<LinkByte::kSuccessor, RunGraph> w(graph, dst, n, kMaxPieces);
    return w.run(index);
}

void walk_successors_plain(const uint8_t* links, uint8_t* dst, int32_t n, uint32_t index,
                           LinkByte kind) {
    if (kind == LinkByte::kOwn)
        walk_one<LinkByte::kOwn>(links, dst, n, index);
    else
        walk_one<LinkByte::kSuccessor>(links, dst, n, index);
}

}  // namespace vek::bwt
