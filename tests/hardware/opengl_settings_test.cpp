// The OpenGL back end without a driver: the effective settings and their
// forcing lines, the whole-word extension search and the device probe, the
// shader text, and (over a fake OpenGL and fake SDL video) the render state
// filter, the map start with its shader fallback, and the upload callbacks'
// refusals.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "game/fake_sdl_video.h"
#include "support/fake_gl.h"

#include "bitmaps.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/setup_opengl_sdl.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "iniparser3.0b/inifile.h"
#include "mesh_format.h"
#include "render/render_geometry.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"

namespace opengl_settings_test_file {

namespace {

device_info_opengl device_of(const char *version, const char *renderer = "llvmpipe", int32_t max_texture_size = 16384)
{
    device_info_opengl device = {};
    EXPECT_TRUE(opengl_device_info_from_strings(&device, version, "GL_EXT_bgra", renderer, "vendor", max_texture_size));
    return device;
}

bool zoom_disabled_answer;
bool perma_disable_zoom(void) { return zoom_disabled_answer; }

struct settings_case
{
    const char *name;
    const char *version;
    const char *renderer;
    int32_t max_texture_size;
    uint16_t screen_flags;
    uint16_t cache_megabytes;
    std::function<void(opengl_preferences *, opengl_settings_inputs *)> change;
    std::vector<std::string> lines; // every line but the last
    const char *summary_part; // in the "Initialized" line
    float max_anisotropy;
};

const uint16_t k32 = _screen_pref_32bit_flag, kAniso = _screen_pref_anisotropic_filtering_flag;
const char *const kZoom = "OpenGL: Extended zoom will be unavailable because UseCmapTiles=0";
const char *const kMipsOff = "OpenGL: Forcing UseMipMaps=0 because UseShaders=0";
const char *const kGpu = "Example graphics card";

const settings_case settings_cases[] = {
    {"2.0 defaults shaders, mipmaps, NPO2 and tiles off", "2.0", kGpu, 16384, k32 | kAniso, 64, nullptr,
     {kZoom}, "UseMipMaps=0, UseNPO2Textures=0, UseShaders=0, UseLightmapBlendingShader=0, UpdateCMapChunked=1, UseCMapTiles=0", 8},
    {"2.1 defaults them on", "2.1", kGpu, 16384, k32 | kAniso, 64, nullptr, {},
     "UseMipMaps=1, UseNPO2Textures=1, UseShaders=1, UseLightmapBlendingShader=0, UpdateCMapChunked=1, UseCMapTiles=1", 8},
    {"Intel 965/963 has no tiles", "2.1", "Mesa DRI Intel 965/963 Graphics", 16384, k32, 64, nullptr, {kZoom},
     "UseShaders=1, UseLightmapBlendingShader=0, UpdateCMapChunked=1, UseCMapTiles=0", 0},
    {"a maximum texture size of 2047 has no tiles", "2.1", "llvmpipe", 2047, k32, 64, nullptr, {kZoom},
     "UseCMapTiles=0", 0},
    {"24 MB of 32-bit textures is too small for tiles", "2.1", "llvmpipe", 16384, k32, 24, nullptr,
     {"OpenGL: Forcing UseCMapTiles=0 because the texture cache size is too small", kZoom}, "TexCacheSize=24,", 0},
    {"24 MB of 16-bit textures keeps tiles", "2.1", "llvmpipe", 16384, 0, 24, nullptr, {}, "UseCMapTiles=1", 0},
    {"MaxAnisotropy 16 applies the driver's 8", "2.1", kGpu, 16384, kAniso, 64,
     [](opengl_preferences *p, opengl_settings_inputs *in) { p->MaxAnisotropy = 16, in->driver_max_anisotropy = 8; },
     {}, "MaxAnisotropy=16,", 8},
    {"without the extension no anisotropy is applied", "2.1", kGpu, 16384, kAniso, 64,
     [](opengl_preferences *p, opengl_settings_inputs *in) { p->MaxAnisotropy = 16, in->driver_max_anisotropy = 0; },
     {}, "MaxAnisotropy=16,", 0},
    {"a driver drawing on the processor filters without anisotropy", "4.5", "llvmpipe (LLVM 15.0.6, 256 bits)",
     16384, kAniso, 64, nullptr,
     {"OpenGL: Forcing MaxAnisotropy=0 because the driver draws on the processor (llvmpipe (LLVM 15.0.6, 256 bits))"},
     "MaxAnisotropy=0, MSAASamples=1, UseDepthTest=1, UseMipMaps=1", 0},
    {"so does softpipe", "3.3", "softpipe", 16384, kAniso, 64, nullptr,
     {"OpenGL: Forcing MaxAnisotropy=0 because the driver draws on the processor (softpipe)"}, "MaxAnisotropy=0,", 0},
    {"no anisotropic flag logs MaxAnisotropy 0", "2.1", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *p, opengl_settings_inputs *) { p->MaxAnisotropy = 16; }, {}, "MaxAnisotropy=0,", 0},
    {"MSAASamples 4 falls back to 1", "2.1", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *p, opengl_settings_inputs *) { p->MSAASamples = 4; },
     {"OpenGL: The MSAASamples option is not supported on your platform."}, "MSAASamples=1,", 0},
    {"shaders asked of a 1.5 device", "1.5", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *p, opengl_settings_inputs *) {
         p->UseShaders = p->UseMipMaps = p->UseLightmapBlendingShader = true;
     },
     {"OpenGL: Forcing UseShaders=0 because the device does not support OpenGL 2.0", kMipsOff,
      "OpenGL: Forcing UseLightmapBlendingShader=0 because UseShaders=0", kZoom},
     "UseShaders=0", 0},
    {"no depth test, no shaders", "2.1", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *p, opengl_settings_inputs *) { p->UseDepthTest = false; },
     {"OpenGL: Forcing UseShaders=0 because UseDepthTest=0", kMipsOff}, "UseDepthTest=0", 0},
    {"tiles need chunked updates", "2.1", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *p, opengl_settings_inputs *) { p->UpdateCMapChunked = false; },
     {"OpenGL: Forcing UseCMapTiles=0 because UpdateCMapChunked=0", kZoom}, "UseCMapTiles=0", 0},
    {"a missing shader function turns shaders off without ending the program", "2.1", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *, opengl_settings_inputs *in) {
         in->shader_procedures_found = false, in->missing_procedure = "glUseProgram";
     },
     {"OpenGL: Forcing UseShaders=0 because glUseProgram was not found.", kMipsOff}, "UseShaders=0", 0},
    {"a program that failed to link", "2.1", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *, opengl_settings_inputs *in) { in->shader_program_failed = true; },
     {"OpenGL: Forcing UseShaders=0 because a shader program failed to link", kMipsOff}, "UseShaders=0", 0},
    {"no glGenerateMipmap", "2.1", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *, opengl_settings_inputs *in) {
         in->generate_mipmap_form = _generate_mipmap_absent, in->generate_mipmap_found = false;
     },
     {"OpenGL: Forcing UseMipMaps=0 because glGenerateMipmap[EXT] was not found."}, "UseMipMaps=0", 0},
    {"the EXT form of glGenerateMipmap", "2.1", "llvmpipe", 16384, 0, 64,
     [](opengl_preferences *, opengl_settings_inputs *in) { in->generate_mipmap_form = _generate_mipmap_ext; },
     {"OpenGL: glGenerateMipmap not found; using glGenerateMipmapEXT."}, "UseMipMaps=1", 0},
    {"values out of range keep their defaults", "2.1", kGpu, 16384, kAniso, 64,
     [](opengl_preferences *p, opengl_settings_inputs *) {
         p->MaxAnisotropy = 99, p->MSAASamples = 0, p->ClearColor = -1, p->TextureLodBias = 1e9f;
     },
     {"OpenGL: ClearColor=-1 is out of range (0..16777215); keeping 0",
      "OpenGL: MaxAnisotropy=99 is out of range (0..16); keeping 8",
      "OpenGL: MSAASamples=0 is out of range (1..16); keeping 1",
      "OpenGL: TextureLodBias=1000000000.00 is out of range (-16..16); keeping -0.50"},
     "MaxAnisotropy=8, MSAASamples=1,", 8},
};

