// The interface's 2D layer and the back end's table on a real context
// (Mesa's software driver in an Xvfb of the test's own): whole bitmaps read
// back texel for texel from their tiles, uploads counted at the driver,
// translucency, stretched copies as vertices, the polygon limit, the
// routing by target, and every capability answer of the table.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/demo_data.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "support/x_server.h"

#include "bitmaps.h"
#include "cseries/log.h"
#include "gl_pattern.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/render_opengl_2d.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "hardware/hardware_rasterizers.h"
#include "hardware/texture_cache.h"
#include "hardware_rasterizer.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

const int32_t kWidth = 800, kHeight = 400;

struct gl_display
{
    own_x_server server;
    std::string why;
    screen_parameters prefs;
    bool started = false;
};
gl_display &display(void)
{
    static gl_display the_display;
    return the_display;
}

class gl_environment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        register_opengl_hooks();
        gl_display &d = display();
        if (!d.server.start(&d.why, "1024x768x24")) return;
        setenv("DISPLAY", d.server.display.c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
        unsetenv("MESA_GL_VERSION_OVERRIDE");
#if defined(__SANITIZE_ADDRESS__)
        __lsan_disable(); // the driver and SDL keep what they load
#endif
        d.prefs.texture_cache_size = 64;
        d.prefs.flags = _screen_pref_32bit_flag;
        const char *reason = nullptr;
        d.started = start_gl_pattern_context(kWidth, kHeight, &d.prefs, &reason);
        if (!d.started) d.why = reason;
    }
    void TearDown() override
    {
        gl_display &d = display();
        if (d.started) stop_gl_pattern_context();
        d.server.stop();
    }
};
const ::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new gl_environment);

// Uploads reaching the driver.
int32_t uploads = 0;
decltype(gl.TexImage2D) real_tex_image = nullptr;
decltype(gl.TexSubImage2D) real_tex_sub_image = nullptr;
void APIENTRY counting_tex_image(GLenum a, GLint b, GLint c, GLsizei d, GLsizei e, GLint f, GLenum g, GLenum h,
                                 const void *i)
{
    ++uploads;
    real_tex_image(a, b, c, d, e, f, g, h, i);
}
void APIENTRY counting_tex_sub_image(GLenum a, GLint b, GLint c, GLint d, GLsizei e, GLsizei f, GLenum g, GLenum h,
                                     const void *i)
{
    ++uploads;
    real_tex_sub_image(a, b, c, d, e, f, g, h, i);
}

// The draws of a scope, as the capture hook sees them.
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

class opengl_2d : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!display().started) SKIP_OR_FAIL_UNDER_CI("no OpenGL display: " + display().why);
        real_tex_image = gl.TexImage2D;
        real_tex_sub_image = gl.TexSubImage2D;
        gl.TexImage2D = counting_tex_image;
        gl.TexSubImage2D = counting_tex_sub_image;
        uploads = 0;
        draws.clear();
        set_vertex_capture_procedure(capture);
        flush_texture_cache();
        clear_opengl_backbuffer();
        frame = {};
        frame.record.encoding = _opengl_frame_buffer_encoding;
        frame.record.width = (int16_t)kWidth;
        frame.record.height = (int16_t)kHeight;
    }
    void TearDown() override
    {
        if (!display().started) return;
        set_vertex_capture_procedure(nullptr);
        gl.TexImage2D = real_tex_image;
        gl.TexSubImage2D = real_tex_sub_image;
        flush_texture_cache();
    }

    // The back buffer's rectangle as 0xAARRGGBB rows.
    std::vector<uint32_t> read(int16_t left, int16_t top, int16_t width, int16_t height)
    {
        const rectangle2d area = {top, left, (int16_t)(top + height), (int16_t)(left + width)};
        bitmap_data *bitmap = copy_bits_from_opengl_render_buffer(&area);
        std::vector<uint32_t> pixels((size_t)width * height);
        if (bitmap)
            for (int32_t y = 0; y < height; ++y)
                memcpy(&pixels[(size_t)y * width], bitmap->row_addresses[0] + (size_t)y * bitmap->bytes_per_row,
                       (size_t)width * 4);
        free(bitmap);
        return pixels;
    }

    // The target the screen lends for a hardware frame: no pixels.
    union
    {
        bitmap_data record;
        uint8_t bytes[sizeof(bitmap_data) + sizeof(uint8_t *)];
    } frame;
};

