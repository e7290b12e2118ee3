// Plain byte-at-a-time models of LZO1X for the tests: a validating decoder
// that follows the token grammar literally (plain streams only), and the two
// matchers written straight from their rules, with a bitwise CRC-32C.
#pragma once
#include <cstdint>
#include <vector>

#include "vekdc.h"

namespace vek::testref {

struct LzoModelResult {
    vekStatus status = vekStatusOk;
    std::vector<uint8_t> out;
};

// Decodes one plain stream into at most `cap` bytes. Ok at the end marker or
// when the input ends between tokens; CorruptStream for any read past the
// input, write past `cap` or distance beyond the bytes decoded.
inline LzoModelResult lzo_model_decode(const uint8_t* in, size_t n, size_t cap) {
    LzoModelResult r;
    std::vector<uint8_t>& out = r.out;
    size_t i = 0;
    bool bad = false;
    auto next = [&]() -> uint32_t {
        if (i >= n) {
            bad = true;
            return 0;
        }
        return in[i++];
    };
    auto run = [&](uint64_t base) -> uint64_t {
        uint64_t zeros = 0;
        for (;;) {
            const uint32_t b = next();
            if (bad) return 0;
            if (b) return base + 255 * zeros + b;
            ++zeros;
        }
    };
    auto literals = [&](uint64_t L) {
        if (bad || n - i < L || cap - out.size() < L) {
            bad = true;
            return;
        }
        out.insert(out.end(), in + i, in + i + L);
        i += L;
    };
    auto copy = [&](uint64_t d, uint64_t m) {
        if (bad || d > out.size() || cap - out.size() < m) {
            bad = true;
            return;
        }
        for (uint64_t k = 0; k < m; ++k) out.push_back(out[out.size() - d]);
    };
    enum State { kStart, kAfterMatch0, kAfterLiterals, kAfterTrailing } state = kStart;
    for (;;) {
        if (i >= n) break;
        const uint32_t t = in[i++];
        if (state == kStart) {
            if (t > 17) {
                literals(t - 17);
                state = t - 17 < 4 ? kAfterTrailing : kAfterLiterals;
                if (bad) break;
                continue;
            }
            state = kAfterMatch0;
        }
        uint32_t trailing;
        if (t < 16) {
            if (state == kAfterMatch0) {
                literals(t ? t + 3 : run(18));
                state = kAfterLiterals;
                if (bad) break;
                continue;
            }
            const uint32_t b = next();
            if (state == kAfterLiterals)
                copy(2049 + (t >> 2) + (b << 2), 3);
            else
                copy(1 + (t >> 2) + (b << 2), 2);
            trailing = t & 3;
        } else if (t >= 64) {
            const uint32_t b = next();
            copy(1 + ((t >> 2) & 7) + (b << 3), (t >> 5) + 1);
            trailing = t & 3;
        } else if (t >= 32) {
            const uint64_t m = (t & 31) ? (t & 31) + 2 : run(33);
            const uint32_t lo = next(), hi = next();
            copy(((lo | hi << 8) >> 2) + 1, m);
            trailing = lo & 3;
        } else {
            const uint64_t m = (t & 7) ? (t & 7) + 2 : run(9);
            const uint32_t lo = next(), hi = next();
            const uint32_t field = ((t & 8) << 11) | ((lo | hi << 8) >> 2);
            if (!bad && field == 0) break;
            copy(16384 + field, m);
            trailing = lo & 3;
        }
        if (bad) break;
        if (trailing) {
            literals(trailing);
            state = kAfterTrailing;
        } else {
            state = kAfterMatch0;
        }
        if (bad) break;
    }
    if (bad) r.status = vekStatusCorruptStreamErr;
    return r;
}

inline uint32_t crc32c_bitwise(uint32_t word) {
    uint32_t crc = 0;
    for (int k = 0; k < 4; ++k) {
        crc ^= (word >> (8 * k)) & 0xFF;
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0x82F63B78u & (0u - (crc & 1)));
    }
    return crc;
}

class LzoModelWriter {
  public:
    std::vector<uint8_t> out;

    void zero_run(uint32_t v) {
        while (v > 255) {
            out.push_back(0);
            v -= 255;
        }
        out.push_back(static_cast<uint8_t>(v));
    }
    // A literal run after a match, or the first run of a stream with matches.
    void run(const uint8_t* lit, uint32_t L) {
        if (L >= 1 && L <= 3) {
            out[out.size() - 2] |= static_cast<uint8_t>(L);
        } else if (L >= 4 && L <= 18) {
            out.push_back(static_cast<uint8_t>(L - 3));
        } else if (L >= 19) {
            out.push_back(0);
            zero_run(L - 18);
        }
        out.insert(out.end(), lit, lit + L);
    }
    void match(uint32_t m, uint32_t d) {
        uint32_t word;
        if (m <= 8 && d <= 2048) {
            out.push_back(static_cast<uint8_t>(((m - 1) << 5) | (((d - 1) & 7) << 2)));
            out.push_back(static_cast<uint8_t>((d - 1) >> 3));
            return;
        }
        if (d <= 16384) {
            if (m <= 33) {
                out.push_back(static_cast<uint8_t>(0x20 | (m - 2)));
            } else {
                out.push_back(0x20);
                zero_run(m - 33);
            }
            word = (d - 1) << 2;
        } else {
            const uint32_t e = d - 16384;
            const uint32_t first = 0x10 | ((e & 0x4000) >> 11);
            if (m <= 9) {
                out.push_back(static_cast<uint8_t>(first | (m - 2)));
            } else {
                out.push_back(static_cast<uint8_t>(first));
                zero_run(m - 9);
            }
            word = (e & 0x3FFF) << 2;
        }
        out.push_back(static_cast<uint8_t>(word));
        out.push_back(static_cast<uint8_t>(word >> 8));
    }
    void finish(const uint8_t* lit, uint32_t L) {
        if (out.empty()) {
            if (L <= 238) {
                out.push_back(static_cast<uint8_t>(L + 17));
            } else {
                out.push_back(0);
                zero_run(L - 18);
            }
            out.insert(out.end(), lit, lit + L);
        } else {
            run(lit, L);
        }
        out.insert(out.end(), {0x11, 0x00, 0x00});
    }
};

