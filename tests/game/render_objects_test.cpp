// Object sprites and ground overlays: the overlay's density, shift and
// transfer modes; the rectangle transfer modes; sprites split at the media
// line with their faint under-media part, submerged ones without a
// reflection, mirrored views, views outside the sequence; local sprites and
// their delayed removal; the vitality bar of an object without a maximum; a
// shadow drawn from the sprite's own outline.
//
// The view stands at the origin looking along +x: world (dx, dy, dz) lies at
// viewer (-dy, dz, -dx), 640 pixels of focal length, the centre at (320, 240).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "collection_builder.h"
#include "cseries/registration.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "object_definitions.h"
#include "objects.h"
#include "render/render.h"
#include "render/render_objects.h"
#include "render/render_rasterize.h"
#include "mesh.h"
#include "render/mesh_region.h"
#include "render/render_sort.h"
#include "render/terrain_maps.h"
#include "screen.h"
#include "shapes.h"
#include "support/expected_assertions.h"
#include "support/objects_world.h"
#include "tag_files/definitions.h"
#include "tag_files/store_fixture.h"

namespace render_objects_test_file {

namespace {

const tag COLL = FOUR_CHARACTER_CODE('c', 'o', 'l', 'l');
const uint16_t T = BUILDER_TRANSPARENT;

enum
{
    SPRITE_A = 0, // bitmaps
    SHADOW_BITMAP = 1,
    LIGHT_BITMAP = 2,
    SPRITE_B = 3,
    TURNING = 0, // sequences
    FIXED = 1,
    CAST = 2,
    SHADOW_MAP = 0, // shadow maps
    LIGHT_MAP = 1,
    OUTLINE_SHADOW_MAP = 2,
};

// Two 8 x 16 sprites (20 world units a pixel: 160 x 320 units, the
// registration point at the bottom centre), an 8 x 4 shadow and light map;
// an 8-view sequence whose view 2 alone shows sprite B (so its mirror, view
// 6, does too), with a shadow on its frame; a one-view sequence without
// rotation; a one-view sequence of sprite B (opaque in its left half below
// its top quarter) whose shadow is its own outline.
const std::vector<uint8_t> &collection_bytes(void)
{
    static const std::vector<uint8_t> bytes = [] {
        builder_collection c;
        c.colors.color_count = 4;
        for (int32_t i = 0; i < 4; ++i) c.colors.colors[i] = {(uint16_t)(i * 16000), 30000, 20000, 0};
        builder_bitmap a = new_builder_bitmap("a", 8, 16, _builder_rle_8bit, T);
        builder_fill_rectangle(&a, 1, 1, 7, 16, 1);
        builder_bitmap b = new_builder_bitmap("b", 8, 16, _builder_rle_8bit, T);
        builder_fill_rectangle(&b, 0, 4, 4, 16, 2);
        c.bitmaps = {a, new_builder_bitmap("shadow", 8, 4, _builder_flat_8bit, 200),
                     new_builder_bitmap("light", 8, 4, _builder_flat_8bit, 100), b};
        shadow_map_data shadow = {};
        shadow.registration_x = 4 << 16;
        shadow.registration_y = 2 << 16;
        shadow.bitmap_index = SHADOW_BITMAP;
        shadow_map_data light = shadow;
        light.flags = 1;
        light.bitmap_index = LIGHT_BITMAP;
        shadow_map_data outline = shadow;
        outline.flags = _shadow_map_cast_by_sprite_flag;
        c.shadow_maps = {shadow, light, outline};
        for (int16_t v = 0; v < 5; ++v) c.instances.push_back(builder_instance(v == 2 ? SPRITE_B : SPRITE_A, 4, 15, 4, 4));
        builder_sequence turning = new_builder_sequence("turning");
        turning.data.number_of_views = 8;
        turning.data.flags = _sequence_uses_mirroring_flag;
        turning.data.pixels_to_world = 0x20000;
        turning.frames = {{0, 1, 2, 3, 4}};
        turning.frame_shadow_maps = {SHADOW_MAP};
        if (complete_builder_sequence(&turning, &c)) return std::vector<uint8_t>();
        builder_sequence fixed = new_builder_sequence("fixed");
        fixed.data.flags = _sequence_has_no_rotation_flag;
        fixed.data.pixels_to_world = 0x20000;
        fixed.frames = {{0}};
        if (complete_builder_sequence(&fixed, &c)) return std::vector<uint8_t>();
        // Sprite B, whose outline is its shadow.
        builder_sequence cast = new_builder_sequence("cast");
        cast.data.flags = _sequence_has_no_rotation_flag;
        cast.data.pixels_to_world = 0x20000;
        cast.frames = {{2}};
        cast.frame_shadow_maps = {OUTLINE_SHADOW_MAP};
        if (complete_builder_sequence(&cast, &c)) return std::vector<uint8_t>();
        c.sequences = {turning, fixed, cast};
        return build_collection_tag_data(c);
    }();
    return bytes;
}

class render_objects_test : public store_fixture::store_test
{
protected:
    int32_t collection = NONE;
    view_data view = {};
    render_surface_list list = {};