TEST(opengl_settings, every_forcing_is_applied_in_order_with_its_exact_line)
{
    for (const settings_case &c : settings_cases)
    {
        SCOPED_TRACE(c.name);
        const device_info_opengl device = device_of(c.version, c.renderer, c.max_texture_size);
        opengl_preferences read = opengl_run_time_defaults(&device);
        opengl_settings_inputs inputs = {};
        inputs.device = &device;
        inputs.screen_flags = c.screen_flags;
        inputs.texture_cache_size = c.cache_megabytes;
        inputs.driver_max_anisotropy = 16;
        inputs.shader_procedures_found = true;
        inputs.generate_mipmap_form = _generate_mipmap_core;
        inputs.generate_mipmap_found = true;
        inputs.perma_disable_extended_zoom = perma_disable_zoom;
        zoom_disabled_answer = true;
        if (c.change) c.change(&read, &inputs);
        if (inputs.generate_mipmap_form == _generate_mipmap_ext) inputs.generate_mipmap_found = true;

        opengl_settings_result result;
        compute_opengl_settings(&read, &inputs, &result);
        ASSERT_GE(result.line_count, 1);
        std::vector<std::string> lines(result.lines, result.lines + result.line_count - 1);
        EXPECT_EQ(lines, c.lines);
        const std::string summary = result.lines[result.line_count - 1];
        EXPECT_EQ(summary.rfind("OpenGL: Initialized with TexCacheSize=", 0), 0u) << summary;
        EXPECT_NE(summary.find(c.summary_part), std::string::npos) << summary;
        EXPECT_NE(summary.find(", UseAppleClientStorage=0"), std::string::npos) << "Mesa has no client storage";
        EXPECT_EQ(result.max_anisotropy, c.max_anisotropy);
    }
}

