// Plain, step-by-step transcription of the high-compression LZ4 encoder's
// rules: its own head and chain tables kept across the calls of a stream,
// one byte array indexed by position in the history coordinate, and
// byte-at-a-time comparisons. Nothing here is tuned for speed. Tests require
// the library's blocks to equal the blocks this model writes, and read the
// counters to know which parts of the parse their inputs reached.
#pragma once
#include <cstdint>
#include <vector>

namespace vek::testref {

namespace lz4hcmodel {

// One CRC-32C step on a 32-bit operand, bit by bit, reflected polynomial,
// no inversion before or after.
inline uint32_t crc32c_step(uint32_t acc, uint32_t data) {
    acc ^= data;
    for (int i = 0; i < 32; ++i) acc = (acc & 1u) ? (acc >> 1) ^ 0x82F63B78u : acc >> 1;
    return acc;
}

inline int32_t normalise_level(int32_t level) {
    if (level == 0) return 9;
    if (level < 0) return 1;
    return level > 9 ? 9 : level;
}

inline void put_len(std::vector<uint8_t>& out, int32_t v) {
    for (; v >= 255; v -= 255) out.push_back(255);
    out.push_back(static_cast<uint8_t>(v));
}

}  // namespace lz4hcmodel

// Summed over every call of one model.
struct Lz4HcCounts {
    // step[k]: the action of parse step k ran (k = 1..12): 1 a search 1,
    // 2 a wider search after the first match, 3 one sequence written,
    // 4 the first match restored, 5 the second match taken as the first,
    // 6 the search-3 stage entered, 7 a wider search after the second match,
    // 8 two sequences written, 9 the first written and the third made
    // current, 10 the third put in place of the second, 11 the first written
    // and the matches shifted down, 12 last literals written.
    uint64_t step[13] = {};
    uint64_t search1Miss = 0;          // search 1 found nothing
    uint64_t search2AtLimit = 0;       // step 2 without a search (ip + ml reached mflimit)
    uint64_t search3AtLimit = 0;       // step 7 without a search
    uint64_t step6Correction = 0;      // step 6 moved the second match
    uint64_t step8Cut = 0;             // step 8 shortened the first match
    uint64_t step8Adjacent = 0;        // step 8: second sequence without literals
    uint64_t step8Gap = 0;             // step 8: literals between the two matches
    uint64_t step9Cut = 0;             // step 9 cut the second match
    uint64_t step9ThirdForSecond = 0;  // step 9: the cut second fell below 4
    uint64_t step11Overlap = 0;        // step 11 with the second inside the first
    // ... starting fewer than 15 bytes after ip. Kept for completeness; no
    // input reaches it, since step 6 always leaves a second match that
    // overlaps the first starting 18 or more bytes after ip.
    uint64_t step11Near = 0;
    uint64_t step11NearCorrection = 0;
    uint64_t step11Far = 0;     // ... starting 15 or more bytes after ip
    uint64_t widerWalkEnd = 0;  // wider search walk ended by its length rule
    uint64_t widerImproved = 0;
    uint64_t widerBackward = 0;  // an improvement that starts before q
    // Wider search measuring forward only; never reached either, as both
    // wider searches start well before matchlimit.
    uint64_t widerNearEnd = 0;
    uint64_t walkEndZero = 0, walkEndAhead = 0, walkEndDistance = 0, walkEndLowest = 0,
             walkEndAttempts = 0;
    uint64_t dictMatch = 0;        // dictionary mode: a match into the dictionary
    uint64_t dictIntoSource = 0;   // ... running on from the dictionary into the source
    uint64_t backIntoDict = 0;     // backward count crossing from the source into it
    uint64_t longestDistance = 0;  // largest offset written
    uint64_t sequences = 0;
};

class Lz4HcModel {
  public:
    // Where the searched position itself enters the tables: right after its
    // walk start has been read, or at the next search of the same call.
    enum class Insert { kAfterWalkStart, kAtNextSearch };