    void SetUp() override
    {
        store_test::SetUp();
        reset_render_for_tests();
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        current_gameplay_version = 1811;
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        const std::vector<uint8_t> &bytes = collection_bytes();
        ASSERT_FALSE(bytes.empty());
        write_local_tag(COLLECTION_GROUP_TAG, "coll", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        active_screen = initial_active_screen();
        active_screen.screen_initialized = true;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.encoding = _32bit_encoding;
        active_screen.bit_depth = 32;
        initialize_shapes_for_new_map();
        collection = get_collection_index(COLL);
        ASSERT_NE(collection, NONE);

        view.resolution_width = 640;
        view.resolution_height = 480;
        view.half_resolution_width = 320;
        view.half_resolution_height = 240;
        view.tangent_of_half_field_of_view = 0.5f;
        update_view_data(&view);
        new_render_scene(0);
        new_surface_list(&list);
        view.main_surface_list = &list;
        view.shadow_map_overlays = view.light_map_overlays = nullptr;
        initialize_local_sprites_for_new_map();
        game_->local_time = 0;
        game_->game_time = 0;
    }
    void TearDown() override
    {
        dispose_shapes_from_old_map();
        dispose_definitions();
        reset_render_for_tests();
        clear_all_registrations();
        active_screen = initial_active_screen();
        store_test::TearDown();
    }

    // A scenery object `distance` units in front of the viewer, its position
    // at height z, 300 units tall.
    object_data scenery(world_distance distance, world_distance z, int16_t sequence = TURNING) const
    {
        object_data object = {};
        object.owner = _object_is_scenery;
        object.type = NONE;
        object.location.position = {distance, 0, z};
        object.scale = SHORT_FIXED_ONE;
        object.radius = 80;
        object.height1 = 300;
        object.shape_collection_index = (int16_t)collection;
        object.shape_sequence_index = sequence;
        object.parasitic_object_index = NONE;
        object.transparent_object_index = NONE;
        object.geometry_index = NONE;
        return object;
    }

    std::vector<const render_surface *> surfaces(int32_t subtype) const
    {
        std::vector<const render_surface *> found;
        for (const render_surface *s = list.first_surface; s; s = s->next_surface)
            if (surface_word_subtype(s->packed) == subtype) found.push_back(s);
        return found;
    }
    static const render_rectangle *rectangle(const render_surface *surface)
    {
        return reinterpret_cast<const render_rectangle *>(surface);
    }
    static uint32_t flags(const render_surface *surface) { return surface_word_flags(surface->packed); }

    // The one overlay made for a stamp at height h with the given opacity and
    // transfer mode, or null.
    const render_map_overlay *stamp(int16_t shadow_map, int32_t h, fixed_fraction opacity = 65535,
                                    int16_t mode = _transfer_mode_none, fixed_fraction phase = 0)
    {
        view.shadow_map_overlays = view.light_map_overlays = nullptr;
        const world_point3d position = {5000, 7000, 0};
        build_render_map_overlay(&view, nullptr, (int16_t)collection, SHORT_FIXED_ONE, 0, shadow_map, NONE, mode, phase,
                                 &position, h, opacity);
        return view.shadow_map_overlays ? view.shadow_map_overlays : view.light_map_overlays;
    }
};

TEST_F(render_objects_test, overlay_density_falls_with_height_and_shadows_drift_away)
{
    const struct
    {
        int16_t map;
        int32_t height;
        bool made;
        fixed_fraction density; // the height's fade (65535 on the ground) x (opacity >> 8), over 256
        int32_t shift;
    } cases[] = {
        {SHADOW_MAP, 0, true, (65535 * 255) >> 8, 0},
        {SHADOW_MAP, 1536, true, (32768 * 255) >> 8, 768},
        {SHADOW_MAP, 3072, false, 0, 0},
        {SHADOW_MAP, -256, true, (32768 * 255) >> 8, 0},
        {SHADOW_MAP, -512, false, 0, 0},
        {LIGHT_MAP, 512, true, (32768 * 255) >> 8, 0},
        {LIGHT_MAP, 1024, false, 0, 0},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "map " << c.map << " at height " << c.height);
        const render_map_overlay *overlay = stamp(c.map, c.height);
        ASSERT_EQ(overlay != nullptr, c.made);
        if (!overlay) continue;
        EXPECT_EQ(overlay->density, c.density);
        // The registration point (4, 2) pixels is 256, 128 world units.
        EXPECT_EQ(overlay->x0, 5000 - 256 + c.shift);
        EXPECT_EQ(overlay->y0, 7000 - 128 + c.shift);
        EXPECT_EQ(overlay->width, 8);
        EXPECT_EQ(overlay->height, 4);
        EXPECT_EQ(overlay->mode, c.map == LIGHT_MAP ? _overlay_light_map : _overlay_shadow_map);
        EXPECT_EQ(overlay->next_map_overlay, nullptr);
        EXPECT_EQ(overlay == view.light_map_overlays, c.map == LIGHT_MAP);
    }
    // Opacity scales the density; a faint enough stamp is not made at all.
    ASSERT_NE(stamp(SHADOW_MAP, 0, 32768), nullptr);
    EXPECT_EQ(stamp(SHADOW_MAP, 0, 32768)->density, (65535 * 128) >> 8);
    EXPECT_EQ(stamp(SHADOW_MAP, 0, 255), nullptr);
    // A shadow map the collection does not have makes nothing.
    EXPECT_EQ(stamp(7, 0), nullptr);
    EXPECT_EQ(stamp(-1, 0), nullptr);

