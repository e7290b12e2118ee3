// Symbol dictionary: maps bytes onto the alphabet of the values marked in
// use (reduce) and back (expand), one table lookup per byte.
#include "bwt/rle_bz2.h"

namespace vek::bwt {
namespace {

void translate(const uint8_t* table, uint8_t* data, int32_t len) {
    int32_t i = 0;
    for (; i + 4 <= len; i += 4) {
        const uint8_t a = table[data[i]], b = table[data[i + 1]];
        const uint8_t c = table[data[i + 2]], e = table[data[i + 3]];
        data[i] = a;
        data[i + 1] = b;
        data[i + 2] = c;
        data[i + 3] = e;
    }
    for (; i < len; ++i) data[i] = table[data[i]];
}

}  // namespace

int32_t reduce_dictionary(const uint8_t* in_use, uint8_t* data, int32_t len) {
    // map[v] is the number of in-use values below v, kept to 8 bits; a value
    // that is not in use maps by the same rule.
    uint8_t map[256];
    int32_t total = 0;
    for (int v = 0; v < 256; ++v) {
        map[v] = static_cast<uint8_t>(total);
        total += in_use[v];
    }
    translate(map, data, len);
    return total;
}

vekStatus expand_dictionary(const uint8_t* in_use, uint8_t* data, int32_t len,
                            int32_t size_dictionary) {
    // unmap[k] is the k-th value in use. Positions past the alphabet keep 0,
    // and with in-use counts above 1 the positions beyond 255 are dropped.
    uint8_t unmap[256] = {};
    int32_t pos = 0;
    for (int v = 0; v < 256; ++v) {
        if (pos < 256) unmap[pos] = static_cast<uint8_t>(v);
        pos += in_use[v];
    }
    if (pos != size_dictionary) return vekStatusBadDataErr;
    translate(unmap, data, len);
    return vekStatusOk;
}

}  // namespace vek::bwt
