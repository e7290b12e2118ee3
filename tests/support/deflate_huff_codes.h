// Canonical Deflate codes from code lengths, bit-reversed for writers that
// emit the least significant bit first (the library's code-table form).
#pragma once
#include <cstdint>
#include <vector>

#include "vekdc.h"

namespace vek::testsupport {

inline std::vector<vekDeflateHuffCode> canonical(const std::vector<uint32_t>& len) {
    std::vector<vekDeflateHuffCode> c(len.size());
    uint32_t count[17] = {}, next[17] = {};
    for (uint32_t l : len) ++count[l];
    count[0] = 0;
    for (int l = 1, code = 0; l <= 16; ++l)
        next[l] = uint32_t(code = (code + int(count[l - 1])) << 1);
    for (size_t s = 0; s < len.size(); ++s) {
        uint32_t v = len[s] ? next[len[s]]++ : 0, r = 0;
        for (uint32_t i = 0; i < len[s]; ++i) r |= ((v >> i) & 1u) << (len[s] - 1 - i);
        c[s] = {uint16_t(r), uint16_t(len[s])};
    }
    return c;
}

}  // namespace vek::testsupport
