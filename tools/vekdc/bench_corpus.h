// Data the benchmark runs on: a built-in corpus generated in memory from
// fixed seeds (identical bytes on every ABI), or the contents of files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vekdc {

struct CorpusItem {
    std::string name;
    std::vector<uint8_t> data;
};

struct Corpus {
    std::vector<CorpusItem> items;  // never empty, no item empty
    bool builtin = false;

    uint64_t total_bytes() const;
    // `size` bytes of the items concatenated in order, repeated as often as
    // needed (truncated when the corpus is larger).
    std::vector<uint8_t> sample(size_t size) const;
};

// Size of each built-in item.
constexpr size_t kBuiltinItemSize = size_t(4) << 20;

// text, source, binary, random, runs; each `item_size` bytes.
Corpus make_builtin_corpus(size_t item_size = kBuiltinItemSize);

// Generators of the single items, exposed for inspection.
std::vector<uint8_t> make_text(size_t size, uint64_t seed);
std::vector<uint8_t> make_source(size_t size, uint64_t seed);
std::vector<uint8_t> make_binary(size_t size, uint64_t seed);
std::vector<uint8_t> make_random(size_t size, uint64_t seed);
std::vector<uint8_t> make_runs(size_t size, uint64_t seed);

}  // namespace vekdc