    // With the tile cache, every tile the stamp may reach (one cell of slop
    // on each side) gets its own copy, and the view's lists stay empty.
    std::vector<mesh_tile> tiles(9);
    const int16_t old_width = mesh_tile_width, old_height = mesh_tile_height, old_mode = global_maps_mode;
    mesh_tile_width = mesh_tile_height = 3;
    terrain_maps_globals.mesh_tiles = tiles.data();
    terrain_maps_globals.tile_count = 9;
    global_maps_mode = _maps_mode_tiles;
    render_map_overlay overlay = {};
    overlay.x0 = 14 * WORLD_ONE + 100; // cell 14: tile 1, its first cell
    overlay.y0 = 100;
    overlay.width = overlay.bytes_per_row = 8;
    overlay.height = 4;
    view.shadow_map_overlays = nullptr;
    add_overlay_to_overlay_lists(&view, &overlay);
    overlay.bytes_per_row = 7; // shorter rows than the stamp: ignored
    add_overlay_to_overlay_lists(&view, &overlay);
    mesh_tile_width = old_width;
    mesh_tile_height = old_height;
    global_maps_mode = old_mode;
    terrain_maps_globals.mesh_tiles = nullptr;
    terrain_maps_globals.tile_count = 0;
    EXPECT_EQ(view.shadow_map_overlays, nullptr);
    for (int32_t t = 0; t < 9; ++t)
    {
        SCOPED_TRACE(testing::Message() << "tile " << t);
        const bool reached = t == 0 || t == 1;
        ASSERT_EQ(tiles[t].shadow_map_overlays != nullptr, reached);
        EXPECT_EQ(tiles[t].light_map_overlays, nullptr);
        if (!reached) continue;
        EXPECT_NE(tiles[t].shadow_map_overlays, &overlay);
        EXPECT_EQ(tiles[t].shadow_map_overlays->x0, overlay.x0);
        EXPECT_EQ(tiles[t].shadow_map_overlays->next_map_overlay, nullptr);
    }
}

TEST_F(render_objects_test, transfer_modes_fade_overlays_and_rectangles_by_their_formulas)
{
    const fixed_fraction D = (65535 * 255) >> 8; // the density of a stamp on the ground
    const int32_t d = D >> 8;
    const struct
    {
        int16_t mode;
        fixed_fraction phase;
        fixed_fraction overlay;
        uint16_t transparency;
        bool changes_rectangle;
    } cases[] = {
        {_transfer_mode_none, 40000, D, 0, false},
        {_transfer_mode_transparent_fade_out, 0, (fixed_fraction)(d * 255), 0, true},
        {_transfer_mode_transparent_fade_out, 40000, (fixed_fraction)(d * ((~40000 & 65535) >> 8)), 40000, true},
        {_transfer_mode_transparent_fade_in, 0, 0, 65535, true},
        {_transfer_mode_transparent_fade_in, 40000, (fixed_fraction)(d * (40000 >> 8)), (uint16_t)~40000, true},
        {_transfer_mode_shrink_out, 40000, D, 0, false},
        {_transfer_mode_transparent_appearing, 40000, (fixed_fraction)(d * (255 - ((65535 - 20000) >> 8))), (uint16_t)~20000, true},
        {_transfer_mode_transparent_disappearing, 40000, (fixed_fraction)(d * (255 - ((20000 + 32767) >> 8))), 20000 + 32768, true},
        {_transfer_mode_transparent_cycle, 40000, D, (uint16_t)(sine_table[(40000 + 32) >> 6] + 32767), true},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " phase " << c.phase);
        const render_map_overlay *overlay = stamp(SHADOW_MAP, 0, 65535, c.mode, c.phase);
        ASSERT_NE(overlay, nullptr);
        EXPECT_EQ(overlay->density, c.overlay);
        render_rectangle r = {};
        r.header.transparency = 0;
        r.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_object_rectangle);
        affect_rectangle_transfer_mode(&r.header, c.mode, c.phase);
        EXPECT_EQ(r.header.transparency, c.transparency);
        EXPECT_EQ((flags(&r.header) & _surface_transparent_flag) != 0, c.changes_rectangle);
    }
}

