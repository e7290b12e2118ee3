// Test-only control of the processor services double.
#pragma once
#include <cstdint>

namespace vek::core::testing {

// Features in `mask` are reported absent from now on (0 restores the truth).
void hide_features(uint64_t mask);
// Cache size to report; 0 restores the detected size, negative reports failure.
void force_cache_size(int32_t size);

// Hides the given features for the lifetime of the guard.
class HiddenFeatures {
  public:
    explicit HiddenFeatures(uint64_t mask) { hide_features(mask); }
    ~HiddenFeatures() { hide_features(0); }
    HiddenFeatures(const HiddenFeatures&) = delete;
    HiddenFeatures& operator=(const HiddenFeatures&) = delete;
};

}  // namespace vek::core::testing
