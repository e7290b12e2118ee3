// Round-trip fuzzer for the high-compression LZ4 encoder. The first input
// byte picks the level (low nibble, -3..12) and where the rest splits into
// two blocks (high nibble). The blocks are encoded as a prefix-mode stream
// and again with the second block in a buffer of its own and the first as a
// separate dictionary (which must give the same block), decoded by a small
// reference decoder and compared with the input. Finally a capacity below
// the block size must give vekStatusDstTooSmall without writing at or past
// the capacity and without changing either length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

void check(bool ok) {
    if (!ok) std::abort();
}

struct Tables {
    std::vector<int32_t> head = std::vector<int32_t>(32768), chain = std::vector<int32_t>(65536);
    uint8_t* ptr[2] = {reinterpret_cast<uint8_t*>(head.data()),
                       reinterpret_cast<uint8_t*>(chain.data())};
    Tables() = default;
    Tables(const Tables& o) : head(o.head), chain(o.chain) {}
    void reset() { check(veksEncodeLZ4HCHashTableInit_8u(ptr) == vekStatusOk); }
};

Bytes encode(const uint8_t* src, size_t idx, size_t n, Tables& t, int level,
             const uint8_t* dict = nullptr, size_t dict_len = 0) {
    Bytes out(n + n / 255 + 16);
    int32_t sl = static_cast<int32_t>(n), dl = static_cast<int32_t>(out.size());
    check(veksEncodeLZ4HC_8u(src, static_cast<int32_t>(idx), &sl, out.data(), &dl, t.ptr, dict,
                             static_cast<int32_t>(dict_len), level) == vekStatusOk);
    check(sl == static_cast<int32_t>(n) && dl > 0 && static_cast<size_t>(dl) <= out.size());
    out.resize(static_cast<size_t>(dl));
    return out;
}

// Plain block decoder: appends to `out`, which holds the history; matches
// must stay within 65534 bytes and inside the history.
void decode(const Bytes& in, Bytes& out) {
    size_t i = 0;
    const size_t n = in.size();
    auto ext = [&in, &i, n](size_t& v) {
        uint8_t b;
        do {
            check(i < n);
            b = in[i++];
            v += b;
        } while (b == 255);
    };
    for (;;) {
        check(i < n);
        const uint8_t tok = in[i++];
        size_t lit = tok >> 4;
        if (lit == 15) ext(lit);
        check(n - i >= lit);
        out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
                   in.begin() + static_cast<std::ptrdiff_t>(i + lit));
        i += lit;
        if (i == n) {
            check((tok & 15) == 0);
            return;
        }
        check(n - i >= 2);
        const size_t off = in[i] | static_cast<size_t>(in[i + 1]) << 8;
        i += 2;
        size_t ml = (tok & 15) + 4u;
        if ((tok & 15) == 15) ext(ml);
        check(off >= 1 && off <= 65534 && off <= out.size());
        for (size_t k = 0; k < ml; ++k) {
            const uint8_t b = out[out.size() - off];
            out.push_back(b);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t sel = data[0];
    const int level = (sel & 15) - 3;
    // A copy, so that reading past the input is caught at its exact end.
    const Bytes src(data + 1, data + (size > (1 << 20) ? (1 << 20) + 1 : size));
    const size_t n = src.size(), split = n * (sel >> 4) / 15;

    static Tables t;
    t.reset();
    Bytes out, first, second;
    if (split) {
        first = encode(src.data(), 0, split, t, level);
        decode(first, out);
    }
    if (split < n) {
        Tables t2 = t;  // the same table state for the dictionary-mode call
        second = encode(src.data() + split, split, n - split, t, level);
        decode(second, out);
        if (split) {
            const Bytes dict(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(split));
            const Bytes rest(src.begin() + static_cast<std::ptrdiff_t>(split), src.end());
            check(encode(rest.data(), split, rest.size(), t2, level, dict.data(), dict.size()) ==
                  second);
        }
    }
    check(out == src);

    // Too small: any capacity below the block size, chosen by the input.
    t.reset();
    const size_t whole = encode(src.data(), 0, n, t, level).size();
    const size_t cap = (n * 131 + sel) % whole;
    Bytes dst(cap + 32, 0xA5);
    int32_t sl = static_cast<int32_t>(n), dl = static_cast<int32_t>(cap);
    t.reset();
    check(veksEncodeLZ4HC_8u(src.data(), 0, &sl, dst.data(), &dl, t.ptr, nullptr, 0, level) ==
          vekStatusDstTooSmall);
    check(sl == static_cast<int32_t>(n) && dl == static_cast<int32_t>(cap));
    for (size_t i = cap; i < dst.size(); ++i) check(dst[i] == 0xA5);
    return 0;
}
