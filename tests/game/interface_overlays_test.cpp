// The interface's overlays of the battlefield: the selection band's render
// rectangles (one piece for a thin band, widened inwards at the screen's
// edge; four strips for a large one, the dark fill only with a hardware
// rasterizer) and the facing arrow's screen polygons in both styles against
// points worked out by hand; and the facing gesture the selection reports,
// drawn as one arrow from a ground press or one per selected unit after a
// press on a unit.
//
// The arrow's view looks straight down from 6000 units above (4096, 4096)
// with a focal length of 600: world (x, y, 0) lands at
// (320 + (x - 4096) / 10, 240 - (y - 4096) / 10).

#include "support/expected_assertions.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bitmaps.h"
#include "game_preferences.h"
#include "interface.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "screen.h"
#include "selection.h"
#include "selection_world.h"

namespace interface_overlays_test_file {

namespace {

struct bitmap_deleter
{
    void operator()(bitmap_data *bitmap) const { free(bitmap); }
};

const world_distance CENTRE = 4096, EYE_HEIGHT = 6000;

class interface_overlays_test : public ::testing::Test
{
protected:
    std::unique_ptr<bitmap_data, bitmap_deleter> screen{new_bitmap(640, 480, 0, _32bit_encoding, 0)};
    view_data view = {};
    render_surface_list list = {};

    void SetUp() override
    {
        ASSERT_TRUE(reset_render_memory_pool_for_tests(1 << 16));
        new_surface_list(&list);
        view.main_surface_list = &list;
        view.screen = screen.get();
        view.screen_width = 640;
        view.screen_height = 480;
        view.hole = {0, 0, 480, 640};
        view.xk = 320;
        view.yk = 240;
        view.fworld_to_screen = 600.0f;
        view.location.position = {CENTRE, CENTRE, EYE_HEIGHT};
        for (int32_t i = 0; i < 3; ++i) view.world_to_viewer_rotation[i][i] = 16384;
    }
    void TearDown() override
    {
        get_mutable_selection_globals()->state = _selection_uninitialized;
        get_game_preferences()->flags &= ~_game_pref_vux_facing_arrows_flag;
        reset_render_for_tests();
    }

