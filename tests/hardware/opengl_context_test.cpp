// The OpenGL back end on a real context: Mesa's software driver in an Xvfb of
// the test's own (one per test program).  The probe tool under each reported
// version, read-back orientation, the clear colour, every generated program
// compiled and linked, the shaders' arithmetic on real pixels against the
// formulas, texture uploads read back texel by texel, and map cycles that
// leave no program or texture behind.

#define GL_GLEXT_PROTOTYPES 1
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/stb_image_decoder.h"
#include "support/test_mesh.h"
#include "support/texture_bitmaps.h"
#include "support/gl_pattern_display.h"
#include "support/x_server.h"

#include "bitmap_text.h"
#include "bitmaps.h"
#include "gl_pattern.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/render_opengl_terrain.h"
#include "hardware/OpenGL/setup_opengl_sdl.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "hardware_rasterizer.h"
#include "mesh.h"
#include "mesh_format.h"
#include "render/terrain_maps.h"
#include "screen.h"
#include "screen_preferences.h"

namespace opengl_context_test_file {


namespace {

const int32_t kWidth = 64, kHeight = 64;

// One Xvfb and one OpenGL window for the whole program.
const ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new gl_pattern_environment(
        "640x480x24", kWidth, kHeight,
        _screen_pref_32bit_flag | _screen_pref_anisotropic_filtering_flag | _screen_pref_fog_enabled_flag));

#define REQUIRE_GL()                                                                                             \
    do {                                                                                                         \
        if (!display().started) SKIP_OR_FAIL_UNDER_CI("no OpenGL display: " + display().why);                   \
    } while (0)

// Each test starts from a fresh map start of the rasterizer.
class opengl_context : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_GL();
        dispose_opengl_rasterizer_from_old_map();
        ASSERT_TRUE(initialize_opengl_rasterizer_for_new_map());
        ASSERT_TRUE(gl_prefs.UseShaders) << "llvmpipe offers OpenGL 4.5";
    }
    void TearDown() override
    {
        if (!display().started) return;
        for (uint32_t name : textures) glDeleteTextures(1, &name);
        dispose_opengl_rasterizer_from_old_map();
        dispose_poweruser_settings();
    }

    // The pixel at (x, y) of the back buffer as 0xAARRGGBB.
    uint32_t pixel(int16_t x, int16_t y)
    {
        const rectangle2d one = {y, x, (int16_t)(y + 1), (int16_t)(x + 1)};
        bitmap_data *bitmap = copy_bits_from_opengl_render_buffer(&one);
        uint32_t value = 0;
        if (bitmap) memcpy(&value, bitmap->row_addresses[0], 4);
        free(bitmap);
        return value;
    }

    // A texture through the upload callback; its name.
    uint32_t upload(int32_t encoding, int32_t width, int32_t height, const void *pixels, uint16_t flags = 0,
                    int32_t hardware_width = 0, int32_t hardware_height = 0, int32_t row_pixels = 0)
    {
        cached_texture_data texture = {};
        texture.pixels = (void *)pixels;
        texture.adjusted_width = (uint16_t)width, texture.adjusted_height = (uint16_t)height;
        texture.hardware_width = (uint16_t)(hardware_width ? hardware_width : width);
        texture.hardware_height = (uint16_t)(hardware_height ? hardware_height : height);
        texture.encoding = (uint8_t)encoding;
        texture.flags = flags;
        texture.row_pixels = row_pixels;
        const uint32_t name = gl_handle_to_name(new_cached_texture_opengl(nullptr, nullptr, &texture));
        if (name) textures.push_back(name);
        return name;
    }

    std::vector<uint32_t> textures;
};

// ---- the probe -------------------------------------------------------------------

std::string run_probe(const char *version, const std::string &arguments)
{
    std::string command = "DISPLAY=" + display().server.display + " ASAN_OPTIONS=detect_leaks=0 ";
    if (*version) command += std::string("MESA_GL_VERSION_OVERRIDE=") + version + " ";
    command += "'" + test_programs_directory() + "/vesk_gl_probe' " + arguments + " 2>&1";
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r"))
    {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
        if (pclose(pipe) != 0) output += "\n(exit status not 0)";
    }
    return output;
}

