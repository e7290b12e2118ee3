// Benchmark rows of the streaming LZSS codec: every corpus item is encoded
// as one stream fed in 1 MiB calls (then flushed) and decoded in one call
// per 1 MiB of output. No peer library codes this stream, so the rows have
// no "vs best peer". The ratio column is input size over stream size; both
// speeds are of the uncompressed size. Before timing, every stream is decoded
// and must give back its input.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "vekdc.h"

namespace vekdc {

namespace {

constexpr size_t kCall = size_t(1) << 20;

struct Streams {
    std::unique_ptr<vekLZSSState> state = std::make_unique<vekLZSSState>();
    std::vector<uint8_t> out;
};

// Encodes data into s.out (sized beforehand); returns the stream length.
size_t encode(const std::vector<uint8_t>& data, Streams& s) {
    veksEncodeLZSSInit_8u(s.state.get());
    uint8_t* dst = s.out.data();
    int32_t room = static_cast<int32_t>(s.out.size());
    for (size_t at = 0; at < data.size(); at += kCall) {
        uint8_t* src = const_cast<uint8_t*>(data.data()) + at;
        int32_t len = static_cast<int32_t>(std::min(kCall, data.size() - at));
        if (veksEncodeLZSS_8u(&src, &len, &dst, &room, s.state.get()) != vekStatusOk)
            throw BenchMismatch("LZSS: the stream does not fit its buffer");
    }
    if (veksEncodeLZSSFlush_8u(&dst, &room, s.state.get()) != vekStatusOk)
        throw BenchMismatch("LZSS: the flush does not fit its buffer");
    return static_cast<size_t>(dst - s.out.data());
}

// Decodes stream[0, n) into out; returns the bytes produced.
size_t decode(const uint8_t* stream, size_t n, std::vector<uint8_t>& out, vekLZSSState* st) {
    veksDecodeLZSSInit_8u(st);
    uint8_t* src = const_cast<uint8_t*>(stream);
    int32_t len = static_cast<int32_t>(n);
    uint8_t* dst = out.data();
    for (size_t at = 0; at < out.size(); at += kCall) {
        int32_t room = static_cast<int32_t>(std::min(kCall, out.size() - at));
        const vekStatus status = veksDecodeLZSS_8u(&src, &len, &dst, &room, st);
        if (status == vekStatusOk) break;
    }
    return static_cast<size_t>(dst - out.data());
}

BenchRow make_row(const std::string& family, const CorpusItem& item, double ratio, double seconds) {
    BenchRow r;
    r.family = family;
    r.implementation = kOurName;
    r.ours = true;
    r.setting = item.name;
    r.bytes = item.data.size();
    r.ratio = ratio;
    r.bytes_per_second = static_cast<double>(item.data.size()) / seconds;
    r.unit = SpeedUnit::MBps;
    r.versus = BenchRow::Versus::kNone;
    return r;
}

void run_lzss(BenchContext& ctx) {
    std::vector<BenchRow> decode_rows;
    for (const CorpusItem& item : ctx.corpus().items) {
        if (item.data.size() >= (size_t(1) << 30)) continue;  // beyond one int32 stream
        ctx.progress("LZSS " + item.name);
        auto s = std::make_shared<Streams>();
        s->out.resize(item.data.size() / 8 * 9 + 64);
        const double t0 = monotonic_seconds();
        const size_t n = encode(item.data, *s);
        const double once = monotonic_seconds() - t0;
        auto back = std::make_shared<std::vector<uint8_t>>(item.data.size() + 1);
        auto dstate = std::make_shared<vekLZSSState>();
        if (decode(s->out.data(), n, *back, dstate.get()) != item.data.size() ||
            std::memcmp(back->data(), item.data.data(), item.data.size()) != 0)
            throw BenchMismatch("LZSS: the decoder does not give back " + item.name);
        const double ratio = static_cast<double>(item.data.size()) / static_cast<double>(n);

        const std::vector<uint8_t>* data = &item.data;
        const std::vector<double> enc =
            measure_interleaved({{kOurName, true,
                                  [s, data](uint64_t reps) {
                                      uint64_t acc = 0;
                                      for (uint64_t r = 0; r < reps; ++r) acc += encode(*data, *s);
                                      bench_consume(acc);
                                  },
                                  once}},
                                ctx.options());
        ctx.add_row(make_row("LZSS", item, ratio, enc[0]));

        back->resize(item.data.size());
        const std::vector<double> dec =
            measure_interleaved({{kOurName, true,
                                  [s, n, back, dstate](uint64_t reps) {
                                      uint64_t acc = 0;
                                      for (uint64_t r = 0; r < reps; ++r)
                                          acc += decode(s->out.data(), n, *back, dstate.get());
                                      bench_consume(acc);
                                  }}},
                                ctx.options());
        decode_rows.push_back(make_row("LZSS decode", item, ratio, dec[0]));
    }
    for (BenchRow& r : decode_rows) ctx.add_row(std::move(r));
}

}  // namespace

VEKDC_BENCH_FAMILY("LZSS", 60, run_lzss);

}  // namespace vekdc
