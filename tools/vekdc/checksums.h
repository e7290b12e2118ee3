// The library's four running checksums behind one calling convention, shared
// by the checksum command and the benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vekdc {

enum class ChecksumKind { Crc32, Crc32c, Adler32, Bzip2Crc };

// Running state -> state over more bytes. `n` may be 0 and may exceed what a
// single library call accepts.
using ChecksumUpdate = uint32_t (*)(uint32_t state, const uint8_t* p, size_t n);

struct ChecksumAlgo {
    ChecksumKind kind;
    const char* option;                  // command-line switch, e.g. "--crc32"
    const char* family;                  // display name, e.g. "CRC-32"
    uint32_t start;                      // state before the first byte
    ChecksumUpdate update;               // this library's implementation
    uint32_t (*finish)(uint32_t state);  // state -> the customary printed value
};

// All four, in display order.
const ChecksumAlgo* checksum_algos(size_t* count);
const ChecksumAlgo& checksum_algo(ChecksumKind kind);
// nullptr when `option` names no checksum.
const ChecksumAlgo* find_checksum_option(const char* option);

}  // namespace vekdc
