// Benchmark core: rows, the registry of benchmark families, and the
// interleaved timing every family uses.
//
// A family (checksums now; each codec later) lives in its own file and
// registers itself with VEKDC_BENCH_FAMILY; the bench command runs every
// registered family in order over the corpus and prints all rows together.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_corpus.h"

namespace vekdc {

// Name of this library's rows in the "implementation" column.
constexpr const char* kOurName = "vekdc";

enum class SpeedUnit { GBps, MBps };  // 1e9 / 1e6 bytes per second

struct BenchRow {
    std::string family;          // "CRC-32", later "Deflate" ...
    std::string implementation;  // kOurName or a peer's name
    bool ours = false;
    std::string setting;  // buffer size; a compression level for codecs
    uint64_t bytes = 0;   // input bytes per operation
    double ratio = -1;    // uncompressed / compressed; < 0 when it does not apply
    double bytes_per_second = 0;
    SpeedUnit unit = SpeedUnit::GBps;
    double vs_best_peer = -1;  // filled in by the core for our rows; < 0: no peer
    // Which peer row "vs best peer" divides by: the fastest peer row of the
    // same family and setting (kBest), only the one whose implementation
    // is `peer` (kNamed), or none (kNone).
    enum class Versus { kBest, kNamed, kNone };
    Versus versus = Versus::kBest;
    std::string peer;
    // When not empty, shown in place of the speed (an operation that gives
    // no usable result here, e.g. a status it returned); no "vs" then.
    std::string note;
};

// A row in MB/s of `bytes` per `seconds`. Our rows compare with the fastest
// peer of their setting (kBest), with the peer row named `peer` (kNamed), or
// with none (kNone); peer rows ignore both.
BenchRow mbps_row(const std::string& family, const std::string& implementation, bool ours,
                  const std::string& setting, uint64_t bytes, double ratio, double seconds,
                  BenchRow::Versus versus = BenchRow::Versus::kBest, const char* peer = nullptr);

struct BenchOptions {
    int samples = 7;                   // timed samples per contender (median reported)
    double min_sample_seconds = 0.02;  // each sample repeats the operation at least this long
    bool progress = false;             // short progress notes on stderr
    bool quick = false;                // --quick: families may also use smaller inputs
    // --floats NX NY NZ FILE: float32 arrays for the ZFP rows (in place of
    // their built-in field).
    struct FloatArray {
        size_t nx, ny, nz;
        std::string path;
    };
    std::vector<FloatArray> float_arrays;
};

// `base` with fewer samples (never below 3) where each takes
// `seconds_per_sample`, so that a group of slow rows stays within
// `budget_seconds`.
BenchOptions within_budget(const BenchOptions& base, double budget_seconds,
                           double seconds_per_sample);

// Thrown by a family when an implementation disagrees with ours; the bench
// command prints the message and fails.
struct BenchMismatch : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class BenchContext {
  public:
    BenchContext(const Corpus& corpus, const BenchOptions& options, std::vector<BenchRow>& rows)
        : corpus_(corpus), options_(options), rows_(rows) {}

    const Corpus& corpus() const { return corpus_; }
    const BenchOptions& options() const { return options_; }
    void add_row(BenchRow row) { rows_.push_back(std::move(row)); }
    void progress(const std::string& note) const;

  private:
    const Corpus& corpus_;
    const BenchOptions& options_;
    std::vector<BenchRow>& rows_;
};

struct BenchFamily {
    const char* name;  // for progress notes
    int order;         // families run and print in increasing order
    void (*run)(BenchContext& ctx);
};

// Adds a family to the registry; returns true so that it can initialise a
// static object.
bool register_bench_family(const BenchFamily& family);
// Registered families sorted by order.
std::vector<BenchFamily> bench_families();

#define VEKDC_BENCH_FAMILY_CAT2(a, b) a##b
#define VEKDC_BENCH_FAMILY_CAT(a, b) VEKDC_BENCH_FAMILY_CAT2(a, b)
#define VEKDC_BENCH_FAMILY(name, order, fn)                                   \
    static const bool VEKDC_BENCH_FAMILY_CAT(vekdc_bench_family_, __LINE__) = \
        ::vekdc::register_bench_family({name, order, fn})

// One implementation in a measurement. run(reps) performs the operation
// `reps` times over the same input; results should pass through
// bench_consume so that no work can be dropped.
struct Contender {
    std::string implementation;
    bool ours = false;
    std::function<void(uint64_t reps)> run;
    // Seconds one operation took in a run made just before (caches warm),
    // or 0. Operations this slow (at least twice min_sample_seconds) are
    // timed one per sample without a warm-up or calibration run.
    double seconds_hint = 0;
};

// Times all contenders round-robin (A B C A B C ...): each first gets a
// repetition count that makes one sample last at least min_sample_seconds
// (1 for a contender whose seconds_hint is already long enough),
// then every round takes one sample of each. Returns the median seconds per
// single operation, in the contenders' order.
std::vector<double> measure_interleaved(const std::vector<Contender>& contenders,
                                        const BenchOptions& options);

// Sink for results of timed operations.
void bench_consume(uint64_t value);

// Seconds from a monotonic clock.
double monotonic_seconds();

}  // namespace vekdc
