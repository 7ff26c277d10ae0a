// Stains painted into the landscape's own maps, through the mesh's stain
// hook, with collections loaded from tags the way a map loads them.
#include "tag_files/store_fixture.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "collection_builder.h"
#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "render/terrain_maps.h"
#include "render/terrain_overlays.h"
#include "screen.h"
#include "shading_tables.h"
#include "shapes.h"
#include "support/expected_assertions.h"
#include "support/test_mesh.h"
#include "tag_files/tag_files.h"

namespace terrain_stains_test_file {

namespace {

const tag LAND = FOUR_CHARACTER_CODE('l', 'a', 'n', 'd');
const tag STAI = FOUR_CHARACTER_CODE('s', 't', 'a', 'i');

enum
{
    GROUND_COLOR = 100,
    GROUND_SHADOW = 200,
    STAIN_COLOR = 40,
    STAIN_SHADOW = 55,
    STAIN_SIZE = 16,
    BLENDED = 77, // what the test blend table makes of every pair
    STAIN_ORIGIN = 248, // texels: the stain covers 248..263 in both directions
};

color_table distinct_colors(void)
{
    color_table colors = {};
    colors.color_count = 256;
    for (int32_t i = 0; i < 256; ++i)
        colors.colors[i] = {(uint16_t)(i * 257), (uint16_t)((255 - i) * 257), (uint16_t)((i * 7 & 255) * 257), 0};
    return colors;
}

// A 64 x 64-cell landscape (2 x 2 submeshes) of one colour and one light.
builder_collection landscape_collection(void)
{
    builder_collection c;
    c.user_data_flags = _collection_used_for_textures_flag | _collection_is_color_map_flag;
    c.colors = distinct_colors();
    for (int32_t s = 0; s < 4; ++s)
    {
        c.bitmaps.push_back(new_builder_bitmap("color", 256, 256, _builder_flat_8bit, GROUND_COLOR));
        c.bitmaps.push_back(new_builder_bitmap("shadow", 256, 256, _builder_flat_8bit, GROUND_SHADOW));
    }
    c.blend_table.assign(256 * 256, BLENDED);
    return c;
}

// Sequence 0: a flat 16 x 16 stain whose rows 7 and 8 leave the colour alone
// (index 0), symmetric so that mirroring changes nothing.  Sequence 1: the
// same drawn run-length, which must be skipped.
builder_collection stain_collection(void)
{
    builder_collection c;
    c.colors = distinct_colors();
    builder_bitmap color = new_builder_bitmap("stain", STAIN_SIZE, STAIN_SIZE, _builder_flat_8bit, STAIN_COLOR);
    builder_fill_rectangle(&color, 0, 7, STAIN_SIZE, 9, 0);
    c.bitmaps.push_back(color);
    c.bitmaps.push_back(new_builder_bitmap("stain shadow", STAIN_SIZE, STAIN_SIZE, _builder_flat_8bit, STAIN_SHADOW));
    c.bitmaps.push_back(new_builder_bitmap("rle", STAIN_SIZE, STAIN_SIZE, _builder_rle_8bit, STAIN_COLOR));
    shadow_map_data shadow = {};
    shadow.bitmap_index = 1;
    c.shadow_maps.push_back(shadow);
    for (int16_t bitmap : {0, 2})
    {
        c.instances.push_back(builder_instance(bitmap, 0, 0, 0, 0));
        builder_sequence s = new_builder_sequence(bitmap ? "rle" : "flat");
        s.data.number_of_views = 1;
        s.data.pixels_to_world = 0x10000;
        s.frames.push_back({(int16_t)(c.instances.size() - 1)});
        s.frame_shadow_maps.push_back(0);
        EXPECT_EQ(complete_builder_sequence(&s, &c), nullptr);
        c.sequences.push_back(s);
    }
    return c;
}

class terrain_stains : public store_fixture::store_test
{
protected:
    int32_t stains = NONE;

    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        register_shapes_hooks();
        register_terrain_overlay_hooks();
        ASSERT_TRUE(initialize_shapes());
        current_gameplay_version = 1811;
        reset_shading_table_permutation_data();
        active_screen.screen_initialized = true;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.bit_depth = 32;
        active_screen.encoding = _32bit_encoding;
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        for (const auto &[name, collection] :
             {std::pair{"land", landscape_collection()}, std::pair{"stai", stain_collection()}})
        {
            const std::vector<uint8_t> bytes = build_collection_tag_data(collection);
            write_local_tag(COLLECTION_GROUP_TAG, name, COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        }
        initialize_shapes_for_new_map();
        initialize_mesh();
        mesh_header header = test_mesh_header(64, 64);
        header.landscape_collection_tag = LAND;
        ASSERT_TRUE(load_test_mesh(header));
        stains = get_collection_index(STAI);
        ASSERT_NE(stains, NONE);
    }
    void TearDown() override
    {
        dispose_mesh_from_old_map();
        reset_terrain_overlays_for_tests();
        active_screen = initial_active_screen();
        dispose_shapes_from_old_map();
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }

    static uint8_t texel(int32_t X, int32_t Y, bool shadow)
    {
        const int32_t submesh = (X >> 8) + submesh_width * (Y >> 8);
        const uint8_t *map = shadow ? get_submesh_shadow_map_base_address(submesh, false)
                                    : get_submesh_color_map_base_address(submesh, false);
        return map ? map[(Y & 255) * 256 + (X & 255)] : 0;
    }
};

TEST_F(terrain_stains, a_stain_across_a_submesh_corner_paints_all_four_and_spares_media)
{
    // Media in texel rows 250 and 251 from (252, 254]: the stain's own walk
    // counts columns 252 and 253 as media there.
    std::vector<uint16_t> coverage;
    for (int32_t y = 0; y < 512; ++y)
    {
        if (y == 250 || y == 251) coverage.insert(coverage.end(), {252, 254});
        coverage.push_back(512);
    }
    dispose_media_coverage_region();
    initialize_media_coverage_region(coverage.data(), (int32_t)coverage.size() * 2);
    ASSERT_FALSE(mesh_texture_pixel_is_media(252, 250));
    ASSERT_TRUE(mesh_texture_pixel_is_media(254, 250));

    const world_point2d point = {STAIN_ORIGIN << 6, STAIN_ORIGIN << 6};
    local_stain_mesh(stains, 0, &point); // index 0: no random generator registered

    int32_t wrong = 0, painted[4] = {};
    for (int32_t Y = STAIN_ORIGIN - 4; Y < STAIN_ORIGIN + STAIN_SIZE + 4; ++Y)
        for (int32_t X = STAIN_ORIGIN - 4; X < STAIN_ORIGIN + STAIN_SIZE + 4; ++X)
        {
            const bool inside = X >= STAIN_ORIGIN && X < STAIN_ORIGIN + STAIN_SIZE && Y >= STAIN_ORIGIN &&
                                Y < STAIN_ORIGIN + STAIN_SIZE;
            const bool media = (Y == 250 || Y == 251) && (X == 252 || X == 253);
            const bool stained = inside && !media;
            const int32_t row = Y - STAIN_ORIGIN;
            const int32_t shadow = stained ? ((255 - STAIN_SHADOW) * GROUND_SHADOW) >> 8 : (int32_t)GROUND_SHADOW;
            const int32_t color = stained && row != 7 && row != 8 ? (int32_t)BLENDED : (int32_t)GROUND_COLOR;
            wrong += texel(X, Y, true) != shadow;
            wrong += texel(X, Y, false) != color;
            if (stained) painted[(X >> 8) + 2 * (Y >> 8)] += texel(X, Y, true) == shadow;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(painted[0], 8 * 8 - 4);
    for (int32_t s = 1; s < 4; ++s) EXPECT_EQ(painted[s], 8 * 8) << "submesh " << s;
}

TEST_F(terrain_stains, a_run_length_stain_bitmap_is_skipped)
{
    const world_point2d point = {100 << 6, 100 << 6};
    local_stain_mesh(stains, 1, &point);
    int32_t changed = 0;
    for (int32_t Y = 90; Y < 130; ++Y)
        for (int32_t X = 90; X < 130; ++X)
            changed += texel(X, Y, true) != GROUND_SHADOW || texel(X, Y, false) != GROUND_COLOR;
    EXPECT_EQ(changed, 0);
}

} // namespace

namespace {

TEST_F(terrain_stains, the_unblended_colour_map_table_packs_the_landscape_palette)
{
    initialize_cmap_shading_tables_for_new_map();
    ASSERT_NE(terrain_maps_globals.shade16, nullptr);
    ASSERT_NE(terrain_maps_globals.shade32, nullptr);
    for (uint32_t i = 0; i < 256; ++i)
        EXPECT_EQ(terrain_maps_globals.shade32_unblended[i], i << 16 | (255 - i) << 8 | (i * 7 & 255)) << i;
    // The full-light level keeps colours apart (a table of zeros would not).
    EXPECT_NE(terrain_maps_globals.shade32[255 << 8 | 10], terrain_maps_globals.shade32[255 << 8 | 200]);
    dispose_cmap_shading_tables_from_old_map();
    EXPECT_EQ(terrain_maps_globals.shade32, nullptr);
}

} // namespace

} // namespace terrain_stains_test_file
