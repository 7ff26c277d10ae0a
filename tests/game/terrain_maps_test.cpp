// The terrain maps: what the volatile maps and the tile pages hold, checked
// texel by texel against the submesh maps read directly, and how pages are
// handed out from frame to frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "tag_files/collection_procedures.h"
#include "cseries/registration.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/terrain_maps.h"
#include "render/terrain_overlays.h"
#include "support/expected_assertions.h"
#include "support/test_mesh.h"

namespace terrain_maps_test_file {

namespace {

// The landscape of every test map: submesh s has colour bitmap 2s and shadow
// bitmap 2s + 1 of seeded random bytes, except MISSING_SHADOW (no shadow map)
// and MISSING_COLOR (no colour map).
enum
{
    MAXIMUM_SUBMESHES = 64,
    MISSING_SHADOW = 4,
    MISSING_COLOR = 5,
};
std::vector<uint8_t> landscape[MAXIMUM_SUBMESHES * 2];

uint8_t *fake_landscape_bitmap(int32_t bitmap_index)
{
    if (bitmap_index < 0 || bitmap_index >= MAXIMUM_SUBMESHES * 2) return nullptr;
    if (bitmap_index == MISSING_SHADOW * 2 + 1 || bitmap_index == MISSING_COLOR * 2) return nullptr;
    return landscape[bitmap_index].data();
}

// The texel of mesh texel (X, Y) of the colour (0) or shadow (1) map read
// straight from the bitmaps: 0 off the mesh or where a map is missing.
uint8_t direct_texel(int32_t X, int32_t Y, int32_t kind)
{
    if (X < 0 || Y < 0 || X >= mesh_width * 8 || Y >= mesh_height * 8) return 0;
    const int32_t submesh = (X >> 8) + submesh_width * (Y >> 8);
    const uint8_t *map = fake_landscape_bitmap(submesh * 2 + kind);
    return map ? map[(Y & 255) * 256 + (X & 255)] : 0;
}

void load_flat_map(int16_t width, int16_t height)
{
    mesh_header header = test_mesh_header(width, height);
    header.landscape_collection_tag = NONE;
    ASSERT_TRUE(load_test_mesh(header));
}

class terrain_maps : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        srand(27);
        for (std::vector<uint8_t> &map : landscape)
        {
            map.resize(256 * 256);
            for (uint8_t &texel : map) texel = (uint8_t)(rand() >> 7);
        }
    }

    std::vector<uint16_t> shade16_pattern;
    std::vector<uint32_t> shade32_pattern;

    void SetUp() override
    {
        clear_all_registrations();
        reset_render_for_tests();
        reset_terrain_maps_for_tests();
        reset_terrain_overlays_for_tests();
        initialize_mesh();
        static const collection_procedures landscape = {.landscape_bitmap = fake_landscape_bitmap};
        register_collection_procedures(&landscape);
        register_terrain_overlay_hooks();
        initialize_scene();
        ASSERT_TRUE(reset_render_memory_pool_for_tests(1 << 20));
        load_flat_map(66, 34); // 3 x 2 submeshes, the last column and row partial
        // Conversion tables whose every entry differs, so that a wrong index
        // shows; the water's differ from the ground's everywhere.
        terrain_maps_globals_data &g = terrain_maps_globals;
        fill_tables(&g.shade16, &g.shade32, g.shade32_unblended, 0);
        fill_tables(&g.media_shade16, &g.media_shade32, g.media_shade32_unblended, 1);
    }
    static void fill_tables(uint16_t **shade16, uint32_t **shade32, uint32_t unblended[256], uint32_t salt)
    {
        *shade16 = (uint16_t *)calloc(SHADING_TABLES16 * 256, sizeof(uint16_t));
        *shade32 = (uint32_t *)calloc(SHADING_TABLES32 * 256, sizeof(uint32_t));
        for (int32_t i = 0; i < SHADING_TABLES16 * 256; ++i) (*shade16)[i] = (uint16_t)(i * (7 - 2 * salt) + 1 + salt);
        for (int32_t i = 0; i < SHADING_TABLES32 * 256; ++i)
            (*shade32)[i] = (uint32_t)i * (salt ? 2246822519u : 2654435761u) | (1 + salt);
        for (int32_t i = 0; i < 256; ++i) unblended[i] = (uint32_t)(i * (65793 - 61694 * salt) + 5 + 4 * salt) & 0xFFFFFF;
    }
    void TearDown() override
    {
        dispose_mesh_from_old_map();
        reset_terrain_maps_for_tests();
        reset_terrain_overlays_for_tests();
        reset_render_for_tests();
        clear_all_registrations();
    }

