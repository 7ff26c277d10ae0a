// CRC-32, reflected IEEE polynomial.  Eight bytes per step through eight
// derived tables ("slicing"), then one table lookup per remaining byte.

#include "cseries/crc.h"

struct crc_tables
{
    uint32_t entries[8][256]; // [k][b]: the CRC of byte b followed by k zero bytes
};

static constexpr crc_tables make_crc_tables(void)
{
    crc_tables tables{};
    for (uint32_t byte = 0; byte < 256; byte++)
    {
        uint32_t value = byte;
        for (int bit = 0; bit < 8; bit++) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        tables.entries[0][byte] = value;
    }
    for (int k = 1; k < 8; k++)
        for (uint32_t byte = 0; byte < 256; byte++)
        {
            const uint32_t previous = tables.entries[k - 1][byte];
            tables.entries[k][byte] = (previous >> 8) ^ tables.entries[0][previous & 0xFF];
        }
    return tables;
}

static constexpr crc_tables crc_globals = make_crc_tables();

uint32_t crc32_update(uint32_t crc, const void *data, size_t size)
{
    // The running register is the complement of a finished CRC, so a result
    // can be fed back in to continue.
    uint32_t value = ~crc;
    const uint8_t *bytes = (const uint8_t *)data;
    const uint32_t(*const t)[256] = crc_globals.entries;
    for (; size >= 8; size -= 8, bytes += 8)
    {
        // Assembled byte by byte: independent of the host's order and alignment.
        const uint32_t low = value ^ ((uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
                                      (uint32_t)bytes[3] << 24);
        value = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
                t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
    }
    for (; size; size--, bytes++) value = t[0][(value ^ *bytes) & 0xFF] ^ (value >> 8);
    return ~value;
}