    explicit Lz4HcModel(Insert insert = Insert::kAfterWalkStart) : insert_(insert) { reset(); }

    // Both tables cleared, as the library's table initialisation leaves them.
    void reset() {
        head_.assign(32768, 0);
        chain_.assign(65536, 0);
    }

    // Encodes the source positions srcIdx .. srcIdx + n - 1 as one block.
    // mem[x] is the byte at position x for lowest <= x < srcIdx + n: the
    // history (prefix mode, lowest = 0) or the dictionary (dictionary mode,
    // lowest = max(0, srcIdx - dictLen)) followed by the source.
    std::vector<uint8_t> encode(const uint8_t* mem, int32_t srcIdx, int32_t n, int32_t lowest,
                                bool dictMode, int32_t level) {
        mem_ = mem;
        src_ = srcIdx;
        lo_ = lowest;
        end_ = srcIdx + n;
        dict_ = dictMode;
        matchlimit_ = end_ - 5;
        maxAttempts_ = 1 << (lz4hcmodel::normalise_level(level) - 1);
        cursor_ = srcIdx;
        out_.clear();
        anchor_ = srcIdx;
        parse();
        return out_;
    }

    Lz4HcCounts counts;
    bool readFault = false;      // a byte outside lowest .. srcIdx + n - 1 was needed
    bool sequenceFault = false;  // the parse produced a sequence the format cannot hold

  private:
    uint8_t at(int64_t x) {
        if (x < lo_ || x >= end_) {
            readFault = true;
            return 0;
        }
        return mem_[x];
    }
    uint32_t hash(int32_t x) {
        const uint32_t w = at(x) | at(x + 1) << 8 | at(x + 2) << 16 | uint32_t(at(x + 3)) << 24;
        return lz4hcmodel::crc32c_step(0, w) & 0x7FFF;
    }
    void insert(int32_t x) {
        const uint32_t h = hash(x);
        chain_[x & 0xFFFF] = head_[h];
        head_[h] = x;
    }
    // Brings the tables up to a search at q; returns the start of q's walk.
    int32_t prepare(int32_t q) {
        while (cursor_ < q) insert(cursor_++);
        const int32_t start = head_[hash(q)];
        if (insert_ == Insert::kAfterWalkStart && cursor_ == q) insert(cursor_++);
        return start;
    }
    // Whether a walk from q goes on to candidate c (the attempt bound aside).
    bool usable(int32_t c, int32_t q) {
        if (c <= 0) return ++counts.walkEndZero, false;
        if (c >= q) return ++counts.walkEndAhead, false;
        if (q - c >= 65535) return ++counts.walkEndDistance, false;
        if (dict_ && c < lo_) return ++counts.walkEndLowest, false;
        return true;
    }
    // Common length of q and c counted from q, up to matchlimit.
    int32_t forward(int32_t q, int32_t c) {
        int32_t len = 0;
        while (q + len < matchlimit_ && at(q + len) == at(c + len)) ++len;
        return len;
    }
    bool screen(int32_t q, int32_t c, int32_t best) {
        for (int32_t k = best - 3; k <= best; ++k)
            if (at(q + k) != at(c + k)) return false;
        return true;
    }

    // Search 1: best length at ip (below 4: none) and its candidate.
    int32_t search1(int32_t ip, int32_t* ref) {
        int32_t best = 3;
        int32_t tries = 0;
        for (int32_t c = prepare(ip); usable(c, ip); c = chain_[c & 0xFFFF]) {
            if (tries++ == maxAttempts_) {
                ++counts.walkEndAttempts;
                break;
            }
            if (!screen(ip, c, best)) continue;
            const int32_t len = forward(ip, c);
            if (len > best) {
                best = len;
                *ref = c;
            }
        }
        return best;
    }

