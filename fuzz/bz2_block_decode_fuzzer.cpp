// Block decoder of the bzip2 format on arbitrary symbols, primary index and
// in-use table, in exact-size heap buffers; the result must equal the plain
// model (zero runs, move-to-front, dictionary, inverse rotation sort) or be
// refused exactly when the model finds no block within the capacity.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bz2_huff_model.h"
#include "vekdc.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Header: a byte value marked 0x90 (not in use as a signed byte), flags,
    // a 32-byte in-use bitmap, capacity and primary index (2 bytes each);
    // then 16-bit symbols. Flag 2 selects capacities from 64 KiB up, where
    // long zero runs reach the walk of many chains.
    constexpr size_t kHeader = 38;
    if (size < kHeader + 2) return 0;
    uint8_t inUse[256] = {};
    int32_t dict = 0;
    for (int v = 0; v < 256; ++v) {
        inUse[v] = (data[2 + v / 8] >> (v % 8)) & 1u;
        dict += inUse[v];
    }
    if (!inUse[data[0]]) inUse[data[0]] = 0x90;
    if (data[1] & 1) dict += 1;  // a size the table does not match
    const int32_t capField = data[34] | (data[35] << 8);
    const int32_t cap = (data[1] & 2) ? 65536 + 3 * capField : 1 + capField % 4096;
    const int32_t index = (data[36] | (data[37] << 8)) % cap;
    const size_t nsym = (size - kHeader) / 2;
    std::vector<uint16_t> sym(nsym);
    for (size_t i = 0; i < nsym; ++i)
        sym[i] = static_cast<uint16_t>(data[kHeader + 2 * i] | (data[kHeader + 1 + 2 * i] << 8));
    std::unique_ptr<uint16_t[]> src(new uint16_t[nsym]);
    std::copy(sym.begin(), sym.end(), src.get());
    std::unique_ptr<uint8_t[]> dst(new uint8_t[static_cast<size_t>(cap)]);
    std::unique_ptr<uint8_t[]> buf(new uint8_t[4 * static_cast<size_t>(cap)]);
    int32_t n = cap;
    const vekStatus st = veksDecodeBlock_BZ2_16u8u(src.get(), static_cast<int32_t>(nsym), dst.get(),
                                                   &n, index, dict, inUse, buf.get());
    const std::vector<uint8_t> ref =
        vek::testing::bz2model::decode_block(sym, inUse, index, static_cast<size_t>(cap));
    if (dict > 256) {
        check(st == vekStatusSizeErr);
    } else if (ref.empty() || (data[1] & 1)) {
        check(st == vekStatusBadDataErr);
        check(n == cap);
    } else {
        check(st == vekStatusOk);
        check(n == static_cast<int32_t>(ref.size()));
        check(std::equal(ref.begin(), ref.end(), dst.get()));
    }
    return 0;
}