// A pattern with every channel varying, so a misplaced tile or a flip shows.
uint32_t pattern(int32_t x, int32_t y, int32_t seed)
{
    return (uint32_t)((x * 3 + seed) & 255) << 16 | (uint32_t)((y * 5 + seed * 7) & 255) << 8 |
           (uint32_t)(((x ^ y) + seed) & 255);
}

void fill(bitmap_data *bitmap, int32_t seed)
{
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < bitmap->width; ++x)
        {
            const uint32_t argb = pattern(x, y, seed);
            uint8_t *p = bitmap->row_addresses[0] + (size_t)y * bitmap->bytes_per_row + ((size_t)x << bitmap->pixel_upshift);
            if (bitmap->encoding == _32bit_encoding)
                memcpy(p, &argb, 4);
            else
            {
                const uint16_t v = (uint16_t)(((argb >> 19) & 31) << 10 | ((argb >> 11) & 31) << 5 | ((argb >> 3) & 31));
                memcpy(p, &v, 2);
            }
        }
}

// What `pattern` looks like after the bitmap's encoding and back to 8 bits.
uint32_t expected(int16_t encoding, uint32_t argb)
{
    if (encoding == _32bit_encoding) return argb & 0xFFFFFF;
    uint32_t out = 0;
    for (int32_t shift : {16, 8, 0})
    {
        const uint32_t five = (argb >> (shift + 3)) & 31;
        out |= ((five << 3) | (five >> 2)) << shift;
    }
    return out;
}

int32_t max_channel_difference(uint32_t a, uint32_t b)
{
    int32_t worst = 0;
    for (int32_t shift : {16, 8, 0})
    {
        const int32_t d = abs((int32_t)((a >> shift) & 255) - (int32_t)((b >> shift) & 255));
        if (d > worst) worst = d;
    }
    return worst;
}

// Where the pattern drawn at (left, top) differs by more than `tolerance`; "" when nowhere.
std::string compare(const std::vector<uint32_t> &frame, int32_t width, int32_t height, int16_t encoding,
                    int32_t seed, int32_t tolerance)
{
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            const uint32_t want = expected(encoding, pattern(x, y, seed));
            const uint32_t got = frame[(size_t)y * width + x] & 0xFFFFFF;
            if (max_channel_difference(want, got) > tolerance)
            {
                char text[96];
                snprintf(text, sizeof(text), "at %d, %d: %06x, not %06x", x, y, got, want);
                return text;
            }
        }
    return "";
}

TEST_F(opengl_2d, a_dialog_bitmap_reads_back_from_six_tiles_loaded_once_and_again_when_changed)
{
    const struct
    {
        int16_t encoding;
        int32_t tolerance;
    } cases[] = {{_32bit_encoding, 0}, {_16bit_555_encoding, 1}};
    const int16_t left = 17, top = 23, width = 600, height = 300;
    const rectangle2d at = {top, left, (int16_t)(top + height), (int16_t)(left + width)};
    for (const auto &c : cases)
    {
        SCOPED_TRACE("encoding " + std::to_string(c.encoding));
        bitmap_data *dialog = new_bitmap(width, height, 0, c.encoding, 0);
        ASSERT_NE(dialog, nullptr);
        fill(dialog, 1);
        const int32_t entries = texture_cache_entry_count();
        uploads = 0;
        draw_bitmap_opengl(dialog, &at, 0);
        EXPECT_EQ(texture_cache_entry_count() - entries, 6) << "256, 256 and 88 columns by 256 and 44 rows";
        EXPECT_EQ(uploads, 6);
        EXPECT_EQ(compare(read(left, top, width, height), width, height, c.encoding, 1, c.tolerance), "");

        uploads = 0;
        draw_bitmap_opengl(dialog, &at, 0);
        EXPECT_EQ(uploads, 0) << "an unchanged bitmap is drawn from its textures";

        fill(dialog, 2);
        dialog->flags |= _bitmap_changed_flag;
        draw_bitmap_opengl(dialog, &at, 0);
        EXPECT_EQ(uploads, 6) << "a changed bitmap is loaded again";
        EXPECT_EQ(dialog->flags & _bitmap_changed_flag, 0);
        EXPECT_EQ(compare(read(left, top, width, height), width, height, c.encoding, 2, c.tolerance), "");

        // A bitmap freed takes its tiles with it, so a bitmap made at the same
        // place (which comes without the changed mark) is loaded anew.
        dispose_bitmap(dialog);
        EXPECT_EQ(texture_cache_entry_count(), entries);
    }

    bitmap_data *dialog = new_bitmap(width, height, 0, _32bit_encoding, 0);
    ASSERT_NE(dialog, nullptr);
    fill(dialog, 3);
    draw_bitmap_opengl(dialog, &at, 0);
    // Remade in place: what dispose_bitmap tells the cache, then new pixels.
    texture_cache_forget_bitmap(dialog);
    fill(dialog, 4);
    draw_bitmap_opengl(dialog, &at, 0);
    EXPECT_EQ(compare(read(left, top, width, height), width, height, _32bit_encoding, 4, 0), "");
    dispose_bitmap(dialog);
}