    // Wider match at q, starting no earlier than low, beating best.
    int32_t wider(int32_t q, int32_t low, int32_t best, int32_t* start, int32_t* ref) {
        const bool nearEnd = q + 1 > matchlimit_;
        if (nearEnd) ++counts.widerNearEnd;
        int32_t tries = 0;
        for (int32_t c = prepare(q); usable(c, q); c = chain_[c & 0xFFFF]) {
            if (tries++ == maxAttempts_) {
                ++counts.walkEndAttempts;
                break;
            }
            int32_t back = 0;
            if (!nearEnd) {
                while (back < q - low && c - back - 1 >= lo_ &&
                       at(q - back - 1) == at(c - back - 1))
                    ++back;
            }
            if (q - back + best >= matchlimit_) {
                ++counts.widerWalkEnd;
                break;
            }
            if (!screen(q - back, c - back, best)) continue;
            const int32_t fwd = forward(q, c);
            if (back + fwd > best) {
                if (dict_ && c >= src_ && c - back < src_) ++counts.backIntoDict;
                best = back + fwd;
                *start = q - back;
                *ref = c - back;
                ++counts.widerImproved;
                if (back > 0) ++counts.widerBackward;
            }
        }
        return best;
    }

    // One sequence: literals from the anchor to s, then the match.
    void emit(int32_t s, int32_t ml, int32_t ref) {
        const int32_t lits = s - anchor_, d = s - ref;
        if (lits < 0 || ml < 4 || d < 1 || d > 65534 || s + ml > matchlimit_) sequenceFault = true;
        if (dict_ && ref < src_) {
            ++counts.dictMatch;
            if (ref + ml > src_) ++counts.dictIntoSource;
        }
        if (static_cast<uint64_t>(d) > counts.longestDistance) counts.longestDistance = d;
        ++counts.sequences;
        const int32_t m = ml - 4;
        out_.push_back(static_cast<uint8_t>((lits < 15 ? lits : 15) << 4 | (m < 15 ? m : 15)));
        if (lits >= 15) lz4hcmodel::put_len(out_, lits - 15);
        for (int32_t x = anchor_; x < s; ++x) out_.push_back(at(x));
        out_.push_back(static_cast<uint8_t>(d));
        out_.push_back(static_cast<uint8_t>(d >> 8));
        if (m >= 15) lz4hcmodel::put_len(out_, m - 15);
        anchor_ = s + ml;
    }

