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
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec_io.h"
#include "format.h"
#include "vekdc.h"

namespace vekdc {

namespace {

VEKDC_FORMAT_OPTION("--dims", 3);
VEKDC_FORMAT_OPTION("--rate", 1);
VEKDC_FORMAT_OPTION("--precision", 1);
VEKDC_FORMAT_OPTION("--accuracy", 1);

struct ZfpSettings {
    size_t dims[3] = {0, 0, 0};
    int32_t min_bits = 0, max_bits = 4171, max_prec = 64, min_exp = -10740;
    bool accuracy = false;
    double tolerance = 0;
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
                s->dims[d] = static_cast<size_t>(n);
                rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
            }
            have_dims = true;
        } else if (key == "--rate") {
            // Bits per block as the zfp tool rounds them, at least the
            // 9-bit block header.
            if (!parse_double(val, &v) || v <= 0 || v > 64) {
                *error =
                    "zfp: --rate needs a number of bits per value in (0, 64], got '" + val + "'";
                return false;
            }
            int32_t bits = static_cast<int32_t>(std::floor(64 * v + 0.5));
            if (bits < 9) bits = 9;
            s->min_bits = s->max_bits = bits;
            ++modes;
        } else if (key == "--precision") {
            if (!parse_double(val, &v) || v < 1 || v > 64 || v != std::floor(v)) {
                *error =
                    "zfp: --precision needs a whole number of bit planes 1..64, got '" + val + "'";
                return false;
            }
            s->max_prec = static_cast<int32_t>(v);
            ++modes;
        } else if (key == "--accuracy") {
            if (!parse_double(val, &v) || v <= 0) {
                *error = "zfp: --accuracy needs a positive error tolerance, got '" + val + "'";
                return false;
            }
            s->accuracy = true;
            s->tolerance = v;
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
    return true;
}

std::string status_text(vekStatus st) {
    switch (st) {
        case vekStatusOutOfRangeErr:
            return "the stream ends early";
        case vekStatusNullPtrErr:
            return "null pointer";
        case vekStatusSizeErr:
            return "bad size";
        case vekStatusContextMismatchErr:
            return "bad state";
        default:
            return "status " + std::to_string(static_cast<int>(st));
    }
}

// Configures a fresh state for the settings.
void configure(vekZfpState_32f* st, const ZfpSettings& s, bool encode) {
    vekStatus r = encode ? veksEncodeZfpSet_32f(s.min_bits, s.max_bits, s.max_prec, s.min_exp, st)
                         : veksDecodeZfpSet_32f(s.min_bits, s.max_bits, s.max_prec, s.min_exp, st);
    if (r == vekStatusOk && s.accuracy)
        r = encode ? veksEncodeZfpSetAccuracy_32f(s.tolerance, st)
                   : veksDecodeZfpSetAccuracy_32f(s.tolerance, st);
    if (r != vekStatusOk) fail_input("zfp: configuring the stream failed: " + status_text(r));
}

// Fills elements n..3 of a line of four (stride s) from those inside.
void pad_line(float* p, size_t n, size_t s) {
    switch (n) {
        case 1:
            p[s] = p[0];
            [[fallthrough]];
        case 2:
            p[2 * s] = p[s];
            [[fallthrough]];
        case 3:
            p[3 * s] = p[0];
            break;
        default:
            break;
    }
}

struct Walk {
    size_t nx, ny, nz;
    size_t count() const { return nx * ny * nz; }
    // Calls f(x, y, z, bx, by, bz) for each block origin and its extent.
    template <class F>
    void each(F f) const {
        for (size_t z = 0; z < nz; z += 4)
            for (size_t y = 0; y < ny; y += 4)
                for (size_t x = 0; x < nx; x += 4)
                    f(x, y, z, nx - x < 4 ? nx - x : 4, ny - y < 4 ? ny - y : 4,
                      nz - z < 4 ? nz - z : 4);
    }
    size_t blocks() const { return ((nx + 3) / 4) * ((ny + 3) / 4) * ((nz + 3) / 4); }
};

std::vector<uint8_t> read_all(Reader& in) {
    std::vector<uint8_t> data;
    uint8_t chunk[1 << 16];
    for (size_t n; (n = in.read(chunk, sizeof chunk)) > 0;)
        data.insert(data.end(), chunk, chunk + n);
    return data;
}

class ZfpCompressor : public Codec {
  public:
    explicit ZfpCompressor(const ZfpSettings& s) : s_(s) {}