TEST(opengl_probe, each_reported_version_gets_its_defaults_and_forcings)
{
    REQUIRE_GL();
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    ASSERT_EQ(system("mkdir -p data/preferences && printf '[Renderer.OpenGL]\\nMSAASamples=4\\n' "
                     ">data/preferences/poweruser.txt"),
              0);
    const struct
    {
        const char *version, *device, *settings;
    } cases[] = {
        {"1.5", "device: OpenGL 1.5", "UseMipMaps=0, UseNPO2Textures=0, UseShaders=0"},
        {"2.0", "device: OpenGL 2.0", "UseMipMaps=0, UseNPO2Textures=0, UseShaders=0"},
        {"2.1", "device: OpenGL 2.1", "UseMipMaps=1, UseNPO2Textures=1, UseShaders=1"},
        {"", "device: OpenGL 4.5", "UseMipMaps=1, UseNPO2Textures=1, UseShaders=1"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(*c.version ? c.version : "the driver's own");
        const std::string out = run_probe(c.version, "--data data");
        EXPECT_NE(out.find(c.device), std::string::npos) << out;
        EXPECT_NE(out.find("OpenGL 2 device " + std::string(strcmp(c.version, "1.5") ? "yes" : "no")),
                  std::string::npos)
            << out;
        // (Between the two, Xvfb's processor driver has its anisotropy forced off.)
        const size_t msaa = out.find("OpenGL: The MSAASamples option is not supported on your platform.\n");
        EXPECT_NE(msaa, std::string::npos) << "the section of --data is read: " << out;
        EXPECT_NE(out.find("OpenGL: Initialized with", msaa), std::string::npos) << out;
        EXPECT_NE(out.find(c.settings), std::string::npos) << out;
        EXPECT_EQ(out.find("(exit status not 0)"), std::string::npos) << out;
    }
}

TEST(opengl_probe, the_pattern_shows_each_encodings_colour_in_its_quad)
{
    REQUIRE_GL();
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    const std::string out = run_probe("", "--pattern gl.png");
    ASSERT_NE(out.find("pattern: "), std::string::npos) << out;
    int width = 0, height = 0, channels = 0;
    uint8_t *rgb = stbi_load("gl.png", &width, &height, &channels, 3);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(width, GL_PATTERN_WIDTH);
    EXPECT_EQ(height, GL_PATTERN_HEIGHT);
    for (int32_t encoding = _16bit_xrgb_1555_texture_encoding; encoding <= _24bit_rgb_888_texture_encoding; ++encoding)
    {
        int32_t x, y;
        gl_pattern_quad_centre(encoding, &x, &y);
        const uint8_t *p = rgb + 3 * (y * width + x);
        const uint32_t got = ((uint32_t)p[0] << 16) | ((uint32_t)p[1] << 8) | p[2];
        EXPECT_EQ(got, gl_pattern_centre_color(encoding)) << "encoding " << encoding;
        // The dark corner square sits top left: the picture is not upside down.
        const uint8_t *corner = rgb + 3 * ((y - 32) * width + (x - 32));
        EXPECT_LT(corner[0] + corner[1] + corner[2], 3 * 64) << "encoding " << encoding;
    }
    stbi_image_free(rgb);
}

// ---- device utilities ------------------------------------------------------------

TEST_F(opengl_context, the_read_back_puts_the_top_row_first)
{
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, kHeight / 2, kWidth, kHeight / 2); // OpenGL's rows run bottom-up: this is the top half
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glScissor(0, 0, kWidth, kHeight / 2);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    reset_clear_color_opengl();
    const rectangle2d straddling = {kHeight / 2 - 4, 8, kHeight / 2 + 4, 16};
    bitmap_data *bitmap = copy_bits_from_opengl_render_buffer(&straddling);
    ASSERT_NE(bitmap, nullptr);
    for (int32_t y = 0; y < 8; ++y)
    {
        uint32_t value;
        memcpy(&value, bitmap->row_addresses[0] + y * bitmap->bytes_per_row, 4);
        EXPECT_EQ(value & 0xFFFFFF, y < 4 ? 0xFF0000u : 0x0000FFu) << "row " << y;
    }
    free(bitmap);
}