    void parse() {
        Lz4HcCounts& k = counts;
        const int32_t mflimit = end_ - 13;
        int32_t ip = src_ + 1;
        for (;;) {
            // Step 1.
            int32_t ml = 0, ref = 0;
            for (; ip < mflimit; ++ip) {
                ++k.step[1];
                ml = search1(ip, &ref);
                if (ml >= 4) break;
                ++k.search1Miss;
            }
            if (ip >= mflimit) break;
            int32_t start0 = ip, ml0 = ml, ref0 = ref;
            int32_t start2 = 0, ml2 = 0, ref2 = 0, start3 = 0, ml3 = 0, ref3 = 0;
            enum { kStep2, kStep6, kStep1 } next = kStep2;
            while (next != kStep1) {
                if (next == kStep2) {
                    // Step 2.
                    if (ip + ml < mflimit) {
                        ++k.step[2];
                        ml2 = wider(ip + ml - 2, ip, ml, &start2, &ref2);
                    } else {
                        ++k.search2AtLimit;
                        ml2 = ml;
                    }
                    // Step 3.
                    if (ml2 == ml) {
                        ++k.step[3];
                        emit(ip, ml, ref);
                        ip += ml;
                        next = kStep1;
                        continue;
                    }
                    // Step 4.
                    if (ip > start0 && start2 < ip + ml0) {
                        ++k.step[4];
                        ip = start0;
                        ml = ml0;
                        ref = ref0;
                    }
                    // Step 5.
                    if (start2 - ip < 3) {
                        ++k.step[5];
                        ip = start2;
                        ml = ml2;
                        ref = ref2;
                        continue;
                    }
                }
                // Step 6.
                ++k.step[6];
                if (start2 - ip < 18) {
                    int32_t nl = ml < 18 ? ml : 18;
                    if (ip + nl > start2 + ml2 - 4) nl = start2 - ip + ml2 - 4;
                    const int32_t correction = nl - (start2 - ip);
                    if (correction > 0) {
                        ++k.step6Correction;
                        start2 += correction;
                        ref2 += correction;
                        ml2 -= correction;
                    }
                }
                // Step 7.
                if (start2 + ml2 < mflimit) {
                    ++k.step[7];
                    ml3 = wider(start2 + ml2 - 3, start2, ml2, &start3, &ref3);
                } else {
                    ++k.search3AtLimit;
                    ml3 = ml2;
                }
                // Step 8.
                if (ml3 == ml2) {
                    ++k.step[8];
                    if (start2 < ip + ml) {
                        ++k.step8Cut;
                        ml = start2 - ip;
                    }
                    emit(ip, ml, ref);
                    ++(start2 == ip + ml ? k.step8Adjacent : k.step8Gap);
                    emit(start2, ml2, ref2);
                    ip = start2 + ml2;
                    next = kStep1;
                    continue;
                }
                // Step 9.
                if (start3 < ip + ml + 3 && start3 >= ip + ml) {
                    ++k.step[9];
                    if (start2 < ip + ml) {
                        ++k.step9Cut;
                        const int32_t cut = ip + ml - start2;
                        start2 += cut;
                        ref2 += cut;
                        ml2 -= cut;
                        if (ml2 < 4) {
                            ++k.step9ThirdForSecond;
                            start2 = start3;
                            ml2 = ml3;
                            ref2 = ref3;
                        }
                    }
                    emit(ip, ml, ref);
                    ip = start3;
                    ml = ml3;
                    ref = ref3;
                    start0 = start2;
                    ml0 = ml2;
                    ref0 = ref2;
                    next = kStep2;
                    continue;
                }
                // Step 10.
                if (start3 < ip + ml) {
                    ++k.step[10];
                    start2 = start3;
                    ml2 = ml3;
                    ref2 = ref3;
                    next = kStep6;
                    continue;
                }
                // Step 11.
                ++k.step[11];
                if (start2 < ip + ml) {
                    ++k.step11Overlap;
                    if (start2 - ip < 15) {
                        ++k.step11Near;
                        if (ml > 18) ml = 18;
                        if (ip + ml > start2 + ml2 - 4) ml = start2 - ip + ml2 - 4;
                        const int32_t correction = ml - (start2 - ip);
                        if (correction > 0) {
                            ++k.step11NearCorrection;
                            start2 += correction;
                            ref2 += correction;
                            ml2 -= correction;
                        }
                    } else {
                        ++k.step11Far;
                        ml = start2 - ip;
                    }
                }
                emit(ip, ml, ref);
                ip = start2;
                ml = ml2;
                ref = ref2;
                start2 = start3;
                ml2 = ml3;
                ref2 = ref3;
                next = kStep6;
            }
        }
        // Step 12.
        ++k.step[12];
        const int32_t lits = end_ - anchor_;
        out_.push_back(static_cast<uint8_t>((lits < 15 ? lits : 15) << 4));
        if (lits >= 15) lz4hcmodel::put_len(out_, lits - 15);
        for (int32_t x = anchor_; x < end_; ++x) out_.push_back(at(x));
    }

    Insert insert_;
    std::vector<int32_t> head_, chain_;
    const uint8_t* mem_ = nullptr;
    int32_t src_ = 0, lo_ = 0, end_ = 0, matchlimit_ = 0, maxAttempts_ = 1, cursor_ = 0,
            anchor_ = 0;
    bool dict_ = false;
    std::vector<uint8_t> out_;
};

}  // namespace vek::testref
