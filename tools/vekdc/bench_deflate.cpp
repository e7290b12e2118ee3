// Benchmark rows of Deflate compression: every corpus item compressed as
// one complete raw Deflate stream (no container, no checksum) by
//
//   vekdc -1 .. -9, vekdc fastest   our DeflateEncoder at the tool's levels
//                                   (deflate_encoder.cpp): the single-pass
//                                   encoder with codes fitted to a sample
//   vekdc fastest fixed             the same with the fixed codes
//   zlib -1, -6, -9                 deflate() with windowBits -15
//   libdeflate -1, -6, -9, -12      libdeflate_deflate_compress
//   ISA-L -0 .. -3                  isal_deflate, IGZIP_DEFLATE output, level
//                                   buffers of the header's default sizes
//
// each with its state made once and reused. With --quick only the first
// MiB of each item is compressed (the setting says so). Ratio is input size over
// stream size, speed is of the uncompressed size. "vs best peer" of our
// levels 1, 6 and 9 is our speed over zlib's at the same level, of our
// fastest level over ISA-L -1's (nearest in ratio) and of its fixed-code
// form over ISA-L -0's; the other rows of ours show none. Before any timing every
// stream is decoded by zlib's raw inflate and must give back the input; a
// build without zlib (no peers) therefore has no Deflate rows.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "cli.h"
#include "deflate_encoder.h"
#include "peers.h"

namespace vekdc {

namespace {

// Wall time one corpus item's measurement (all contenders, all samples)
// should stay within; slow items take fewer samples, never fewer than 3.
constexpr double kItemBudgetSeconds = 14.0;
// Input per item with --quick.
constexpr size_t kQuickBytes = size_t(1) << 20;

using CompressFn = std::function<size_t(const uint8_t* src, size_t n, uint8_t* dst, size_t cap)>;

struct Compressor {
    std::string implementation;
    bool ours = false;
    std::string versus;  // for ours: the zlib row it is compared with, or empty
    CompressFn compress;
};

// Collects the encoder's output in a caller's buffer.
class SpanSink : public DeflateSink {
  public:
    SpanSink(uint8_t* dst, size_t cap) : dst_(dst), cap_(cap) {}
    void put(const uint8_t* data, size_t n) override {
        if (n > cap_ - size_) {
            overflow_ = true;
            n = cap_ - size_;
        }
        std::memcpy(dst_ + size_, data, n);
        size_ += n;
    }
    size_t size() const { return overflow_ ? 0 : size_; }

  private:
    uint8_t* dst_;
    size_t cap_;
    size_t size_ = 0;
    bool overflow_ = false;
};

Compressor our_compressor(int level, bool fixed_codes = false) {
    DeflateSettings settings = deflate_settings_for_level(level);
    settings.fastest_fixed_codes = fixed_codes;
    auto encoder = std::make_shared<DeflateEncoder>(settings);
    Compressor c;
    c.implementation = level == kDeflateFastestLevel
                           ? std::string(kOurName) + (fixed_codes ? " fastest fixed" : " fastest")
                           : std::string(kOurName) + " -" + std::to_string(level);
    c.ours = true;
    if (level == 1 || level == 6 || level == 9) c.versus = "zlib -" + std::to_string(level);
    // The fastest level against the ISA-L level nearest in ratio.
    if (level == kDeflateFastestLevel) c.versus = fixed_codes ? "ISA-L -0" : "ISA-L -1";
    c.compress = [encoder](const uint8_t* src, size_t n, uint8_t* dst, size_t cap) -> size_t {
        SpanSink sink(dst, cap);
        encoder->reset();
        encoder->write(src, n, sink);
        encoder->finish(sink);
        return sink.size();
    };
    return c;
}

BenchOptions options_for(const BenchOptions& base, double seconds_per_round) {
    return within_budget(base, kItemBudgetSeconds, seconds_per_round);
}

void run_deflate(BenchContext& ctx) {
    const RawInflateFn inflate_raw = raw_inflate_peer();
    if (!inflate_raw) return;  // nothing could check the streams

    std::vector<Compressor> compressors;
    compressors.push_back(our_compressor(kDeflateFastestLevel));
    compressors.push_back(our_compressor(kDeflateFastestLevel, true));
    for (int level = 1; level <= 9; ++level) compressors.push_back(our_compressor(level));
    for (DeflatePeer& p : deflate_peers())
        compressors.push_back({p.name, false, std::string(), std::move(p.compress)});

    for (const CorpusItem& item : ctx.corpus().items) {
        const uint8_t* src = item.data.data();
        size_t n = item.data.size();
        std::string setting = item.name;
        if (ctx.options().quick && n > kQuickBytes) {
            n = kQuickBytes;
            setting += ", first " + format_size(n);
        }
        const size_t cap = deflate_peer_bound(n);
        auto scratch = std::make_shared<std::vector<uint8_t>>(cap);
        std::vector<uint8_t> check(n + 1);

        // One run of each for its size and a timing hint, then zlib's
        // inflate must give back the input.
        std::vector<Contender> contenders;
        std::vector<double> ratios;
        double round = 0;
        for (const Compressor& c : compressors) {
            ctx.progress("Deflate " + c.implementation + " " + item.name);
            size_t size = 0;
            double seconds = 0;
            try {
                const double t0 = monotonic_seconds();
                size = c.compress(src, n, scratch->data(), cap);
                seconds = monotonic_seconds() - t0;
            } catch (const DeflateError& e) {
                throw BenchMismatch("Deflate: " + c.implementation + " on " + item.name + ": " +
                                    e.what());
            }
            if (size == 0)
                throw BenchMismatch("Deflate: " + c.implementation + " failed on " + item.name);
            const long long got = inflate_raw(scratch->data(), size, check.data(), check.size());
            if (got != static_cast<long long>(n) || std::memcmp(check.data(), src, n) != 0)
                throw BenchMismatch("Deflate: the stream of " + c.implementation + " for " +
                                    item.name + " does not inflate to the input");
            ratios.push_back(static_cast<double>(n) / static_cast<double>(size));
            round += seconds;
            const CompressFn fn = c.compress;
            contenders.push_back({c.implementation, c.ours,
                                  [fn, src, n, scratch, cap](uint64_t reps) {
                                      uint64_t acc = 0;
                                      for (uint64_t r = 0; r < reps; ++r)
                                          acc += fn(src, n, scratch->data(), cap);
                                      bench_consume(acc);
                                  },
                                  seconds});
        }
        ctx.progress("Deflate " + item.name);
        const std::vector<double> seconds =
            measure_interleaved(contenders, options_for(ctx.options(), round));
        for (size_t i = 0; i < compressors.size(); ++i) {
            const Compressor& c = compressors[i];
            BenchRow r;
            r.family = "Deflate";
            r.implementation = c.implementation;
            r.ours = c.ours;
            r.setting = setting;
            r.bytes = n;
            r.ratio = ratios[i];
            r.bytes_per_second = static_cast<double>(n) / seconds[i];
            r.unit = SpeedUnit::MBps;
            if (c.ours) {
                r.versus = c.versus.empty() ? BenchRow::Versus::kNone : BenchRow::Versus::kNamed;
                r.peer = c.versus;
            }
            ctx.add_row(std::move(r));
        }
    }
}

}  // namespace

VEKDC_BENCH_FAMILY("Deflate", 30, run_deflate);

}  // namespace vekdc