TEST_F(opengl_context, the_clear_colour_of_the_section_clears_to_it)
{
    const char text[] = "[Renderer.OpenGL]\nClearColor=16711680\n";
    ASSERT_TRUE(load_poweruser_settings_from_buffer(text, sizeof(text) - 1));
    dispose_opengl_rasterizer_from_old_map();
    ASSERT_TRUE(initialize_opengl_rasterizer_for_new_map());
    EXPECT_EQ(gl_prefs.ClearColor, 0xFF0000);
    set_clear_color_opengl((uint32_t)gl_prefs.ClearColor);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(pixel(10, 10) & 0xFFFFFF, 0xFF0000u);
    clear_opengl_backbuffer();
    EXPECT_EQ(pixel(10, 10) & 0xFFFFFF, 0u) << "the back-buffer clear is black";
}

// ---- shader programs -------------------------------------------------------------

TEST_F(opengl_context, every_generated_program_compiles_and_links_with_and_without_fog_and_blending)
{
    for (bool fog : {false, true})
        for (bool blending : {false, true})
        {
            SCOPED_TRACE(std::string(fog ? "fog" : "no fog") + (blending ? ", lightmap blending" : ""));
            dispose_opengl_rasterizer_from_old_map();
            ASSERT_TRUE(initialize_opengl_rasterizer_for_new_map());
            gl_prefs.UseLightmapBlendingShader = blending;
            mesh_header mesh = {};
            mesh.fog_density = fog ? 0.002f : 0.0f;
            mesh.transition_point = 40000, mesh.dark_fraction = 100, mesh.light_fraction = 60;
            initialize_opengl_fog_for_map(&mesh);
            EXPECT_EQ(opengl_fog_can_be_enabled(), fog);
            ASSERT_TRUE(initialize_shader_programs_opengl2(true));
            EXPECT_EQ(shader_program_count(), 9);
            for (int32_t mode = _shader_first_opengl2; mode < NUMBER_OF_SHADER_MODES; ++mode)
            {
                GLint linked = 0;
                glGetProgramiv(shaders[mode].program, GL_LINK_STATUS, &linked);
                EXPECT_EQ(linked, 1) << "mode " << mode;
            }
        }
}

struct quad_vertex_values
{
    uint8_t color[4]; // r, g, b, a
    uint8_t tint[4]; // k, p, q, r
};

// A program of `mode` built from `parameters`, drawn over the whole window
// with 1x1 textures (so every coordinate samples the one texel).
uint32_t draw_generated(int32_t mode, const shader_build_parameters &parameters, const quad_vertex_values &values,
                        const std::vector<uint32_t> &texture_names, int16_t z = 0)
{
    std::vector<std::string> vertex_lines, fragment_lines;
    build_shader_text(mode, &parameters, &vertex_lines, &fragment_lines);
    auto compile = [](GLenum kind, const std::vector<std::string> &lines) {
        std::vector<const char *> sources;
        for (const std::string &line : lines) sources.push_back(line.c_str());
        const GLuint shader = glCreateShader(kind);
        glShaderSource(shader, (GLsizei)sources.size(), sources.data(), nullptr);
        glCompileShader(shader);
        return shader;
    };
    const GLuint vs = compile(GL_VERTEX_SHADER, vertex_lines), fs = compile(GL_FRAGMENT_SHADER, fragment_lines);
    const GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glBindAttribLocation(program, 6, "in_tint_kpqr");
    EXPECT_TRUE(link_program_opengl(program, vs, fs));
    glUseProgram(program);
    for (size_t i = 0; i < texture_names.size(); ++i)
    {
        const std::string name = "texture" + std::to_string(i);
        glUniform1i(glGetUniformLocation(program, name.c_str()), (GLint)i);
        glActiveTexture(GL_TEXTURE0 + (GLenum)i);
        glBindTexture(GL_TEXTURE_2D, texture_names[i]);
    }
    glActiveTexture(GL_TEXTURE0);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    const int32_t corners[6][2] = {{-512, -512}, {512, -512}, {512, 512}, {-512, -512}, {512, 512}, {-512, 512}};
    for (int32_t i = 0; i < 6; ++i)
    {
        rendervert_t *v = &render_verts[i];
        memset(v, 0, sizeof(*v));
        v->position[0] = corners[i][0], v->position[1] = corners[i][1], v->position[2] = z, v->position[3] = 512;
        memcpy(v->color, values.color, 4);
        memcpy(v->tint, values.tint, 4);
    }
    glClientActiveTexture(GL_TEXTURE0);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableVertexAttribArray(6);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glDisableVertexAttribArray(6);
    glUseProgram(0);
    glDeleteProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    const rectangle2d one = {kHeight / 2, kWidth / 2, kHeight / 2 + 1, kWidth / 2 + 1};
    bitmap_data *bitmap = copy_bits_from_opengl_render_buffer(&one);
    uint32_t value = 0;
    if (bitmap) memcpy(&value, bitmap->row_addresses[0], 4);
    free(bitmap);
    return value;
}

