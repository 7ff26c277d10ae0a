// Terrain overlays and the media test: overlay stamps worked out by hand, the
// limits of shadows and lights, stamps cut by the buffer's edge, and the
// media spans of coverage rows, sound or damaged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "cseries/registration.h"
#include "mesh.h"
#include "render/terrain_overlays.h"
#include "support/expected_assertions.h"
#include "support/test_mesh.h"

namespace terrain_overlays_test_file {

namespace {

struct stamp_buffer
{
    int32_t width;
    std::vector<uint8_t> texels;
    stamp_buffer(int32_t w, uint8_t fill) : width(w), texels((size_t)w * w, fill) {}
    uint8_t at(int32_t x, int32_t y) const { return texels[(size_t)y * width + x]; }
    void stamp(int32_t mode, fixed_fraction density, const std::vector<uint8_t> &pixels, int32_t w, int32_t h,
               int32_t x0, int32_t y0)
    {
        rasterize_volatile_shadow_map_overlay(texels.data(), width, mode, density, pixels.data(), w, w, h, x0, y0);
    }
};

const fixed_fraction FULL = 65535; // a source texel of 255 counts 254

TEST(terrain_overlays, light_stamps_spread_by_the_fraction_as_worked_out_by_hand)
{
    // [255, 0] at column fraction 0: everything stays in the first column,
    // 254 x 63 x 63 >> 12 = 246.
    {
        stamp_buffer b(8, 0);
        b.stamp(_overlay_light_map, FULL, {255, 0}, 2, 1, 2 << 6, 3 << 6);
        EXPECT_EQ(b.at(2, 3), 246);
        EXPECT_EQ(b.at(3, 3), 0);
    }
    // Fraction 63: the whole texel moves one column right.
    {
        stamp_buffer b(8, 0);
        b.stamp(_overlay_light_map, FULL, {255, 0}, 2, 1, (2 << 6) + 63, 3 << 6);
        EXPECT_EQ(b.at(2, 3), 0);
        EXPECT_EQ(b.at(3, 3), 246);
    }
    // Fraction 32 in both directions over a 2 x 2 source: the four
    // weights are 31 x 31, 32 x 31, 31 x 32 and 32 x 32 sixty-thirds, each
    // truncated after carrying the remainders.
    {
        stamp_buffer b(8, 0);
        b.stamp(_overlay_light_map, FULL, {255, 0, 0, 0}, 2, 2, (1 << 6) + 32, (4 << 6) + 32);
        EXPECT_EQ(b.at(1, 4), 59);
        EXPECT_EQ(b.at(2, 4), 61);
        EXPECT_EQ(b.at(1, 5), 61);
        EXPECT_EQ(b.at(2, 5), 63);
        int32_t elsewhere = 0;
        for (uint8_t t : b.texels) elsewhere += t;
        EXPECT_EQ(elsewhere, 59 + 61 + 61 + 63);
    }
    // Density scales the source first: 255 x 32768 >> 16 = 127.
    {
        stamp_buffer b(4, 0);
        b.stamp(_overlay_light_map, 32768, {255}, 1, 1, 0, 0);
        EXPECT_EQ(b.at(0, 0), (127 * 63 * 63) >> 12);
    }
}

TEST(terrain_overlays, shadows_floor_at_64_never_lighten_and_lights_cap_at_255)
{
    stamp_buffer b(4, 0);
    b.texels = {100, 50, 200, 200, /**/ 200, 0, 0, 0, /**/ 0, 0, 0, 0, /**/ 0, 0, 0, 0};
    b.stamp(_overlay_shadow_map, FULL, {255, 255}, 2, 1, 0, 0);
    EXPECT_EQ(b.at(0, 0), 64) << "(255 - 246) x 100 >> 8 = 3, floored at 64";
    EXPECT_EQ(b.at(1, 0), 50) << "already below the floor: never lightened";
    EXPECT_EQ(b.at(2, 0), 200) << "a texel the source does not cover";
    // A half-strong shadow of 128: value (127 x 3969) >> 12 = 123.
    b.stamp(_overlay_shadow_map, FULL, {128}, 1, 1, 0, 1 << 6);
    EXPECT_EQ(b.at(0, 1), ((255 - 123) * 200) >> 8);
    // Carried light only, with a source of 0, darkens nothing.
    b.stamp(_overlay_shadow_map, FULL, {0, 0}, 2, 1, 2 << 6, 0);
    EXPECT_EQ(b.at(2, 0), 200);
    b.stamp(_overlay_light_map, FULL, {255}, 1, 1, 3 << 6, 0);
    EXPECT_EQ(b.at(3, 0), 255);
    // Animated shadows take the smaller value at the integer position.
    stamp_buffer a(4, 90);
    a.stamp(_overlay_animated_shadow_map, 0, {10, 200, 30, 90}, 2, 2, (1 << 6) + 40, (2 << 6) + 63);
    EXPECT_EQ(a.at(1, 2), 10);
    EXPECT_EQ(a.at(2, 2), 90);
    EXPECT_EQ(a.at(1, 3), 30);
    // An unknown mode draws nothing.
    a.stamp(7, FULL, {0}, 1, 1, 0, 0);
    EXPECT_EQ(a.at(0, 0), 90);
}

TEST(terrain_overlays, a_stamp_cut_by_any_edge_equals_the_crop_of_the_whole_stamp)
{
    srand(132);
    const int32_t W = 40, H = 23;
    std::vector<uint8_t> pixels(W * H);
    for (uint8_t &p : pixels) p = (uint8_t)(rand() >> 5);
    stamp_buffer background(64, 0);
    for (uint8_t &t : background.texels) t = (uint8_t)(rand() >> 5);
    // Placements cutting the left, top, right, bottom edges and a corner,
    // each with a fraction in both directions.
    const int32_t placements[][2] = {{-17, 10}, {12, -9}, {45, 20}, {8, 52}, {-3, -1}, {-39, 30}, {63, 63}};
    for (int32_t mode : {_overlay_shadow_map, _overlay_light_map, _overlay_animated_shadow_map})
        for (const auto &p : placements)
        {
            const int32_t fx = rand() & 63, fy = rand() & 63;
            stamp_buffer clipped = background;
            clipped.stamp(mode, 50000, pixels, W, H, (p[0] << 6) + fx, (p[1] << 6) + fy);
            // The same stamp in a buffer with 64 texels of room on every side.
            stamp_buffer whole(192, 0);
            for (int32_t y = 0; y < 64; ++y)
                memcpy(&whole.texels[(size_t)(y + 64) * 192 + 64], &background.texels[(size_t)y * 64], 64);
            whole.stamp(mode, 50000, pixels, W, H, ((p[0] + 64) << 6) + fx, ((p[1] + 64) << 6) + fy);
            int32_t differences = 0;
            for (int32_t y = 0; y < 64; ++y)
                for (int32_t x = 0; x < 64; ++x) differences += clipped.at(x, y) != whole.at(x + 64, y + 64);
            EXPECT_EQ(differences, 0) << "mode " << mode << " at " << p[0] << "," << p[1];
        }
    // Wholly outside: nothing.
    stamp_buffer untouched = background;
    untouched.stamp(_overlay_light_map, FULL, pixels, W, H, -W << 6, 0);
    untouched.stamp(_overlay_light_map, FULL, pixels, W, H, 64 << 6, 0);
    untouched.stamp(_overlay_light_map, FULL, pixels, W, H, 0, -H << 6);
    EXPECT_EQ(untouched.texels, background.texels);
}

TEST(terrain_overlays, a_destination_wider_than_512_is_refused)
{
    std::vector<uint8_t> big(513 * 513, 9);
    std::vector<uint8_t> one = {255};
    {
        expected_assertions expect(1, "destination_width<=512");
        rasterize_volatile_shadow_map_overlay(big.data(), 513, _overlay_light_map, FULL, one.data(), 1, 1, 1, 0, 0);
    }
    EXPECT_EQ(big[0], 9);
}

// ---- media coverage --------------------------------------------------------------------------

class media_coverage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        clear_all_registrations();
        reset_terrain_overlays_for_tests();
        initialize_mesh();
        register_terrain_overlay_hooks();
        mesh_header header = test_mesh_header(4, 2); // 32 texels wide, 16 texel rows
        header.landscape_collection_tag = NONE;
        ASSERT_TRUE(load_test_mesh(header));
    }
    void TearDown() override
    {
        dispose_mesh_from_old_map();
        reset_terrain_overlays_for_tests();
        clear_all_registrations();
    }
    // Replaces the loaded coverage by `values`, in a block of exactly their size.
    void install(const std::vector<uint16_t> &values)
    {
        dispose_media_coverage_region();
        uint16_t *block = (uint16_t *)malloc(values.size() * 2 + 1);
        if (!values.empty()) memcpy(block, values.data(), values.size() * 2);
        initialize_media_coverage_region(values.empty() ? nullptr : block, (int32_t)values.size() * 2);
        free(block); // the region keeps no pointer into the block
    }
    static std::vector<uint16_t> dry_rows(int32_t count) { return std::vector<uint16_t>(count, 32); }
};

