#include "deflate_parse_merge.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "deflate_encoder.h"

namespace vekdc {

namespace {

constexpr uint32_t kWindow = 32768;
// A merge is kept going only while it saves at least a given share of the
// engine's bits and kMinBitsPerByte bits per input byte (the second search
// costs about as much per byte on data that codes to almost nothing, such
// as long runs); calls of fewer pairs than kGatePairs and fewer input bytes
// than kGateBytes are too small to judge by and never stop it.
constexpr double kMinBitsPerByte = 0.02;
constexpr uint32_t kGatePairs = 1024;
constexpr uint32_t kGateBytes = 8192;
// Input of a trial merge (while merging is not known to pay).
constexpr uint32_t kTrialBytes = kGateBytes;
// Calls left out after a call where merging does not pay: at the start of
// a stream kFirstBackoff, after one where it paid 1, doubling after each
// next such call up to kMaxBackoff.
constexpr uint32_t kFirstBackoff = 16;
constexpr uint32_t kMaxBackoff = 64;

constexpr uint8_t kLenExtraBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kDistExtraBits[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

// 0 for a literal, distances 1..256 as they are, larger ones by
// 255 + ((distance - 1) >> 7), which is 257..510.
constexpr int kDistanceSlots = 511;
inline unsigned distance_slot(uint16_t distance) {
    // (A mask rather than a branch: near and far distances alternate.)
    const unsigned far = 0u - static_cast<unsigned>(distance > 256);
    return (distance & ~far) | ((255 + ((distance - 1u) >> 7)) & far);
}

struct SymbolTables {
    uint8_t length[256];               // length code - 257, by length - 3
    uint8_t distance[kDistanceSlots];  // distance code, by distance slot
    SymbolTables() {
        for (int c = 0; c < 28; ++c)
            for (int l = kLenBase[c]; l < kLenBase[c + 1]; ++l)
                length[l - 3] = static_cast<uint8_t>(c);
        length[255] = 28;  // 258 has a code of its own
        std::fill(distance, distance + kDistanceSlots, uint8_t(0));
        for (int c = 0; c < 30; ++c) {
            const int end = c + 1 < 30 ? kDistBase[c + 1] : 32769;
            for (int d = kDistBase[c]; d < end; ++d)
                distance[distance_slot(static_cast<uint16_t>(d))] = static_cast<uint8_t>(c);
        }
    }
};

const SymbolTables& tables() {
    static const SymbolTables t;
    return t;
}

// -log2 of each symbol's share of the counts, unseen symbols counted as
// half an occurrence, at most 15 bits.
void symbol_bits(const uint32_t* count, int n, float* bits) {
    double total = 0;
    for (int i = 0; i < n; ++i) total += count[i];
    const double top = std::log2(total + 1);
    for (int i = 0; i < n; ++i)
        bits[i] = static_cast<float>(
            std::min(15.0, top - std::log2(count[i] > 0 ? double(count[i]) : 0.5)));
}

double entropy_bits(const uint32_t* count, int n) {
    double total = 0, sum = 0;
    for (int i = 0; i < n; ++i) {
        if (count[i] == 0) continue;
        total += count[i];
        sum += count[i] * std::log2(double(count[i]));
    }
    return total > 0 ? total * std::log2(total) - sum : 0;
}

}  // namespace

void count_pair_symbols(const uint8_t* lit, const uint16_t* dist, uint32_t n, uint32_t* lit_count,
                        uint32_t* dist_count) {
    const SymbolTables& t = tables();
    for (uint32_t i = 0; i < n; ++i) {
        if (dist[i] == 0) {
            ++lit_count[lit[i]];
        } else {
            ++lit_count[257 + t.length[lit[i]]];
            ++dist_count[t.distance[distance_slot(dist[i])]];
        }
    }
}

double coded_pair_bits(const uint32_t* lit_count, const uint32_t* dist_count) {
    double bits =
        entropy_bits(lit_count, kPairLitSymbols) + entropy_bits(dist_count, kPairDistSymbols);
    for (int c = 0; c < 29; ++c) bits += double(lit_count[257 + c]) * kLenExtraBits[c];
    for (int c = 0; c < 30; ++c) bits += double(dist_count[c]) * kDistExtraBits[c];
    return bits;
}

void PairCosts::fit(const uint32_t* lit_count, const uint32_t* dist_count) {
    float lit[kPairLitSymbols], dist[kPairDistSymbols];
    symbol_bits(lit_count, kPairLitSymbols, lit);
    symbol_bits(dist_count, kPairDistSymbols, dist);
    const SymbolTables& t = tables();
    std::copy(lit, lit + 256, symbol_);
    for (int l = 0; l < 256; ++l)
        symbol_[256 + l] = lit[257 + t.length[l]] + kLenExtraBits[t.length[l]];
    distance_[0] = 0;
    for (int s = 1; s < kDistanceSlots; ++s)
        distance_[s] = dist[t.distance[s]] + kDistExtraBits[t.distance[s]];
}

float PairCosts::item(uint8_t lit, uint16_t distance) const {
    // Without branches: literals and lengths share one table, and a
    // literal's distance slot costs nothing.
    return symbol_[lit + (distance != 0 ? 256 : 0)] + distance_[distance_slot(distance)];
}

uint32_t merge_parses(const uint8_t* a_lit, const uint16_t* a_dist, uint32_t na,
                      const uint8_t* b_lit, const uint16_t* b_dist, uint32_t nb,
                      const PairCosts& costs, uint32_t cap, uint8_t* out_lit, uint16_t* out_dist) {
    uint32_t i = 0, j = 0, i0 = 0, j0 = 0, out = 0;
    uint64_t pa = 0, pb = 0;  // input covered by a[0, i) and by b[0, j)
    float ca = 0, cb = 0;     // bits of a[i0, i) and of b[j0, j)
    while (i < na || j < nb) {
        if (i == i0 && j == j0) {
            // At a common boundary: items both parses share go straight out.
            while (i < na && j < nb && a_lit[i] == b_lit[j] && a_dist[i] == b_dist[j]) {
                out_lit[out] = a_lit[i];
                out_dist[out++] = a_dist[i];
                ++i;
                ++j;
            }
            i0 = i;
            j0 = j;
            if (i == na && j == nb) break;
        }
        // Whichever parse is behind takes its next item (a parse that has
        // ended is never behind: both cover the same input). Written to
        // compile to conditional moves: the choice follows the data.
        do {
            const bool take_a = pa <= pb && i < na;
            const uint8_t l = take_a ? a_lit[i] : b_lit[j];
            const uint16_t d = take_a ? a_dist[i] : b_dist[j];
            const float c = costs.item(l, d);
            const uint32_t n = d != 0 ? l + 3u : 1u;
            ca += take_a ? c : 0.0f;
            cb += take_a ? 0.0f : c;
            pa += take_a ? n : 0;
            pb += take_a ? 0 : n;
            i += take_a;
            j += !take_a;
        } while (pa != pb);
        // A common boundary: a[i0, i) and b[j0, j) cover the same input.
        if (cb < ca && out + (j - j0) + (na - i) <= cap) {
            std::copy(b_lit + j0, b_lit + j, out_lit + out);
            std::copy(b_dist + j0, b_dist + j, out_dist + out);
            out += j - j0;
        } else {
            std::copy(a_lit + i0, a_lit + i, out_lit + out);
            std::copy(a_dist + i0, a_dist + i, out_dist + out);
            out += i - i0;
        }
        i0 = i;
        j0 = j;
        ca = cb = 0;
    }
    return out;
}

SingleProbeMerger::SingleProbeMerger(size_t max_input, double min_saving)
    : min_saving_(min_saving),
      head_(kWindow),
      probe_lit_(max_input),
      merged_lit_(max_input),
      probe_dist_(max_input),
      merged_dist_(max_input) {
    reset();
}

void SingleProbeMerger::reset() {
    src_idx_ = 0;
    std::fill(head_.begin(), head_.end(), -static_cast<int32_t>(kWindow));
    have_model_ = false;
    skip_ = 0;
    paying_ = false;
    backoff_ = kFirstBackoff;
}

uint32_t SingleProbeMerger::merge(const uint8_t* start, uint32_t used, uint8_t* lit, uint16_t* dist,
                                  uint32_t made, uint32_t cap, vekDeflateFreqEntry* lit_freq,
                                  vekDeflateFreqEntry* dist_freq) {
    if (skip_ > 0) {
        // The head table misses these positions; its entries are only
        // candidates, checked byte by byte, so later matches stay valid.
        --skip_;
        src_idx_ += used;
        return made;
    }
    // Until merging is found to pay, a call tries it on about its first
    // kTrialBytes only: the pairs [0, k) covering `span` bytes.
    uint32_t k = made, span = used;
    if (!paying_ && used > kTrialBytes) {
        span = 0;
        for (k = 0; k < made && span < kTrialBytes; ++k) span += dist[k] != 0 ? lit[k] + 3u : 1u;
    }

    // Level 0 is the single-probe search: a 32768-entry head table hashes
    // exactly three bytes, and the chain table (the second table argument)
    // is never touched.
    const uint8_t* src = start;
    uint32_t left = span;
    uint32_t room = static_cast<uint32_t>(probe_lit_.size());
    vekDeflateFreqEntry plf[kPairLitSymbols] = {}, pdf[kPairDistSymbols] = {};
    check_library(
        "veksDeflateLZ77_8u",
        veksDeflateLZ77_8u(&src, &left, &src_idx_, start, kWindow, head_.data(), head_.data(),
                           kWindow, plf, pdf, probe_lit_.data(), probe_dist_.data(), &room, 0, 2));
    src_idx_ += used - span;
    const uint32_t nb = static_cast<uint32_t>(probe_lit_.size()) - room;

    // The tried part's own counts (the library counted the whole call).
    uint32_t main_lit[kPairLitSymbols] = {}, main_dist[kPairDistSymbols] = {};
    if (k == made) {
        for (int i = 0; i < kPairLitSymbols; ++i) main_lit[i] = lit_freq[i].freq;
        for (int i = 0; i < kPairDistSymbols; ++i) main_dist[i] = dist_freq[i].freq;
    } else {
        count_pair_symbols(lit, dist, k, main_lit, main_dist);
    }
    // The code model: both parses' counts, with the last merge's counts.
    uint32_t lc[kPairLitSymbols], dc[kPairDistSymbols];
    for (int i = 0; i < kPairLitSymbols; ++i)
        lc[i] = main_lit[i] + plf[i].freq + (have_model_ ? model_lit_[i] : 0);
    for (int i = 0; i < kPairDistSymbols; ++i)
        dc[i] = main_dist[i] + pdf[i].freq + (have_model_ ? model_dist_[i] : 0);
    PairCosts costs;
    costs.fit(lc, dc);
    const uint32_t n = merge_parses(lit, dist, k, probe_lit_.data(), probe_dist_.data(), nb, costs,
                                    cap - (made - k), merged_lit_.data(), merged_dist_.data());
    std::fill(lc, lc + kPairLitSymbols, 0u);
    std::fill(dc, dc + kPairDistSymbols, 0u);
    count_pair_symbols(merged_lit_.data(), merged_dist_.data(), n, lc, dc);

    // Judged by the bits of each parse of the tried part under its own code.
    const double before = coded_pair_bits(main_lit, main_dist);
    const double after = coded_pair_bits(lc, dc);
    if (k >= kGatePairs || span >= kGateBytes) {
        paying_ = before - after >= std::max(before * min_saving_, span * kMinBitsPerByte);
        if (!paying_) {
            skip_ = backoff_;
            backoff_ = std::min(2 * backoff_, kMaxBackoff);
        } else {
            backoff_ = 1;
        }
    }
    if (after >= before) return made;
    std::copy(lc, lc + kPairLitSymbols, model_lit_);
    std::copy(dc, dc + kPairDistSymbols, model_dist_);
    have_model_ = true;
    // The merged part, then the engine's pairs after it; the counts change
    // by the difference of the two parses of the tried part.
    std::copy(lit + k, lit + made, merged_lit_.data() + n);
    std::copy(dist + k, dist + made, merged_dist_.data() + n);
    std::copy(merged_lit_.data(), merged_lit_.data() + n + (made - k), lit);
    std::copy(merged_dist_.data(), merged_dist_.data() + n + (made - k), dist);
    // Fewer than 65536 pairs per call: the 16-bit counters hold them.
    for (int i = 0; i < kPairLitSymbols; ++i)
        lit_freq[i].freq = static_cast<uint16_t>(lit_freq[i].freq - main_lit[i] + lc[i]);
    for (int i = 0; i < kPairDistSymbols; ++i)
        dist_freq[i].freq = static_cast<uint16_t>(dist_freq[i].freq - main_dist[i] + dc[i]);
    return n + (made - k);
}

}  // namespace vekdc
