// Zero-run coding between move-to-front and the Huffman stage: runs of zero
// bytes become bijective base-2 digits RUNA (0) and RUNB (1), least
// significant first; every other byte v becomes the 16-bit symbol v + 1.
#pragma once
#include <cstdint>

#include "vekdc.h"

namespace vek::bwt {

// Encodes one block; adds the count of every symbol written to freq (at
// least 257 entries). Stops where the next symbol (or a run's digits) no
// longer fits, leaving the zeros not written and what follows them in the
// source. Lengths as for the run-length stage: *src advances, *src_len keeps
// what is left, *dst_len becomes the symbols written.
void zero_run_encode(const uint8_t** src, int32_t* src_len, uint16_t* dst, int32_t* dst_len,
                     uint32_t* freq);

// Decodes one block of symbols. Returns vekStatusDstTooSmall when a run and
// the byte after it (or a final run) do not fit; the digits of that run are
// then consumed without being written. Symbols above 256 are not checked:
// their value minus one is written, truncated to 8 bits.
vekStatus zero_run_decode(const uint16_t** src, int32_t* src_len, uint8_t* dst, int32_t* dst_len);

}  // namespace vek::bwt
