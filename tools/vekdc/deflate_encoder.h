// Raw Deflate streams (RFC 1951) built from the library's encoder stages,
// shared by the gzip, zlib and deflate formats and the Deflate benchmark rows.
//
// The library supplies the work: the LZ77 stage (veksDeflateLZ77_8u) turns
// input into literal/length/distance pairs and counts their symbols, the
// pair writer (veksDeflateHuff_8u) emits them with our code tables, and the
// single-pass encoder (veksDeflateLZ77FastestPrecompHeader_8u) writes whole
// blocks by itself with codes fitted to a sample of the input, or with the
// fixed codes. This file adds what a stream needs around them: the input
// window that slides through memory, block boundaries, length-limited code
// tables, dynamic block headers, the choice between a dynamic, a fixed and a
// stored block, end-of-block codes and the final padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vekdc.h"

namespace vekdc {

// Receives the compressed bytes as the encoder produces them.
class DeflateSink {
  public:
    virtual ~DeflateSink() = default;
    virtual void put(const uint8_t* data, size_t n) = 0;
};

// Appends to a vector (benchmark, tests).
class VectorSink : public DeflateSink {
  public:
    explicit VectorSink(std::vector<uint8_t>& out) : out_(out) {}
    void put(const uint8_t* data, size_t n) override { out_.insert(out_.end(), data, data + n); }

  private:
    std::vector<uint8_t>& out_;
};

// How the blocks of a stream are made.
enum class DeflateEngine {
    kStored,   // stored blocks only
    kFastest,  // the single-pass encoder: one hash probe, codes fitted to a sample
    kPairs,    // veksDeflateLZ77_8u pairs, dynamic/fixed/stored per block
};

struct DeflateSettings {
    DeflateEngine engine = DeflateEngine::kPairs;
    int library_level = 6;          // veksDeflateLZ77_8u level (kPairs)
    uint32_t hash_size = 32768;     // head table entries, a power of two in 256..65536
    uint32_t block_pairs = 65535;   // largest block in pairs (kPairs)
    uint32_t segment_pairs = 4096;  // pairs between block-split decisions, at most 65535
    bool split_blocks = true;       // end blocks where the statistics change
    // kPairs: with custom_search, veksDeflateLZ77Slow_8u (lazy) or
    // veksDeflateLZ77Fast_8u (greedy) run with `search` instead of the
    // library level's own parameters.
    bool custom_search = false;
    bool lazy = true;
    vekLZ77LevelParams search = {0, 0, 0, 0};
    // kPairs: also parse with the single-probe search (3-byte matches) and
    // take its pairs where they code smaller (deflate_parse_merge.h); the
    // lazy engine runs with merge_search instead of search while that pays
    // (unless its maxChain is 0).
    bool merge_single_probe = false;
    double merge_min_saving = 0.005;  // share of the bits a merge must save
    vekLZ77LevelParams merge_search = {0, 0, 0, 0};
    // kFastest: the fixed codes only, never codes fitted to a sample.
    bool fastest_fixed_codes = false;
};

// The tool's levels: 0 stored, 1..9 as documented in deflate_encoder.cpp,
// kDeflateFastestLevel the single-pass fixed-code encoder. Levels outside
// kDeflateMinLevel..kDeflateMaxLevel are taken as the nearest of those.
constexpr int kDeflateFastestLevel = -1;
constexpr int kDeflateMinLevel = -1;
constexpr int kDeflateMaxLevel = 9;
constexpr int kDeflateDefaultLevel = 6;
DeflateSettings deflate_settings_for_level(int level);

// Thrown when a library call fails (which valid arguments never cause).
struct DeflateError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws DeflateError unless the library call `function` returned st Ok.
inline void check_library(const char* function, vekStatus st) {
    if (st != vekStatusOk)
        throw DeflateError(std::string(function) + " failed with status " +
                           std::to_string(static_cast<int>(st)));
}

// One raw Deflate stream at a time. write() may be called any number of
// times with pieces of any size, then finish() completes the stream;
// reset() starts the next one. Memory stays bounded whatever the input
// size: the input passes through a buffer of a few MiB.
class DeflateEncoder {
  public:
    explicit DeflateEncoder(const DeflateSettings& settings);
    ~DeflateEncoder();
    DeflateEncoder(const DeflateEncoder&) = delete;
    DeflateEncoder& operator=(const DeflateEncoder&) = delete;

    void reset();
    void write(const uint8_t* data, size_t n, DeflateSink& sink);
    void finish(DeflateSink& sink);

    // Compresses a whole buffer as one stream into `out` (cleared first).
    void compress(const uint8_t* data, size_t n, std::vector<uint8_t>& out);

    // Blocks written since construction, by kind.
    struct Stats {
        uint64_t dynamic = 0, fixed = 0, stored = 0;
    };
    const Stats& stats() const;

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vekdc
