// Arbitrary bytes as a raw Deflate stream through the stream parser and the
// library's inflater, in exact-size heap blocks (input pieces, output
// buffers, window, state), so that AddressSanitizer sees any access outside
// them; the result must agree with the reference inflater. The first four
// bytes choose the way of decoding:
//   byte 0: bits 0-1 input pieces (whole / 1..7 / 1..64 / 1..3 bytes),
//           bits 2-3 output (one buffer / 32 KiB window and buffers of
//           1..4096 bytes / one buffer after a small prefilled window /
//           one buffer after a 32 KiB prefilled window),
//           bit 4 output pieces of 0..8 bytes, bit 5 bits preloaded into
//           *pCode, bit 6 new output buffers at random, bit 7 dynamic blocks
//           in the general table form;
//   bytes 1-2: output limit; byte 3: window size for the small window.
// The piece sizes themselves are drawn from the whole input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "deflate/inflate.h"
#include "deflate_stream_parser.h"
#include "inflate_reference.h"

namespace {

void to_general(const uint16_t* lens, uint32_t nLit, uint32_t nDist, vekInflateState* st, void*) {
    uint8_t lit[288], dist[30];
    for (uint32_t i = 0; i < nLit; ++i) lit[i] = uint8_t(lens[i]);
    for (uint32_t i = 0; i < nDist; ++i) dist[i] = uint8_t(lens[nLit + i]);
    if (!vek::deflate::build_general_table(lit, nLit, dist, nDist, st->tables)) std::abort();
    st->tableType = vekInflateTableGeneral;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 200000) return 0;
    const uint8_t cfg = data[0];
    const size_t limit = (size_t(data[1]) | size_t(data[2]) << 8) * 4;
    const uint8_t* stream = data + 4;
    const size_t n = size - 4;

    vek::testinflate::PieceSource pieces(data, size);
    vek::testinflate::DriveOptions o;
    o.outLimit = limit;
    o.pieces = &pieces;
    o.exactInput = true;
    static const uint32_t kInPiece[4] = {0, 7, 64, 3};
    o.maxInPiece = kInPiece[cfg & 3];
    std::vector<uint8_t> dict;
    switch ((cfg >> 2) & 3) {
        case 0:
            break;
        case 1:
            o.useWindow = true;
            o.winSize = 32768;
            o.chunkSize = 1 + pieces.next(0, 4095);
            dict.assign(32768, 0);  // the window starts as zeros
            break;
        default:
            o.useWindow = true;
            o.winSize = ((cfg >> 2) & 3) == 2 ? 1 + data[3] : 32768;
            dict.resize(o.winSize);
            for (size_t i = 0; i < dict.size(); ++i) dict[i] = uint8_t(i * 31 + data[3]);
            o.windowInit = dict.data();
            break;
    }
    if (cfg & 16) o.maxOutPiece = 8;
    o.preloadBits = (cfg & 32) != 0;
    o.randomDrain = (cfg & 64) != 0 && o.chunkSize != 0;
    if (cfg & 128) o.afterBuild = to_general;

    const vek::testinflate::DriveResult d = vek::testinflate::inflate_stream(stream, n, o);
    const vek::testref::ReferenceInflate r = vek::testref::reference_inflate(
        stream, n, limit, dict.empty() ? nullptr : dict.data(), dict.size());
    const std::string why = vek::testref::check_against_reference(d, r);
    if (!why.empty()) {
        std::fprintf(stderr, "inflate disagrees with the reference: %s\n", why.c_str());
        std::abort();
    }
    return 0;
}