    void run(Reader& in, Writer& out) override {
        const Walk w{s_.dims[0], s_.dims[1], s_.dims[2]};
        const std::vector<uint8_t> raw = read_all(in);
        if (raw.size() / 4 != w.count() || raw.size() % 4)
            fail_input("zfp: input has " + std::to_string(raw.size()) + " bytes, --dims " +
                       std::to_string(w.nx) + " " + std::to_string(w.ny) + " " +
                       std::to_string(w.nz) + " needs " + std::to_string(4 * w.count()));
        std::vector<float> a(w.count());
        if (!a.empty()) std::memcpy(a.data(), raw.data(), raw.size());
        const int64_t block_bytes = s_.max_bits > 9 ? (s_.max_bits + 7) / 8 : 2;
        std::vector<uint8_t> dst(
            static_cast<size_t>(w.blocks()) * static_cast<size_t>(block_bytes) + 16);
        vekZfpState_32f st;
        vekStatus r = veksEncodeZfpInitLong_32f(dst.data(), static_cast<int64_t>(dst.size()), &st);
        if (r != vekStatusOk) fail_input("zfp: " + status_text(r));
        configure(&st, s_, true);
        const size_t row = w.nx * 4, plane = w.nx * w.ny * 4;
        float block[64];
        w.each([&](size_t x, size_t y, size_t z, size_t bx, size_t by, size_t bz) {
            const float* origin = a.data() + x + w.nx * (y + w.ny * z);
            if (bx == 4 && by == 4 && bz == 4 && row <= INT32_MAX && plane <= INT32_MAX) {
                r = veksEncodeZfp444_32f(origin, static_cast<int32_t>(row),
                                         static_cast<int32_t>(plane), &st);
            } else {
                for (size_t k = 0; k < bz; ++k)
                    for (size_t j = 0; j < by; ++j)
                        for (size_t i = 0; i < bx; ++i)
                            block[i + 4 * j + 16 * k] = origin[i + w.nx * (j + w.ny * k)];
                for (size_t k = 0; k < bz; ++k)
                    for (size_t j = 0; j < by; ++j) pad_line(block + 4 * j + 16 * k, bx, 1);
                for (size_t k = 0; k < bz; ++k)
                    for (size_t i = 0; i < 4; ++i) pad_line(block + i + 16 * k, by, 4);
                for (size_t j = 0; j < 4; ++j)
                    for (size_t i = 0; i < 4; ++i) pad_line(block + i + 4 * j, bz, 16);
                r = veksEncodeZfp444_32f(block, 16, 64, &st);
            }
            if (r != vekStatusOk) fail_input("zfp: encoding failed: " + status_text(r));
        });
        int64_t bits = 0;
        veksEncodeZfpGetCompressedBitSize_32f(&st, &bits);
        r = veksEncodeZfpFlush_32f(&st);
        if (r != vekStatusOk) fail_input("zfp: flush failed: " + status_text(r));
        out.write(dst.data(), static_cast<size_t>((bits + 7) / 8));
    }

  private:
    ZfpSettings s_;
};

class ZfpDecompressor : public Codec {
  public:
    explicit ZfpDecompressor(const ZfpSettings& s) : s_(s) {}

    void run(Reader& in, Writer& out) override {
        const Walk w{s_.dims[0], s_.dims[1], s_.dims[2]};
        const std::vector<uint8_t> src = read_all(in);
        if (src.empty()) fail_input("zfp: empty input");
        vekZfpState_32f st;
        vekStatus r = veksDecodeZfpInitLong_32f(src.data(), static_cast<int64_t>(src.size()), &st);
        if (r != vekStatusOk) fail_input("zfp: " + status_text(r));
        configure(&st, s_, false);
        std::vector<float> a(w.count());
        const size_t row = w.nx * 4, plane = w.nx * w.ny * 4;
        float block[64];
        size_t done = 0;
        w.each([&](size_t x, size_t y, size_t z, size_t bx, size_t by, size_t bz) {
            float* origin = a.data() + x + w.nx * (y + w.ny * z);
            if (bx == 4 && by == 4 && bz == 4 && row <= INT32_MAX && plane <= INT32_MAX) {
                r = veksDecodeZfp444_32f(&st, origin, static_cast<int32_t>(row),
                                         static_cast<int32_t>(plane));
            } else {
                r = veksDecodeZfp444_32f(&st, block, 16, 64);
                if (r == vekStatusOk)
                    for (size_t k = 0; k < bz; ++k)
                        for (size_t j = 0; j < by; ++j)
                            for (size_t i = 0; i < bx; ++i)
                                origin[i + w.nx * (j + w.ny * k)] = block[i + 4 * j + 16 * k];
            }
            if (r == vekStatusOutOfRangeErr)
                fail_input("truncated zfp stream: it ends in block " + std::to_string(done + 1) +
                           " of " + std::to_string(w.blocks()));
            if (r != vekStatusOk) fail_input("zfp: decoding failed: " + status_text(r));
            ++done;
        });
        // Whatever the last block left unread must be the zero fill of its
        // final word at most.
        int64_t loaded = 0;
        veksDecodeZfpGetDecompressedSizeLong_32f(&st, &loaded);
        if (src.size() - static_cast<size_t>(loaded) >= 8)
            fail_input("zfp: " + std::to_string(src.size() - static_cast<size_t>(loaded)) +
                       " bytes after the end of the stream (wrong --dims or mode?)");
        out.write(reinterpret_cast<const uint8_t*>(a.data()), a.size() * 4);
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
