// Plain models of the run-length stage and of the zero-run decoder, shared
// by the unit tests and the fuzz targets.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vekdc.h"

namespace vek::testref {

using Bytes = std::vector<uint8_t>;
using Syms = std::vector<uint16_t>;

// Run-length encoding of a whole input: each maximal run of n equal bytes
// goes out in pieces of at most 259 as b b b b (m - 4), and what is left
// below four as plain bytes.
inline Bytes model_rle_encode(const Bytes& in) {
    Bytes out;
    for (size_t i = 0; i < in.size();) {
        size_t j = i;
        while (j < in.size() && in[j] == in[i]) ++j;
        size_t n = j - i;
        while (n >= 4) {
            const size_t m = std::min<size_t>(n, 259);
            out.insert(out.end(), 4, in[i]);
            out.push_back(uint8_t(m - 4));
            n -= m;
        }
        out.insert(out.end(), n, in[i]);
        i = j;
    }
    return out;
}

// The decoder's reading of any byte string, with unlimited room: a marker
// is three repeats of the byte just written literally, then a count; run
// groups for the same byte right behind it are merged; the last three
// bytes are plain.
inline Bytes model_rle_decode(const Bytes& in) {
    Bytes out;
    size_t i = 0;
    int last = -1;
    while (in.size() - i >= 4) {
        if (in[i] == last && in[i + 1] == last && in[i + 2] == last) {
            size_t run = in[i + 3] + 3;
            i += 4;
            while (in.size() - i >= 5 && in[i] == last && in[i + 1] == last && in[i + 2] == last &&
                   in[i + 3] == last) {
                run += in[i + 4] + 4;
                i += 5;
            }
            out.insert(out.end(), run, uint8_t(last));
            last = -1;
        } else {
            last = in[i++];
            out.push_back(uint8_t(last));
        }
    }
    out.insert(out.end(), in.begin() + long(i), in.end());
    return out;
}

// Decoder reading of any symbol string into `cap` bytes.
struct Z1Z2Decoded {
    Bytes out;
    size_t consumed;
    vekStatus st;
};
inline Z1Z2Decoded model_z1z2_decode(const Syms& in, size_t cap) {
    Z1Z2Decoded res{{}, 0, vekStatusOk};
    size_t i = 0;
    for (;;) {
        std::vector<uint16_t> digits;
        while (i < in.size() && in[i] < 2) digits.push_back(in[i++]);
        // Horner from the last digit; anything beyond 2^40 cannot fit.
        double v = 0;
        for (size_t k = digits.size(); k-- > 0;) v = digits[k] + 2 * v + 1;
        const size_t room = cap - res.out.size();
        if (i == in.size()) {
            if (v > double(room)) {
                res.st = vekStatusDstTooSmall;
            } else {
                res.out.insert(res.out.end(), size_t(v), 0);
            }
            res.consumed = i;
            return res;
        }
        if (v >= double(room)) {
            res.st = vekStatusDstTooSmall;
            res.consumed = i;
            return res;
        }
        res.out.insert(res.out.end(), size_t(v), 0);
        res.out.push_back(uint8_t(in[i++] - 1));
    }
}

}  // namespace vek::testref