TEST(opengl_settings, the_section_reads_its_keys_and_keeps_defaults_for_refused_values)
{
    const char text[] = "[Renderer.OpenGL]\nClearColor=16711680\nUseNPO2Textures=0\nUseShaders=maybe\n"
                        "TextureLodBias=-1.25\n";
    ASSERT_TRUE(load_poweruser_settings_from_buffer(text, sizeof(text) - 1));
    const device_info_opengl device = device_of("4.5 (Compatibility Profile) Mesa 22.3.6");
    gl_prefs_default = opengl_run_time_defaults(&device);
    EXPECT_EQ(inifile_readsec(&gl_prefs_section), 3);
    EXPECT_EQ(gl_prefs.ClearColor, 0xFF0000);
    EXPECT_FALSE(gl_prefs.UseNPO2Textures);
    EXPECT_TRUE(gl_prefs.UseMipMaps) << "stored before UseNPO2Textures, looked up after it";
    EXPECT_TRUE(gl_prefs.UseShaders) << "a value that is no boolean keeps the default";
    EXPECT_EQ(gl_prefs.TextureLodBias, -1.25f);
    dispose_poweruser_settings();
}

TEST(opengl_device, the_version_and_extensions_decide_whether_a_device_is_usable)
{
    struct
    {
        const char *version, *extensions;
        bool usable;
        int32_t packed;
        const char *name;
    } cases[] = {
        {"1.1.0", "GL_EXT_bgra", true, 0x10001, "OpenGL 1.1"},
        {"1.1.0", "GL_ARB_x GL_EXT_bgra", true, 0x10001, "OpenGL 1.1"},
        {"1.1.0", "GL_EXT_bgra_extended GL_ARB_x", false, 0, ""},
        {"1.1.0", "XGL_EXT_bgra", false, 0, ""},
        {"1.1.0", nullptr, false, 0, ""},
        {"1.0", "GL_EXT_bgra", false, 0, ""},
        {"2.0 Mesa", "", true, 0x20000, "OpenGL 2.0"},
        {"4.5 (Compatibility Profile) Mesa 22.3.6", "", true, 0x40005, "OpenGL 4.5"},
        {"garbage", "", false, 0, ""},
        {nullptr, "", false, 0, ""},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.version ? c.version : "(null)");
        device_info_opengl device = {};
        EXPECT_EQ(opengl_device_info_from_strings(&device, c.version, c.extensions, "r", "v", 64), c.usable);
        EXPECT_EQ(device.opengl_version, c.packed);
        EXPECT_STREQ(device.name, c.name);
        if (c.usable) { EXPECT_EQ(device.opengl2_device, c.packed >= 0x20000); }
    }

    struct
    {
        const char *list, *name;
        bool found;
    } words[] = {
        {"GL_A GL_B", "GL_A", true},      {"GL_A GL_B", "GL_B", true},   {"GL_AB GL_B", "GL_A", false},
        {"GL_AB GL_A", "GL_A", true},     {"XGL_A", "GL_A", false},      {"GL_AB GL_AB", "GL_A", false},
        {nullptr, "GL_A", false},         {"GL_A", "", false},
    };
    for (const auto &w : words)
        EXPECT_EQ(extension_in_list(w.list, w.name), w.found) << (w.list ? w.list : "(null)") << " / " << w.name;
}

