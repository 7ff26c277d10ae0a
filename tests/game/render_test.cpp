// The scene renderer's frame: the render memory pool, the view, the frame and
// its readers (picking), screenshots.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "ingame_bar_procedures.h"
#include "bitmaps.h"
#include "cseries/registration.h"
#include "front_end_procedures.h"
#include "render/render.h"
#include "screen.h"
#include "mesh.h"
#include "pick.h"
#include "render/mesh_region.h"
#include "render/render_effects.h"
#include "render/render_sort.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/expected_assertions.h"

namespace render_test_file {

namespace {

int malloc_failures = 0;
void count_malloc_failure(void) { ++malloc_failures; }

class render_pool : public ::testing::Test
{
protected:
    void SetUp(void) override
    {
        reset_render_for_tests();
        malloc_failures = 0;
        set_render_malloc_fail_procedure(count_malloc_failure);
    }
    void TearDown(void) override { reset_render_for_tests(); }
};

TEST_F(render_pool, allocations_are_aligned_and_bounded_and_the_scratch_never_meets_the_top)
{
    ASSERT_TRUE(reset_render_memory_pool_for_tests(1024));
    uint8_t *start = render_globals.render_memory_pool;
    void *a = render_malloc(1);
    void *b = render_malloc(17);
    void *c = render_malloc(0);
    EXPECT_EQ(a, start);
    EXPECT_EQ(b, start + 16);
    EXPECT_EQ(c, start + 48);
    for (void *p : {a, b, c}) EXPECT_EQ((uintptr_t)p % RENDER_MEMORY_ALIGNMENT, 0u);

    // The scratch is the last bytes of the pool, the same block every call,
    // and does not move the top.
    uint8_t *scratch = static_cast<uint8_t *>(render_temporary(100));
    EXPECT_EQ(scratch, render_globals.render_memory_pool_end - 112);
    EXPECT_EQ(render_temporary(100), scratch);
    EXPECT_EQ(render_globals.top_of_render_memory_pool, start + 48);
    EXPECT_EQ(malloc_failures, 0);

    // 1024 - 48 bytes are left: the scratch may take all of them, one more is refused.
    EXPECT_NE(render_temporary(1024 - 48), nullptr);
    EXPECT_EQ(render_temporary(1024 - 48 + 1), nullptr);
    EXPECT_EQ(malloc_failures, 1);
    // The top may not reach the end.
    EXPECT_EQ(render_malloc(1024 - 48), nullptr);
    EXPECT_EQ(malloc_failures, 2);
    EXPECT_EQ(render_globals.top_of_render_memory_pool, start + 48) << "a refused allocation takes nothing";
    EXPECT_EQ(render_malloc(SIZE_MAX), nullptr) << "a size that wraps when rounded";
    EXPECT_EQ(render_temporary(SIZE_MAX - 3), nullptr);
    EXPECT_EQ(malloc_failures, 4);
}

TEST_F(render_pool, a_tiny_pool_grows_for_the_cells_and_doubles_after_a_busy_frame)
{
    ASSERT_TRUE(reset_render_memory_pool_for_tests(4096));
    new_render_scene(0);
    EXPECT_EQ(render_globals.render_memory_pool_size, 1 << 20) << "doubled from 4096 past the reserve";
    const int32_t cells = 10000;
    const int64_t needed = (int64_t)cells * (int64_t)render_memory_per_cell() + RENDER_MEMORY_POOL_RESERVE;
    new_render_scene(cells);
    EXPECT_GE(render_globals.render_memory_pool_size, needed);
    EXPECT_LT(render_globals.render_memory_pool_size, 2 * needed);
    EXPECT_EQ(render_globals.top_of_render_memory_pool, render_globals.render_memory_pool);
    const int32_t size = render_globals.render_memory_pool_size;

    // A frame that uses less than half keeps the size; more than half doubles it.
    ASSERT_NE(render_malloc((size_t)size / 2 - 64), nullptr);
    new_render_scene(cells);
    EXPECT_EQ(render_globals.render_memory_pool_size, size);
    ASSERT_NE(render_malloc((size_t)size / 2 + 64), nullptr);
    new_render_scene(cells);
    EXPECT_EQ(render_globals.render_memory_pool_size, 2 * size);
    // Scratch counts as use too.
    ASSERT_NE(render_temporary((size_t)size + 64), nullptr);
    new_render_scene(cells);
    EXPECT_EQ(render_globals.render_memory_pool_size, 4 * size);
    EXPECT_EQ(malloc_failures, 0);
}

TEST(rasterizer_codes, identifiers_and_codes_outside_the_table)
{
    EXPECT_EQ(rasterizer_code_to_id(0), 0x736F6674); // 'soft'
    EXPECT_EQ(rasterizer_code_to_id(1), 0x64336400);
    EXPECT_EQ(rasterizer_code_to_id(4), 0x6F676C00);
    EXPECT_EQ(rasterizer_code_to_id(5), 0x64783131);
    EXPECT_EQ(rasterizer_code_to_id(6), -1);
    EXPECT_EQ(rasterizer_code_to_id(-1), -1);
}

// ---- the view ----------------------------------------------------------------------------

rectangle2d status_bar_bounds, control_bar_bounds, trading_bounds;
bool status_bar_shown, control_bar_shown, trading_shown;
bool status_bar_visible(rectangle2d *bounds)
{
    *bounds = status_bar_bounds;
    return status_bar_shown;
}
bool control_bar_visible(rectangle2d *bounds)
{
    *bounds = control_bar_bounds;
    return control_bar_shown;
}
bool trading_dialog_visible(rectangle2d *bounds)
{
    *bounds = trading_bounds;
    return trading_shown;
}
void set_bars_visible(bool control_bar, bool status_bar)
{
    control_bar_shown = control_bar;
    status_bar_shown = status_bar;
}

class render_view : public ::testing::Test
{
protected:
    void SetUp(void) override
    {
        reset_render_for_tests();
        clear_all_registrations();
        active_screen = initial_active_screen();
        status_bar_bounds = {0, 0, 20, 640};
        control_bar_bounds = {440, 0, 480, 640};
        trading_bounds = {0, 100, 30, 300};
        status_bar_shown = control_bar_shown = trading_shown = false;
        static const ingame_bar_procedures bars = {.control_bar_visible = control_bar_visible,
                                                   .status_bar_visible = status_bar_visible,
                                                   .set_bars_visible = set_bars_visible};
        register_ingame_bar_procedures(&bars);
        static const front_end_procedures front_end = {.unit_trading_dialog_visible = trading_dialog_visible};
        register_front_end_procedures(&front_end);
    }
    void TearDown(void) override
    {
        reset_render_for_tests();
        clear_all_registrations();
        active_screen = initial_active_screen();
    }