    // The texture texel of colour c and shadow s, computed from the tables
    // (the water's with the media flag).
    static uint32_t expected_texel(int32_t mode, uint8_t c, uint8_t s)
    {
        const terrain_maps_globals_data &g = terrain_maps_globals;
        const bool media = mode & _cmap_texture_media_flag;
        switch (mode & ~_cmap_texture_media_flag)
        {
        case _cmap_texture_mode_16bit: return (media ? g.media_shade16 : g.shade16)[((s >> 2) << 8) | c];
        case _cmap_texture_mode_32bit: return (media ? g.media_shade32 : g.shade32)[(s << 8) | c];
        default: return ((uint32_t)s << 24) | (media ? g.media_shade32_unblended : g.shade32_unblended)[c];
        }
    }
    static uint32_t read_texel(const std::vector<uint32_t> &buffer, int32_t mode, ptrdiff_t index)
    {
        return (mode & ~_cmap_texture_media_flag) == _cmap_texture_mode_16bit ? ((const uint16_t *)buffer.data())[index]
                                                                              : buffer[index];
    }
    // Every mode, the ground's and the water's.
    static constexpr int32_t every_mode[] = {
        _cmap_texture_mode_16bit, _cmap_texture_mode_32bit, _cmap_texture_mode_32bit_unblended,
        _cmap_texture_mode_16bit | _cmap_texture_media_flag, _cmap_texture_mode_32bit | _cmap_texture_media_flag,
        _cmap_texture_mode_32bit_unblended | _cmap_texture_media_flag};
};

// A region of `rows` rows from (x0, y0) whose row i spans [x0 + i, x0 + i +
// width) (slanted) or [x0, x0 + width).
struct test_region
{
    mesh_region region = {};
    std::vector<mesh_span> spans;
    test_region(int16_t x0, int16_t y0, int32_t rows, int32_t width, bool slanted = true)
    {
        for (int32_t i = 0; i < rows; ++i)
        {
            const int32_t left = x0 + (slanted ? i : 0);
            spans.push_back({(int16_t)left, (int16_t)(left + width)});
        }
        region.x0 = x0;
        region.y0 = y0;
        region.y1 = (int16_t)(y0 + rows - 1);
        region.spans = spans.data();
    }
};

