// Burrows-Wheeler transform: the forward transform on every sorting method
// gives one column (the same on every method), which the inverse turns back
// into the input; the inverse of an arbitrary column and index follows the
// successor walk and stays inside its exact-size buffers.
//
// Input: one mode byte, then the block (mode bit 0 clear) or a 4-byte
// little-endian index followed by the column (mode bit 0 set). With mode
// bits 0 and 1 set the column comes as runs, pairs of (byte, length code),
// repeated to 64 to 128 KiB: the size where long runs are walked from a
// table of runs.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vekdc.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void forward_round_trip(const uint8_t* src, int32_t n) {
    int32_t size = 0;
    check(veksBWTFwdGetSize_8u(n, &size) == vekStatusOk);
    std::vector<uint8_t> buf(static_cast<size_t>(size) + 1), last(static_cast<size_t>(n)),
        back(static_cast<size_t>(n));
    int32_t index = -1;
    check(veksBWTFwd_8u(src, last.data(), n, &index, buf.data() + 1) == vekStatusOk);
    check(index >= 0 && index < n);
    for (int hint = 0; hint < 4; ++hint) {
        uint32_t hsize = 0;
        check(veksBWTFwdGetBufSize_SelectSort_8u(uint32_t(n), &hsize, hint) == vekStatusOk);
        std::vector<uint8_t> hbuf(hsize), other(static_cast<size_t>(n));
        uint32_t hindex = 0;
        const vekStatus st =
            veksBWTFwd_SelectSort_8u(src, other.data(), uint32_t(n), &hindex, hbuf.data(), hint);
        if (hint == vekBWTSortLimited && st == vekStatusSortLimitReached) continue;
        check(st == vekStatusOk && other == last && hindex < uint32_t(n));
        // Equal rotations may put the primary index on another of their rows.
        check(veksBWTInvGetSize_8u(n, &size) == vekStatusOk);
        std::vector<uint8_t> ibuf(static_cast<size_t>(size));
        check(veksBWTInv_8u(other.data(), back.data(), n, int32_t(hindex), ibuf.data()) ==
              vekStatusOk);
        check(std::memcmp(back.data(), src, static_cast<size_t>(n)) == 0);
    }
    check(veksBWTInvGetSize_8u(n, &size) == vekStatusOk);
    std::vector<uint8_t> ibuf(static_cast<size_t>(size));
    check(veksBWTInv_8u(last.data(), back.data(), n, index, ibuf.data()) == vekStatusOk);
    check(std::memcmp(back.data(), src, static_cast<size_t>(n)) == 0);
}

void inverse_any(const uint8_t* L, int32_t n, uint32_t raw_index) {
    const int32_t index = int32_t(raw_index % uint32_t(n));
    int32_t size = 0;
    check(veksBWTInvGetSize_8u(n, &size) == vekStatusOk);
    std::vector<uint8_t> buf(static_cast<size_t>(size)),
        dst(static_cast<size_t>(n));  // exact sizes
    check(veksBWTInv_8u(L, dst.data(), n, index, buf.data()) == vekStatusOk);
    // Plain successor walk.
    std::vector<uint32_t> first(257), succ(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) ++first[L[i] + 1u];
    for (int c = 0; c < 256; ++c) first[c + 1] += first[c];
    for (int32_t i = 0; i < n; ++i) succ[first[L[i]]++] = uint32_t(i);
    uint32_t p = uint32_t(index);
    for (int32_t k = 0; k < n; ++k) {
        p = succ[p];
        check(dst[size_t(k)] == L[p]);
    }
    // An index outside the block is refused without a write.
    std::vector<uint8_t> untouched(static_cast<size_t>(n), 0x5A);
    check(veksBWTInv_8u(L, untouched.data(), n, n, buf.data()) == vekStatusSizeErr);
    check(untouched == std::vector<uint8_t>(static_cast<size_t>(n), 0x5A));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 200000) return 0;
    const uint8_t mode = data[0];
    if ((mode & 1) == 0) {
        // The unlimited sort pays for every shared byte of a repetitive
        // block: keep its blocks small enough to stay fast.
        if (size > 16385) return 0;
        // Exact-size copy so that reads past the block are caught.
        std::vector<uint8_t> block(data + 1, data + size);
        forward_round_trip(block.data(), int32_t(block.size()));
        return 0;
    }
    if (size < 6) return 0;
    uint32_t raw_index;
    std::memcpy(&raw_index, data + 1, 4);
    if (mode & 2) {
        const size_t pairs = (size - 5) / 2;
        if (pairs == 0) return 0;
        const size_t n = 65536 + raw_index % 65536;
        std::vector<uint8_t> column;
        for (size_t k = 0; column.size() < n; k = (k + 1) % pairs) {
            const size_t run = std::min<size_t>(n - column.size(), 1 + data[6 + 2 * k] * 37u);
            column.insert(column.end(), run, data[5 + 2 * k]);
        }
        inverse_any(column.data(), int32_t(n), raw_index);
        return 0;
    }
    std::vector<uint8_t> column(data + 5, data + size);
    inverse_any(column.data(), int32_t(column.size()), raw_index);
    return 0;
}
