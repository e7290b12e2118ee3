// High-compression LZ4 encoder.
//
// Every position of the source is entered into a hash chain (head table by
// 15-bit hash, chain table by position mod 65536), each search walks a chain
// for up to 2^(level-1) candidates, and the parse looks at up to three
// overlapping matches before deciding where sequences start. Everything is
// done in the history coordinate (source byte i has position src_idx + i),
// so the tables carry positions from call to call.
//
// The prefix engine reads the history straight from memory before the
// source. The dictionary engine sees the same coordinate through two
// segments: positions below src_idx come from the end of the dictionary,
// the rest from the source, and matches and backward extensions run across
// the seam as if the dictionary lay right before the source.
#include "lz4/lz4_hc.h"

#include <cstddef>

#include "lz4/lz4_common.h"

namespace vek::lz4 {
namespace {

constexpr int32_t kMaxDistance = 65534;  // a candidate is fewer than 65535 back
constexpr int32_t kOptimalMl = 18;       // preferred cut of a first match overlapped by a second
constexpr int32_t kMfLimit = 13;         // no search starts within the last 13 bytes
constexpr int32_t kLastLiterals = 5;     // no match reaches into the last 5 bytes

template <bool kDict>
class HcEncoder {
  public:
    HcEncoder(const uint8_t* src, int32_t src_idx, int32_t src_len, uint8_t* dst, int32_t cap,
              uint8_t** tables, const uint8_t* dict, int32_t dict_len, int32_t level)
        : src_(src),
          src_idx_(src_idx),
          dict_end_(kDict ? dict + dict_len : nullptr),
          floor_(kDict && src_idx > dict_len ? src_idx - dict_len : 0),
          low_(floor_ > 1 ? floor_ : 1),
          head_(reinterpret_cast<int32_t*>(tables[0])),
          chain_(reinterpret_cast<int32_t*>(tables[1])),
          attempts_(int32_t{1} << (level - 1)),
          cursor_(src_idx),
          mflimit_(src_idx + src_len - kMfLimit),
          matchlimit_(src_idx + src_len - kLastLiterals),
          end_(src_idx + src_len),
          anchor_(src_idx),
          op_(dst),
          oend_(dst + (cap > 0 ? cap : 0)) {}

    // Runs the parse; on success returns true with the block in [dst, op_).
    bool encode();
    uint8_t* op() const { return op_; }

  private:
    // Address of position x.
    const uint8_t* at(int32_t x) const {
        if constexpr (kDict) {
            if (x < src_idx_) return dict_end_ - (src_idx_ - x);
        }
        return src_ + (x - src_idx_);
    }

    // Enters positions from the cursor up to p - 1, reads the chain start for
    // p, then enters p itself. p's own entry is never the start of its walk;
    // when p was already entered by an earlier search, the head holds p or a
    // later position and the walk ends at once.
    int32_t insert_and_head(int32_t p) {
        if (cursor_ < p) {
            const uint8_t* s = at(cursor_);
            for (int32_t x = cursor_; x < p; ++x, ++s) {
                const uint32_t h = hash4(s);
                chain_[x & 0xFFFF] = head_[h];
                head_[h] = x;
            }
            cursor_ = p;
        }
        const uint32_t h = hash4(at(p));
        const int32_t first = head_[h];
        if (cursor_ == p) {
            chain_[p & 0xFFFF] = first;
            head_[h] = p;
            cursor_ = p + 1;
        }
        return first;
    }

    // A chain entry that ends the walk from p: empty (<= 0), outside the
    // dictionary, not before p, or too far back.
    bool ends_walk(int32_t c, int32_t p) const {
        return c < low_ || c >= p || p - c > kMaxDistance;
    }

    // Common length of positions p (in the source) and c < p, at most limit.
    int32_t forward(int32_t p, int32_t c, int32_t limit) const {
        const uint8_t* a = at(p);
        if constexpr (kDict) {
            if (c < src_idx_) {
                const int32_t seg = src_idx_ - c;  // dictionary bytes from c on
                const uint8_t* b = dict_end_ - seg;
                if (limit <= seg) return common_prefix(a, b, limit);
                const int32_t n = common_prefix(a, b, seg);
                if (n < seg) return n;
                return seg + common_prefix(a + seg, src_, limit - seg);
            }
        }
        return common_prefix(a, at(c), limit);
    }

