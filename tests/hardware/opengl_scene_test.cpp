// The battlefield frame through OpenGL on Mesa's software driver in an Xvfb
// of the test's own: the demo frames and three scenes arranged on the demo
// map against the software renderer's within the bounds of
// docs/architecture.md, and the scene's passes on surfaces made here (what
// each draw is handed, through the vertex capture, and what the depth buffer
// lets through).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bitmaps.h"
#include "cseries/log.h"
#include "determinism_harness.h"
#include "gl_render_harness.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/render_opengl_scene.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "iniparser3.0b/inifile.h"
#include "mesh.h"
#include "objects.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "render/render_surfaces.h"
#include "render_harness.h"
#include "screen.h"
#include "screen_preferences.h"
#include "shapes.h"
#include "support/demo_data.h"
#include "support/demo_render_fixture.h"
#include "support/scratch.h"
#include "support/x_server.h"

namespace opengl_scene_test_file {


namespace fs = std::filesystem;

namespace {

TEST(vertical_rectangle_zs, meet_the_upright_plane_where_a_ray_does)
{
    std::mt19937 random(45);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int32_t> depth(-20000, -600), height(-3000, 3000), extent(1, 1500);
    view_data view = {};
    int32_t checked = 0;
    for (int32_t i = 0; i < 2000; ++i)
    {
        // A random rotation: only where the world's up direction lands in view space matters.
        double up[3] = {unit(random), unit(random), unit(random)};
        const double length = std::sqrt(up[0] * up[0] + up[1] * up[1] + up[2] * up[2]);
        if (length < 0.1) continue;
        for (int32_t c = 0; c < 3; ++c)
        {
            view.world_to_viewer_rotation[2][c] = (int16_t)std::lround(up[c] / length * 16384.0);
            up[c] = view.world_to_viewer_rotation[2][c] / 16384.0;
        }
        const int32_t z = depth(random), object_y = height(random);
        const int32_t y_top = object_y + extent(random), y_bottom = object_y - extent(random);
        float top = -1, bottom = -1;
        compute_vertical_rectangle_zs(&view, &top, &bottom, object_y, y_top, y_bottom, z);

        // The plane holds the object's point, the view's x axis and the up
        // direction; the ray leaves the eye through (0, y, z).
        const double normal[3] = {0.0, -up[2], up[1]}; // x axis cross up
        const double reach = normal[1] * object_y + normal[2] * z;
        const auto expected = [&](int32_t y, double *distance) {
            const double along = normal[1] * y + normal[2] * z;
            if (std::fabs(along) < 1e-3 * std::fabs(reach) + 1.0) return false; // grazing: ill-conditioned
            *distance = std::max(0.0, reach / along) * z;
            return true;
        };
        double top_expected, bottom_expected;
        if (!expected(y_top, &top_expected) || !expected(y_bottom, &bottom_expected)) continue;
        EXPECT_NEAR(top, top_expected, 1e-3 * std::fabs(top_expected) + 0.5) << i;
        EXPECT_NEAR(bottom, bottom_expected, 1e-3 * std::fabs(bottom_expected) + 0.5) << i;
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

// ---- the display, the demo map and what the draws are handed ---------------------------------

struct captured_draw
{
    uint32_t primitive;
    std::vector<rendervert_t> vertices;
    opengl_draw_state state;
};
std::vector<captured_draw> draws;
void capture(uint32_t primitive, const rendervert_t *vertices, int32_t count, const opengl_draw_state *state)
{
    draws.push_back({primitive, std::vector<rendervert_t>(vertices, vertices + count), *state});
}

class opengl_scene : public demo_render_fixture
{
protected:
    void SetUp() override
    {
        demo_render_fixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        artefacts = (fs::path(previous) / "artefacts" / "opengl_scene").string();
        fs::create_directories(artefacts);
        std::string why;
        if (!server.start_for_opengl(&why, "1280x1024x24")) SKIP_OR_FAIL_UNDER_CI("no X server: " + why);
        prefs.texture_cache_size = 64;
        prefs.flags = _screen_pref_32bit_flag; // detail maps off
    }
    void TearDown() override
    {
        set_vertex_capture_procedure(nullptr);
        if (gl_started) stop_gl_render_harness();
        close_log_file();
        stop_simulation();
        dispose_poweruser_settings();
        demo_render_fixture::TearDown();
        server.stop();
    }

    bool start_map(int16_t width, int16_t height, int32_t ticks)
    {
        return start(32, width, height) && (ticks == 0 || run_simulation(ticks, nullptr, 0, nullptr, nullptr));
    }
    bool start_gl(int16_t width, int16_t height)
    {
        const char *why = nullptr;
        gl_started = start_gl_render_harness(width, height, &prefs, &why);
        if (!gl_started) ADD_FAILURE() << why;
        return gl_started;
    }

    // The demo map in a small OpenGL window, its objects' frame drawn once:
    // the bitmaps of two sprites and a model's serve as textures, and `view`
    // draws into the frame buffer.
    bool start_small_scene(void)
    {
        if (!start_map(kSmallWidth, kSmallHeight, 0) || !start_gl(kSmallWidth, kSmallHeight)) return false;
        const render_frame_options options = {kSmallWidth, kSmallHeight, true, false};
        const render_camera camera = {5, 1, 4, 38, -18, 0};
        build_render_camera_view(&view, &camera, &options, nullptr);
        std::vector<uint8_t> ignored;
        if (!render_camera_view_opengl(&view, &ignored)) return false;
        for (const surface_category &category : surface_categories)
            for (uint32_t i = 0; i < category.count; ++i)
            {
                const render_surface *surface = category.surfaces[i];
                const int32_t subtype = surface_word_subtype(surface->packed);
                const uint32_t identifier = subtype == _surface_subtype_object_rectangle
                                                ? reinterpret_cast<const render_rectangle *>(surface)->bitmap_identifier
                                                : reinterpret_cast<const render_triangle *>(surface)->bitmap_identifier;
                if (subtype == _surface_subtype_model_triangle) model = identifier;
                if (subtype == _surface_subtype_object_rectangle &&
                    std::find(sprites.begin(), sprites.end(), identifier) == sprites.end())
                    sprites.push_back(identifier);
            }
        frame.width = kSmallWidth, frame.height = kSmallHeight, frame.encoding = _opengl_frame_buffer_encoding;
        view.screen = &frame;
        view.rasterizer_code = _rasterizer_opengl;
        update_view_data(&view);
        view.region = nullptr; // the frame's, gone with it
        EXPECT_GE(sprites.size(), 2u) << "the demo frame shows sprites of two bitmaps";
        return sprites.size() >= 2;
    }

    static const int16_t kSmallWidth = 256, kSmallHeight = 192;
    own_x_server server;
    std::string artefacts;
    screen_parameters prefs = {};
    bool gl_started = false;
    view_data view = {};
    bitmap_data frame = {};
    std::vector<uint32_t> sprites;
    uint32_t model = 0;
};

std::vector<uint8_t> read_frame(void)
{
    const rectangle2d whole = {0, 0, active_screen.height, active_screen.width};
    bitmap_data *pixels = copy_bits_from_opengl_render_buffer(&whole);
    std::vector<uint8_t> rgb;
    if (pixels) render_back_buffer_to_rgb(pixels, &rgb);
    free(pixels);
    return rgb;
}

void keep(const std::string &path, const std::vector<uint8_t> &rgb, int32_t width, int32_t height)
{
    char reason[256];
    EXPECT_TRUE(write_rgb_png(path.c_str(), rgb.data(), width, height, reason, sizeof(reason))) << reason;
}

// ---- the frame comparison --------------------------------------------------------------

// The bounds of docs/architecture.md ("The scene renderer's frame"), after a
// 2 x 2 box downsample.
const double kMeanBound = 6.0;   // mean absolute difference per channel, of 255
const int32_t kPixelBound = 32;  // a pixel is close when every channel is within this ...
const double kCloseShare = 0.99; // ... and this share of pixels is close
const int16_t kWidth = 1024, kHeight = 768;

// The mean difference per channel and the share of close pixels; the
// (amplified) difference image in `difference`.
void compare(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, double mean[3], double *close_share,
             std::vector<uint8_t> *difference)
{
    const int32_t w = kWidth / 2, h = kHeight / 2;
    const auto box = [&](const std::vector<uint8_t> &rgb, int32_t x, int32_t y, int32_t c) {
        const auto at = [&](int32_t dx, int32_t dy) { return rgb[((size_t)(2 * y + dy) * kWidth + 2 * x + dx) * 3 + c]; };
        return (at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1) + 2) / 4;
    };
    difference->assign((size_t)w * h * 3, 0);
    size_t close = 0;
    mean[0] = mean[1] = mean[2] = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
        {
            bool near = true;
            for (int32_t c = 0; c < 3; ++c)
            {
                const int32_t d = std::abs(box(a, x, y, c) - box(b, x, y, c));
                mean[c] += d;
                near = near && d <= kPixelBound;
                (*difference)[((size_t)y * w + x) * 3 + c] = (uint8_t)std::min(255, d * 4);
            }
            close += near;
        }
    for (int32_t c = 0; c < 3; ++c) mean[c] /= (double)w * h;
    *close_share = (double)close / ((double)w * h);
}

int32_t terrain_draws = 0;
void count_terrain_draws(uint32_t, const rendervert_t *, int32_t, const opengl_draw_state *state)
{
    if (state->shader_mode >= _shader_mesh_0 || state->shader_mode == _shader_fixed_multitexture) ++terrain_draws;
}

// ---- the synthetic scenes: the demo world arranged for one frame and put back after it ----

// Every cell's ground brought down to the lowest dry level (the lake bed
// keeps its depth), or put back as it was.
void flatten_ground(bool flat)
{
    static std::vector<int16_t> heights;
    if (flat) heights.clear();
    for (int32_t y = 0, i = 0; y < mesh_height; ++y)
        for (int32_t x = 0; x < mesh_width; ++x, ++i)
        {
            mesh_cell *cell = get_mesh_cell(x, y);
            if (flat) heights.push_back(cell->height), cell->height = std::min<int16_t>(cell->height, 0);
            else if ((size_t)i < heights.size()) cell->height = heights[(size_t)i];
        }
}

// A scenery copy of `unit` (its sprite as it is drawn now) standing on the
// ground at x, y (cells); NONE when it cannot be made.
int32_t copy_of_unit(const object_data *unit, double x, double y)
{
    new_object_data data = {};
    data.flags = _new_object_on_ground_flag;
    data.type = unit->type;
    data.owner = _object_is_scenery;
    data.owner_index = NONE;
    data.scale = unit->scale;
    data.location = unit->location;
    data.location.position.x = (world_distance)std::lround(x * 512);
    data.location.position.y = (world_distance)std::lround(y * 512);
    data.collection_index = unit->shape_collection_index;
    data.color_table_index = unit->color_table_index;
    const int32_t index = new_object(&data);
    object_data *copy = get_object(index);
    if (!copy) return NONE;
    copy->shape_collection_index = unit->shape_collection_index;
    copy->shape_sequence_index = unit->shape_sequence_index;
    copy->shape_frame_index = unit->shape_frame_index;
    copy->shape_view_index = unit->shape_view_index;
    copy->color_table_permutation = unit->color_table_permutation;
    return index;
}

// Copies of the demo's units standing on the ridge's eastern slope, two of
// them half faded (marked with their selection boxes when `marked`), or
// deleted again.
void stand_copies_on_the_slope(bool stand, bool marked)
{
    static std::vector<int32_t> made;
    for (int32_t index : made) delete_object(index);
    made.clear();
    if (!stand) return;
    std::vector<const object_data *> units;
    for (int32_t i = 0; i < get_object_count(); ++i)
        if (const object_data *object = get_object(i); object && object->owner == _object_is_monster)
            units.push_back(object);
    ASSERT_FALSE(units.empty()) << "the demo map has units";
    const struct
    {
        double x, y;
        bool faded;
    } spots[] = {{19.6, 12.0, false}, {20.4, 13.2, true},  {19.2, 14.0, false},
                 {21.0, 14.8, false}, {19.8, 15.6, true},  {20.6, 11.2, false}};
    for (size_t i = 0; i < std::size(spots); ++i)
    {
        const int32_t index = copy_of_unit(units[i % units.size()], spots[i].x, spots[i].y);
        object_data *copy = get_object(index);
        ASSERT_NE(copy, nullptr);
        made.push_back(index);
        if (spots[i].faded)
        {
            copy->transfer_mode = _transfer_mode_transparent_fade_out;
            copy->transfer_period = 2, copy->transfer_phase = 1; // halfway
        }
        if (marked) copy->flags |= _object_is_selected_flag;
    }
}

TEST_F(opengl_scene, frames_agree_with_the_software_renderer)
{
    // The golden frames' cameras, all after one tick (the units' sight has
    // filled the fog of war), and three scenes of their own: the colour map on
    // level ground; sprites, opaque and faded, on a slope seen over the ridge
    // before it; the watchtower's triangles with selection boxes and bars.
    // Both renderers draw the same state.
    const struct
    {
        const char *name;
        render_camera camera;
        bool objects;
        void (*arrange)(bool);
    } views[] = {
        {"demo_objects", {5, 1, 4, 38, -18, 0}, true, nullptr},
        {"shore_oblique", {2, 30, 5, -40, -35, 0}, false, nullptr},
        {"plain_down", {5, 12, 8, 90, -90, 0}, false, nullptr},
        {"demo_units", {5, 10, 3, 90, -35, 0}, true, nullptr},
        {"flat_colour_map", {20, 28, 3, -90, -35, 0}, false, flatten_ground},
        {"sprites_behind_ridge", {14.5, 14, 1.05, 0, -8, 0}, true, [](bool on) { stand_copies_on_the_slope(on, false); }},
        {"models_and_rectangles", {6, 22, 4, -40, -14, 0}, true, [](bool on) { stand_copies_on_the_slope(on, true); }},
    };
    const size_t count = std::size(views);
    ASSERT_TRUE(start_map(kWidth, kHeight, 1));
    std::vector<uint8_t> software[std::size(views)], opengl[std::size(views)];
    for (int32_t pass = 0; pass < 2; ++pass)
    {
        // The software frames first: the rasterizer's start may move the terrain to its tile cache.
        if (pass == 1)
        {
            ASSERT_TRUE(start_gl(kWidth, kHeight));
        }
        for (size_t i = 0; i < count; ++i)
        {
            if (views[i].arrange) views[i].arrange(true);
            const render_frame_options options = {kWidth, kHeight, true, !views[i].objects};
            bitmap_data *buffer = pass == 0 ? new_render_back_buffer(kWidth, kHeight) : nullptr;
            view_data frame_view;
            build_render_camera_view(&frame_view, &views[i].camera, &options, buffer);
            frame_view.game_ticks_elapsed = 1;
            // A local tick of its own, as a new frame of the game has: the
            // tile cache then builds its pages with this frame's shadows.
            frame_view.tick_count += (int32_t)i;
            if (pass == 0)
            {
                render_camera_view(&frame_view);
                ASSERT_TRUE(render_back_buffer_to_rgb(buffer, &software[i]));
                free(buffer);
            }
            else
            {
                set_vertex_capture_procedure(count_terrain_draws);
                ASSERT_TRUE(render_camera_view_opengl(&frame_view, &opengl[i]));
                set_vertex_capture_procedure(nullptr);
            }
            if (views[i].arrange) views[i].arrange(false);
        }
    }
    printf("the frames and their differences are kept in %s\n", artefacts.c_str());
    for (size_t i = 0; i < count; ++i)
    {
        SCOPED_TRACE(views[i].name);
        double mean[3], close_share;
        std::vector<uint8_t> difference;
        compare(software[i], opengl[i], mean, &close_share, &difference);
        const std::string stem = artefacts + "/" + views[i].name;
        keep(stem + "_software.png", software[i], kWidth, kHeight);
        keep(stem + "_opengl.png", opengl[i], kWidth, kHeight);
        keep(stem + "_difference.png", difference, kWidth / 2, kHeight / 2);
        printf("%s: mean difference %.2f %.2f %.2f, %.2f%% of pixels within %d\n", views[i].name, mean[0], mean[1],
               mean[2], 100.0 * close_share, kPixelBound);
        if (terrain_draws == 0) continue;
        for (double m : mean) EXPECT_LE(m, kMeanBound);
        EXPECT_GE(close_share, kCloseShare);
    }
    if (terrain_draws == 0) GTEST_SKIP() << "the terrain is not drawn through OpenGL in this build: bounds not checked";
}

// ---- units up close: each unit's pixels where the software renderer puts them ----------------

const int16_t kCloseWidth = 640, kCloseHeight = 480;

// The demo's units after one tick and the middle of the first one's
// neighbours (within three cells), in cells.
std::vector<int32_t> units_and_their_middle(double middle[3])
{
    const std::vector<int32_t> units = unit_objects();
    middle[0] = middle[1] = middle[2] = 0;
    if (units.empty()) return units;
    const world_point3d first = get_object(units[0])->location.position;
    int32_t near = 0;
    for (int32_t unit : units)
        if (const world_point3d &p = get_object(unit)->location.position;
            std::abs(p.x - first.x) < 3 * 512 && std::abs(p.y - first.y) < 3 * 512)
            middle[0] += p.x / 512.0, middle[1] += p.y / 512.0, middle[2] += p.z / 512.0, ++near;
    for (int32_t c = 0; c < 3; ++c) middle[c] /= near;
    return units;
}

// An object's box in the software frame `a` and the OpenGL frame `b` agree
// within 3 pixels on every side.
void expect_boxes_within_3_pixels(const pixel_box &a, const pixel_box &b, const std::string &what)
{
    EXPECT_TRUE(std::abs(a.left - b.left) <= 3 && std::abs(a.top - b.top) <= 3 && std::abs(a.right - b.right) <= 3 &&
                std::abs(a.bottom - b.bottom) <= 3)
        << what << ": software " << a.left << "," << a.top << "-" << a.right << "," << a.bottom << ", OpenGL "
        << b.left << "," << b.top << "-" << b.right << "," << b.bottom;
}

// One close frame of `camera`: software (pass 0) or OpenGL (pass 1), with
// `view_flags` added to the view's.
bool draw_close(int32_t pass, const render_camera &camera, std::vector<uint8_t> *rgb, uint32_t view_flags = 0)
{
    const render_frame_options options = {kCloseWidth, kCloseHeight, true, false};
    bitmap_data *buffer = pass == 0 ? new_render_back_buffer(kCloseWidth, kCloseHeight) : nullptr;
    view_data view;
    build_render_camera_view(&view, &camera, &options, buffer);
    view.flags |= view_flags;
    view.game_ticks_elapsed = 1;
    if (pass == 1) return render_camera_view_opengl(&view, rgb);
    render_camera_view(&view);
    const bool drawn = render_back_buffer_to_rgb(buffer, rgb);
    free(buffer);
    return drawn;
}

TEST_F(opengl_scene, units_up_close_stand_where_the_software_renderer_puts_them)
{
    // As a player zooms in: above the units, along the ground and from high
    // above.  Each unit's box in the OpenGL frame is the software frame's
    // within 3 pixels.
    ASSERT_TRUE(start_map(kCloseWidth, kCloseHeight, 1));
    double m[3];
    const std::vector<int32_t> units = units_and_their_middle(m);
    ASSERT_GE(units.size(), 3u);
    const struct
    {
        const char *name;
        render_camera camera;
    } views[] = {
        {"above", {m[0] - 3.0, m[1], m[2] + 1.3, 0, -22, 0}},
        {"along_the_ground", {m[0] - 3.5, m[1], m[2] + 0.35, 0, -3, 0}},
        {"high_above", {m[0] - 0.6, m[1], m[2] + 3.5, 0, -78, 0}},
    };
    std::vector<pixel_box> boxes[2][std::size(views)]; // software, OpenGL
    for (int32_t pass = 0; pass < 2; ++pass)
    {
        if (pass == 1)
        {
            ASSERT_TRUE(start_gl(kCloseWidth, kCloseHeight));
        }
        for (size_t v = 0; v < std::size(views); ++v)
            boxes[pass][v] = object_pixel_boxes(units, kCloseWidth, kCloseHeight, [&](std::vector<uint8_t> *rgb) {
                return draw_close(pass, views[v].camera, rgb);
            });
    }
    for (size_t v = 0; v < std::size(views); ++v)
    {
        SCOPED_TRACE(views[v].name);
        ASSERT_EQ(boxes[0][v].size(), units.size());
        ASSERT_EQ(boxes[1][v].size(), units.size());
        int32_t seen = 0;
        for (size_t u = 0; u < units.size(); ++u)
        {
            const pixel_box &a = boxes[0][v][u], &b = boxes[1][v][u];
            EXPECT_EQ(a.empty(), b.empty()) << "unit " << units[u] << " shown by one renderer only";
            if (a.empty() || b.empty()) continue;
            ++seen;
            expect_boxes_within_3_pixels(a, b, "unit " + std::to_string(units[u]));
        }
        EXPECT_GE(seen, 2) << "the camera shows units up close";
    }
}

TEST_F(opengl_scene, a_sprite_waist_deep_in_the_lake_is_cut_at_the_surface_as_in_software)
{
    // A copy of a unit in the lake with the surface at its middle: above it
    // the sprite as usual, below it only faint, so both renderers show the
    // upper half, in the same rows.  (Without reflections: the mirror image
    // is as bright as the sprite's faint part is not.)
    ASSERT_TRUE(start_map(kCloseWidth, kCloseHeight, 1));
    const std::vector<int32_t> units = unit_objects();
    ASSERT_FALSE(units.empty());
    const int32_t wader = copy_of_unit(get_object(units[0]), 10.5, 21.0);
    object_data *copy = get_object(wader);
    ASSERT_NE(copy, nullptr);
    const int32_t instance_index = get_sequence_instance_index(
        copy->shape_collection_index, copy->shape_sequence_index, copy->shape_view_index, copy->shape_frame_index);
    const bitmap_instance_data *instance =
        instance_index == NONE ? nullptr : get_bitmap_instance(copy->shape_collection_index, instance_index);
    ASSERT_NE(instance, nullptr);
    const int32_t middle = ((instance->world_top + instance->world_bottom) / 2 * copy->scale) >> 8;
    const world_point3d &at = copy->location.position;
    copy->location.position.z = (world_distance)(get_mesh_cell(at.x >> 9, at.y >> 9)->media_height - middle);

    const render_camera camera = {10.5, 18.0, 0.6, 90, -8, 0}; // the smoke by the shed out of sight
    const uint32_t no_reflections = _render_view_omit_reflections_flag;
    pixel_box boxes[2];
    for (int32_t pass = 0; pass < 2; ++pass)
    {
        if (pass == 1) { ASSERT_TRUE(start_gl(kCloseWidth, kCloseHeight)); }
        const std::vector<pixel_box> drawn = object_pixel_boxes(
            {wader}, kCloseWidth, kCloseHeight,
            [&](std::vector<uint8_t> *rgb) { return draw_close(pass, camera, rgb, no_reflections); });
        ASSERT_EQ(drawn.size(), 1u);
        boxes[pass] = drawn[0];
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(draw_close(pass, camera, &rgb, no_reflections));
        keep(artefacts + (pass ? "/wader_opengl.png" : "/wader_software.png"), rgb, kCloseWidth, kCloseHeight);
    }
    ASSERT_FALSE(boxes[0].empty() || boxes[1].empty()) << "the copy is in view";
    expect_boxes_within_3_pixels(boxes[0], boxes[1], "the copy");
}

TEST_F(opengl_scene, sprites_of_bad_bitmaps_are_skipped_and_told_once)
{
    // The first unit's frame (every view of it) given a bitmap no renderer can
    // place; the map is started afresh for each case, so each case's bitmaps
    // are told anew.  Two frames of each renderer: each bitmap's line once.
    const struct
    {
        const char *name;
        int16_t width, height; // 0: unchanged
        int16_t registration_x, registration_y; // added
    } cases[] = {
        {"zero_width", -1, 0, 0, 0},
        {"zero_height", 0, -1, 0, 0},
        {"huge", 30000, 30000, 0, 0},
        {"registration_far_outside", 0, 0, 20000, -9000},
    };
    ASSERT_TRUE(open_log_file_at("sprites.log", "sprite faults"));
    for (const auto &planted : cases)
    {
        SCOPED_TRACE(planted.name);
        // (The texture cache keeps the old map's bitmaps: it goes with it.)
        if (gl_started) stop_gl_render_harness(), gl_started = false;
        ASSERT_TRUE(start_map(kCloseWidth, kCloseHeight, 1));
        ASSERT_TRUE(start_gl(kCloseWidth, kCloseHeight));
        double m[3];
        const std::vector<int32_t> units = units_and_their_middle(m);
        ASSERT_FALSE(units.empty());
        const object_data *unit = get_object(units[0]);
        const sequence_data *sequence = get_sequence(unit->shape_collection_index, unit->shape_sequence_index);
        ASSERT_NE(sequence, nullptr);
        for (int32_t view = 0; view < sequence->number_of_views; ++view)
        {
            const int32_t index = get_sequence_instance_index(unit->shape_collection_index, unit->shape_sequence_index,
                                                              view, unit->shape_frame_index);
            auto *instance = const_cast<bitmap_instance_data *>(get_bitmap_instance(unit->shape_collection_index, index));
            bitmap_data *bitmap = get_bitmap(unit->shape_collection_index, instance->bitmap_index);
            ASSERT_NE(bitmap, nullptr);
            // For good: the next case starts the map again.
            if (planted.width) bitmap->width = std::max<int16_t>(planted.width, 0);
            if (planted.height) bitmap->height = std::max<int16_t>(planted.height, 0);
            instance->registration_point.x = (int16_t)(instance->registration_point.x + planted.registration_x);
            instance->registration_point.y = (int16_t)(instance->registration_point.y + planted.registration_y);
            instance->highres_registration_point = instance->registration_point;
        }
        const long logged_before = (long)fs::file_size("sprites.log");
        const render_camera camera = {m[0] - 3.0, m[1], m[2] + 1.3, 0, -22, 0};
        for (int32_t pass = 0; pass < 2; ++pass)
        {
            const std::vector<pixel_box> boxes = object_pixel_boxes(
                {units[0]}, kCloseWidth, kCloseHeight, [&](std::vector<uint8_t> *rgb) {
                    return draw_close(pass, camera, rgb) && draw_close(pass, camera, rgb);
                });
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_TRUE(boxes[0].empty()) << (pass ? "OpenGL" : "software") << " drew the unit";
        }
        // The lines this case wrote: one per bitmap, at least one.
        const std::string log = read_whole_file("sprites.log");
        ASSERT_GT(log.size(), (size_t)logged_before);
        std::vector<std::string> told;
        for (size_t at = log.find("sprite bitmap #", logged_before); at != std::string::npos; at = log.find("sprite bitmap #", at + 1))
            told.push_back(log.substr(at, log.find(" not drawn", at) - at));
        EXPECT_FALSE(told.empty());
        std::sort(told.begin(), told.end());
        EXPECT_EQ(std::adjacent_find(told.begin(), told.end()), told.end()) << "a bitmap told twice";
    }
    close_log_file();
}

// ---- the passes on surfaces made here ---------------------------------------------------

struct surface_maker
{
    std::vector<render_vertex> vertices = std::vector<render_vertex>(64);
    int32_t next_vertex = 0;

    render_triangle triangle(int32_t subtype, uint32_t flags, const int32_t (*corners)[3], uint32_t identifier = 0)
    {
        render_triangle t = {};
        t.header.z = corners[0][2];
        t.header.packed = pack_surface_word(flags, _surface_type_triangle, subtype);
        for (int32_t i = 0; i < 3; ++i)
        {
            render_vertex *v = &vertices[(size_t)next_vertex++];
            v->p = {corners[i][0], corners[i][1], corners[i][2]};
            t.corners[i].vertex = v;
        }
        // The texture's corner, its right and its bottom.
        t.corners[1].interpolants[_texture_u] = t.corners[2].interpolants[_texture_v] = (int16_t)65535;
        t.bitmap_identifier = identifier;
        t.detail = 1u << 30; // the plain base, with or without detail layers
        return t;
    }
};

render_rectangle sprite(uint32_t identifier, int32_t z, uint32_t flags = 0)
{
    render_rectangle r = {};
    r.header.z = z;
    r.header.obj_view_y = -200;
    r.header.packed = pack_surface_word(flags, _surface_type_rectangle, _surface_subtype_object_rectangle);
    r.viewer_rect = {-100, 200, 100, -200};
    r.viewer_clip_top = 32767;
    r.viewer_clip_bottom = -32768;
    r.bitmap_identifier = identifier;
    return r;
}

render_filled_rectangle box(int16_t x0, int16_t y0, int16_t x1, int16_t y1, int32_t z, uint16_t transparency)
{
    render_filled_rectangle b = {};
    b.header.z = z;
    b.header.transparency = transparency;
    b.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_filled_rectangle);
    b.x0 = x0, b.x1 = x1, b.y0 = y0, b.y1 = y1, b.clip_top = -32768, b.clip_bottom = 32767;
    b.color = {65535, 32768, 0, 0};
    return b;
}

// Links the surfaces far to near and fills the categories given (any other empty).
render_surface_list list_of(std::vector<render_surface *> far_to_near,
                            std::vector<std::pair<int32_t, std::vector<render_surface *> *>> categories = {})
{
    render_surface_list list = {};
    for (render_surface *surface : far_to_near)
    {
        surface->previous_surface = nullptr;
        surface->next_surface = list.first_surface;
        if (list.first_surface) list.first_surface->previous_surface = surface;
        else list.last_surface = surface;
        list.first_surface = surface;
        ++list.surface_count;
    }
    for (surface_category &category : surface_categories) category.count = 0, category.sorted = false;
    for (auto &[index, surfaces] : categories)
    {
        surface_categories[index].surfaces = surfaces->data();
        surface_categories[index].count = (uint32_t)surfaces->size();
    }
    return list;
}

std::vector<uint8_t> draw_scene(view_data *view, render_surface_list list)
{
    rasterize_scene_opengl(view, &list);
    for (surface_category &category : surface_categories) category.count = 0;
    return read_frame();
}

TEST_F(opengl_scene, passes_draw_what_they_are_handed)
{
    ASSERT_TRUE(start_small_scene());
    const opengl_preferences saved = gl_prefs;
    set_vertex_capture_procedure(capture);
    const auto drawn = [&](render_surface *surface) {
        draws.clear();
        const int32_t subtype = surface_word_subtype(surface->packed);
        if (subtype == _surface_subtype_object_rectangle) rasterize_opengl_rectangle(&view, surface);
        else if (subtype == _surface_subtype_object_shadow) rasterize_opengl_shadow(&view, surface);
        else rasterize_opengl_filled_rectangle(&view, surface);
        return draws;
    };

    // Sprites: mirrors, clipped rows, transparency.
    set_opengl_object_depth_modes(_depth_mode_test);
    render_rectangle plain = sprite(sprites[0], -2000);
    const std::vector<captured_draw> base = drawn(&plain.header);
    ASSERT_EQ(base.size(), 1u);
    ASSERT_EQ(base[0].vertices.size(), 4u);
    EXPECT_EQ(base[0].vertices[0].color[3], 255);
    const float u_left = base[0].vertices[0].texcoord[0], u_right = base[0].vertices[3].texcoord[0];
    const float v_top = base[0].vertices[0].texcoord[1], v_bottom = base[0].vertices[1].texcoord[1];
    EXPECT_LT(u_left, u_right);
    render_rectangle mirrored = sprite(sprites[0], -2000, _surface_mirror_horizontal_flag);
    const std::vector<captured_draw> m = drawn(&mirrored.header);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].vertices[0].texcoord[0], u_right);
    EXPECT_EQ(m[0].vertices[3].texcoord[0], u_left);
    // The top quarter clipped away, upside down: what remains comes from the
    // texture's top three quarters, shown bottom first.
    render_rectangle clipped = sprite(sprites[0], -2000, _surface_mirror_vertical_flag);
    clipped.viewer_clip_top = 100;
    const std::vector<captured_draw> c = drawn(&clipped.header);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_NEAR(c[0].vertices[0].texcoord[1], v_top + 0.75f * (v_bottom - v_top), 1e-5);
    EXPECT_NEAR(c[0].vertices[1].texcoord[1], v_top, 1e-5);
    render_rectangle above = plain, thin = plain, invisible = plain;
    above.viewer_clip_top = -300;
    thin.viewer_rect.right = thin.viewer_rect.left;
    EXPECT_TRUE(drawn(&above.header).empty()) << "entirely above its clip row";
    EXPECT_TRUE(drawn(&thin.header).empty()) << "zero width";
    invisible.header.transparency = 65535;
    render_filled_rectangle clear_box = box(10, 10, 40, 30, 0, 65535);
    for (render_surface *surface : {&invisible.header, &clear_box.header})
    {
        const std::vector<captured_draw> d = drawn(surface);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0].vertices[0].color[3], 0);
    }
    EXPECT_EQ(draws[0].state.depth_mode, _depth_mode_none) << "a filled rectangle at z 0";

    // A sprite's shadow: its parallelogram from the foot edge (the bitmap's
    // bottom row) to the top edge, black at the surface's opacity; nothing
    // for one without height.
    render_shadow_rectangle shade = {};
    shade.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_object_shadow);
    shade.header.transparency = 32767;
    shade.header.z = -2000;
    shade.clip_top = -32768, shade.clip_bottom = 32767;
    shade.bitmap_identifier = sprites[0];
    shade.foot_left = 100 << 16, shade.foot_right = 140 << 16, shade.foot_row = 150 << 16;
    shade.top_left = 130 << 16, shade.top_right = 170 << 16, shade.top_row = 130 << 16;
    const std::vector<captured_draw> cast = drawn(&shade.header);
    ASSERT_EQ(cast.size(), 1u);
    const rendervert_t &foot = cast[0].vertices[0], &top = cast[0].vertices[1];
    EXPECT_EQ(std::vector<int32_t>({foot.position[0], foot.position[1], top.position[0], top.position[1]}),
              std::vector<int32_t>({100, 150, 130, 130}));
    EXPECT_NEAR(foot.texcoord[1], v_bottom, 1e-5);
    EXPECT_NEAR(top.texcoord[1], v_top, 1e-5);
    EXPECT_EQ(foot.color[0] | foot.color[1] | foot.color[2], 0);
    EXPECT_EQ(foot.color[3], 128);
    shade.top_row = shade.foot_row;
    EXPECT_TRUE(drawn(&shade.header).empty());

    // Opaque objects: one draw per texture.
    surface_maker maker;
    const int32_t small[3][3] = {{-50, -50, -3000}, {50, -50, -3000}, {0, 50, -3000}};
    std::vector<render_triangle> triangles;
    for (int32_t i = 0; i < 6; ++i)
        triangles.push_back(maker.triangle(_surface_subtype_object_triangle, 0, small, sprites[(size_t)(i % 2)]));
    std::vector<render_surface *> opaque;
    for (render_triangle &t : triangles) opaque.push_back(&t.header);
    list_of({}, {{_surface_category_opaque_objects, &opaque}});
    draws.clear();
    rasterize_surface_category(&view, &surface_categories[_surface_category_opaque_objects], 8192, true, 0x1fffffff,
                               rasterize_model_texture_chunk);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].vertices.size() + draws[1].vertices.size(), 18u);
    EXPECT_NE(draws[0].state.textures[0], draws[1].state.textures[0]);

    // Without erasing or depth an empty list leaves the frame as it was; a
    // discarded mesh triangle is still drawn, a discarded sprite is not.
    gl_prefs.ErasePreviousFrame = false;
    gl_prefs.UseDepthTest = false;
    set_clear_color_opengl(0x0000FF);
    gl.Clear(GL_COLOR_BUFFER_BIT);
    render_filled_rectangle half = box(0, 0, kSmallWidth / 2, kSmallHeight, 0, 0);
    rasterize_opengl_filled_rectangle(&view, &half.header);
    const std::vector<uint8_t> before = read_frame();
    EXPECT_TRUE(before == draw_scene(&view, list_of({})));
    EXPECT_EQ(before[0], 255);
    EXPECT_EQ(before.back(), 255);
    render_triangle mesh = maker.triangle(_surface_subtype_mesh_triangle, _surface_discarded_flag, small);
    render_rectangle hidden = sprite(sprites[0], -2000, _surface_discarded_flag);
    draws.clear();
    draw_scene(&view, list_of({&mesh.header, &hidden.header}));
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].state.shader_mode, _shader_fixed_multitexture);
    gl_prefs = saved;
    set_vertex_capture_procedure(nullptr);

    // A translucent sprite behind the terrain is hidden by the mesh's depth
    // flattened to its sort distance, and nothing is tested against the last
    // frame's depth.
    const int32_t near_wall[3][3] = {{-30000, -30000, -1000}, {30000, -30000, -1000}, {0, 30000, -1000}};
    const int32_t far_wall[3][3] = {{-300000, -300000, -10000}, {300000, -300000, -10000}, {0, 300000, -10000}};
    const auto with_wall = [&](const int32_t (*wall)[3], bool with_sprite) {
        render_triangle ground = maker.triangle(_surface_subtype_mesh_triangle, 0, wall);
        render_rectangle glass = sprite(sprites[0], -4000);
        glass.viewer_rect = {-1500, 1500, 1500, -1500};
        glass.header.obj_view_y = -1500;
        glass.header.transparency = 16384;
        std::vector<render_surface *> terrain = {&ground.header}, translucent = {&glass.header};
        if (!with_sprite) translucent.clear();
        return draw_scene(&view, list_of({&ground.header}, {{_surface_category_mesh, &terrain},
                                                            {_surface_category_translucent_objects, &translucent}}));
    };
    gl_prefs.ErasePreviousFrame = true;
    const std::vector<uint8_t> near_with = with_wall(near_wall, true), far_with = with_wall(far_wall, true);
    EXPECT_TRUE(near_with == with_wall(near_wall, false)) << "the sprite shows through";
    EXPECT_FALSE(far_with == with_wall(far_wall, false)) << "the sprite is not drawn at all";
    gl_prefs.ErasePreviousFrame = false;
    const int32_t wide[3][3] = {{-900, -600, -3000}, {900, -600, -3000}, {0, 900, -3000}};
    const auto opaque_after = [&](const int32_t (*wall)[3]) {
        with_wall(wall, false);
        set_clear_color_opengl(0);
        gl.Clear(GL_COLOR_BUFFER_BIT);
        render_triangle object = maker.triangle(_surface_subtype_object_triangle, 0, wide, sprites[0]);
        std::vector<render_surface *> objects = {&object.header};
        return draw_scene(&view, list_of({&object.header}, {{_surface_category_opaque_objects, &objects}}));
    };
    const std::vector<uint8_t> after_far = opaque_after(far_wall);
    EXPECT_GT(std::count_if(after_far.begin(), after_far.end(), [](uint8_t v) { return v > 16; }), 100);
    EXPECT_TRUE(opaque_after(near_wall) == after_far);
    gl_prefs = saved;
}

