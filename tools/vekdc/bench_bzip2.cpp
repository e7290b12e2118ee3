// Benchmark rows of whole .bz2 streams: every corpus item compressed and
// decompressed as one stream by this library's pipeline (the tool's
// container code, level 9) and by libbz2 at block size 9
// (BZ2_bzBuffToBuffCompress/Decompress):
//
//   family             ours                                   peer row
//   bzip2 compress     item -> .bz2 stream, level 9             libbz2 -9
//   bzip2 decompress   libbz2's -9 stream of the item -> item   libbz2
//
// Both decompress rows decode the same stream (libbz2's; without libbz2 our
// row decodes our own stream). Speeds are of
// the uncompressed size; the compress rows carry each side's ratio, the
// decompress rows the ratio of the stream they read. Before any timing our
// stream must decompress with libbz2 and libbz2's with ours, to the item.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "bz2_container.h"
#include "peers_bzip2.h"

namespace vekdc {

namespace {

constexpr int kLevel = 9;
constexpr double kGroupBudgetSeconds = 4.0;
const char* const kPeerName = "libbz2 -9";

using Buffer = std::shared_ptr<std::vector<uint8_t>>;
Buffer make_buffer(size_t n) {
    return std::make_shared<std::vector<uint8_t>>(n);
}

// Writes into a preallocated buffer.
class FixedSink : public bz2::ByteSink {
  public:
    FixedSink(uint8_t* p, size_t cap) : p_(p), cap_(cap) {}
    void put(const uint8_t* p, size_t n) override {
        if (n > cap_ - len_) throw BenchMismatch("bzip2 output larger than expected");
        std::memcpy(p_ + len_, p, n);
        len_ += n;
    }
    size_t size() const { return len_; }

