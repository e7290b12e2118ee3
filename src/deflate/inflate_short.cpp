// Short decoder: the step machine over the single-level tables, one lookup
// of maxLitLen or maxDistLen bits per code.
#include "deflate/inflate_steps.h"

namespace vek::deflate {

vekStatus inflate_short(InflateIo& io, vekInflateState* st, vekInflateMode* mode) {
    // The lengths come from the caller's record: outside what the builder
    // stores they cannot describe a table.
    if (st->maxLitLen < 1 || st->maxLitLen > kShortMaxLitLen || st->maxDistLen > kShortMaxDistLen)
        return vekStatusSrcDataErr;
    return inflate_steps(ShortLookup(st->tables, st->maxLitLen, st->maxDistLen), io, st, mode);
}

}  // namespace vek::deflate