    // How many bytes before q (in the source) equal those before c, at most
    // limit; the caller keeps c - limit inside the history.
    int32_t backward(int32_t q, int32_t c, int32_t limit) const {
        const uint8_t* a = at(q);
        if constexpr (kDict) {
            if (c <= src_idx_) return common_suffix(a, dict_end_ - (src_idx_ - c), limit);
            const int32_t seg = c - src_idx_;  // source bytes before c
            if (limit > seg) {
                const int32_t n = common_suffix(a, src_ + seg, seg);
                if (n < seg) return n;
                return seg + common_suffix(a - seg, dict_end_, limit - seg);
            }
        }
        // Bytes before c (and so before q) that are one piece of memory may
        // be read beyond the limit: short counts take one 8-byte compare.
        // That is the whole history in prefix mode, the source before c in
        // dictionary mode.
        return common_suffix(a, at(c), limit, kDict ? c - src_idx_ : c - floor_);
    }

    // Four-byte screen at offset `off` from a (in the source) and c. Only a
    // necessary condition for a longer match, so a window that straddles the
    // dictionary's end simply passes and the candidate is measured.
    bool screen(int32_t a, int32_t c, int32_t off) const {
        const int32_t x = c + off;
        if constexpr (kDict) {
            if (x < src_idx_ && x + 4 > src_idx_) return true;
        }
        return load32(at(a + off)) == load32(at(x));
    }

    // The run of equal bytes around p: `back` bytes before p and `fwd`
    // bytes from p on (at most the forward limit; 0 when that is) equal p's
    // byte. A candidate c inside it (p - c <= back) matches p forward for
    // exactly fwd bytes and backward for exactly back - (p - c) bytes (or up
    // to the limits), so a run's candidates are measured without comparing.
    // Prefix mode only, where the history is one piece of memory; wider
    // searches whose byte before p differs walk without the run tests.
    struct Run {
        int32_t back = 0;
        int32_t fwd = 0;
    };
    bool in_run(int32_t p) const {
        if constexpr (kDict) return false;
        return p > floor_ && at(p)[-1] == at(p)[0];
    }
    Run measure_run(int32_t p, int32_t limit) const {
        const uint8_t* a = at(p);
        Run run;
        run.fwd = limit < 1 ? 0 : 1 + common_prefix(a, a + 1, limit - 1);
        run.back = common_suffix(a + 1, a, p - floor_, p - floor_);
        return run;
    }

    // Search 1: the longest match at ip (the first found wins ties); below 4
    // means none. (Runs are left to the wider searches, where the parse
    // spends its time inside them.)
    int32_t best_match(int32_t ip, int32_t* ref) {
        int32_t c = insert_and_head(ip);
        int32_t best = 3;
        const int32_t limit = matchlimit_ - ip;
        for (int32_t n = attempts_; n > 0 && !ends_walk(c, ip); --n) {
            if (screen(ip, c, best - 3)) {
                const int32_t len = forward(ip, c, limit);
                if (len > best) {
                    best = len;
                    *ref = c;
                    if (len == limit) break;  // nothing can be longer
                }
            }
            c = chain_[c & 0xFFFF];
        }
        return best;
    }

    // Wider match at q: a match longer than `best` that covers q and may start
    // as far back as `lowlim`. Returns the best length (at least `best`).
    int32_t wider_match(int32_t q, int32_t lowlim, int32_t best, int32_t* start, int32_t* ref) {
        const int32_t c = insert_and_head(q);
        const int32_t fwd_limit = matchlimit_ - q;
        if (in_run(q))
            return wider_walk<true>(q, c, lowlim, best, measure_run(q, fwd_limit), start, ref);
        return wider_walk<false>(q, c, lowlim, best, Run{}, start, ref);
    }
    template <bool kRun>
    int32_t wider_walk(int32_t q, int32_t c, int32_t lowlim, int32_t best, Run run, int32_t* start,
                       int32_t* ref) const {
        const int32_t fwd_limit = matchlimit_ - q;
        // Past matchlimit candidates would be measured forward only; the
        // parse never searches there (q < mflimit), the rule is kept anyway.
        const bool forward_only = q + 1 > matchlimit_;
        // No candidate can reach back further than lowlim or on past
        // matchlimit: once the best is that long the walk cannot improve it.
        const int32_t longest = (forward_only ? 0 : q - lowlim) + fwd_limit;
        for (int32_t n = attempts_; n > 0 && best < longest && !ends_walk(c, q); --n) {
            const bool inRun = kRun && q - c <= run.back;
            int32_t back = 0;
            if (!forward_only) {
                const int32_t a = q - lowlim, b = c - floor_;
                const int32_t lim = a < b ? a : b;
                if (inRun) {
                    const int32_t r = run.back - (q - c);
                    back = r < lim ? r : lim;
                } else {
                    back = backward(q, c, lim);
                }
            }
            const int32_t s = q - back;
            // A start this close to matchlimit cannot beat `best`, and it
            // ends the whole walk, not just this candidate: later candidates
            // are not looked at even if they would extend back less far.
            if (s + best >= matchlimit_) break;
            if (screen(s, c - back, best - 3)) {
                const int32_t len = back + (inRun ? run.fwd : forward(q, c, fwd_limit));
                if (len > best) {
                    best = len;
                    *start = s;
                    *ref = c - back;
                }
            }
            c = chain_[c & 0xFFFF];
        }
        return best;
    }

