// The demo map's terrain leaves no holes and no seams: drawn from orbiting,
// close, far and grazing cameras at 640 x 480 and 1024 x 768, in 32-bit and
// 565, into a back buffer cleared to magenta, no pixel keeps the clear colour
// where terrain lies on both sides of it (above and below, or left and
// right: a row or column of pixels that the triangles sharing an edge both
// left out); and, filtered, the terrain's first rows along the map's edges
// are not darkened by what lies beyond the map.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmaps.h"
#include "determinism_harness.h"
#include "mesh.h"
#include "render/render.h"
#include "render_harness.h"
#include "support/demo_render_fixture.h"

namespace terrain_cracks_test_file {

namespace {

struct frame
{
    std::vector<uint32_t> pixels; // as stored, 565 widened
    int width = 0, height = 0;
    uint32_t clear = 0;
    bool terrain(int x, int y) const { return pixels[(size_t)y * width + x] != clear; }
};

// Renders `camera` terrain only into a buffer cleared to magenta.
bool render(const render_camera &camera, int width, int height, bool filter, frame *out)
{
    char reason[256];
    if (!render_camera_is_usable(&camera, reason, sizeof(reason))) return false;
    bitmap_data *buffer = new_render_back_buffer((int16_t)width, (int16_t)height);
    if (!buffer) return false;
    const bool wide = buffer->encoding == _32bit_encoding;
    out->clear = wide ? 0xFFFF00FFu : 0xF81Fu;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            if (wide) reinterpret_cast<uint32_t *>(buffer->row_addresses[y])[x] = out->clear;
            else reinterpret_cast<uint16_t *>(buffer->row_addresses[y])[x] = (uint16_t)out->clear;
        }
    render_frame_options options = {(int16_t)width, (int16_t)height, filter, true};
    view_data view;
    build_render_camera_view(&view, &camera, &options, buffer);
    render_camera_view(&view);
    out->width = width;
    out->height = height;
    out->pixels.resize((size_t)width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out->pixels[(size_t)y * width + x] = wide ? reinterpret_cast<uint32_t *>(buffer->row_addresses[y])[x]
                                                      : reinterpret_cast<uint16_t *>(buffer->row_addresses[y])[x];
    free(buffer);
    return true;
}

// Clear pixels with terrain on both sides, above and below or left and right.
int holes(const frame &f, std::string *first)
{
    int count = 0;
    for (int y = 1; y + 1 < f.height; ++y)
        for (int x = 1; x + 1 < f.width; ++x)
        {
            if (f.terrain(x, y)) continue;
            if ((f.terrain(x, y - 1) && f.terrain(x, y + 1)) || (f.terrain(x - 1, y) && f.terrain(x + 1, y)))
                if (count++ == 0) *first = std::to_string(x) + "," + std::to_string(y);
        }
    return count;
}

// Red + green + blue of a pixel, each on 0..255.
int brightness(uint32_t pixel, bool wide)
{
    if (wide) return (int)((pixel >> 16) & 255) + (int)((pixel >> 8) & 255) + (int)(pixel & 255);
    return (int)((pixel >> 11) & 31) * 8 + (int)((pixel >> 5) & 63) * 4 + (int)(pixel & 31) * 8;
}

// The cameras, in cells over a map of w x h cells: an orbit round the centre
// looking in, close and low ones, far and high ones, and grazing ones along
// the map's axes and diagonals.
std::vector<render_camera> cameras(double w, double h)
{
    std::vector<render_camera> list;
    const double cx = w / 2, cy = h / 2;
    for (int k = 0; k < 8; ++k) // orbit: from each side and corner, looking at the centre
    {
        const double yaw = k * 45.0;
        const double r = 0.35 * std::min(w, h), a = (yaw + 180) * 3.14159265358979 / 180;
        list.push_back({cx + r * std::cos(a), cy + r * std::sin(a), 6, yaw, -30, 0});
    }
    for (int k = 0; k < 4; ++k) // close and low, looking down steeply or ahead
        list.push_back({cx + (k - 1.5) * 3, cy + (k % 2 ? 4 : -4), 1.5 + k % 2, k * 90.0 + 10, k % 2 ? -70.0 : -15.0, 0});
    for (int k = 0; k < 4; ++k) // far and high
        list.push_back({k % 2 ? w - 2 : 2, k / 2 ? h - 2 : 2, 20, 45.0 + 90 * (k % 2 ? (k / 2 ? 2 : 1) : (k / 2 ? 3 : 0)),
                        -25, 0});
    for (int k = 0; k < 4; ++k) // grazing along the axes, just over the ground
        list.push_back({k == 0 ? 1.5 : k == 2 ? w - 1.5 : cx, k == 1 ? 1.5 : k == 3 ? h - 1.5 : cy, 2.5, k * 90.0, -6, 0});
    list.push_back({1.5, 1.5, 3, 45, -10, 0}); // along the diagonal
    list.push_back({cx, cy, 10, 0, -90, 0});   // straight down
    return list;
}

using terrain_cracks = demo_render_fixture;

TEST_F(terrain_cracks, no_pixel_inside_the_terrain_keeps_the_clear_colour)
{
    struct setting
    {
        int depth, width, height;
    };
    for (const setting s : {setting{32, 640, 480}, setting{16, 640, 480}, setting{32, 1024, 768}, setting{16, 1024, 768}})
    {
        SCOPED_TRACE(std::to_string(s.depth) + "-bit " + std::to_string(s.width) + "x" + std::to_string(s.height));
        ASSERT_TRUE(start(s.depth, s.width, s.height));
        const std::vector<render_camera> list = cameras(mesh_width, mesh_height);
        ASSERT_GE(list.size(), 20u);
        int drawn = 0;
        for (size_t c = 0; c < list.size(); ++c)
        {
            frame f;
            if (!render(list[c], s.width, s.height, c % 2 == 0, &f)) continue;
            ++drawn;
            int terrain = 0;
            for (uint32_t p : f.pixels) terrain += p != f.clear;
            EXPECT_GT(terrain, s.width * s.height / 10) << "camera " << c << " sees little terrain";
            std::string first;
            EXPECT_EQ(holes(f, &first), 0) << "camera " << c << ": the first hole at " << first;
        }
        EXPECT_GE(drawn, 20) << "cameras the demo map could not use";
    }
}

TEST_F(terrain_cracks, the_filtered_edge_rows_of_the_map_are_not_darkened)
{
    // Looking north at the map's northern edge from a little inside it:
    // beyond the edge the clear colour, below it the first rows of terrain.
    for (const int depth : {32, 16})
    {
        SCOPED_TRACE(std::to_string(depth) + "-bit");
        ASSERT_TRUE(start(depth, 1024, 680));
        const render_camera camera = {mesh_width / 2.0, 5.3, 2.4, -90, -30, 0};
        frame f;
        ASSERT_TRUE(render(camera, 1024, 680, true, &f));
        int columns = 0, darkened = 0;
        for (int x = 0; x < f.width; ++x)
        {
            int y = 0;
            while (y < f.height && !f.terrain(x, y)) ++y;
            if (y == 0 || y + 12 >= f.height) continue;
            ++columns;
            const bool wide = depth == 32;
            const int edge = brightness(f.pixels[(size_t)y * f.width + x], wide);
            const int inside = brightness(f.pixels[(size_t)(y + 12) * f.width + x], wide);
            darkened += edge * 3 < inside * 2;
        }
        EXPECT_GT(columns, f.width / 2) << "the map's edge is not in view";
        EXPECT_LE(darkened * 20, columns) << darkened << " of " << columns << " columns start dark";
    }
}

} // namespace

} // namespace terrain_cracks_test_file