TEST(opengl_readback, rows_are_reversed_in_place_for_any_height_and_width)
{
    for (int32_t height : {1, 2, 5, 8})
        for (int32_t bytes_per_row : {4, 300, 1028})
        {
            std::vector<uint8_t> rows((size_t)(height * bytes_per_row));
            for (size_t i = 0; i < rows.size(); ++i) rows[i] = (uint8_t)(i / bytes_per_row * 31 + i % 7);
            std::vector<uint8_t> expected;
            for (int32_t y = height - 1; y >= 0; --y)
                expected.insert(expected.end(), rows.begin() + y * bytes_per_row, rows.begin() + (y + 1) * bytes_per_row);
            flip_rows_in_place(rows.data(), height, bytes_per_row);
            EXPECT_EQ(rows, expected) << height << " rows of " << bytes_per_row;
        }
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) text += line;
    return text;
}

TEST(opengl_shader_text, the_generated_text_follows_fog_blending_and_bias)
{
    shader_build_parameters parameters = {};
    parameters.lod_bias = -0.5f;
    parameters.fog = true;
    parameters.lightmap_blending = true;
    parameters.transition_point = 65536;
    parameters.dark_fraction = 128;
    parameters.light_fraction = 64;
    std::vector<std::string> vertex, fragment;

    parameters.fog = false;
    build_shader_text(_shader_world_texture, &parameters, &vertex, &fragment);
    EXPECT_EQ(joined(fragment).find("fogFactor"), std::string::npos) << "a map without fog";
    parameters.fog = true;

    build_shader_text(_shader_sprite, &parameters, &vertex, &fragment);
    EXPECT_NE(joined(fragment).find("texture2D(texture0, gl_TexCoord[0].st, -0.50)"), std::string::npos);
    EXPECT_NE(joined(fragment).find("mix(color.a*gl_Fog.color.rgb, color.rgb, fogFactor)"), std::string::npos)
        << "premultiplied output fogs toward the colour times alpha";
    EXPECT_NE(joined(vertex).find("attribute vec4 in_tint_kpqr;"), std::string::npos);

    build_shader_text(_shader_mesh_3, &parameters, &vertex, &fragment);
    const std::string mesh = joined(fragment);
    EXPECT_NE(mesh.find("const float light_scale = 0.000;"), std::string::npos) << "transition point 65536";
    EXPECT_NE(mesh.find("const float dark_scale = 0.500;"), std::string::npos);
    EXPECT_NE(mesh.find("d1 * gl_Color.r + d2 * gl_Color.g + d3 * gl_Color.b;"), std::string::npos);
    EXPECT_EQ(fragment.back(), "}\n");

    parameters.transition_point = 0;
    build_shader_text(_shader_mesh_0, &parameters, &vertex, &fragment);
    EXPECT_NE(joined(fragment).find("const float dark_scale = 0.000;"), std::string::npos) << "transition point 0";
    parameters.lightmap_blending = false;
    build_shader_text(_shader_mesh_0, &parameters, &vertex, &fragment);
    EXPECT_EQ(joined(fragment).find("dark_color"), std::string::npos);
}