    struct piece
    {
        int16_t x0, y0, x1, y1;
        uint16_t transparency;
    };
    std::vector<piece> band_pieces(rectangle2d band)
    {
        selection_globals_ *selection = get_mutable_selection_globals();
        selection->state = _selection_band;
        selection->band_selection_bounds = band;
        new_surface_list(&list);
        build_interface_overlay_surface_list(&view);
        std::vector<piece> pieces;
        for (const render_surface *s = list.first_surface; s; s = s->next_surface)
        {
            EXPECT_EQ(surface_word_type(s->packed), _surface_type_rectangle);
            EXPECT_EQ(surface_word_subtype(s->packed), _surface_subtype_filled_rectangle);
            EXPECT_EQ(surface_word_flags(s->packed), 0u);
            EXPECT_EQ(s->z, 0);
            const render_filled_rectangle *r = reinterpret_cast<const render_filled_rectangle *>(s);
            EXPECT_EQ(r->clip_top, -32768);
            EXPECT_EQ(r->clip_bottom, 32767);
            pieces.push_back({r->x0, r->y0, r->x1, r->y1, s->transparency});
        }
        return pieces;
    }
};

TEST_F(interface_overlays_test, a_thin_band_is_one_rectangle_clipped_and_widened_inwards)
{
    struct
    {
        rectangle2d band; // top, left, bottom, right
        int16_t x0, y0, x1, y1;
    } const cases[] = {
        {{50, 100, 54, 300}, 100, 50, 300, 54},       // 4 pixels high
        {{10, 640, 60, 640}, 638, 10, 640, 60},       // 0 wide at the right edge
        {{480, 20, 480, 21}, 20, 478, 22, 480},       // a point at the bottom edge
        {{-3, -40, 1, 200}, 0, 0, 200, 2},            // beyond the top left: clipped, then widened
        {{100, 200, 100, 200}, 200, 100, 202, 102},   // a point inside
    };
    for (const auto &c : cases)
    {
        const std::vector<piece> pieces = band_pieces(c.band);
        ASSERT_EQ(pieces.size(), 1u) << c.band.left << "," << c.band.top;
        EXPECT_EQ(pieces[0].x0, c.x0);
        EXPECT_EQ(pieces[0].y0, c.y0);
        EXPECT_EQ(pieces[0].x1, c.x1);
        EXPECT_EQ(pieces[0].y1, c.y1);
        EXPECT_EQ(pieces[0].transparency, SELECTION_BAND_TRANSPARENCY);
    }
}

TEST_F(interface_overlays_test, a_large_band_is_four_strips_and_dark_inside_only_in_hardware)
{
    const rectangle2d band = {100, 50, 105, 400}; // top, left, bottom, right: 350 x 5
    const std::vector<piece> software = band_pieces(band);
    ASSERT_EQ(software.size(), 4u) << "no dark fill in software";
    const piece strips[4] = {{50, 100, 400, 102, 32768}, // top
                             {50, 103, 400, 105, 32768}, // bottom
                             {50, 102, 52, 103, 32768},  // left
                             {398, 102, 400, 103, 32768}}; // right
    for (int32_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(software[i].x0, strips[i].x0) << i;
        EXPECT_EQ(software[i].y0, strips[i].y0) << i;
        EXPECT_EQ(software[i].x1, strips[i].x1) << i;
        EXPECT_EQ(software[i].y1, strips[i].y1) << i;
        EXPECT_EQ(software[i].transparency, strips[i].transparency) << i;
    }

    // Hardware: the fill is the band clipped to the screen and inset by 2.
    view.rasterizer_code = _rasterizer_opengl;
    const std::vector<piece> hardware = band_pieces({-20, 600, 300, 700});
    ASSERT_EQ(hardware.size(), 5u);
    EXPECT_EQ(hardware[4].x0, 602);
    EXPECT_EQ(hardware[4].y0, 2);
    EXPECT_EQ(hardware[4].x1, 638);
    EXPECT_EQ(hardware[4].y1, 298);
    EXPECT_EQ(hardware[4].transparency, SELECTION_BAND_FILL_TRANSPARENCY);

    // No band, no surfaces.
    get_mutable_selection_globals()->state = _selection_gesture;
    new_surface_list(&list);
    build_interface_overlay_surface_list(&view);
    EXPECT_EQ(list.surface_count, 0);
}

TEST_F(interface_overlays_test, arrow_polygons_match_hand_computed_points_in_both_styles)
{
    struct expected_point
    {
        double x, y;
    };
    struct
    {
        bool single_triangle;
        angle theta;
        int16_t polygon_count;
        int16_t vertex_counts[2];
        expected_point points[2][4];
    } const cases[] = {
        // East: shaft 32 either side of the start, 768 long; head tip at 896,
        // back corners 256 from it at 22.5 degrees either side of straight back.
        {false, 0, 2, {4, 3},
         {{{320, 236.8}, {396.8, 236.8}, {396.8, 243.2}, {320, 243.2}},
          {{409.6, 240}, {385.95, 249.8}, {385.95, 230.2}}}},
        // North (screen up).
        {false, 16384, 2, {4, 3},
         {{{316.8, 240}, {316.8, 163.2}, {323.2, 163.2}, {323.2, 240}},
          {{320, 150.4}, {329.8, 174.05}, {310.2, 174.05}}}},
        // One triangle: tip at 597, back corners 384 from it.
        {true, 0, 1, {3, 0}, {{{379.7, 240}, {344.2, 254.7}, {344.2, 225.3}}}},
        {true, 16384, 1, {3, 0}, {{{320, 180.3}, {334.7, 215.8}, {305.3, 215.8}}}},
    };
    const world_point3d start = {CENTRE, CENTRE, 0};
    for (const auto &c : cases)
    {
        if (c.single_triangle) get_game_preferences()->flags |= _game_pref_vux_facing_arrows_flag;
        else get_game_preferences()->flags &= ~_game_pref_vux_facing_arrows_flag;
        facing_arrow_polygons arrow;
        ASSERT_TRUE(build_facing_arrow_polygons(&view, &start, c.theta, &arrow));
        ASSERT_EQ(arrow.polygon_count, c.polygon_count);
        for (int32_t p = 0; p < c.polygon_count; ++p)
        {
            ASSERT_EQ(arrow.vertex_counts[p], c.vertex_counts[p]);
            for (int32_t i = 0; i < c.vertex_counts[p]; ++i)
            {
                // Projection truncates, and the tables round: within a pixel.
                EXPECT_LE(std::fabs(arrow.vertices[p][i].x - c.points[p][i].x), 1.0)
                    << c.single_triangle << " theta " << c.theta << " polygon " << p << " corner " << i;
                EXPECT_LE(std::fabs(arrow.vertices[p][i].y - c.points[p][i].y), 1.0)
                    << c.single_triangle << " theta " << c.theta << " polygon " << p << " corner " << i;
            }
        }
    }
}

TEST_F(interface_overlays_test, an_arrow_is_filled_where_it_projects_and_not_behind_the_viewer)
{
    const auto pixel = [&](int32_t x, int32_t y) { return reinterpret_cast<uint32_t *>(screen->row_addresses[y])[x]; };
    const auto fill_grey = [&] {
        for (int32_t y = 0; y < 480; ++y)
            for (int32_t x = 0; x < 640; ++x) reinterpret_cast<uint32_t *>(screen->row_addresses[y])[x] = 0x00808080u;
    };
    fill_grey();
    const uint32_t grey = pixel(0, 0);
    const world_point3d start = {CENTRE, CENTRE, 0};
    draw_facing_arrow(&view, &start, 0);
    EXPECT_NE(pixel(360, 240), grey) << "the shaft";
    EXPECT_NE(pixel(400, 240), grey) << "the head";
    EXPECT_EQ(pixel(360, 230), grey) << "beside the shaft";
    EXPECT_EQ(pixel(300, 240), grey) << "behind the start";

    // Above the eye the arrow lies behind the viewer: nothing.
    fill_grey();
    const world_point3d above = {CENTRE, CENTRE, EYE_HEIGHT + 100};
    facing_arrow_polygons arrow;
    EXPECT_FALSE(build_facing_arrow_polygons(&view, &above, 0, &arrow));
    draw_facing_arrow(&view, &above, 0);
    for (int32_t y = 0; y < 480; y += 4)
        for (int32_t x = 0; x < 640; x += 4) ASSERT_EQ(pixel(x, y), grey) << x << "," << y;
}

// The selection's world: its synthetic frame looks straight down from 4096
// above (4096, 4096) with a focal length of 512, so world (x, y, 0) lands at
// (320 + (x - 4096) / 8, 240 - (y - 4096) / 8); the units of the local
// player stand at y = 3584, x = 3584 + 128 i.
class interface_gesture_test : public selection_world
{
protected:
    std::unique_ptr<bitmap_data, bitmap_deleter> screen{new_bitmap(640, 480, 0, _32bit_encoding, 0)};
    view_data view = {};

