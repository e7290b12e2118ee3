// Benchmark rows of the checksum families: every checksum of the library
// against the peers that compute the same function, on 4 KiB, 256 KiB and
// 16 MiB buffers cut from the corpus.
#include <cstdio>
#include <map>

#include "bench.h"
#include "checksums.h"
#include "cli.h"
#include "peers.h"

namespace vekdc {

namespace {

const size_t kBufferSizes[] = {size_t(4) << 10, size_t(256) << 10, size_t(16) << 20};

struct Impl {
    const char* name;
    bool ours;
    ChecksumUpdate update;
};

void run_checksums(BenchContext& ctx) {
    std::map<size_t, std::vector<uint8_t>> buffers;
    for (size_t size : kBufferSizes) buffers[size] = ctx.corpus().sample(size);

    size_t count = 0;
    const ChecksumAlgo* algos = checksum_algos(&count);
    for (size_t a = 0; a < count; ++a) {
        const ChecksumAlgo& algo = algos[a];
        std::vector<Impl> impls = {{kOurName, true, algo.update}};
        for (const ChecksumPeer& p : checksum_peers(algo.kind))
            impls.push_back({p.name, false, p.update});

        for (size_t size : kBufferSizes) {
            const std::vector<uint8_t>& buf = buffers[size];
            ctx.progress(std::string(algo.family) + " " + format_size(size));

            // Every implementation must agree with ours before any timing.
            const uint32_t expected = algo.update(algo.start, buf.data(), buf.size());
            for (const Impl& im : impls) {
                const uint32_t got = im.update(algo.start, buf.data(), buf.size());
                if (got != expected) {
                    char msg[200];
                    std::snprintf(msg, sizeof msg, "%s on %s: %s gives %08x, %s gives %08x",
                                  algo.family, format_size(size).c_str(), im.name,
                                  static_cast<unsigned>(got), kOurName,
                                  static_cast<unsigned>(expected));
                    throw BenchMismatch(msg);
                }
            }

            std::vector<Contender> contenders;
            for (const Impl& im : impls) {
                const ChecksumUpdate fn = im.update;
                const uint32_t start = algo.start;
                const uint8_t* p = buf.data();
                const size_t n = buf.size();
                contenders.push_back({im.name, im.ours, [fn, start, p, n](uint64_t reps) {
                                          uint32_t acc = 0;
                                          for (uint64_t r = 0; r < reps; ++r)
                                              acc ^= fn(start + static_cast<uint32_t>(r & 1), p, n);
                                          bench_consume(acc);
                                      }});
            }
            const std::vector<double> seconds = measure_interleaved(contenders, ctx.options());
            for (size_t i = 0; i < impls.size(); ++i) {
                BenchRow row;
                row.family = algo.family;
                row.implementation = impls[i].name;
                row.ours = impls[i].ours;
                row.setting = format_size(size);
                row.bytes = size;
                row.bytes_per_second = static_cast<double>(size) / seconds[i];
                row.unit = SpeedUnit::GBps;
                ctx.add_row(std::move(row));
            }
        }
    }
}

}  // namespace

VEKDC_BENCH_FAMILY("checksums", 10, run_checksums);

}  // namespace vekdc