// A map's rasterizer over the fake OpenGL and fake SDL video.
class opengl_fake_map : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake_sdl::install();
        fake_gl::install();
        init_sdl();
        prefs = {};
        prefs.texture_cache_size = 64;
        prefs.flags = _screen_pref_32bit_flag | _screen_pref_anisotropic_filtering_flag | _screen_pref_fog_enabled_flag;
        active_screen = initial_active_screen();
        active_screen.width = active_screen.physical_pixel_width = 320;
        active_screen.height = active_screen.physical_pixel_height = 200;
        active_screen.prefs = &prefs;
    }
    void TearDown() override
    {
        dispose_opengl_rasterizer_from_old_map();
        active_screen = initial_active_screen();
        fake_gl::uninstall();
        reset_screen_for_tests();
        fake_sdl::uninstall();
    }
    bool start(void)
    {
        get_opengl_device_info(&opengl_device);
        return initialize_opengl_rasterizer_for_new_map();
    }
    std::vector<std::string> &calls(void) { return fake_gl::current().calls; }

    screen_parameters prefs;
};

std::vector<opengl_draw_state> captured_states;
std::vector<rendervert_t> captured_vertices;
void capture(uint32_t, const rendervert_t *vertices, int32_t count, const opengl_draw_state *state)
{
    captured_states.push_back(*state);
    captured_vertices.insert(captured_vertices.end(), vertices, vertices + count);
}

TEST_F(opengl_fake_map, only_changes_of_state_reach_the_driver)
{
    ASSERT_TRUE(start());
    ASSERT_TRUE(gl_prefs.UseShaders);
    EXPECT_EQ(shader_program_count(), 2) << "the screen-space programs";
    EXPECT_FALSE(whole_model_transparent_hack_required);
    const std::vector<std::pair<SDL_GLattr, int>> attributes = {
        {SDL_GL_SWAP_CONTROL, 0}, {SDL_GL_ACCELERATED_VISUAL, 1}, {SDL_GL_DOUBLEBUFFER, 1}, {SDL_GL_DEPTH_SIZE, 24}};
    EXPECT_EQ(fake_sdl::current().gl_attributes, attributes);
    ASSERT_FALSE(fake_sdl::current().mode_calls.empty());
    EXPECT_EQ(fake_sdl::current().mode_calls.back().flags & SDL_OPENGL, (Uint32)SDL_OPENGL);
    EXPECT_EQ(fake_sdl::current().mode_calls.back().width, 320);

    set_render_mode_opengl(_shader_sprite, _projection_mode_ortho, _depth_mode_full, _blend_mode_alpha);
    bind_texture_unit_opengl(0, 7);
    draw_render_verts_opengl(GL_TRIANGLES, 0, 3);
    calls().clear();
    set_render_mode_opengl(_shader_sprite, _projection_mode_ortho, _depth_mode_full, _blend_mode_alpha);
    bind_texture_unit_opengl(0, 7);
    draw_render_verts_opengl(GL_TRIANGLES, 0, 3);
    EXPECT_EQ(calls(), std::vector<std::string>{fake_gl::call("DrawArrays", GL_TRIANGLES, 0, 3)});

    // The capture sees each draw's vertices and modes before the driver does.
    captured_states.clear(), captured_vertices.clear();
    render_verts[4].position[0] = 1234;
    set_vertex_capture_procedure(capture);
    draw_render_verts_opengl(GL_TRIANGLES, 3, 3);
    set_vertex_capture_procedure(nullptr);
    ASSERT_EQ(captured_states.size(), 1u);
    EXPECT_EQ(captured_states[0].shader_mode, _shader_sprite);
    EXPECT_EQ(captured_states[0].blend_mode, _blend_mode_alpha);
    EXPECT_EQ(captured_states[0].textures[0], 7);
    ASSERT_EQ(captured_vertices.size(), 3u);
    EXPECT_EQ(captured_vertices[1].position[0], 1234);

    calls().clear();
    set_render_mode_opengl(_shader_basic_color, _projection_mode_ortho, _depth_mode_full, _blend_mode_alpha);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("Disable", GL_TEXTURE_2D)), 1) << "unit 0 off";
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("DisableClientState", GL_TEXTURE_COORD_ARRAY)), 1);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("DisableVertexAttribArray", 6)), 1) << "the tint array off";
    EXPECT_EQ(fake_gl::count_prefix("UseProgram"), 1);

    // Premultiplied alpha under shaders adds; the depth modes reach the driver.
    calls().clear();
    set_render_mode_opengl(_shader_basic_color, _projection_mode_ortho, _depth_mode_none, _blend_mode_premultiplied_alpha);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("BlendFunc", GL_ONE, GL_ONE_MINUS_SRC_ALPHA)), 1);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("Disable", GL_DEPTH_TEST)), 1);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("DepthMask", 0)), 1);
}

