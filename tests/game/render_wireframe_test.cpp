// Wireframe overlays drawn into a 32-bit memory screen: circle segment counts
// for a small and a large radius, a circle clamped at the map's edge, lines
// behind the viewer or crossing the near plane, and the flag contesting
// ranges with the preference on and off, excluding hidden flags and keeping
// at most 32.
//
// A 16 x 16 flat map seen straight down from 6000 units above its centre
// with a focal length of 300: world (x, y, 0) lands at
// (320 + (x - 4096) / 20, 240 - (y - 4096) / 20).

#include "support/expected_assertions.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bitmaps.h"
#include "cseries/errors.h"
#include "cseries/registration.h"
#include "game_preferences.h"
#include "game_time.h"
#include "mesh.h"
#include "object_definitions.h"
#include "objects.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_effects.h"
#include "render/render_wireframe.h"
#include "support/objects_world.h"
#include "tag_files/data.h"

namespace render_wireframe_test_file {

namespace {

struct bitmap_deleter
{
    void operator()(bitmap_data *bitmap) const { free(bitmap); }
};

const world_distance CENTRE = 4096, EYE_HEIGHT = 6000;

class render_wireframe_test : public ::testing::Test
{
protected:
    std::unique_ptr<bitmap_data, bitmap_deleter> screen{new_bitmap(640, 480, 0, _32bit_encoding, 0)};
    view_data view = {};
    mesh_span spans[16];
    mesh_region region = {};

    void SetUp() override
    {
        objects_world_map map;
        map.width = 16;
        map.height = 16;
        ASSERT_TRUE(load_objects_world(map));
        clear();
        view.screen = screen.get();
        view.screen_width = 640;
        view.screen_height = 480;
        view.xk = 320;
        view.yk = 240;
        view.fworld_to_screen = 300.0f;
        view.location.position = {CENTRE, CENTRE, EYE_HEIGHT};
        for (int32_t i = 0; i < 3; ++i) view.world_to_viewer_rotation[i][i] = 16384;
        for (mesh_span &span : spans) span = {0, 15};
        region.y0 = 0;
        region.y1 = 15;
        region.spans = spans;
        view.region = &region;
        game_->scoring = 0;
    }
    void TearDown() override
    {
        get_game_preferences()->flags &= ~_game_pref_show_contesting_radius_flag;
        clear_all_registrations();
        dispose_objects_world();
        clear_pending_error();
    }

    void clear()
    {
        for (int32_t y = 0; y < 480; ++y) memset(screen->row_addresses[y], 0, 640 * 4);
    }
    bool drawn(int32_t x, int32_t y) const
    {
        return reinterpret_cast<const uint32_t *>(screen->row_addresses[y])[x] != 0;
    }
    int32_t drawn_count(int32_t x0, int32_t x1, int32_t y0, int32_t y1) const
    {
        int32_t n = 0;
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) n += drawn(x, y);
        return n;
    }
    int32_t drawn_total() const { return drawn_count(0, 640, 0, 480); }

    int16_t flag_type = NONE;

