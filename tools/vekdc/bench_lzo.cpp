// Benchmark rows of LZO1X. Every corpus item is coded as one buffer and as
// independent 256 KiB blocks (the block size of .lzo files):
//
//   family        ours                              liblzo2
//   LZO1X         veksEncodeLZO_8u method 2         lzo1x_1_compress
//                 veksEncodeLZO_8u method 0         lzo1x_999_compress (256 KiB blocks only)
//   LZO1X decode  veksDecodeLZOSafe_8u              lzo1x_decompress_safe
//                 veksDecodeLZO_8u (trusting)       lzo1x_decompress
//
// "vs best peer" of each of our rows is its speed over the liblzo2 row on
// its right. The decoders all decode the streams of our method 2. Before
// any timing every stream is decoded by our validating decoder and, where
// the peer is linked, by lzo1x_decompress_safe, and must give back its
// input. The ratio column is input size over the total stream size; speeds
// are of the uncompressed size.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "cli.h"
#include "lzo_peer.h"
#include "vekdc.h"

namespace vekdc {

namespace {

constexpr size_t kSmallBlock = size_t(256) << 10;
constexpr size_t kMaxBlock = size_t(256) << 20;
constexpr double kGroupBudgetSeconds = 2.5;
// Input per item for the slow lzo1x_999 group with --quick.
constexpr size_t kQuickSlowBytes = size_t(1) << 20;

struct Block {
    const uint8_t* src;
    uint32_t n;
};

// Codes one block into dst (capacity cap); returns its length or -1.
using CodeFn = std::function<int64_t(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap)>;

struct Coder {
    std::string implementation;
    bool ours;
    std::string versus;  // the peer row this one is compared with
    CodeFn fn;
};

using Buffer = std::shared_ptr<std::vector<uint8_t>>;
Buffer make_buffer(size_t n) {
    return std::make_shared<std::vector<uint8_t>>(n);
}

uint32_t stream_bound(uint32_t n) {
    return n + n / 16 + 64 + 3;  // the worst case of every encoder here
}

CodeFn our_encoder(int32_t method) {
    uint32_t size = 0;
    veksEncodeLZOGetSize(method, 0, &size);
    Buffer state = make_buffer(size + 8);
    veksEncodeLZOInit_8u(method, 0, reinterpret_cast<vekLZOState_8u*>(state->data()));
    return [state](const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap) -> int64_t {
        uint32_t len = cap;
        return veksEncodeLZO_8u(src, n, dst, &len,
                                reinterpret_cast<vekLZOState_8u*>(state->data())) == vekStatusOk
                   ? len
                   : -1;
    };
}

int64_t our_decode_safe(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap) {
    uint32_t len = cap;
    return veksDecodeLZOSafe_8u(src, n, dst, &len) == vekStatusOk ? len : -1;
}

int64_t our_decode_trusting(const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap) {
    uint32_t len = cap;
    return veksDecodeLZO_8u(src, n, dst, &len) == vekStatusOk ? len : -1;
}

CodeFn peer_encoder(const LzoPeer* p, bool best) {
    Buffer work = make_buffer(best ? p->work_999 : p->work_1);
    auto fn = best ? p->compress_999 : p->compress_1;
    return [fn, work](const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap) -> int64_t {
        size_t len = cap;
        return fn(src, n, dst, &len, work->data()) == 0 ? static_cast<int64_t>(len) : -1;
    };
}

CodeFn peer_decoder(int (*fn)(const uint8_t*, size_t, uint8_t*, size_t*)) {
    return [fn](const uint8_t* src, uint32_t n, uint8_t* dst, uint32_t cap) -> int64_t {
        size_t len = cap;
        return fn(src, n, dst, &len) == 0 ? static_cast<int64_t>(len) : -1;
    };
}

struct Case {
    std::string label;
    std::vector<Block> blocks;
    uint64_t bytes = 0;
    uint32_t max_block = 0;
};

Case make_case(const CorpusItem& item, size_t block_size, size_t limit) {
    Case c;
    const size_t total = std::min(item.data.size(), limit);
    block_size = std::min(block_size, total);
    const size_t count = (total + block_size - 1) / block_size;
    c.label = item.name + ", " + format_size(block_size) + (count > 1 ? " blocks" : " block");
    for (size_t at = 0; at < total; at += block_size) {
        const size_t n = std::min(block_size, total - at);
        c.blocks.push_back({item.data.data() + at, static_cast<uint32_t>(n)});
    }
    c.bytes = total;
    c.max_block = static_cast<uint32_t>(block_size);
    return c;
}

struct Encoded {
    std::vector<std::vector<uint8_t>> blocks;
    uint64_t total = 0;
    double seconds = 0;
};

Encoded encode_and_verify(const Case& c, const Coder& e, const LzoPeer* peer) {
    Encoded out;
    const uint32_t cap = stream_bound(c.max_block);
    std::vector<uint8_t> dst(cap), back(c.max_block);
    std::vector<std::pair<std::string, CodeFn>> decoders = {{kOurName, our_decode_safe}};
    if (peer) decoders.push_back({peer->name, peer_decoder(peer->decompress_safe)});
    for (size_t b = 0; b < c.blocks.size(); ++b) {
        const Block& blk = c.blocks[b];
        const double t0 = monotonic_seconds();
        const int64_t len = e.fn(blk.src, blk.n, dst.data(), cap);
        out.seconds += monotonic_seconds() - t0;
        const std::string where = c.label + ", block " + std::to_string(b);
        if (len <= 0)
            throw BenchMismatch("LZO1X " + e.implementation + " failed to encode " + where);
        out.blocks.emplace_back(dst.begin(), dst.begin() + len);
        out.total += static_cast<uint64_t>(len);
        for (const auto& d : decoders) {
            std::fill(back.begin(), back.end(), uint8_t(0xA5));
            const int64_t got =
                d.second(dst.data(), static_cast<uint32_t>(len), back.data(), blk.n);
            if (got != blk.n || std::memcmp(back.data(), blk.src, blk.n) != 0)
                throw BenchMismatch("LZO1X: the " + d.first +
                                    " decoder does not give back the input of " + e.implementation +
                                    "'s " + where);
        }
    }
    return out;
}

BenchOptions options_for(const BenchOptions& base, double seconds_per_op, size_t contenders) {
    return within_budget(
        base, kGroupBudgetSeconds,
        std::max(seconds_per_op, base.min_sample_seconds) * static_cast<double>(contenders));
}

BenchRow make_row(const std::string& family, const Coder& coder, const Case& c, double ratio,
                  double seconds) {
    BenchRow r;
    r.family = family;
    r.implementation = coder.implementation;
    r.ours = coder.ours;
    r.setting = c.label;
    r.bytes = c.bytes;
    r.ratio = ratio;
    r.bytes_per_second = static_cast<double>(c.bytes) / seconds;
    r.unit = SpeedUnit::MBps;
    if (coder.ours) {
        r.versus = coder.versus.empty() ? BenchRow::Versus::kNone : BenchRow::Versus::kNamed;
        r.peer = coder.versus;
    }
    return r;
}

// Times one group of encoders on one case and adds their rows.
void encoder_group(BenchContext& ctx, const Case& c, const std::vector<Coder>& group,
                   const LzoPeer* peer, std::vector<BenchRow>& rows) {
    const uint32_t cap = stream_bound(c.max_block);
    auto scratch = make_buffer(cap);
    std::vector<Contender> contenders;
    std::vector<double> ratios;
    double slowest = 0;
    for (const Coder& e : group) {
        const Encoded enc = encode_and_verify(c, e, peer);
        slowest = std::max(slowest, enc.seconds);
        ratios.push_back(static_cast<double>(c.bytes) / static_cast<double>(enc.total));
        const CodeFn fn = e.fn;
        const std::vector<Block>* blocks = &c.blocks;
        contenders.push_back({e.implementation, e.ours,
                              [fn, blocks, scratch, cap](uint64_t reps) {
                                  uint64_t acc = 0;
                                  for (uint64_t r = 0; r < reps; ++r)
                                      for (const Block& b : *blocks)
                                          acc += static_cast<uint64_t>(
                                              fn(b.src, b.n, scratch->data(), cap));
                                  bench_consume(acc);
                              },
                              enc.seconds});
    }
    const std::vector<double> seconds =
        measure_interleaved(contenders, options_for(ctx.options(), slowest, contenders.size()));
    for (size_t i = 0; i < group.size(); ++i)
        rows.push_back(make_row("LZO1X", group[i], c, ratios[i], seconds[i]));
}

void run_lzo(BenchContext& ctx) {
    const LzoPeer* peer = lzo_peer();
    const std::string p1 = peer ? std::string(peer->name) + " lzo1x_1" : "";
    const std::string p999 = peer ? std::string(peer->name) + " lzo1x_999" : "";
    std::vector<Coder> fast = {{std::string(kOurName) + " method 2", true, p1, our_encoder(2)}};
    std::vector<Coder> slow = {{std::string(kOurName) + " method 0", true, p999, our_encoder(0)}};
    std::vector<Coder> decoders = {
        {std::string(kOurName) + " safe", true, peer ? std::string(peer->name) + " safe" : "",
         our_decode_safe},
        {std::string(kOurName) + " trusting", true, peer ? std::string(peer->name) + " fast" : "",
         our_decode_trusting}};
    if (peer) {
        fast.push_back({p1, false, "", peer_encoder(peer, false)});
        slow.push_back({p999, false, "", peer_encoder(peer, true)});
        decoders.push_back(
            {std::string(peer->name) + " safe", false, "", peer_decoder(peer->decompress_safe)});
        decoders.push_back(
            {std::string(peer->name) + " fast", false, "", peer_decoder(peer->decompress)});
    }
    std::vector<BenchRow> enc_rows, dec_rows;
    for (const CorpusItem& item : ctx.corpus().items) {
        for (size_t block_size : {kMaxBlock, kSmallBlock}) {
            if (block_size == kSmallBlock && item.data.size() <= kSmallBlock) continue;
            const Case c = make_case(item, block_size, SIZE_MAX);
            ctx.progress("LZO1X " + c.label);
            encoder_group(ctx, c, fast, peer, enc_rows);
            if (block_size == kSmallBlock || item.data.size() <= kSmallBlock) {
                const Case s =
                    make_case(item, block_size, ctx.options().quick ? kQuickSlowBytes : SIZE_MAX);
                encoder_group(ctx, s, slow, peer, enc_rows);
            }

            ctx.progress("LZO1X decode " + c.label);
            auto streams = std::make_shared<Encoded>(encode_and_verify(c, fast[0], peer));
            auto out = make_buffer(c.max_block);
            std::vector<Contender> contenders;
            for (const Coder& d : decoders) {
                const CodeFn fn = d.fn;
                const std::vector<Block>* blocks = &c.blocks;
                contenders.push_back(
                    {d.implementation, d.ours, [fn, blocks, streams, out](uint64_t reps) {
                         uint64_t acc = 0;
                         for (uint64_t r = 0; r < reps; ++r)
                             for (size_t b = 0; b < blocks->size(); ++b) {
                                 const std::vector<uint8_t>& s = streams->blocks[b];
                                 acc += static_cast<uint64_t>(fn(s.data(),
                                                                 static_cast<uint32_t>(s.size()),
                                                                 out->data(), (*blocks)[b].n));
                             }
                         bench_consume(acc);
                     }});
            }
            const double ratio = static_cast<double>(c.bytes) / static_cast<double>(streams->total);
            const std::vector<double> seconds = measure_interleaved(contenders, ctx.options());
            for (size_t i = 0; i < decoders.size(); ++i)
                dec_rows.push_back(make_row("LZO1X decode", decoders[i], c, ratio, seconds[i]));
        }
    }
    for (BenchRow& r : enc_rows) ctx.add_row(std::move(r));
    for (BenchRow& r : dec_rows) ctx.add_row(std::move(r));
}

}  // namespace

VEKDC_BENCH_FAMILY("LZO", 25, run_lzo);

}  // namespace vekdc
