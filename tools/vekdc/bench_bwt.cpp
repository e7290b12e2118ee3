// Benchmark rows of the Burrows-Wheeler transform. Every corpus item is cut
// into 900,000-byte blocks (the last one shorter), the block size of
// bzip2's level 9, and timed as
//
//   family        ours                               reference row
//   BWT forward   veksBWTFwd_8u on every block       libbz2 -9 compress
//   BWT inverse   veksBWTInv_8u on every block       libbz2 -9 decompress
//
// The reference rows are libbz2's whole compression and decompression of
// the item at block size 9 (BZ2_bzBuffToBuffCompress/Decompress), so "vs"
// tells how the transform alone compares with the complete codec it is one
// stage of; it divides by that named row. Speeds are of the uncompressed
// size; libbz2's rows carry its compression ratio. Before any timing every
// block's transform must invert to the block, and libbz2's stream must
// decompress to the item.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "peers_bzip2.h"
#include "vekdc.h"

namespace vekdc {

namespace {

constexpr size_t kBlock = 900000;
constexpr double kGroupBudgetSeconds = 3.0;
const char* const kCompressRow = "libbz2 -9 compress";
const char* const kDecompressRow = "libbz2 -9 decompress";

using Buffer = std::shared_ptr<std::vector<uint8_t>>;
Buffer make_buffer(size_t n) {
    return std::make_shared<std::vector<uint8_t>>(n);
}

struct Block {
    const uint8_t* src;
    int32_t n;
    size_t at;  // offset in the item
};

BenchOptions options_for(const BenchOptions& base, double seconds_per_round) {
    BenchOptions o = base;
    const double per_sample = std::max(seconds_per_round, 2 * o.min_sample_seconds);
    o.samples =
        std::max(3, std::min(o.samples, static_cast<int>(kGroupBudgetSeconds / per_sample)));
    return o;
}

// Our rows compare with the named libbz2 row, or with none.
BenchRow make_row(const std::string& family, const std::string& impl, bool ours,
                  const std::string& setting, uint64_t bytes, double ratio, double seconds,
                  const char* versus) {
    return mbps_row(family, impl, ours, setting, bytes, ratio, seconds,
                    versus ? BenchRow::Versus::kNamed : BenchRow::Versus::kNone, versus);
}

void run_bwt(BenchContext& ctx) {
    const Bzip2Peer* peer = bzip2_peer();
    std::vector<BenchRow> fwd_rows, inv_rows;
    for (const CorpusItem& item : ctx.corpus().items) {
        const size_t total = item.data.size();
        const std::string setting = item.name + ", " + std::to_string(kBlock) + "-byte blocks";
        std::vector<Block> blocks;
        for (size_t at = 0; at < total; at += kBlock)
            blocks.push_back(
                {item.data.data() + at, static_cast<int32_t>(std::min(kBlock, total - at)), at});
        const int32_t largest = blocks.front().n;
        int32_t fwd_size = 0, inv_size = 0;
        veksBWTFwdGetSize_8u(largest, &fwd_size);
        veksBWTInvGetSize_8u(largest, &inv_size);
        Buffer fwd_work = make_buffer(static_cast<size_t>(fwd_size));
        Buffer inv_work = make_buffer(static_cast<size_t>(inv_size));
        Buffer last = make_buffer(total), back = make_buffer(total);
        auto index = std::make_shared<std::vector<int32_t>>(blocks.size());

        ctx.progress("BWT " + setting);
        double fwd_seconds = 0, inv_seconds = 0;
        for (size_t b = 0; b < blocks.size(); ++b) {
            const Block& blk = blocks[b];
            double t0 = monotonic_seconds();
            if (veksBWTFwd_8u(blk.src, last->data() + blk.at, blk.n, &(*index)[b],
                              fwd_work->data()) != vekStatusOk)
                throw BenchMismatch("BWT forward failed on " + setting);
            fwd_seconds += monotonic_seconds() - t0;
            t0 = monotonic_seconds();
            if (veksBWTInv_8u(last->data() + blk.at, back->data() + blk.at, blk.n, (*index)[b],
                              inv_work->data()) != vekStatusOk ||
                std::memcmp(back->data() + blk.at, blk.src, static_cast<size_t>(blk.n)) != 0)
                throw BenchMismatch("BWT inverse does not give back block " + std::to_string(b) +
                                    " of " + setting);
            inv_seconds += monotonic_seconds() - t0;
        }
        const std::vector<Block>* bl = &blocks;

        std::vector<Contender> fwd = {{kOurName, true,
                                       [bl, last, index, fwd_work](uint64_t reps) {
                                           uint64_t acc = 0;
                                           for (uint64_t r = 0; r < reps; ++r)
                                               for (size_t b = 0; b < bl->size(); ++b) {
                                                   const Block& k = (*bl)[b];
                                                   int32_t idx = 0;
                                                   veksBWTFwd_8u(k.src, last->data() + k.at, k.n,
                                                                 &idx, fwd_work->data());
                                                   acc += static_cast<uint64_t>(idx);
                                               }
                                           bench_consume(acc);
                                       },
                                       fwd_seconds}};
        std::vector<Contender> inv = {{kOurName, true,
                                       [bl, last, back, index, inv_work](uint64_t reps) {
                                           uint64_t acc = 0;
                                           for (uint64_t r = 0; r < reps; ++r)
                                               for (size_t b = 0; b < bl->size(); ++b) {
                                                   const Block& k = (*bl)[b];
                                                   veksBWTInv_8u(last->data() + k.at,
                                                                 back->data() + k.at, k.n,
                                                                 (*index)[b], inv_work->data());
                                                   acc += back->data()[k.at];
                                               }
                                           bench_consume(acc);
                                       },
                                       inv_seconds}};
        double ratio = -1, peer_fwd = 0, peer_inv = 0;
        if (peer) {
            auto stream = make_buffer(bzip2_bound(total));
            const uint8_t* src = item.data.data();
            double t0 = monotonic_seconds();
            const size_t len = peer->compress(src, total, stream->data(), stream->size());
            peer_fwd = monotonic_seconds() - t0;
            if (len == 0) throw BenchMismatch("libbz2 failed to compress " + setting);
            stream->resize(len);
            ratio = static_cast<double>(total) / static_cast<double>(len);
            t0 = monotonic_seconds();
            if (peer->decompress(stream->data(), len, back->data(), total) !=
                    static_cast<long long>(total) ||
                std::memcmp(back->data(), src, total) != 0)
                throw BenchMismatch("libbz2 does not give back " + setting);
            peer_inv = monotonic_seconds() - t0;
            auto scratch = make_buffer(bzip2_bound(total));
            fwd.push_back({kCompressRow, false,
                           [peer, src, total, scratch](uint64_t reps) {
                               uint64_t acc = 0;
                               for (uint64_t r = 0; r < reps; ++r)
                                   acc +=
                                       peer->compress(src, total, scratch->data(), scratch->size());
                               bench_consume(acc);
                           },
                           peer_fwd});
            auto out = make_buffer(total);
            inv.push_back({kDecompressRow, false,
                           [peer, stream, total, out](uint64_t reps) {
                               uint64_t acc = 0;
                               for (uint64_t r = 0; r < reps; ++r)
                                   acc += static_cast<uint64_t>(peer->decompress(
                                       stream->data(), stream->size(), out->data(), total));
                               bench_consume(acc);
                           },
                           peer_inv});
        }
        const char* fwd_vs = peer ? kCompressRow : nullptr;
        const char* inv_vs = peer ? kDecompressRow : nullptr;
        std::vector<double> s =
            measure_interleaved(fwd, options_for(ctx.options(), fwd_seconds + peer_fwd));
        fwd_rows.push_back(
            make_row("BWT forward", kOurName, true, setting, total, -1, s[0], fwd_vs));
        if (peer)
            fwd_rows.push_back(
                make_row("BWT forward", kCompressRow, false, setting, total, ratio, s[1], nullptr));
        s = measure_interleaved(inv, options_for(ctx.options(), inv_seconds + peer_inv));
        inv_rows.push_back(
            make_row("BWT inverse", kOurName, true, setting, total, -1, s[0], inv_vs));
        if (peer)
            inv_rows.push_back(make_row("BWT inverse", kDecompressRow, false, setting, total, ratio,
                                        s[1], nullptr));
    }
    for (BenchRow& r : fwd_rows) ctx.add_row(std::move(r));
    for (BenchRow& r : inv_rows) ctx.add_row(std::move(r));
}

}  // namespace

VEKDC_BENCH_FAMILY("BWT", 60, run_bwt);

}  // namespace vekdc
