// CRC-32, reflected IEEE polynomial, one table lookup per byte.

#include "cseries/crc.h"

struct crc_table
{
    uint32_t entries[256];
};

static constexpr crc_table make_crc_table(void)
{
    crc_table table{};
    for (uint32_t byte = 0; byte < 256; byte++)
    {
        uint32_t value = byte;
        for (int bit = 0; bit < 8; bit++) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table.entries[byte] = value;
    }
    return table;
}

static constexpr crc_table crc_globals = make_crc_table();

uint32_t crc32_update(uint32_t crc, const void *data, size_t size)
{
    // The running register is the complement of a finished CRC, so a result
    // can be fed back in to continue.
    uint32_t value = ~crc;
    const uint8_t *bytes = (const uint8_t *)data;
    for (size_t i = 0; i < size; i++) value = crc_globals.entries[(value ^ bytes[i]) & 0xFF] ^ (value >> 8);
    return ~value;
}
