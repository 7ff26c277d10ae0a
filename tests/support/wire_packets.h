#pragma once
// Packets as they travel on a game connection, built byte by byte for tests
// of the queues, the readers and the endpoints: a big-endian 8-byte header
// (what, length, to, from, id 0) and a body.

#include <cstdint>
#include <initializer_list>
#include <vector>

// A packet of `length` bytes (the header's length field says `length`, even
// when it is below 8: a corrupt frame), its body filled with `fill`.
inline std::vector<uint8_t> wire_packet(uint16_t what, uint16_t length, uint8_t to = 0, uint8_t from = 0,
                                        uint8_t fill = 0xA5)
{
    std::vector<uint8_t> bytes(length < 8 ? 8 : length, fill);
    bytes[0] = (uint8_t)(what >> 8);
    bytes[1] = (uint8_t)what;
    bytes[2] = (uint8_t)(length >> 8);
    bytes[3] = (uint8_t)length;
    bytes[4] = to;
    bytes[5] = from;
    bytes[6] = bytes[7] = 0;
    return bytes;
}

// The bytes listed, for golden packets.
inline std::vector<uint8_t> bytes_of(std::initializer_list<int> values)
{
    std::vector<uint8_t> bytes;
    for (const int value : values) bytes.push_back((uint8_t)value);
    return bytes;
}