void expect_rgb_near(uint32_t got, const double expected[3], int32_t tolerance, const char *what)
{
    const int32_t channel[3] = {(int32_t)(got >> 16) & 255, (int32_t)(got >> 8) & 255, (int32_t)got & 255};
    for (int32_t i = 0; i < 3; ++i)
    {
        const double clamped = expected[i] < 0 ? 0 : expected[i] > 1 ? 1 : expected[i];
        EXPECT_NEAR(channel[i], clamped * 255.0, tolerance + 0.5) << what << ", channel " << i;
    }
}

double unit(uint8_t byte) { return byte / 255.0; }

TEST_F(opengl_context, the_shaders_compute_tint_lightmap_fog_and_detail_as_the_formulas_say)
{
    auto texel = [&](uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        const uint32_t argb = ((uint32_t)a << 24) | ((uint32_t)r << 16) | ((uint32_t)g << 8) | b;
        return upload(_32bit_argb_8888_texture_encoding, 1, 1, &argb);
    };
    shader_build_parameters parameters = {};

    // Tint: the colour scaled by the vertex alpha, then k x rgb + alpha x (p, q, r) + (L . rgb) x vertex rgb.
    {
        const uint8_t t[4] = {200, 100, 50, 255};
        const quad_vertex_values v = {{51, 102, 153, 204}, {128, 26, 51, 13}};
        const double a = unit(v.color[3]);
        const double c[4] = {unit(t[0]) * a, unit(t[1]) * a, unit(t[2]) * a, unit(t[3]) * a};
        const double l = 0.4 * c[0] + 0.6 * c[1] + 0.2 * c[2];
        double expected[3];
        for (int32_t i = 0; i < 3; ++i)
            expected[i] = c[i] * unit(v.tint[0]) + c[3] * unit(v.tint[1 + i]) + l * unit(v.color[i]);
        expect_rgb_near(draw_generated(_shader_world_texture, parameters, v, {texel(t[0], t[1], t[2], t[3])}),
                        expected, 1, "tint");
    }

    // Lightmap blending: darker below the transition point, lighter above.
    {
        parameters.lightmap_blending = true;
        parameters.dark_color[2] = 32768; // (0, 0, 0.5)
        parameters.light_color[0] = parameters.light_color[1] = 65535; // (1.000, 1.000, 0) as printed
        parameters.transition_point = 32768;
        parameters.dark_fraction = parameters.light_fraction = 128; // scales 1 and -1
        const double dark[3] = {0, 0, 0.5}, light[3] = {1, 1, 0};
        for (uint8_t shade : {64, 191})
        {
            const double s = unit(shade), below = s <= 0.5;
            const double alpha = (below ? 1.0 : -1.0) * (0.5 - s);
            const uint8_t base[3] = {100, 150, 200};
            double expected[3];
            for (int32_t i = 0; i < 3; ++i)
                expected[i] = unit(base[i]) + ((below ? dark[i] : light[i]) - unit(base[i])) * alpha;
            const quad_vertex_values v = {{255, 255, 255, 255}, {0, 0, 0, 0}};
            expect_rgb_near(draw_generated(_shader_mesh_0, parameters, v, {texel(base[0], base[1], base[2], shade)}),
                            expected, 1, below ? "lightmap below" : "lightmap above");
        }
        parameters.lightmap_blending = false;
    }

    // Fog: exp(-density x depth) at the window depth 0.5 of z 0, toward the fog colour.
    {
        parameters.fog = true;
        const GLfloat blue[4] = {0, 0, 1, 1};
        glFogfv(GL_FOG_COLOR, blue);
        glFogf(GL_FOG_DENSITY, 2.0f);
        const double f = std::exp(-2.0 * 0.5);
        const double expected[3] = {f, f, 1.0};
        const quad_vertex_values v = {{0, 0, 0, 255}, {255, 0, 0, 0}};
        expect_rgb_near(draw_generated(_shader_world_texture, parameters, v, {texel(255, 255, 255, 255)}), expected, 2,
                        "fog");
        parameters.fog = false;
    }

    // Two detail layers weighted by the vertex's red and green.
    {
        const uint8_t base[3] = {128, 128, 128}, d1[3] = {191, 128, 64}, d2[3] = {128, 200, 128};
        const std::vector<uint32_t> names = {texel(base[0], base[1], base[2], 255), texel(d1[0], d1[1], d1[2], 255),
                                             texel(d2[0], d2[1], d2[2], 255)};
        for (int32_t layer : {1, 2})
        {
            const quad_vertex_values v = {{(uint8_t)(layer == 1 ? 255 : 0), (uint8_t)(layer == 2 ? 255 : 0), 0, 255},
                                          {0, 0, 0, 0}};
            const uint8_t *detail = layer == 1 ? d1 : d2;
            double expected[3];
            for (int32_t i = 0; i < 3; ++i) expected[i] = unit(base[i]) * (1.0 + 2.0 * unit(detail[i]) - 1.0);
            expect_rgb_near(draw_generated(_shader_mesh_2, parameters, v, names), expected, 1,
                            layer == 1 ? "detail layer 1" : "detail layer 2");
        }
    }
}