    void SetUp() override
    {
        selection_world::SetUp();
        view.screen = screen.get();
        view.screen_width = 640;
        view.screen_height = 480;
        view.hole = {0, 0, 480, 640};
        view.xk = 320;
        view.yk = 240;
        view.fworld_to_screen = 512.0f;
        view.location.position = {4096, 4096, 4096};
        for (int32_t i = 0; i < 3; ++i) view.world_to_viewer_rotation[i][i] = 16384;
        for (int32_t y = 0; y < 480; ++y)
            for (int32_t x = 0; x < 640; ++x) reinterpret_cast<uint32_t *>(screen->row_addresses[y])[x] = grey;
    }

    static const uint32_t grey = 0x00808080u;
    bool drawn(point2d p) const { return reinterpret_cast<const uint32_t *>(screen->row_addresses[p.y])[p.x] != grey; }

    // A facing drag in progress from `press` (ground or unit) to `pointer`.
    void gesture(uint32_t picked, world_point2d at, int16_t object_index, point2d pointer)
    {
        selection_globals_ *s = get_mutable_selection_globals();
        s->state = _selection_gesture;
        s->first_click_was_overhead_map_click = false;
        s->original_pick.return_flags = picked;
        s->original_pick.mesh_location = at;
        s->original_pick.object_index = object_index;
        s->last_action.pointer = pointer;
    }
};

TEST_F(interface_gesture_test, a_ground_gesture_draws_one_arrow_from_the_press_towards_the_pointer)
{
    add_monster_index_to_current_selection(mine[0]);
    add_monster_index_to_current_selection(mine[5]);
    gesture(_pick_mesh_triangles_flag, {4096, 3200}, NONE, ground(6000, 3200));
    bool on_unit = true;
    world_point3d start, end;
    ASSERT_TRUE(get_gesture_vector(&on_unit, &start, &end));
    EXPECT_FALSE(on_unit);
    EXPECT_EQ(start.x, 4096);
    EXPECT_EQ(start.y, 3200);
    EXPECT_NEAR(end.x, 6000, 8) << "within a pixel";
    EXPECT_NEAR(end.y, 3200, 8);
    EXPECT_EQ(end.z, start.z);

    rasterize_interface_effects(&view);
    EXPECT_TRUE(drawn(ground(4096 + 400, 3200))) << "the shaft, east of the press";
    EXPECT_FALSE(drawn(ground(4096 - 200, 3200))) << "nothing behind the press";
    EXPECT_FALSE(drawn(ground(3584 + 400, 3584))) << "no arrow at the units";

    // Not in the gesture state, or begun on the overhead map: no vector, nothing drawn.
    get_mutable_selection_globals()->first_click_was_overhead_map_click = true;
    EXPECT_FALSE(get_gesture_vector(&on_unit, &start, &end));
    get_mutable_selection_globals()->first_click_was_overhead_map_click = false;
    get_mutable_selection_globals()->state = _selection_band;
    EXPECT_FALSE(get_gesture_vector(&on_unit, &start, &end));
}

TEST_F(interface_gesture_test, a_gesture_begun_on_a_unit_draws_an_arrow_at_every_selected_unit)
{
    add_monster_index_to_current_selection(mine[0]);
    add_monster_index_to_current_selection(mine[5]);
    // From unit 0 northwards: the arrows point up the screen.
    gesture(_pick_objects_flag, {0, 0}, unit(mine[0])->object_index, ground(3584, 5000));
    bool on_unit = false;
    world_point3d start, end;
    ASSERT_TRUE(get_gesture_vector(&on_unit, &start, &end));
    EXPECT_TRUE(on_unit);
    EXPECT_EQ(start.x, body(mine[0])->location.position.x);
    EXPECT_EQ(start.y, body(mine[0])->location.position.y);

    rasterize_interface_effects(&view);
    EXPECT_TRUE(drawn(ground(3584, 3584 + 400))) << "north of unit 0";
    EXPECT_TRUE(drawn(ground(3584 + 5 * 128, 3584 + 400))) << "north of unit 5";
    EXPECT_FALSE(drawn(ground(3584 + 2 * 128, 3584 + 400))) << "not north of unit 2, which is not selected";

    // The unit pressed on is gone: no vector.
    body(mine[0])->location.position = {0, 0, 0};
    get_mutable_selection_globals()->original_pick.object_index = NONE;
    EXPECT_FALSE(get_gesture_vector(&on_unit, &start, &end));
}

} // namespace

} // namespace interface_overlays_test_file
