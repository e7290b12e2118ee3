// A second parse for the chained pair engines. Their searches take matches
// of 4 bytes and more; the single-probe search (library level 0) also takes
// 3-byte ones, which pays on record-structured binary data. Both parses of
// the same input refer only to earlier input, so wherever both have an item
// boundary at the same input position the stream may switch from one to the
// other. Between two such common boundaries the merge takes the items that
// cost fewer bits under a code fitted to symbol counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vekdc.h"

namespace vekdc {

constexpr int kPairLitSymbols = 286;
constexpr int kPairDistSymbols = 30;

// Adds the Deflate symbols of n pairs (distance 0: literal byte, else
// length - 3 and distance) to the counts.
void count_pair_symbols(const uint8_t* lit, const uint16_t* dist, uint32_t n, uint32_t* lit_count,
                        uint32_t* dist_count);

// Bits of n items with these symbol counts under codes fitted to them
// (their entropy) plus their extra bits.
double coded_pair_bits(const uint32_t* lit_count, const uint32_t* dist_count);

// Bits an item costs under a code fitted to some counts, extra bits included.
class PairCosts {
  public:
    void fit(const uint32_t* lit_count, const uint32_t* dist_count);
    float item(uint8_t lit, uint16_t distance) const;

  private:
    float symbol_[512];    // literal bytes, then lengths - 3 with their extra bits
    float distance_[511];  // by distance slot (0: none), with extra bits
};

// Merges parse a (na items) and parse b (nb items) of the same input into
// out (room for cap >= na items): between common boundaries the items of b
// where they cost less, else those of a. b's items are taken only while
// the rest still fits. Returns the number of items written.
uint32_t merge_parses(const uint8_t* a_lit, const uint16_t* a_dist, uint32_t na,
                      const uint8_t* b_lit, const uint16_t* b_dist, uint32_t nb,
                      const PairCosts& costs, uint32_t cap, uint8_t* out_lit, uint16_t* out_dist);

// Runs the single-probe search alongside a chained engine over the same
// input, with a head table of its own, and merges its parse into the
// engine's pairs where that makes them smaller.
class SingleProbeMerger {
  public:
    // `max_input`: the most bytes one merge() covers. Merging goes on while
    // it saves at least `min_saving` of the engine's bits.
    SingleProbeMerger(size_t max_input, double min_saving);
    void reset();
    // Input that was not searched (the stream position moves on).
    void skip(uint32_t n) { src_idx_ += n; }
    // The engine made the `made` pairs at lit/dist (room for cap) from the
    // `used` bytes at start, with at least 32 KiB of history before them,
    // and counted them in lit_freq/dist_freq. Replaces them with the merged
    // pairs, counts those instead, and returns their number. Until merging
    // is found to pay, only about the first 8 KiB of a call are merged, and
    // calls where it does not pay leave it out for a while.
    uint32_t merge(const uint8_t* start, uint32_t used, uint8_t* lit, uint16_t* dist, uint32_t made,
                   uint32_t cap, vekDeflateFreqEntry* lit_freq, vekDeflateFreqEntry* dist_freq);

    // Whether the last call that could judge it found merging to pay.
    bool paying() const { return paying_; }

  private:
    double min_saving_;
    bool paying_ = false;
    uint32_t src_idx_ = 0;
    std::vector<int32_t> head_;
    std::vector<uint8_t> probe_lit_, merged_lit_;
    std::vector<uint16_t> probe_dist_, merged_dist_;
    // Symbol counts of the last merge, the code model for the next.
    uint32_t model_lit_[kPairLitSymbols], model_dist_[kPairDistSymbols];
    bool have_model_ = false;
    // Where merging does not pay, whole calls go without it: skip_ calls
    // next, backoff_ after the next failure.
    uint32_t skip_ = 0, backoff_ = 0;
};

}  // namespace vekdc