TEST_F(render_objects_test, a_sprite_half_in_the_water_splits_into_a_faint_under_media_part)
{
    // The cell outside any map has its media line at 0.  Position at -150:
    // the sprite spans -170..150, the line crosses it at screen row 240.
    const object_data half = scenery(2000, -150);
    build_render_sprite(&view, nullptr, false, true, true, false, &half, 12);
    std::vector<const render_surface *> rectangles = surfaces(_surface_subtype_object_rectangle);
    ASSERT_EQ(rectangles.size(), 2u);
    const render_rectangle *above = rectangle(rectangles[0]), *under = rectangle(rectangles[1]);
    if (above->clip_top != -32768) std::swap(above, under);
    EXPECT_EQ(above->clip_top, -32768);
    EXPECT_EQ(above->clip_bottom, 240);
    EXPECT_EQ(above->header.transparency, 0);
    EXPECT_FALSE(flags(&above->header) & _surface_reflection_flag);
    EXPECT_EQ(under->clip_top, 240);
    EXPECT_EQ(under->clip_bottom, 32767);
    EXPECT_EQ(under->header.transparency, UNDER_MEDIA_SPRITE_TRANSPARENCY);
    EXPECT_TRUE(flags(&under->header) & _surface_reflection_flag);
    EXPECT_TRUE(flags(&under->header) & _surface_precise_z_flag);
    for (const render_rectangle *r : {above, under})
    {
        EXPECT_EQ(r->object_index, 12);
        EXPECT_EQ(r->y0, 240 - (150 * 640) / 2000);
        EXPECT_EQ(r->y1, 240 + (170 * 640) / 2000);
        EXPECT_EQ(r->x0, 294); // 320 -/+ 25.6, truncated
        EXPECT_EQ(r->x1, 345);
        EXPECT_EQ(r->header.z, -2000);
        EXPECT_EQ(r->header.precise_z, -2000 * 16384);
    }

    // Wholly under the line: the whole sprite is the faint part, and its
    // reflected copy is not drawn.
    new_surface_list(&list);
    const object_data submerged = scenery(2000, -400);
    build_render_sprite(&view, nullptr, false, true, true, false, &submerged, 13);
    build_render_sprite(&view, nullptr, true, true, true, false, &submerged, 13);
    rectangles = surfaces(_surface_subtype_object_rectangle);
    ASSERT_EQ(rectangles.size(), 1u);
    EXPECT_EQ(rectangles[0]->transparency, UNDER_MEDIA_SPRITE_TRANSPARENCY);
    EXPECT_EQ(rectangle(rectangles[0])->clip_top, -32768);

    // Dry land: one plain sprite, and a reflected copy in the reflection pass.
    new_surface_list(&list);
    const object_data dry = scenery(2000, 100);
    build_render_sprite(&view, nullptr, false, true, false, false, &dry, 14);
    build_render_sprite(&view, nullptr, true, true, false, false, &dry, 14);
    rectangles = surfaces(_surface_subtype_object_rectangle);
    ASSERT_EQ(rectangles.size(), 2u);
    EXPECT_FALSE(flags(rectangles[0]) & _surface_reflection_flag);
    EXPECT_EQ(rectangles[0]->transparency, 0);
    EXPECT_TRUE(flags(rectangles[1]) & _surface_reflection_flag);
    EXPECT_EQ(rectangle(rectangles[1])->clip_top, 240); // below the media line
}

