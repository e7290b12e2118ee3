// Whole-array ZFP coding over the library's block functions.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vekdc.h"
#include "zfp_tool.h"

namespace vekdc {

namespace {

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

// The four parameters the zfp tool derives for a mode: a rate becomes a
// bit count per block rounded to nearest and at least the 9-bit header; a
// tolerance becomes its binary exponent (the library's SetAccuracy).
vekStatus configure(vekZfpState_32f* st, const ZfpMode& m, bool encode) {
    int32_t min_bits = 0, max_bits = 4171, max_prec = 64;
    if (m.kind == ZfpMode::kRate) {
        min_bits = max_bits = static_cast<int32_t>(std::floor(64 * m.value + 0.5));
        if (min_bits < 9) min_bits = max_bits = 9;
    } else if (m.kind == ZfpMode::kPrecision) {
        max_prec = static_cast<int32_t>(m.value);
    }
    vekStatus r = encode ? veksEncodeZfpSet_32f(min_bits, max_bits, max_prec, -10740, st)
                         : veksDecodeZfpSet_32f(min_bits, max_bits, max_prec, -10740, st);
    if (r == vekStatusOk && m.kind == ZfpMode::kAccuracy)
        r = encode ? veksEncodeZfpSetAccuracy_32f(m.value, st)
                   : veksDecodeZfpSetAccuracy_32f(m.value, st);
    return r;
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

// Calls f(origin offset, bx, by, bz) for every block, x fastest.
template <class F>
bool each_block(const ZfpShape& s, F f) {
    for (size_t z = 0; z < s.nz; z += 4)
        for (size_t y = 0; y < s.ny; y += 4)
            for (size_t x = 0; x < s.nx; x += 4)
                if (!f(x + s.nx * (y + s.ny * z), s.nx - x < 4 ? s.nx - x : 4,
                       s.ny - y < 4 ? s.ny - y : 4, s.nz - z < 4 ? s.nz - z : 4))
                    return false;
    return true;
}

}  // namespace

std::string ZfpMode::label() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %g",
                  kind == kRate        ? "rate"
                  : kind == kPrecision ? "precision"
                                       : "accuracy",
                  value);
    return buf;
}

size_t zfp_stream_bound(const ZfpShape& shape) {
    return shape.blocks() * 522 + 16;
}

size_t zfp_compress_array(const float* a, const ZfpShape& shape, const ZfpMode& mode, uint8_t* dst,
                          size_t cap, std::string* error) {
    vekZfpState_32f st;
    vekStatus r = veksEncodeZfpInitLong_32f(dst, static_cast<int64_t>(cap), &st);
    if (r == vekStatusOk) r = configure(&st, mode, true);
    const size_t row = shape.nx * 4, plane = shape.nx * shape.ny * 4;
    const bool strided = row <= INT32_MAX && plane <= INT32_MAX;
    float block[64];
    if (r == vekStatusOk)
        each_block(shape, [&](size_t at, size_t bx, size_t by, size_t bz) {
            const float* o = a + at;
            if (bx == 4 && by == 4 && bz == 4 && strided) {
                r = veksEncodeZfp444_32f(o, static_cast<int32_t>(row), static_cast<int32_t>(plane),
                                         &st);
                return r == vekStatusOk;
            }
            for (size_t k = 0; k < bz; ++k)
                for (size_t j = 0; j < by; ++j)
                    for (size_t i = 0; i < bx; ++i)
                        block[i + 4 * j + 16 * k] = o[i + shape.nx * (j + shape.ny * k)];
            for (size_t k = 0; k < bz; ++k)
                for (size_t j = 0; j < by; ++j) pad_line(block + 4 * j + 16 * k, bx, 1);
            for (size_t k = 0; k < bz; ++k)
                for (size_t i = 0; i < 4; ++i) pad_line(block + i + 16 * k, by, 4);
            for (size_t j = 0; j < 4; ++j)
                for (size_t i = 0; i < 4; ++i) pad_line(block + i + 4 * j, bz, 16);
            r = veksEncodeZfp444_32f(block, 16, 64, &st);
            return r == vekStatusOk;
        });
    int64_t bits = 0;
    if (r == vekStatusOk) r = veksEncodeZfpGetCompressedBitSize_32f(&st, &bits);
    if (r == vekStatusOk) r = veksEncodeZfpFlush_32f(&st);
    if (r != vekStatusOk) {
        *error = "zfp: encoding failed: " + status_text(r);
        return 0;
    }
    return static_cast<size_t>((bits + 7) / 8);
}

bool zfp_decompress_array(const uint8_t* src, size_t n, const ZfpShape& shape, const ZfpMode& mode,
                          float* a, size_t* consumed, std::string* error) {
    vekZfpState_32f st;
    vekStatus r = veksDecodeZfpInitLong_32f(src, static_cast<int64_t>(n), &st);
    if (r == vekStatusOk) r = configure(&st, mode, false);
    if (r != vekStatusOk) {
        *error = "zfp: " + status_text(r);
        return false;
    }
    const size_t row = shape.nx * 4, plane = shape.nx * shape.ny * 4;
    const bool strided = row <= INT32_MAX && plane <= INT32_MAX;
    float block[64];
    size_t done = 0;
    const bool ok = each_block(shape, [&](size_t at, size_t bx, size_t by, size_t bz) {
        float* o = a + at;
        if (bx == 4 && by == 4 && bz == 4 && strided) {
            r = veksDecodeZfp444_32f(&st, o, static_cast<int32_t>(row),
                                     static_cast<int32_t>(plane));
        } else {
            r = veksDecodeZfp444_32f(&st, block, 16, 64);
            if (r == vekStatusOk)
                for (size_t k = 0; k < bz; ++k)
                    for (size_t j = 0; j < by; ++j)
                        for (size_t i = 0; i < bx; ++i)
                            o[i + shape.nx * (j + shape.ny * k)] = block[i + 4 * j + 16 * k];
        }
        if (r != vekStatusOk) return false;
        ++done;
        return true;
    });
    if (!ok) {
        *error = r == vekStatusOutOfRangeErr
                     ? "truncated zfp stream: it ends in block " + std::to_string(done + 1) +
                           " of " + std::to_string(shape.blocks())
                     : "zfp: decoding failed: " + status_text(r);
        return false;
    }
    int64_t loaded = 0;
    veksDecodeZfpGetDecompressedSizeLong_32f(&st, &loaded);
    *consumed = static_cast<size_t>(loaded);
    return true;
}

}  // namespace vekdc
