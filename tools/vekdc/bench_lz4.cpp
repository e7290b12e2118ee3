// Benchmark rows of LZ4 block coding. Every corpus item is coded twice: as
// one block (up to 256 MiB) and as independent 64 KiB blocks. Each of our
// encoders and our decoder is timed against its liblz4 counterpart:
//
//   family      ours                                    liblz4
//   LZ4         veksEncodeLZ4_8u, veksEncodeLZ4Safe_8u  LZ4_compress_default
//   LZ4 fast 8  veksEncodeLZ4Fast_8u (8)                LZ4_compress_fast (8)
//   LZ4HC N     veksEncodeLZ4HC_8u (N)                  LZ4_compress_HC_extStateHC (N)
//   LZ4 decode  veksDecodeLZ4_8u                        LZ4_decompress_safe
//
// so that "vs best peer" always compares the same job. Both high-compression
// encoders work in preallocated state (LZ4_compress_HC itself would allocate
// its state on every call) and clear it for every block. The ratio column is
// input size over the total block size; speeds are of the uncompressed size.
// Before any timing every block is decoded by our decoder and, where the
// peer is linked, by LZ4_decompress_safe and must give back its input.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "cli.h"
#include "lz4_tool.h"
#include "peers.h"
#include "vekdc.h"

namespace vekdc {

namespace {

constexpr size_t kSmallBlock = size_t(64) << 10;
constexpr size_t kMaxBlock = size_t(256) << 20;
// Wall time one measurement (all contenders, all samples) should stay
// within; slow rows (high-compression levels on large inputs) take fewer
// samples to keep to it, never fewer than three.
constexpr double kGroupBudgetSeconds = 2.5;

struct Block {
    const uint8_t* src;
    int32_t n;
};

// Encodes one block into dst (capacity cap); returns its length or -1.
using EncodeFn = std::function<int32_t(const uint8_t* src, int32_t n, uint8_t* dst, int32_t cap)>;
// Decodes a block of len bytes into dst (capacity cap); returns the decoded length or -1.
using DecodeFn = std::function<int32_t(const uint8_t* src, int32_t len, uint8_t* dst, int32_t cap)>;

struct Encoder {
    std::string family;
    std::string implementation;
    bool ours;
    EncodeFn encode;
};

using Buffer = std::shared_ptr<std::vector<uint8_t>>;
Buffer make_buffer(size_t n) {
    return std::make_shared<std::vector<uint8_t>>(n);
}

// --- our functions ----------------------------------------------------------

EncodeFn our_default() {
    int32_t size = 0;
    veksEncodeLZ4HashTableGetSize_8u(&size);
    Buffer table = make_buffer(static_cast<size_t>(size));
    return [table](const uint8_t* src, int32_t n, uint8_t* dst, int32_t) {
        int32_t len = 0;
        return veksEncodeLZ4_8u(src, n, dst, &len, table->data()) == vekStatusOk ? len : -1;
    };
}

EncodeFn our_checked() {
    int32_t size = 0;
    veksEncodeLZ4HashTableGetSize_8u(&size);
    Buffer table = make_buffer(static_cast<size_t>(size));
    return [table](const uint8_t* src, int32_t n, uint8_t* dst, int32_t cap) {
        int32_t src_len = n, len = cap;
        const vekStatus st = veksEncodeLZ4Safe_8u(src, &src_len, dst, &len, table->data());
        return st == vekStatusOk && src_len == n ? len : -1;
    };
}

EncodeFn our_fast(int acceleration) {
    int32_t size = 0;
    veksEncodeLZ4HashTableGetSize_8u(&size);
    Buffer table = make_buffer(static_cast<size_t>(size));
    return [table, acceleration](const uint8_t* src, int32_t n, uint8_t* dst, int32_t) {
        int32_t len = 0;
        return veksEncodeLZ4Fast_8u(src, n, dst, &len, table->data(), acceleration) == vekStatusOk
                   ? len
                   : -1;
    };
}

#if VEKDC_TOOL_HAVE_LZ4HC
EncodeFn our_hc(int level) {
    int32_t head = 0, chain = 0;
    veksEncodeLZ4HCHashTableGetSize_8u(&head, &chain);
    Buffer h = make_buffer(static_cast<size_t>(head));
    Buffer c = make_buffer(static_cast<size_t>(chain));
    return [h, c, level](const uint8_t* src, int32_t n, uint8_t* dst, int32_t cap) {
        uint8_t* tables[2] = {h->data(), c->data()};
        if (veksEncodeLZ4HCHashTableInit_8u(tables) != vekStatusOk) return -1;
        int32_t src_len = n, len = cap;
        const vekStatus st =
            veksEncodeLZ4HC_8u(src, 0, &src_len, dst, &len, tables, nullptr, 0, level);
        return st == vekStatusOk ? len : -1;
    };
}
#endif

int32_t our_decode(const uint8_t* src, int32_t len, uint8_t* dst, int32_t cap) {
    int32_t n = cap;
    return veksDecodeLZ4_8u(src, len, dst, &n) == vekStatusOk ? n : -1;
}

// --- liblz4 -----------------------------------------------------------------

const char* as_chars(const uint8_t* p) {
    return reinterpret_cast<const char*>(p);
}
char* as_chars(uint8_t* p) {
    return reinterpret_cast<char*>(p);
}

EncodeFn peer_default(const Lz4Peer* p) {
    return [p](const uint8_t* src, int32_t n, uint8_t* dst, int32_t cap) {
        const int len = p->compress_default(as_chars(src), as_chars(dst), n, cap);
        return len > 0 ? len : -1;
    };
}

EncodeFn peer_fast(const Lz4Peer* p, int acceleration) {
    return [p, acceleration](const uint8_t* src, int32_t n, uint8_t* dst, int32_t cap) {
        const int len = p->compress_fast(as_chars(src), as_chars(dst), n, cap, acceleration);
        return len > 0 ? len : -1;
    };
}

#if VEKDC_TOOL_HAVE_LZ4HC
EncodeFn peer_hc(const Lz4Peer* p, int level) {
    Buffer state = make_buffer(static_cast<size_t>(p->state_size_hc()));  // new[] storage: aligned
    return [p, state, level](const uint8_t* src, int32_t n, uint8_t* dst, int32_t cap) {
        const int len = p->compress_hc(state->data(), as_chars(src), as_chars(dst), n, cap, level);
        return len > 0 ? len : -1;
    };
}
#endif

// --- one corpus item in one block size ---------------------------------------

struct Case {
    std::string label;  // "text, 64 KiB blocks"
    std::vector<Block> blocks;
    uint64_t bytes = 0;
    int32_t max_block = 0;
};

Case make_case(const CorpusItem& item, size_t block_size) {
    Case c;
    block_size = std::min(block_size, item.data.size());
    const size_t count = (item.data.size() + block_size - 1) / block_size;
    c.label = item.name + ", " + format_size(block_size) + (count > 1 ? " blocks" : " block");
    for (size_t at = 0; at < item.data.size(); at += block_size) {
        const size_t n = std::min(block_size, item.data.size() - at);
        c.blocks.push_back({item.data.data() + at, static_cast<int32_t>(n)});
    }
    c.bytes = item.data.size();
    c.max_block = static_cast<int32_t>(block_size);
    return c;
}

struct Encoded {
    std::vector<std::vector<uint8_t>> blocks;
    uint64_t total = 0;
    double seconds = 0;  // spent in the encoder
};

std::string where(const Case& c, size_t block) {
    return c.label + ", block " + std::to_string(block);
}

// Encodes every block and checks that the decoders give it back.
Encoded encode_and_verify(const Case& c, const Encoder& e, const Lz4Peer* peer) {
    Encoded out;
    const int32_t cap = static_cast<int32_t>(lz4_block_bound(c.max_block));
    std::vector<uint8_t> dst(static_cast<size_t>(cap));
    std::vector<uint8_t> back(static_cast<size_t>(c.max_block));
    for (size_t b = 0; b < c.blocks.size(); ++b) {
        const Block& blk = c.blocks[b];
        const double t0 = monotonic_seconds();
        const int32_t len = e.encode(blk.src, blk.n, dst.data(), cap);
        out.seconds += monotonic_seconds() - t0;
        if (len <= 0)
            throw BenchMismatch(e.family + " " + e.implementation + " failed to encode " +
                                where(c, b));
        out.blocks.emplace_back(dst.begin(), dst.begin() + len);
        out.total += static_cast<uint64_t>(len);
        std::vector<std::pair<const char*, DecodeFn>> decoders = {{kOurName, our_decode}};
        if (peer)
            decoders.push_back(
                {peer->name, [peer](const uint8_t* s, int32_t l, uint8_t* d, int32_t cp) {
                     const int n = peer->decompress_safe(as_chars(s), as_chars(d), l, cp);
                     return n >= 0 ? n : -1;
                 }});
        for (const auto& d : decoders) {
            std::fill(back.begin(), back.end(), uint8_t(0xA5));
            const int32_t got = d.second(dst.data(), len, back.data(), blk.n);
            if (got != blk.n || std::memcmp(back.data(), blk.src, static_cast<size_t>(blk.n)) != 0)
                throw BenchMismatch(e.family + ": the " + d.first +
                                    " decoder does not give back the input of " + e.implementation +
                                    "'s " + where(c, b));
        }
    }
    return out;
}

BenchOptions options_for(const BenchOptions& base, double seconds_per_op, size_t contenders) {
    return within_budget(
        base, kGroupBudgetSeconds,
        std::max(seconds_per_op, base.min_sample_seconds) * static_cast<double>(contenders));
}

BenchRow make_row(const std::string& family, const std::string& impl, bool ours, const Case& c,
                  double ratio, double seconds) {
    BenchRow r;
    r.family = family;
    r.implementation = impl;
    r.ours = ours;
    r.setting = c.label;
    r.bytes = c.bytes;
    r.ratio = ratio;
    r.bytes_per_second = static_cast<double>(c.bytes) / seconds;
    r.unit = SpeedUnit::MBps;
    return r;
}

void run_lz4(BenchContext& ctx) {
    const Lz4Peer* peer = lz4_peer();
    std::vector<Encoder> encoders = {
        {"LZ4", kOurName, true, our_default()},
        {"LZ4", std::string(kOurName) + " checked", true, our_checked()},
        {"LZ4 fast 8", kOurName, true, our_fast(8)},
    };
#if VEKDC_TOOL_HAVE_LZ4HC
    for (int level : {4, 9})
        encoders.push_back({"LZ4HC " + std::to_string(level), kOurName, true, our_hc(level)});
#endif
    if (peer) {
        encoders.push_back({"LZ4", peer->name, false, peer_default(peer)});
        encoders.push_back({"LZ4 fast 8", peer->name, false, peer_fast(peer, 8)});
#if VEKDC_TOOL_HAVE_LZ4HC
        for (int level : {4, 9})
            encoders.push_back(
                {"LZ4HC " + std::to_string(level), peer->name, false, peer_hc(peer, level)});
#endif
    }
    std::vector<std::string> families;
    for (const Encoder& e : encoders)
        if (std::find(families.begin(), families.end(), e.family) == families.end())
            families.push_back(e.family);
    families.push_back("LZ4 decode");
    std::map<std::string, std::vector<BenchRow>> rows;

    for (const CorpusItem& item : ctx.corpus().items) {
        for (size_t block_size : {kMaxBlock, kSmallBlock}) {
            if (block_size == kSmallBlock && item.data.size() <= kSmallBlock)
                continue;  // one block already
            const Case c = make_case(item, block_size);
            const int32_t cap = static_cast<int32_t>(lz4_block_bound(c.max_block));
            auto scratch = make_buffer(static_cast<size_t>(cap));

            for (const std::string& family : families) {
                if (family == "LZ4 decode") continue;
                ctx.progress(family + " " + c.label);
                std::vector<const Encoder*> group;
                for (const Encoder& e : encoders)
                    if (e.family == family) group.push_back(&e);
                std::vector<Contender> contenders;
                std::vector<double> ratios;
                double slowest = 0;
                for (const Encoder* e : group) {
                    const Encoded enc = encode_and_verify(c, *e, peer);
                    slowest = std::max(slowest, enc.seconds);
                    ratios.push_back(static_cast<double>(c.bytes) / static_cast<double>(enc.total));
                    const EncodeFn fn = e->encode;
                    const std::vector<Block>* blocks = &c.blocks;
                    contenders.push_back({e->implementation, e->ours,
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
                const std::vector<double> seconds = measure_interleaved(
                    contenders, options_for(ctx.options(), slowest, contenders.size()));
                for (size_t i = 0; i < group.size(); ++i)
                    rows[family].push_back(make_row(family, group[i]->implementation,
                                                    group[i]->ours, c, ratios[i], seconds[i]));
            }

            // Decoders, on the blocks of our single-pass encoder.
            ctx.progress("LZ4 decode " + c.label);
            auto compressed = std::make_shared<Encoded>(encode_and_verify(c, encoders[0], peer));
            auto out = make_buffer(static_cast<size_t>(c.max_block));
            std::vector<std::pair<std::string, DecodeFn>> decoders = {{kOurName, our_decode}};
            if (peer)
                decoders.push_back(
                    {peer->name, [peer](const uint8_t* s, int32_t l, uint8_t* d, int32_t cp) {
                         return peer->decompress_safe(as_chars(s), as_chars(d), l, cp);
                     }});
            std::vector<Contender> contenders;
            for (const auto& d : decoders) {
                const DecodeFn fn = d.second;
                const std::vector<Block>* blocks = &c.blocks;
                contenders.push_back(
                    {d.first, d.first == kOurName, [fn, blocks, compressed, out](uint64_t reps) {
                         uint64_t acc = 0;
                         for (uint64_t r = 0; r < reps; ++r)
                             for (size_t b = 0; b < blocks->size(); ++b) {
                                 const std::vector<uint8_t>& blk = compressed->blocks[b];
                                 acc += static_cast<uint64_t>(fn(blk.data(),
                                                                 static_cast<int32_t>(blk.size()),
                                                                 out->data(), (*blocks)[b].n));
                             }
                         bench_consume(acc);
                     }});
            }
            const double ratio =
                static_cast<double>(c.bytes) / static_cast<double>(compressed->total);
            const std::vector<double> seconds = measure_interleaved(contenders, ctx.options());
            for (size_t i = 0; i < decoders.size(); ++i)
                rows["LZ4 decode"].push_back(make_row("LZ4 decode", decoders[i].first,
                                                      decoders[i].first == kOurName, c, ratio,
                                                      seconds[i]));
        }
    }
    for (const std::string& family : families)
        for (BenchRow& r : rows[family]) ctx.add_row(std::move(r));
}

}  // namespace

VEKDC_BENCH_FAMILY("LZ4", 20, run_lz4);

}  // namespace vekdc
