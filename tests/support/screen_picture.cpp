#include "support/screen_picture.h"

#include <cstring>

#include "support/stb_image_decoder.h"

const char *const PNG_SCREENSHOTS = "[Screenshots]\nHardwareIngameFormat=png\nSoftwareIngameFormat=png\n";

bool picture::load(const std::string &path)
{
    int channels = 0;
    uint8_t *pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    rgb.assign(pixels, pixels ? pixels + (size_t)width * height * 3 : pixels);
    stbi_image_free(pixels);
    return pixels != nullptr;
}

uint32_t picture::at(int32_t x, int32_t y) const
{
    const uint8_t *p = &rgb[((size_t)y * width + x) * 3];
    return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
}

bool picture::same_in(const picture &other, const rectangle2d &r) const
{
    for (int32_t y = r.top; y < r.bottom; ++y)
        if (memcmp(&rgb[((size_t)y * width + r.left) * 3], &other.rgb[((size_t)y * width + r.left) * 3],
                   (size_t)(r.right - r.left) * 3) != 0)
            return false;
    return true;
}