// ---- uploads ---------------------------------------------------------------------

// 8-bit channels of a texel as the encoding holds it, expanded the usual way
// (5 bits: x << 3 | x >> 2; 4 bits: x x 17), as 0xAARRGGBB.
uint32_t expand_texel(int32_t encoding, const uint8_t *texel)
{
    uint16_t w;
    uint32_t q;
    auto five = [](uint32_t x) { return (x << 3) | (x >> 2); };
    switch (encoding)
    {
    case _16bit_xrgb_1555_texture_encoding:
    case _16bit_argb_1555_texture_encoding:
        memcpy(&w, texel, 2);
        return ((encoding == _16bit_xrgb_1555_texture_encoding || (w & 0x8000)) ? 0xFF000000u : 0) |
               five((w >> 10) & 31) << 16 | five((w >> 5) & 31) << 8 | five(w & 31);
    case _16bit_argb_4444_texture_encoding:
        memcpy(&w, texel, 2);
        return ((w >> 12) & 15) * 17u << 24 | ((w >> 8) & 15) * 17u << 16 | ((w >> 4) & 15) * 17u << 8 | (w & 15) * 17u;
    case _32bit_xrgb_8888_texture_encoding:
        memcpy(&q, texel, 4);
        return q | 0xFF000000u;
    case _32bit_argb_8888_texture_encoding: memcpy(&q, texel, 4); return q;
    default: return 0xFF000000u | (uint32_t)texel[0] << 16 | (uint32_t)texel[1] << 8 | texel[2];
    }
}

