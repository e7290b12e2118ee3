// General decoder: the step machine over the two-level tables of the state
// or over the built-in table of the fixed codes.
#include "deflate/inflate_steps.h"

namespace vek::deflate {

vekStatus inflate_general(InflateIo& io, const uint8_t* tables, vekInflateState* st,
                          vekInflateMode* mode) {
    return inflate_steps(GeneralLookup(tables), io, st, mode);
}

}  // namespace vek::deflate
