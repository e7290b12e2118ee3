// Arbitrary bits as a block body, decoded by veksInflate_8u in pieces and
// compared after every call with the bit-by-bit stop model (status, mode,
// cursors, held bits, saved step, output, guard bytes past the output
// space). The first four bytes seed the codes (fixed, or random complete
// sets in the general or short form), the window and the piece sizes; the
// rest is the body, after 0 to 7 junk bits taken from byte 3.
#define VEKDC_STOP_DRIVER_ABORTS
#include <cstdint>
#include <random>

#include "inflate_stop_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 16384) return 0;
    using namespace vek::stopdriver;
    std::mt19937 rng(uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                     uint32_t(data[3]) << 24);
    Case c;
    choose_codes(rng, c);
    c.skipBits = data[3] & 7;
    c.stream.assign(data + 4, data + size);
    Stats stats;
    drive(c, rng, stats);
    return 0;
}