    // A 640 x 480 view at the origin looking along +x: world (dx, dy, dz)
    // lies at viewer (-dy, dz, -dx), and the focal length is 640.
    static view_data straight_view(void)
    {
        view_data view;
        memset(&view, 0, sizeof(view));
        view.resolution_width = 640;
        view.resolution_height = 480;
        view.half_resolution_width = 320;
        view.half_resolution_height = 240;
        view.tangent_of_half_field_of_view = 0.5f;
        return view;
    }
};

TEST_F(render_view, projection_constants_perspective_window_and_the_bars)
{
    view_data view = straight_view();
    view.horizontal_offset = 0.25f;
    view.vertical_offset = -0.125f;
    update_view_data(&view);
    EXPECT_FLOAT_EQ(view.fworld_to_screen, 640.0f);
    EXPECT_EQ(view.iworld_to_screen, 640);
    EXPECT_EQ(view.xk, 480);
    EXPECT_EQ(view.clip_right, 480);
    EXPECT_EQ(view.clip_left, 160);
    EXPECT_EQ(view.yk, 181) << "-59.5 truncates toward zero";
    EXPECT_EQ(view.clip_top, 181);
    EXPECT_EQ(view.clip_bottom, 299);
    EXPECT_FLOAT_EQ(view.perspective.left, -0.25f);
    EXPECT_FLOAT_EQ(view.perspective.right, 0.75f);
    EXPECT_FLOAT_EQ(view.perspective.bottom, -0.46875f);
    EXPECT_FLOAT_EQ(view.perspective.top, 0.28125f);
    EXPECT_EQ(view.screen_width, 640);
    EXPECT_EQ(view.half_screen_height, 240);
    EXPECT_EQ(view.hole.top, 0);
    EXPECT_EQ(view.hole.bottom, 480);
    EXPECT_EQ(view.hole.right, 640);
    EXPECT_EQ(view.viewport.bottom, 480);

    // Bars beside the picture shorten the perspective window, not the hole,
    // and the status bar moves the centre up.
    status_bar_shown = control_bar_shown = true;
    view_data beside = straight_view();
    beside.horizontal_offset = 0.25f;
    beside.vertical_offset = -0.125f;
    update_view_data(&beside);
    EXPECT_FLOAT_EQ(beside.perspective.bottom, -0.46875f + 40 * 0.75f / 480);
    EXPECT_FLOAT_EQ(beside.perspective.top, 0.28125f - 20 * 0.75f / 480);
    EXPECT_EQ(beside.yk, 161);
    EXPECT_EQ(beside.hole.top, 0);
    EXPECT_EQ(beside.hole.bottom, 480);

    // Bars drawn over the picture shrink the hole and leave the window whole.
    active_screen.rasterizer_code = _rasterizer_3dfx;
    trading_shown = true;
    view_data over = straight_view();
    over.horizontal_offset = 0.25f;
    over.vertical_offset = -0.125f;
    update_view_data(&over);
    EXPECT_EQ(over.hole.top, 30 + 20) << "the trading dialog, then the status bar";
    EXPECT_EQ(over.hole.bottom, 440);
    EXPECT_FLOAT_EQ(over.perspective.bottom, -0.46875f);
    EXPECT_FLOAT_EQ(over.perspective.top, 0.28125f);
    EXPECT_EQ(over.yk, 181);
}

TEST_F(render_view, the_moved_flag_follows_size_position_and_direction)
{
    bitmap_data *screen = new_bitmap(640, 480, 0, _32bit_encoding, 0);
    bitmap_data *smaller = new_bitmap(320, 480, 0, _32bit_encoding, 0);
    ASSERT_TRUE(screen && smaller);
    auto moved = [&](void (*change)(view_data *)) {
        view_data view = straight_view();
        view.screen = screen;
        view.location.position = {1000, 2000, 300};
        view.location.yaw = 100;
        view.location.pitch = 200;
        change(&view);
        update_view_data(&view);
        return (view.flags & _render_view_moved_flag) != 0;
    };
    EXPECT_FALSE(last_render_view());
    EXPECT_TRUE(moved([](view_data *) {})) << "the first view";
    ASSERT_TRUE(last_render_view());
    EXPECT_FALSE(moved([](view_data *) {}));
    EXPECT_FALSE(moved([](view_data *v) { v->tick_count = 99; v->location.height = 7; }));
    void (*changes[])(view_data *) = {
        [](view_data *v) { v->location.position.x++; }, [](view_data *v) { v->location.position.y--; },
        [](view_data *v) { v->location.position.z++; }, [](view_data *v) { v->location.yaw++; },
        [](view_data *v) { v->location.pitch++; },
    };
    for (auto change : changes)
    {
        EXPECT_TRUE(moved(change));
        EXPECT_FALSE(moved(change)) << "the same again";
        EXPECT_TRUE(moved([](view_data *) {})) << "and back";
    }
    static bitmap_data *other_screen;
    other_screen = smaller;
    EXPECT_TRUE(moved([](view_data *v) { v->screen = other_screen; }));
    EXPECT_EQ(last_render_view()->screen_width, 320);
    free(screen);
    free(smaller);
}

TEST_F(render_view, points_on_the_viewer_plane_and_on_each_hole_edge)
{
    view_data view = straight_view();
    update_view_data(&view);
    ASSERT_EQ(view.xk, 320);
    ASSERT_EQ(view.yk, 240);
    struct
    {
        world_point3d p;
        bool in_view;
        const char *why;
    } cases[] = {
        {{0, 0, 0}, false, "the eye itself"},
        {{0, 100, 0}, false, "z = 0: on the viewer's plane"},
        {{1, 0, 0}, true, "z = -1: just in front"},
        {{-1, 0, 0}, false, "behind"},
        {{640, 320, 0}, true, "x = 0: the left edge is in"},
        {{640, -319, 0}, true, "x = 639"},
        {{640, -320, 0}, false, "x = 640: the right edge is out"},
        {{640, 0, 240}, true, "y = 0: the top edge is in"},
        {{640, 0, -239}, true, "y = 479"},
        {{640, 0, -240}, false, "y = 480: the bottom edge is out"},
        {{640, 321, 0}, false, "left of the left edge"},
        {{1, 1 << 20, 0}, false, "far outside the 16-bit range"},
    };
    for (const auto &c : cases) EXPECT_EQ(world_point3d_in_view(&view, &c.p), c.in_view) << c.why;

    world_point3d viewer;
    const world_point3d ahead = {640, -100, 50};
    transform_world_point_to_viewer_space(&view, &ahead, &viewer, false);
    EXPECT_EQ(viewer.x, 100);
    EXPECT_EQ(viewer.y, 50);
    EXPECT_EQ(viewer.z, -640);
    point2d screen;
    ASSERT_TRUE(project_viewer_point(&view, &viewer, &screen));
    EXPECT_EQ(screen.x, 420) << "to the right of the centre";
    EXPECT_EQ(screen.y, 190) << "above the centre";

    // The sums of far points do not overflow.
    const world_point3d far = {1 << 29, -(1 << 29), 1 << 28};
    transform_world_point_to_viewer_space(&view, &far, &viewer, false);
    EXPECT_EQ(viewer.x, 1 << 29);
    EXPECT_EQ(viewer.y, 1 << 28);
    EXPECT_EQ(viewer.z, -(1 << 29));

    // Mirrored in the media surface (height 0 off the map): above it the
    // vertical difference is 2h - eye z - p.z, at or below it unchanged.
    view.location.position = {0, 0, 10};
    const world_point3d above = {640, 0, 100}, below = {640, 0, -50};
    transform_world_point_to_viewer_space(&view, &above, &viewer, true);
    EXPECT_EQ(viewer.y, -110);
    transform_world_point_to_viewer_space(&view, &below, &viewer, true);
    EXPECT_EQ(viewer.y, -60);
}

TEST_F(render_view, unusable_views_are_refused_without_undefined_behaviour)
{
    initialize_render();
    ASSERT_TRUE(initialize_render_for_new_map());
    for (float tangent : {0.0f, -1.0f, NAN, INFINITY, 1e-30f})
    {
        view_data view = straight_view();
        view.tangent_of_half_field_of_view = tangent;
        update_view_data(&view); // derivations stay defined
        render_scene(&view);
    }
    view_data empty = straight_view();
    empty.resolution_width = 0;
    empty.half_resolution_width = 0;
    render_scene(&empty);
    dispose_render_from_old_map();
}

std::vector<int> effect_trace;
void post_effect_high(view_data *) { effect_trace.push_back(3); }
void post_effect_low(view_data *) { effect_trace.push_back(-100); }
void pre_effect(view_data *view)
{
    effect_trace.push_back(view->main_surface_list->override_precise_z);
    EXPECT_EQ(view->main_surface_list->surface_count, 0) << "before any builder";
}

TEST_F(render_view, effects_run_around_the_frame_unless_the_view_omits_them)
{
    clear_render_effects();
    initialize_render();
    ASSERT_TRUE(initialize_render_for_new_map());
    ASSERT_TRUE(register_postrasterization_effect_procedure(post_effect_low, -100));
    ASSERT_TRUE(register_postrasterization_effect_procedure(post_effect_high, 3));
    ASSERT_TRUE(register_prerender_effect_procedure(pre_effect, -2));
    effect_trace.clear();
    view_data view = straight_view();
    render_scene(&view);
    EXPECT_EQ(effect_trace, (std::vector<int>{-2, 3, -100}));
    EXPECT_EQ(view.main_surface_list->override_precise_z, 0) << "the builders after the effects add plain keys";
    ASSERT_NE(view.region, nullptr) << "no mesh: an empty region";
    EXPECT_EQ(render_globals.last_surface_list, view.main_surface_list);

    effect_trace.clear();
    view = straight_view();
    view.flags = _render_view_omit_rasterization_effects_flag;
    render_scene(&view);
    EXPECT_TRUE(effect_trace.empty());
    dispose_render_from_old_map();
    clear_render_effects();
}

TEST(render_region_queries, spans_include_both_ends_and_tiles_count_only_in_tiles_mode)
{
    mesh_span spans[3] = {{2, 5}, {EMPTY_SPAN_X0, EMPTY_SPAN_X1}, {7, 7}};
    uint8_t coverage[2 * 2] = {1, 0, 0, 1};
    mesh_region region;
    memset(&region, 0, sizeof(region));
    region.y0 = 10;
    region.y1 = 12;
    region.spans = spans;
    region.tile_x0 = 0;
    region.tile_x1 = 1;
    region.tile_y0 = 0;
    region.tile_y1 = 1;
    region.tile_width = region.tile_height = 2;
    region.tile_coverage_array = coverage;
    struct
    {
        int32_t x, y;
        bool visible;
        int16_t tile_flag_in_tiles_mode;
    } cases[] = {
        {2, 10, true, 0}, {5, 10, true, 0}, {1, 10, false, 1}, {6, 10, false, 1}, {3, 11, false, 1},
        {7, 12, true, 0}, {8, 12, false, 1}, {3, 9, false, 1}, {3, 13, false, 1},
        {14, 10, false, 0}, // tile (1, 0) is not covered
        {14, 14, false, 1}, // tile (1, 1) is
        {28, 14, false, 0}, // tile 2 lies outside the bounds
    };
    for (const auto &c : cases)
    {
        const world_point2d point = {c.x * WORLD_ONE + 511, c.y * WORLD_ONE};
        EXPECT_EQ(point_in_visible_mesh_region(&point, &region), c.visible) << c.x << ", " << c.y;
        int16_t flag = 7;
        global_maps_mode = _maps_mode_volatile;
        EXPECT_EQ(cell_region_visibility_test(&region, c.x, c.y, &flag), c.visible);
        EXPECT_EQ(flag, 0);
        global_maps_mode = _maps_mode_tiles;
        EXPECT_EQ(cell_region_visibility_test(&region, c.x, c.y, &flag), c.visible || c.tile_flag_in_tiles_mode);
        EXPECT_EQ(flag, c.tile_flag_in_tiles_mode) << c.x << ", " << c.y;
    }
    global_maps_mode = _maps_mode_volatile;
}

// ---- screenshots ----------------------------------------------------------------------------

class render_screenshots : public render_view
{
protected:
    void SetUp(void) override
    {
        render_view::SetUp();
        register_render_hooks();
        initialize_render();
        ASSERT_TRUE(initialize_render_for_new_map());
        active_screen.screen_initialized = true;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.encoding = _32bit_encoding;
        active_screen.width = 320;
        active_screen.height = 240;
    }
    void TearDown(void) override
    {
        active_screen.screen_initialized = false;
        dispose_render_from_old_map();
        render_view::TearDown();
    }
};

TEST_F(render_screenshots, one_tile_is_the_picture_and_the_frame_picking_reads_is_kept)
{
    view_data frame = straight_view();
    render_scene(&frame);
    ASSERT_NE(last_render_surface_list(), nullptr);
    ASSERT_NE(get_last_render_view(), nullptr) << "picking sees the frame";
    status_bar_shown = control_bar_shown = true;

    bitmap_data *picture = render_screenshot(320, 240);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width, 320);
    EXPECT_EQ(picture->height, 240);
    EXPECT_EQ(picture->encoding, _32bit_encoding);
    free(picture);
    // Colour left in the heap (or the sanitizer's fill) must not show where
    // the scene draws nothing, which with no map is everywhere.
    bitmap_data *freed = new_bitmap(160, 120, 0, _32bit_encoding, 0);
    if (freed) memset(freed->row_addresses[0], 0xff, 160 * 120 * 4);
    free(freed);
    picture = render_screenshot(160, 120);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width, 160);
    const uint32_t *pixels = reinterpret_cast<const uint32_t *>(picture->row_addresses[0]);
    EXPECT_EQ(std::count(pixels, pixels + 160 * 120, 0u), 160 * 120) << "black";
    free(picture);