TEST_F(render_objects_test, views_follow_the_angle_to_the_viewer_and_mirror_the_far_side)
{
    // Seen from the viewer (at angle 32768 from the object), yaw y shows view
    // ((32768 - y) * 8 + 32768) >> 16.
    const struct
    {
        angle yaw;
        int32_t bitmap;
        bool mirrored;
    } cases[] = {
        {32768, SPRITE_A, false},                   // view 0
        {(angle)(32768 - 2 * 8192), SPRITE_B, false}, // view 2
        {(angle)(32768 - 6 * 8192), SPRITE_B, true},  // view 6 shows view 2 mirrored
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "yaw " << c.yaw);
        new_surface_list(&list);
        object_data object = scenery(2000, 100);
        object.location.yaw = c.yaw;
        build_render_sprite(&view, nullptr, false, true, false, false, &object, 3);
        const std::vector<const render_surface *> rectangles = surfaces(_surface_subtype_object_rectangle);
        ASSERT_EQ(rectangles.size(), 1u);
        EXPECT_EQ(bitmap_identifier_bitmap_index(rectangle(rectangles[0])->bitmap_identifier), c.bitmap);
        EXPECT_EQ((flags(rectangles[0]) & _surface_mirror_horizontal_flag) != 0, c.mirrored);
    }

    // A mirrored object turns the other way and flips the picture back.
    new_surface_list(&list);
    object_data object = scenery(2000, 100);
    object.location.yaw = (angle)(32768 + 6 * 8192);
    object.flags |= _object_is_horizontally_mirrored_flag;
    build_render_sprite(&view, nullptr, false, true, false, false, &object, 3);
    ASSERT_EQ(surfaces(_surface_subtype_object_rectangle).size(), 1u);
    EXPECT_FALSE(flags(surfaces(_surface_subtype_object_rectangle)[0]) & _surface_mirror_horizontal_flag);

    // A sequence without rotation takes the object's own view; one outside
    // the sequence skips the object with a log line.
    new_surface_list(&list);
    object_data fixed = scenery(2000, 100, FIXED);
    fixed.shape_view_index = 3;
    {
        expected_assertions none(0);
        build_render_sprite(&view, nullptr, false, true, false, false, &fixed, 4);
    }
    EXPECT_TRUE(surfaces(_surface_subtype_object_rectangle).empty());
    fixed.shape_view_index = 0;
    build_render_sprite(&view, nullptr, false, true, false, false, &fixed, 4);
    EXPECT_EQ(surfaces(_surface_subtype_object_rectangle).size(), 1u);

    // Behind the viewer, or too close, nothing is drawn.
    new_surface_list(&list);
    const object_data behind = scenery(-2000, 100), close = scenery(30, 100);
    build_render_sprite(&view, nullptr, false, true, false, false, &behind, 5);
    build_render_sprite(&view, nullptr, false, true, false, false, &close, 5);
    EXPECT_EQ(list.surface_count, 0);
}

