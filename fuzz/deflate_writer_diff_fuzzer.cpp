// Round trip of the tool's Deflate stream writer at every level: an input
// of up to about 1 MiB is built from the fuzz data (pieces of its bytes,
// runs, pseudo-random bytes and slightly changed copies, so that blocks,
// slides, stored stretches and changes of statistics all come up), handed
// to the encoder in writes of sizes drawn from the data, and zlib's raw
// inflate must give it back exactly. One encoder per level serves every
// input, reset in between, as the tool reuses it for several files.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "deflate_encoder.h"
#include "zlib_oracle.h"

namespace {

struct VectorOut : vekdc::DeflateSink {
    std::vector<uint8_t> bytes;
    void put(const uint8_t* data, size_t n) override { bytes.insert(bytes.end(), data, data + n); }
};

uint32_t next(uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

// Reads the fuzz bytes after the first two as pieces: an operation byte
// and a size byte each, until `target` bytes are made.
std::vector<uint8_t> build_input(const uint8_t* d, size_t n, size_t target) {
    std::vector<uint8_t> in;
    if (n == 0) return in;
    uint32_t seed = 0x9E3779B9u;
    for (size_t i = 0; in.size() < target; i = (i + 2) % n) {
        const uint8_t op = d[i];
        const size_t len = std::min<size_t>((size_t(d[(i + 1) % n]) + 1) * 509, target - in.size());
        switch (op & 3) {
            case 0:  // pseudo-random bytes
                for (size_t k = 0; k < len; ++k) in.push_back(static_cast<uint8_t>(next(seed)));
                break;
            case 1:  // a run
                in.insert(in.end(), len, op);
                break;
            case 2:  // the fuzz bytes themselves, cyclically
                for (size_t k = 0; k < len; ++k) in.push_back(d[(i + k) % n]);
                break;
            default:  // an earlier stretch with every 7th byte changed
                for (size_t k = 0; k < len; ++k) {
                    const size_t from = in.empty() ? 0 : (in.size() - 1 - (k % in.size()));
                    const uint8_t b = in.empty() ? op : in[from];
                    in.push_back(k % 7 == 0 ? static_cast<uint8_t>(b + 1) : b);
                }
                break;
        }
        if (i + 2 >= n && in.empty()) break;
    }
    return in;
}

// zlib's inflate of the whole stream, or false.
bool inflate_raw(const std::vector<uint8_t>& z, std::vector<uint8_t>* out, size_t expect) {
    auto r = vek::testing::zlib_inflate_once(z.data(), z.size(), -15, expect + 1);
    *out = std::move(r.out);
    return r.rc == Z_STREAM_END && r.used == z.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // Levels -1 (codes fitted to samples, and the fixed codes) and 0..9.
    const int choice = data[0] % 12;
    const bool fixed = choice == 11;
    const int level = choice == 11 ? -1 : choice - 1;
    static std::unique_ptr<vekdc::DeflateEncoder> encoders[12];
    if (!encoders[choice]) {
        vekdc::DeflateSettings s = vekdc::deflate_settings_for_level(level);
        s.fastest_fixed_codes = fixed;
        encoders[choice] = std::make_unique<vekdc::DeflateEncoder>(s);
    }
    vekdc::DeflateEncoder& enc = *encoders[choice];

    const size_t target = (size_t(data[1]) + 1) << 12;  // 4 KiB .. 1 MiB
    const std::vector<uint8_t> in = build_input(data + 3, size - 3, target);
    uint32_t seed = data[2] | 0x100u;
    VectorOut out;
    enc.reset();
    for (size_t at = 0; at < in.size();) {
        // Mostly large writes, sometimes tiny ones.
        const uint32_t r = next(seed);
        const size_t want = (r & 3) == 0 ? 1 + (r >> 8) % 300 : 1 + (r >> 8) % 400000;
        const size_t k = std::min(want, in.size() - at);
        enc.write(in.data() + at, k, out);
        at += k;
    }
    enc.finish(out);
    std::vector<uint8_t> back;
    if (!inflate_raw(out.bytes, &back, in.size()) || back != in) std::abort();
    return 0;
}