inline uint32_t word_at(const std::vector<uint8_t>& s, size_t p) {
    return s[p] | s[p + 1] << 8 | s[p + 2] << 16 | uint32_t(s[p + 3]) << 24;
}

// Single-probe matcher: every position from 4, one dictionary entry per
// hash; the last 13 bytes stay literal. `dict` (32768 entries) carries over
// between calls as the library's state does.
inline std::vector<uint8_t> lzo_model_method0(const std::vector<uint8_t>& src,
                                              std::vector<uint32_t>& dict) {
    LzoModelWriter w;
    const uint32_t n = static_cast<uint32_t>(src.size());
    uint32_t anchor = 0;
    if (n > 13) {
        const uint32_t limit = n - 13;
        for (uint32_t p = 4; p < limit;) {
            const uint32_t h = crc32c_bitwise(word_at(src, p)) & 0x7FFF;
            const uint32_t c = dict[h];
            dict[h] = p;
            if (c != 0 && c < p && p - c < 49152 && p + 4 <= limit &&
                word_at(src, c) == word_at(src, p)) {
                uint32_t m = 4;
                while (p + m < limit && src[c + m] == src[p + m]) ++m;
                w.run(src.data() + anchor, p - anchor);
                w.match(m, p - c);
                p += m;
                anchor = p;
            } else {
                ++p;
            }
        }
    }
    w.finish(src.data() + anchor, n - anchor);
    return w.out;
}

// Piecewise matcher: 49152-byte pieces, a fresh table of 16384 offsets per
// piece, two probes per step until 32 misses, then one probe with a growing
// step; a piece after one that wrote more than 45056 bytes probes once per
// step from its start and keeps the miss count.
inline std::vector<uint8_t> lzo_model_method2(const std::vector<uint8_t>& src) {
    LzoModelWriter w;
    const uint64_t n = src.size();
    uint64_t anchor = 0, counter = 0;
    bool busy = false;
    for (uint64_t start = 0; start < n; start += 49152) {
        const uint64_t end = std::min<uint64_t>(n, start + 49152);
        std::vector<uint32_t> table(16384, 0);
        const size_t out_before = w.out.size();
        if (!busy) counter = 0;
        const bool single_only = busy;
        if (end - start > 20) {
            const uint64_t scan_end = end - 20;
            const uint64_t s0 = start - anchor <= 3 ? anchor + 4 : start;
            uint64_t p = s0 + 1;
            while (p < scan_end) {
                uint64_t m = 0, c = 0;
                bool found = false;
                if (!single_only && counter < 32) {
                    const uint32_t h0 = crc32c_bitwise(word_at(src, p)) & 0x3FFF;
                    const uint32_t h1 = crc32c_bitwise(word_at(src, p + 1)) & 0x3FFF;
                    const uint64_t c0 = start + table[h0];
                    table[h0] = static_cast<uint32_t>(p - start);
                    const uint64_t c1 = start + table[h1];
                    table[h1] = static_cast<uint32_t>(p + 1 - start);
                    if (word_at(src, c0) == word_at(src, p)) {
                        found = true, m = p, c = c0;
                    } else if (word_at(src, c1) == word_at(src, p + 1)) {
                        found = true, m = p + 1, c = c1;
                    } else {
                        counter += 2;
                        p += 2;
                    }
                } else {
                    const uint32_t h0 = crc32c_bitwise(word_at(src, p)) & 0x3FFF;
                    const uint64_t c0 = start + table[h0];
                    table[h0] = static_cast<uint32_t>(p - start);
                    if (word_at(src, c0) == word_at(src, p)) {
                        found = true, m = p, c = c0;
                    } else {
                        const uint64_t grow = counter / 32;
                        p += 1 + grow;
                        counter += grow;
                    }
                }
                if (!found) continue;
                uint64_t len = 4;
                while (m + len < end && src[c + len] == src[m + len]) ++len;
                w.run(src.data() + anchor, static_cast<uint32_t>(m - anchor));
                w.match(static_cast<uint32_t>(len), static_cast<uint32_t>(m - c));
                p = m + len;
                anchor = p;
                counter = 0;
            }
        }
        busy = w.out.size() - out_before > 45056;
    }
    w.finish(src.data() + anchor, static_cast<uint32_t>(n - anchor));
    return w.out;
}

}  // namespace vek::testref
