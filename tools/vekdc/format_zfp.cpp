// -F zfp: a raw ZFP stream of a three-dimensional float32 array, the bytes
// the zfp command-line tool writes without its header (-h). Nothing in the
// stream records the array's shape or the mode, so decompress needs the same
// options as compress:
//   --dims NX NY NZ          array a[NZ][NY][NX] of little-endian float32
//   --rate R | --precision P | --accuracy T
//                            fixed rate (R bits per value), fixed precision
//                            (P bit planes) or fixed accuracy (|error| <= T)
// Blocks of 4x4x4 values are coded in x-fastest order; where a dimension is
// not a multiple of 4 the last block of a row, column or layer is padded the
// way the zfp tool pads it (values repeated from inside the array), and the
// padding is dropped again on decompression. The stream ends at its last
// byte holding a bit.
//
// Memory: both directions go through the array one slab of four layers at
// a time; decompression holds the whole stream (the compressed side) and
// refuses, before it sets anything aside, a stream too short to hold the
// blocks the dimensions call for. Dimensions whose sizes would not fit the
// integers of the build are refused as a bad command line.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec_io.h"
#include "format.h"
#include "zfp_tool.h"

namespace vekdc {

namespace {

VEKDC_FORMAT_OPTION("--dims", 3);
VEKDC_FORMAT_OPTION("--rate", 1);
VEKDC_FORMAT_OPTION("--precision", 1);
VEKDC_FORMAT_OPTION("--accuracy", 1);

struct ZfpSettings {
    ZfpShape shape;
    ZfpMode mode;
};

bool parse_double(const std::string& text, double* v) {
    char* end = nullptr;
    errno = 0;
    *v = std::strtod(text.c_str(), &end);
    return !text.empty() && errno == 0 && *end == '\0' && std::isfinite(*v);
}

bool parse_settings(const FormatSettings& fs, ZfpSettings* s, std::string* error) {
    if (fs.level_given) {
        *error = "zfp: no levels; choose --rate, --precision or --accuracy";
        return false;
    }
    int modes = 0;
    bool have_dims = false;
    for (const std::string& opt : fs.options) {
        const size_t eq = opt.find('=');
        const std::string key = opt.substr(0, eq);
        const std::string val = eq == std::string::npos ? "" : opt.substr(eq + 1);
        double v = 0;
        if (key == "--dims") {
            std::string rest = val;
            for (int d = 0; d < 3; ++d) {
                const size_t comma = rest.find(',');
                const std::string part = rest.substr(0, comma);
                char* end = nullptr;
                errno = 0;
                const unsigned long long n = std::strtoull(part.c_str(), &end, 10);
                if (part.empty() || part[0] == '-' || *end || errno || n == 0 || n > (1ull << 32) ||
                    (d < 2) != (comma != std::string::npos)) {
                    *error = "zfp: --dims needs three positive whole numbers, got '" + val + "'";
                    return false;
                }
                if (n > SIZE_MAX) {
                    *error = "zfp: --dims " + part + " is too large for this build";
                    return false;
                }
                (d == 0   ? s->shape.nx
                 : d == 1 ? s->shape.ny
                          : s->shape.nz) = static_cast<size_t>(n);
                rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
            }
            have_dims = true;
        } else if (key == "--rate") {
            if (!parse_double(val, &v) || v <= 0 || v > 64) {
                *error =
                    "zfp: --rate needs a number of bits per value in (0, 64], got '" + val + "'";
                return false;
            }
            s->mode = {ZfpMode::kRate, v};
            ++modes;
        } else if (key == "--precision") {
            if (!parse_double(val, &v) || v < 1 || v > 64 || v != std::floor(v)) {
                *error =
                    "zfp: --precision needs a whole number of bit planes 1..64, got '" + val + "'";
                return false;
            }
            s->mode = {ZfpMode::kPrecision, v};
            ++modes;
        } else if (key == "--accuracy") {
            if (!parse_double(val, &v) || v <= 0) {
                *error = "zfp: --accuracy needs a positive error tolerance, got '" + val + "'";
                return false;
            }
            s->mode = {ZfpMode::kAccuracy, v};
            ++modes;
        } else {
            *error = "zfp: unknown option '" + opt + "'";
            return false;
        }
    }
    if (!have_dims) {
        *error = "zfp: --dims NX NY NZ is required (the stream does not record the shape)";
        return false;
    }
    if (modes != 1) {
        *error = "zfp: give exactly one of --rate, --precision, --accuracy";
        return false;
    }
    return zfp_shape_fits(s->shape, error);
}

std::vector<uint8_t> read_all(Reader& in) {
    std::vector<uint8_t> data;
    uint8_t chunk[1 << 16];
    for (size_t n; (n = in.read(chunk, sizeof chunk)) > 0;)
        data.insert(data.end(), chunk, chunk + n);
    return data;
}

std::string dims_text(const ZfpShape& s) {
    return "--dims " + std::to_string(s.nx) + " " + std::to_string(s.ny) + " " +
           std::to_string(s.nz);
}

// Both directions hold one slab of four layers of the array at a time (left
// uninitialised: a slab is filled before it is used), so memory follows the
// area of a layer, never the size of the array.
std::unique_ptr<float[]> new_slab(const ZfpShape& shape) {
    return std::unique_ptr<float[]>(new float[shape.slab_count()]);
}

class ZfpCompressor : public Codec {
  public:
    explicit ZfpCompressor(const ZfpSettings& s) : s_(s) {}

