// Internal interface of the checksum subsystem: one function per processor
// path, plus the dispatchers that pick a path on every call.
//
// Conventions: CRC-32 and the bzip2 CRC take and return finished values (the
// register inverted); CRC-32C takes and returns the raw register; Adler-32
// packs s1 in the low and s2 in the high half.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vek::checksum {

// CRC-32, reflected 0x04C11DB7.
uint32_t crc32_table(const uint8_t* p, size_t len, uint32_t crc);       // slicing by 8
uint32_t crc32_clmul(const uint8_t* p, size_t len, uint32_t crc);       // 128-bit folding
uint32_t crc32_vpclmul512(const uint8_t* p, size_t len, uint32_t crc);  // 512-bit folding
uint32_t crc32(const uint8_t* p, size_t len, uint32_t crc);

// CRC-32C, reflected 0x1EDC6F41, raw register.
uint32_t crc32c_table(const uint8_t* p, size_t len, uint32_t r);        // slicing by 4
uint32_t crc32c_sse42(const uint8_t* p, size_t len, uint32_t r);        // 3 streams, shift tables
uint32_t crc32c_sse42_clmul(const uint8_t* p, size_t len, uint32_t r);  // 3 streams, clmul merge
uint32_t crc32c_vpclmul512(const uint8_t* p, size_t len, uint32_t r);   // 512-bit folding
uint32_t crc32c(const uint8_t* p, size_t len, uint32_t r);

// Adler-32.
uint32_t adler32_scalar(const uint8_t* p, size_t len, uint32_t adler);
uint32_t adler32_avx2(const uint8_t* p, size_t len, uint32_t adler);         // 32-byte vectors
uint32_t adler32_avx512(const uint8_t* p, size_t len, uint32_t adler);       // 64-byte vectors
uint32_t adler32_avx512_vnni(const uint8_t* p, size_t len, uint32_t adler);  // with VPDPBUSD
uint32_t adler32(const uint8_t* p, size_t len, uint32_t adler);

// bzip2 CRC, MSB-first 0x04C11DB7.
uint32_t crc32_bz2_table(const uint8_t* p, size_t len, uint32_t crc);
uint32_t crc32_bz2_clmul(const uint8_t* p, size_t len, uint32_t crc);
uint32_t crc32_bz2(const uint8_t* p, size_t len, uint32_t crc);

}  // namespace vek::checksum
