// Render tables: the edge values of the transparency tables and their bounds
// over every entry, shading levels and packing, the coloured tables around
// the transition, the tinting shader against a float reference, the blend table.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "render/render_tables.h"
#include "shading_tables.h"

namespace render_tables_test_file {

namespace {

TEST(render_tables, transparency_tables_edges_and_bounds)
{
    std::vector<uint8_t> normal(TRANSPARENCY_TABLE_SIZE), overlay(TRANSPARENCY_TABLE_SIZE);
    build_transparency_table(_transparency_normal, normal.data());
    build_transparency_table(_transparency_overlay, overlay.data());
    auto at = [](const std::vector<uint8_t> &t, int l, int d, int s) { return (int)t[l * 1024 + d * 32 + s]; };
    EXPECT_EQ(at(normal, 8, 0, 31), 14);
    EXPECT_EQ(at(overlay, 0, 0, 31), 31);
    EXPECT_EQ(at(overlay, 0, 31, 0), 31) << "a black source leaves the destination";
    for (int d = 0; d < 32; ++d)
        for (int s = 0; s < 32; ++s)
        {
            ASSERT_EQ(at(normal, 0, d, s), s);
            ASSERT_EQ(at(normal, 15, d, s), d);
            ASSERT_EQ(at(overlay, 15, d, s), d);
            for (int l = 0; l < 16; ++l)
            {
                ASSERT_GE(at(normal, l, d, s), std::min(d, s));
                ASSERT_LE(at(normal, l, d, s), std::max(d, s));
                ASSERT_LE(at(overlay, l, d, s), 31);
                if (l > 0)
                {
                    // Each level keeps more of the destination.
                    if (d >= s) ASSERT_GE(at(normal, l, d, s), at(normal, l - 1, d, s));
                    else ASSERT_LE(at(normal, l, d, s), at(normal, l - 1, d, s));
                }
            }
        }
}

color_table palette(void)
{
    color_table table = {};
    table.color_count = 3;
    table.colors[0] = {65535, 65535, 65535, 0};
    table.colors[1] = {40000, 20000, 10000, 0};
    table.colors[2] = {1000, 30000, 60000, 0};
    return table;
}

TEST(render_tables, shading_levels_and_packing)
{
    const color_table table = palette();
    uint32_t levels[32][256];
    memset(levels, 0xEE, sizeof(levels));
    build_shading_table(_32bit_encoding, 32, &table, levels, NONE, 0, nullptr, 0, nullptr);
    EXPECT_EQ(levels[31][0], 0x00FFFFFFu);
    EXPECT_EQ(levels[0][1], 0u) << "level 0 is black";
    EXPECT_EQ(levels[31][1], (uint32_t)((40000 & 0xFF00) << 8 | (20000 & 0xFF00) | 10000 >> 8));
    EXPECT_EQ(levels[5][3], 0xEEEEEEEEu) << "entries past the colour count are not written";
    uint16_t one[256] = {};
    build_shading_table(_16bit_565_encoding, 1, &table, one, NONE, 0, nullptr, 0, nullptr);
    EXPECT_EQ(one[2], (uint16_t)((1000 & 0xF800) | ((30000 >> 5) & 0x7E0) | (60000 >> 11)));
    build_shading_table(_16bit_555_encoding, 1, &table, one, NONE, 0, nullptr, 0, nullptr);
    EXPECT_EQ(one[0], 0x7FFF);
}

// Float reference of one tinted entry.
double colorize(double c, double luminance_sum, double f, double tint)
{
    const double k = std::floor(std::floor(luminance_sum / 5) * f / 65536);
    return std::floor((tint * k + c * (256 - f)) / 256);
}

TEST(render_tables, tint_modes_match_a_float_reference)
{
    const color_table table = palette();
    const rgb_color tint = {60000, 10000, 30000, 0}, global = {5000, 50000, 20000, 0};
    reset_shading_table_permutation_data();
    short_fixed reflection_fraction;
    rgb_color reflection;
    get_shading_table_permutation_data(_shading_table_reflection, &reflection_fraction, &reflection);
    for (int mode = 0; mode <= 3; ++mode)
    {
        uint32_t out[256] = {};
        build_shading_table(_32bit_encoding, 1, &table, out, mode, 192, &tint, 64, &global);
        for (int i = 0; i < 3; ++i)
        {
            const rgb_color &color = table.colors[i];
            double c[3] = {(double)color.red, (double)color.green, (double)color.blue};
            const double t[3] = {(double)tint.red, (double)tint.green, (double)tint.blue};
            const double g[3] = {(double)global.red, (double)global.green, (double)global.blue};
            const double p[3] = {(double)reflection.red, (double)reflection.green, (double)reflection.blue};
            double sum = 2 * c[0] + 3 * c[1] + c[2];
            if (mode == 0 || mode == 2)
                for (int k = 0; k < 3; ++k) c[k] = colorize(c[k], sum, 192, t[k]);
            if (mode == 1)
                for (int k = 0; k < 3; ++k) c[k] = std::floor(((256 - 192) * c[k] + t[k] * 192) / 256);
            if (mode == 2)
                for (int k = 0; k < 3; ++k)
                    c[k] = std::floor((p[k] * reflection_fraction + c[k] * (256 - reflection_fraction)) / 256);
            if (mode != 3)
            {
                sum = 2 * c[0] + 3 * c[1] + c[2];
                for (int k = 0; k < 3; ++k) c[k] = colorize(c[k], sum, 64, g[k]);
            }
            const int expected[3] = {(int)std::min(c[0], 65535.0) >> 8, (int)std::min(c[1], 65535.0) >> 8,
                                     (int)std::min(c[2], 65535.0) >> 8};
            const int got[3] = {(int)(out[i] >> 16 & 0xFF), (int)(out[i] >> 8 & 0xFF), (int)(out[i] & 0xFF)};
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], expected[k], 1) << "mode " << mode << " colour " << i;
        }
    }
}