TEST_F(opengl_fake_map, without_depth_test_no_depth_state_is_touched_and_fixed_fog_blends_by_source_alpha)
{
    fake_gl::current().version = "1.5 Fake";
    ASSERT_TRUE(start());
    EXPECT_FALSE(gl_prefs.UseShaders);
    EXPECT_TRUE(whole_model_transparent_hack_required) << "without shaders";
    gl_prefs.UseDepthTest = false;
    mesh_header mesh = {};
    mesh.fog_density = 0.001f;
    mesh.fog_color = {65535, 0, 0, 0};
    initialize_opengl_fog_for_map(&mesh);
    ASSERT_TRUE(opengl_uses_fixed_function_fog());

    calls().clear();
    for (int32_t depth : {_depth_mode_full, _depth_mode_test, _depth_mode_write, _depth_mode_none})
        set_render_mode_opengl(_shader_world_texture, _projection_mode_ortho, depth, _blend_mode_premultiplied_alpha);
    EXPECT_EQ(fake_gl::count_prefix("DepthMask"), 0);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("Enable", GL_DEPTH_TEST)), 0);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("BlendFunc", GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA)), 1);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("Enable", GL_FOG)), 1) << "a world-space mode fogs";
    EXPECT_EQ(fake_gl::count_prefix("UseProgram"), 0) << "no OpenGL 2.0 call without shaders";
}

TEST_F(opengl_fake_map, a_program_that_fails_to_link_leaves_the_map_to_the_fixed_function_path)
{
    fake_gl::current().link_failures = 1;
    ASSERT_TRUE(start());
    EXPECT_FALSE(gl_prefs.UseShaders);
    EXPECT_FALSE(gl_prefs.UseMipMaps);
    EXPECT_EQ(shader_program_count(), 0);
    EXPECT_TRUE(fake_gl::current().programs.empty()) << "the failed program is deleted";
    EXPECT_TRUE(fake_gl::current().shaders.empty());
    EXPECT_EQ(fake_gl::current().textures.size(), 1u) << "only the second start's font texture";
    EXPECT_TRUE(whole_model_transparent_hack_required);
    const opengl_settings_result *settings = last_opengl_settings();
    EXPECT_STREQ(settings->lines[0], "OpenGL: Forcing UseShaders=0 because a shader program failed to link");

    dispose_opengl_rasterizer_from_old_map();
    ASSERT_TRUE(start());
    EXPECT_TRUE(gl_prefs.UseShaders) << "the next map tries again";
    initialize_opengl_mesh_parameters_for_new_map();
    EXPECT_EQ(shader_program_count(), 9);
    dispose_opengl_rasterizer_from_old_map();
    EXPECT_TRUE(fake_gl::current().programs.empty());
    EXPECT_TRUE(fake_gl::current().shaders.empty());
    EXPECT_TRUE(fake_gl::current().textures.empty());
    EXPECT_FALSE(whole_model_transparent_hack_required);
}

