// Processor services double for test binaries: the real answers, narrowed by
// what a test hides. It can only take features away, so it never reports one
// the processor lacks.
#include "core/cpu.h"
#include "forced_cpu_services.h"

namespace vek::core {
namespace {
const uint64_t kDetected = detect_features();
uint64_t g_hidden = 0;
int32_t g_cache = 0;
}  // namespace

namespace testing {
void hide_features(uint64_t mask) {
    g_hidden = mask;
}
void force_cache_size(int32_t size) {
    g_cache = size;
}
}  // namespace testing

int get_feature(uint64_t mask) {
    const uint64_t have = kDetected & ~g_hidden;
    return mask != 0 && (have & mask) == mask;
}

int get_max_cache_size(int32_t* size) {
    if (!size) return -8;
    const int32_t s = g_cache != 0 ? g_cache : detect_max_cache_size();
    *size = s;
    return s > 0 ? 0 : -1;
}

}  // namespace vek::core
