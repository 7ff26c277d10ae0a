#pragma once
// A drawn frame as the player sees it: the screenshot of the frame, read
// back as RGB pixels (game_window_fixture::frozen_frame takes one).

#include <cstdint>
#include <string>
#include <vector>

#include "cseries/cseries.h"
#include "point2d.h"

struct picture
{
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;

    // False when the file at `path` is no image.
    bool load(const std::string &path);
    // 0xRRGGBB of the pixel.
    uint32_t at(int32_t x, int32_t y) const;
    // How many pixels of the rectangle `test` (r, g, b) accepts.
    template <typename F> int64_t count(int32_t left, int32_t top, int32_t right, int32_t bottom, F test) const
    {
        int64_t n = 0;
        for (int32_t y = top; y < bottom; ++y)
            for (int32_t x = left; x < right; ++x)
            {
                const uint32_t c = at(x, y);
                n += test((int32_t)(c >> 16), (int32_t)((c >> 8) & 255), (int32_t)(c & 255));
            }
        return n;
    }
    bool same_in(const picture &other, const rectangle2d &r) const;
};

// The poweruser preferences that make both renderers' screenshots PNG.
extern const char *const PNG_SCREENSHOTS;