    // One sequence: literals from the anchor to ip, then ml bytes at ref.
    // Fails without writing when any byte would reach the output end.
    bool emit(int32_t ip, int32_t ml, int32_t ref) {
        const int32_t lit = ip - anchor_;
        // In 64 bits: a literal run near INT32_MAX would wrap the sum.
        const int64_t need = int64_t{1} + ext_bytes(lit) + lit + 2 + ext_bytes(ml - kMinMatch);
        const int64_t room = oend_ - op_;
        if (need > room) return false;
        const uint8_t* l = at(anchor_);
        const uint32_t off = static_cast<uint32_t>(ip - ref);
        // Whole 8-byte literal units overrun the literals by at most 7
        // bytes, which the offset and what follows it always overwrite.
        op_ = room >= need + 8 ? emit_sequence<8>(op_, l, lit, ml, off)
                               : emit_sequence<0>(op_, l, lit, ml, off);
        anchor_ = ip + ml;
        return true;
    }

    bool emit_last() {
        const int32_t lit = end_ - anchor_;
        if (int64_t{1} + ext_bytes(lit) + lit > oend_ - op_) return false;
        op_ = emit_last_literals(op_, at(anchor_), lit);
        return true;
    }

    const uint8_t* const src_;
    const int32_t src_idx_;
    const uint8_t* const dict_end_;
    const int32_t floor_;  // lowest position of the history that exists
    const int32_t low_;    // lowest position that can be a candidate
    int32_t* const head_;
    int32_t* const chain_;
    const int32_t attempts_;
    int32_t cursor_;  // next position to enter into the chains
    const int32_t mflimit_, matchlimit_, end_;
    int32_t anchor_;
    uint8_t* op_;
    uint8_t* const oend_;
};

template <bool kDict>
bool HcEncoder<kDict>::encode() {
    int32_t ip = src_idx_ + 1;
    while (ip < mflimit_) {
        int32_t ref = 0;
        int32_t ml = best_match(ip, &ref);
        if (ml < kMinMatch) {
            ++ip;
            continue;
        }
        // The first match is kept in case a later choice skips too much.
        int32_t start0 = ip, ml0 = ml, ref0 = ref;
        int32_t start2 = 0, ml2 = 0, ref2 = 0, start3 = 0, ml3 = 0, ref3 = 0;

    search2:
        ml2 = ip + ml < mflimit_ ? wider_match(ip + ml - 2, ip, ml, &start2, &ref2) : ml;
        if (ml2 == ml) {
            if (!emit(ip, ml, ref)) return false;
            ip = anchor_;
            continue;
        }
        if (ip > start0 && start2 < ip + ml0) {
            ip = start0;
            ml = ml0;
            ref = ref0;
        }
        if (start2 - ip < 3) {  // the first match would be too short: drop it
            ip = start2;
            ml = ml2;
            ref = ref2;
            goto search2;
        }

    search3:
        // Cut the first match at kOptimalMl (or where the second still keeps
        // 4 bytes) and start the second there.
        if (start2 - ip < kOptimalMl) {
            int32_t n = ml < kOptimalMl ? ml : kOptimalMl;
            if (ip + n > start2 + ml2 - kMinMatch) n = start2 - ip + ml2 - kMinMatch;
            const int32_t corr = n - (start2 - ip);
            if (corr > 0) {
                start2 += corr;
                ref2 += corr;
                ml2 -= corr;
            }
        }
        ml3 = start2 + ml2 < mflimit_ ? wider_match(start2 + ml2 - 3, start2, ml2, &start3, &ref3)
                                      : ml2;
        if (ml3 == ml2) {  // two sequences
            if (start2 < ip + ml) ml = start2 - ip;
            if (!emit(ip, ml, ref) || !emit(start2, ml2, ref2)) return false;
            ip = anchor_;
            continue;
        }
        if (start3 < ip + ml + 3) {
            if (start3 >= ip + ml) {
                // The third match follows the first closely: the second is
                // only kept (shortened) as the fallback.
                if (start2 < ip + ml) {
                    const int32_t corr = ip + ml - start2;
                    start2 += corr;
                    ref2 += corr;
                    ml2 -= corr;
                    if (ml2 < kMinMatch) {
                        start2 = start3;
                        ml2 = ml3;
                        ref2 = ref3;
                    }
                }
                if (!emit(ip, ml, ref)) return false;
                ip = start3;
                ml = ml3;
                ref = ref3;
                start0 = start2;
                ml0 = ml2;
                ref0 = ref2;
                goto search2;
            }
            // The third match starts inside the first: it replaces the second.
            start2 = start3;
            ml2 = ml3;
            ref2 = ref3;
            goto search3;
        }

        // Three ascending matches: the first one is written now.
        if (start2 < ip + ml) {
            if (start2 - ip < 15) {
                if (ml > kOptimalMl) ml = kOptimalMl;
                if (ip + ml > start2 + ml2 - kMinMatch) ml = start2 - ip + ml2 - kMinMatch;
                const int32_t corr = ml - (start2 - ip);
                if (corr > 0) {
                    start2 += corr;
                    ref2 += corr;
                    ml2 -= corr;
                }
            } else {
                ml = start2 - ip;
            }
        }
        if (!emit(ip, ml, ref)) return false;
        ip = start2;
        ml = ml2;
        ref = ref2;
        start2 = start3;
        ml2 = ml3;
        ref2 = ref3;
        goto search3;
    }
    return emit_last();
}

vekStatus check_args(const uint8_t* src, int32_t src_idx, const int32_t* src_len,
                     const uint8_t* dst, const int32_t* dst_len, uint8_t** tables) {
    if (!src || !src_len || !dst || !dst_len || !tables || !tables[0] || !tables[1])
        return vekStatusNullPtrErr;
    if (*src_len < 1) return vekStatusSizeErr;
    if (src_idx < 0) return vekStatusBadArgErr;
    return vekStatusOk;
}

template <bool kDict>
vekStatus run(const uint8_t* src, int32_t src_idx, int32_t* src_len, uint8_t* dst, int32_t* dst_len,
              uint8_t** tables, const uint8_t* dict, int32_t dict_len, int32_t level) {
    const vekStatus st = check_args(src, src_idx, src_len, dst, dst_len, tables);
    if (st != vekStatusOk) return st;
    // Positions are 32-bit: a source that would reach past INT32_MAX is
    // encoded in a coordinate shifted down to end there. Every entry is
    // still tested against the walk's bounds, so older entries can only
    // name bytes of the history or of the source before the position.
    if (*src_len > INT32_MAX - src_idx) src_idx = INT32_MAX - *src_len;
    HcEncoder<kDict> enc(src, src_idx, *src_len, dst, *dst_len, tables, dict, dict_len, level);
    if (!enc.encode()) return vekStatusDstTooSmall;
    *dst_len = static_cast<int32_t>(enc.op() - dst);
    return vekStatusOk;
}

}  // namespace

int32_t hc_normalize_level(int32_t level) {
    if (level == 0 || level > 9) return 9;
    return level < 0 ? 1 : level;
}

vekStatus encode_hc_prefix(const uint8_t* src, int32_t src_idx, int32_t* src_len, uint8_t* dst,
                           int32_t* dst_len, uint8_t** tables, int32_t level) {
    return run<false>(src, src_idx, src_len, dst, dst_len, tables, nullptr, 0, level);
}

vekStatus encode_hc_dict(const uint8_t* src, int32_t src_idx, int32_t* src_len, uint8_t* dst,
                         int32_t* dst_len, uint8_t** tables, const uint8_t* dict, int32_t dict_len,
                         int32_t level) {
    return run<true>(src, src_idx, src_len, dst, dst_len, tables, dict, dict_len, level);
}

}  // namespace vek::lz4
