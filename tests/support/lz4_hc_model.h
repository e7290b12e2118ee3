// Plain, step-by-step transcription of the high-compression LZ4 encoder's
// rules: its own head and chain tables kept across the calls of a stream,
// one byte array indexed by position in the history coordinate, and
// byte-at-a-time comparisons. Nothing here is tuned for speed. Tests require
// the library's blocks to equal the blocks this model writes.
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

class Lz4HcModel {
  public:
    Lz4HcModel() { reset(); }

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
    // q itself enters right after its walk start has been read (entering it
    // at the next search instead gives the same blocks within one call, but
    // makes the last searched position of a block no candidate later on).
    int32_t prepare(int32_t q) {
        while (cursor_ < q) insert(cursor_++);
        const int32_t start = head_[hash(q)];
        if (cursor_ == q) insert(cursor_++);
        return start;
    }
    // Whether a walk from q goes on to candidate c (the attempt bound aside).
    bool usable(int32_t c, int32_t q) {
        return c > 0 && c < q && q - c < 65535 && !(dict_ && c < lo_);
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
            if (tries++ == maxAttempts_) break;
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
        int32_t tries = 0;
        for (int32_t c = prepare(q); usable(c, q); c = chain_[c & 0xFFFF]) {
            if (tries++ == maxAttempts_) break;
            int32_t back = 0;
            if (!nearEnd) {
                while (back < q - low && c - back - 1 >= lo_ &&
                       at(q - back - 1) == at(c - back - 1))
                    ++back;
            }
            if (q - back + best >= matchlimit_) break;
            if (!screen(q - back, c - back, best)) continue;
            const int32_t fwd = forward(q, c);
            if (back + fwd > best) {
                best = back + fwd;
                *start = q - back;
                *ref = c - back;
            }
        }
        return best;
    }

    // One sequence: literals from the anchor to s, then the match.
    void emit(int32_t s, int32_t ml, int32_t ref) {
        const int32_t lits = s - anchor_, d = s - ref;
        if (lits < 0 || ml < 4 || d < 1 || d > 65534 || s + ml > matchlimit_) sequenceFault = true;
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
        const int32_t mflimit = end_ - 13;
        int32_t ip = src_ + 1;
        for (;;) {
            // Step 1.
            int32_t ml = 0, ref = 0;
            for (; ip < mflimit; ++ip) {
                ml = search1(ip, &ref);
                if (ml >= 4) break;
            }
            if (ip >= mflimit) break;
            int32_t start0 = ip, ml0 = ml, ref0 = ref;
            int32_t start2 = 0, ml2 = 0, ref2 = 0, start3 = 0, ml3 = 0, ref3 = 0;
            enum { kStep2, kStep6, kStep1 } next = kStep2;
            while (next != kStep1) {
                if (next == kStep2) {
                    // Step 2.
                    if (ip + ml < mflimit) {
                        ml2 = wider(ip + ml - 2, ip, ml, &start2, &ref2);
                    } else {
                        ml2 = ml;
                    }
                    // Step 3.
                    if (ml2 == ml) {
                        emit(ip, ml, ref);
                        ip += ml;
                        next = kStep1;
                        continue;
                    }
                    // Step 4.
                    if (ip > start0 && start2 < ip + ml0) {
                        ip = start0;
                        ml = ml0;
                        ref = ref0;
                    }
                    // Step 5.
                    if (start2 - ip < 3) {
                        ip = start2;
                        ml = ml2;
                        ref = ref2;
                        continue;
                    }
                }
                // Step 6.
                if (start2 - ip < 18) {
                    int32_t nl = ml < 18 ? ml : 18;
                    if (ip + nl > start2 + ml2 - 4) nl = start2 - ip + ml2 - 4;
                    const int32_t correction = nl - (start2 - ip);
                    if (correction > 0) {
                        start2 += correction;
                        ref2 += correction;
                        ml2 -= correction;
                    }
                }
                // Step 7.
                if (start2 + ml2 < mflimit) {
                    ml3 = wider(start2 + ml2 - 3, start2, ml2, &start3, &ref3);
                } else {
                    ml3 = ml2;
                }
                // Step 8.
                if (ml3 == ml2) {
                    if (start2 < ip + ml) {
                        ml = start2 - ip;
                    }
                    emit(ip, ml, ref);
                    emit(start2, ml2, ref2);
                    ip = start2 + ml2;
                    next = kStep1;
                    continue;
                }
                // Step 9.
                if (start3 < ip + ml + 3 && start3 >= ip + ml) {
                    if (start2 < ip + ml) {
                        const int32_t cut = ip + ml - start2;
                        start2 += cut;
                        ref2 += cut;
                        ml2 -= cut;
                        if (ml2 < 4) {
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
                    start2 = start3;
                    ml2 = ml3;
                    ref2 = ref3;
                    next = kStep6;
                    continue;
                }
                // Step 11.
                if (start2 < ip + ml) {
                    if (start2 - ip < 15) {
                        if (ml > 18) ml = 18;
                        if (ip + ml > start2 + ml2 - 4) ml = start2 - ip + ml2 - 4;
                        const int32_t correction = ml - (start2 - ip);
                        if (correction > 0) {
                            start2 += correction;
                            ref2 += correction;
                            ml2 -= correction;
                        }
                    } else {
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
        const int32_t lits = end_ - anchor_;
        out_.push_back(static_cast<uint8_t>((lits < 15 ? lits : 15) << 4));
        if (lits >= 15) lz4hcmodel::put_len(out_, lits - 15);
        for (int32_t x = anchor_; x < end_; ++x) out_.push_back(at(x));
    }

    std::vector<int32_t> head_, chain_;
    const uint8_t* mem_ = nullptr;
    int32_t src_ = 0, lo_ = 0, end_ = 0, matchlimit_ = 0, maxAttempts_ = 1, cursor_ = 0,
            anchor_ = 0;
    bool dict_ = false;
    std::vector<uint8_t> out_;
};

}  // namespace vek::testref