  private:
    uint8_t* p_;
    size_t cap_;
    size_t len_ = 0;
};

size_t our_compress(const uint8_t* src, size_t n, std::vector<uint8_t>& dst) {
    FixedSink sink(dst.data(), dst.size());
    bz2::Encoder enc(kLevel);
    enc.write(src, n, sink);
    enc.finish(sink);
    return sink.size();
}

size_t our_decompress(const uint8_t* src, size_t n, std::vector<uint8_t>& dst) {
    FixedSink sink(dst.data(), dst.size());
    bz2::MemorySource in(src, n);
    bz2::Decoder dec;
    dec.run(in, sink);
    return sink.size();
}

BenchOptions options_for(const BenchOptions& base, double seconds_per_round) {
    return within_budget(base, kGroupBudgetSeconds,
                         std::max(seconds_per_round, 2 * base.min_sample_seconds));
}

BenchRow make_row(const std::string& family, const std::string& impl, bool ours,
                  const std::string& setting, uint64_t bytes, double ratio, double seconds,
                  bool versus_peer) {
    return mbps_row(family, impl, ours, setting, bytes, ratio, seconds,
                    versus_peer ? BenchRow::Versus::kNamed : BenchRow::Versus::kNone,
                    versus_peer ? kPeerName : nullptr);
}

void run_bzip2(BenchContext& ctx) {
    const Bzip2Peer* peer = bzip2_peer();
    std::vector<BenchRow> comp_rows, decomp_rows;
    for (const CorpusItem& item : ctx.corpus().items) {
        const size_t total = item.data.size();
        const uint8_t* src = item.data.data();
        const std::string setting = item.name + ", level 9";
        ctx.progress("bzip2 " + setting);
        Buffer ours = make_buffer(bzip2_bound(total) + (64 << 10));
        Buffer back = make_buffer(total);

        double t0 = monotonic_seconds();
        size_t our_len = 0;
        try {
            our_len = our_compress(src, total, *ours);
        } catch (const bz2::Bz2Error& e) {
            throw BenchMismatch(std::string("bzip2 compression failed on ") + setting + ": " +
                                e.what());
        }
        const double our_comp_s = monotonic_seconds() - t0;
        const double our_ratio = static_cast<double>(total) / static_cast<double>(our_len);

        std::vector<Contender> comp = {{kOurName, true,
                                        [src, total, ours](uint64_t reps) {
                                            uint64_t acc = 0;
                                            for (uint64_t r = 0; r < reps; ++r)
                                                acc += our_compress(src, total, *ours);
                                            bench_consume(acc);
                                        },
                                        our_comp_s}};
        std::vector<Contender> decomp;
        double peer_ratio = -1, peer_comp_s = 0, round_s = our_comp_s;
        if (peer) {
            if (peer->decompress(ours->data(), our_len, back->data(), total) !=
                    static_cast<long long>(total) ||
                std::memcmp(back->data(), src, total) != 0)
                throw BenchMismatch("libbz2 does not give back our stream of " + setting);
            auto stream = make_buffer(bzip2_bound(total));
            t0 = monotonic_seconds();
            const size_t len = peer->compress(src, total, stream->data(), stream->size());
            peer_comp_s = monotonic_seconds() - t0;
            if (len == 0) throw BenchMismatch("libbz2 failed to compress " + setting);
            stream->resize(len);
            peer_ratio = static_cast<double>(total) / static_cast<double>(len);
            auto scratch = make_buffer(bzip2_bound(total));
            comp.push_back({kPeerName, false,
                            [peer, src, total, scratch](uint64_t reps) {
                                uint64_t acc = 0;
                                for (uint64_t r = 0; r < reps; ++r)
                                    acc += peer->compress(src, total, scratch->data(),
                                                          scratch->size());
                                bench_consume(acc);
                            },
                            peer_comp_s});

            t0 = monotonic_seconds();
            size_t got = 0;
            try {
                got = our_decompress(stream->data(), len, *back);
            } catch (const bz2::Bz2Error& e) {
                throw BenchMismatch("our decoder refuses libbz2's stream of " + setting + ": " +
                                    e.what());
            }
            const double our_dec_s = monotonic_seconds() - t0;
            if (got != total || std::memcmp(back->data(), src, total) != 0)
                throw BenchMismatch("our decoder does not give back libbz2's stream of " + setting);
            t0 = monotonic_seconds();
            peer->decompress(stream->data(), len, back->data(), total);
            const double peer_dec_s = monotonic_seconds() - t0;
            decomp.push_back({kOurName, true,
                              [stream, back](uint64_t reps) {
                                  uint64_t acc = 0;
                                  for (uint64_t r = 0; r < reps; ++r)
                                      acc += our_decompress(stream->data(), stream->size(), *back);
                                  bench_consume(acc);
                              },
                              our_dec_s});
            decomp.push_back({kPeerName, false,
                              [peer, stream, back, total](uint64_t reps) {
                                  uint64_t acc = 0;
                                  for (uint64_t r = 0; r < reps; ++r)
                                      acc += static_cast<uint64_t>(peer->decompress(
                                          stream->data(), stream->size(), back->data(), total));
                                  bench_consume(acc);
                              },
                              peer_dec_s});
            round_s += peer_comp_s;
            std::vector<double> s =
                measure_interleaved(decomp, options_for(ctx.options(), our_dec_s + peer_dec_s));
            decomp_rows.push_back(make_row("bzip2 decompress", kOurName, true, setting, total,
                                           peer_ratio, s[0], true));
            decomp_rows.push_back(make_row("bzip2 decompress", kPeerName, false, setting, total,
                                           peer_ratio, s[1], false));
        } else {
            // Without libbz2: our decoder on our own stream.
            ours->resize(our_len);
            t0 = monotonic_seconds();
            if (our_decompress(ours->data(), our_len, *back) != total ||
                std::memcmp(back->data(), src, total) != 0)
                throw BenchMismatch("our decoder does not give back our stream of " + setting);
            const double our_dec_s = monotonic_seconds() - t0;
            decomp.push_back({kOurName, true,
                              [ours, back](uint64_t reps) {
                                  uint64_t acc = 0;
                                  for (uint64_t r = 0; r < reps; ++r)
                                      acc += our_decompress(ours->data(), ours->size(), *back);
                                  bench_consume(acc);
                              },
                              our_dec_s});
            std::vector<double> s =
                measure_interleaved(decomp, options_for(ctx.options(), our_dec_s));
            decomp_rows.push_back(make_row("bzip2 decompress", kOurName, true, setting, total,
                                           our_ratio, s[0], false));
            ours->resize(bzip2_bound(total) + (64 << 10));
        }
        std::vector<double> s = measure_interleaved(comp, options_for(ctx.options(), round_s));
        comp_rows.push_back(make_row("bzip2 compress", kOurName, true, setting, total, our_ratio,
                                     s[0], peer != nullptr));
        if (peer)
            comp_rows.push_back(make_row("bzip2 compress", kPeerName, false, setting, total,
                                         peer_ratio, s[1], false));
    }
    for (BenchRow& r : comp_rows) ctx.add_row(std::move(r));
    for (BenchRow& r : decomp_rows) ctx.add_row(std::move(r));
}

}  // namespace

VEKDC_BENCH_FAMILY("bzip2", 61, run_bzip2);

}  // namespace vekdc
