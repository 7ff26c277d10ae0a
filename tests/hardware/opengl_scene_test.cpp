// The battlefield frame through OpenGL on Mesa's software driver in an Xvfb
// of the test's own: the demo frames against the software renderer's within
// the bounds of docs/architecture.md, and the scene's passes on surfaces made
// here (what each draw is handed, through the vertex capture, and what the
// depth buffer lets through).

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
#include "determinism_harness.h"
#include "gl_render_harness.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/render_opengl_scene.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "iniparser3.0b/inifile.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "render/render_surfaces.h"
#include "render_harness.h"
#include "screen.h"
#include "screen_preferences.h"
#include "support/demo_data.h"
#include "support/x_server.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace fs = std::filesystem;

namespace {

// ---- upright distances (pure) ------------------------------------------------------

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

        // The plane holds the object's point and the view's x axis and the up
        // direction; the ray leaves the eye through (0, y, z).
        const double normal[3] = {0.0, -up[2], up[1]}; // x axis cross up
        const double point[3] = {0.0, (double)object_y, (double)z};
        const auto expected = [&](int32_t y, double *distance) {
            const double ray[3] = {0.0, (double)y, (double)z};
            const double along = normal[1] * ray[1] + normal[2] * ray[2];
            const double reach = normal[1] * point[1] + normal[2] * point[2];
            if (std::fabs(along) < 1e-3 * std::fabs(reach) + 1.0) return false; // grazing: too ill-conditioned
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

// ---- the display and the demo map ---------------------------------------------------------

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

class opengl_scene : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char working[4096];
        previous = getcwd(working, sizeof(working)) ? working : "/";
        artefacts = (fs::path(previous) / "artefacts" / "opengl_scene").string();
        const std::string tool = data_tool_path();
        if (!fs::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
        std::string why;
        if (!server.start(&why, "1280x1024x24")) SKIP_OR_FAIL_UNDER_CI("no X server: " + why);
        setenv("DISPLAY", server.display.c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
#if defined(__SANITIZE_ADDRESS__)
        // The driver and SDL keep what they load; the leak checker cannot name it.
        __lsan_disable();
#endif
        directory = enter_test_directory();
        ASSERT_TRUE(write_demo_data_set(tool));
        prefs.texture_cache_size = 64;
        prefs.flags = _screen_pref_32bit_flag; // detail maps off
    }
    void TearDown() override
    {
        set_vertex_capture_procedure(nullptr);
        if (gl_started) stop_gl_render_harness();
        stop_simulation();
        if (!previous.empty() && chdir(previous.c_str()) != 0) abort();
        if (!directory.empty()) fs::remove_all(directory);
        server.stop();
    }

    bool start_map(int16_t width, int16_t height, int32_t ticks)
    {
        stop_simulation();
        set_render_harness_screen(32, width, height);
        char reason[256];
        const bool started = start_simulation(nullptr, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 0, reason, sizeof(reason));
        EXPECT_TRUE(started) << reason;
        if (started && ticks > 0)
        {
            EXPECT_TRUE(run_simulation(ticks, nullptr, 0, nullptr, nullptr));
        }
        return started;
    }
    bool start_gl(int16_t width, int16_t height)
    {
        const char *why = nullptr;
        gl_started = start_gl_render_harness(width, height, &prefs, &why);
        if (!gl_started) ADD_FAILURE() << why;
        return gl_started;
    }
    void stop_gl(void)
    {
        if (gl_started) stop_gl_render_harness();
        gl_started = false;
    }

    own_x_server server;
    std::string previous, directory, artefacts;
    screen_parameters prefs = {};
    bool gl_started = false;
};

// ---- the frame comparison --------------------------------------------------------------

// The bounds of docs/architecture.md ("The scene renderer's frame"), after a 2 x 2 box downsample.
const double kMeanBound = 6.0;      // mean absolute difference per channel, of 255
const int32_t kPixelBound = 32;     // a pixel is close when every channel is within this ...
const double kCloseShare = 0.99;    // ... and this share of pixels is close
const int16_t kWidth = 1024, kHeight = 768;

struct comparison
{
    double mean[3];
    double close_share;
};

std::vector<int32_t> downsample(const std::vector<uint8_t> &rgb, int32_t width, int32_t height)
{
    std::vector<int32_t> out((size_t)(width / 2) * (height / 2) * 3);
    for (int32_t y = 0; y < height / 2; ++y)
        for (int32_t x = 0; x < width / 2; ++x)
            for (int32_t c = 0; c < 3; ++c)
            {
                int32_t sum = 0;
                for (int32_t dy = 0; dy < 2; ++dy)
                    for (int32_t dx = 0; dx < 2; ++dx) sum += rgb[((size_t)(2 * y + dy) * width + 2 * x + dx) * 3 + c];
                out[((size_t)y * (width / 2) + x) * 3 + c] = (sum + 2) / 4;
            }
    return out;
}

comparison compare(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, std::vector<uint8_t> *difference)
{
    const std::vector<int32_t> small_a = downsample(a, kWidth, kHeight), small_b = downsample(b, kWidth, kHeight);
    const size_t pixels = small_a.size() / 3;
    comparison result = {};
    size_t close = 0;
    difference->assign(small_a.size(), 0);
    for (size_t i = 0; i < pixels; ++i)
    {
        bool near = true;
        for (int32_t c = 0; c < 3; ++c)
        {
            const int32_t d = std::abs(small_a[i * 3 + c] - small_b[i * 3 + c]);
            result.mean[c] += d;
            near = near && d <= kPixelBound;
            (*difference)[i * 3 + c] = (uint8_t)std::min(255, d * 4);
        }
        close += near;
    }
    for (double &mean : result.mean) mean /= (double)pixels;
    result.close_share = (double)close / (double)pixels;
    return result;
}

struct frame_view
{
    const char *name;
    render_camera camera;
    bool objects;
};

// The golden frames' cameras.
const frame_view frame_views[] = {
    {"demo_objects", {5, 1, 4, 38, -18, 0}, true},
    {"shore_oblique", {2, 30, 5, -40, -35, 0}, false},
    {"plain_down", {5, 12, 8, 90, -90, 0}, false},
    {"demo_units", {5, 10, 3, 90, -35, 0}, true},
};

int32_t terrain_draws = 0;
void count_terrain_draws(uint32_t, const rendervert_t *, int32_t, const opengl_draw_state *state)
{
    if (state->shader_mode >= _shader_mesh_0 || state->shader_mode == _shader_fixed_multitexture) ++terrain_draws;
}

TEST_F(opengl_scene, demo_frames_agree_with_the_software_renderer)
{
    fs::create_directories(artefacts);
    printf("the frames and their differences are kept in %s\n", artefacts.c_str());
    bool all_drew_terrain = true;
    // Both renderers draw the same state: one start, one tick (the units'
    // view wants their sight to have filled the fog of war).
    {
        const int32_t ticks = 1;
        ASSERT_TRUE(start_map(kWidth, kHeight, ticks));
        std::vector<const frame_view *> group;
        for (const frame_view &v : frame_views) group.push_back(&v);
        std::vector<std::vector<uint8_t>> software(group.size()), opengl(group.size());
        render_frame_options options = {kWidth, kHeight, true, false};
        for (size_t i = 0; i < group.size(); ++i)
        {
            options.omit_objects = !group[i]->objects;
            bitmap_data *buffer = new_render_back_buffer(kWidth, kHeight);
            ASSERT_NE(buffer, nullptr);
            view_data view;
            build_render_camera_view(&view, &group[i]->camera, &options, buffer);
            view.game_ticks_elapsed = ticks;
            render_camera_view(&view);
            ASSERT_TRUE(render_back_buffer_to_rgb(buffer, &software[i]));
            free(buffer);
        }
        ASSERT_TRUE(start_gl(kWidth, kHeight));
        for (size_t i = 0; i < group.size(); ++i)
        {
            options.omit_objects = !group[i]->objects;
            view_data view;
            build_render_camera_view(&view, &group[i]->camera, &options, nullptr);
            view.game_ticks_elapsed = ticks;
            terrain_draws = 0;
            set_vertex_capture_procedure(count_terrain_draws);
            ASSERT_TRUE(render_camera_view_opengl(&view, &opengl[i]));
            set_vertex_capture_procedure(nullptr);
            all_drew_terrain = all_drew_terrain && terrain_draws > 0;
        }
        stop_gl();
        for (size_t i = 0; i < group.size(); ++i)
        {
            SCOPED_TRACE(group[i]->name);
            std::vector<uint8_t> difference;
            const comparison c = compare(software[i], opengl[i], &difference);
            char reason[256];
            const std::string stem = artefacts + "/" + group[i]->name;
            EXPECT_TRUE(write_rgb_png((stem + "_software.png").c_str(), software[i].data(), kWidth, kHeight, reason,
                                      sizeof(reason)));
            EXPECT_TRUE(write_rgb_png((stem + "_opengl.png").c_str(), opengl[i].data(), kWidth, kHeight, reason,
                                      sizeof(reason)));
            EXPECT_TRUE(write_rgb_png((stem + "_difference.png").c_str(), difference.data(), kWidth / 2, kHeight / 2,
                                      reason, sizeof(reason)));
            printf("%s: mean difference %.2f %.2f %.2f, %.2f%% of pixels within %d\n", group[i]->name, c.mean[0],
                   c.mean[1], c.mean[2], 100.0 * c.close_share, kPixelBound);
            if (!all_drew_terrain) continue;
            for (double mean : c.mean) EXPECT_LE(mean, kMeanBound);
            EXPECT_GE(c.close_share, kCloseShare);
        }
    }
    if (!all_drew_terrain) GTEST_SKIP() << "the terrain is not drawn through OpenGL in this build: bounds not checked";
}

// ---- the passes on surfaces made here ---------------------------------------------------

struct surface_maker
{
    std::vector<render_vertex> vertices = std::vector<render_vertex>(64);
    int32_t next_vertex = 0;

    render_triangle triangle(int32_t subtype, uint32_t flags, int32_t z, const int32_t (*corners)[3],
                             uint32_t identifier = 0)
    {
        render_triangle t = {};
        t.header.z = z;
        t.header.packed = pack_surface_word(flags, _surface_type_triangle, subtype);
        for (int32_t i = 0; i < 3; ++i)
        {
            render_vertex *v = &vertices[(size_t)next_vertex++];
            v->p = {corners[i][0], corners[i][1], corners[i][2]};
            t.corners[i].vertex = v;
        }
        t.bitmap_identifier = identifier;
        return t;
    }
};

render_rectangle sprite(uint32_t identifier, int32_t z)
{
    render_rectangle r = {};
    r.header.z = z;
    r.header.obj_view_y = -200;
    r.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_object_rectangle);
    r.viewer_rect = {-100, 200, 100, -200};
    r.viewer_clip_top = 32767;
    r.viewer_clip_bottom = -32768;
    r.bitmap_identifier = identifier;
    return r;
}

// Links the surfaces far to near and empties every category.
render_surface_list list_of(std::vector<render_surface *> far_to_near)
{
    render_surface_list list = {};
    render_surface *previous = nullptr;
    for (render_surface *surface : far_to_near)
    {
        surface->next_surface = nullptr;
        surface->previous_surface = nullptr;
        if (previous) previous->previous_surface = surface, surface->next_surface = previous;
        else list.last_surface = surface;
        list.first_surface = surface;
        previous = surface;
        ++list.surface_count;
    }
    for (surface_category &category : surface_categories) category.count = 0, category.sorted = false;
    return list;
}

std::vector<uint8_t> read_frame(int16_t width, int16_t height)
{
    const rectangle2d whole = {0, 0, height, width};
    bitmap_data *pixels = copy_bits_from_opengl_render_buffer(&whole);
    std::vector<uint8_t> rgb;
    if (pixels) render_back_buffer_to_rgb(pixels, &rgb);
    free(pixels);
    return rgb;
}

TEST_F(opengl_scene, passes_draw_what_they_are_handed)
{
    const int16_t width = 256, height = 192;
    ASSERT_TRUE(start_map(width, height, 0));
    ASSERT_TRUE(start_gl(width, height));
    render_frame_options options = {width, height, true, false};
    view_data view;
    build_render_camera_view(&view, &frame_views[0].camera, &options, nullptr);
    std::vector<uint8_t> ignored;
    ASSERT_TRUE(render_camera_view_opengl(&view, &ignored));
    // Two sprites' bitmaps of the demo frame serve as textures below.
    std::vector<uint32_t> identifiers;
    for (const surface_category &category : surface_categories)
        for (uint32_t i = 0; i < category.count; ++i)
        {
            const render_surface *surface = category.surfaces[i];
            if (surface_word_subtype(surface->packed) != _surface_subtype_object_rectangle) continue;
            const uint32_t identifier = reinterpret_cast<const render_rectangle *>(surface)->bitmap_identifier;
            if (std::find(identifiers.begin(), identifiers.end(), identifier) == identifiers.end())
                identifiers.push_back(identifier);
        }
    ASSERT_GE(identifiers.size(), 2u) << "the demo frame shows sprites of two bitmaps";

    // A view whose derived fields are filled, drawing into the frame buffer.
    bitmap_data frame = {};
    frame.width = width, frame.height = height, frame.encoding = _opengl_frame_buffer_encoding;
    view.screen = &frame;
    view.rasterizer_code = _rasterizer_opengl;
    update_view_data(&view);
    const opengl_preferences saved = gl_prefs;
    render_surface_list empty = list_of({});
    rasterize_scene_opengl(&view, &empty); // the projection of the view
    set_vertex_capture_procedure(capture);

    {
        SCOPED_TRACE("sprites: mirrors, clipping, transparency");
        set_opengl_object_depth_modes(_depth_mode_test);
        const auto draw = [&](render_rectangle r) {
            draws.clear();
            rasterize_opengl_rectangle(&view, &r.header);
            return draws;
        };
        render_rectangle plain = sprite(identifiers[0], -2000);
        const std::vector<captured_draw> base = draw(plain);
        ASSERT_EQ(base.size(), 1u);
        ASSERT_EQ(base[0].vertices.size(), 4u);
        EXPECT_EQ(base[0].primitive, (uint32_t)GL_TRIANGLE_FAN);
        EXPECT_EQ(base[0].state.shader_mode, _shader_sprite);
        EXPECT_EQ(base[0].vertices[0].color[3], 255);
        const float u_left = base[0].vertices[0].texcoord[0], u_right = base[0].vertices[3].texcoord[0];
        const float v_top = base[0].vertices[0].texcoord[1], v_bottom = base[0].vertices[1].texcoord[1];
        EXPECT_LT(u_left, u_right);
        EXPECT_LT(v_top, v_bottom);

        render_rectangle mirrored = plain;
        mirrored.header.packed = pack_surface_word(_surface_mirror_horizontal_flag, _surface_type_rectangle,
                                                   _surface_subtype_object_rectangle);
        const std::vector<captured_draw> m = draw(mirrored);
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].vertices[0].texcoord[0], u_right);
        EXPECT_EQ(m[0].vertices[3].texcoord[0], u_left);
        EXPECT_EQ(m[0].vertices[0].position[0], base[0].vertices[0].position[0]);

