// The lobby's packet body codec.  See encodePackets.h.

#include "metaserver_lib/encodePackets.h"

#include <cstring>

#include "metaserver_lib/DiffieHellman.h"

// The project's own pair, shared with the test lobby server (docs/lobby.md).
const uint8_t szPacketCheck1[8] = {0x56, 0x45, 0x53, 0x4B, 0x4C, 0x42, 0x59, 0x31};
const uint8_t szPacketCheck2[8] = {0xC3, 0x5A, 0x0F, 0x96, 0x69, 0xF0, 0xA5, 0x3C};

static int32_t wrap(int32_t index, int32_t n) { return ((index % n) + n) % n; }

int32_t encodeData(uint8_t *buffer, int32_t length, const uint8_t key[8])
{
    if (length < 0 || !buffer || !key) return -1;
    const int32_t n = length;
    const int32_t total = n + LOBBY_CODEC_OVERHEAD;
    uint32_t words[4]; // a, b, c, d
    lobby_random_bytes(words, sizeof(words));
    const uint32_t ab = words[0] * words[1], dc = words[3] * words[2];
    memmove(buffer + 12, buffer, (size_t)n);
    memcpy(buffer, &ab, 4);
    memcpy(buffer + 4, szPacketCheck1, 8);
    memcpy(buffer + n + 12, szPacketCheck2, 8);
    memcpy(buffer + n + 20, &dc, 4);
    for (int32_t i = 0; i < total; ++i)
    {
        buffer[i] ^= buffer[wrap(i + 1, total)];
        buffer[wrap(i + 2, total)] ^= buffer[i];
    }
    for (int32_t j = total - 1; j >= 0; --j)
    {
        buffer[j] ^= buffer[wrap(j - 1, total)];
        buffer[wrap(j - 3, total)] ^= buffer[j];
    }
    for (int32_t i = 0; i < total; ++i) buffer[i] ^= key[i % 8];
    return total;
}

int32_t decodeData(uint8_t *buffer, int32_t length, const uint8_t key[8])
{
    if (length < LOBBY_CODEC_OVERHEAD || !buffer || !key) return -1;
    const int32_t total = length;
    for (int32_t i = 0; i < total; ++i) buffer[i] ^= key[i % 8];
    for (int32_t j = 0; j < total; ++j)
    {
        buffer[wrap(j - 3, total)] ^= buffer[j];
        buffer[j] ^= buffer[wrap(j - 1, total)];
    }
    for (int32_t i = total - 1; i >= 0; --i)
    {
        buffer[wrap(i + 2, total)] ^= buffer[i];
        buffer[i] ^= buffer[wrap(i + 1, total)];
    }
    if (memcmp(buffer + 4, szPacketCheck1, 8) != 0 || memcmp(buffer + total - 12, szPacketCheck2, 8) != 0)
    {
        memset(buffer, 0, (size_t)total);
        return -1;
    }
    memmove(buffer, buffer + 12, (size_t)(total - LOBBY_CODEC_OVERHEAD));
    return total - LOBBY_CODEC_OVERHEAD;
}
