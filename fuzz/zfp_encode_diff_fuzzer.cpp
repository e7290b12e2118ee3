// ZFP encoder and decoder against libzfp on arbitrary blocks and parameters:
// the stream must equal libzfp's block encoder output (ours is padded to a
// whole 64-bit word, libzfp's to a byte) and libzfp must decode it to the
// floats our decoder gives. Blocks holding infinities or NaNs, and nonzero
// blocks whose largest magnitude is below 2^-96, are left out: there the
// two differ by design (see the peer tests).
#include <zfp.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vekdc.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool comparable(const float* v) {
    float m = 0;
    for (int i = 0; i < 64; ++i) {
        if (!std::isfinite(v[i])) return false;
        m = std::fmax(m, std::fabs(v[i]));
    }
    return m == 0 || m >= std::ldexp(1.0f, -96);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6 + 256 || size > 64 * 256 + 6) return 0;
    const int32_t max_bits = 9 + (data[0] | data[1] << 8) % (4171 - 8);
    const int32_t min_bits =
        (data[2] & 0x80) ? max_bits : (data[2] | data[3] << 8) % (max_bits + 1);
    const int32_t max_prec = 1 + data[4] % 64;
    const int32_t min_exp = (data[5] & 0x80) ? -1074 : int32_t(int8_t(data[5] << 1)) - 20;
    std::vector<float> blocks;
    for (size_t at = 6; at + 256 <= size; at += 256) {
        float v[64];
        std::memcpy(v, data + at, 256);
        if (comparable(v)) blocks.insert(blocks.end(), v, v + 64);
    }
    const size_t n = blocks.size() / 64;
    if (n == 0) return 0;

    std::vector<uint8_t> ours(n * 530 + 16);
    vekZfpState_32f st;
    check(veksEncodeZfpInit_32f(ours.data(), int32_t(ours.size()), &st) == vekStatusOk);
    check(veksEncodeZfpSet_32f(min_bits, max_bits, max_prec, min_exp, &st) == vekStatusOk);
    for (size_t b = 0; b < n; ++b)
        check(veksEncodeZfp444_32f(&blocks[64 * b], 16, 64, &st) == vekStatusOk);
    check(veksEncodeZfpFlush_32f(&st) == vekStatusOk);
    const size_t len = size_t(st.pCur - st.pStart);

    std::vector<uint8_t> theirs(ours.size());
    bitstream* bs = stream_open(theirs.data(), theirs.size());
    zfp_stream* zs = zfp_stream_open(bs);
    check(zfp_stream_set_params(zs, uint(min_bits), uint(max_bits), uint(max_prec), min_exp));
    for (size_t b = 0; b < n; ++b) zfp_encode_block_float_3(zs, &blocks[64 * b]);
    zfp_stream_flush(zs);
    const size_t tlen = zfp_stream_compressed_size(zs);
    check(len == (tlen + 7) / 8 * 8);
    check(std::memcmp(ours.data(), theirs.data(), tlen) == 0);
    for (size_t i = tlen; i < len; ++i) check(ours[i] == 0);

    std::vector<float> mine(n * 64), peer(n * 64);
    vekZfpState_32f ds;
    check(veksDecodeZfpInit_32f(ours.data(), int32_t(len), &ds) == vekStatusOk);
    check(veksDecodeZfpSet_32f(min_bits, max_bits, max_prec, min_exp, &ds) == vekStatusOk);
    for (size_t b = 0; b < n; ++b)
        check(veksDecodeZfp444_32f(&ds, &mine[64 * b], 16, 64) == vekStatusOk);
    std::memcpy(theirs.data(), ours.data(), len);
    zfp_stream_rewind(zs);
    for (size_t b = 0; b < n; ++b) zfp_decode_block_float_3(zs, &peer[64 * b]);
    check(std::memcmp(mine.data(), peer.data(), mine.size() * 4) == 0);
    zfp_stream_close(zs);
    stream_close(bs);
    return 0;
}