TEST_F(opengl_2d, a_translucent_bitmap_blends_at_alpha_76_over_what_is_there)
{
    EXPECT_EQ(opengl_bitmap_alpha(0), 255);
    EXPECT_EQ(opengl_bitmap_alpha(45875), 76);
    EXPECT_EQ(opengl_bitmap_alpha(65535), 0);
    const uint32_t background = 0x204060, color = 0xF0C080;
    fill_rectangle_opengl(&frame.record, 0xFF000000u | background, 0, 200, 0, 100);
    bitmap_data *bar = new_bitmap(64, 32, 0, _32bit_encoding, 0);
    ASSERT_NE(bar, nullptr);
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 64; ++x) memcpy(bar->row_addresses[0] + y * bar->bytes_per_row + x * 4, &color, 4);
    const rectangle2d at = {10, 10, 42, 74};
    draw_bitmap_opengl(bar, &at, TRANSLUCENT_BAR_TRANSPARENCY_OPENGL);
    const std::vector<uint32_t> frame_pixels = read(10, 10, 64, 32);
    uint32_t blend = 0;
    for (int32_t shift : {16, 8, 0})
    {
        const int32_t s = (color >> shift) & 255, d = (background >> shift) & 255;
        blend |= (uint32_t)((s * 76 + d * (255 - 76) + 127) / 255) << shift;
    }
    int32_t worst = 0;
    for (uint32_t p : frame_pixels) worst = std::max(worst, max_channel_difference(p & 0xFFFFFF, blend));
    EXPECT_LE(worst, 1) << std::hex << frame_pixels[0] << " against " << blend;
    dispose_bitmap(bar);
}