    void run(Reader& in, Writer& out) override {
        const ZfpShape& shape = s_.shape;
        const uint64_t want = 4 * shape.count();
        const auto size_error = [&](const std::string& have) {
            fail_input("zfp: input has " + have + " bytes, " + dims_text(shape) + " needs " +
                       std::to_string(want));
        };
        std::unique_ptr<float[]> slab = new_slab(shape);
        ZfpSlabEncoder enc(shape, s_.mode);
        std::string error;
        for (size_t z = 0; z < shape.nz; z += 4) {
            const size_t layers = std::min<size_t>(shape.nz - z, 4);
            const size_t n = 4 * shape.nx * shape.ny * layers;
            const size_t got = in.read(reinterpret_cast<uint8_t*>(slab.get()), n);
            if (got != n) size_error(std::to_string(in.consumed()));
            if (!enc.encode(slab.get(), layers, &error)) fail_input(error);
            out.write(enc.data(), enc.ready());
            enc.take();
        }
        if (!in.at_end()) size_error("more than " + std::to_string(want));
        if (!enc.finish(&error)) fail_input(error);
        out.write(enc.data(), enc.ready());
    }

  private:
    ZfpSettings s_;
};

class ZfpDecompressor : public Codec {
  public:
    explicit ZfpDecompressor(const ZfpSettings& s) : s_(s) {}

    void run(Reader& in, Writer& out) override {
        const ZfpShape& shape = s_.shape;
        const std::vector<uint8_t> src = read_all(in);
        if (src.empty()) fail_input("zfp: empty input");
        // Every block takes some bits, so a short stream is refused before
        // any memory is set aside for what it claims to hold.
        const uint64_t per_block = zfp_min_block_bits(s_.mode);
        const uint64_t can_hold = uint64_t(src.size()) * 8 / per_block;
        if (can_hold < shape.blocks())
            fail_input("truncated zfp stream: " + std::to_string(src.size()) +
                       " bytes hold at most " + std::to_string(can_hold) + " of the " +
                       std::to_string(shape.blocks()) + " blocks of " + dims_text(shape));
        std::unique_ptr<float[]> slab = new_slab(shape);
        ZfpSlabDecoder dec(src.data(), src.size(), shape, s_.mode);
        std::string error;
        for (size_t z = 0; z < shape.nz; z += 4) {
            const size_t layers = std::min<size_t>(shape.nz - z, 4);
            if (!dec.decode(slab.get(), layers, &error)) fail_input(error);
            out.write(reinterpret_cast<const uint8_t*>(slab.get()),
                      4 * shape.nx * shape.ny * layers);
        }
        // What the last block left unread may only be the rest of the word
        // that held its last bits.
        if (src.size() - dec.consumed() >= 8)
            fail_input("zfp: " + std::to_string(src.size() - dec.consumed()) +
                       " bytes after the end of the stream (wrong --dims or mode?)");
    }

  private:
    ZfpSettings s_;
};

std::unique_ptr<Codec> make_compressor(const FormatSettings& fs, std::string* error) {
    ZfpSettings s;
    if (!parse_settings(fs, &s, error)) return nullptr;
    return std::make_unique<ZfpCompressor>(s);
}

std::unique_ptr<Codec> make_decompressor(const FormatSettings& fs, std::string* error) {
    ZfpSettings s;
    if (!parse_settings(fs, &s, error)) return nullptr;
    return std::make_unique<ZfpDecompressor>(s);
}

}  // namespace

VEKDC_FORMAT({"zfp", ".zfp", nullptr, make_compressor, make_decompressor});

}  // namespace vekdc