    EXPECT_TRUE(status_bar_shown && control_bar_shown) << "the bars are shown again";
    ASSERT_NE(last_render_view(), nullptr);
    EXPECT_EQ(last_render_view()->screen_width, 640) << "the frame's view, not the picture's";
    EXPECT_EQ(get_last_render_view()->screen_width, 640);
    EXPECT_EQ(get_last_render_view()->centre.x, 320);
    EXPECT_EQ(last_render_surface_list(), nullptr) << "the pool holds the picture's scene";
    EXPECT_EQ(get_last_render_surface_list(), nullptr);
}

TEST_F(render_screenshots, tiles_need_a_hardware_rasterizer_and_a_missing_tile_fails_the_picture)
{
    EXPECT_EQ(render_screenshot(800, 240), nullptr) << "2.5 screens in software";
    EXPECT_EQ(render_screenshot(320, 241), nullptr);
    EXPECT_EQ(render_screenshot(0, 240), nullptr);

    // A rasterizer that tiles draws each tile in its own frame buffer: with
    // no back end to lend one, there is no picture.
    active_screen.rasterizer_code = _rasterizer_opengl;
    {
        expected_assertions expect(2, "no hardware back end");
        EXPECT_EQ(render_screenshot(800, 240), nullptr);
    }

    // No tile can be made: nothing is returned, nothing leaks.
    active_screen.rasterizer_code = _rasterizer_software;
    active_screen.encoding = 0;
    {
        expected_assertions expect(1);
        EXPECT_EQ(render_screenshot(320, 240), nullptr);
    }
}