// A model triangle, sprites and a filled rectangle, apart in depth: the shader
// path, the fixed-function path and the depthless path draw the same picture.
TEST_F(opengl_scene, the_three_paths_agree_without_interpenetration)
{
    ASSERT_TRUE(start_small_scene());
    const auto draw = [&](void) {
        surface_maker maker;
        const int32_t wedge[3][3] = {{-900, -600, -3000}, {300, -600, -3000}, {-300, 500, -3000}};
        render_triangle object = maker.triangle(_surface_subtype_model_triangle, 0, wedge, model);
        render_rectangle far_sprite = sprite(sprites[0], -6000);
        far_sprite.viewer_rect = {-1500, 1200, 1500, -1800};
        far_sprite.header.obj_view_y = -1800;
        render_rectangle near_sprite = sprite(sprites[1], -2500, _surface_mirror_horizontal_flag);
        near_sprite.viewer_rect = {-200, 300, 500, -900};
        near_sprite.header.obj_view_y = -900;
        render_filled_rectangle mark = box(100, 60, 180, 100, -1000, 32768);
        std::vector<render_surface *> opaque = {&object.header},
                                      translucent = {&far_sprite.header, &near_sprite.header, &mark.header};
        gl_prefs.ErasePreviousFrame = true;
        return draw_scene(&view, list_of({&far_sprite.header, &object.header, &near_sprite.header, &mark.header},
                                         {{_surface_category_opaque_objects, &opaque},
                                          {_surface_category_translucent_objects, &translucent}}));
    };
    const std::vector<uint8_t> shaders = draw();
    keep(artefacts + "/paths_shaders.png", shaders, kSmallWidth, kSmallHeight);
    EXPECT_GT(std::count_if(shaders.begin(), shaders.end(), [](uint8_t v) { return v > 16; }), 3000);
    for (const char *path : {"UseShaders", "UseDepthTest"})
    {
        SCOPED_TRACE(path);
        const std::string settings = std::string("[Renderer.OpenGL]\n") + path + "=0\n";
        ASSERT_TRUE(load_poweruser_settings_from_buffer(settings.data(), settings.size()));
        ASSERT_TRUE(restart_gl_render_harness());
        const std::vector<uint8_t> other = draw();
        keep(artefacts + "/paths_without_" + path + ".png", other, kSmallWidth, kSmallHeight);
        ASSERT_EQ(other.size(), shaders.size());
        double total = 0;
        size_t far_off = 0;
        for (size_t i = 0; i < other.size(); ++i)
        {
            const int32_t d = std::abs((int32_t)other[i] - (int32_t)shaders[i]);
            total += d;
            far_off += d > 24;
        }
        EXPECT_LE(total / (double)other.size(), 1.5);
        EXPECT_LE((double)far_off / (double)other.size(), 0.005);
    }
}