std::vector<uint32_t> read_texture(uint32_t name, int32_t level, int32_t *width, int32_t *height)
{
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, height);
    std::vector<uint32_t> texels((size_t)(*width * *height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (!texels.empty()) glGetTexImage(GL_TEXTURE_2D, level, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels.data());
    return texels;
}

std::vector<uint8_t> random_texels(int32_t encoding, int32_t count, uint32_t seed)
{
    std::vector<uint8_t> texels((size_t)(count * texel_bytes(encoding)));
    for (uint8_t &byte : texels) byte = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
    return texels;
}

TEST_F(opengl_context, every_encoding_uploads_to_the_texels_it_describes)
{
    for (int32_t encoding = _16bit_xrgb_1555_texture_encoding; encoding <= _24bit_rgb_888_texture_encoding; ++encoding)
    {
        SCOPED_TRACE("encoding " + std::to_string(encoding));
        const std::vector<uint8_t> texels = random_texels(encoding, 16, (uint32_t)encoding);
        const uint32_t name = upload(encoding, 4, 4, texels.data());
        ASSERT_NE(name, 0u);
        int32_t width, height;
        const std::vector<uint32_t> back = read_texture(name, 0, &width, &height);
        ASSERT_EQ(width * height, 16);
        for (int32_t i = 0; i < 16; ++i)
            EXPECT_EQ(back[i], expand_texel(encoding, &texels[(size_t)(i * texel_bytes(encoding))])) << "texel " << i;
    }
}

TEST_F(opengl_context, a_bitmap_smaller_than_its_texture_fills_the_top_left_and_a_window_reads_its_rows)
{
    // A cache of this back end without NPO2 textures pads 100 x 60 to 128 x 64.
    dispose_texture_cache_from_old_map();
    ASSERT_TRUE(initialize_texture_cache_for_new_map(nullptr, new_cached_texture_opengl, update_cached_texture_opengl,
                                                     delete_cached_texture_opengl, true, false, false, 1 << 24));
    const int32_t encoding = _32bit_argb_8888_texture_encoding;
    const std::vector<uint8_t> block = random_texels(encoding, 100 * 60, 7);
    test_bitmap bitmap = make_flat_test_bitmap(100, 60, 0, (int16_t)encoding, 4, block);
    cached_texture_descriptor request;
    initialize_cached_texture_descriptor(&request, 0, bitmap.get(), nullptr, nullptr, 0);
    const cached_texture_data *texture = texture_cache_lookup(&request);
    ASSERT_NE(texture, nullptr);
    const uint32_t padded = gl_handle_to_name(texture->user_data);
    int32_t width, height;
    std::vector<uint32_t> back = read_texture(padded, 0, &width, &height);
    ASSERT_EQ(width, 128);
    ASSERT_EQ(height, 64);
    for (int32_t y = 0; y < 60; y += 7)
        for (int32_t x = 0; x < 100; x += 9)
            EXPECT_EQ(back[(size_t)(y * 128 + x)], expand_texel(encoding, &block[(size_t)((y * 100 + x) * 4)]));

    // An 8 x 4 window at (4, 2) of rows 16 texels long.
    const std::vector<uint8_t> rows = random_texels(encoding, 16 * 8, 9);
    const uint32_t window = upload(encoding, 8, 4, &rows[(2 * 16 + 4) * 4], 0, 0, 0, 16);
    back = read_texture(window, 0, &width, &height);
    ASSERT_EQ(width * height, 32);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x)
            EXPECT_EQ(back[(size_t)(y * 8 + x)], expand_texel(encoding, &rows[(size_t)(((y + 2) * 16 + x + 4) * 4)]));
    GLint row_length = -1;
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &row_length);
    EXPECT_EQ(row_length, 0) << "set back after the upload";
}