        // The top quarter clipped away: mirrored upside down, the rows that
        // remain come from the texture's top three quarters, shown bottom first.
        render_rectangle clipped = plain;
        clipped.viewer_clip_top = 100;
        clipped.header.packed = pack_surface_word(_surface_mirror_vertical_flag, _surface_type_rectangle,
                                                  _surface_subtype_object_rectangle);
        const std::vector<captured_draw> c = draw(clipped);
        ASSERT_EQ(c.size(), 1u);
        const float scale = v_bottom - v_top;
        EXPECT_NEAR(c[0].vertices[0].texcoord[1], v_top + 0.75f * scale, 1e-5);
        EXPECT_NEAR(c[0].vertices[1].texcoord[1], v_top, 1e-5);
        EXPECT_LE(c[0].vertices[0].position[1], 100);

        render_rectangle above = plain;
        above.viewer_clip_top = -300;
        EXPECT_TRUE(draw(above).empty()) << "entirely above its clip row";
        render_rectangle thin = plain;
        thin.viewer_rect.right = thin.viewer_rect.left;
        EXPECT_TRUE(draw(thin).empty()) << "zero width";

        render_rectangle invisible = plain;
        invisible.header.transparency = 65535;
        const std::vector<captured_draw> i = draw(invisible);
        ASSERT_EQ(i.size(), 1u);
        EXPECT_EQ(i[0].vertices[0].color[3], 0);
        render_filled_rectangle box = {};
        box.header.transparency = 65535;
        box.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_filled_rectangle);
        box.x0 = 10, box.x1 = 40, box.y0 = 10, box.y1 = 30, box.clip_top = 0, box.clip_bottom = height;
        draws.clear();
        rasterize_opengl_filled_rectangle(&view, &box.header);
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].vertices[0].color[3], 0);
        EXPECT_EQ(draws[0].state.depth_mode, _depth_mode_none) << "at z 0";
    }

    surface_maker maker;
    const int32_t near_wall[3][3] = {{-30000, -30000, -1000}, {30000, -30000, -1000}, {0, 30000, -1000}};
    const int32_t far_wall[3][3] = {{-300000, -300000, -10000}, {300000, -300000, -10000}, {0, 300000, -10000}};
    const int32_t small[3][3] = {{-50, -50, -3000}, {50, -50, -3000}, {0, 50, -3000}};

    {
        SCOPED_TRACE("opaque objects: one draw per texture");
        std::vector<render_triangle> triangles;
        for (int32_t i = 0; i < 6; ++i)
            triangles.push_back(maker.triangle(_surface_subtype_object_triangle, 0, -3000, small,
                                               identifiers[(size_t)(i % 2)]));
        std::vector<render_surface *> surfaces;
        for (render_triangle &t : triangles) surfaces.push_back(&t.header);
        surface_category category = surface_categories[_surface_category_opaque_objects];
        category.surfaces = surfaces.data(), category.count = (uint32_t)surfaces.size(), category.sorted = false;
        draws.clear();
        set_render_mode_opengl(_shader_world_texture, _projection_mode_perspective, _depth_mode_full,
                               _blend_mode_replace);
        rasterize_surface_category(&view, &category, 8192, true, 0x1fffffff, rasterize_model_texture_chunk);
        ASSERT_EQ(draws.size(), 2u);
        EXPECT_EQ(draws[0].vertices.size() + draws[1].vertices.size(), 18u);
        EXPECT_NE(draws[0].state.textures[0], draws[1].state.textures[0]);
    }

    {
        SCOPED_TRACE("an empty list without erasing or depth leaves the frame as it was");
        gl_prefs.ErasePreviousFrame = false;
        gl_prefs.UseDepthTest = false;
        render_filled_rectangle box = {};
        box.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_filled_rectangle);
        box.x0 = 0, box.x1 = width / 2, box.y0 = 0, box.y1 = height, box.clip_top = 0, box.clip_bottom = height;
        box.color = {65535, 32768, 0, 0};
        set_clear_color_opengl(0x0000FF);
        gl.Clear(GL_COLOR_BUFFER_BIT);
        rasterize_opengl_filled_rectangle(&view, &box.header);
        const std::vector<uint8_t> before = read_frame(width, height);
        render_surface_list none = list_of({});
        rasterize_scene_opengl(&view, &none);
        EXPECT_TRUE(before == read_frame(width, height));
        EXPECT_EQ(before[0], 255);
        EXPECT_EQ(before.back(), 255);

        SCOPED_TRACE("without depth a discarded mesh triangle is drawn, a discarded sprite is not");
        render_triangle mesh = maker.triangle(_surface_subtype_mesh_triangle, _surface_discarded_flag, -3000, small);
        mesh.detail = 1u << 30; // the plain base, with or without detail layers
        render_rectangle hidden = sprite(identifiers[0], -2000);
        hidden.header.packed = pack_surface_word(_surface_discarded_flag, _surface_type_rectangle,
                                                 _surface_subtype_object_rectangle);
        render_surface_list both = list_of({&mesh.header, &hidden.header});
        draws.clear();
        rasterize_scene_opengl(&view, &both);
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].vertices.size(), 3u);
        EXPECT_EQ(draws[0].state.shader_mode, _shader_fixed_multitexture);
        gl_prefs = saved;
    }

    {
        SCOPED_TRACE("a translucent sprite behind the terrain is hidden by the mesh's flattened depth");
        set_vertex_capture_procedure(nullptr);
        const auto frame_of = [&](const int32_t (*wall)[3], bool with_sprite) {
            render_triangle mesh = maker.triangle(_surface_subtype_mesh_triangle, 0, wall[0][2], wall);
            render_rectangle glass = sprite(identifiers[0], -4000);
            glass.viewer_rect = {-1500, 1500, 1500, -1500};
            glass.header.obj_view_y = -1500;
            glass.header.transparency = 16384;
            render_surface_list list = list_of({&mesh.header});
            render_surface *mesh_surface = &mesh.header, *glass_surface = &glass.header;
            surface_categories[_surface_category_mesh].surfaces = &mesh_surface;
            surface_categories[_surface_category_mesh].count = 1;
            surface_categories[_surface_category_translucent_objects].surfaces = &glass_surface;
            surface_categories[_surface_category_translucent_objects].count = with_sprite ? 1 : 0;
            rasterize_scene_opengl(&view, &list);
            for (surface_category &category : surface_categories) category.count = 0;
            return read_frame(width, height);
        };
        EXPECT_TRUE(frame_of(near_wall, true) == frame_of(near_wall, false)) << "the sprite shows through";
        EXPECT_FALSE(frame_of(far_wall, true) == frame_of(far_wall, false)) << "the sprite is not drawn at all";

        SCOPED_TRACE("without erasing, opaque objects are not tested against the last frame's depth");
        gl_prefs.ErasePreviousFrame = false;
        const auto opaque_frame_after = [&](const int32_t (*wall)[3]) {
            frame_of(wall, false);
            set_clear_color_opengl(0);
            gl.Clear(GL_COLOR_BUFFER_BIT);
            const int32_t wide[3][3] = {{-900, -600, -3000}, {900, -600, -3000}, {0, 900, -3000}};
            render_triangle model = maker.triangle(_surface_subtype_object_triangle, 0, -3000, wide, identifiers[0]);
            model.corners[1].interpolants[_texture_u] = (int16_t)65535;
            model.corners[2].interpolants[_texture_v] = (int16_t)65535;
            render_surface *surface = &model.header;
            render_surface_list list = list_of({surface});
            surface_categories[_surface_category_opaque_objects].surfaces = &surface;
            surface_categories[_surface_category_opaque_objects].count = 1;
            rasterize_scene_opengl(&view, &list);
            for (surface_category &category : surface_categories) category.count = 0;
            return read_frame(width, height);
        };
        const std::vector<uint8_t> after_far = opaque_frame_after(far_wall);
        EXPECT_GT(std::count_if(after_far.begin(), after_far.end(), [](uint8_t v) { return v > 16; }), 100);
        EXPECT_TRUE(opaque_frame_after(near_wall) == after_far);
        gl_prefs = saved;
    }
}

} // namespace

