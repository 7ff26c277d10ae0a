#pragma once
// CRC-32 (IEEE 802.3 polynomial, reflected, initial value and final xor
// 0xFFFFFFFF): "123456789" gives 0xCBF43926.  Checksums of plug-ins and of the
// foundation files.

#include <cstddef>
#include <cstdint>

// Continues `crc` (the result of an earlier call, or 0 to start) over `size`
// bytes and returns the CRC of everything so far.  Chaining calls over the
// pieces of a buffer gives the CRC of the whole buffer.
uint32_t crc32_update(uint32_t crc, const void *data, size_t size);

// The CRC of one buffer.
inline uint32_t crc32_of(const void *data, size_t size) { return crc32_update(0, data, size); }