TEST_F(opengl_context, mipmaps_come_from_the_driver_or_from_the_scaling_fallback)
{
    const std::vector<uint8_t> square = random_texels(_32bit_argb_8888_texture_encoding, 64 * 64, 3);
    const uint32_t driver = upload(_32bit_argb_8888_texture_encoding, 64, 64, square.data(), _texture_mipmaps_flag);
    int32_t width, height;
    read_texture(driver, 6, &width, &height);
    EXPECT_EQ(width, 1) << "level 6 of 64 x 64";

    const PFNGLGENERATEMIPMAPPROC generate = gl.GenerateMipmap;
    gl.GenerateMipmap = nullptr;
    const std::vector<uint8_t> detail = random_texels(_24bit_rgb_888_texture_encoding, 100 * 60, 5);
    const uint32_t scaled = upload(_24bit_rgb_888_texture_encoding, 100, 60, detail.data(), _texture_mipmaps_flag);
    gl.GenerateMipmap = generate;
    read_texture(scaled, 0, &width, &height);
    EXPECT_GT(width, 0);
    int32_t levels = 0, w = width, h = height;
    while (w > 0 && h > 0 && levels < 16) read_texture(scaled, ++levels, &w, &h);
    EXPECT_GE(levels, 7) << "a whole chain from " << width << " x " << height;
}

TEST_F(opengl_context, repeat_wins_over_clamp_to_border)
{
    const uint32_t texel = 0xFFFFFFFF;
    const struct
    {
        uint16_t flags;
        GLint wrap;
    } cases[] = {
        {_texture_repeat_flag | _texture_clamp_to_border_flag, GL_REPEAT},
        {_texture_clamp_to_border_flag, GL_CLAMP_TO_BORDER},
        {0, GL_CLAMP_TO_EDGE},
    };
    for (const auto &c : cases)
    {
        const uint32_t name = upload(_32bit_argb_8888_texture_encoding, 1, 1, &texel, c.flags);
        glBindTexture(GL_TEXTURE_2D, name);
        GLint wrap_s = 0, wrap_t = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap_s);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap_t);
        EXPECT_EQ(wrap_s, c.wrap) << c.flags;
        EXPECT_EQ(wrap_t, c.wrap) << c.flags;
    }
}

// ---- map life --------------------------------------------------------------------

