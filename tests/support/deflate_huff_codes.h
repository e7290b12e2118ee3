// Canonical Deflate codes from code lengths, bit-reversed for writers that
// emit the least significant bit first (the library's code-table form).
#pragma once
#include <algorithm>
#include <cstdint>
#include <random>
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

// Literal/length and distance code tables, as the writers take them.
struct CodeSet {
    std::vector<vekDeflateHuffCode> lit, dist;
};

// Code lengths and pending counts above 16 are the caller's error; the
// writers take them as 16. Gives a copy of `cs` with about a third of its
// entries replaced by random codes of 17..65535 bits, and sets *clamped to
// what the writers must make of it (the lengths cut to 16).
inline CodeSet widened(const CodeSet& cs, std::mt19937& rng, CodeSet* clamped) {
    CodeSet wide = cs;
    for (auto* t : {&wide.lit, &wide.dist})
        for (auto& c : *t)
            if (rng() % 3 == 0) c = {uint16_t(rng()), uint16_t(17 + rng() % 65519)};
    *clamped = wide;
    for (auto* t : {&clamped->lit, &clamped->dist})
        for (auto& c : *t) c.len = std::min<uint16_t>(c.len, 16);
    return wide;
}

}  // namespace vek::testsupport