namespace {

// Sprites, a model triangle and a filled rectangle that lie apart in depth:
// the shader path, the fixed-function path and the depthless path draw the
// same picture.
TEST_F(opengl_scene, the_three_paths_agree_without_interpenetration)
{
    const int16_t width = 256, height = 192;
    ASSERT_TRUE(start_map(width, height, 0));
    ASSERT_TRUE(start_gl(width, height));
    render_frame_options options = {width, height, true, false};
    view_data view;
    build_render_camera_view(&view, &frame_views[0].camera, &options, nullptr);
    std::vector<uint8_t> ignored;
    ASSERT_TRUE(render_camera_view_opengl(&view, &ignored));
    // A sprite's bitmap, and an opaque model's (a texture without holes).
    uint32_t identifier = 0, model_identifier = 0;
    bool found = false, model_found = false;
    for (const surface_category &category : surface_categories)
        for (uint32_t i = 0; i < category.count; ++i)
        {
            const render_surface *surface = category.surfaces[i];
            if (!found && surface_word_subtype(surface->packed) == _surface_subtype_object_rectangle)
            {
                identifier = reinterpret_cast<const render_rectangle *>(surface)->bitmap_identifier;
                found = true;
            }
            if (!model_found && surface_word_subtype(surface->packed) == _surface_subtype_model_triangle)
            {
                model_identifier = reinterpret_cast<const render_triangle *>(surface)->bitmap_identifier;
                model_found = true;
            }
        }
    ASSERT_TRUE(found) << "the demo frame shows a sprite";
    ASSERT_TRUE(model_found) << "the demo frame shows a model";
    bitmap_data frame = {};
    frame.width = width, frame.height = height, frame.encoding = _opengl_frame_buffer_encoding;
    view.screen = &frame;
    view.rasterizer_code = _rasterizer_opengl;
    update_view_data(&view);

    const auto draw = [&](void) {
        surface_maker maker;
        const int32_t wedge[3][3] = {{-900, -600, -3000}, {300, -600, -3000}, {-300, 500, -3000}};
        render_triangle model = maker.triangle(_surface_subtype_model_triangle, 0, -3000, wedge, model_identifier);
        model.corners[1].interpolants[_texture_u] = (int16_t)65535;
        model.corners[2].interpolants[_texture_v] = (int16_t)65535;
        render_rectangle far_sprite = sprite(identifier, -6000);
        far_sprite.viewer_rect = {-1500, 1200, 1500, -1800};
        far_sprite.header.obj_view_y = -1800;
        render_rectangle near_sprite = sprite(identifier, -3000);
        near_sprite.viewer_rect = {-900, 300, 300, -900};
        near_sprite.header.obj_view_y = -900;
        near_sprite.header.packed = pack_surface_word(_surface_mirror_horizontal_flag, _surface_type_rectangle,
                                                      _surface_subtype_object_rectangle);
        render_filled_rectangle mark = {};
        mark.header.z = -1000;
        mark.header.packed = pack_surface_word(0, _surface_type_rectangle, _surface_subtype_filled_rectangle);
        mark.header.transparency = 32768;
        mark.x0 = 100, mark.x1 = 180, mark.y0 = 60, mark.y1 = 100, mark.clip_top = 0, mark.clip_bottom = height;
        mark.color = {65535, 65535, 0, 0};
        render_surface_list list = list_of({&far_sprite.header, &model.header, &near_sprite.header, &mark.header});
        render_surface *opaque[] = {&model.header};
        render_surface *translucent[] = {&far_sprite.header, &near_sprite.header, &mark.header};
        surface_categories[_surface_category_opaque_objects].surfaces = opaque;
        surface_categories[_surface_category_opaque_objects].count = 1;
        surface_categories[_surface_category_translucent_objects].surfaces = translucent;
        surface_categories[_surface_category_translucent_objects].count = 3;
        gl_prefs.ErasePreviousFrame = true;
        set_clear_color_opengl(0);
        gl.Clear(GL_COLOR_BUFFER_BIT);
        rasterize_scene_opengl(&view, &list);
        for (surface_category &category : surface_categories) category.count = 0;
        return read_frame(width, height);
    };
    const std::vector<uint8_t> shaders = draw();
    const struct
    {
        const char *name, *settings;
    } paths[] = {
        {"fixed function", "[Renderer.OpenGL]\nUseShaders=0\nErasePreviousFrame=1\n"},
        {"depthless", "[Renderer.OpenGL]\nUseDepthTest=0\nErasePreviousFrame=1\n"},
    };
    int32_t lit = 0;
    for (size_t i = 0; i < shaders.size(); ++i) lit += shaders[i] > 16;
    EXPECT_GT(lit, 1000) << "the scene draws something";
    for (const auto &path : paths)
    {
        SCOPED_TRACE(path.name);
        ASSERT_TRUE(load_poweruser_settings_from_buffer(path.settings, strlen(path.settings)));
        ASSERT_TRUE(restart_gl_render_harness());
        const std::vector<uint8_t> other = draw();
        ASSERT_EQ(other.size(), shaders.size());
        fs::create_directories(artefacts);
        char reason[256];
        write_rgb_png((artefacts + "/paths_shaders.png").c_str(), shaders.data(), width, height, reason, sizeof(reason));
        write_rgb_png((artefacts + "/paths_" + std::string(path.name) + ".png").c_str(), other.data(), width, height,
                      reason, sizeof(reason));
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
    dispose_poweruser_settings();
}

} // namespace
