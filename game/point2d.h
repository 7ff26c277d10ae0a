#pragma once
// Screen geometry shared by input (pointer positions) and 2D graphics: a
// point and a rectangle in pixels, all signed 16-bit.

#include <cstdint>

struct point2d
{
    int16_t x, y;
};

// right and bottom are exclusive: width = right - left; empty when right <= left
// or bottom <= top.
struct rectangle2d
{
    int16_t top, left, bottom, right;
};
