#pragma once
// A colour as 16-bit words (red, green, blue, flags): the form stored in game
// records, mesh headers and the interface's colour tables.

#include <cstdint>

struct rgb_color
{
    uint16_t red, green, blue, flags;
};
static_assert(sizeof(rgb_color) == 8);