// ---- what picking reads of a frame of the demo map -------------------------------------------

// Adds the region's cells as mesh triangles, two per cell, from the region's
// render vertices: what the terrain's surfaces will do.
void add_region_triangles(view_data *view)
{
    const mesh_region *region = view->region;
    for (int32_t y = region->y0; y < region->y1; ++y)
    {
        const mesh_span *span = get_mesh_region_span(region, y);
        for (int32_t x = span->x0; x < span->x1; ++x)
        {
            render_vertex *a = get_mesh_region_vertex(region, x, y);
            render_vertex *b = get_mesh_region_vertex(region, x + 1, y);
            render_vertex *c = get_mesh_region_vertex(region, x + 1, y + 1);
            render_vertex *d = get_mesh_region_vertex(region, x, y + 1);
            if (!a || !b || !c || !d) continue;
            render_vertex *corners[2][3] = {{a, c, b}, {a, d, c}};
            for (auto &triangle_corners : corners)
            {
                render_triangle *triangle = render_new<render_triangle>();
                memset(triangle, 0, sizeof(*triangle));
                triangle->header.packed = pack_surface_word(0, _surface_type_triangle, _surface_subtype_mesh_triangle);
                for (int32_t i = 0; i < VERTICES_PER_TRIANGLE; ++i) triangle->corners[i].vertex = triangle_corners[i];
                add_surface_to_surface_list(view, &triangle->header);
            }
        }
    }
}