TEST_F(opengl_fake_map, the_device_query_reports_a_usable_device_only)
{
    fake_sdl::current().any_size = true;
    for (const char *version : {"2.1 Fake", "1.0 Fake"})
    {
        SCOPED_TRACE(version);
        fake_gl::current().version = version;
        clear_screen_devices();
        query_opengl_devices_opengl();
        const bool usable = version[0] == '2';
        ASSERT_EQ(get_screen_device_count(), usable ? 1 : 0);
        if (!usable) continue;
        const device_info *device = get_screen_device(0);
        EXPECT_EQ(device->rasterizer_code, _rasterizer_opengl);
        EXPECT_STREQ(device->name, "OpenGL 2.1");
        EXPECT_EQ(device->extra_data, (void *)&opengl_device);
        EXPECT_GE(device->mode_count, 1);
    }
    clear_screen_devices();
}

TEST_F(opengl_fake_map, a_lookup_that_misses_a_shader_function_turns_shaders_off)
{
    fake_gl::current().missing_procedures = {"glVertexAttribPointer"};
    ASSERT_TRUE(start());
    EXPECT_FALSE(gl_prefs.UseShaders);
    EXPECT_STREQ(last_opengl_settings()->lines[0],
                 "OpenGL: Forcing UseShaders=0 because glVertexAttribPointer was not found.");
    EXPECT_EQ(fake_gl::count_prefix("VertexAttribPointer"), 0);
}

TEST_F(opengl_fake_map, uploads_refuse_encodings_they_cannot_describe_and_pad_to_the_hardware_size)
{
    ASSERT_TRUE(start());
    const std::set<uint32_t> resident = fake_gl::current().textures; // the font's
    uint8_t pixels[100 * 60 * 4] = {};
    cached_texture_data texture = {};
    texture.pixels = pixels;
    texture.adjusted_width = 100, texture.adjusted_height = 60;
    texture.hardware_width = 128, texture.hardware_height = 64;
    for (uint8_t encoding : {0, 6, 13, 14, 200})
    {
        texture.encoding = encoding;
        calls().clear();
        EXPECT_EQ(new_cached_texture_opengl(nullptr, nullptr, &texture), nullptr) << (int)encoding;
        EXPECT_EQ(update_cached_texture_opengl(nullptr, nullptr, &texture), nullptr) << (int)encoding;
        EXPECT_EQ(fake_gl::count_prefix("GenTextures"), 0);
        EXPECT_EQ(fake_gl::count_prefix("TexImage2D"), 0);
    }
    texture.encoding = _32bit_argb_8888_texture_encoding;
    texture.flags = _texture_repeat_flag | _texture_clamp_to_border_flag | _texture_anisotropic_flag;
    calls().clear();
    void *name = new_cached_texture_opengl(nullptr, nullptr, &texture);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("TexParameteri", GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT)), 1);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("TexImage2D", 0, GL_RGBA8, 128, 64, GL_BGRA,
                                                 GL_UNSIGNED_INT_8_8_8_8_REV)), 1);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("TexSubImage2D", 0, 0, 0, 100, 60)), 1);
    EXPECT_EQ(fake_gl::count_exact(fake_gl::call("TexParameterf", GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT)), 1);
    delete_cached_texture_opengl(nullptr, name);
    EXPECT_EQ(fake_gl::current().textures, resident);
}

} // namespace

} // namespace opengl_settings_test_file
