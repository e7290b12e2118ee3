// Move-to-front recoding over a 256-byte state. The forward direction keeps
// the state as a rank table (byte s = list position of symbol s), the
// inverse as the list itself (byte r = symbol at position r); both are the
// identity after init.
#pragma once
#include <cstdint>

namespace vek::bwt {

void mtf_init(uint8_t* state);

// Writes the rank of each source byte and moves it to the front.
void mtf_forward(const uint8_t* src, uint8_t* dst, int32_t len, uint8_t* rank);

// Writes the symbol at each source rank and moves it to the front.
void mtf_inverse(const uint8_t* src, uint8_t* dst, int32_t len, uint8_t* list);

}  // namespace vek::bwt
