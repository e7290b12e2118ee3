// Inverse Burrows-Wheeler transform by the successor vector.
//
// Row r of the sorted rotations is followed, in the text, by the rotation
// whose last byte was the occurrence of the first byte of r: stable
// counting of the last column gives that successor row for every row. The
// output walk is one chain of dependent loads, so its speed is the latency
// of one load: for blocks up to 2^24 bytes each entry carries the successor
// row in its high 24 bits and that row's last-column byte in its low 8, so
// one load per output byte suffices and the column itself is not touched;
// the shared successor walk then runs many chains at once on large blocks.
// A column made of few runs of equal bytes (at most one per 32 rows) needs
// no vector at all: the walk reads the successors from a table of its runs
// and emits many bytes per move.
#include <cstring>

#include "bwt/bwt_sort.h"
#include "bwt/successor_walk.h"
#include "core/load.h"

namespace vek::bwt {

namespace {

constexpr int32_t kPackedLimit = 1 << 24;

// Exclusive prefix sums of the byte counts of L: C[c] becomes the first
// row whose rotation starts with c.
void first_rows(const uint8_t* L, int32_t n, uint32_t* C) {
    uint32_t part[4][256] = {};
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++part[0][L[i]];
        ++part[1][L[i + 1]];
        ++part[2][L[i + 2]];
        ++part[3][L[i + 3]];
    }
    for (; i < n; ++i) ++part[0][L[i]];
    uint32_t sum = 0;
    for (int c = 0; c < 256; ++c) {
        C[c] = sum;
        sum += part[0][c] + part[1][c] + part[2][c] + part[3][c];
    }
}

// The caller's buffer need not be aligned: entries go through memcpy,
// which compiles to plain moves.
inline uint32_t get(const uint8_t* next, uint32_t row) {
    return load32(next + 4 * size_t(row));
}
inline void put(uint8_t* next, uint32_t row, uint32_t v) {
    std::memcpy(next + 4 * size_t(row), &v, 4);
}

void inverse_packed(const uint8_t* L, uint8_t* dst, int32_t n, int32_t index, uint32_t* C,
                    uint8_t* next) {
    // The counter of the current run of equal bytes lives in a register (a
    // counter in memory would wait on its last store).
    uint32_t c = L[0], row = C[c];
    for (int32_t i = 0; i < n; ++i) {
        if (L[i] != c) {
            C[c] = row;
            c = L[i];
            row = C[c];
        }
        put(next, row++, uint32_t(i) << 8 | c);
    }
    walk_successors(next, dst, n, uint32_t(index), LinkByte::kSuccessor);
}

void inverse_plain(const uint8_t* L, uint8_t* dst, int32_t n, int32_t index, uint32_t* C,
                   uint8_t* next) {
    for (int32_t i = 0; i < n; ++i) put(next, C[L[i]]++, uint32_t(i));
    uint32_t p = uint32_t(index);
    for (int32_t k = 0; k < n; ++k) {
        p = get(next, p);
        dst[k] = L[p];
    }
}

}  // namespace

void inverse(const uint8_t* L, uint8_t* dst, int32_t n, int32_t index, uint8_t* work) {
    // The counters stay on the stack; the buffer's first 1024 bytes are
    // their reserved room.
    uint32_t C[256];
    uint8_t* const next = work + 1024;
    if (walk_column_runs(L, dst, n, index, next)) return;
    first_rows(L, n, C);
    if (n <= kPackedLimit)
        inverse_packed(L, dst, n, index, C, next);
    else
        inverse_plain(L, dst, n, index, C, next);
}

}  // namespace vek::bwt