TEST_F(opengl_2d, copies_keep_their_quad_and_cut_the_texture_at_the_source_edge)
{
    bitmap_data *source = new_bitmap(40, 30, 0, _32bit_encoding, 0);
    ASSERT_NE(source, nullptr);
    fill(source, 5);
    frame.record.x0 = 5;
    frame.record.y0 = 7;
    const struct
    {
        const char *what;
        rectangle2d source_rectangle, quad; // the quad in frame pixels
        bool through_table; // copy_bitmap_hardware: a point, no scaling
        float s_right, t_bottom; // in source pixels
    } cases[] = {
        {"stretched past the source", {0, 8, 50, 60}, {107, 205, 207, 305}, false, 40, 30},
        {"stretched inside", {2, 4, 12, 20}, {107, 205, 207, 305}, false, 20, 12},
        {"copied to a point", {0, 0, 30, 40}, {11, 8, 41, 48}, true, 40, 30},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        draws.clear();
        if (c.through_table)
        {
            const point2d point = {3, 4};
            copy_bitmap_hardware(&frame.record, source, nullptr, &c.source_rectangle, &point, 256);
        }
        else
        {
            const rectangle2d destination = {100, 200, 200, 300};
            stretch_copy_bitmap_opengl(&frame.record, source, nullptr, &c.source_rectangle, &destination, 256);
        }
        cached_texture_descriptor descriptor;
        initialize_cached_texture_descriptor(&descriptor, 0, source, nullptr, nullptr, 0);
        const cached_texture_data *texture = texture_cache_lookup(&descriptor);
        ASSERT_TRUE(texture);
        ASSERT_EQ(draws.size(), 1u);
        const std::vector<rendervert_t> &v = draws[0].vertices;
        ASSERT_EQ(v.size(), 4u);
        const int32_t xs[4] = {c.quad.left, c.quad.left, c.quad.right, c.quad.right};
        const int32_t ys[4] = {c.quad.top, c.quad.bottom, c.quad.bottom, c.quad.top};
        const float s0 = texture->u_bias + c.source_rectangle.left * texture->u_texel;
        const float s1 = texture->u_bias + c.s_right * texture->u_texel;
        const float t0 = texture->v_bias + c.source_rectangle.top * texture->v_texel;
        const float t1 = texture->v_bias + c.t_bottom * texture->v_texel;
        const float ss[4] = {s0, s0, s1, s1}, ts[4] = {t0, t1, t1, t0};
        for (int32_t i = 0; i < 4; ++i)
        {
            EXPECT_EQ(v[i].position[0], xs[i]) << i;
            EXPECT_EQ(v[i].position[1], ys[i]) << i;
            EXPECT_FLOAT_EQ(v[i].texcoord[0], ss[i]) << i;
            EXPECT_FLOAT_EQ(v[i].texcoord[1], ts[i]) << i;
            EXPECT_EQ(v[i].color[3], (65535 - 256) >> 8);
        }
        EXPECT_EQ(draws[0].state.shader_mode, _shader_basic_texture);
        EXPECT_EQ(draws[0].state.projection_mode, _projection_mode_ortho);
    }
    dispose_bitmap(source);
}

TEST_F(opengl_2d, polygons_are_triangles_or_fans_and_one_past_the_vertex_array_is_refused)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    ASSERT_TRUE(open_log_file_at("polygon_log.txt", "polygons"));
    std::vector<point2d> points(30000);
    for (size_t i = 0; i < points.size(); ++i) points[i] = {(int16_t)(i % 700), (int16_t)(i % 300)};
    const struct
    {
        int32_t count;
        uint32_t primitive; // 0: nothing drawn
    } cases[] = {{0, 0}, {3, GL_TRIANGLES}, {4, GL_TRIANGLE_FAN}, {MAXIMUM_OPENGL_POLYGON_POINTS, GL_TRIANGLE_FAN},
                 {MAXIMUM_OPENGL_POLYGON_POINTS + 1, 0}, {30000, 0}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.count);
        draws.clear();
        fill_polygon_hardware(&frame.record, 0xFF00FF00u, points.data(), (int16_t)c.count);
        if (!c.primitive)
        {
            EXPECT_TRUE(draws.empty());
            continue;
        }
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].primitive, c.primitive);
        EXPECT_EQ((int32_t)draws[0].vertices.size(), c.count);
    }
    close_log_file();
    std::ifstream log("polygon_log.txt");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("a polygon of 30000 points is not drawn"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("a polygon of 24577 points is not drawn"), std::string::npos);
}

TEST_F(opengl_2d, drawing_into_a_bitmap_that_is_not_the_frame_buffer_halts_and_draws_nothing)
{
    bitmap_data *software = new_bitmap(32, 32, 0, _32bit_encoding, 0);
    ASSERT_NE(software, nullptr);
    const point2d a = {1, 1}, b = {20, 20};
    const point2d triangle[3] = {{0, 0}, {10, 0}, {0, 10}};
    const rectangle2d area = {0, 0, 10, 10};
    {
        expected_assertions expect(5, "halt");
        draw_line_hardware(software, 0xFFFFFFFFu, &a, &b);
        fill_polygon_hardware(software, 0xFFFFFFFFu, triangle, 3);
        fill_rectangle_hardware(software, 0xFFFFFFFFu, 0, 10, 0, 10);
        copy_bitmap_hardware(software, software, nullptr, &area, &a, 0);
        stretch_copy_bitmap_hardware(software, software, nullptr, &area, &area, 0);
    }
    EXPECT_TRUE(draws.empty());
    EXPECT_EQ(uploads, 0);
    dispose_bitmap(software);
}

// ---- the table's answers (no drawing) ----------------------------------------------------------

