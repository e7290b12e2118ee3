// Plain model of the LZSS stream, written straight from the algorithm with
// no attention to speed: the whole stream history in one vector, the chains
// as plain arrays, one bit per vector element. The tests compare the codec's
// bytes with it.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

namespace vek::lzss_model {

struct Bits {
    std::vector<uint8_t> bits;  // one 0/1 per element
    void put(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) bits.push_back((value >> i) & 1);
    }
    // Packs the bits into bytes, the last one filled with zeros.
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out((bits.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        return out;
    }
};

// The flushed stream of `data` given to the encoder in pieces of the given
// sizes (their sum is data.size()). `t` holds the three 256-entry hash tables.
inline std::vector<uint8_t> encode(const std::vector<uint8_t>& data,
                                   const std::vector<size_t>& pieces, const int16_t* t) {
    std::vector<int32_t> head(32768, -32768), prev(32768, -32768);
    auto h = [&](int32_t p) {
        return (t[data[p]] ^ t[256 + data[p + 1]] ^ t[512 + data[p + 2]]) & 0x7FFF;
    };
    auto insert = [&](int32_t p) {
        const int hp = h(p);
        prev[p % 32768] = head[hp];
        head[hp] = p;
    };
    Bits out;
    int32_t p0 = 0;
    for (size_t piece : pieces) {
        const int32_t end = p0 + static_cast<int32_t>(piece);
        int32_t pos = p0;
        while (pos < end - 2) {
            const int32_t max_len = std::min(end - 2 - pos, 258);
            const int hp = h(pos);
            int32_t c = head[hp];
            prev[pos % 32768] = c;
            head[hp] = pos;
            int32_t best = 2, best_c = -1;
            if (pos - c < 32768 && max_len > 2) {
                for (int examined = 1;; ++examined) {
                    if (data[c + best - 1] == data[pos + best - 1] &&
                        data[c + best] == data[pos + best]) {
                        int32_t len = 0;
                        while (len < max_len && data[c + len] == data[pos + len]) ++len;
                        if (len > best) {
                            best = len;
                            best_c = c;
                        }
                    }
                    if (best >= max_len || examined == 16) break;
                    c = prev[c % 32768];
                    if (pos - c >= 32768) break;
                }
            }
            if (best >= 3) {
                out.put(0, 1);
                out.put(static_cast<uint32_t>(pos - best_c), 15);
                out.put(static_cast<uint32_t>(best - 3), 8);
                for (int32_t q = pos + 1; q < pos + best; ++q) insert(q);
                pos += best;
            } else {
                out.put(1, 1);
                out.put(data[pos], 8);
                pos += 1;
            }
        }
        for (; pos < end; ++pos) {
            out.put(1, 1);
            out.put(data[pos], 8);
        }
        p0 = end;
    }
    return out.bytes();
}

// Where each decoded token ends: bytes of output so far, bits of stream read.
struct TokenEnd {
    size_t out;
    size_t bit;
};

// Every complete token of `stream`, decoded after a history of 32768 zero
// bytes; a distance field of 0 means 32768. `ends` (if given) receives
// where each token ends.
inline std::vector<uint8_t> decode(const std::vector<uint8_t>& stream,
                                   std::vector<TokenEnd>* ends = nullptr) {
    auto bit = [&](size_t i) { return (stream[i / 8] >> (7 - i % 8)) & 1; };
    auto field = [&](size_t i, int n) {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k) v = (v << 1) | bit(i + k);
        return v;
    };
    const size_t total = stream.size() * 8;
    std::vector<uint8_t> out(32768, 0);
    size_t i = 0;
    for (;;) {
        if (i >= total) break;
        if (bit(i)) {
            if (total - i < 9) break;
            out.push_back(static_cast<uint8_t>(field(i + 1, 8)));
            i += 9;
            if (ends) ends->push_back({out.size() - 32768, i});
        } else {
            if (total - i < 24) break;
            uint32_t d = field(i + 1, 15);
            if (d == 0) d = 32768;
            const uint32_t len = field(i + 16, 8) + 3;
            for (uint32_t k = 0; k < len; ++k) out.push_back(out[out.size() - d]);
            i += 24;
            if (ends) ends->push_back({out.size() - 32768, i});
        }
    }
    return std::vector<uint8_t>(out.begin() + 32768, out.end());
}

// Stream bytes a decoder that takes a byte only when a token needs it has
// read once it has produced `produced` bytes and stopped for a full
// destination, when `given` bytes were offered before the current piece.
inline size_t lazy_bytes_read(const std::vector<TokenEnd>& ends, size_t produced, size_t given) {
    size_t lo = 0, hi = ends.size();
    while (lo < hi) {  // first token ending at or after `produced`
        const size_t mid = (lo + hi) / 2;
        if (ends[mid].out < produced)
            lo = mid + 1;
        else
            hi = mid;
    }
    const size_t bits = lo < ends.size() ? ends[lo].bit : 0;
    return std::max(given, (bits + 7) / 8);
}

}  // namespace vek::lzss_model
