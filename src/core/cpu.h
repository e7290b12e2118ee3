// The two processor services the codecs ask for: a feature query and the
// size of the largest cache. The shipping library answers from CPUID, read
// once when the library is loaded; test binaries link a double instead that
// can hide features so every path runs on one machine.
#pragma once
#include <cstdint>

namespace vek::core {

// Feature masks. 0x80 and 0x800 are the classic bits of the checksums; the
// higher ones name the wider kernels this library added.
inline constexpr uint64_t kFeatureSse42 = 0x80;          // CRC32 instruction
inline constexpr uint64_t kFeaturePclmul = 0x800;        // PCLMULQDQ
inline constexpr uint64_t kFeatureAvx2 = 0x10000;        // AVX2 with OS ymm state
inline constexpr uint64_t kFeatureAvx512 = 0x20000;      // AVX-512 F/BW/VL with OS zmm state
inline constexpr uint64_t kFeatureVpclmul = 0x40000;     // VPCLMULQDQ (wide carry-less multiply)
inline constexpr uint64_t kFeatureAvx512Vnni = 0x80000;  // AVX-512 VNNI (VPDPBUSD)
// What the 512-bit CRC folding needs.
inline constexpr uint64_t kFeatureAvx512Clmul = kFeatureAvx512 | kFeatureVpclmul | kFeaturePclmul;

// Nonzero when the processor has every feature named by `mask`. Never reports
// a feature the processor lacks.
int get_feature(uint64_t mask);

// Writes the size in bytes of the largest cache; returns 0 on success.
int get_max_cache_size(int32_t* size);

// Raw detection, used by both the shipping services and the test double.
uint64_t detect_features();
int32_t detect_max_cache_size();  // 0 when unknown

}  // namespace vek::core