TEST(opengl_hardware_table, every_capability_answer_for_each_code_and_device_generation)
{
    for (int16_t code = 0; code < 6; ++code)
    {
        for (bool opengl2 : {false, true})
        {
            SCOPED_TRACE("code " + std::to_string(code) + (opengl2 ? ", OpenGL 2" : ", OpenGL 1.5"));
            device_info_opengl extra = {};
            extra.opengl2_device = opengl2;
            device_info device = {};
            device.rasterizer_code = code;
            device.extra_data = &extra;
            const bool is_gl = code == _rasterizer_opengl, gl2 = is_gl && opengl2;
            bool forced = false;
            EXPECT_TRUE(rasterizer_supports_32bit(&device, &forced));
            EXPECT_TRUE(forced);
            EXPECT_EQ(rasterizer_requires_hardware_format_cache(code), code >= 1);
            EXPECT_EQ(rasterizer_supports_fog(&device), code == 3 || is_gl);
            EXPECT_EQ(rasterizer_supports_highres(&device), gl2);
            EXPECT_EQ(rasterizer_supports_vsync(&device), is_gl);
            EXPECT_EQ((opengl_device_capabilities(&device) & _rasterizer_supports_extended_zoom) != 0, gl2);
            EXPECT_EQ(rasterizer_supports_multithread_mode(&device), is_gl ? gl2 : code != 1 && code != 3);
            EXPECT_EQ(rasterizer_supports_gamma(&device),
                      (code == 0 || code == 4 || code == 5) && display_device_supports_gamma());
            EXPECT_FALSE(rasterizer_supports_direct_dialog_rasterization(&device));
        }
    }
    EXPECT_TRUE(rasterizer_supports_multithread_mode(nullptr));
    EXPECT_FALSE(rasterizer_requires_square_textures());
}

TEST(opengl_hardware_table, depths_and_the_frame_buffer_record_follow_the_active_screen)
{
    const active_color_environment saved = active_screen;
    screen_parameters prefs = {};
    active_screen.prefs = &prefs;
    const struct
    {
        int16_t code;
        uint16_t flags;
        int16_t depth, encoding;
    } cases[] = {{_rasterizer_opengl, _screen_pref_32bit_flag, 32, _32bit_encoding},
                 {_rasterizer_opengl, 0, 16, _16bit_555_encoding},
                 {_rasterizer_software, 0, -1, -1}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.code);
        active_screen.rasterizer_code = c.code;
        prefs.flags = c.flags;
        int16_t depth = 0, encoding = 0;
        {
            expected_assertions expect(c.depth < 0 ? 3 : 0, "halt");
            get_shapes_bit_depth_and_encoding_hardware(&depth, &encoding);
            EXPECT_EQ(depth, c.depth);
            EXPECT_EQ(encoding, c.encoding);
            get_shapes_bit_depth_and_encoding_hardware(nullptr, nullptr); // either may be null
            get_framebuffer_bit_depth_and_encoding_hardware(&depth, &encoding);
        }
        EXPECT_EQ(encoding, c.encoding);
        EXPECT_EQ(depth, c.depth);
    }

    union
    {
        bitmap_data record;
        uint8_t bytes[sizeof(bitmap_data) + sizeof(uint8_t *)];
    } offscreen;
    memset(&offscreen, 0xA5, sizeof(offscreen));
    active_screen.offscreen_pixels_structure = &offscreen.record;
    active_screen.rasterizer_code = _rasterizer_opengl;
    const rectangle2d bounds = {10, 20, 110, 220};
    bitmap_data *frame = initialize_render_bitmap_hardware(&bounds);
    ASSERT_EQ(frame, &offscreen.record);
    EXPECT_EQ(frame->width, 200);
    EXPECT_EQ(frame->height, 100);
    EXPECT_EQ(frame->x0, 20);
    EXPECT_EQ(frame->y0, 10);
    EXPECT_EQ(frame->flags, _no_row_address_table_flag);
    EXPECT_EQ(frame->logical_bit_depth, -1);
    EXPECT_EQ(frame->encoding, _opengl_frame_buffer_encoding);
    EXPECT_EQ(frame->bytes_per_row, 0);
    active_screen = saved;
}

} // namespace