TEST_F(render_objects_test, local_sprites_hold_126_and_linger_seven_ticks_after_a_delayed_removal)
{
    const world_point3d at = {2000, 0, 0};
    for (int32_t i = 0; i < MAXIMUM_LOCAL_SPRITES + 1; ++i) new_local_sprite(&at, (int16_t)collection, FIXED);
    EXPECT_EQ(local_sprite_globals.count, MAXIMUM_LOCAL_SPRITES);

    // Removing at once empties the list unless a delayed removal is pending.
    remove_local_sprites(_remove_local_sprites_immediately);
    EXPECT_EQ(local_sprite_globals.count, 0);
    new_local_sprite(&at, (int16_t)collection, FIXED);
    new_local_sprite(&at, (int16_t)collection, FIXED);

    // The delayed removal: drawn for 7 more ticks of local time (fading: the
    // temporary object has transfer mode 1), then no more.
    mesh_region region = {};
    region.y0 = region.y1 = 0;
    mesh_span empty;
    empty_mesh_span(&empty);
    region.spans = &empty;
    game_->local_time = 100;
    remove_local_sprites(_remove_local_sprites_delayed);
    remove_local_sprites(_remove_local_sprites_immediately); // pending: ignored
    EXPECT_EQ(local_sprite_globals.count, 2);
    for (int32_t t = 100; t <= 108; ++t)
    {
        SCOPED_TRACE(testing::Message() << "local time " << t);
        game_->local_time = t;
        new_surface_list(&list);
        build_objects_surface_list(&view, &region);
        const std::vector<const render_surface *> rectangles = surfaces(_surface_subtype_object_rectangle);
        EXPECT_EQ(rectangles.size(), t <= 107 ? 2u : 0u);
        for (const render_surface *r : rectangles)
        {
            EXPECT_EQ(rectangle(r)->object_index, -1);
            EXPECT_TRUE(flags(r) & _surface_transparent_flag);
        }
    }

    // A new sprite after a delayed removal starts a fresh list.
    new_local_sprite(&at, (int16_t)collection, FIXED);
    EXPECT_EQ(local_sprite_globals.count, 1);
    EXPECT_EQ(local_sprite_globals.fade_out_start_time, -1);
    new_surface_list(&list);
    build_objects_surface_list(&view, &region);
    EXPECT_EQ(surfaces(_surface_subtype_object_rectangle).size(), 1u);
}

TEST_F(render_objects_test, marks_of_a_selected_object_and_no_bar_without_a_maximum_vitality)
{
    ASSERT_TRUE(initialize_object_definitions());
    initialize_definitions_for_new_map(&object_definitions);
    object_definition definition = {};
    definition.flags = FLAG(_object_definition_draws_vitality_bar_bit);
    definition.maximum_vitality = 512;
    ASSERT_TRUE(store_definition_tag(OBJECT_DEFINITION_GROUP_TAG, "bars", &definition, sizeof(definition)));
    const int32_t type = try_definition_tag_to_index(&object_definitions, FOUR_CHARACTER_CODE('b', 'a', 'r', 's'),
                                                     true, _definition_lookup_quiet_flag);
    ASSERT_NE(type, NONE);

    object_data object = scenery(2000, 100);
    object.type = (int16_t)type;
    object.flags |= _object_is_selected_flag;
    object.vitality = 256;
    object.maximum_vitality = 512;
    build_render_sprite(&view, nullptr, false, true, false, false, &object, 9);
    const std::vector<const render_surface *> marks = surfaces(_surface_subtype_filled_rectangle);
    // The frame's four sides and the bar's four parts, all at the sprite's depth.
    ASSERT_EQ(marks.size(), 8u);
    const std::vector<const render_surface *> sprite = surfaces(_surface_subtype_object_rectangle);
    ASSERT_EQ(sprite.size(), 1u);
    for (const render_surface *m : marks)
    {
        EXPECT_EQ(m->precise_z, sprite[0]->precise_z);
        EXPECT_TRUE(flags(m) & _surface_precise_z_flag);
    }
    int32_t framed = 0;
    for (const render_surface *m : marks) framed += m->transparency == SELECTION_SURFACE_TRANSPARENCY;
    EXPECT_EQ(framed, 4);

    // The same object without a maximum: the frame only.
    new_surface_list(&list);
    object.maximum_vitality = 0;
    build_render_sprite(&view, nullptr, false, true, false, false, &object, 9);
    EXPECT_EQ(surfaces(_surface_subtype_filled_rectangle).size(), 4u);

    // The view may omit the marks, and an unmarked object has none.
    new_surface_list(&list);
    object.maximum_vitality = 512;
    view.flags |= _render_view_omit_selections_flag;
    build_render_sprite(&view, nullptr, false, true, false, false, &object, 9);
    view.flags &= ~(uint32_t)_render_view_omit_selections_flag;
    object.flags &= ~(uint32_t)_object_is_selected_flag;
    build_render_sprite(&view, nullptr, false, true, false, false, &object, 9);
    EXPECT_TRUE(surfaces(_surface_subtype_filled_rectangle).empty());
    EXPECT_EQ(surfaces(_surface_subtype_object_rectangle).size(), 2u);
}

} // namespace

