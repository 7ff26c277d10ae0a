// The interface's 2D layer and the back end's table on a real context
// (Mesa's software driver in an Xvfb of the test's own): whole bitmaps read
// back texel for texel from their tiles, uploads counted at the driver,
// translucency, stretched copies as vertices, the polygon limit, the
// routing by target, and every capability answer of the table.

#include "tag_files/store_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/demo_data.h"
#include "support/dialog_input_harness.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"
#include "support/gl_pattern_display.h"
#include "support/x_server.h"

#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "control_bar.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "ingame_bars.h"
#include "font_builder.h"
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
#include "shapes.h"
#include "status_bar.h"
#include "vesk/string_lists.h"

namespace opengl_2d_test_file {

namespace {

const int32_t kWidth = 800, kHeight = 400;

// The back end joined to the program; the dialog fixtures clear every
// registration, so each test joins it again when it is gone.
void join_opengl_back_end(void)
{
    if (!get_hardware_rasterizer_procedures()->draw_line) register_opengl_hooks();
}

const ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new gl_pattern_environment("1024x768x24", kWidth, kHeight, _screen_pref_32bit_flag, join_opengl_back_end));

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

// Textures made at the driver.
int32_t new_textures = 0;
decltype(gl.GenTextures) real_gen_textures = nullptr;
void APIENTRY counting_gen_textures(GLsizei n, GLuint *names)
{
    new_textures += n;
    real_gen_textures(n, names);
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

// The back buffer's rectangle as 0xAARRGGBB rows.
std::vector<uint32_t> read_back(int16_t left, int16_t top, int16_t width, int16_t height)
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

class opengl_2d : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!display().started) SKIP_OR_FAIL_UNDER_CI("no OpenGL display: " + display().why);
        join_opengl_back_end();
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
        EXPECT_EQ(compare(read_back(left, top, width, height), width, height, c.encoding, 1, c.tolerance), "");

        uploads = 0;
        draw_bitmap_opengl(dialog, &at, 0);
        EXPECT_EQ(uploads, 0) << "an unchanged bitmap is drawn from its textures";

        fill(dialog, 2);
        dialog->flags |= _bitmap_changed_flag;
        draw_bitmap_opengl(dialog, &at, 0);
        EXPECT_EQ(uploads, 6) << "a changed bitmap is loaded again";
        EXPECT_EQ(dialog->flags & _bitmap_changed_flag, 0);
        EXPECT_EQ(compare(read_back(left, top, width, height), width, height, c.encoding, 2, c.tolerance), "");

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
    EXPECT_EQ(compare(read_back(left, top, width, height), width, height, _32bit_encoding, 4, 0), "");
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
    const std::vector<uint32_t> frame_pixels = read_back(10, 10, 64, 32);
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

// ---- text ----------------------------------------------------------------------------------

// The test font, one glyph of it shaded in steps, in a store of its own.
class opengl_text : public store_fixture::store_test
{
protected:
    int32_t font = NONE;