class render_demo_frame : public render_view
{
protected:
    static std::unique_ptr<scratch_directory> scratch;
    static std::vector<uint8_t> mesh_bytes;

    static void SetUpTestSuite(void)
    {
        scratch = std::make_unique<scratch_directory>();
        const std::vector<test_tag> *tags = data_tool_built() ? demo_map_tags() : nullptr;
        if (!tags) return;
        for (const test_tag &t : *tags)
            if (t.group_tag == FOUR_CHARACTER_CODE('m', 'e', 's', 'h') &&
                t.subgroup_tag == FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'))
                mesh_bytes = t.data;
    }
    static void TearDownTestSuite(void) { scratch.reset(); }

    void SetUp(void) override
    {
        render_view::SetUp();
        if (mesh_bytes.empty()) SKIP_OR_FAIL_UNDER_CI("the data tool did not make the demo map");
        initialize_mesh();
        ASSERT_TRUE(load_mesh_from_memory(mesh_bytes.data(), (int32_t)mesh_bytes.size()));
        register_render_hooks();
        clear_render_effects();
        ASSERT_TRUE(register_prerender_effect_procedure(add_region_triangles, 0));
        initialize_render();
        ASSERT_TRUE(initialize_render_for_new_map());
    }
    void TearDown(void) override
    {
        dispose_render_from_old_map();
        dispose_mesh_from_old_map();
        clear_render_effects();
        render_view::TearDown();
    }
};
std::unique_ptr<scratch_directory> render_demo_frame::scratch;
std::vector<uint8_t> render_demo_frame::mesh_bytes;

TEST_F(render_demo_frame, picking_finds_mesh_triangles_where_the_last_view_projects_their_cells)
{
    bitmap_data *screen = new_bitmap(640, 480, 0, _32bit_encoding, 0);
    ASSERT_NE(screen, nullptr);
    view_data view = straight_view();
    view.screen = screen;
    view.vertical_offset = -0.14285715f;
    const int32_t cx = mesh_width / 2, cy = mesh_height / 2;
    view.location.position = {cx * WORLD_ONE, cy * WORLD_ONE, get_mesh_cell(cx, cy)->height + 12 * WORLD_ONE};
    view.location.yaw = QUARTER_CIRCLE / 3;
    view.location.pitch = (angle)(FULL_CIRCLE - EIGHTH_CIRCLE); // 45 degrees down
    render_scene(&view);

    const rendered_view_data *last = get_last_render_view();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->screen_width, 640);
    EXPECT_EQ(last->centre.x, view.xk);
    EXPECT_EQ(last->centre.y, view.yk);
    ASSERT_EQ(last_render_surface_list(), view.main_surface_list);