namespace {

TEST_F(render_objects_test, each_visible_object_of_the_region_is_one_rectangle_with_its_index)
{
    objects_world_map map;
    ASSERT_TRUE(load_objects_world(map));
    auto place = [&](world_distance x, world_distance y) {
        new_object_data data = {};
        data.type = NONE;
        data.owner = _object_is_scenery;
        data.scale = SHORT_FIXED_ONE;
        data.location.position = {x, y, 0};
        data.collection_index = (int16_t)collection;
        const int32_t index = new_object(&data);
        object_data *object = get_object(index);
        if (object)
        {
            object->shape_collection_index = (int16_t)collection;
            object->shape_sequence_index = TURNING;
            object->shape_frame_index = 0;
            object->parasitic_object_index = NONE;
            object->geometry_index = NONE;
            object->height1 = 300;
        }
        return index;
    };
    const int32_t first = place(1300, 1300), second = place(1400, 1200), hidden = place(1800, 1300),
                  host = place(2300, 1300), rider = place(2350, 1300), edge = place(2000, 7 * WORLD_ONE + 100);
    ASSERT_NE(rider, NONE);
    get_object(hidden)->flags |= _object_is_not_rendered_flag;
    // A parasite chain that loops back ends all the same.
    get_object(host)->parasitic_object_index = (int16_t)rider;
    get_object(rider)->parasitic_object_index = (int16_t)host;

    // Eye 1000 units behind the map's west edge, along +x; every row of the
    // 8 x 8 map in the region.
    view.location.position = {-1000, 1280, 150};
    update_view_data(&view);
    mesh_region region = {};
    std::vector<mesh_span> spans(8, mesh_span{0, 7});
    region.y0 = 0;
    region.y1 = 7;
    region.spans = spans.data();
    build_objects_surface_list(&view, &region);

    std::vector<int32_t> drawn;
    for (const render_surface *s : surfaces(_surface_subtype_object_rectangle))
        drawn.push_back(rectangle(s)->object_index);
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), first), 1);
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), second), 1);
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), hidden), 0);
    EXPECT_GE(std::count(drawn.begin(), drawn.end(), rider), 2); // on its own and on its host
    EXPECT_LE(drawn.size(), 16u);
    // The last row lies outside the region's rows: its object casts its
    // shadow (on the ground: full density) but is not drawn.
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), edge), 0);
    bool edge_shadow = false;
    int32_t shadows = 0;
    for (const render_map_overlay *o = view.shadow_map_overlays; o; o = o->next_map_overlay, ++shadows)
        edge_shadow |= o->x0 == 2000 - 256 && o->y0 == 7 * WORLD_ONE + 100 - 128 && o->density == (65535 * 255) >> 8;
    EXPECT_TRUE(edge_shadow);
    EXPECT_GE(shadows, 5); // first, second, host, rider, edge: not the hidden one
    dispose_objects_world();
}