    void SetUp() override
    {
        if (!display().started) SKIP_OR_FAIL_UNDER_CI("no OpenGL display: " + display().why);
        join_opengl_back_end();
        store_test::SetUp();
        ASSERT_TRUE(initialize_shapes());
        ASSERT_TRUE(initialize_font_definitions());
        builder_font plain = make_test_font();
        for (builder_glyph &glyph : plain.glyphs)
            if (glyph.character == 'Z')
                for (size_t i = 0; i < glyph.pixels.size(); ++i) glyph.pixels[i] = (uint8_t)(i * 37 % 256);
        const std::vector<uint8_t> data = build_font_tag_data(plain);
        write_local_tag(FONT_DEFINITION_GROUP_TAG, "test", FONT_DEFINITION_VERSION_NUMBER, data.data(),
                        (int32_t)data.size());
        const char *rows[] = {"0", "...", " ", " -", "", ".,!?)", "49"};
        std::vector<uint8_t> list(4096);
        const int32_t size = encode_string_list_data(rows, 7, list.data(), (int32_t)list.size());
        write_local_tag(STRING_LIST_GROUP_TAG, "in#1", STRING_LIST_VERSION, list.data(), size);
        start_store();
        initialize_shapes_for_new_map();
        initialize_font_definitions_for_new_map();
        font = font_tag_to_font_index(FOUR_CHARACTER_CODE('t', 'e', 's', 't'));
        ASSERT_NE(font, NONE);
        // A map's start makes the glyph atlas and its texture anew.
        dispose_opengl_rasterizer_from_old_map();
        ASSERT_TRUE(initialize_opengl_rasterizer_for_new_map());
    }
    void TearDown() override
    {
        if (!display().started) return;
        dispose_font_definitions_from_old_map();
        dispose_string_lists();
        dispose_definitions();
        store_test::TearDown();
    }
};

// The frames' tolerance: after a 2 x 2 box average, a mean absolute
// difference of at most 6/255 and at least 99% of the pixels within 32/255 on
// every channel.
struct frame_difference
{
    double mean; // of every channel, in 1/255
    double within; // fraction of the pixels within 32 on every channel
};
frame_difference compare_frames(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b, int32_t width,
                                int32_t height)
{
    double total = 0;
    int64_t count = 0, close = 0;
    for (int32_t y = 0; y + 1 < height; y += 2)
        for (int32_t x = 0; x + 1 < width; x += 2)
        {
            bool near = true;
            for (int32_t shift : {16, 8, 0})
            {
                int32_t sa = 0, sb = 0;
                for (int32_t k = 0; k < 4; ++k)
                {
                    const size_t at = (size_t)(y + k / 2) * width + x + k % 2;
                    sa += (a[at] >> shift) & 255;
                    sb += (b[at] >> shift) & 255;
                }
                const double d = std::abs(sa - sb) / 4.0;
                total += d;
                if (d > 32) near = false;
            }
            ++count;
            if (near) ++close;
        }
    return {count ? total / (count * 3) : 0, count ? (double)close / count : 1};
}

TEST_F(opengl_text, text_through_the_glyph_atlas_matches_the_software_renderers)
{
    const int16_t width = 320, height = 40;
    const rectangle2d bounds = {4, 6, height, width};
    const rgb_color background = {0x2020, 0x3030, 0x4040, 0}, ink = {0xF0F0, 0xE0E0, 0x8080, 0};
    const char *text = "Frames of ZZZ, 0123 [#!] text ZZZ";

    bitmap_data *software = new_bitmap(width, height, 0, _32bit_encoding, 0);
    ASSERT_NE(software, nullptr);
    const rectangle2d whole = {0, 0, height, width};
    fill_rectangle_clipped(software, &background, &whole, nullptr, 0, nullptr);
    draw_string(software, nullptr, &bounds, nullptr, font, NONE, &ink, text, 0, 0);
    std::vector<uint32_t> expected_pixels((size_t)width * height);
    for (int32_t y = 0; y < height; ++y)
        memcpy(&expected_pixels[(size_t)y * width], software->row_addresses[y], (size_t)width * 4);
    dispose_bitmap(software);

    union
    {
        bitmap_data record;
        uint8_t bytes[sizeof(bitmap_data) + sizeof(uint8_t *)];
    } frame = {};
    frame.record.encoding = _opengl_frame_buffer_encoding;
    frame.record.width = (int16_t)kWidth;
    frame.record.height = (int16_t)kHeight;
    clear_opengl_backbuffer();
    fill_rectangle_clipped(&frame.record, &background, &whole, nullptr, 0, nullptr);
    draw_string(&frame.record, nullptr, &bounds, nullptr, font, NONE, &ink, text, 0, 0);

    const rectangle2d area = whole;
    bitmap_data *read_back = copy_bits_from_opengl_render_buffer(&area);
    ASSERT_NE(read_back, nullptr);
    std::vector<uint32_t> drawn((size_t)width * height);
    for (int32_t y = 0; y < height; ++y)
        memcpy(&drawn[(size_t)y * width], read_back->row_addresses[0] + (size_t)y * read_back->bytes_per_row,
               (size_t)width * 4);
    free(read_back);

    const frame_difference d = compare_frames(expected_pixels, drawn, width, height);
    RecordProperty("mean_difference", std::to_string(d.mean));
    RecordProperty("within_32", std::to_string(d.within));
    EXPECT_LE(d.mean, 6.0);
    EXPECT_GE(d.within, 0.99);
    // A frame without the text would be within the tolerance too: the ink must be there.
    int64_t ink_pixels = 0;
    for (uint32_t p : drawn) ink_pixels += (p & 0xFFFFFF) != (expected_pixels[0] & 0xFFFFFF);
    EXPECT_GT(ink_pixels, 500);
}

// ---- the bars ------------------------------------------------------------------------------

// Both bars of the demo data made at the map step "bars" on the OpenGL screen.
class opengl_bars : public bar_dialogs_test
{
protected:
    active_color_environment gl_screen = {};