    // Walk the list as picking does: every drawn mesh triangle's corners lie
    // where the last view projects their cells.
    int32_t triangles = 0, previous_key_nearer_or_equal = 0;
    uint32_t previous_key = UINT32_MAX;
    for (const render_surface *surface = get_last_render_surface_list(); surface; surface = surface->next_surface)
    {
        if (previous_key >= (uint32_t)surface->precise_z) ++previous_key_nearer_or_equal;
        previous_key = (uint32_t)surface->precise_z;
        ASSERT_EQ(surface_word_type(surface->packed), _surface_type_triangle);
        ASSERT_EQ(surface_word_subtype(surface->packed), _surface_subtype_mesh_triangle);
        if (surface_word_flags(surface->packed) & _surface_discarded_flag) continue;
        ++triangles;
        const render_triangle *triangle = reinterpret_cast<const render_triangle *>(surface);
        for (const render_corner &corner : triangle->corners)
        {
            const render_vertex *v = corner.vertex;
            const mesh_cell *cell = get_mesh_cell(v->mesh_vertex.x, v->mesh_vertex.y);
            // Back to the world through the transpose, as picking turns points back.
            const int16_t(*m)[3] = last->world_to_viewer_rotation;
            const int64_t wx = last->origin.x + ((m[0][0] * (int64_t)v->p.x + m[0][1] * (int64_t)v->p.y +
                                                  m[0][2] * (int64_t)v->p.z) >> 14);
            const int64_t wy = last->origin.y + ((m[1][0] * (int64_t)v->p.x + m[1][1] * (int64_t)v->p.y +
                                                  m[1][2] * (int64_t)v->p.z) >> 14);
            const int64_t wz = last->origin.z + ((m[2][0] * (int64_t)v->p.x + m[2][1] * (int64_t)v->p.y +
                                                  m[2][2] * (int64_t)v->p.z) >> 14);
            EXPECT_NEAR(wx, v->mesh_vertex.x * WORLD_ONE, 8);
            EXPECT_NEAR(wy, v->mesh_vertex.y * WORLD_ONE, 8);
            EXPECT_TRUE(std::abs(wz - cell->height) <= 8 || std::abs(wz - cell->media_height) <= 8);
            ASSERT_LT(v->p.z, 0);
            const double sx = last->centre.x - (double)v->p.x * last->world_to_screen / v->p.z;
            const double sy = last->centre.y + (double)v->p.y * last->world_to_screen / v->p.z;
            EXPECT_NEAR(v->screen.x, sx, 2.0);
            EXPECT_NEAR(v->screen.y, sy, 2.0);
        }
    }
    EXPECT_GT(triangles, 100);
    EXPECT_EQ(previous_key_nearer_or_equal, view.main_surface_list->surface_count) << "nearest first";