// A sprite whose shadow is its outline: no stamp; a shadow surface drawn
// just before the sprite whose foot edge is the sprite's bottom edge and
// whose top lies away from the light (along +x and +y: farther and to the
// left for this eye); drawn, it darkens where the opaque part of the sprite
// lands and nowhere in the empty corners of its box.
TEST_F(render_objects_test, a_sprite_shadow_is_its_outline_laid_along_the_light)
{
    view.location.pitch = -8192; // 45 degrees down along +x
    update_view_data(&view);
    const object_data object = scenery(1500, -1500, CAST); // off the mesh: the shadow lies level with the foot
    build_render_sprite(&view, nullptr, false, true, false, false, &object, 3);
    EXPECT_EQ(view.shadow_map_overlays, nullptr) << "no stamp beside the outline";
    const std::vector<const render_surface *> sprites = surfaces(_surface_subtype_object_rectangle);
    const std::vector<const render_surface *> shadows = surfaces(_surface_subtype_object_shadow);
    ASSERT_EQ(sprites.size(), 1u);
    ASSERT_EQ(shadows.size(), 1u);
    const render_rectangle *sprite = rectangle(sprites[0]);
    const render_shadow_rectangle *shadow = reinterpret_cast<const render_shadow_rectangle *>(shadows[0]);
    EXPECT_EQ((uint32_t)shadow->header.precise_z, (uint32_t)sprite->header.precise_z - 1u) << "drawn just before";
    // The foot edge: the ground under the registration point, in the sprite's last texel row.
    EXPECT_NEAR(shadow->foot_row / 65536.0, sprite->y1, (sprite->y1 - sprite->y0) / 16.0 + 1);
    EXPECT_NEAR(shadow->foot_left / 65536.0, sprite->x0, 1.5);
    EXPECT_NEAR(shadow->foot_right / 65536.0, sprite->x1, 1.5);
    EXPECT_LT(shadow->top_row, shadow->foot_row - 20 * 65536) << "farther, up the screen";
    EXPECT_LT(shadow->top_left, shadow->foot_left) << "along +y, to the left";
    EXPECT_LT(shadow->header.transparency, 65535 - 16384);

    const int16_t W = 640, H = 480;
    bitmap_data *screen = new_bitmap(W, H, 0, _32bit_encoding, 0);
    ASSERT_NE(screen, nullptr);
    const uint32_t ground = 0xFF808080u;
    for (int32_t y = 0; y < H; ++y) std::fill_n(reinterpret_cast<uint32_t *>(screen->row_addresses[y]), W, ground);
    procs_32bit.rasterize_shadow_rectangle(screen, const_cast<render_surface *>(shadows[0]));
    auto shaded = [&](double x, int32_t y) {
        const uint32_t p = reinterpret_cast<const uint32_t *>(screen->row_addresses[y])[(int32_t)x];
        return (p & 0xFF) < 0x70;
    };
    // Sprite B: columns 0-3 of 8 opaque, rows 4-15 of 16; t runs 0 at the foot to 1 at the top.
    int32_t rows = 0;
    for (int32_t y = shadow->y0; y < shadow->y1; ++y)
    {
        const double t = ((y + 0.5) * 65536.0 - shadow->foot_row) / ((double)shadow->top_row - shadow->foot_row);
        if (t < 0.05 || t > 0.95 || (t > 0.7 && t < 0.8)) continue;
        const double left = (shadow->foot_left + (shadow->top_left - shadow->foot_left) * t) / 65536.0;
        const double right = (shadow->foot_right + (shadow->top_right - shadow->foot_right) * t) / 65536.0;
        const double quarter = (right - left) / 4;
        SCOPED_TRACE("row " + std::to_string(y) + " t " + std::to_string(t));
        EXPECT_EQ(shaded(left + quarter, y), t < 0.75) << "the opaque half, below the empty top quarter";
        EXPECT_FALSE(shaded(left + 3 * quarter, y)) << "the empty right half";
        EXPECT_FALSE(shaded(left - 2, y)) << "left of the outline";
        ++rows;
    }
    EXPECT_GT(rows, 20);
    free(screen);
}

} // namespace

} // namespace render_objects_test_file