TEST_F(media_coverage, a_loaded_map_without_media_has_none_and_spans_are_open_on_the_left)
{
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 32; ++x) ASSERT_FALSE(mesh_texture_pixel_is_media(x, y));

    std::vector<uint16_t> values = {5, 9, 20, 32};
    const std::vector<uint16_t> rest = dry_rows(15);
    values.insert(values.end(), rest.begin(), rest.end());
    install(values);
    for (int32_t x = 0; x < 32; ++x)
    {
        const bool expected = (x > 5 && x <= 9) || (x > 20 && x <= 32);
        EXPECT_EQ(mesh_texture_pixel_is_media(x, 0), expected) << x;
        EXPECT_FALSE(mesh_texture_pixel_is_media(x, 1)) << x;
    }
    EXPECT_FALSE(mesh_texture_pixel_is_media(32, 0)) << "off the mesh";
    EXPECT_FALSE(mesh_texture_pixel_is_media(-1, 0));
    EXPECT_FALSE(mesh_texture_pixel_is_media(7, -1));
    EXPECT_FALSE(mesh_texture_pixel_is_media(7, 16));

    // A block of size 0: no media anywhere.
    install({});
    for (int32_t x = 0; x < 32; ++x) EXPECT_FALSE(mesh_texture_pixel_is_media(x, 0));
}

