// Whole-array ZFP coding over the library's block functions.
#include <algorithm>
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

// Bits of a fixed-rate block (at least the 9-bit header).
int32_t rate_bits(double rate) {
    const int32_t bits = static_cast<int32_t>(std::floor(64 * rate + 0.5));
    return bits < 9 ? 9 : bits;
}

// The four parameters the zfp tool derives for a mode: a rate becomes a
// bit count per block rounded to nearest and at least the 9-bit header; a
// tolerance becomes its binary exponent (the library's SetAccuracy).
vekStatus configure(vekZfpState_32f* st, const ZfpMode& m, bool encode) {
    int32_t min_bits = 0, max_bits = 4171, max_prec = 64;
    if (m.kind == ZfpMode::kRate) {
        min_bits = max_bits = rate_bits(m.value);
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

// Calls f(offset, bx, by) for every block of a slab, x fastest.
template <class F>
bool each_slab_block(const ZfpShape& s, F f) {
    for (size_t y = 0; y < s.ny; y += 4)
        for (size_t x = 0; x < s.nx; x += 4)
            if (!f(x + s.nx * y, s.nx - x < 4 ? s.nx - x : 4, s.ny - y < 4 ? s.ny - y : 4))
                return false;
    return true;
}

// Encodes the blocks of one slab of `bz` (1..4) layers.
vekStatus encode_slab(const float* slab, const ZfpShape& shape, size_t bz, vekZfpState_32f* st) {
    const size_t row = shape.nx * 4, plane = shape.nx * shape.ny * 4;
    const bool strided = row <= INT32_MAX && plane <= INT32_MAX;
    vekStatus r = vekStatusOk;
    float block[64];
    each_slab_block(shape, [&](size_t at, size_t bx, size_t by) {
        const float* o = slab + at;
        if (bx == 4 && by == 4 && bz == 4 && strided) {
            r = veksEncodeZfp444_32f(o, static_cast<int32_t>(row), static_cast<int32_t>(plane), st);
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
        r = veksEncodeZfp444_32f(block, 16, 64, st);
        return r == vekStatusOk;
    });
    return r;
}

// Decodes the blocks of one slab of `bz` (1..4) layers; counts them in *done.
vekStatus decode_slab(vekZfpState_32f* st, float* slab, const ZfpShape& shape, size_t bz,
                      uint64_t* done) {
    const size_t row = shape.nx * 4, plane = shape.nx * shape.ny * 4;
    const bool strided = row <= INT32_MAX && plane <= INT32_MAX;
    vekStatus r = vekStatusOk;
    float block[64];
    each_slab_block(shape, [&](size_t at, size_t bx, size_t by) {
        float* o = slab + at;
        if (bx == 4 && by == 4 && bz == 4 && strided) {
            r = veksDecodeZfp444_32f(st, o, static_cast<int32_t>(row), static_cast<int32_t>(plane));
        } else {
            r = veksDecodeZfp444_32f(st, block, 16, 64);
            if (r == vekStatusOk)
                for (size_t k = 0; k < bz; ++k)
                    for (size_t j = 0; j < by; ++j)
                        for (size_t i = 0; i < bx; ++i)
                            o[i + shape.nx * (j + shape.ny * k)] = block[i + 4 * j + 16 * k];
        }
        if (r != vekStatusOk) return false;
        ++*done;
        return true;
    });
    return r;
}

std::string decode_error(vekStatus r, uint64_t done, const ZfpShape& shape) {
    return r == vekStatusOutOfRangeErr
               ? "truncated zfp stream: it ends in block " + std::to_string(done + 1) + " of " +
                     std::to_string(shape.blocks())
               : "zfp: decoding failed: " + status_text(r);
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

bool zfp_shape_fits(const ZfpShape& shape, std::string* error) {
    // The whole array's bytes in 64 bits, a slab's in size_t, with room to
    // spare for the stream bound (522 bytes per 256-byte block).
    uint64_t bytes = 16;
    bool wraps = __builtin_mul_overflow(bytes, uint64_t(shape.nx), &bytes) ||
                 __builtin_mul_overflow(bytes, uint64_t(shape.ny), &bytes);
    const uint64_t slab_bytes = bytes;
    wraps = wraps || slab_bytes > SIZE_MAX / 4 ||
            __builtin_mul_overflow(bytes / 4, uint64_t(shape.nz), &bytes) || bytes > UINT64_MAX / 4;
    if (!wraps) return true;
    *error = "zfp: --dims " + std::to_string(shape.nx) + " " + std::to_string(shape.ny) + " " +
             std::to_string(shape.nz) + " is too large an array for this build";
    return false;
}

uint64_t zfp_min_block_bits(const ZfpMode& mode) {
    return mode.kind == ZfpMode::kRate ? static_cast<uint64_t>(rate_bits(mode.value)) : 1;
}

size_t zfp_stream_bound(const ZfpShape& shape) {
    return shape.blocks() * 522 + 16;
}

size_t zfp_compress_array(const float* a, const ZfpShape& shape, const ZfpMode& mode, uint8_t* dst,
                          size_t cap, std::string* error) {
    vekZfpState_32f st;
    vekStatus r = veksEncodeZfpInitLong_32f(dst, static_cast<int64_t>(cap), &st);
    if (r == vekStatusOk) r = configure(&st, mode, true);
    for (size_t z = 0; z < shape.nz && r == vekStatusOk; z += 4)
        r = encode_slab(a + shape.nx * shape.ny * z, shape, std::min<size_t>(shape.nz - z, 4), &st);
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
    uint64_t done = 0;
    for (size_t z = 0; z < shape.nz && r == vekStatusOk; z += 4)
        r = decode_slab(&st, a + shape.nx * shape.ny * z, shape, std::min<size_t>(shape.nz - z, 4),
                        &done);
    if (r != vekStatusOk) {
        *error = decode_error(r, done, shape);
        return false;
    }
    int64_t loaded = 0;
    veksDecodeZfpGetDecompressedSizeLong_32f(&st, &loaded);
    *consumed = static_cast<size_t>(loaded);
    return true;
}

// --- one slab at a time ------------------------------------------------------

ZfpSlabEncoder::ZfpSlabEncoder(const ZfpShape& shape, const ZfpMode& mode)
    : shape_(shape),
      cap_(shape.slab_blocks() * 522 + 16),
      buf_(new uint8_t[cap_]),  // left uninitialised: only what is written is touched
      st_() {
    status_ = veksEncodeZfpInitLong_32f(buf_.get(), static_cast<int64_t>(cap_), &st_);
    if (status_ == vekStatusOk) status_ = configure(&st_, mode, true);
}

bool ZfpSlabEncoder::encode(const float* slab, size_t layers, std::string* error) {
    if (status_ == vekStatusOk) status_ = encode_slab(slab, shape_, layers, &st_);
    if (status_ != vekStatusOk) {
        *error = "zfp: encoding failed: " + status_text(status_);
        return false;
    }
    // Only whole words are stored; the bits of the next one stay in the state.
    ready_ = static_cast<size_t>(st_.pCur - st_.pStart);
    return true;
}

void ZfpSlabEncoder::take() {
    // The buffer is free again from its start: the state's next word goes
    // there, and the room to its end is the same as at the start.
    st_.pCur = st_.pStart;
    ready_ = 0;
}

bool ZfpSlabEncoder::finish(std::string* error) {
    int64_t bits = 0;
    if (status_ == vekStatusOk) status_ = veksEncodeZfpGetCompressedBitSize_32f(&st_, &bits);
    if (status_ == vekStatusOk) status_ = veksEncodeZfpFlush_32f(&st_);
    if (status_ != vekStatusOk) {
        *error = "zfp: encoding failed: " + status_text(status_);
        return false;
    }
    ready_ = static_cast<size_t>((bits + 7) / 8);
    return true;
}

ZfpSlabDecoder::ZfpSlabDecoder(const uint8_t* src, size_t n, const ZfpShape& shape,
                               const ZfpMode& mode)
    : shape_(shape), st_() {
    status_ = veksDecodeZfpInitLong_32f(src, static_cast<int64_t>(n), &st_);
    if (status_ == vekStatusOk) status_ = configure(&st_, mode, false);
}

bool ZfpSlabDecoder::decode(float* slab, size_t layers, std::string* error) {
    if (status_ == vekStatusOk) status_ = decode_slab(&st_, slab, shape_, layers, &done_);
    if (status_ != vekStatusOk) {
        *error = decode_error(status_, done_, shape_);
        return false;
    }
    return true;
}

size_t ZfpSlabDecoder::consumed() const {
    int64_t loaded = 0;
    veksDecodeZfpGetDecompressedSizeLong_32f(&st_, &loaded);
    return static_cast<size_t>(loaded);
}

}  // namespace vekdc