TEST_F(opengl_context, map_cycles_leave_no_gl_object_alive_and_switching_modes_turns_units_off)
{
    initialize_mesh();
    mesh_header mesh = test_mesh_header(64, 64);
    mesh.fog_density = 0.001f;
    ASSERT_TRUE(load_test_mesh(mesh));
    ASSERT_TRUE(gl_prefs.UseCMapTiles) << "a 64 MiB cache on llvmpipe";
    const test_shading_table shades = make_test_shading_table(5);
    std::mt19937 random(44);
    for (int32_t cycle = 0; cycle < 3; ++cycle)
    {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        dispose_opengl_rasterizer_from_old_map();
        ASSERT_TRUE(initialize_opengl_rasterizer_for_new_map());
        // The glyph atlas is resident from the map's start, read where the
        // text layer keeps it.
        const preallocated_texture *font = opengl_font_texture();
        ASSERT_TRUE(font && font->texture && get_hardware_font());
        EXPECT_EQ(font->bitmap, get_hardware_font()->bitmap);
        EXPECT_EQ(font->texture->flags & ~_texture_pixels_persistent_flag, 0);
        const GLuint font_name = gl_handle_to_name(font->user_data);
        const int64_t font_charge = texture_memory_size(font->texture);
        EXPECT_EQ(texture_cache_memory_use(), font_charge);

        initialize_opengl_mesh_parameters_for_new_map();
        ASSERT_TRUE(opengl_fog_can_be_enabled());
        ASSERT_EQ(shader_program_count(), NUMBER_OF_SHADER_MODES - _shader_first_opengl2);
        EXPECT_EQ(global_maps_mode, _maps_mode_tiles);
        EXPECT_NE(terrain_maps_globals.mesh_tiles, nullptr);
        EXPECT_TRUE(terrain_maps_globals.shade16 && terrain_maps_globals.shade32);
        std::vector<GLuint> programs;
        for (int32_t mode = _shader_first_opengl2; mode < NUMBER_OF_SHADER_MODES; ++mode)
            programs.push_back(shaders[mode].program);

        // At map start a resident texture whose bitmap the cache takes over;
        // during the map a masked sprite converted through a shading table
        // and a texture handed its bitmap's own rows.
        bitmap_data *detail = new_bitmap(64, 64, 0, _24bit_rgb_888_texture_encoding, 0);
        ASSERT_NE(detail, nullptr);
        memset(detail->row_addresses[0], 0x80, 64 * 64 * 3);
        const preallocated_texture *resident = texture_cache_initialize_preallocated(
            nullptr, detail, _bitmap_ownership_by_api, nullptr, _texture_mipmaps_flag | _texture_repeat_flag);
        ASSERT_TRUE(resident && resident->texture);
        test_bitmap sprite = make_random_indexed_bitmap(random, 40, 30, _1bit_transparency_encoded_flag);
        cached_texture_descriptor sprite_request;
        initialize_cached_texture_descriptor(&sprite_request, 0, sprite.get(), nullptr, shades.shade32,
                                             _texture_border_flag | _texture_premultiply_flag);
        const cached_texture_data *converted = texture_cache_lookup(&sprite_request);
        ASSERT_NE(converted, nullptr);
        EXPECT_EQ(converted->encoding, _32bit_argb_8888_texture_encoding);
        bitmap_data *white = new_bitmap(1, 1, 0, _32bit_argb_8888_texture_encoding, 0);
        ASSERT_NE(white, nullptr);
        memset(white->row_addresses[0], 0xFF, 4);
        cached_texture_descriptor white_request;
        initialize_cached_texture_descriptor(&white_request, 0, white, nullptr, nullptr, 0);
        const cached_texture_data *plain = texture_cache_lookup(&white_request);
        ASSERT_NE(plain, nullptr);
        EXPECT_TRUE(plain->passthrough_encoding);

        // The terrain's colour map is resident too: one page of tiles.
        const preallocated_texture *cmap = volatile_cmap_texture_opengl();
        ASSERT_TRUE(cmap && cmap->texture);
        EXPECT_EQ(volatile_cmap_texture_width(), TILED_CMAP_TEXTURE_WIDTH);
        const GLuint names[] = {gl_handle_to_name(resident->user_data), gl_handle_to_name(converted->user_data),
                                gl_handle_to_name(plain->user_data), font_name, gl_handle_to_name(cmap->user_data)};
        for (GLuint name : names) EXPECT_TRUE(glIsTexture(name)) << name;
        EXPECT_EQ(texture_cache_memory_use(), font_charge + texture_memory_size(cmap->texture) +
                                                  texture_memory_size(resident->texture) +
                                                  texture_memory_size(converted) + texture_memory_size(plain));

        set_render_mode_opengl(_shader_sprite, _projection_mode_ortho, _depth_mode_full, _blend_mode_alpha);
        bind_texture_unit_opengl(0, (int32_t)names[2]);
        set_render_mode_opengl(_shader_basic_color, _projection_mode_ortho, _depth_mode_full, _blend_mode_alpha);
        glActiveTexture(GL_TEXTURE0);
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
        GLint tint_array = -1;
        glGetVertexAttribiv(6, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &tint_array);
        EXPECT_EQ(tint_array, 0);

        dispose_opengl_rasterizer_from_old_map();
        for (GLuint program : programs) EXPECT_FALSE(glIsProgram(program)) << program;
        for (GLuint name : names) EXPECT_FALSE(glIsTexture(name)) << name;
        EXPECT_FALSE(texture_cache_exists());
        EXPECT_EQ(texture_cache_memory_use(), 0);
        EXPECT_EQ(opengl_font_texture(), nullptr);
        EXPECT_EQ(volatile_cmap_texture_opengl(), nullptr);
        EXPECT_EQ(get_hardware_font(), nullptr);
        EXPECT_EQ(global_maps_mode, _maps_mode_volatile);
        EXPECT_EQ(terrain_maps_globals.mesh_tiles, nullptr);
        EXPECT_EQ(terrain_maps_globals.shade16, nullptr);
        dispose_bitmap(white);
    }
    dispose_mesh_from_old_map();
}

} // namespace

} // namespace opengl_context_test_file

// The test programs compile their files together: this file's macros end here.
#undef REQUIRE_GL