    // Picking itself finds a terrain point under the centre of the screen.
    pick_state state;
    new_pick_by_point_state(&state, point2d{320, 300}, _pick_mesh_triangles_flag);
    ASSERT_EQ(pick(&state), (uint32_t)_pick_mesh_triangles_flag);
    EXPECT_TRUE(mesh_cell_in_bounds(state.mesh_location.x >> 9, state.mesh_location.y >> 9));

    // A saved-game snapshot leaves the frame picking reads alone, but not the list.
    active_screen.screen_initialized = true;
    active_screen.rasterizer_code = _rasterizer_software;
    active_screen.encoding = _32bit_encoding;
    active_screen.width = 640;
    active_screen.height = 480;
    const view_data before = *last_render_view();
    bitmap_data *snapshot = render_screenshot(160, 120);
    ASSERT_NE(snapshot, nullptr);
    free(snapshot);
    EXPECT_EQ(memcmp(last_render_view(), &before, sizeof(before)), 0);
    EXPECT_EQ(last_render_surface_list(), nullptr);
    EXPECT_EQ(get_last_render_surface_list(), nullptr);
    new_pick_by_point_state(&state, point2d{320, 300}, _pick_mesh_triangles_flag);
    EXPECT_EQ(pick(&state), 0u);
    active_screen.screen_initialized = false;

    // Statistics count the drawn and the discarded triangles apart.
    render_scene(&view);
    render_statistics statistics;
    get_render_statistics(&view, &statistics);
    EXPECT_EQ(statistics.extant.mesh_triangle_count, triangles);
    EXPECT_EQ(statistics.extant.triangle_count + statistics.discarded.triangle_count,
              view.main_surface_list->surface_count);
    EXPECT_GT(statistics.used_memory, 0);
    EXPECT_EQ(statistics.total_memory, render_globals.render_memory_pool_size);
    free(screen);
}

} // namespace

} // namespace render_test_file
