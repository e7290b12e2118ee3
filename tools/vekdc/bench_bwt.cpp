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
//
// With the built-in corpus, rows of the blocks that are hardest to sort
// follow: one 900,000-byte block each of long repeats (a random half
// repeated), a run of one byte with a single other byte, a Fibonacci string
// and a two-byte period, generated in memory. The forward rows time every
// sort hint that completes (unlimited, suffix, auto; veksBWTFwd_8u takes the
// auto path) and show the limited hint's status where its budget runs out;
// the unlimited sort is quadratic on the repetitive kinds, so it sorts a
// shorter block of the same kind there (its setting says so). libbz2's
// -9 codec on the same block is the reference row again.
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
    return within_budget(base, kGroupBudgetSeconds,
                         std::max(seconds_per_round, 2 * base.min_sample_seconds));
}

// Our rows compare with the named libbz2 row, or with none.
BenchRow make_row(const std::string& family, const std::string& impl, bool ours,
                  const std::string& setting, uint64_t bytes, double ratio, double seconds,
                  const char* versus) {
    return mbps_row(family, impl, ours, setting, bytes, ratio, seconds,
                    versus ? BenchRow::Versus::kNamed : BenchRow::Versus::kNone, versus);
}

// --- Worst cases of the sort --------------------------------------------------------------

struct WorstCase {
    const char* name;
    std::vector<uint8_t> (*make)(size_t n);
    // Block the unlimited sort gets: the full block where it stays fast,
    // a shorter one where its time grows with the square of the length.
    size_t unlimited_block;
};

std::vector<uint8_t> random_half_twice(size_t n) {
    std::vector<uint8_t> v = make_random(n / 2, 0x6861766C66ull);
    v.resize(n);
    for (size_t i = n / 2; i < n; ++i) v[i] = v[i - n / 2];
    return v;
}

std::vector<uint8_t> run_with_one_other(size_t n) {
    std::vector<uint8_t> v(n, 'a');
    v[n / 2] = 'b';
    return v;
}

// The Fibonacci word (a, ab, aba, abaab, ...: each the previous two
// joined) cut to n bytes: rich in long repeats at every scale.
std::vector<uint8_t> fibonacci(size_t n) {
    std::vector<uint8_t> prev = {'a'}, cur = {'a', 'b'};
    while (cur.size() < n) {
        std::vector<uint8_t> next = cur;
        next.insert(next.end(), prev.begin(), prev.end());
        prev = std::move(cur);
        cur = std::move(next);
    }
    cur.resize(n);
    return cur;
}

std::vector<uint8_t> period_two(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = i % 2 ? 'b' : 'a';
    return v;
}

const WorstCase kWorstCases[] = {
    {"random half repeated", random_half_twice, 100000},
    {"one-byte run + 1 other", run_with_one_other, kBlock},
    {"fibonacci", fibonacci, 30000},
    {"ab repeated", period_two, 20000},
};

struct Hint {
    vekBWTSortHint hint;
    const char* impl;
};
const Hint kHints[] = {
    {vekBWTSortLimited, "vekdc limited (0)"},
    {vekBWTSortUnlimited, "vekdc unlimited (1)"},
    {vekBWTSortSuffix, "vekdc suffix (2)"},
    {vekBWTSortAuto, "vekdc auto (3)"},
};

std::string block_setting(const char* kind, size_t n) {
    return std::string(kind) + ", " + std::to_string(n) + "-byte block";
}

// Forward transform of src under `hint` into last/index; the status, and
// the seconds it took in *seconds. A completed transform must invert.
vekStatus forward_checked(const std::vector<uint8_t>& src, vekBWTSortHint hint, uint8_t* last,
                          uint32_t* index, uint8_t* work, uint8_t* inv_work, uint8_t* back,
                          const std::string& what, double* seconds) {
    const uint32_t n = static_cast<uint32_t>(src.size());
    const double t0 = monotonic_seconds();
    const vekStatus st = veksBWTFwd_SelectSort_8u(src.data(), last, n, index, work, hint);
    *seconds = monotonic_seconds() - t0;
    if (st == vekStatusSortLimitReached && hint == vekBWTSortLimited) return st;
    if (st != vekStatusOk) throw BenchMismatch("BWT forward failed on " + what);
    if (veksBWTInv_8u(last, back, static_cast<int32_t>(n), static_cast<int32_t>(*index),
                      inv_work) != vekStatusOk ||
        std::memcmp(back, src.data(), n) != 0)
        throw BenchMismatch("BWT inverse does not give back " + what);
    return st;
}

