// Deterministic test data shared by the unit and peer tests.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vek::testdata {

// Whether this is the sanitizer build, which runs without optimisation:
// tests shrink their inputs there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

inline std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng() >> 24);
    return v;
}

// Words from a small vocabulary: compressible, text-like.
inline std::vector<uint8_t> text_bytes(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"the ",  "of ",     "block ", "stream ",
                                         "and ",  "window ", "match ", "literal ",
                                         "code ", "length ", "\n",     ", "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    v.reserve(n + 16);
    while (v.size() < n) {
        const std::string w = kWords[rng() % 12];
        v.insert(v.end(), w.begin(), w.end());
    }
    v.resize(n);
    return v;
}

inline std::vector<uint8_t> runs_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    v.reserve(n);
    while (v.size() < n) v.insert(v.end(), 1 + rng() % 300, static_cast<uint8_t>(rng() % 4));
    v.resize(n);
    return v;
}

}  // namespace vek::testdata
