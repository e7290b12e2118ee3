// Benchmark rows of ZFP array coding: a built-in smooth 128^3 float field
// (8 MiB) or the arrays given with --floats, compressed and decompressed by
// this library (block by block through veksEncodeZfp444_32f and
// veksDecodeZfp444_32f, as the tool's zfp format does) and by libzfp's serial
// zfp_compress / zfp_decompress, at rate 8, rate 16, precision 16 and
// accuracy 1e-3. Before any timing both streams must be identical and both
// decoders must give the same floats; the setting column reports the largest
// absolute error of the round trip. Speeds are of the uncompressed size.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "cli.h"
#include "zfp_tool.h"

namespace vekdc {

namespace {

struct FloatData {
    std::string name;
    ZfpShape shape;
    std::vector<float> values;
};

FloatData builtin_field() {
    FloatData d;
    d.name = "smooth field";
    d.shape = {128, 128, 128};
    d.values.resize(d.shape.count());
    size_t i = 0;
    for (size_t z = 0; z < 128; ++z)
        for (size_t y = 0; y < 128; ++y)
            for (size_t x = 0; x < 128; ++x) {
                const double fx = x / 128.0, fy = y / 128.0, fz = z / 128.0;
                d.values[i++] = static_cast<float>(
                    100 * std::sin(6.1 * fx + 2 * fy) * std::cos(4.3 * fy - fz) +
                    20 * std::exp(-8 * ((fx - .5) * (fx - .5) + (fz - .4) * (fz - .4))) + 3 * fz);
            }
    return d;
}

std::vector<FloatData> load_arrays(const BenchOptions& o) {
    std::vector<FloatData> out;
    for (const BenchOptions::FloatArray& f : o.float_arrays) {
        FloatData d;
        d.name = f.path;
        d.shape = {f.nx, f.ny, f.nz};
        std::vector<uint8_t> raw;
        if (const int err = read_whole_file(f.path, raw))
            throw BenchMismatch(f.path + ": " + std::strerror(err));
        if (raw.size() != 4 * d.shape.count())
            throw BenchMismatch(f.path + ": " + std::to_string(raw.size()) + " bytes, not " +
                                std::to_string(4 * d.shape.count()) + " for the given dimensions");
        d.values.resize(d.shape.count());
        std::memcpy(d.values.data(), raw.data(), raw.size());
        out.push_back(std::move(d));
    }
    if (out.empty()) out.push_back(builtin_field());
    return out;
}

std::string dims_text(const ZfpShape& s) {
    return std::to_string(s.nx) + "x" + std::to_string(s.ny) + "x" + std::to_string(s.nz);
}

void run_zfp(BenchContext& ctx) {
    const ZfpPeer* peer = zfp_peer();
    const std::vector<FloatData> arrays = load_arrays(ctx.options());
    const ZfpMode modes[] = {{ZfpMode::kRate, 8},
                             {ZfpMode::kRate, 16},
                             {ZfpMode::kPrecision, 16},
                             {ZfpMode::kAccuracy, 1e-3}};
    std::vector<BenchRow> encode_rows, decode_rows;
    for (const FloatData& d : arrays) {
        const auto data = std::make_shared<FloatData>(d);
        const uint64_t bytes = 4 * d.shape.count();
        for (const ZfpMode& mode : modes) {
            ctx.progress("ZFP " + mode.label());
            const size_t cap = zfp_stream_bound(d.shape);
            auto ours = std::make_shared<std::vector<uint8_t>>(cap);
            std::string error;
            const size_t n =
                zfp_compress_array(d.values.data(), d.shape, mode, ours->data(), cap, &error);
            if (n == 0) throw BenchMismatch("ZFP " + mode.label() + ": " + error);
            ours->resize(n);
            auto back = std::make_shared<std::vector<float>>(d.shape.count());
            size_t consumed = 0;
            if (!zfp_decompress_array(ours->data(), n, d.shape, mode, back->data(), &consumed,
                                      &error))
                throw BenchMismatch("ZFP " + mode.label() + ": " + error);
            if (peer) {
                std::vector<uint8_t> theirs(cap + 64);
                const size_t m =
                    peer->compress(d.values.data(), d.shape, mode, theirs.data(), theirs.size());
                if (m != n || std::memcmp(theirs.data(), ours->data(), n) != 0)
                    throw BenchMismatch("ZFP " + mode.label() +
                                        ": libzfp's stream differs from ours on " + d.name);
                std::vector<float> pb(d.shape.count());
                if (!peer->decompress(ours->data(), n, d.shape, mode, pb.data()) ||
                    std::memcmp(pb.data(), back->data(), 4 * pb.size()) != 0)
                    throw BenchMismatch("ZFP " + mode.label() +
                                        ": libzfp decodes our stream differently on " + d.name);
            }
            double max_err = 0;
            for (size_t i = 0; i < d.values.size(); ++i)
                max_err = std::max(max_err, std::fabs(double(d.values[i]) - (*back)[i]));
            char err_text[32];
            std::snprintf(err_text, sizeof err_text, "%.3g", max_err);
            const std::string setting =
                d.name + " " + dims_text(d.shape) + ", " + mode.label() + ", max error " + err_text;
            const double ratio = static_cast<double>(bytes) / static_cast<double>(n);

            auto scratch = std::make_shared<std::vector<uint8_t>>(cap + 64);
            std::vector<Contender> enc = {{kOurName, true, [data, mode, scratch](uint64_t reps) {
                                               std::string e;
                                               uint64_t acc = 0;
                                               for (uint64_t r = 0; r < reps; ++r)
                                                   acc += zfp_compress_array(
                                                       data->values.data(), data->shape, mode,
                                                       scratch->data(), scratch->size(), &e);
                                               bench_consume(acc);
                                           }}};
            auto out = std::make_shared<std::vector<float>>(d.shape.count());
            std::vector<Contender> dec = {{kOurName, true, [data, mode, ours, out](uint64_t reps) {
                                               std::string e;
                                               size_t c = 0;
                                               uint64_t acc = 0;
                                               for (uint64_t r = 0; r < reps; ++r)
                                                   acc += zfp_decompress_array(
                                                       ours->data(), ours->size(), data->shape,
                                                       mode, out->data(), &c, &e);
                                               bench_consume(acc + c);
                                           }}};
            if (peer) {
                enc.push_back({peer->name, false, [peer, data, mode, scratch](uint64_t reps) {
                                   uint64_t acc = 0;
                                   for (uint64_t r = 0; r < reps; ++r)
                                       acc += peer->compress(data->values.data(), data->shape, mode,
                                                             scratch->data(), scratch->size());
                                   bench_consume(acc);
                               }});
                dec.push_back({peer->name, false, [peer, data, mode, ours, out](uint64_t reps) {
                                   uint64_t acc = 0;
                                   for (uint64_t r = 0; r < reps; ++r)
                                       acc += peer->decompress(ours->data(), ours->size(),
                                                               data->shape, mode, out->data());
                                   bench_consume(acc);
                               }});
            }
            const std::vector<double> te = measure_interleaved(enc, ctx.options());
            const std::vector<double> td = measure_interleaved(dec, ctx.options());
            for (size_t i = 0; i < enc.size(); ++i) {
                encode_rows.push_back(mbps_row("ZFP encode", enc[i].implementation, enc[i].ours,
                                               setting, bytes, ratio, te[i]));
                decode_rows.push_back(mbps_row("ZFP decode", dec[i].implementation, dec[i].ours,
                                               setting, bytes, ratio, td[i]));
            }
        }
    }
    for (BenchRow& r : encode_rows) ctx.add_row(std::move(r));
    for (BenchRow& r : decode_rows) ctx.add_row(std::move(r));
}

}  // namespace

VEKDC_BENCH_FAMILY("ZFP", 60, run_zfp);

}  // namespace vekdc
