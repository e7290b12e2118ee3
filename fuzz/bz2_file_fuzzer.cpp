// Arbitrary bytes decoded as a .bz2 file by the tool's container code, in
// memory: through the fused block decoder with the input in small pieces and
// through the separate stages in one piece. Both must agree (the same output
// or both refusing with Bz2Error); a small decoded result must also survive
// a round trip through the container's encoder.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bz2_container.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// Keeps the first kKeep bytes and a hash of everything: hostile run lengths
// can expand a block many times over.
class HashSink : public vekdc::bz2::ByteSink {
  public:
    static constexpr size_t kKeep = 1 << 16;
    void put(const uint8_t* p, size_t n) override {
        for (size_t i = 0; i < n; ++i) hash = (hash ^ p[i]) * 0x100000001B3ull;
        total += n;
        if (kept.size() < kKeep) kept.insert(kept.end(), p, p + std::min(n, kKeep - kept.size()));
    }
    uint64_t hash = 0xCBF29CE484222325ull;
    uint64_t total = 0;
    std::vector<uint8_t> kept;
};

bool decode(const uint8_t* data, size_t size, vekdc::bz2::BlockPath path, size_t piece,
            HashSink* sink) {
    vekdc::bz2::MemorySource src(data, size, piece);
    vekdc::bz2::Decoder dec(path);
    try {
        dec.run(src, *sink);
    } catch (const vekdc::bz2::Bz2Error&) {
        return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HashSink fused, stages;
    const bool ok = decode(data, size, vekdc::bz2::BlockPath::kFused, 1 + size % 13, &fused);
    const bool ok2 = decode(data, size, vekdc::bz2::BlockPath::kStages, SIZE_MAX, &stages);
    check(ok == ok2);
    if (!ok) return 0;
    check(fused.total == stages.total && fused.hash == stages.hash);
    if (fused.total <= HashSink::kKeep) {
        const std::vector<uint8_t> again =
            vekdc::bz2::compress(fused.kept.data(), fused.kept.size(), 1);
        check(vekdc::bz2::decompress(again.data(), again.size()) == fused.kept);
    }
    return 0;
}