    void SetUp() override
    {
        if (!display().started) SKIP_OR_FAIL_UNDER_CI("no OpenGL display: " + display().why);
        gl_screen = active_screen;
        bar_dialogs_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        join_opengl_back_end();
        register_ingame_bar_hooks();
        game_->type = _game_type_local;
        local_player_index = 0;
        local_player_team_index = 0;
        game_preferences *preferences = get_game_preferences();
        preferences->flags |= _game_pref_control_bar_visible_flag | _game_pref_status_bar_visible_flag;
        preferences->flags &= ~(uint32_t)_game_pref_use_transparency_flag;
        active_screen = gl_screen;
        active_screen.screen_initialized = true;
        active_screen.encoding = _32bit_encoding;
        const map_initialize_procedure initialize = get_map_initialize_procedure(_map_bars);
        ASSERT_NE(initialize, nullptr);
        ASSERT_TRUE(initialize(nullptr));
        ASSERT_NE(get_control_bar_dialog(), nullptr);
        ASSERT_NE(get_status_bar_dialog(), nullptr);
        draws.clear();
        set_vertex_capture_procedure(capture);
    }
    void TearDown() override
    {
        if (!display().started) return;
        set_vertex_capture_procedure(nullptr);
        if (gl.TexImage2D == counting_tex_image) gl.TexImage2D = real_tex_image;
        if (gl.GenTextures == counting_gen_textures) gl.GenTextures = real_gen_textures;
        bar_dialogs_test::TearDown();
        active_screen = gl_screen;
    }
    // A map's start (which loads the driver's functions anew), its uploads counted.
    void start_map(void)
    {
        ASSERT_TRUE(initialize_hardware_rasterizer_for_new_map());
        real_tex_image = gl.TexImage2D;
        gl.TexImage2D = counting_tex_image;
        real_gen_textures = gl.GenTextures;
        gl.GenTextures = counting_gen_textures;
        uploads = new_textures = 0;
    }
    // The scene procedure's part before the scene; the view is none, so the
    // scene itself is refused.
    void scene(void)
    {
        expected_assertions expect(1, "halt");
        rasterize_scene_hardware_opengl(nullptr, nullptr);
    }
};

TEST_F(opengl_bars, a_maps_first_scene_makes_one_texture_per_bar_and_later_scenes_make_none)
{
    // (The environment's map is still started: a new start ends it first.)
    start_map();
    EXPECT_FALSE(opengl_status_bars_downloaded());
    scene();
    EXPECT_TRUE(opengl_status_bars_downloaded());
    dialog_data *status = get_status_bar_dialog();
    ASSERT_NE(status->internal_bitmap, nullptr);
    ASSERT_NE(get_control_bar_dialog()->internal_bitmap, nullptr);
    EXPECT_EQ(new_textures, 2) << "one texture per bar, however wide";
    EXPECT_EQ(uploads, 2);
    const preallocated_texture *status_texture = opengl_bar_texture(_opengl_status_bar_texture);
    ASSERT_NE(status_texture, nullptr);
    EXPECT_EQ(status_texture->bitmap, status->internal_bitmap);
    ASSERT_EQ(draws.size(), 2u) << "one quad per bar";
    EXPECT_EQ(draws[0].vertices[0].color[3], 255) << "opaque bars without the preference";

    // The status bar reads back as its bitmap, pixel for pixel.
    const bitmap_data *bitmap = status->internal_bitmap;
    ASSERT_EQ(bitmap->encoding, _32bit_encoding);
    const int16_t width = (int16_t)std::min<int32_t>(bitmap->width, kWidth);
    const std::vector<uint32_t> shown = read_back(status->bounds.left, status->bounds.top, width, bitmap->height);
    int32_t wrong = 0;
    for (int32_t y = 0; y < bitmap->height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            uint32_t want;
            memcpy(&want, bitmap->row_addresses[0] + (size_t)y * bitmap->bytes_per_row + (size_t)x * 4, 4);
            wrong += (shown[(size_t)y * width + x] & 0xFFFFFF) != (want & 0xFFFFFF);
        }
    EXPECT_EQ(wrong, 0);

    uploads = new_textures = 0;
    scene();
    EXPECT_EQ(new_textures + uploads, 0) << "the bars are made once per map";

    // Translucent bars: the frame's walk over the dialogs draws them at alpha
    // 76; a redrawn bar is loaded again into its own texture.
    get_game_preferences()->flags |= _game_pref_use_transparency_flag;
    status->internal_bitmap->flags |= _bitmap_changed_flag;
    draws.clear();
    rasterize_dialogs_hardware();
    ASSERT_FALSE(draws.empty());
    for (const captured_draw &draw : draws) EXPECT_EQ(draw.vertices[0].color[3], 76);
    EXPECT_EQ(uploads, 1);
    EXPECT_EQ(new_textures, 0);

    // A new map makes them again.
    gl.TexImage2D = real_tex_image;
    gl.GenTextures = real_gen_textures;
    dispose_hardware_rasterizer_from_old_map();
    EXPECT_EQ(opengl_bar_texture(_opengl_status_bar_texture), nullptr);
    start_map();
    EXPECT_FALSE(opengl_status_bars_downloaded());
    scene();
    EXPECT_EQ(new_textures, 2);
}

// ---- the table's answers (no drawing) ----------------------------------------------------------

TEST(opengl_hardware_table, every_capability_answer_for_each_code_and_device_generation)
{
    join_opengl_back_end();
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
    join_opengl_back_end();
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

} // namespace opengl_2d_test_file