TEST_F(media_coverage, a_short_or_unordered_block_is_logged_and_every_row_still_ends)
{
    // Two rows, then the block ends: the rest are dry, read no further.
    {
        expected_assertions expect(1, "media_coverage_region_size");
        install({3, 7, 32, 0, 32});
    }
    EXPECT_TRUE(mesh_texture_pixel_is_media(4, 0));
    EXPECT_TRUE(mesh_texture_pixel_is_media(31, 1)) << "(0, 32]";
    for (int32_t y = 2; y < 16; ++y) EXPECT_FALSE(mesh_texture_pixel_is_media(31, y));
    // A row cut inside a span.
    {
        expected_assertions expect(1, "media_coverage_region_size");
        install({3});
    }
    EXPECT_TRUE(mesh_texture_pixel_is_media(10, 0)) << "the open span runs to the row's end";
    EXPECT_FALSE(mesh_texture_pixel_is_media(10, 1));
    // A value out of order is logged and taken as it stands.
    std::vector<uint16_t> values = {10, 4, 32};
    const std::vector<uint16_t> rest = dry_rows(15);
    values.insert(values.end(), rest.begin(), rest.end());
    {
        expected_assertions expect(1, "not in");
        install(values);
    }
    EXPECT_FALSE(mesh_texture_pixel_is_media(11, 0));
    EXPECT_FALSE(mesh_texture_pixel_is_media(5, 0));
    // Values past the last row are logged.
    values = dry_rows(17);
    {
        expected_assertions expect(1, "media_coverage_region_size");
        install(values);
    }
}

} // namespace

} // namespace terrain_overlays_test_file
