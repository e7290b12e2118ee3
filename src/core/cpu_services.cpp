// The shipping answers: detected once at load time and never written again.
#include "cpu.h"

namespace vek::core {
namespace {
const uint64_t kFeatures = detect_features();
const int32_t kMaxCache = detect_max_cache_size();
}  // namespace

int get_feature(uint64_t mask) {
    return mask != 0 && (kFeatures & mask) == mask;
}

int get_max_cache_size(int32_t* size) {
    if (!size) return -8;
    *size = kMaxCache;
    return kMaxCache > 0 ? 0 : -1;
}

}  // namespace vek::core