// Consecutive sprites of one texture go to OpenGL in one draw and look as
// they do drawn one by one; the depth buffer is written a second time only
// when translucent objects are to be tested against it.
TEST_F(opengl_scene, sprites_share_draws_and_the_depth_pass_serves_translucent_objects)
{
    ASSERT_TRUE(start_small_scene());
    const uint32_t a = sprites[0], b = sprites[1];
    const struct
    {
        std::vector<uint32_t> textures;
        bool box_after_second; // a filled rectangle between the second and third sprite
        size_t draws;
    } cases[] = {
        {{a, a, a}, false, 1},
        {{a, a, b, b, a}, false, 3},
        {{a, a, a}, true, 3},
        {std::vector<uint32_t>(MAXIMUM_RENDER_VERTS / 4 + 1, a), false, 2}, // one past the vertex array
    };
    set_vertex_capture_procedure(capture);
    set_opengl_object_depth_modes(_depth_mode_none);
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.textures.size() << " sprites, " << c.draws << " draws");
        // Overlapping and half transparent, so that the order shows.
        std::vector<render_rectangle> quads;
        for (size_t i = 0; i < c.textures.size(); ++i)
        {
            render_rectangle r = sprite(c.textures[i], -2000);
            const int32_t left = -400 + 150 * (int32_t)(i % 5);
            r.viewer_rect = {left, 200, left + 300, -200};
            r.header.transparency = 20000;
            quads.push_back(r);
        }
        render_filled_rectangle mark = box(60, 40, 200, 120, 0, 32768);
        std::vector<render_surface *> surfaces;
        for (size_t i = 0; i < quads.size(); ++i)
        {
            surfaces.push_back(&quads[i].header);
            if (c.box_after_second && i == 1) surfaces.push_back(&mark.header);
        }
        set_clear_color_opengl(0x204060);
        gl.Clear(GL_COLOR_BUFFER_BIT);
        for (render_surface *surface : surfaces)
            if (surface == &mark.header) rasterize_opengl_filled_rectangle(&view, surface);
            else rasterize_opengl_rectangle(&view, surface);
        const std::vector<uint8_t> one_by_one = read_frame();
        gl.Clear(GL_COLOR_BUFFER_BIT);
        draws.clear();
        rasterize_translucent(&view, surfaces.data(), (int32_t)surfaces.size());
        EXPECT_EQ(draws.size(), c.draws);
        EXPECT_TRUE(read_frame() == one_by_one);
    }

    surface_maker maker;
    const int32_t wall[3][3] = {{-30000, -30000, -1000}, {30000, -30000, -1000}, {0, 30000, -1000}};
    render_triangle ground = maker.triangle(_surface_subtype_mesh_triangle, 0, wall);
    render_rectangle glass = sprite(a, -800);
    for (const bool with_sprite : {false, true})
    {
        std::vector<render_surface *> terrain = {&ground.header}, translucent = {&glass.header};
        if (!with_sprite) translucent.clear();
        draws.clear();
        draw_scene(&view, list_of({&ground.header}, {{_surface_category_mesh, &terrain},
                                                     {_surface_category_translucent_objects, &translucent}}));
        const bool depth_pass = std::any_of(draws.begin(), draws.end(), [](const captured_draw &d) {
            return d.state.shader_mode == _shader_depth;
        });
        EXPECT_EQ(depth_pass, with_sprite);
    }
    set_vertex_capture_procedure(nullptr);
}

} // namespace

} // namespace opengl_scene_test_file