// Slow rows take one sample each under --quick, so that these blocks add
// only a few seconds to a quick run.
BenchOptions worst_options(const BenchOptions& base, double seconds_per_round) {
    BenchOptions o = options_for(base, seconds_per_round);
    if (base.quick && seconds_per_round >= 2 * o.min_sample_seconds) o.samples = 1;
    return o;
}

void add_worst_case_rows(BenchContext& ctx, const Bzip2Peer* peer, std::vector<BenchRow>& fwd_rows,
                         std::vector<BenchRow>& inv_rows) {
    uint32_t fwd_size = 0;
    veksBWTFwdGetBufSize_SelectSort_8u(kBlock, &fwd_size, vekBWTSortAuto);
    int32_t inv_size = 0;
    veksBWTInvGetSize_8u(kBlock, &inv_size);
    Buffer work = make_buffer(fwd_size), inv_work = make_buffer(static_cast<size_t>(inv_size));
    Buffer back = make_buffer(kBlock);
    for (const WorstCase& wc : kWorstCases) {
        auto src = std::make_shared<const std::vector<uint8_t>>(wc.make(kBlock));
        auto shorter = std::make_shared<const std::vector<uint8_t>>(wc.make(wc.unlimited_block));
        const std::string setting = block_setting(wc.name, kBlock);
        const std::string short_setting =
            block_setting(wc.name, wc.unlimited_block) + " (sort quadratic here)";
        ctx.progress("BWT " + setting);

        std::vector<Contender> fwd;
        std::vector<BenchRow> rows;  // our forward rows; speeds filled in below
        std::vector<size_t> timed;   // rows[timed[i]] belongs to fwd[i]
        double fwd_seconds = 0;
        Buffer last = make_buffer(kBlock);
        uint32_t index = 0;
        for (const Hint& h : kHints) {
            const bool full = h.hint != vekBWTSortUnlimited || wc.unlimited_block == kBlock;
            auto block = full ? src : shorter;
            const std::string& set = full ? setting : short_setting;
            double secs = 0;
            const vekStatus st = forward_checked(*block, h.hint, last->data(), &index, work->data(),
                                                 inv_work->data(), back->data(), set, &secs);
            const char* vs = peer && full ? kCompressRow : nullptr;
            rows.push_back(make_row("BWT forward", h.impl, true, set, block->size(), -1, 1, vs));
            if (st != vekStatusOk) {
                rows.back().note = "sort limit (" + std::to_string(st) + ")";
                rows.back().versus = BenchRow::Versus::kNone;
                continue;
            }
            timed.push_back(rows.size() - 1);
            fwd_seconds += secs;
            const vekBWTSortHint hint = h.hint;
            fwd.push_back({h.impl, true,
                           [block, hint, last, work](uint64_t reps) {
                               uint64_t acc = 0;
                               for (uint64_t r = 0; r < reps; ++r) {
                                   uint32_t idx = 0;
                                   veksBWTFwd_SelectSort_8u(block->data(), last->data(),
                                                            static_cast<uint32_t>(block->size()),
                                                            &idx, work->data(), hint);
                                   acc += idx;
                               }
                               bench_consume(acc);
                           },
                           secs});
        }

        // The inverse of the full block's transform (auto's, the last one
        // made), kept apart from the buffer the timed forward runs write.
        Buffer column = make_buffer(kBlock);
        std::memcpy(column->data(), last->data(), kBlock);
        double t0 = monotonic_seconds();
        veksBWTInv_8u(column->data(), back->data(), static_cast<int32_t>(kBlock),
                      static_cast<int32_t>(index), inv_work->data());
        double inv_seconds = monotonic_seconds() - t0;
        if (std::memcmp(back->data(), src->data(), kBlock) != 0)
            throw BenchMismatch("BWT inverse does not give back " + setting);
        const int32_t primary = static_cast<int32_t>(index);
        std::vector<Contender> inv = {{kOurName, true,
                                       [column, back, primary, inv_work](uint64_t reps) {
                                           uint64_t acc = 0;
                                           for (uint64_t r = 0; r < reps; ++r) {
                                               veksBWTInv_8u(column->data(), back->data(),
                                                             static_cast<int32_t>(kBlock), primary,
                                                             inv_work->data());
                                               acc += back->data()[r % kBlock];
                                           }
                                           bench_consume(acc);
                                       },
                                       inv_seconds}};

        double ratio = -1, peer_fwd = 0, peer_inv = 0;
        if (peer) {
            auto stream = make_buffer(bzip2_bound(kBlock));
            t0 = monotonic_seconds();
            const size_t len = peer->compress(src->data(), kBlock, stream->data(), stream->size());
            peer_fwd = monotonic_seconds() - t0;
            if (len == 0) throw BenchMismatch("libbz2 failed to compress " + setting);
            stream->resize(len);
            ratio = static_cast<double>(kBlock) / static_cast<double>(len);
            t0 = monotonic_seconds();
            if (peer->decompress(stream->data(), len, back->data(), kBlock) !=
                    static_cast<long long>(kBlock) ||
                std::memcmp(back->data(), src->data(), kBlock) != 0)
                throw BenchMismatch("libbz2 does not give back " + setting);
            peer_inv = monotonic_seconds() - t0;
            auto scratch = make_buffer(bzip2_bound(kBlock));
            fwd.push_back({kCompressRow, false,
                           [peer, src, scratch](uint64_t reps) {
                               uint64_t acc = 0;
                               for (uint64_t r = 0; r < reps; ++r)
                                   acc += peer->compress(src->data(), kBlock, scratch->data(),
                                                         scratch->size());
                               bench_consume(acc);
                           },
                           peer_fwd});
            auto out = make_buffer(kBlock);
            inv.push_back({kDecompressRow, false,
                           [peer, stream, out](uint64_t reps) {
                               uint64_t acc = 0;
                               for (uint64_t r = 0; r < reps; ++r)
                                   acc += static_cast<uint64_t>(peer->decompress(
                                       stream->data(), stream->size(), out->data(), kBlock));
                               bench_consume(acc);
                           },
                           peer_inv});
        }

        std::vector<double> s =
            measure_interleaved(fwd, worst_options(ctx.options(), fwd_seconds + peer_fwd));
        for (size_t i = 0; i < timed.size(); ++i) {
            BenchRow& r = rows[timed[i]];
            r.bytes_per_second = static_cast<double>(r.bytes) / s[i];
        }
        for (BenchRow& r : rows) fwd_rows.push_back(std::move(r));
        if (peer)
            fwd_rows.push_back(make_row("BWT forward", kCompressRow, false, setting, kBlock, ratio,
                                        s.back(), nullptr));
        s = measure_interleaved(inv, worst_options(ctx.options(), inv_seconds + peer_inv));
        inv_rows.push_back(make_row("BWT inverse", kOurName, true, setting, kBlock, -1, s[0],
                                    peer ? kDecompressRow : nullptr));
        if (peer)
            inv_rows.push_back(make_row("BWT inverse", kDecompressRow, false, setting, kBlock,
                                        ratio, s[1], nullptr));
    }
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
    if (ctx.corpus().builtin) add_worst_case_rows(ctx, peer, fwd_rows, inv_rows);
    for (BenchRow& r : fwd_rows) ctx.add_row(std::move(r));
    for (BenchRow& r : inv_rows) ctx.add_row(std::move(r));
}

}  // namespace

VEKDC_BENCH_FAMILY("BWT", 60, run_bwt);

}  // namespace vekdc