TEST_F(terrain_maps, volatile_copy_follows_the_spans_across_submesh_borders_and_the_map_edge)
{
    // Columns 20..83 and rows 28..37: runs cross x = 32 and 64 and row 32;
    // cells 66 and beyond are off the map, and submeshes 4 (no shadow map)
    // and 5 (no colour map) lie in the second submesh row.
    test_region r(20, 28, 10, 50);
    memset(volatile_color_map(), 0xAB, 512 * 512);
    memset(volatile_shadow_map(), 0xAB, 512 * 512);
    view_data view = {};
    view.region = &r.region;
    view.tick_count = 1;
    update_maps(&view);
    EXPECT_TRUE(terrain_maps_globals.volatile_maps_changed);
    EXPECT_EQ(terrain_maps_globals.volatile_x0, 20);
    EXPECT_EQ(terrain_maps_globals.volatile_y0, 28);
    int32_t mismatches = 0, untouched = 0, bordering = 0;
    // Texel (tx, ty) of the window lies in a copied cell.
    auto copied_texel = [&r](int32_t tx, int32_t ty) {
        if (tx < 0 || ty < 0 || tx >= 512 || ty >= 80) return false;
        const int32_t x = 20 + tx / 8;
        return x >= r.spans[ty / 8].x0 && x < r.spans[ty / 8].x1;
    };
    for (int32_t row = 0; row < 10; ++row)
        for (int32_t column = 0; column < 64; ++column)
        {
            const int32_t x = 20 + column, y = 28 + row;
            const bool copied = x >= r.spans[row].x0 && x < r.spans[row].x1;
            for (int32_t ty = 0; ty < 8; ++ty)
                for (int32_t tx = 0; tx < 8; ++tx)
                {
                    const ptrdiff_t at = ((ptrdiff_t)row * 512 + column) * 8 + ty * 512 + tx;
                    for (int32_t kind = 0; kind < 2; ++kind)
                    {
                        const uint8_t got = (kind ? volatile_shadow_map() : volatile_color_map())[at];
                        const int32_t wx = column * 8 + tx, wy = row * 8 + ty;
                        // The texels beside each span repeat its edge for the filter
                        // (and the rows around the window, outside these rows).
                        if (!copied && (copied_texel(wx - 1, wy) || copied_texel(wx + 1, wy)))
                            bordering += got != 0xAB;
                        else if (!copied) untouched += got == 0xAB;
                        else if (got != direct_texel(x * 8 + tx, y * 8 + ty, kind))
                        {
                            if (mismatches++ == 0)
                                ADD_FAILURE() << "first mismatch at cell " << x << "," << y << " texel " << tx << ","
                                              << ty << " map " << kind;
                        }
                    }
                }
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(bordering, 0);
    EXPECT_EQ(untouched + bordering, (10 * 64 - 10 * 50) * 64 * 2) << "cells outside the spans are left alone";
}

TEST_F(terrain_maps, volatile_maps_are_redrawn_only_on_a_new_tick_a_move_or_another_region)
{
    test_region r(0, 0, 8, 20);
    view_data view = {};
    view.region = &r.region;
    view.tick_count = 5;
    update_maps(&view);
    ASSERT_TRUE(terrain_maps_globals.volatile_maps_changed);

    auto redrawn = [&](void) {
        terrain_maps_globals.volatile_maps_changed = false;
        volatile_color_map()[0] = 0xEE; // the region's first cell is copied on every redraw
        update_maps(&view);
        const bool changed = terrain_maps_globals.volatile_maps_changed;
        const uint8_t expected = changed ? direct_texel(view.region->x0 * 8, 0, 0) : 0xEE;
        EXPECT_EQ(volatile_color_map()[0], expected);
        return changed;
    };
    EXPECT_FALSE(redrawn()) << "same tick, unmoved view, same region";
    view.tick_count = 6;
    EXPECT_TRUE(redrawn()) << "a new local tick";
    view.flags = _render_view_moved_flag;
    EXPECT_TRUE(redrawn()) << "the view moved";
    view.flags = 0;
    EXPECT_FALSE(redrawn());
    r.spans[3].x1 = 21; // a wider field of view: the region changes, the flag does not
    EXPECT_TRUE(redrawn()) << "another span";
    EXPECT_FALSE(redrawn());
    r.region.y1 = 6;
    EXPECT_TRUE(redrawn()) << "fewer rows";
    test_region shifted(2, 0, 8, 20);
    view.region = &shifted.region;
    EXPECT_TRUE(redrawn()) << "another origin";
    EXPECT_EQ(terrain_maps_globals.volatile_x0, 2);
}

TEST_F(terrain_maps, volatile_overlays_land_relative_to_the_region_origin)
{
    test_region r(10, 4, 4, 8);
    uint8_t pixels[1] = {255};
    render_map_overlay light = {};
    // Cell (12, 5), texel (3, 2) inside it, no fraction.
    light.x0 = (12 * 8 + 3) << 6;
    light.y0 = (5 * 8 + 2) << 6;
    light.pixels = pixels;
    light.width = light.height = 1;
    light.bytes_per_row = 1;
    light.density = 65535;
    light.mode = _overlay_light_map;
    view_data view = {};
    view.region = &r.region;
    view.light_map_overlays = &light;
    update_maps(&view);
    const ptrdiff_t at = ((5 - 4) * 512 + (12 - 10)) * 8 + 2 * 512 + 3;
    const uint8_t before = direct_texel(12 * 8 + 3, 5 * 8 + 2, 1);
    // 254 * 63 * 63 >> 12 = 246, added and capped at 255.
    EXPECT_EQ(volatile_shadow_map()[at], before + 246 > 255 ? 255 : before + 246);
}

TEST_F(terrain_maps, pages_are_handed_out_kept_and_stolen_in_coverage_order)
{
    initialize_tile_cache_for_new_map(0);
    ASSERT_EQ(global_maps_mode, _maps_mode_tiles);
    ASSERT_EQ(terrain_maps_globals.tile_count, 5 * 3);
    mesh_tile *tiles = terrain_maps_globals.mesh_tiles;
    EXPECT_EQ(tiles[9].mesh_x, 56);
    EXPECT_EQ(tiles[9].mesh_x1, 65);
    EXPECT_EQ(tiles[9].mesh_y1, 27);
    EXPECT_EQ(tiles[14].mesh_y1, 33);

    mesh_region region = {};
    auto cache = [&](std::vector<uint16_t> covered, bool flush) {
        region.tile_coverage_list = covered.data();
        region.tile_coverage_list_size = (int32_t)covered.size();
        cache_tiles_for_region(&region, flush);
        std::vector<int32_t> dirty;
        for (int32_t i = 0; i < region.dirty_tile_list_size; ++i)
            dirty.push_back((int32_t)(region.dirty_tile_list[i] - tiles));
        return dirty;
    };
    // First frame: pages from 0 upward in coverage order.
    EXPECT_EQ(cache({5, 3, 9}, true), (std::vector<int32_t>{5, 3, 9}));
    EXPECT_EQ(tiles[5].page, 0);
    EXPECT_EQ(tiles[3].page, 1);
    EXPECT_EQ(tiles[9].page, 2);
    EXPECT_EQ(tiles[9].page_x, 256);
    EXPECT_EQ(tiles[9].u_off, 256 / 8 + 1 - 56);
    EXPECT_EQ(tiles[9].v_off, 0 / 8 + 1 - 14);
    // Kept pages are not rebuilt; a newcomer takes the first unmarked page.
    EXPECT_EQ(cache({3, 9, 7}, false), (std::vector<int32_t>{7}));
    EXPECT_EQ(tiles[3].page, 1);
    EXPECT_EQ(tiles[9].page, 2);
    EXPECT_EQ(tiles[7].page, 0);
    // Tile 5 comes back: its old page is 7's now, so it takes page 1 from
    // tile 3, which is not covered this frame.
    EXPECT_EQ(cache({7, 5}, false), (std::vector<int32_t>{5}));
    EXPECT_EQ(tiles[5].page, 1);
    EXPECT_EQ(terrain_maps_globals.pages[1].tile, 5);
    EXPECT_EQ(cache({3}, false), (std::vector<int32_t>{3}));
    EXPECT_EQ(tiles[3].page, 0) << "3 lost page 1, and page 0 is unmarked this frame";
    // A flush rebuilds every covered tile.
    EXPECT_EQ(cache({3, 7}, true), (std::vector<int32_t>{3, 7}));

    dispose_tile_cache_from_old_map();
    EXPECT_EQ(global_maps_mode, _maps_mode_volatile);
}

TEST_F(terrain_maps, more_tiles_than_pages_leave_the_rest_without_a_page)
{
    dispose_mesh_from_old_map();
    load_flat_map(256, 256); // 19 x 19 tiles
    initialize_tile_cache_for_new_map(0);
    ASSERT_EQ(terrain_maps_globals.tile_count, 361);
    std::vector<uint16_t> covered;
    for (uint16_t i = 0; i < 300; ++i) covered.push_back((uint16_t)(i * 7 % 361));
    mesh_region region = {};
    region.tile_coverage_list = covered.data();
    region.tile_coverage_list_size = (int32_t)covered.size();
    cache_tiles_for_region(&region, true);
    EXPECT_EQ(region.dirty_tile_list_size, PAGE_COUNT);
    for (int32_t i = 0; i < 300; ++i)
    {
        const mesh_tile &tile = terrain_maps_globals.mesh_tiles[covered[i]];
        EXPECT_EQ(tile.page, i < PAGE_COUNT ? i : (int32_t)MESH_TILE_NO_FREE_PAGE);
    }
    for (int32_t p = 0; p < PAGE_COUNT; ++p) EXPECT_EQ(terrain_maps_globals.pages[p].tile, covered[p]);
}

TEST_F(terrain_maps, tile_texels_match_the_maps_with_zero_borders_off_the_mesh_in_every_mode)
{
    initialize_tile_cache_for_new_map(0);
    // The top-left tile; one across four submeshes, one without its shadow
    // map; the right-edge tile of the second row (whose right border must not
    // read the next submesh row); the bottom-right one, without a colour map
    // for part of it.
    for (int32_t tile_index : {0, 12, 9, 14})
    {
        const mesh_tile &tile = terrain_maps_globals.mesh_tiles[tile_index];
        for (int32_t mode : every_mode)
        {
            const int32_t stride = 130;
            std::vector<uint32_t> out(stride * 128, 0xDEADBEEF);
            build_mesh_tile_texture(&tile, out.data(), stride, mode);
            int32_t mismatches = 0;
            for (int32_t py = 0; py < 128; ++py)
                for (int32_t px = 0; px < 128; ++px)
                {
                    const int32_t X = tile.x - 8 + px, Y = tile.y - 8 + py;
                    const int32_t submesh = (X >> 8) + submesh_width * (Y >> 8);
                    const bool on_mesh = X >= 0 && Y >= 0 && X < mesh_width * 8 && Y < mesh_height * 8;
                    const uint32_t expected = !on_mesh || submesh == MISSING_COLOR
                                                  ? 0
                                                  : expected_texel(mode, direct_texel(X, Y, 0), direct_texel(X, Y, 1));
                    mismatches += read_texel(out, mode, (ptrdiff_t)py * stride + px) != expected;
                }
            EXPECT_EQ(mismatches, 0) << "tile " << tile_index << " mode " << mode;
            // Nothing beyond the 128 texels of a row.
            if ((mode & ~_cmap_texture_media_flag) != _cmap_texture_mode_16bit)
            {
                EXPECT_EQ(out[128], 0xDEADBEEFu);
            }
        }
    }
    std::vector<uint32_t> out(128 * 128, 7);
    {
        expected_assertions expect(1, "halt");
        build_mesh_tile_texture(&terrain_maps_globals.mesh_tiles[0], out.data(), 128, 3);
    }
    EXPECT_EQ(out[0], 7u);
}

TEST_F(terrain_maps, tile_and_volatile_maps_agree_on_an_overlay_cut_by_the_page)
{
    // A light overlay straddling the left border of tile 1 (cells 14..27):
    // the page and the volatile maps must give the same texels wherever both
    // hold them.
    initialize_tile_cache_for_new_map(0);
    mesh_tile &tile = terrain_maps_globals.mesh_tiles[1];
    std::vector<uint8_t> pixels(20 * 6);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (uint8_t)(i * 37);
    render_map_overlay overlay = {};
    overlay.x0 = ((13 * 8 - 12) << 6) + 21; // starts 4 texels left of the page
    overlay.y0 = (3 * 8 << 6) + 50;
    overlay.pixels = pixels.data();
    overlay.width = 20;
    overlay.height = 6;
    overlay.bytes_per_row = 20;
    overlay.density = 40000;
    overlay.mode = _overlay_shadow_map;
    tile.shadow_map_overlays = &overlay;
    std::vector<uint32_t> page(128 * 128);
    build_mesh_tile_texture(&tile, page.data(), 128, _cmap_texture_mode_32bit_unblended);

    global_maps_mode = _maps_mode_volatile;
    test_region r(0, 0, 20, 40, false);
    view_data view = {};
    view.region = &r.region;
    view.shadow_map_overlays = &overlay;
    update_maps(&view);
    int32_t mismatches = 0;
    for (int32_t py = 0; py < 128; ++py)
        for (int32_t px = 0; px < 128; ++px)
        {
            const int32_t X = tile.x - 8 + px, Y = tile.y - 8 + py;
            if (Y < 0 || Y >= 20 * 8) continue;
            if ((page[py * 128 + px] >> 24) != volatile_shadow_map()[Y * 512 + X] && mismatches++ < 5)
                ADD_FAILURE() << X << "," << Y << ": " << (page[py * 128 + px] >> 24) << " "
                              << (int)volatile_shadow_map()[Y * 512 + X];
        }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(terrain_maps, chunk_texels_convert_the_volatile_maps_in_every_mode)
{
    for (int32_t i = 0; i < 512 * 512; ++i)
    {
        volatile_color_map()[i] = (uint8_t)(i * 13 + (i >> 9));
        volatile_shadow_map()[i] = (uint8_t)(i * 5 + (i >> 9) * 3);
    }
    for (int32_t mode : every_mode)
    {
        const int32_t width = 200, c = 43; // chunk column 3, row 5
        const int32_t sx = (c & 7) * 64, sy = (c >> 3) * 64;
        std::vector<uint32_t> out(width * 140, 0x12345678);
        build_volatile_chunk_texture(out.data(), 70, 9, width, sx, sy, mode);
        int32_t mismatches = 0, outside = 0;
        for (int32_t y = 0; y < 140; ++y)
            for (int32_t x = 0; x < width; ++x)
            {
                const uint32_t got = read_texel(out, mode, (ptrdiff_t)y * width + x);
                if (x >= 70 && x < 134 && y >= 9 && y < 73)
                {
                    const ptrdiff_t at = (ptrdiff_t)(sy + y - 9) * 512 + sx + x - 70;
                    mismatches += got != expected_texel(mode, volatile_color_map()[at], volatile_shadow_map()[at]);
                }
                else if ((mode & ~_cmap_texture_media_flag) != _cmap_texture_mode_16bit) outside += got != 0x12345678u;
            }
        EXPECT_EQ(mismatches, 0) << "mode " << mode;
        EXPECT_EQ(outside, 0) << "mode " << mode;
    }
    std::vector<uint32_t> out(64 * 64, 3);
    {
        expected_assertions expect(1, "halt");
        build_volatile_chunk_texture(out.data(), 0, 0, 64, 0, 0, 7);
    }
    // The water's texels on a map whose media has no tint: nothing written.
    free(terrain_maps_globals.media_shade32);
    terrain_maps_globals.media_shade32 = nullptr;
    {
        expected_assertions expect(1, "shade32");
        build_volatile_chunk_texture(out.data(), 0, 0, 64, 0, 0, _cmap_texture_mode_32bit | _cmap_texture_media_flag);
    }
    EXPECT_EQ(out[0], 3u);
}

} // namespace

} // namespace terrain_maps_test_file