    int32_t make_flag(world_distance x, world_distance y, uint32_t extra_flags = 0)
    {
        if (flag_type == NONE)
        {
            object_definition definition;
            memset(&definition, 0, sizeof(definition));
            for (auto &modifier : definition.effect_modifiers) modifier = 256;
            definition.radius = 16;
            definition.height = 64;
            definition.scale_lower_bound = 256;
            flag_type =
                (int16_t)new_definition(&object_definitions, FOUR_CHARACTER_CODE('f', 'l', 'a', 'g'), &definition);
        }
        new_object_data data;
        memset(&data, 0, sizeof(data));
        data.type = flag_type;
        data.scale = 256;
        data.location.position = {x, y, 0};
        const int32_t index = new_object(&data);
        if (index == NONE) return NONE;
        get_object(index)->owner = _object_is_flag;
        get_object(index)->flags |= extra_flags;
        return index;
    }
};

TEST_F(render_wireframe_test, circles_have_16_segments_or_one_per_85_units_of_radius)
{
    const world_point2d centre = {CENTRE, CENTRE};
    EXPECT_EQ(rasterize_circle(&view, &centre, 2560, &wireframe_color), 30);
    clear();
    EXPECT_EQ(rasterize_circle(&view, &centre, 1000, &wireframe_color), 16);
    // The point at angle 0 lies 1000 units to the east: 50 pixels right of the centre.
    EXPECT_TRUE(drawn(370, 240));
    EXPECT_FALSE(drawn(320, 240)) << "nothing at the centre";
}

TEST_F(render_wireframe_test, a_circle_at_the_map_edge_is_flattened_onto_it)
{
    // Unclamped it would reach x = -500 (screen 90); the map begins at x = 0 (screen 115).
    const world_point2d west = {500, CENTRE};
    EXPECT_EQ(rasterize_circle(&view, &west, 1000, &wireframe_color), 16);
    EXPECT_EQ(drawn_count(0, 115, 0, 480), 0);
    EXPECT_GT(drawn_count(115, 116, 200, 280), 20) << "the flattened part runs along the edge";

    clear();
    const world_point2d south_east = {8000, 8100};
    rasterize_circle(&view, &south_east, 1000, &wireframe_color);
    const int32_t right = 524, top = 35; // the map's last column and row, 8191: 524.75 and 35.25
    EXPECT_EQ(drawn_count(right + 1, 640, 0, 480), 0);
    EXPECT_EQ(drawn_count(0, 640, 0, top), 0);
    EXPECT_GT(drawn_total(), 0);
}

TEST_F(render_wireframe_test, lines_behind_the_viewer_never_cross_the_screen)
{
    // Wholly behind (above the eye): nothing.
    const world_point3d high0 = {CENTRE - 1000, CENTRE, EYE_HEIGHT + 1000};
    const world_point3d high1 = {CENTRE + 1000, CENTRE + 500, EYE_HEIGHT + 2000};
    EXPECT_FALSE(draw_line3d(&view, &high0, &high1, &wireframe_color));
    // Within the near limit counts as behind.
    const world_point3d near0 = {CENTRE - 100, CENTRE, EYE_HEIGHT - 34};
    const world_point3d near1 = {CENTRE + 100, CENTRE, EYE_HEIGHT - 20};
    EXPECT_FALSE(draw_line3d(&view, &near0, &near1, &wireframe_color));
    EXPECT_EQ(drawn_total(), 0);

    // From the ground 2000 units east (screen 420) up past the eye: only the
    // visible part, which runs east off the screen.  Projecting the end behind
    // the viewer would have drawn back across to x = 20.
    const world_point3d ground = {CENTRE + 2000, CENTRE, 0};
    const world_point3d sky = {CENTRE + 2000, CENTRE, EYE_HEIGHT + 2000};
    EXPECT_TRUE(draw_line3d(&view, &ground, &sky, &wireframe_color));
    EXPECT_TRUE(drawn(420, 240));
    EXPECT_TRUE(drawn(639, 240));
    EXPECT_EQ(drawn_count(0, 420, 0, 480), 0);

    // Both ends in front but off the screen: skipped.
    clear();
    const world_point3d far_west = {CENTRE - 20000, CENTRE, 0}, far_east = {CENTRE + 20000, CENTRE, 0};
    EXPECT_FALSE(draw_line3d(&view, &far_west, &far_east, &wireframe_color));
    EXPECT_EQ(drawn_total(), 0);
}

TEST_F(render_wireframe_test, a_box_draws_its_twelve_edges)
{
    const world_point3d a = {CENTRE - 1000, CENTRE - 1000, 0}, b = {CENTRE + 1000, CENTRE + 1000, 3000};
    draw_cube(&view, &a, &b, &model_wireframe_color);
    // The ground face is a 100-pixel square around the centre, the top one a
    // 200-pixel square (3000 units nearer the eye).
    EXPECT_TRUE(drawn(270, 240) && drawn(370, 240) && drawn(320, 190) && drawn(320, 290));
    EXPECT_TRUE(drawn(220, 240) && drawn(420, 240) && drawn(320, 140) && drawn(320, 340));
    EXPECT_TRUE(drawn(245, 165) && drawn(395, 315)) << "the edges joining the faces";
    EXPECT_FALSE(drawn(320, 240));
}

TEST_F(render_wireframe_test, flag_ranges_follow_the_preference_and_skip_hidden_flags)
{
    clear_render_effects();
    initialize_scene();
    EXPECT_EQ(postrasterization_effect_count(), 1) << "the scene registers the flag ranges";
    clear_render_effects();

    const int32_t flag = make_flag(CENTRE, CENTRE);
    ASSERT_NE(flag, NONE);
    ASSERT_NE(make_flag(CENTRE + 512, CENTRE, _object_is_invisible_flag), NONE);
    ASSERT_NE(make_flag(CENTRE - 512, CENTRE, _object_is_not_rendered_flag), NONE);
    const int32_t scenery = make_flag(CENTRE, CENTRE + 512);
    get_object(scenery)->owner = _object_is_scenery;

    rasterize_flag_contesting_ranges(&view);
    EXPECT_EQ(visible_flag_count(), 0) << "preference off";
    EXPECT_EQ(drawn_total(), 0);

    get_game_preferences()->flags |= _game_pref_show_contesting_radius_flag;
    rasterize_flag_contesting_ranges(&view);
    ASSERT_EQ(visible_flag_count(), 1);
    EXPECT_EQ(visible_flag(0), flag);
    EXPECT_TRUE(drawn(320 + 128, 240)) << "radius 2560";
    EXPECT_EQ(drawn_count(320 + 129, 640, 235, 245), 0);

    clear();
    game_->scoring = 10; // cattle drive: 2048
    rasterize_flag_contesting_ranges(&view);
    EXPECT_TRUE(drawn(320 + 102, 240) || drawn(320 + 103, 240));
    EXPECT_EQ(drawn_count(320 + 104, 640, 235, 245), 0);

    // Out of the region's rows: not recorded; the last row counts.
    spans[8] = {EMPTY_SPAN_X0, EMPTY_SPAN_X1};
    record_visible_flags(&region);
    EXPECT_EQ(visible_flag_count(), 0);
    spans[8] = {0, 15};
    region.y1 = 8;
    record_visible_flags(&region);
    EXPECT_EQ(visible_flag_count(), 1);

    for (int32_t i = 0; i < 40; ++i) ASSERT_NE(make_flag(256 + 512 * (i % 16), 256 + 512 * (i / 16)), NONE);
    region.y1 = 15;
    record_visible_flags(&region);
    EXPECT_EQ(visible_flag_count(), 32) << "at most 32 flags";
}

} // namespace

} // namespace render_wireframe_test_file