TEST(render_tables, coloured_levels_around_the_transition)
{
    const color_table table = palette();
    const rgb_color dark = {0, 0, 16384, 0}, light = {65535, 65535, 0, 0};
    uint32_t out[5][256] = {};
    // Transition at the middle: level 2 is the palette, level 0 the full dark mix, level 4 the full light mix.
    build_colored_shading_table(_32bit_encoding, 5, &table, out, 128, &dark, 0x8000, 64, &light);
    const rgb_color &c = table.colors[1];
    EXPECT_EQ(out[2][1], rgb_color_to_pixel32(&c));
    const rgb_color dark_mix = {(uint16_t)((0 * 128 + c.red * 128) >> 8), (uint16_t)((0 * 128 + c.green * 128) >> 8),
                                (uint16_t)((16384 * 128 + c.blue * 128) >> 8), 0};
    EXPECT_EQ(out[0][1], rgb_color_to_pixel32(&dark_mix));
    const rgb_color light_mix = {(uint16_t)((65535 * 64 + c.red * 192) >> 8),
                                 (uint16_t)((65535 * 64 + c.green * 192) >> 8), (uint16_t)((c.blue * 192) >> 8), 0};
    EXPECT_EQ(out[4][1], rgb_color_to_pixel32(&light_mix));
    // A transition of 0 with several levels: level 0 takes the full dark fraction, no division by zero.
    build_colored_shading_table(_32bit_encoding, 5, &table, out, 128, &dark, 0, 64, &light);
    EXPECT_EQ(out[0][1], rgb_color_to_pixel32(&dark_mix));
    EXPECT_EQ(out[4][1], rgb_color_to_pixel32(&light_mix));
}

TEST(render_tables, tinting_shader_against_its_formula)
{
    uint8_t shader[8];
    build_tinting_shader(shader, NONE, 0, nullptr, 0, nullptr);
    const uint8_t plain[8] = {255, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(shader, plain, 8), 0);
    const rgb_color color = {32768, 16384, 65535, 0}, global = {65535, 0, 0, 0};
    build_tinting_shader(shader, _shading_mode_tint, 128, &color, 64, &global);
    const float f = 0.5f, g = 0.25f, c[3] = {0.5f, 0.25f, 65535 / 65536.0f}, gc[3] = {65535 / 65536.0f, 0, 0};
    const float lum = 0.4f * c[0] + 0.6f * c[1] + 0.2f * c[2];
    EXPECT_NEAR(shader[0], (1 - g) * (1 - f) * 255, 1);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_NEAR(shader[1 + i], 0, 1);
        EXPECT_NEAR(shader[4 + i], std::min(255.0f, (gc[i] * (lum * f + (1 - f)) * g + c[i] * (1 - g) * f) * 255), 1);
    }
    EXPECT_EQ(shader[7], 0);
}

TEST(render_tables, blend_table_averages_to_the_nearest_colour)
{
    color_table table = {};
    table.color_count = 4;
    table.colors[1] = {60000, 0, 0, 0};
    table.colors[2] = {0, 0, 60000, 0};
    table.colors[3] = {30000, 0, 30000, 0};
    std::vector<uint8_t> blend(65536, 0xEE);
    build_blend_table(&table, blend.data());
    EXPECT_EQ(blend[1 * 256 + 2], 3);
    EXPECT_EQ(blend[2 * 256 + 0], 2) << "index 0 blends to the other colour";
    EXPECT_EQ(blend[0 * 256 + 3], 3);
    EXPECT_EQ(blend[1 * 256 + 1], 1);
    EXPECT_EQ(blend[1 * 256 + 4], 0xEE) << "past the colour count";
}

} // namespace

} // namespace render_tables_test_file
